#include "date_literal.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tab::accsql {

namespace {

struct Piece {
    enum Kind { Num, Word, Sep } kind;
    std::string_view text;
    char sep = 0;  // '/', '-', ':', ',', '.', ' '
    int64_t value = 0;
};

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool split(std::string_view s, std::vector<Piece>& out) {
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            size_t j = i;
            int64_t v = 0;
            while (j < s.size() && s[j] >= '0' && s[j] <= '9') {
                if (v < 1000000) v = v * 10 + (s[j] - '0');
                ++j;
            }
            out.push_back({Piece::Num, s.substr(i, j - i), 0, v});
            i = j;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            size_t j = i;
            while (j < s.size() && ((s[j] >= 'a' && s[j] <= 'z') || (s[j] >= 'A' && s[j] <= 'Z')))
                ++j;
            out.push_back({Piece::Word, s.substr(i, j - i), 0, 0});
            i = j;
        } else if (c == ' ' || c == '\t') {
            while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
            out.push_back({Piece::Sep, {}, ' ', 0});
        } else if (c == '/' || c == '-' || c == ':' || c == ',' || c == '.') {
            out.push_back({Piece::Sep, s.substr(i, 1), c, 0});
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

bool leap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int daysIn(int y, int m) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : kDays[static_cast<size_t>(m - 1)];
}
bool validDate(int y, int m, int d) {
    return m >= 1 && m <= 12 && d >= 1 && y >= 1 && d <= daysIn(y, m);
}

// Two-digit years: 00-29 are 2000-2029, 30-99 are 1930-1999.
int expandYear(const Piece& p) {
    const int v = static_cast<int>(p.value);
    if (p.text.size() <= 2) return v < 30 ? 2000 + v : 1900 + v;
    return v;
}

int monthFromName(std::string_view w) {
    static constexpr std::array<std::string_view, 12> kNames = {
        "january", "february", "march",     "april",   "may",      "june",
        "july",    "august",   "september", "october", "november", "december"};
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (equalsNoCase(w, kNames[i]) ||
            (w.size() == 3 && equalsNoCase(w, kNames[i].substr(0, 3))))
            return static_cast<int>(i) + 1;
    }
    if (equalsNoCase(w, "sept")) return 9;
    return 0;
}

bool isAmPm(const Piece& p) {
    return p.kind == Piece::Word && (equalsNoCase(p.text, "am") || equalsNoCase(p.text, "pm"));
}

// Date pieces, separators other than '/' and '-' ignored. year/month/day out.
bool parseDate(const std::vector<Piece>& ps, DateLiteral& out, std::string& error) {
    std::vector<Piece> items;
    std::vector<char> seps;
    for (const auto& p : ps) {
        if (p.kind == Piece::Sep) {
            if (p.sep == '/' || p.sep == '-')
                seps.push_back(p.sep);
            else if (p.sep != ' ' && p.sep != ',')
                return false;
            continue;
        }
        items.push_back(p);
    }
    if (items.size() != 3) return false;
    int y = 0, m = 0, d = 0;
    const bool allNum =
        items[0].kind == Piece::Num && items[1].kind == Piece::Num && items[2].kind == Piece::Num;
    if (allNum) {
        if (seps.size() != 2 || seps[0] != seps[1]) return false;
        if (items[0].text.size() >= 3) {
            // A leading long year is y/m/d, never guessed.
            y = static_cast<int>(items[0].value);
            m = static_cast<int>(items[1].value);
            d = static_cast<int>(items[2].value);
        } else {
            y = expandYear(items[2]);
            m = static_cast<int>(items[0].value);
            d = static_cast<int>(items[1].value);
            if (!validDate(y, m, d)) std::swap(m, d);  // d/m/y fallback
        }
    } else if (items[0].kind == Piece::Word && items[1].kind == Piece::Num &&
               items[2].kind == Piece::Num) {
        m = monthFromName(items[0].text);
        d = static_cast<int>(items[1].value);
        y = expandYear(items[2]);
    } else if (items[0].kind == Piece::Num && items[1].kind == Piece::Word &&
               items[2].kind == Piece::Num) {
        d = static_cast<int>(items[0].value);
        m = monthFromName(items[1].text);
        y = expandYear(items[2]);
    } else {
        return false;
    }
    if (m == 0 || !validDate(y, m, d)) return false;
    if (y < 100 || y > 9999) {
        error = "date is out of range (years 100 to 9999)";
        return false;
    }
    out.year = y;
    out.month = m;
    out.day = d;
    out.hasDate = true;
    return true;
}

