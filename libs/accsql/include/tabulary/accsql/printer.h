// Printing the syntax tree: print() gives canonical Access SQL that parses
// back to the same tree (operators fully parenthesised, keywords in upper
// case, names and literals as written, dates as #yyyy-mm-dd hh:nn:ss#);
// dump() gives a span-free S-expression for tests and tree comparison.
#pragma once

#include <string>

#include "tabulary/accsql/ast.h"

namespace tab::accsql {

std::string print(const Statement& s);
std::string print(const Expr& e);

std::string dump(const Statement& s);
std::string dump(const Expr& e);

}  // namespace tab::accsql
