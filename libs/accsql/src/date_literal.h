// #...# date literals: the forms and rules of Access (US m/d/y first, d/m/y
// when that is no date, a leading four-digit year is y/m/d).
#pragma once

#include <string>
#include <string_view>

#include "tabulary/accsql/ast.h"

namespace tab::accsql {

// Fills out (except out.text) or returns false with a message in error.
bool parseDateLiteral(std::string_view content, DateLiteral& out, std::string& error);

}  // namespace tab::accsql
