#include "tabulary/accsql/diagnostics.h"

namespace tab::accsql {

LineColumn lineColumn(std::string_view sql, uint32_t offset) {
    LineColumn lc;
    const size_t end = offset < sql.size() ? offset : sql.size();
    for (size_t i = 0; i < end; ++i) {
        const auto c = static_cast<unsigned char>(sql[i]);
        if (c == '\n') {
            ++lc.line;
            lc.column = 1;
        } else if ((c & 0xC0) != 0x80) {  // continuation bytes belong to the previous character
            ++lc.column;
        }
    }
    return lc;
}

Diagnostic makeDiagnostic(std::string_view sql, DiagnosticKind kind, Span span, bool atEnd,
                          std::string message) {
    Diagnostic d;
    d.kind = kind;
    d.message = std::move(message);
    d.span = span;
    d.atEnd = atEnd;
    const LineColumn lc = lineColumn(sql, span.offset);
    d.line = lc.line;
    d.column = lc.column;
    if (!atEnd && span.offset < sql.size()) {
        size_t n = span.length;
        if (n > sql.size() - span.offset) n = sql.size() - span.offset;
        // Long tokens (strings, bracketed text) are cut; never inside a UTF-8 sequence.
        if (n > 40) {
            n = 40;
            while (n > 0 && (static_cast<unsigned char>(sql[span.offset + n]) & 0xC0) == 0x80) --n;
        }
        d.near = std::string(sql.substr(span.offset, n));
        if (n < span.length) d.near += "...";
    }
    return d;
}

std::string Diagnostic::render() const {
    std::string head;
    switch (kind) {
        case DiagnosticKind::Syntax:
            head = "Syntax error";
            break;
        case DiagnosticKind::Unsupported:
            head = "Not supported by this program";
            break;
        case DiagnosticKind::Limit:
            head = "Statement too large";
            break;
    }
    if (atEnd) return head + ": incomplete input: " + message;
    return head + " near '" + near + "' at line " + std::to_string(line) + ", column " +
           std::to_string(column) + ": " + message;
}

Error Diagnostic::toError() const {
    return Error(kind == DiagnosticKind::Unsupported ? Errc::Unsupported : Errc::InvalidArgument,
                 render());
}

}  // namespace tab::accsql
