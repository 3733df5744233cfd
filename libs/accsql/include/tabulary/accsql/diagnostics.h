// Parse diagnostics: what went wrong, where, rendered as
// "Syntax error near 'X' at line L, column C: ..." or, when the text ends
// too early, "Syntax error: incomplete input: ...".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tabulary/accsql/ast.h"
#include "tabulary/base/error.h"

namespace tab::accsql {

enum class DiagnosticKind : uint8_t {
    Syntax,       // Access would refuse the statement too
    Unsupported,  // Access accepts it, this program does not (yet)
    Limit,        // longer or deeper than Limits allows
};

struct Diagnostic {
    DiagnosticKind kind = DiagnosticKind::Syntax;
    std::string message;  // the detail, without position
    Span span;            // the offending token
    bool atEnd = false;   // the input ended where more was expected
    std::string near;     // text of the offending token (shortened)
    uint32_t line = 1;    // 1-based
    uint32_t column = 1;  // 1-based, in characters

    // The message with the position, for the user.
    std::string render() const;
    Error toError() const;
};

struct LineColumn {
    uint32_t line = 1;
    uint32_t column = 1;
};

// Position of a byte offset; columns count UTF-8 characters, a tab counts one.
LineColumn lineColumn(std::string_view sql, uint32_t offset);

Diagnostic makeDiagnostic(std::string_view sql, DiagnosticKind kind, Span span, bool atEnd,
                          std::string message);

}  // namespace tab::accsql
