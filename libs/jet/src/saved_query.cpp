#include "tabulary/jet/saved_query.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "internal.h"
#include "tabulary/base/case_fold.h"

namespace tab::jet {
namespace {

// MSysQueries attributes.
constexpr uint8_t kAttrType = 1, kAttrParameter = 2, kAttrOptions = 3, kAttrRemoteDb = 4,
                  kAttrTable = 5, kAttrColumn = 6, kAttrJoin = 7, kAttrWhere = 8, kAttrGroupBy = 9,
                  kAttrHaving = 10, kAttrOrderBy = 11, kAttrLast = 11;

// Flag bits of the attribute-3 row.
constexpr int kOptAllFields = 0x01, kOptDistinct = 0x02, kOptOwnerAccess = 0x04,
              kOptDistinctRow = 0x08, kOptTop = 0x10, kOptPercent = 0x20;
// Union queries reuse bit 0x02: set means UNION, clear UNION ALL.
constexpr int kOptUnionDistinct = 0x02;

// Attribute 6 and 9 in crosstab queries.
constexpr int kCrosstabPivot = 0x01, kCrosstabRowHeading = 0x02;
// Attribute 6 in append queries: the row is a VALUES item.
constexpr uint16_t kAppendValue = 0x8000;

// Access allows 32 tables per query; this only bounds recursion on damaged rows.
constexpr size_t kMaxSources = 4096;

constexpr std::string_view kUnionPart1 = "X7YZ_____1", kUnionPart2 = "X7YZ_____2";

// Empty text counts as absent: Jet3 and ACE files store empty memos where
// Jet4 stores NULL.
std::string_view text(const std::optional<std::string>& s) {
    return s ? std::string_view(*s) : std::string_view();
}

bool sameName(std::string_view a, std::string_view b) {
    return equalsIgnoringCase(a, b);
}

bool isBracketed(std::string_view s) {
    return s.size() >= 2 && s.front() == '[' && s.back() == ']';
}

// Letters of other scripts need no brackets, so bytes of UTF-8 sequences pass.
bool isNameChar(unsigned char c) {
    return c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z') || c == '_';
}

std::string quoteName(std::string_view s) {
    if (isBracketed(s)) return std::string(s);
    for (unsigned char c : s)
        if (!isNameChar(c)) return "[" + std::string(s) + "]";
    return std::string(s);
}

// "Order Details.Unit Price" -> "[Order Details].[Unit Price]"; parts already
// in brackets stay as they are.
std::string quoteDotted(std::string_view s) {
    std::string out;
    size_t start = 0;
    int depth = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i < s.size()) {
            if (s[i] == '[') ++depth;
            if (s[i] == ']' && depth > 0) --depth;
            if (s[i] != '.' || depth > 0) continue;
        }
        if (start > 0) out += '.';
        out += quoteName(s.substr(start, i - start));
        start = i + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string>& items, std::string_view sep) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += sep;
        out += items[i];
    }
    return out;
}

// Stored texts end in NUL and use CR LF; we use '\n' throughout.
std::string cleanText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += '\n';
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else {
            out += s[i];
        }
    }
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\0'; };
    size_t b = 0, e = out.size();
    while (b < e && blank(out[b])) ++b;
    while (e > b && blank(out[e - 1])) --e;
    return out.substr(b, e - b);
}

bool isCount(std::string_view s) {
    size_t digits = 0, dots = 0;
    for (char c : s) {
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.' && digits > 0 && dots == 0)
            ++dots;
        else
            return false;
    }
    return digits > 0 && s.back() != '.';
}

QueryKind kindOfTypeCode(int code) {
    switch (code) {
        case 1:
            return QueryKind::Select;
        case 2:
            return QueryKind::MakeTable;
        case 3:
            return QueryKind::Append;
        case 4:
            return QueryKind::Update;
        case 5:
            return QueryKind::Delete;
        case 6:
            return QueryKind::Crosstab;
        case 7:
            return QueryKind::DataDefinition;
        case 8:
            return QueryKind::PassThrough;
        case 9:
            return QueryKind::Union;
        default:
            return QueryKind::Unknown;
    }
}

