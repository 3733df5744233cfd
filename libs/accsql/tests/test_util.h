// Helpers shared by the parser tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tabulary/accsql/parser.h"
#include "tabulary/accsql/printer.h"

namespace tab::accsql::test {

inline std::string firstError(const ParseResult& r) {
    return r.diagnostics.empty() ? std::string("(no diagnostics)") : r.diagnostics.front().render();
}

// The expression of the single select item of "SELECT <text>".
inline const Expr* selectExpr(const ParseResult& r) {
    if (!r.ok() || !r.statement->query) return nullptr;
    const auto& t = r.statement->query->terms.front();
    if (!t.select || t.select->items.size() != 1) return nullptr;
    return t.select->items.front().expr.get();
}

}  // namespace tab::accsql::test
