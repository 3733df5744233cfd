// The text of a value as the program shows and exports it (grid cells, CSV,
// the command-line export). One function, so every consumer agrees.
#pragma once

#include <string>

#include "tabulary/jet/value.h"

namespace tab::jet {

// Null -> "", Boolean -> "True"/"False", numbers as Windows prints them,
// dates as YYYY-MM-DD[ HH:MM:SS], GUIDs in braces, binary as 0x + hex,
// lists joined by "; ".
std::string valueToText(const Value& value);
void appendValueText(std::string& out, const Value& value);

// Pieces of the above, exposed for tests and for SQL conversion functions.
// Binary and GUID hex is upper-case.

// 15 significant digits for Double, 7 for Single (clamped to 1..17). NaN,
// infinities print as "NaN", "Infinity", "-Infinity"; -0 prints as "0".
std::string doubleToText(double d, int significantDigits);
std::string currencyToText(int64_t scaled);
std::string decimalToText(const Decimal& d);
// Rounded to the second. Serials outside years 100..9999 or not finite print
// as the plain number (doubleToText with 15 digits).
std::string dateTimeToText(double serial);
// Seven fraction digits when the ticks are not whole seconds. Values outside
// 0001..9999 or ticks outside one day print as the raw "days:ticks".
std::string dateTimeExtToText(int64_t days, int64_t ticks);
// Anything but 16 bytes prints as binary.
std::string guidToText(const std::string& bytes16);

// Civil date <-> Access serial helpers (days since 1899-12-30).
struct CivilDateTime {
    int year, month, day, hour, minute, second;
    int millisecond;
};
// False for NaN, infinities and values outside years 100..9999. Rounds to the
// second like the text form, so millisecond is always 0.
bool serialToCivil(double serial, CivilDateTime& out);

}  // namespace tab::jet