// Parameter type codes are column type codes; the names are those Access
// writes in PARAMETERS.
const char* parameterTypeName(int code) {
    switch (code) {
        case 0:
            return "Value";
        case 1:
            return "Bit";
        case 2:
            return "Byte";
        case 3:
            return "Short";
        case 4:
            return "Long";
        case 5:
            return "Currency";
        case 6:
            return "IEEESingle";
        case 7:
            return "IEEEDouble";
        case 8:
            return "DateTime";
        case 9:
            return "Binary";
        case 10:
            return "Text";
        case 11:
            return "LongBinary";
        case 12:
            return "LongText";
        case 15:
            return "Guid";
        case 16:
            return "Decimal";
        default:
            return nullptr;
    }
}

// A FROM item: a table (or query) or a join of two items.
struct Source {
    std::string text;  // plain items: as written in FROM
    std::string key;   // plain items: alias, else name, as join rows name it
    int16_t joinType = 0;
    std::unique_ptr<Source> left, right;
    std::vector<std::string> on;

    bool isJoin() const { return joinType != 0; }
    bool contains(std::string_view name) const {
        return isJoin() ? left->contains(name) || right->contains(name) : sameName(key, name);
    }
};

const char* joinWord(int16_t type) {
    switch (type) {
        case 1:
            return " INNER JOIN ";
        case 2:
            return " LEFT JOIN ";
        case 3:
            return " RIGHT JOIN ";
        default:
            return nullptr;
    }
}

void render(const Source& s, bool topLevel, std::string& out) {
    if (!s.isJoin()) {
        out += s.text;
        return;
    }
    if (!topLevel) out += '(';
    render(*s.left, false, out);
    out += joinWord(s.joinType);
    render(*s.right, false, out);
    out += " ON ";
    out += s.on.size() > 1 ? "(" + joined(s.on, ") AND (") + ")" : s.on.front();
    if (!topLevel) out += ')';
}

class Rebuilder {
public:
    explicit Rebuilder(const CatalogObject& query) : m_query(query) {}

    Result<SavedQuery> run() {
        TAB_TRY(collect());
        TAB_ASSIGN_OR_RETURN(m_out.kind, resolveKind());
        m_out.name = m_query.name;
        TAB_TRY(readParameters());
        if (m_out.kind == QueryKind::DataDefinition || m_out.kind == QueryKind::PassThrough) {
            std::string_view stored = text(m_type->expression);
            if (stored.empty()) return bad("the type row holds no statement text");
            m_out.sql = cleanText(stored);
            return std::move(m_out);
        }
        TAB_ASSIGN_OR_RETURN(std::string body, statement());
        std::string sql;
        if (!m_out.parameters.empty()) {
            std::vector<std::string> decls;
            for (const auto& p : m_out.parameters)
                decls.push_back(quoteName(p.name) + " " + p.typeName);
            sql = "PARAMETERS " + joined(decls, ", ") + ";\n";
        }
        sql += body;
        if (options() & kOptOwnerAccess) sql += "\nWITH OWNERACCESS OPTION";
        sql += ';';
        m_out.sql = std::move(sql);
        return std::move(m_out);
    }

private:
    using Rows = std::vector<const QueryRow*>;

    Error bad(const std::string& what) const {
        return corrupt("saved query \"" + m_query.name + "\": " + what);
    }

