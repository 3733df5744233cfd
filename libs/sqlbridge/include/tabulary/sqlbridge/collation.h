// ACC_TEXT: Jet's text comparison for SQLite. Case-insensitive over full
// Unicode case folding, accent-sensitive; folded strings compare in code
// point order, so the order is total and consistent.
#pragma once

#include <sqlite3.h>

#include <string_view>

#include "tabulary/base/error.h"

namespace tab::sqlbridge {

inline constexpr const char* kAccessTextCollation = "ACC_TEXT";

// <0, 0 or >0. Invalid UTF-8 compares as if each bad sequence were U+FFFD.
int compareAccessText(std::string_view a, std::string_view b);

// The same comparison by folding both strings whole through ICU, without the
// shortcuts compareAccessText takes for shared prefixes and Latin-1 text.
int compareAccessTextFolded(std::string_view a, std::string_view b);

// Registers ACC_TEXT (UTF-8) on `db`.
Status registerAccessTextCollation(sqlite3* db);

// ACC_DECIMAL: the numeric order of Decimal values, which SQLite holds as
// their text ("-12.5"); any text that is no number sorts after every
// number, in byte order.
inline constexpr const char* kAccessDecimalCollation = "ACC_DECIMAL";

// <0, 0 or >0. Numbers may carry a sign, a point and an exponent
// ("1.5e3" = "1500"); leading and trailing zeros do not count.
int compareDecimalText(std::string_view a, std::string_view b);

// Registers ACC_DECIMAL (UTF-8) on `db`.
Status registerAccessDecimalCollation(sqlite3* db);

}  // namespace tab::sqlbridge
