#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "internal.h"
#include "tabulary/base/date_text.h"
#include "tabulary/jet/value.h"
#include "tabulary/jet/value_text.h"

namespace tab::sqlbridge::detail {

void fail(Category c, std::string detail) {
    throw AccessError{c, std::move(detail)};
}

std::string errorMessage(const AccessError& e) {
    const char* name = "";
    switch (e.category) {
        case Category::DivisionByZero:
            name = "Division by zero";
            break;
        case Category::Overflow:
            name = "Overflow";
            break;
        case Category::TypeMismatch:
            name = "Type mismatch";
            break;
        case Category::InvalidUseOfNull:
            name = "Invalid use of Null";
            break;
        case Category::InvalidCall:
            name = "Invalid procedure call or argument";
            break;
        case Category::OutOfStringSpace:
            name = "Out of string space";
            break;
        case Category::InvalidPattern:
            name = "Invalid pattern string";
            break;
    }
    std::string out = name;
    if (!e.detail.empty()) out += " (" + e.detail + ")";
    return out;
}

double State::now() const {
    return options.now ? options.now() : currentLocalSerial();
}

Tag parseTag(sqlite3_value* v) {
    if (v == nullptr || sqlite3_value_type(v) != SQLITE_TEXT) return Tag::Variant;
    const char* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
    struct Entry {
        const char* name;
        Tag tag;
    };
    static const Entry kTags[] = {
        {"bool", Tag::Bool},         {"byte", Tag::Integer},    {"int", Tag::Integer},
        {"long", Tag::Integer},      {"single", Tag::Single},   {"double", Tag::Double},
        {"currency", Tag::Currency}, {"decimal", Tag::Decimal}, {"date", Tag::Date},
        {"text", Tag::Text},         {"binary", Tag::Binary},   {"guid", Tag::Guid},
        {"variant", Tag::Variant},
    };
    for (const auto& e : kTags)
        if (sqlite3_stricmp(t, e.name) == 0) return e.tag;
    return Tag::Variant;
}

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// &H / &O literal: up to 16 bits -> Integer, up to 32 bits -> Long (two's
// complement, so &HFFFF is -1).
std::optional<double> parseRadix(std::string_view s) {
    if (s.size() < 3 || s[0] != '&') return std::nullopt;
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(s[1])));
    const int base = kind == 'H' ? 16 : kind == 'O' ? 8 : 0;
    if (base == 0) return std::nullopt;
    uint64_t v = 0;
    for (char c : s.substr(2)) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0 || digit >= base) return std::nullopt;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (v > 0xFFFFFFFFull) return std::nullopt;
    }
    if (v <= 0xFFFF) return static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(v)));
    return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(v)));
}

}  // namespace

bool takeNumberSign(std::string_view& s, bool& negative) {
    s = trim(s);
    negative = false;
    if (s.size() >= 2 && s.front() == '(' && s.back() == ')') {
        negative = true;
        s = trim(s.substr(1, s.size() - 2));
    }
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        if (negative) return false;
        negative = s[0] == '-';
        s = trim(s.substr(1));
    }
    if (!s.empty() && s[0] == '$') s = trim(s.substr(1));
    if (!s.empty() && !negative && (s[0] == '-' || s[0] == '+')) {  // "$-5"
        negative = s[0] == '-';
        s = s.substr(1);
    }
    return true;
}

std::optional<double> parseNumber(std::string_view text) {
    std::string_view s = trim(text);
    if (s.empty()) return std::nullopt;
    if (s[0] == '&') return parseRadix(s);
    bool negative = false;
    if (!takeNumberSign(s, negative)) return std::nullopt;
    std::string clean;
    bool digits = false, point = false, exponent = false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            clean.push_back(c);
        } else if (c == ',' && !point && !exponent && digits) {
            continue;  // thousands separator
        } else if (c == '.' && !point && !exponent) {
            point = true;
            clean.push_back(c);
        } else if ((c == 'e' || c == 'E' || c == 'd' || c == 'D') && digits && !exponent) {
            exponent = true;
            clean.push_back('e');
            if (i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) clean.push_back(s[++i]);
            if (i + 1 >= s.size()) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (!digits) return std::nullopt;
    double v = 0;
    auto res = std::from_chars(clean.data(), clean.data() + clean.size(), v);
    if (res.ec != std::errc() || res.ptr != clean.data() + clean.size() || !std::isfinite(v))
        return std::nullopt;
    return negative ? -v : v;
}