    Status collect() {
        Rows all;
        for (const auto& r : m_query.queryRows) all.push_back(&r);
        std::stable_sort(all.begin(), all.end(), [](const QueryRow* a, const QueryRow* b) {
            return a->attribute != b->attribute ? a->attribute < b->attribute : a->order < b->order;
        });
        for (const QueryRow* r : all)
            if (r->attribute <= kAttrLast) m_rows[r->attribute].push_back(r);
        // Unknown attributes (0 and 255 frame the rows) are ignored.
        for (uint8_t a : {kAttrType, kAttrOptions, kAttrRemoteDb, kAttrWhere, kAttrHaving})
            if (m_rows[a].size() > 1)
                return bad("more than one attribute-" + std::to_string(a) + " row");
        if (m_rows[kAttrTable].size() + m_rows[kAttrJoin].size() > kMaxSources)
            return bad("too many input tables and joins");
        m_type = single(kAttrType);
        return Status::success();
    }

    const QueryRow* single(uint8_t attribute) const {
        return m_rows[attribute].empty() ? nullptr : m_rows[attribute].front();
    }
    int options() const {
        const QueryRow* r = single(kAttrOptions);
        return r ? static_cast<uint16_t>(r->flag) : 0;
    }

    // MSysObjects and the type row must agree; either may be all there is
    // (some files' select queries have no type row).
    Result<QueryKind> resolveKind() const {
        QueryKind kind = m_query.queryKind;
        if (m_type) {
            QueryKind stored = kindOfTypeCode(m_type->flag);
            if (stored == QueryKind::Unknown)
                return unsupported("saved query \"" + m_query.name + "\": query type code " +
                                   std::to_string(m_type->flag));
            if (kind == QueryKind::Unknown) return stored;
            if (stored != kind)
                return bad(std::string("the catalogue marks a ") + queryKindName(kind) +
                           " query, its type row a " + queryKindName(stored) + " query");
            return kind;
        }
        if (kind == QueryKind::Unknown) return bad("no type row and no kind in the catalogue");
        if (kind == QueryKind::MakeTable || kind == QueryKind::Append ||
            kind == QueryKind::DataDefinition || kind == QueryKind::PassThrough)
            return bad(std::string("no type row, which a ") + queryKindName(kind) + " query needs");
        return kind;
    }

    Status readParameters() {
        for (const QueryRow* r : m_rows[kAttrParameter]) {
            std::string_view name = text(r->name1);
            if (isBracketed(name)) name = name.substr(1, name.size() - 2);
            if (name.empty()) return bad("a parameter without a name");
            const char* type = parameterTypeName(r->flag);
            if (!type)
                return unsupported("saved query \"" + m_query.name + "\": parameter \"" +
                                   std::string(name) + "\" has type code " +
                                   std::to_string(r->flag));
            QueryParameter p{std::string(name), type};
            if (r->flag == 10 && r->lvExtra && *r->lvExtra > 0)
                p.typeName += " (" + std::to_string(*r->lvExtra) + ")";
            m_out.parameters.push_back(std::move(p));
        }
        return Status::success();
    }

    Result<std::string> statement() const {
        switch (m_out.kind) {
            case QueryKind::Select:
                return selectFrom(m_rows[kAttrColumn], "", false);
            case QueryKind::MakeTable:
                return makeTable();
            case QueryKind::Append:
                return append();
            case QueryKind::Update:
                return update();
            case QueryKind::Delete:
                return deleteStatement();
            case QueryKind::Crosstab:
                return crosstab();
            case QueryKind::Union:
                return unionStatement();
            default:
                return unsupported("saved query \"" + m_query.name + "\": unknown kind");
        }
    }

    // DISTINCT / DISTINCTROW / TOP n [PERCENT], each followed by a blank.
    Result<std::string> selectPrefix() const {
        int f = options();
        std::string out;
        if (f & kOptDistinct)
            out = "DISTINCT ";
        else if (f & kOptDistinctRow)
            out = "DISTINCTROW ";
        if (f & kOptTop) {
            std::string_view n = text(single(kAttrOptions)->name1);
            if (!isCount(n)) return bad("TOP without a valid count");
            out += "TOP " + std::string(n) + ((f & kOptPercent) ? " PERCENT " : " ");
        }
        return out;
    }

