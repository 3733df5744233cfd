// Access (VBA) expression functions and operator helpers as SQLite
// application-defined functions. The SQL translator emits calls to these.
//
// Naming: every function is registered as acc_<vba name in lower case>
// (acc_left, acc_datediff, acc_cstr ...); operators are acc_div (/),
// acc_idiv (\), acc_mod (Mod), acc_pow (^), acc_plus (Variant +),
// acc_concat (&) and acc_like (Like). Aggregates: acc_first, acc_last,
// acc_stdev, acc_stdevp, acc_var, acc_varp, and acc_scalar for scalar
// subqueries ((SELECT acc_scalar(x) FROM ...): the one row's value, Null for
// no row, "At most one record can be returned by this subquery." for more).
//
// The String-returning $ forms cannot be spelled with a '$' in an unquoted
// SQLite name, so they carry the suffix _s: acc_left_s (Left$), acc_right_s,
// acc_mid_s, acc_ucase_s, acc_lcase_s, acc_trim_s, acc_ltrim_s, acc_rtrim_s,
// acc_space_s, acc_string_s, acc_chr_s, acc_chrw_s, acc_str_s, acc_hex_s,
// acc_oct_s, acc_format_s. They raise "Invalid use of Null" where the plain
// form would give Null. acc_date_s() (Date$) gives "mm-dd-yyyy" and
// acc_time_s() (Time$) "hh:mm:ss".
//
// Values: Boolean -1/0 (INTEGER), numbers INTEGER or REAL, Date as REAL OLE
// serial (days since 1899-12-30), Currency and Decimal as REAL, text TEXT.
//
// Type tags. SQLite values do not remember that a REAL is a Date or that an
// INTEGER is a Yes/No value, so the functions that turn values into text take
// a tag naming the Access type: 'bool', 'byte', 'int', 'long', 'single',
// 'double', 'currency', 'decimal', 'date', 'text', 'binary', 'guid' or
// 'variant' (decide by storage class; also used for NULL or a missing tag).
// The text form is the one the grid shows (tab::jet::valueToText): Yes/No
// -> True/False, Single 7 digits, Double 15, dates YYYY-MM-DD[ HH:MM:SS].
//   acc_concat(v1, tag1, v2, tag2, ...)  & over any number of pairs: Null only
//                                        when every operand is Null
//   acc_cstr(x [, tag])                  CStr: Null -> "Invalid use of Null"
//   acc_text(x [, tag])                  implicit conversion: Null stays Null
//   acc_format(x, tag [, fmt [, firstday [, firstweek]]])  no fmt: as acc_text
//   acc_isdate(x [, tag]), acc_isnumeric(x [, tag])  a number tagged date is a date
//   acc_vartype(x [, tag]), acc_typename(x [, tag])  the tag's type (byte, int
//                                        and long told apart); Null is Null
//                                        whatever the tag; no tag: INTEGER ->
//                                        Long (Double beyond its range), REAL ->
//                                        Double, TEXT -> String, BLOB -> Byte()
// Other string functions convert a non-text argument by storage class; wrap
// a Date argument in acc_text(x, 'date') first.
//
// Rnd keeps VBA's generator state per connection (every connection starts
// VBA's fixed sequence; Randomize does not exist). Timer() is the seconds of
// FunctionOptions::now, like Now(). FormatNumber, FormatCurrency,
// FormatPercent and FormatDateTime use en-US settings: two decimals, leading
// zero, grouping, "-" for negatives (parentheses for currency).
//
// Errors are raised with sqlite3_result_error; the message starts with the
// Access category: "Division by zero", "Overflow", "Type mismatch",
// "Invalid use of Null", "Invalid procedure call or argument",
// "Out of string space", "Invalid pattern string".
#pragma once

#include <cstddef>
#include <functional>

#include "tabulary/base/error.h"

struct sqlite3;

namespace tab::sqlbridge {

struct FunctionOptions {
    // Now(), Date() and Time() call this each time they are evaluated; the
    // caller returns the value fixed at the start of the statement so that a
    // statement sees one instant. Empty: the current local time.
    std::function<double()> now;
    // Longest text a function may build (Space, String, Replace ...), in
    // UTF-8 bytes; longer results raise "Out of string space".
    std::size_t maxTextBytes = 16u << 20;
};

// Current local time as an OLE serial, whole seconds.
double currentLocalSerial();

tab::Status registerAccessFunctions(sqlite3* db, const FunctionOptions& options = {});

}  // namespace tab::sqlbridge
