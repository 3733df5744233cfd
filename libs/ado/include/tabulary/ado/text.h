// The engine's text rules that a front end needs, so that it never reaches
// into the reader, the SQL lexer or the SQLite layer: a value as text, a name
// as Access SQL takes it, and names in Access's order.
#pragma once

#include <string>
#include <string_view>

#include "tabulary/jet/value.h"

namespace tab::ado {

// The text a value shows: "" for Null, "True"/"False", numbers as Windows
// prints them, dates as YYYY-MM-DD[ HH:MM:SS], GUIDs in braces, binary as 0x
// and hex.
std::string valueText(const jet::Value& value);
void appendValueText(std::string& out, const jet::Value& value);

// The name as it is when Access SQL takes it bare, else in brackets.
std::string quoteName(std::string_view name);

// <0, 0 or >0 in the order Access sorts text (letter case ignored).
int compareNames(std::string_view a, std::string_view b);

}  // namespace tab::ado