    Result<std::vector<std::string>> columnList(const Rows& rows) const {
        std::vector<std::string> out;
        for (const QueryRow* r : rows) {
            std::string_view expr = text(r->expression);
            if (expr.empty()) return bad("an output column without an expression");
            std::string item(expr);
            if (std::string_view alias = text(r->name1); !alias.empty())
                item += " AS " + quoteName(alias);
            out.push_back(std::move(item));
        }
        return out;
    }

    Result<std::vector<std::string>> selectColumns(const Rows& rows) const {
        TAB_ASSIGN_OR_RETURN(std::vector<std::string> cols, columnList(rows));
        if (options() & kOptAllFields) cols.push_back("*");
        return cols;
    }

    static std::string remoteIn(std::string_view path, std::string_view type) {
        if (path.empty() && type.empty()) return {};
        std::string out = " IN '";
        for (char c : path) out += c == '\'' ? std::string("''") : std::string(1, c);
        out += '\'';
        if (!type.empty()) out += " [" + std::string(type) + "]";
        return out;
    }

    // The FROM items: tables, then the joins folded in, in row order.
    Result<std::string> fromList() const {
        std::vector<std::unique_ptr<Source>> list;
        for (const QueryRow* r : m_rows[kAttrTable]) {
            std::string_view name = text(r->name1), prefix = text(r->expression),
                             alias = text(r->name2);
            auto s = std::make_unique<Source>();
            if (!prefix.empty() && !name.empty())
                s->text =
                    (isBracketed(prefix) ? std::string(prefix) : "[" + std::string(prefix) + "]") +
                    "." + quoteDotted(name);
            else if (!prefix.empty())
                s->text = "(" + std::string(prefix) + ")";
            else if (!name.empty())
                s->text = quoteDotted(name);
            else
                return bad("an input table without a name");
            if (!alias.empty()) s->text += " AS " + quoteName(alias);
            s->key = std::string(alias.empty() ? name : alias);
            list.push_back(std::move(s));
        }
        for (const QueryRow* r : m_rows[kAttrJoin]) {
            std::string_view from = text(r->name1), to = text(r->name2), on = text(r->expression);
            if (from.empty() || to.empty()) return bad("a join without both table names");
            if (on.empty()) return bad("a join without a condition");
            if (!joinWord(r->flag)) return bad("join type " + std::to_string(r->flag));
            if (sameName(from, to))
                return bad("a join of \"" + std::string(from) + "\" with itself");
            size_t fi = list.size(), ti = list.size();
            for (size_t i = 0; i < list.size(); ++i) {
                if (fi == list.size() && list[i]->contains(from)) fi = i;
                if (ti == list.size() && list[i]->contains(to)) ti = i;
            }
            if (fi < list.size() && fi == ti) {
                // Another condition of a join already made: the smallest join
                // holding both tables must be of the same type.
                Source* s = list[fi].get();
                while (true) {
                    if (s->left->contains(from) && s->left->contains(to))
                        s = s->left.get();
                    else if (s->right->contains(from) && s->right->contains(to))
                        s = s->right.get();
                    else
                        break;
                }
                if (s->joinType != r->flag)
                    return bad("conflicting join types between \"" + std::string(from) +
                               "\" and \"" + std::string(to) + "\"");
                // Later conditions first: the order Jackcess expects for its sample files.
                s->on.insert(s->on.begin(), std::string(on));
                continue;
            }
            auto take = [&](size_t i, std::string_view name) {
                if (i < list.size()) return std::move(list[i]);
                // Not among the input tables: Access would have listed it; take it as is.
                auto s = std::make_unique<Source>();
                s->text = quoteDotted(name);
                s->key = std::string(name);
                return s;
            };
            auto join = std::make_unique<Source>();
            join->joinType = r->flag;
            join->on.push_back(std::string(on));
            join->left = take(fi, from);
            join->right = take(ti, to);
            // Erase the higher index first so the lower one stays valid.
            for (size_t i : {std::max(fi, ti), std::min(fi, ti)})
                if (i < list.size()) list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
            list.push_back(std::move(join));
            if (list.size() > kMaxSources) return bad("too many input tables and joins");
        }
        std::string out;
        for (size_t i = 0; i < list.size(); ++i) {
            if (i) out += ", ";
            render(*list[i], true, out);
        }
        return out;
    }

