// Format(): named formats and user-defined number and date/time formats,
// en-US conventions.
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "internal.h"
#include "tabulary/base/ascii_case.h"

namespace tab::sqlbridge::detail {

namespace {

bool ieq(std::string_view a, std::string_view b) {
    return equalsIgnoringAsciiCase(a, b);
}

bool startsNoCase(std::string_view s, size_t pos, std::string_view p) {
    return s.size() - pos >= p.size() && ieq(s.substr(pos, p.size()), p);
}

void pad2(std::string& out, int64_t v) {
    if (v < 10) out.push_back('0');
    out += std::to_string(v);
}

// Decimal digits of |x| rounded half away from zero to `frac` decimals,
// starting from the shortest round-trip form (what the user typed).
void decimalDigits(double x, int frac, std::string& whole, std::string& fraction) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(x), std::chars_format::scientific);
    std::string mant;
    const char* p = buf;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (*p != '.') mant.push_back(*p);
    int exp = 0;
    if (p < r.ptr) std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, exp);
    // digits[k] has weight 10^(exp - k); build int and fraction strings.
    std::string all;  // fixed-point digits with `frac` decimals plus one guard digit
    const int intDigits = exp + 1;
    std::string ip, fp;
    for (int k = 0; k < static_cast<int>(mant.size()); ++k) {
        const int weight = exp - k;
        if (weight >= 0)
            ip.push_back(mant[k]);
        else
            break;
    }
    if (intDigits > static_cast<int>(mant.size())) ip.append(intDigits - mant.size(), '0');
    if (ip.empty()) ip = "0";
    for (int w = -1; w >= -(frac + 1); --w) {
        const int k = exp - w;
        fp.push_back(k >= 0 && k < static_cast<int>(mant.size()) ? mant[k] : '0');
    }
    const bool up = fp.back() >= '5';
    fp.pop_back();
    std::string digits = ip + fp;
    if (up) {
        int i = static_cast<int>(digits.size()) - 1;
        while (i >= 0 && digits[i] == '9') digits[i--] = '0';
        if (i >= 0)
            ++digits[i];
        else
            digits.insert(digits.begin(), '1');
    }
    whole = digits.substr(0, digits.size() - frac);
    fraction = digits.substr(digits.size() - frac);
    size_t nz = whole.find_first_not_of('0');
    whole = nz == std::string::npos ? "" : whole.substr(nz);
}

std::vector<std::string> splitSections(std::string_view fmt) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (c == '"') {
            size_t j = fmt.find('"', i + 1);
            if (j == std::string_view::npos) j = fmt.size() - 1;
            out.back().append(fmt.substr(i, j - i + 1));
            i = j;
        } else if (c == '\\' && i + 1 < fmt.size()) {
            out.back().append(fmt.substr(i, 2));
            ++i;
        } else if (c == ';') {
            out.emplace_back();
        } else {
            out.back().push_back(c);
        }
    }
    return out;
}

struct Piece {
    enum Kind { Literal, Digit0, DigitHash, Point, Exponent } kind;
    std::string text;  // literal text, or "E+"/"E-"/"e+"/"e-"
};

