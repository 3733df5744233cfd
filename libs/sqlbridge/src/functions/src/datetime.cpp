// Date and time functions (Now, Year, DateAdd, DateDiff, DatePart,
// DateSerial ...), Timer, and the SQL side of the Format family (Format,
// FormatNumber, FormatCurrency, FormatPercent, FormatDateTime, Date$,
// Time$); the formatting itself is in format.cpp.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "calls.h"

namespace tab::sqlbridge::detail {

namespace {

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

void checkDay(int64_t day, Category c = Category::Overflow) {
    if (day < kMinDay || day > kMaxDay) fail(c, "date out of range");
}

int firstDayArg(Ctx& x, int i, int deflt) {
    if (!x.has(i)) return deflt;
    int64_t v = needLong(x.arg(i));
    if (v == 0) v = 1;  // system setting: Sunday for en-US
    if (v < 1 || v > 7) fail(Category::InvalidCall, "firstdayofweek");
    return static_cast<int>(v);
}

int firstWeekArg(Ctx& x, int i) {
    if (!x.has(i)) return 1;
    int64_t v = needLong(x.arg(i));
    if (v == 0) v = 1;
    if (v < 1 || v > 3) fail(Category::InvalidCall, "firstweekofyear");
    return static_cast<int>(v);
}

enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };

Interval intervalArg(Ctx& x, int i) {
    if (x.isNull(i)) fail(Category::InvalidUseOfNull);
    const std::string s = x.utf8Arg(i);
    struct E {
        const char* code;
        Interval iv;
    };
    static const E kCodes[] = {{"yyyy", Interval::Year}, {"q", Interval::Quarter},
                               {"m", Interval::Month},   {"y", Interval::DayOfYear},
                               {"d", Interval::Day},     {"w", Interval::Weekday},
                               {"ww", Interval::Week},   {"h", Interval::Hour},
                               {"n", Interval::Minute},  {"s", Interval::Second}};
    for (const auto& e : kCodes)
        if (sqlite3_stricmp(s.c_str(), e.code) == 0) return e.iv;
    fail(Category::InvalidCall, "interval");
}

struct Civil {
    int64_t y;
    int m, d;
};
Civil civil(int64_t day) {
    Civil c{};
    civilFromDays(day, c.y, c.m, c.d);
    return c;
}

// --- dates -------------------------------------------------------------------

template <int Part>
void datePartFn(Ctx& x) {
    auto dt = toDayTime(x.arg(0), x.st);
    if (!dt) return x.resultNull();
    const Civil c = civil(dt->day);
    switch (Part) {
        case 0:
            return x.resultInt(c.y);
        case 1:
            return x.resultInt(c.m);
        case 2:
            return x.resultInt(c.d);
        case 3:
            return x.resultInt(dt->second / 3600);
        case 4:
            return x.resultInt(dt->second / 60 % 60);
        default:
            return x.resultInt(dt->second % 60);
    }
}

int64_t serialArg16(Ctx& x, int i) {
    const Number n = needNumber(x.arg(i));
    return n.isInt ? (n.i < -32768 || n.i > 32767 ? (fail(Category::Overflow), 0) : n.i)
                   : roundToRange(n.d, -32768, 32767);
}

int64_t addMonths(int64_t day, int64_t months, Category err) {
    const Civil c = civil(day);
    const int64_t total = c.y * 12 + (c.m - 1) + months;
    const int64_t ny = floorDiv(total, 12);
    const int nm = static_cast<int>(total - ny * 12) + 1;
    if (ny < 100 || ny > 9999) fail(err, "date out of range");
    return daysFromCivil(ny, nm, std::min(c.d, daysInMonth(ny, nm)));
}

void fnDateAdd(Ctx& x) {
    const Interval iv = intervalArg(x, 0);
    const Number n = needNumber(x.arg(1));
    const int64_t k = n.isInt ? n.i : roundToRange(n.d, -(int64_t{1} << 40), int64_t{1} << 40);
    if (k < -(int64_t{1} << 40) || k > (int64_t{1} << 40)) fail(Category::InvalidCall, "number");
    auto dt = toDayTime(x.arg(2), x.st);
    if (!dt) return x.resultNull();
    const Category err = Category::InvalidCall;
    int64_t day = dt->day;
    switch (iv) {
        case Interval::Year:
            day = addMonths(day, k * 12, err);
            break;
        case Interval::Quarter:
            day = addMonths(day, k * 3, err);
            break;
        case Interval::Month:
            day = addMonths(day, k, err);
            break;
        case Interval::DayOfYear:
        case Interval::Day:
        case Interval::Weekday:
            day += k;
            break;
        case Interval::Week:
            day += 7 * k;
            break;
        case Interval::Hour:
        case Interval::Minute:
        case Interval::Second: {
            const int64_t unit = iv == Interval::Hour ? 3600 : iv == Interval::Minute ? 60 : 1;
            const int64_t linear = dt->day * 86400 + dt->second + k * unit;
            const int64_t nd = floorDiv(linear, 86400);
            checkDay(nd, err);
            return x.resultReal(serialFromLinearSeconds(linear));
        }
    }
    checkDay(day, err);
    x.resultReal(joinSerial(day, dt->second));
}

void fnDateDiff(Ctx& x) {
    const Interval iv = intervalArg(x, 0);
    const int fd = firstDayArg(x, 3, 1);
    firstWeekArg(x, 4);
    auto a = toDayTime(x.arg(1), x.st);
    auto b = toDayTime(x.arg(2), x.st);
    if (!a || !b) return x.resultNull();
    const Civil ca = civil(a->day), cb = civil(b->day);
    const int64_t la = a->day * 86400 + a->second, lb = b->day * 86400 + b->second;
    switch (iv) {
        case Interval::Year:
            return x.resultInt(cb.y - ca.y);
        case Interval::Quarter:
            return x.resultInt((4 * cb.y + (cb.m - 1) / 3) - (4 * ca.y + (ca.m - 1) / 3));
        case Interval::Month:
            return x.resultInt((12 * cb.y + cb.m) - (12 * ca.y + ca.m));
        case Interval::DayOfYear:
        case Interval::Day:
            return x.resultInt(b->day - a->day);
        case Interval::Weekday:
            return x.resultInt((b->day - a->day) / 7);
        case Interval::Week: {
            const int64_t s = 1 + (fd - 1);  // day 1 (1899-12-31) was a Sunday
            return x.resultInt(floorDiv(b->day - s, 7) - floorDiv(a->day - s, 7));
        }
        case Interval::Hour:
            return x.resultInt(floorDiv(lb, 3600) - floorDiv(la, 3600));
        case Interval::Minute:
            return x.resultInt(floorDiv(lb, 60) - floorDiv(la, 60));
        case Interval::Second:
            return x.resultInt(lb - la);
    }
}

void fnDatePart(Ctx& x) {
    const Interval iv = intervalArg(x, 0);
    const int fd = firstDayArg(x, 2, 1);
    const int fw = firstWeekArg(x, 3);
    auto dt = toDayTime(x.arg(1), x.st);
    if (!dt) return x.resultNull();
    const Civil c = civil(dt->day);
    switch (iv) {
        case Interval::Year:
            return x.resultInt(c.y);
        case Interval::Quarter:
            return x.resultInt((c.m - 1) / 3 + 1);
        case Interval::Month:
            return x.resultInt(c.m);
        case Interval::DayOfYear:
            return x.resultInt(dt->day - daysFromCivil(c.y, 1, 1) + 1);
        case Interval::Day:
            return x.resultInt(c.d);
        case Interval::Weekday:
            return x.resultInt((weekday0(dt->day) - (fd - 1) + 7) % 7 + 1);
        case Interval::Week:
            return x.resultInt(weekOfYear(dt->day, fd, fw));
        case Interval::Hour:
            return x.resultInt(dt->second / 3600);
        case Interval::Minute:
            return x.resultInt(dt->second / 60 % 60);
        case Interval::Second:
            return x.resultInt(dt->second % 60);
    }
}

// Format$ returns String, so a result Format would leave Null is an error.
template <bool NullIsError>
void fnFormat(Ctx& x) {
    const Tag tag = parseTag(x.arg(1));
    FormatInput in;
    in.isNull = x.isNull(0);
    if (!in.isNull) {
        in.isText = sqlite3_value_type(x.arg(0)) == SQLITE_TEXT;
        in.isDate = tag == Tag::Date;
        in.isBool = tag == Tag::Bool;
        in.text = toText(x.arg(0), tag);
        if (!in.isText) {
            if (sqlite3_value_type(x.arg(0)) == SQLITE_BLOB) fail(Category::TypeMismatch);
            in.number = sqlite3_value_double(x.arg(0));
            if (tag == Tag::Currency) in.number /= 10000;
        }
    }
    std::string fmt;
    if (x.has(2) && !x.isNull(2)) fmt = x.utf8Arg(2);
    if (fmt.size() > 1024) fail(Category::InvalidCall, "format too long");
    const int fd = firstDayArg(x, 3, 1);
    const int fw = firstWeekArg(x, 4);
    auto out = formatValue(in, fmt, fd, fw, x.st);
    if (!out) return NullIsError ? fail(Category::InvalidUseOfNull) : x.resultNull();
    x.resultText(*out);
}

// --- FormatNumber, FormatCurrency, FormatPercent, FormatDateTime -------------

// Tristate argument: -1 True, 0 False, -2 (or omitted) the en-US default.
bool tristate(Ctx& x, int i, bool deflt) {
    if (!x.has(i)) return deflt;
    const int64_t v = needLong(x.arg(i));
    return v == -2 ? deflt : v != 0;
}

enum class FixedKind { Number, Currency, Percent };

template <FixedKind Kind>
void fnFormatFixed(Ctx& x) {
    if (x.isNull(0)) fail(Category::InvalidUseOfNull);
    double v = needNumber(x.arg(0)).value();
    int64_t digits = x.has(1) ? needLong(x.arg(1)) : -1;
    if (digits == -1) digits = 2;  // en-US regional setting
    if (digits < 0 || digits > 255) fail(Category::InvalidCall, "digits after decimal");
    const bool leading = tristate(x, 2, true);
    const bool parens = tristate(x, 3, Kind == FixedKind::Currency);
    const bool group = tristate(x, 4, true);
    if (Kind == FixedKind::Percent) v *= 100;
    if (!std::isfinite(v)) fail(Category::Overflow);
    x.resultText(formatFixed(v, static_cast<int>(digits), leading, parens, group,
                             Kind == FixedKind::Currency ? "$" : "",
                             Kind == FixedKind::Percent ? "%" : ""));
}

void fnFormatDateTime(Ctx& x) {
    if (x.isNull(0)) fail(Category::InvalidUseOfNull);
    static const char* const kNamed[] = {"c", "dddddd", "m/d/yyyy", "ttttt", "hh:nn"};
    const int64_t named = x.has(1) ? needLong(x.arg(1)) : 0;
    if (named < 0 || named > 4) fail(Category::InvalidCall, "named format");
    x.resultText(formatDate(*toDateSerial(x.arg(0), x.st), kNamed[named], 1, 1));
}

// Date$ and Time$: the statement's instant as fixed-width text.
template <bool Date>
void nowText(Ctx& x) {
    DayTime dt;
    if (!splitSerial(x.st.now(), dt)) fail(Category::Overflow, "date out of range");
    x.resultText(Date ? formatDate(joinSerial(dt.day, 0), "mm-dd-yyyy", 1, 1)
                      : formatDate(joinSerial(0, dt.second), "hh:nn:ss", 1, 1));
}

const Def kDates[] = {
    // Dates.
    {"acc_now", 0, 0, [](Ctx& x) { x.resultReal(x.st.now()); }, false},
    {"acc_date", 0, 0,
     [](Ctx& x) {
         DayTime dt;
         if (!splitSerial(x.st.now(), dt)) fail(Category::Overflow, "date out of range");
         x.resultReal(joinSerial(dt.day, 0));
     },
     false},
    {"acc_time", 0, 0,
     [](Ctx& x) {
         DayTime dt;
         if (!splitSerial(x.st.now(), dt)) fail(Category::Overflow, "date out of range");
         x.resultReal(joinSerial(0, dt.second));
     },
     false},
    {"acc_year", 1, 1, datePartFn<0>},
    {"acc_month", 1, 1, datePartFn<1>},
    {"acc_day", 1, 1, datePartFn<2>},
    {"acc_hour", 1, 1, datePartFn<3>},
    {"acc_minute", 1, 1, datePartFn<4>},
    {"acc_second", 1, 1, datePartFn<5>},
    {"acc_weekday", 1, 2,
     [](Ctx& x) {
         const int fd = firstDayArg(x, 1, 1);
         auto dt = toDayTime(x.arg(0), x.st);
         if (!dt) return x.resultNull();
         x.resultInt((weekday0(dt->day) - (fd - 1) + 7) % 7 + 1);
     }},
    {"acc_weekdayname", 1, 3,
     [](Ctx& x) {
         const int64_t n = needLong(x.arg(0));
         if (n < 1 || n > 7) fail(Category::InvalidCall, "weekday");
         const bool abbrev = x.has(1) && truthy(x.arg(1));
         const int fd = firstDayArg(x, 2, 1);
         const char* name = kDayNames[(n - 1 + fd - 1) % 7];
         x.resultText(abbrev ? std::string(name, 3) : std::string(name));
     }},
    {"acc_monthname", 1, 2,
     [](Ctx& x) {
         const int64_t n = needLong(x.arg(0));
         if (n < 1 || n > 12) fail(Category::InvalidCall, "month");
         const bool abbrev = x.has(1) && truthy(x.arg(1));
         const char* name = kMonthNames[n - 1];
         x.resultText(abbrev ? std::string(name, 3) : std::string(name));
     }},
    {"acc_dateserial", 3, 3,
     [](Ctx& x) {
         int64_t y = serialArg16(x, 0);
         const int64_t m = serialArg16(x, 1), d = serialArg16(x, 2);
         if (y >= 0 && y < 30)
             y += 2000;
         else if (y >= 30 && y < 100)
             y += 1900;
         const int64_t total = y * 12 + (m - 1);
         const int64_t ny = floorDiv(total, 12);
         const int nm = static_cast<int>(total - ny * 12) + 1;
         if (ny < 0 || ny > 10000) fail(Category::Overflow, "date out of range");
         const int64_t day = daysFromCivil(ny, nm, 1) + (d - 1);
         checkDay(day);
         x.resultReal(joinSerial(day, 0));
     }},
    {"acc_timeserial", 3, 3,
     [](Ctx& x) {
         const int64_t h = serialArg16(x, 0), n = serialArg16(x, 1), s = serialArg16(x, 2);
         const int64_t linear = h * 3600 + n * 60 + s;
         x.resultReal(serialFromLinearSeconds(linear));
     }},
    {"acc_datevalue", 1, 1,
     [](Ctx& x) {
         if (x.isNull(0)) fail(Category::InvalidUseOfNull);
         auto dt = toDayTime(x.arg(0), x.st);
         x.resultReal(joinSerial(dt->day, 0));
     }},
    {"acc_timevalue", 1, 1,
     [](Ctx& x) {
         auto dt = toDayTime(x.arg(0), x.st);
         if (!dt) return x.resultNull();
         x.resultReal(joinSerial(0, dt->second));
     }},
    {"acc_dateadd", 3, 3, fnDateAdd},
    {"acc_datediff", 3, 5, fnDateDiff},
    {"acc_datepart", 2, 4, fnDatePart},
    {"acc_format", 2, 5, fnFormat<false>},
    {"acc_formatnumber", 1, 5, fnFormatFixed<FixedKind::Number>},
    {"acc_formatcurrency", 1, 5, fnFormatFixed<FixedKind::Currency>},
    {"acc_formatpercent", 1, 5, fnFormatFixed<FixedKind::Percent>},
    {"acc_formatdatetime", 1, 2, fnFormatDateTime},

    // $ forms that are more than a Null check (see kStringForms in functions.cpp).
    {"acc_format_s", 2, 5, fnFormat<true>},
    {"acc_date_s", 0, 0, nowText<true>, false},
    {"acc_time_s", 0, 0, nowText<false>, false},

    // Timer: the seconds of the statement's instant.
    {"acc_timer", 0, 0,
     [](Ctx& x) {
         DayTime dt;
         if (!splitSerial(x.st.now(), dt)) fail(Category::Overflow, "date out of range");
         x.resultReal(static_cast<float>(dt.second));
     },
     false},
};

}  // namespace

std::span<const Def> dateFunctions() {
    return kDates;
}

}  // namespace tab::sqlbridge::detail