    // FROM ... IN, WHERE, GROUP BY, HAVING and ORDER BY lines.
    Result<std::string> clauses(bool crosstab) const {
        std::string out;
        TAB_ASSIGN_OR_RETURN(std::string from, fromList());
        if (!from.empty()) {
            out += "\nFROM " + from;
            if (const QueryRow* remote = single(kAttrRemoteDb))
                out += remoteIn(text(remote->name1), text(remote->expression));
        }
        if (const QueryRow* w = single(kAttrWhere); w && !text(w->expression).empty())
            out += "\nWHERE " + std::string(text(w->expression));
        std::vector<std::string> groups;
        for (const QueryRow* r : m_rows[kAttrGroupBy]) {
            if (crosstab && !(r->flag & kCrosstabRowHeading)) continue;
            if (text(r->expression).empty()) return bad("a GROUP BY row without an expression");
            groups.emplace_back(text(r->expression));
        }
        if (!groups.empty()) out += "\nGROUP BY " + joined(groups, ", ");
        if (const QueryRow* h = single(kAttrHaving); h && !text(h->expression).empty())
            out += "\nHAVING " + std::string(text(h->expression));
        TAB_ASSIGN_OR_RETURN(std::string order, orderBy());
        return out + order;
    }

    Result<std::string> orderBy() const {
        std::vector<std::string> order;
        for (const QueryRow* r : m_rows[kAttrOrderBy]) {
            if (text(r->expression).empty()) return bad("an ORDER BY row without an expression");
            order.emplace_back(text(r->expression));
            if (sameName(text(r->name1), "D")) order.back() += " DESC";
        }
        return order.empty() ? std::string() : "\nORDER BY " + joined(order, ", ");
    }

    // SELECT [options] columns [into] + clauses, from the given column rows.
    Result<std::string> selectFrom(const Rows& columnRows, const std::string& into,
                                   bool crosstab) const {
        TAB_ASSIGN_OR_RETURN(std::string prefix, selectPrefix());
        TAB_ASSIGN_OR_RETURN(std::vector<std::string> cols, selectColumns(columnRows));
        if (cols.empty()) return bad("no output columns");
        TAB_ASSIGN_OR_RETURN(std::string rest, clauses(crosstab));
        return "SELECT " + prefix + joined(cols, ", ") + into + rest;
    }

    std::string target() const { return quoteDotted(text(m_type->name1)); }

    Result<std::string> makeTable() const {
        if (text(m_type->name1).empty()) return bad("no target table");
        return selectFrom(
            m_rows[kAttrColumn],
            " INTO " + target() + remoteIn(text(m_type->name2), text(m_type->expression)), false);
    }

    Result<std::string> append() const {
        if (text(m_type->name1).empty()) return bad("no target table");
        Rows values, selected;
        std::vector<std::string> targets;
        for (const QueryRow* r : m_rows[kAttrColumn]) {
            ((static_cast<uint16_t>(r->flag) & kAppendValue) ? values : selected).push_back(r);
            if (!text(r->name2).empty()) targets.push_back(quoteDotted(text(r->name2)));
        }
        std::string out =
            "INSERT INTO " + target() + remoteIn(text(m_type->name2), text(m_type->expression));
        if (!targets.empty()) out += " (" + joined(targets, ", ") + ")";
        if (!values.empty()) {
            if (!selected.empty()) return bad("both VALUES items and selected columns");
            std::vector<std::string> items;
            for (const QueryRow* r : values) {
                if (text(r->expression).empty()) return bad("a VALUES item without an expression");
                items.emplace_back(text(r->expression));
            }
            return out + "\nVALUES (" + joined(items, ", ") + ")";
        }
        TAB_ASSIGN_OR_RETURN(std::string select, selectFrom(selected, "", false));
        return out + "\n" + select;
    }