// One number section rendered for |value| (the sign is handled by the caller).
std::string renderNumber(double value, std::string_view sec) {
    std::vector<Piece> pieces;
    bool grouping = false, percent = false;
    int scaleCommas = 0;
    bool seenDigit = false;
    for (size_t i = 0; i < sec.size(); ++i) {
        const char c = sec[i];
        if (c == '"') {
            size_t j = sec.find('"', i + 1);
            if (j == std::string_view::npos) j = sec.size();
            pieces.push_back({Piece::Literal, std::string(sec.substr(i + 1, j - i - 1))});
            i = j;
        } else if (c == '\\') {
            if (i + 1 < sec.size()) pieces.push_back({Piece::Literal, std::string(1, sec[++i])});
        } else if (c == '0' || c == '#') {
            pieces.push_back({c == '0' ? Piece::Digit0 : Piece::DigitHash, {}});
            seenDigit = true;
        } else if (c == '.') {
            pieces.push_back({Piece::Point, {}});
        } else if (c == ',') {
            // Commas right before the point (or the end of the digits) scale;
            // a comma between digits groups thousands.
            size_t j = i;
            while (j < sec.size() && sec[j] == ',') ++j;
            const bool digitAfter = j < sec.size() && (sec[j] == '0' || sec[j] == '#');
            if (seenDigit && digitAfter)
                grouping = true;
            else if (seenDigit)
                scaleCommas += static_cast<int>(j - i);
            i = j - 1;
        } else if ((c == 'E' || c == 'e') && i + 1 < sec.size() &&
                   (sec[i + 1] == '+' || sec[i + 1] == '-')) {
            pieces.push_back({Piece::Exponent, std::string(sec.substr(i, 2))});
            ++i;
        } else if (c == '%') {
            percent = true;
            pieces.push_back({Piece::Literal, "%"});
        } else {
            pieces.push_back({Piece::Literal, std::string(1, c)});
        }
    }
    if (percent) value *= 100;
    for (int k = 0; k < scaleCommas; ++k) value /= 1000;

    // Placeholders of the integer part, the fraction and the exponent.
    size_t expAt = pieces.size(), pointAt = pieces.size();
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (pieces[k].kind == Piece::Exponent && expAt == pieces.size()) expAt = k;
        if (pieces[k].kind == Piece::Point && pointAt == pieces.size() && k < expAt) pointAt = k;
    }
    auto isDigit = [](const Piece& p) {
        return p.kind == Piece::Digit0 || p.kind == Piece::DigitHash;
    };
    int intSlots = 0, fracSlots = 0;
    for (size_t k = 0; k < expAt; ++k)
        if (isDigit(pieces[k])) (k < pointAt ? intSlots : fracSlots)++;

    int exponent = 0;
    if (expAt < pieces.size() && value != 0) {
        // As many integer digits as placeholders; none (".00E+0") leaves a
        // mantissa below 1.
        const int lead = intSlots;
        exponent = static_cast<int>(std::floor(std::log10(value))) - (lead - 1);
        value /= std::pow(10.0, exponent);
        std::string ip, fp;
        decimalDigits(value, fracSlots, ip, fp);
        if (static_cast<int>(ip.size()) > lead) {  // rounding carried into a new digit
            value /= 10;
            ++exponent;
        }
    }
    std::string ip, fp;
    decimalDigits(value, fracSlots, ip, fp);
    // Trailing fraction zeros go away where the placeholder is '#'.
    {
        std::vector<Piece::Kind> fracKinds;
        for (size_t k = pointAt; k < expAt; ++k)
            if (isDigit(pieces[k])) fracKinds.push_back(pieces[k].kind);
        while (!fp.empty() && fp.back() == '0' && fracKinds[fp.size() - 1] == Piece::DigitHash)
            fp.pop_back();
    }
    int zeros = 0;
    for (size_t k = 0; k < pointAt && k < expAt; ++k)
        if (pieces[k].kind == Piece::Digit0) ++zeros;
    // Integer digits, padded on the left to the number of '0' slots.
    std::string digits = ip;
    if (static_cast<int>(digits.size()) < zeros) digits.insert(0, zeros - digits.size(), '0');
    if (grouping) {
        std::string g;
        for (size_t k = 0; k < digits.size(); ++k) {
            if (k > 0 && (digits.size() - k) % 3 == 0) g.push_back(',');
            g.push_back(digits[k]);
        }
        digits = g;
    }

    std::string out;
    // Integer part: digits fill the placeholders from the right; the first
    // placeholder takes whatever is left over.
    std::vector<std::string> slotText(static_cast<size_t>(intSlots));
    if (grouping) {
        if (intSlots > 0) slotText[0] = digits;
    } else {
        int pos = static_cast<int>(digits.size());
        for (int s = intSlots - 1; s >= 0; --s) {
            if (s == 0)
                slotText[0] = digits.substr(0, static_cast<size_t>(std::max(pos, 0)));
            else if (pos > 0)
                slotText[static_cast<size_t>(s)] = digits.substr(static_cast<size_t>(--pos), 1);
        }
    }
    int slot = 0;
    size_t fracIndex = 0;
    for (size_t k = 0; k < pieces.size(); ++k) {
        const Piece& p = pieces[k];
        if (k < expAt && isDigit(p)) {
            if (k < pointAt) {
                out += slotText[static_cast<size_t>(slot++)];
            } else {
                if (fracIndex < fp.size()) out.push_back(fp[fracIndex]);
                ++fracIndex;
            }
        } else if (p.kind == Piece::Point && k == pointAt) {
            // Without a placeholder before the point the integer digits
            // still show, right before it (".00" gives 5.50, not .50).
            if (intSlots == 0) out += digits;
            out.push_back('.');
        } else if (p.kind == Piece::Exponent && k == expAt) {
            out.push_back(p.text[0]);
            if (exponent < 0)
                out.push_back('-');
            else if (p.text[1] == '+')
                out.push_back('+');
            int expZeros = 0;
            size_t j = k + 1;
            for (; j < pieces.size() && isDigit(pieces[j]); ++j)
                if (pieces[j].kind == Piece::Digit0) ++expZeros;
            std::string e = std::to_string(std::abs(exponent));
            if (static_cast<int>(e.size()) < expZeros) e.insert(0, expZeros - e.size(), '0');
            out += e;
            k = j - 1;
        } else if (p.kind == Piece::Literal) {
            out += p.text;
        } else if (isDigit(p)) {
            // digit placeholders after the exponent were consumed above
        } else if (p.kind == Piece::Point) {
            out.push_back('.');
        }
    }
    return out;
}

