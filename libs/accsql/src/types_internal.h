// Typing rules of Access expressions shared by the translator's parts.
#pragma once

#include "tabulary/accsql/translate.h"

namespace tab::accsql {

bool isNumeric(Type t);  // Boolean and every number type (not Date)
bool isIntegral(Type t);
bool isText(Type t);
// The wider of two numeric types by Access's widening order.
Type widerNumeric(Type a, Type b);
// The type of a column fed by values of both types (IIf, UNION, Nz).
Type commonType(Type a, Type b);

}  // namespace tab::accsql