    Result<std::string> update() const {
        TAB_ASSIGN_OR_RETURN(std::string from, fromList());
        if (from.empty()) return bad("no table to update");
        std::vector<std::string> sets;
        for (const QueryRow* r : m_rows[kAttrColumn]) {
            std::string_view field = text(r->name2), value = text(r->expression);
            if (field.empty() || value.empty()) return bad("an update row without field or value");
            sets.push_back(quoteDotted(field) + " = " + std::string(value));
        }
        if (sets.empty()) return bad("no fields to update");
        std::string out = "UPDATE ";
        if (options() & kOptDistinctRow) out += "DISTINCTROW ";
        out += from;
        if (const QueryRow* remote = single(kAttrRemoteDb))
            out += remoteIn(text(remote->name1), text(remote->expression));
        out += "\nSET " + joined(sets, ", ");
        if (const QueryRow* w = single(kAttrWhere); w && !text(w->expression).empty())
            out += "\nWHERE " + std::string(text(w->expression));
        return out;
    }

    Result<std::string> deleteStatement() const {
        TAB_ASSIGN_OR_RETURN(std::vector<std::string> cols, selectColumns(m_rows[kAttrColumn]));
        TAB_ASSIGN_OR_RETURN(std::string rest, clauses(false));
        std::string out = "DELETE";
        if (options() & kOptDistinctRow) out += " DISTINCTROW";
        if (!cols.empty()) out += " " + joined(cols, ", ");
        return out + rest;
    }

    Result<std::string> crosstab() const {
        Rows value, pivot, headings;
        for (const QueryRow* r : m_rows[kAttrColumn]) {
            if (r->flag & kCrosstabPivot) pivot.push_back(r);
            if (r->flag & kCrosstabRowHeading) headings.push_back(r);
            if (!(r->flag & (kCrosstabPivot | kCrosstabRowHeading))) value.push_back(r);
        }
        if (value.size() != 1) return bad("a crosstab needs exactly one value column");
        if (pivot.size() != 1 || text(pivot.front()->expression).empty())
            return bad("a crosstab needs exactly one column heading");
        TAB_ASSIGN_OR_RETURN(std::vector<std::string> transform, columnList(value));
        TAB_ASSIGN_OR_RETURN(std::string select, selectFrom(headings, "", true));
        return "TRANSFORM " + transform.front() + "\n" + select + "\nPIVOT " +
               std::string(text(pivot.front()->expression));
    }

    Result<std::string> unionStatement() const {
        std::array<std::string, 2> parts;
        for (size_t i = 0; i < 2; ++i) {
            std::string_view id = i == 0 ? kUnionPart1 : kUnionPart2;
            const QueryRow* found = nullptr;
            for (const QueryRow* r : m_rows[kAttrTable])
                if (text(r->name2) == id) found = r;
            if (!found) return bad("union part " + std::to_string(i + 1) + " is missing");
            parts[i] = cleanText(text(found->expression));
            if (parts[i].empty()) return bad("union part " + std::to_string(i + 1) + " is empty");
        }
        std::string out =
            parts[0] + "\nUNION " + ((options() & kOptUnionDistinct) ? "" : "ALL ") + parts[1];
        TAB_ASSIGN_OR_RETURN(std::string order, orderBy());
        return out + order;
    }

    const CatalogObject& m_query;
    std::array<Rows, kAttrLast + 1> m_rows;
    const QueryRow* m_type = nullptr;
    SavedQuery m_out;
};

}  // namespace

Result<SavedQuery> rebuildSavedQuery(const CatalogObject& query) {
    return Rebuilder(query).run();
}

}  // namespace tab::jet
