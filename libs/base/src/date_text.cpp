#include "tabulary/base/date_text.h"

#include <array>

#include "tabulary/base/ascii_case.h"

namespace tab {

namespace {

constexpr std::array<std::string_view, 12> kMonths = {
    "january", "february", "march",     "april",   "may",      "june",
    "july",    "august",   "september", "october", "november", "december"};
constexpr std::array<std::string_view, 7> kWeekdays = {"sunday",   "monday", "tuesday", "wednesday",
                                                       "thursday", "friday", "saturday"};

// One number of the text, or a month name standing where a number could.
struct Field {
    int64_t value = 0;
    int digits = 0;
    bool monthName = false;
    bool joinsNext = false;    // a time separator links it to the next field
    bool joined = false;       // linked to the field before
    bool spaceBefore = false;  // blanks between it and what came before
    int marker = 0;            // AM 1, PM 2, right after it
    char dateSep = 0;          // '/' or '-' right after it
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Full names and their first three letters.
template <size_t N>
int nameIndex(std::string_view w, const std::array<std::string_view, N>& names) {
    for (size_t i = 0; i < N; ++i)
        if (equalsIgnoringAsciiCase(w, names[i]) ||
            (w.size() == 3 && equalsIgnoringAsciiCase(w, names[i].substr(0, 3))))
            return static_cast<int>(i) + 1;
    return 0;
}

int monthOf(std::string_view w) {
    if (const int m = nameIndex(w, kMonths)) return m;
    return equalsIgnoringAsciiCase(w, "sept") ? 9 : 0;
}

int markerOf(std::string_view w, bool literal) {
    if (equalsIgnoringAsciiCase(w, "am") || (!literal && equalsIgnoringAsciiCase(w, "a"))) return 1;
    if (equalsIgnoringAsciiCase(w, "pm") || (!literal && equalsIgnoringAsciiCase(w, "p"))) return 2;
    return 0;
}

int64_t daysIn(int64_t y, int64_t m) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[static_cast<size_t>(m - 1)];
}

// Which date fields hold the year, month and day; a year of -1 is the
// current one, a day of -1 the first of the month.
struct Order {
    int y, m, d;
};

constexpr size_t kMaxFields = 6;

}  // namespace

DateTextStatus parseDateText(std::string_view s, DateSyntax syntax, int64_t currentYear,
                             DateTextFields& out) {
    using enum DateTextStatus;
    const bool literal = syntax == DateSyntax::Literal;
    std::array<Field, kMaxFields> f;
    size_t n = 0;
    int dateSeps = 0, markers = 0;
    bool space = false;
    for (size_t i = 0; i < s.size();) {
        const char c = s[i];
        if (isDigit(c) || isLetter(c)) {
            const size_t start = i;
            const bool digits = isDigit(c);
            while (i < s.size() && (digits ? isDigit(s[i]) : isLetter(s[i]))) ++i;
            const std::string_view w = s.substr(start, i - start);
            Field x;
            x.spaceBefore = space;
            space = false;
            if (digits) {
                for (char d : w)
                    if (x.value < 100'000'000) x.value = x.value * 10 + (d - '0');
                x.digits = static_cast<int>(w.size());
                x.joined = n > 0 && f[n - 1].joinsNext;
            } else if (const int m = monthOf(w)) {
                x.value = m;
                x.monthName = true;
            } else if (const int mk = markerOf(w, literal)) {
                if (n == 0 || f[n - 1].monthName || markers++ > 0) return Invalid;
                f[n - 1].marker = mk;
                continue;
            } else if (!literal && nameIndex(w, kWeekdays) != 0) {
                continue;  // the weekday says nothing the date does not
            } else {
                return Invalid;
            }
            if (n == kMaxFields) return Invalid;
            f[n++] = x;
            continue;
        }
        if (c == ' ' || c == '\t') {
            space = true;
            ++i;
            continue;
        }
        space = false;
        if (c == ':' || (c == '.' && !literal)) {
            // Digits on both sides: "14:30", and in text "2.30" too.
            if (n == 0 || !isDigit(s[i - 1]) || i + 1 >= s.size() || !isDigit(s[i + 1]))
                return Invalid;
            f[n - 1].joinsNext = true;
        } else if (c == '.') {
            return n > 0 && f[n - 1].joined ? FractionalSeconds : Invalid;
        } else if (c == '/' || c == '-') {
            if (n == 0 || ++dateSeps > 2 || f[n - 1].dateSep != 0 || i + 1 >= s.size())
                return Invalid;
            f[n - 1].dateSep = c;
        } else if (c == ',') {
            if (i + 1 >= s.size()) return Invalid;
        } else {
            return Invalid;
        }
        ++i;
    }
    if (n == 0) return Invalid;

    // The time: fields linked by separators, or one number with AM/PM. It
    // stands before or after the date, never inside it.
    int tStart = -1, tEnd = -1;
    for (size_t k = 0; k < n; ++k) {
        if (!f[k].joinsNext) continue;
        if (tStart < 0)
            tStart = static_cast<int>(k);
        else if (static_cast<int>(k) != tEnd)
            return Invalid;
        tEnd = static_cast<int>(k) + 1;
    }
    if (tStart >= 0 && tEnd - tStart > 2) return Invalid;
    for (size_t k = 0; k < n; ++k) {
        if (f[k].marker == 0) continue;
        if (tStart < 0) tStart = tEnd = static_cast<int>(k);
        if (static_cast<int>(k) != tEnd) return Invalid;
    }
    const int last = static_cast<int>(n) - 1;
    if (tStart >= 0 && tStart != 0 && tEnd != last) return Invalid;
    if (literal && tStart >= 0 && tEnd != last) return Invalid;

    DateTextFields r;
    if (tStart >= 0) {
        int marker = 0;
        for (int k = tStart; k <= tEnd; ++k) {
            if (literal && f[static_cast<size_t>(k)].digits > 2) return Invalid;
            marker |= f[static_cast<size_t>(k)].marker;
        }
        if (literal && tStart > 0 && !f[static_cast<size_t>(tStart)].spaceBefore) return Invalid;
        const auto at = [&](int k) { return k <= tEnd ? f[static_cast<size_t>(k)].value : 0; };
        int64_t h = at(tStart);
        const int64_t mi = tEnd > tStart ? at(tStart + 1) : 0;
        const int64_t sec = tEnd > tStart + 1 ? at(tStart + 2) : 0;
        if (h > 23 || mi > 59 || sec > 59) return Invalid;
        // An hour past 12 keeps its value whatever the marker says.
        if (marker == 2 && h < 12) h += 12;
        if (marker == 1 && h == 12) h = 0;
        r.hour = static_cast<int>(h);
        r.minute = static_cast<int>(mi);
        r.second = static_cast<int>(sec);
        r.hasTime = true;
    }

    std::array<const Field*, kMaxFields> d{};
    size_t nd = 0;
    int monthAt = -1;
    for (size_t k = 0; k < n; ++k) {
        if (tStart >= 0 && static_cast<int>(k) >= tStart && static_cast<int>(k) <= tEnd) continue;
        if (f[k].monthName) {
            if (monthAt >= 0) return Invalid;
            monthAt = static_cast<int>(nd);
        }
        d[nd++] = &f[k];
    }
    if (nd == 1 || nd > 3 || (literal && nd == 2)) return Invalid;
    if (nd > 0) {
        std::array<Order, 4> orders{};
        size_t count = 0;
        const auto add = [&](int y, int m, int dd) { orders[count++] = {y, m, dd}; };
        if (nd == 3) {
            if (monthAt == 0) {
                add(2, 0, 1);
            } else if (monthAt == 1) {
                add(2, 1, 0);
                if (!literal) add(0, 1, 2);
            } else if (monthAt == 2) {
                if (literal) return Invalid;
                add(0, 2, 1);
            } else {
                if (literal && (dateSeps != 2 || d[0]->dateSep != d[1]->dateSep)) return Invalid;
                if (d[0]->digits >= 3) {
                    add(0, 1, 2);  // a leading long year is y/m/d, never guessed
                } else {
                    add(2, 0, 1);
                    if (!literal) add(0, 1, 2);
                    add(2, 1, 0);
                }
            }
        } else {
            // Month and day of this year; failing that, month and year.
            if (monthAt != 1) add(-1, 0, 1);
            if (monthAt != 0) add(-1, 1, 0);
            if (monthAt != 0) add(0, 1, -1);
            if (monthAt != 1) add(1, 0, -1);
        }
        const auto yearOf = [&](const Field& x) -> int64_t {
            const bool window = literal ? x.digits <= 2 : x.value < 100;
            if (!window) return x.value;
            return x.value < 30 ? 2000 + x.value : 1900 + x.value;
        };
        bool found = false;
        for (size_t k = 0; k < count && !found; ++k) {
            const Order& o = orders[k];
            const int64_t y = o.y < 0 ? currentYear : yearOf(*d[static_cast<size_t>(o.y)]);
            const int64_t m = d[static_cast<size_t>(o.m)]->value;
            const int64_t day = o.d < 0 ? 1 : d[static_cast<size_t>(o.d)]->value;
            if (y < 1 || m < 1 || m > 12 || day < 1 || day > daysIn(y, m)) continue;
            // The first reading that is a date is taken, even with a year
            // out of range.
            if (y < 100 || y > 9999) return literal ? OutOfRange : Invalid;
            r.year = static_cast<int>(y);
            r.month = static_cast<int>(m);
            r.day = static_cast<int>(day);
            r.hasDate = true;
            found = true;
        }
        if (!found) return Invalid;
    }
    out = r;
    return Ok;
}

}  // namespace tab
