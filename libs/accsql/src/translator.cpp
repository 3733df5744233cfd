// Entry points, statements, errors and saved queries; the steps of the
// translation live in the translate_*.cpp files (see translator_internal.h).
#include <algorithm>
#include <new>

#include "tabulary/accsql/diagnostics.h"
#include "tabulary/accsql/parser.h"
#include "tabulary/accsql/translate.h"
#include "translator_internal.h"

namespace tab::accsql {
namespace translation {

Translation Translator::statement(const Statement& s) {
    for (const ParamDecl& p : s.parameters) addParameter(p.name.text, p.name.text);
    QOut out;
    switch (s.kind) {
        case StatementKind::Select:
            out = query(*s.query, nullptr);
            break;
        case StatementKind::Execute:
            out = executeSaved(std::get<ExecuteStmt>(s.body));
            break;
        default:
            throw Failure{writeNotSupported(s.kind)};
    }
    if (s.paramMarkers > 0 || !m_params.empty()) missingParameters(s.paramMarkers);
    return Translation{std::move(out.sql), std::move(out.cols)};
}

QOut Translator::executeSaved(const ExecuteStmt& ex) {
    auto entry = m_catalog.find(ex.procedure.text);
    if (!entry) fail(ex.procedure.span, "Cannot find the saved query '" + ex.procedure.text + "'");
    if (entry->kind != CatalogEntry::Kind::View)
        throw Failure{Error(Errc::Unsupported, entry->reason.empty()
                                                   ? "'" + entry->name + "' is not a select query"
                                                   : entry->reason + ".")};
    return view(*entry, ex.procedure.span);
}

// Nothing supplies parameter values, so any parameter fails the statement;
// the message lists them in the order they are written.
void Translator::missingParameters(int markers) {
    std::string msg = "No value given for one or more required parameters";
    if (!m_params.empty()) {
        std::vector<size_t> order(m_params.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
            return m_paramOffsets[a] < m_paramOffsets[b];
        });
        std::vector<std::string> sorted;
        for (size_t i : order) sorted.push_back(m_params[i]);
        m_params = std::move(sorted);
        msg += ": ";
        for (size_t i = 0; i < m_params.size(); ++i) {
            if (i) msg += ", ";
            msg += m_params[i];
        }
    }
    if (markers > 0)
        msg += (m_params.empty() ? " (" : " (and ") + std::to_string(markers) + " '?' marker" +
               (markers > 1 ? "s" : "") + ")";
    throw Failure{Error(Errc::InvalidArgument, msg + ".")};
}

// ---- errors -----------------------------------------------------------

void Translator::fail(Span span, const std::string& message, Errc code) const {
    std::string where;
    if (!m_viewStack.empty()) {
        where = " (in the saved query '" + m_viewStack.back() + "')";
    } else if (span.offset <= m_text.size()) {
        LineColumn lc = lineColumn(m_text, span.offset);
        where = " at line " + std::to_string(lc.line) + ", column " + std::to_string(lc.column);
    }
    throw Failure{Error(code, message + where + ".")};
}

std::string Translator::source(Span span) const {
    if (span.offset > m_text.size()) return "";
    std::string s(m_text.substr(span.offset, span.length));
    if (s.size() > 60) s = s.substr(0, 57) + "...";
    return s;
}

// ---- saved queries ----------------------------------------------------

// A saved query is parsed and translated in place; while it is, errors name
// it instead of a position in the statement.
QOut Translator::view(const CatalogEntry& entry, Span span) {
    for (const auto& v : m_viewStack)
        if (sameName(v, entry.name))
            fail(span, "Circular reference caused by the saved query '" + entry.name + "'");
    if (m_viewStack.size() >= m_options.maxViewDepth)
        fail(span, "Saved queries are nested too deeply");
    ParseResult parsed = parse(entry.sql);
    if (!parsed.ok())
        throw Failure{Error(Errc::InvalidArgument,
                            "The saved query '" + entry.name +
                                "' cannot be read: " + parsed.diagnostics.front().render())};
    if (!returnsRows(*parsed.statement) || !parsed.statement->query)
        throw Failure{
            Error(Errc::Unsupported, "The saved query '" + entry.name + "' is not a select query")};
    std::string_view savedText = m_text;
    m_viewStack.push_back(entry.name);
    m_text = entry.sql;
    for (const ParamDecl& p : parsed.statement->parameters) addParameter(p.name.text, p.name.text);
    QOut out = query(*parsed.statement->query, nullptr);
    m_text = savedText;
    m_viewStack.pop_back();
    return out;
}

}  // namespace translation

Result<Translation> translate(const Statement& statement, std::string_view sqlText,
                              const Catalog& catalog, const TranslateOptions& options) {
    try {
        translation::Translator t(sqlText, catalog, options);
        return t.statement(statement);
    } catch (const translation::Failure& f) {
        return f.error;
    } catch (const std::bad_alloc&) {
        return Error(Errc::InvalidArgument, "The statement is too complex to run");
    }
}

Result<Translation> translateSql(std::string_view sqlText, const Catalog& catalog,
                                 const TranslateOptions& options) {
    ParseResult parsed = parse(sqlText);
    if (!parsed.ok()) return parsed.diagnostics.front().toError();
    return translate(*parsed.statement, sqlText, catalog, options);
}

}  // namespace tab::accsql
