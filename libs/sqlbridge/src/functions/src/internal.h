// Shared pieces of the Access function library: errors, argument coercion,
// text forms, civil dates and Unicode helpers.
#pragma once

#include <sqlite3.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tabulary/base/calendar.h"
#include "tabulary/sqlbridge/functions.h"

namespace tab::sqlbridge::detail {

enum class Category {
    DivisionByZero,
    Overflow,
    TypeMismatch,
    InvalidUseOfNull,
    InvalidCall,
    OutOfStringSpace,
    InvalidPattern,
};

// Thrown inside a function body and turned into sqlite3_result_error at the
// callback boundary; never leaves the library.
struct AccessError {
    Category category;
    std::string detail;
};

[[noreturn]] void fail(Category c, std::string detail = {});
std::string errorMessage(const AccessError& e);

// The connection-wide state every function sees.
struct State {
    FunctionOptions options;
    double now() const;
    // Rnd's 24-bit generator state; VBA starts every session at 327680.
    mutable uint32_t rndSeed = 327680;
};

// Access type named by a tag argument.
enum class Tag {
    Variant,
    Bool,
    Integer,
    Single,
    Double,
    Currency,
    Decimal,
    Date,
    Text,
    Binary,
    Guid
};
Tag parseTag(sqlite3_value* v);  // NULL or unknown -> Variant

struct Number {
    bool isInt = true;
    int64_t i = 0;
    double d = 0;
    double value() const { return isInt ? static_cast<double>(i) : d; }
};

// The sign of a number in text, in the forms CDbl takes ("(7)", "-7",
// "$-7", "- $ 7"): `s` is trimmed and left at the digits. False for a
// second sign.
bool takeNumberSign(std::string_view& s, bool& negative);
// Strict text -> number (CDbl rules, en-US); nullopt when not numeric.
std::optional<double> parseNumber(std::string_view text);
// Number from a value: nullopt for Null; text must be numeric (type
// mismatch otherwise); binary is a type mismatch.
std::optional<Number> toNumber(sqlite3_value* v);
// As toNumber but a Null raises "Invalid use of Null".
Number needNumber(sqlite3_value* v);
double bankers(double x);
// Banker's rounding to an integer inside [lo, hi], else Overflow.
int64_t roundToRange(double x, int64_t lo, int64_t hi);
int64_t needLong(sqlite3_value* v);                // Null -> Invalid use of Null
std::optional<int64_t> optLong(sqlite3_value* v);  // Null -> nullopt

// Text form by tag (the grid's form); v must not be NULL.
std::string toText(sqlite3_value* v, Tag tag);
std::string numberText(double d);  // 15 significant digits

// Civil date arithmetic on day numbers counted from 1899-12-30.
using tab::civilFromDays;
using tab::daysFromCivil;
int weekday0(int64_t dayNumber);  // 0 = Sunday
bool isLeap(int64_t y);
int daysInMonth(int64_t y, int m);
constexpr int64_t kMinDay = -657434;  // 100-01-01
constexpr int64_t kMaxDay = 2958465;  // 9999-12-31

// A serial split into its civil day number and second of the day (rounded
// to the second; for negative serials the fraction still counts
// forward from midnight); false when out of range or not finite.
struct DayTime {
    int64_t day = 0;
    int64_t second = 0;
};
bool splitSerial(double serial, DayTime& out);
double joinSerial(int64_t day, int64_t second);
// Linear seconds (monotonic) <-> serial.
double serialFromLinearSeconds(int64_t linear);

// VBA-compatible text -> date (US order for ambiguous numbers, ISO, month
// names, AM/PM, two-digit years 00-29 -> 20xx). currentYear fills in dates
// written without a year.
std::optional<double> parseDate(std::string_view text, int64_t currentYear);
// Date argument: numbers are serials, text is parsed (type mismatch),
// nullopt for Null. Range-checked (Overflow).
std::optional<DayTime> toDayTime(sqlite3_value* v, const State& st);
std::optional<double> toDateSerial(sqlite3_value* v, const State& st);
int64_t currentYear(const State& st);

// UTF-8 <-> ICU strings.
icu::UnicodeString u16(std::string_view s);
std::string utf8(const icu::UnicodeString& s);
// Simple (length-preserving) case folding, for case-insensitive search.
icu::UnicodeString foldSimple(const icu::UnicodeString& s);
UChar32 foldChar(UChar32 c);

// Windows-1252 <-> Unicode for Asc/Chr.
UChar32 cp1252ToUnicode(int code);
int unicodeToCp1252(UChar32 c);  // 63 ('?') when not in the code page

// Names for dates (en-US).
extern const char* const kMonthNames[12];
extern const char* const kDayNames[7];

// Format(value, format); see format.cpp.
struct FormatInput {
    bool isNull = false;
    bool isText = false;
    bool isDate = false;
    bool isBool = false;
    std::string text;  // text value, or the value's text form
    double number = 0;
};
std::optional<std::string> formatValue(const FormatInput& in, std::string_view fmt, int firstDay,
                                       int firstWeek, const State& st);
std::string formatDate(double serial, std::string_view fmt, int firstDay, int firstWeek);
int weekOfYear(int64_t day, int firstDay, int firstWeek);
// FormatNumber / FormatCurrency / FormatPercent core: `digits` decimals
// (half away from zero), prefix/suffix around the digits, then the sign as
// "-" or parentheses.
std::string formatFixed(double value, int digits, bool leadingDigit, bool parens, bool group,
                        std::string_view prefix, std::string_view suffix);

// Financial functions (finance.cpp); invalid arguments raise InvalidCall.
double finPmt(double rate, double nper, double pv, double fv, bool due);
double finFv(double rate, double nper, double pmt, double pv, bool due);
double finPv(double rate, double nper, double pmt, double fv, bool due);
double finNPer(double rate, double pmt, double pv, double fv, bool due);
double finIPmt(double rate, double per, double nper, double pv, double fv, bool due);
double finPPmt(double rate, double per, double nper, double pv, double fv, bool due);
double finRate(double nper, double pmt, double pv, double fv, bool due, double guess);
double finSln(double cost, double salvage, double life);
double finSyd(double cost, double salvage, double life, double period);
double finDdb(double cost, double salvage, double life, double period, double factor);

}  // namespace tab::sqlbridge::detail