std::string formatNumberCustom(double value, bool isNull, std::string_view fmt) {
    const auto sections = splitSections(fmt);
    if (isNull) return sections.size() >= 4 ? renderNumber(0, sections[3]) : std::string();
    if (value < 0 && sections.size() >= 2 && !sections[1].empty())
        return renderNumber(-value, sections[1]);
    if (value == 0 && sections.size() >= 3 && !sections[2].empty())
        return renderNumber(0, sections[2]);
    std::string body = renderNumber(std::fabs(value), sections[0]);
    if (value < 0) {
        // No sign when everything shown rounds to zero digits.
        if (body.find_first_of("123456789") != std::string::npos) body.insert(0, "-");
    }
    return body;
}

// True when fmt has one of the given characters outside quotes and escapes.
bool hasCode(std::string_view fmt, std::string_view codes) {
    for (size_t i = 0; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (c == '"') {
            size_t j = fmt.find('"', i + 1);
            if (j == std::string_view::npos) return false;
            i = j;
        } else if (c == '\\') {
            ++i;
        } else if (codes.find(c) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// Text formats: @ character or space, & character or nothing, < lower case,
// > upper case, ! fill from the left; second section for "" and Null.
std::string formatText(const std::string& value, std::string_view fmt) {
    const auto sections = splitSections(fmt);
    std::string_view sec = sections[0];
    if (value.empty() && sections.size() >= 2) sec = sections[1];
    const icu::UnicodeString v = u16(value);
    struct Item {
        bool placeholder;
        bool optional;  // '&'
        std::string literal;
    };
    std::vector<Item> items;
    bool lower = false, upper = false, fromLeft = false;
    for (size_t i = 0; i < sec.size(); ++i) {
        const char c = sec[i];
        if (c == '@' || c == '&') {
            items.push_back({true, c == '&', {}});
        } else if (c == '<') {
            lower = true;
        } else if (c == '>') {
            upper = true;
        } else if (c == '!') {
            fromLeft = true;
        } else if (c == '"') {
            size_t j = sec.find('"', i + 1);
            if (j == std::string_view::npos) j = sec.size();
            items.push_back({false, false, std::string(sec.substr(i + 1, j - i - 1))});
            i = j;
        } else if (c == '\\') {
            if (i + 1 < sec.size()) items.push_back({false, false, std::string(1, sec[++i])});
        } else {
            items.push_back({false, false, std::string(1, c)});
        }
    }
    int slots = 0;
    for (const auto& it : items) slots += it.placeholder ? 1 : 0;
    // Characters per placeholder; the overflow goes to the first (right fill)
    // or the last (left fill) placeholder.
    std::vector<icu::UnicodeString> fill(static_cast<size_t>(slots));
    const int32_t n = v.length();
    if (slots > 0) {
        if (fromLeft) {
            for (int s = 0; s < slots; ++s)
                if (s < n) fill[static_cast<size_t>(s)] = icu::UnicodeString(v, s, 1);
            if (n > slots) fill.back().append(icu::UnicodeString(v, slots));
        } else {
            const int extra = std::max(0, n - slots);
            for (int s = slots - 1, k = n - 1; s >= 0 && k >= extra; --s, --k)
                fill[static_cast<size_t>(s)] = icu::UnicodeString(v, k, 1);
            if (extra > 0) fill[0] = icu::UnicodeString(v, 0, extra + 1);
        }
    }
    std::string out;
    int slot = 0;
    for (const auto& it : items) {
        if (!it.placeholder) {
            out += it.literal;
            continue;
        }
        icu::UnicodeString piece = fill[static_cast<size_t>(slot++)];
        if (piece.isEmpty() && !it.optional) piece = icu::UnicodeString(u' ');
        if (lower) piece.toLower();
        if (upper) piece.toUpper();
        out += utf8(piece);
    }
    if (slots == 0) {
        icu::UnicodeString whole = v;
        if (lower) whole.toLower();
        if (upper) whole.toUpper();
        out = utf8(whole) + out;
    }
    return out;
}

bool hasDigitPlaceholder(std::string_view fmt) {
    for (size_t i = 0; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (c == '"') {
            size_t j = fmt.find('"', i + 1);
            if (j == std::string_view::npos) return false;
            i = j;
        } else if (c == '\\') {
            ++i;
        } else if (c == '0' || c == '#') {
            return true;
        }
    }
    return false;
}

void time12(std::string& out, int64_t h, bool leadingZero) {
    int64_t h12 = h % 12;
    if (h12 == 0) h12 = 12;
    if (leadingZero)
        pad2(out, h12);
    else
        out += std::to_string(h12);
}

}  // namespace

int weekOfYear(int64_t day, int firstDay, int firstWeek) {
    int64_t y = 0;
    int m = 0, d = 0;
    civilFromDays(day, y, m, d);
    auto week1Start = [&](int64_t year) {
        const int64_t jan1 = daysFromCivil(year, 1, 1);
        const int wd = (weekday0(jan1) - (firstDay - 1) + 7) % 7;  // days since week start
        const int64_t s = jan1 - wd;
        if (firstWeek == 2) return 7 - wd >= 4 ? s : s + 7;
        if (firstWeek == 3) return wd == 0 ? s : s + 7;
        return s;
    };
    int64_t start = week1Start(y);
    if (day < start)
        start = week1Start(y - 1);
    else if (firstWeek != 1 && day >= week1Start(y + 1))
        start = week1Start(y + 1);
    return static_cast<int>((day - start) / 7 + 1);
}

std::string formatDate(double serial, std::string_view fmt, int firstDay, int firstWeek) {
    DayTime dt;
    if (!splitSerial(serial, dt)) fail(Category::Overflow, "date out of range");
    int64_t y = 0;
    int mo = 0, d = 0;
    civilFromDays(dt.day, y, mo, d);
    const int64_t h = dt.second / 3600, mi = dt.second / 60 % 60, s = dt.second % 60;
    // A 12-hour marker anywhere switches every hour token to the 12-hour clock.
    bool twelve = false;
    for (size_t i = 0; i < fmt.size(); ++i)
        if (startsNoCase(fmt, i, "am/pm") || startsNoCase(fmt, i, "a/p") ||
            startsNoCase(fmt, i, "ampm"))
            twelve = true;
    std::string out;
    bool lastWasHour = false;
    size_t i = 0;
    auto run = [&](char c) {
        size_t n = 0;
        while (i + n < fmt.size() && std::tolower(static_cast<unsigned char>(fmt[i + n])) == c) ++n;
        return n;
    };
    auto shortDate = [&] {
        out += std::to_string(mo) + "/" + std::to_string(d) + "/" + std::to_string(y);
    };
    auto longTime = [&] {
        time12(out, h, false);
        out.push_back(':');
        pad2(out, mi);
        out.push_back(':');
        pad2(out, s);
        out += h < 12 ? " AM" : " PM";
    };
    while (i < fmt.size()) {
        const char raw = fmt[i];
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(raw)));
        if (raw == '"') {
            size_t j = fmt.find('"', i + 1);
            if (j == std::string_view::npos) j = fmt.size();
            out.append(fmt.substr(i + 1, j - i - 1));
            i = j + 1;
            continue;
        }
        if (raw == '\\') {
            if (i + 1 < fmt.size()) out.push_back(fmt[i + 1]);
            i += 2;
            continue;
        }
        if (startsNoCase(fmt, i, "am/pm")) {
            const bool upper = fmt[i] == 'A';
            out += h < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
            i += 5;
            continue;
        }
        if (startsNoCase(fmt, i, "a/p")) {
            const bool upper = fmt[i] == 'A';
            out += h < 12 ? (upper ? "A" : "a") : (upper ? "P" : "p");
            i += 3;
            continue;
        }
        if (startsNoCase(fmt, i, "ampm")) {
            out += h < 12 ? "AM" : "PM";
            i += 4;
            continue;
        }
        size_t n = 0;
        switch (c) {
            case 'c':
                ++i;
                if (dt.day != 0 || dt.second == 0) shortDate();
                if (dt.second != 0) {
                    if (dt.day != 0) out.push_back(' ');
                    longTime();
                }
                continue;
            case 'd':
                n = run('d');
                if (n == 1)
                    out += std::to_string(d);
                else if (n == 2)
                    pad2(out, d);
                else if (n == 3)
                    out.append(kDayNames[weekday0(dt.day)], 3);
                else if (n == 4)
                    out += kDayNames[weekday0(dt.day)];
                else if (n == 5)
                    shortDate();
                else {
                    out += std::string(kDayNames[weekday0(dt.day)]) + ", " + kMonthNames[mo - 1] +
                           " " + std::to_string(d) + ", " + std::to_string(y);
                }
                i += n;
                lastWasHour = false;
                continue;
            case 'w':
                n = run('w');
                if (n == 1)
                    out += std::to_string((weekday0(dt.day) - (firstDay - 1) + 7) % 7 + 1);
                else
                    out += std::to_string(weekOfYear(dt.day, firstDay, firstWeek));
                i += n;
                continue;
            case 'm':
                n = run('m');
                if (lastWasHour && n <= 2) {
                    if (n == 1)
                        out += std::to_string(mi);
                    else
                        pad2(out, mi);
                } else if (n == 1) {
                    out += std::to_string(mo);
                } else if (n == 2) {
                    pad2(out, mo);
                } else if (n == 3) {
                    out.append(kMonthNames[mo - 1], 3);
                } else {
                    out += kMonthNames[mo - 1];
                }
                i += n;
                lastWasHour = false;
                continue;
            case 'q':
                out += std::to_string((mo - 1) / 3 + 1);
                ++i;
                continue;
            case 'y':
                n = run('y');
                if (n == 1)
                    out += std::to_string(dt.day - daysFromCivil(y, 1, 1) + 1);
                else if (n < 4)
                    pad2(out, y % 100);
                else
                    out += std::to_string(y);
                i += n;
                continue;
            case 'h':
                n = run('h');
                if (twelve)
                    time12(out, h, n >= 2);
                else if (n >= 2)
                    pad2(out, h);
                else
                    out += std::to_string(h);
                i += n;
                lastWasHour = true;
                continue;
            case 'n':
                n = run('n');
                if (n >= 2)
                    pad2(out, mi);
                else
                    out += std::to_string(mi);
                i += n;
                lastWasHour = false;
                continue;
            case 's':
                n = run('s');
                if (n >= 2)
                    pad2(out, s);
                else
                    out += std::to_string(s);
                i += n;
                lastWasHour = false;
                continue;
            case 't':
                if (startsNoCase(fmt, i, "ttttt")) {
                    longTime();
                    i += 5;
                    continue;
                }
                break;
            default:
                break;
        }
        out.push_back(raw);
        ++i;
    }
    return out;
}