std::optional<Number> toNumber(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            return std::nullopt;
        case SQLITE_INTEGER:
            return Number{true, sqlite3_value_int64(v), 0};
        case SQLITE_FLOAT:
            return Number{false, 0, sqlite3_value_double(v)};
        case SQLITE_TEXT: {
            auto d = parseNumber(reinterpret_cast<const char*>(sqlite3_value_text(v)));
            if (!d) fail(Category::TypeMismatch);
            return Number{false, 0, *d};
        }
        default:
            fail(Category::TypeMismatch);
    }
}

Number needNumber(sqlite3_value* v) {
    auto n = toNumber(v);
    if (!n) fail(Category::InvalidUseOfNull);
    return *n;
}

double bankers(double x) {
    if (!std::isfinite(x)) return x;
    const double f = std::floor(x);
    const double diff = x - f;
    if (diff < 0.5) return f;
    if (diff > 0.5) return f + 1;
    return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

int64_t roundToRange(double x, int64_t lo, int64_t hi) {
    const double r = bankers(x);
    if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) fail(Category::Overflow);
    return static_cast<int64_t>(r);
}

int64_t needLong(sqlite3_value* v) {
    const Number n = needNumber(v);
    if (n.isInt) {
        if (n.i < INT32_MIN || n.i > INT32_MAX) fail(Category::Overflow);
        return n.i;
    }
    return roundToRange(n.d, INT32_MIN, INT32_MAX);
}

std::optional<int64_t> optLong(sqlite3_value* v) {
    if (sqlite3_value_type(v) == SQLITE_NULL) return std::nullopt;
    return needLong(v);
}

std::string numberText(double d) {
    return jet::doubleToText(d, 15);
}

std::string toText(sqlite3_value* v, Tag tag) {
    const int type = sqlite3_value_type(v);
    if (type == SQLITE_TEXT) return reinterpret_cast<const char*>(sqlite3_value_text(v));
    if (type == SQLITE_BLOB) {
        const char* p = static_cast<const char*>(sqlite3_value_blob(v));
        std::string bytes(p ? p : "", static_cast<size_t>(sqlite3_value_bytes(v)));
        if (tag == Tag::Guid && bytes.size() == 16) return jet::guidToText(bytes);
        return jet::valueToText(jet::Value::binary(std::move(bytes)));
    }
    if (type == SQLITE_NULL) return {};
    const double d = sqlite3_value_double(v);
    switch (tag) {
        case Tag::Bool:
            return d != 0 ? "True" : "False";
        case Tag::Single:
            return jet::doubleToText(d, 7);
        case Tag::Currency:
            // In ten-thousandths (see currency.cpp).
            if (type == SQLITE_INTEGER) return jet::currencyToText(sqlite3_value_int64(v));
            if (std::fabs(d) < 9.2e18) return jet::currencyToText(std::llround(d));
            return numberText(d / 10000);
        case Tag::Date:
            return jet::dateTimeToText(d);
        default:
            break;
    }
    if (type == SQLITE_INTEGER) return std::to_string(sqlite3_value_int64(v));
    return numberText(d);
}

// --- civil dates -----------------------------------------------------------

int weekday0(int64_t dayNumber) {
    // Day 0 (1899-12-30) was a Saturday.
    return static_cast<int>(((dayNumber + 6) % 7 + 7) % 7);
}

