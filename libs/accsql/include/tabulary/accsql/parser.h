// The parser: one Access SQL statement (ANSI-92 mode, as through OLE DB) to a
// syntax tree, or diagnostics saying why Access would refuse it.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "tabulary/accsql/ast.h"
#include "tabulary/accsql/diagnostics.h"

namespace tab::accsql {

struct Limits {
    size_t maxSqlBytes = 1 << 20;
    uint32_t maxDepth = 200;  // nesting of parentheses, subqueries and operators
};

struct ParseResult {
    StatementPtr statement;               // set when ok()
    std::vector<Diagnostic> diagnostics;  // set when not ok()
    bool ok() const { return statement != nullptr; }
};

ParseResult parse(std::string_view sql, const Limits& limits = {});

}  // namespace tab::accsql