std::string formatFixed(double value, int digits, bool leadingDigit, bool parens, bool group,
                        std::string_view prefix, std::string_view suffix) {
    std::string whole, fraction;
    decimalDigits(value, digits, whole, fraction);
    const bool negative = value < 0 && (whole.find_first_not_of('0') != std::string::npos ||
                                        fraction.find_first_not_of('0') != std::string::npos);
    if (whole.empty() && (leadingDigit || digits == 0)) whole = "0";
    std::string body(prefix);
    for (size_t k = 0; k < whole.size(); ++k) {
        if (group && k > 0 && (whole.size() - k) % 3 == 0) body.push_back(',');
        body.push_back(whole[k]);
    }
    if (digits > 0) body += "." + fraction;
    body += suffix;
    if (!negative) return body;
    return parens ? "(" + body + ")" : "-" + body;
}

std::optional<std::string> formatValue(const FormatInput& in, std::string_view fmt, int firstDay,
                                       int firstWeek, const State& st) {
    // Named formats first.
    struct Named {
        const char* name;
        const char* pattern;  // nullptr: handled specially
        bool date;
    };
    static const Named kNamed[] = {
        {"General Number", nullptr, false}, {"Currency", "$#,##0.00;($#,##0.00)", false},
        {"Fixed", "0.00", false},           {"Standard", "#,##0.00", false},
        {"Percent", "0.00%", false},        {"Scientific", "0.00E+00", false},
        {"General Date", "c", true},        {"Long Date", "dddddd", true},
        {"Medium Date", "dd-mmm-yy", true}, {"Short Date", "m/d/yyyy", true},
        {"Long Time", "ttttt", true},       {"Medium Time", "hh:nn AM/PM", true},
        {"Short Time", "hh:nn", true},
    };
    static const char* const kBoolNames[][3] = {
        {"Yes/No", "Yes", "No"}, {"True/False", "True", "False"}, {"On/Off", "On", "Off"}};

    const bool textFormat = !fmt.empty() && !hasDigitPlaceholder(fmt) && hasCode(fmt, "@&<>!");
    if (in.isNull) {
        if (!fmt.empty() && hasDigitPlaceholder(fmt) && splitSections(fmt).size() >= 4)
            return formatNumberCustom(0, true, fmt);
        if (textFormat && splitSections(fmt).size() >= 2) return formatText(std::string(), fmt);
        return std::nullopt;
    }
    if (fmt.empty()) return in.text;
    if (textFormat) return formatText(in.text, fmt);

    // Number or date value of the input, as each kind of format needs it.
    auto number = [&]() -> std::optional<double> {
        if (!in.isText) return in.number;
        return parseNumber(in.text);
    };
    auto date = [&]() -> std::optional<double> {
        if (!in.isText) return in.number;
        if (auto d = parseDate(in.text, currentYear(st))) return d;
        return std::nullopt;
    };

    for (const auto& b : kBoolNames) {
        if (ieq(fmt, b[0])) {
            auto n = number();
            if (!n) return in.text;
            return std::string(*n != 0 ? b[1] : b[2]);
        }
    }
    for (const auto& nf : kNamed) {
        if (!ieq(fmt, nf.name)) continue;
        if (nf.date) {
            auto d = date();
            if (!d) return in.text;
            return formatDate(*d, nf.pattern, firstDay, firstWeek);
        }
        auto n = number();
        if (!n) return in.text;
        if (nf.pattern == nullptr) return numberText(*n);
        return formatNumberCustom(*n, false, nf.pattern);
    }
    if (hasDigitPlaceholder(fmt)) {
        auto n = number();
        if (!n) return in.text;
        return formatNumberCustom(*n, false, fmt);
    }
    auto d = date();
    if (!d) return in.text;
    return formatDate(*d, fmt, firstDay, firstWeek);
}

}  // namespace tab::sqlbridge::detail