bool isLeap(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int64_t y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

bool splitSerial(double serial, DayTime& out) {
    if (!std::isfinite(serial)) return false;
    if (serial <= static_cast<double>(kMinDay) - 1 || serial >= static_cast<double>(kMaxDay) + 1)
        return false;
    const double day = std::trunc(serial);
    int64_t sec = std::llround(std::fabs(serial - day) * 86400.0);
    int64_t d = static_cast<int64_t>(day);
    if (sec >= 86400) {
        sec -= 86400;
        d += 1;
    }
    if (d < kMinDay || d > kMaxDay) return false;
    out.day = d;
    out.second = sec;
    return true;
}

double joinSerial(int64_t day, int64_t second) {
    const double t = static_cast<double>(second) / 86400.0;
    return day >= 0 ? static_cast<double>(day) + t : static_cast<double>(day) - t;
}

double serialFromLinearSeconds(int64_t linear) {
    int64_t day = linear / 86400;
    int64_t sec = linear % 86400;
    if (sec < 0) {
        sec += 86400;
        day -= 1;
    }
    return joinSerial(day, sec);
}

double currentLocalSerialImpl() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    const int64_t day = daysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return joinSerial(day, tm.tm_hour * 3600 + tm.tm_min * 60 + std::min(tm.tm_sec, 59));
}

const char* const kMonthNames[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};
const char* const kDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};

// One parser for every text read as a date, so that IsDate, CDate and the
// comparisons agree on what a date is.
std::optional<double> parseDate(std::string_view text, int64_t curYear) {
    DateTextFields p;
    if (parseDateText(text, DateSyntax::Text, curYear, p) != DateTextStatus::Ok)
        return std::nullopt;
    const int64_t day = p.hasDate ? daysFromCivil(p.year, p.month, p.day) : 0;
    return joinSerial(day, int64_t{p.hour} * 3600 + p.minute * 60 + p.second);
}

int64_t currentYear(const State& st) {
    DayTime dt;
    if (!splitSerial(st.now(), dt)) return 2000;
    int64_t y = 0;
    int m = 0, d = 0;
    civilFromDays(dt.day, y, m, d);
    return y;
}

std::optional<double> toDateSerial(sqlite3_value* v, const State& st) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            return std::nullopt;
        case SQLITE_INTEGER:
        case SQLITE_FLOAT: {
            const double d = sqlite3_value_double(v);
            DayTime dt;
            if (!splitSerial(d, dt)) fail(Category::Overflow, "date out of range");
            return d;
        }
        case SQLITE_TEXT: {
            auto d =
                parseDate(reinterpret_cast<const char*>(sqlite3_value_text(v)), currentYear(st));
            if (!d) fail(Category::TypeMismatch);
            return d;
        }
        default:
            fail(Category::TypeMismatch);
    }
}

std::optional<DayTime> toDayTime(sqlite3_value* v, const State& st) {
    auto s = toDateSerial(v, st);
    if (!s) return std::nullopt;
    DayTime dt;
    if (!splitSerial(*s, dt)) fail(Category::Overflow, "date out of range");
    return dt;
}

// --- Unicode -----------------------------------------------------------------

icu::UnicodeString u16(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

std::string utf8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

UChar32 foldChar(UChar32 c) {
    return u_foldCase(c, U_FOLD_CASE_DEFAULT);
}

icu::UnicodeString foldSimple(const icu::UnicodeString& s) {
    icu::UnicodeString out;
    for (int32_t i = 0; i < s.length();) {
        const UChar32 c = s.char32At(i);
        const UChar32 f = foldChar(c);
        out.append(U16_LENGTH(f) == U16_LENGTH(c) ? f : c);
        i += U16_LENGTH(c);
    }
    return out;
}

namespace {
const uint16_t k1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                            0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
}

UChar32 cp1252ToUnicode(int code) {
    if (code >= 0x80 && code <= 0x9F) return k1252[code - 0x80];
    return code;
}

int unicodeToCp1252(UChar32 c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
    for (int i = 0; i < 32; ++i)
        if (k1252[i] == c) return 0x80 + i;
    return 63;
}

}  // namespace tab::sqlbridge::detail

namespace tab::sqlbridge {
double currentLocalSerial() {
    return detail::currentLocalSerialImpl();
}
}  // namespace tab::sqlbridge