bool parseTime(const std::vector<Piece>& ps, DateLiteral& out, std::string& error) {
    // h[:mm[:ss]] [AM|PM]; spaces only before AM/PM.
    std::vector<const Piece*> nums;
    const Piece* ampm = nullptr;
    size_t i = 0;
    while (i < ps.size()) {
        const Piece& p = ps[i];
        if (p.kind == Piece::Num) {
            if (p.text.size() > 2 || ampm) return false;
            nums.push_back(&p);
            ++i;
            if (i < ps.size() && ps[i].kind == Piece::Sep && ps[i].sep == ':') {
                ++i;
                if (i >= ps.size() || ps[i].kind != Piece::Num) return false;
                continue;
            }
            if (i < ps.size() && ps[i].kind == Piece::Sep && ps[i].sep == '.') {
                error = "fractional seconds are not allowed in date literals";
                return false;
            }
            continue;
        }
        if (p.kind == Piece::Sep && p.sep == ' ') {
            ++i;
            continue;
        }
        if (isAmPm(p) && !ampm && !nums.empty()) {
            ampm = &p;
            ++i;
            continue;
        }
        return false;
    }
    if (nums.empty() || nums.size() > 3) return false;
    if (nums.size() == 1 && !ampm) return false;
    int h = static_cast<int>(nums[0]->value);
    const int mi = nums.size() > 1 ? static_cast<int>(nums[1]->value) : 0;
    const int s = nums.size() > 2 ? static_cast<int>(nums[2]->value) : 0;
    if (ampm) {
        if (h < 1 || h > 12) return false;
        const bool pm = equalsNoCase(ampm->text, "pm");
        if (h == 12) h = 0;
        if (pm) h += 12;
    }
    if (h > 23 || mi > 59 || s > 59) return false;
    out.hour = h;
    out.minute = mi;
    out.second = s;
    out.hasTime = true;
    return true;
}

}  // namespace

bool parseDateLiteral(std::string_view content, DateLiteral& out, std::string& error) {
    std::vector<Piece> ps;
    const auto fail = [&] {
        if (error.empty()) error = "syntax error in date literal";
        return false;
    };
    if (!split(content, ps)) return fail();
    while (!ps.empty() && ps.front().kind == Piece::Sep && ps.front().sep == ' ')
        ps.erase(ps.begin());
    while (!ps.empty() && ps.back().kind == Piece::Sep && ps.back().sep == ' ') ps.pop_back();
    if (ps.empty()) return fail();
    // The time starts at the number before the first ':' or before AM/PM.
    size_t timeStart = ps.size();
    for (size_t i = 0; i + 1 < ps.size(); ++i) {
        if (ps[i].kind != Piece::Num) continue;
        const Piece& n = ps[i + 1];
        const Piece* after = i + 2 < ps.size() ? &ps[i + 2] : nullptr;
        if ((n.kind == Piece::Sep && n.sep == ':') || isAmPm(n) ||
            (n.kind == Piece::Sep && n.sep == ' ' && after && isAmPm(*after))) {
            timeStart = i;
            break;
        }
    }
    DateLiteral r;
    if (timeStart < ps.size()) {
        if (!parseTime({ps.begin() + static_cast<std::ptrdiff_t>(timeStart), ps.end()}, r, error))
            return fail();
        size_t dateEnd = timeStart;
        while (dateEnd > 0 && ps[dateEnd - 1].kind == Piece::Sep && ps[dateEnd - 1].sep == ' ')
            --dateEnd;
        if (dateEnd > 0) {
            if (dateEnd == timeStart) return fail();  // no space between date and time
            if (!parseDate({ps.begin(), ps.begin() + static_cast<std::ptrdiff_t>(dateEnd)}, r,
                           error))
                return fail();
        }
    } else if (!parseDate(ps, r, error)) {
        return fail();
    }
    out.year = r.year;
    out.month = r.month;
    out.day = r.day;
    out.hour = r.hour;
    out.minute = r.minute;
    out.second = r.second;
    out.hasDate = r.hasDate;
    out.hasTime = r.hasTime;
    return true;
}

}  // namespace tab::accsql
