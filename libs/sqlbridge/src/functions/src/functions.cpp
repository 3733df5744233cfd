// The SQL-facing wrappers and their registration. Each body reads its
// arguments through Ctx and throws AccessError for run-time errors; the
// trampoline turns that into sqlite3_result_error.
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "internal.h"

namespace tab::sqlbridge {

using namespace detail;

namespace {

struct Ctx {
    sqlite3_context* c;
    int argc;
    sqlite3_value** argv;
    const State& st;

    bool has(int i) const { return i < argc; }
    sqlite3_value* arg(int i) const { return argv[i]; }
    bool isNull(int i) const { return sqlite3_value_type(argv[i]) == SQLITE_NULL; }

    void resultInt(int64_t v) { sqlite3_result_int64(c, v); }
    void resultBool(bool b) { sqlite3_result_int64(c, b ? -1 : 0); }
    void resultReal(double v) {
        if (!std::isfinite(v)) fail(Category::Overflow);
        sqlite3_result_double(c, v);
    }
    void resultNull() { sqlite3_result_null(c); }
    void resultValue(sqlite3_value* v) { sqlite3_result_value(c, v); }
    void resultText(const std::string& s) {
        if (s.size() > st.options.maxTextBytes) fail(Category::OutOfStringSpace);
        sqlite3_result_text64(c, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    void resultText(const icu::UnicodeString& s) { resultText(utf8(s)); }

    // String argument: Null -> nullopt; numbers by storage class.
    std::optional<icu::UnicodeString> str(int i) const {
        if (isNull(i)) return std::nullopt;
        return u16(toText(argv[i], Tag::Variant));
    }
    std::string utf8Arg(int i) const { return toText(argv[i], Tag::Variant); }
    // Compare argument (0 binary, 1 text, 2 database = text); default text.
    bool textCompare(int i) const {
        if (!has(i)) return true;
        const int64_t v = needLong(argv[i]);
        if (v < 0 || v > 2) fail(Category::InvalidCall, "compare");
        return v != 0;
    }
    size_t maxUnits() const { return st.options.maxTextBytes; }
};

using Body = void (*)(Ctx&);

struct Entry {
    Body body;
    int minArgs;
    std::shared_ptr<const State> state;
    bool nullIsError = false;  // the String-returning $ forms
};

void trampoline(sqlite3_context* c, int argc, sqlite3_value** argv) {
    auto* e = static_cast<Entry*>(sqlite3_user_data(c));
    Ctx ctx{c, argc, argv, *e->state};
    try {
        if (argc < e->minArgs) fail(Category::InvalidCall, "wrong number of arguments");
        if (e->nullIsError)
            for (int i = 0; i < argc; ++i)
                if (ctx.isNull(i)) fail(Category::InvalidUseOfNull);
        e->body(ctx);
    } catch (const AccessError& err) {
        sqlite3_result_error(c, errorMessage(err).c_str(), -1);
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(c);
    } catch (const std::exception& ex) {
        sqlite3_result_error(c, ex.what(), -1);
    }
}

// --- helpers ---------------------------------------------------------------

int64_t toLong(const Number& n) {
    if (n.isInt) {
        if (n.i < INT32_MIN || n.i > INT32_MAX) fail(Category::Overflow);
        return n.i;
    }
    return roundToRange(n.d, INT32_MIN, INT32_MAX);
}

bool truthy(sqlite3_value* v) {
    auto n = toNumber(v);
    return n && n->value() != 0;
}

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

// --- Like --------------------------------------------------------------------

struct LikeElem {
    enum Kind { Any, One, Digit, Set, Lit } kind = Lit;
    UChar32 ch = 0;
    bool negate = false;
    std::vector<std::pair<UChar32, UChar32>> ranges;
};

LikeElem likeElem(LikeElem::Kind k) {
    LikeElem e;
    e.kind = k;
    return e;
}

std::vector<UChar32> foldedCodePoints(const icu::UnicodeString& s) {
    std::vector<UChar32> out;
    out.reserve(static_cast<size_t>(s.length()));
    for (int32_t i = 0; i < s.length();) {
        const UChar32 c = s.char32At(i);
        out.push_back(foldChar(c));
        i += U16_LENGTH(c);
    }
    return out;
}

std::vector<LikeElem> compileLike(const icu::UnicodeString& pattern) {
    const auto p = foldedCodePoints(pattern);
    std::vector<LikeElem> out;
    for (size_t i = 0; i < p.size(); ++i) {
        const UChar32 c = p[i];
        if (c == '%') {
            if (out.empty() || out.back().kind != LikeElem::Any)
                out.push_back(likeElem(LikeElem::Any));
        } else if (c == '_') {
            out.push_back(likeElem(LikeElem::One));
        } else if (c == '#') {
            out.push_back(likeElem(LikeElem::Digit));
        } else if (c == '[') {
            size_t j = i + 1;
            while (j < p.size() && p[j] != ']') ++j;
            if (j >= p.size()) fail(Category::InvalidPattern);
            LikeElem e = likeElem(LikeElem::Set);
            size_t k = i + 1;
            if (k < j && p[k] == '!') {
                e.negate = true;
                ++k;
            }
            if (k == j && !e.negate) {  // "[]" is a zero-length element
                i = j;
                continue;
            }
            for (; k < j; ++k) {
                if (k + 2 < j && p[k + 1] == '-') {
                    if (p[k] > p[k + 2]) fail(Category::InvalidPattern);
                    e.ranges.emplace_back(p[k], p[k + 2]);
                    k += 2;
                } else {
                    e.ranges.emplace_back(p[k], p[k]);
                }
            }
            out.push_back(std::move(e));
            i = j;
        } else {
            LikeElem e = likeElem(LikeElem::Lit);
            e.ch = c;
            out.push_back(std::move(e));
        }
    }
    return out;
}

bool matchOne(const LikeElem& e, UChar32 c) {
    switch (e.kind) {
        case LikeElem::One:
            return true;
        case LikeElem::Digit:
            return c >= '0' && c <= '9';
        case LikeElem::Lit:
            return c == e.ch;
        case LikeElem::Set: {
            bool in = false;
            for (const auto& r : e.ranges)
                if (c >= r.first && c <= r.second) in = true;
            return in != e.negate;
        }
        case LikeElem::Any:
            return false;
    }
    return false;
}

bool likeMatch(const std::vector<LikeElem>& pat, const std::vector<UChar32>& s) {
    size_t p = 0, i = 0, starP = SIZE_MAX, starI = 0;
    while (i < s.size()) {
        if (p < pat.size() && pat[p].kind == LikeElem::Any) {
            starP = p++;
            starI = i;
        } else if (p < pat.size() && matchOne(pat[p], s[i])) {
            ++p;
            ++i;
        } else if (starP != SIZE_MAX) {
            p = starP + 1;
            i = ++starI;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p].kind == LikeElem::Any) ++p;
    return p == pat.size();
}

void fnLike(Ctx& x) {
    if (x.isNull(0) || x.isNull(1)) return x.resultNull();
    auto* cached = static_cast<std::vector<LikeElem>*>(sqlite3_get_auxdata(x.c, 1));
    std::unique_ptr<std::vector<LikeElem>> fresh;
    if (cached == nullptr) {
        fresh = std::make_unique<std::vector<LikeElem>>(compileLike(*x.str(1)));
        cached = fresh.get();
    }
    const bool m = likeMatch(*cached, foldedCodePoints(*x.str(0)));
    if (fresh) {
        sqlite3_set_auxdata(x.c, 1, fresh.release(),
                            [](void* p) { delete static_cast<std::vector<LikeElem>*>(p); });
    }
    x.resultBool(m);
}

// --- strings -----------------------------------------------------------------

int64_t lengthArg(Ctx& x, int i) {
    const int64_t n = needLong(x.arg(i));
    if (n < 0) fail(Category::InvalidCall, "negative length");
    return n;
}

icu::UnicodeString foldIf(const icu::UnicodeString& s, bool text) {
    return text ? foldSimple(s) : s;
}

// InStr core: 1-based position of needle at or after start (1-based), 0 if none.
int64_t instr(const icu::UnicodeString& hay, const icu::UnicodeString& needle, int64_t start,
              bool text) {
    if (start > hay.length()) return 0;
    if (needle.isEmpty()) return start;
    const int32_t pos =
        foldIf(hay, text).indexOf(foldIf(needle, text), static_cast<int32_t>(start - 1));
    return pos < 0 ? 0 : pos + 1;
}

void fnInStr(Ctx& x) {
    int first = 0;
    int64_t start = 1;
    if (x.argc >= 3) {
        if (x.isNull(0)) fail(Category::InvalidUseOfNull);
        start = needLong(x.arg(0));
        if (start < 1) fail(Category::InvalidCall, "start");
        first = 1;
    }
    const bool text = x.textCompare(first + 2);
    auto s1 = x.str(first), s2 = x.str(first + 1);
    if (!s1 || !s2) return x.resultNull();
    if (s1->isEmpty()) return x.resultInt(0);
    x.resultInt(instr(*s1, *s2, start, text));
}

void fnInStrRev(Ctx& x) {
    int64_t start = -1;
    if (x.has(2)) {
        if (x.isNull(2)) fail(Category::InvalidUseOfNull);
        start = needLong(x.arg(2));
        if (start == 0 || start < -1) fail(Category::InvalidCall, "start");
    }
    const bool text = x.textCompare(3);
    auto s1 = x.str(0), s2 = x.str(1);
    if (!s1 || !s2) return x.resultNull();
    const int64_t len = s1->length();
    if (len == 0) return x.resultInt(0);
    if (start == -1) start = len;
    if (start > len) return x.resultInt(0);
    if (s2->isEmpty()) return x.resultInt(start);
    const auto h = foldIf(*s1, text), n = foldIf(*s2, text);
    const int64_t lastBegin = start - n.length();  // 0-based
    if (lastBegin < 0) return x.resultInt(0);
    const int32_t pos = h.lastIndexOf(n, 0, static_cast<int32_t>(lastBegin + n.length()));
    x.resultInt(pos < 0 ? 0 : pos + 1);
}

void fnReplace(Ctx& x) {
    for (int i = 0; i < 3; ++i)
        if (x.isNull(i)) fail(Category::InvalidUseOfNull);
    int64_t start = 1, count = -1;
    if (x.has(3)) {
        start = needLong(x.arg(3));
        if (start < 1) fail(Category::InvalidCall, "start");
    }
    if (x.has(4)) {
        count = needLong(x.arg(4));
        if (count < -1) fail(Category::InvalidCall, "count");
    }
    const bool text = x.textCompare(5);
    const auto s = *x.str(0), find = *x.str(1), repl = *x.str(2);
    if (start > s.length()) return x.resultText(std::string());
    const icu::UnicodeString tail(s, static_cast<int32_t>(start - 1));
    if (find.isEmpty() || count == 0) return x.resultText(tail);
    const auto h = foldIf(tail, text), f = foldIf(find, text);
    icu::UnicodeString out;
    int32_t pos = 0;
    int64_t done = 0;
    const size_t limit = x.maxUnits();
    while (count < 0 || done < count) {
        const int32_t at = h.indexOf(f, pos);
        if (at < 0) break;
        out.append(tail, pos, at - pos).append(repl);
        pos = at + f.length();
        ++done;
        if (static_cast<size_t>(out.length()) > limit) fail(Category::OutOfStringSpace);
    }
    out.append(tail, pos, tail.length() - pos);
    x.resultText(out);
}

void fnString(Ctx& x) {
    if (x.isNull(0) || x.isNull(1)) return x.resultNull();
    const int64_t n = lengthArg(x, 0);
    UChar32 ch = 0;
    if (sqlite3_value_type(x.arg(1)) == SQLITE_TEXT) {
        const auto s = *x.str(1);
        if (s.isEmpty()) fail(Category::InvalidCall, "empty character");
        ch = s.char32At(0);
    } else {
        const int64_t code = needLong(x.arg(1));
        ch = cp1252ToUnicode(static_cast<int>(((code % 256) + 256) % 256));
    }
    icu::UnicodeString one(ch);
    const std::string unit = utf8(one);
    if (static_cast<uint64_t>(n) * unit.size() > x.st.options.maxTextBytes)
        fail(Category::OutOfStringSpace);
    std::string out;
    out.reserve(static_cast<size_t>(n) * unit.size());
    for (int64_t i = 0; i < n; ++i) out += unit;
    x.resultText(out);
}

std::string trimSpaces(std::string s, bool left, bool right) {
    size_t b = 0, e = s.size();
    if (left)
        while (b < e && s[b] == ' ') ++b;
    if (right)
        while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

void fnStrConv(Ctx& x) {
    if (x.isNull(0)) return x.resultNull();
    const int64_t conv = needLong(x.arg(1));
    icu::UnicodeString s = *x.str(0);
    if (conv == 1) return x.resultText(s.toUpper(icu::Locale::getUS()));
    if (conv == 2) return x.resultText(s.toLower(icu::Locale::getUS()));
    if (conv != 3) fail(Category::InvalidCall, "conversion");
    // Proper case: first letter of every word upper, the rest lower.
    icu::UnicodeString out;
    bool wordStart = true;
    for (int32_t i = 0; i < s.length();) {
        const UChar32 c = s.char32At(i);
        const bool letter = u_isalpha(c) || u_isdigit(c) || c == '\'';
        out.append(letter ? (wordStart ? u_toupper(c) : u_tolower(c)) : c);
        wordStart = !letter;
        i += U16_LENGTH(c);
    }
    x.resultText(out);
}

// --- numbers -----------------------------------------------------------------

void convertToInteger(Ctx& x, int64_t lo, int64_t hi) {
    const Number n = needNumber(x.arg(0));
    if (n.isInt) {
        if (n.i < lo || n.i > hi) fail(Category::Overflow);
        return x.resultInt(n.i);
    }
    x.resultInt(roundToRange(n.d, lo, hi));
}

void fnVal(Ctx& x) {
    if (x.isNull(0)) fail(Category::InvalidUseOfNull);
    if (sqlite3_value_type(x.arg(0)) != SQLITE_TEXT)
        return x.resultReal(needNumber(x.arg(0)).value());
    std::string s;
    for (char c : x.utf8Arg(0))
        if (c != ' ' && c != '\t' && c != '\n') s.push_back(c);
    if (s.size() >= 2 && s[0] == '&' &&
        (s[1] == 'h' || s[1] == 'H' || s[1] == 'o' || s[1] == 'O')) {
        const int base = (s[1] == 'h' || s[1] == 'H') ? 16 : 8;
        uint64_t v = 0;
        for (size_t i = 2; i < s.size(); ++i) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
            int d = c >= '0' && c <= '9'                   ? c - '0'
                    : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                           : -1;
            if (d < 0 || d >= base) break;
            v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
            if (v > 0xFFFFFFFFull) fail(Category::Overflow);
        }
        if (v <= 0xFFFF) return x.resultReal(static_cast<int16_t>(static_cast<uint16_t>(v)));
        return x.resultReal(static_cast<int32_t>(static_cast<uint32_t>(v)));
    }
    size_t i = 0;
    std::string num;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) num.push_back(s[i++]);
    bool point = false, any = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9') {
            num.push_back(s[i]);
            any = true;
        } else if (s[i] == '.' && !point) {
            point = true;
            num.push_back('.');
        } else {
            break;
        }
    }
    if (any && i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
        size_t j = i + 1;
        std::string e = "e";
        if (j < s.size() && (s[j] == '-' || s[j] == '+')) e.push_back(s[j++]);
        const size_t digitsAt = j;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9' && j - digitsAt < 6) e.push_back(s[j++]);
        if (j > digitsAt) num += e;
    }
    if (!any) return x.resultReal(0);
    const double v = std::strtod(num.c_str(), nullptr);
    x.resultReal(v);
}

void fnRadix(Ctx& x, int base) {
    auto n = toNumber(x.arg(0));
    if (!n) return x.resultNull();
    const int64_t v = n->isInt ? n->i : roundToRange(n->d, INT64_MIN / 2, INT64_MAX / 2);
    if (v < INT32_MIN || v > INT32_MAX) fail(Category::Overflow);
    uint32_t u = static_cast<uint32_t>(static_cast<int32_t>(v));
    if (u == 0) return x.resultText(std::string("0"));
    std::string out;
    while (u != 0) {
        out.insert(out.begin(), "0123456789ABCDEF"[u % static_cast<uint32_t>(base)]);
        u /= static_cast<uint32_t>(base);
    }
    x.resultText(out);
}

template <double (*F)(double)>
void realFn(Ctx& x) {
    auto n = toNumber(x.arg(0));
    if (!n) return x.resultNull();
    x.resultReal(F(n->value()));
}

// Int / Fix keep integers as they are.
template <bool Floor>
void intFix(Ctx& x) {
    auto n = toNumber(x.arg(0));
    if (!n) return x.resultNull();
    if (n->isInt) return x.resultInt(n->i);
    x.resultReal(Floor ? std::floor(n->d) : std::trunc(n->d));
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

// --- VarType, TypeName, Rnd, Partition ---------------------------------------

struct VbType {
    const char* tag;
    int code;          // VarType
    const char* name;  // TypeName
};

const VbType kVbTypes[] = {
    {"bool", 11, "Boolean"},     {"byte", 17, "Byte"},       {"int", 2, "Integer"},
    {"long", 3, "Long"},         {"single", 4, "Single"},    {"double", 5, "Double"},
    {"currency", 6, "Currency"}, {"decimal", 14, "Decimal"}, {"date", 7, "Date"},
    {"text", 8, "String"},       {"guid", 8, "String"},      {"binary", 8209, "Byte()"},
};

const VbType& vbTypeByTag(const char* tag) {
    for (const auto& t : kVbTypes)
        if (sqlite3_stricmp(tag, t.tag) == 0) return t;
    return kVbTypes[5];
}

// The Variant subtype of argument 0: Null whatever the tag, else the tag's
// type, else (variant or no tag) by storage class.
const VbType& vbType(Ctx& x) {
    static const VbType kNull{"", 1, "Null"};
    const int type = sqlite3_value_type(x.arg(0));
    if (type == SQLITE_NULL) return kNull;
    if (x.has(1) && sqlite3_value_type(x.arg(1)) == SQLITE_TEXT) {
        const char* tag = reinterpret_cast<const char*>(sqlite3_value_text(x.arg(1)));
        for (const auto& t : kVbTypes)
            if (sqlite3_stricmp(tag, t.tag) == 0) return t;
    }
    switch (type) {
        case SQLITE_INTEGER: {
            const int64_t v = sqlite3_value_int64(x.arg(0));
            return vbTypeByTag(v >= INT32_MIN && v <= INT32_MAX ? "long" : "double");
        }
        case SQLITE_FLOAT:
            return vbTypeByTag("double");
        case SQLITE_TEXT:
            return vbTypeByTag("text");
        default:
            return vbTypeByTag("binary");
    }
}

// VBA's generator: x = (x * 1140671485 + 12820163) mod 2^24, result x / 2^24.
// A negative argument reseeds from its Single bit pattern first; zero
// repeats the last number.
void fnRnd(Ctx& x) {
    uint32_t& seed = x.st.rndSeed;
    if (x.has(0)) {
        const double d = needNumber(x.arg(0)).value();
        if (std::fabs(d) > FLT_MAX) fail(Category::Overflow);
        const float f = static_cast<float>(d);
        if (f == 0) return x.resultReal(seed / 16777216.0);
        if (f < 0) {
            uint32_t bits = 0;
            std::memcpy(&bits, &f, sizeof bits);
            seed = (bits + (bits >> 24)) & 0xFFFFFFu;
        }
    }
    seed = (seed * 0x43FD43FDu + 0xC39EC3u) & 0xFFFFFFu;
    x.resultReal(seed / 16777216.0);
}

// Partition: "lower:upper" with both sides right-aligned to the width of
// Stop + 1 (or Start - 1 if wider), as VB has done since VB3.
void fnPartition(Ctx& x) {
    for (int i = 0; i < 4; ++i)
        if (x.isNull(i)) return x.resultNull();
    const int64_t n = needLong(x.arg(0)), start = needLong(x.arg(1)), stop = needLong(x.arg(2)),
                  interval = needLong(x.arg(3));
    if (start < 0) fail(Category::InvalidCall, "start");
    if (stop <= start) fail(Category::InvalidCall, "stop");
    if (interval < 1) fail(Category::InvalidCall, "interval");
    std::optional<int64_t> lower, upper;
    if (n < start) {
        upper = start - 1;
    } else if (n > stop) {
        lower = stop + 1;
    } else if (interval == 1) {
        lower = upper = n;
    } else {
        lower = start + (n - start) / interval * interval;
        upper = std::min(*lower + interval - 1, stop);
    }
    const size_t width =
        std::max(std::to_string(stop + 1).size(), std::to_string(start - 1).size());
    auto side = [width](std::optional<int64_t> v) {
        std::string t = v ? std::to_string(*v) : std::string();
        if (t.size() < width) t.insert(0, width - t.size(), ' ');
        return t;
    };
    x.resultText(side(lower) + ":" + side(upper));
}

// --- financial -----------------------------------------------------------------

double numArg(Ctx& x, int i, double deflt = 0) {
    return x.has(i) ? needNumber(x.arg(i)).value() : deflt;
}
bool dueArg(Ctx& x, int i) {
    return x.has(i) && needNumber(x.arg(i)).value() != 0;
}
void finResult(Ctx& x, double v) {
    if (std::isnan(v)) fail(Category::InvalidCall);
    x.resultReal(v);
}

// --- aggregates ----------------------------------------------------------------

struct KeepValue {
    sqlite3_value* v;
    bool set;
};

template <bool Last>
void keepStep(sqlite3_context* c, int, sqlite3_value** argv) {
    auto* k = static_cast<KeepValue*>(sqlite3_aggregate_context(c, sizeof(KeepValue)));
    if (k == nullptr) return sqlite3_result_error_nomem(c);
    if (k->set && !Last) return;
    sqlite3_value_free(k->v);
    k->v = sqlite3_value_dup(argv[0]);
    if (k->v == nullptr && sqlite3_value_type(argv[0]) != SQLITE_NULL)
        sqlite3_result_error_nomem(c);
    k->set = true;
}

void keepFinal(sqlite3_context* c) {
    auto* k = static_cast<KeepValue*>(sqlite3_aggregate_context(c, 0));
    if (k == nullptr || k->v == nullptr) return sqlite3_result_null(c);
    sqlite3_result_value(c, k->v);
    sqlite3_value_free(k->v);
    k->v = nullptr;
}

// Scalar subquery value: the one row's value, Null for none, an error for
// a second row.
void scalarStep(sqlite3_context* c, int, sqlite3_value** argv) {
    auto* k = static_cast<KeepValue*>(sqlite3_aggregate_context(c, sizeof(KeepValue)));
    if (k == nullptr) return sqlite3_result_error_nomem(c);
    if (k->set)
        return sqlite3_result_error(c, "At most one record can be returned by this subquery.", -1);
    k->v = sqlite3_value_dup(argv[0]);
    if (k->v == nullptr && sqlite3_value_type(argv[0]) != SQLITE_NULL)
        return sqlite3_result_error_nomem(c);
    k->set = true;
}

struct Welford {
    int64_t n;
    double mean, m2;
};

void varStep(sqlite3_context* c, int, sqlite3_value** argv) {
    auto* w = static_cast<Welford*>(sqlite3_aggregate_context(c, sizeof(Welford)));
    if (w == nullptr) return sqlite3_result_error_nomem(c);
    try {
        auto n = toNumber(argv[0]);
        if (!n) return;
        const double v = n->value();
        ++w->n;
        const double delta = v - w->mean;
        w->mean += delta / static_cast<double>(w->n);
        w->m2 += delta * (v - w->mean);
    } catch (const AccessError& e) {
        sqlite3_result_error(c, errorMessage(e).c_str(), -1);
    }
}

template <bool Sample, bool Root>
void varFinal(sqlite3_context* c) {
    auto* w = static_cast<Welford*>(sqlite3_aggregate_context(c, 0));
    const int64_t n = w ? w->n : 0;
    if (n < (Sample ? 2 : 1)) return sqlite3_result_null(c);
    const double var = w->m2 / static_cast<double>(Sample ? n - 1 : n);
    sqlite3_result_double(c, Root ? std::sqrt(var) : var);
}

// --- the table ---------------------------------------------------------------

struct Def {
    const char* name;
    int minArgs, maxArgs;  // maxArgs -1: any number
    Body body;
    bool deterministic = true;
};

std::optional<icu::UnicodeString> strArg(Ctx& x, int i) {
    return x.str(i);
}

const Def kFunctions[] = {
    // Operators.
    {"acc_div", 2, 2,
     [](Ctx& x) {
         auto a = toNumber(x.arg(0)), b = toNumber(x.arg(1));
         if (!a || !b) return x.resultNull();
         if (b->value() == 0) fail(a->value() == 0 ? Category::Overflow : Category::DivisionByZero);
         x.resultReal(a->value() / b->value());
     }},
    {"acc_idiv", 2, 2,
     [](Ctx& x) {
         auto a = toNumber(x.arg(0)), b = toNumber(x.arg(1));
         if (!a || !b) return x.resultNull();
         const int64_t l = toLong(*a), r = toLong(*b);
         if (r == 0) fail(Category::DivisionByZero);
         const int64_t q = l / r;
         if (q > INT32_MAX) fail(Category::Overflow);
         x.resultInt(q);
     }},
    // Xor, Eqv and Imp work bit by bit on Long values, so on -1/0 they are the
    // logical operators; Null follows VBA's tables.
    {"acc_xor", 2, 2,
     [](Ctx& x) {
         auto a = optLong(x.arg(0)), b = optLong(x.arg(1));
         if (!a || !b) return x.resultNull();
         x.resultInt(*a ^ *b);
     }},
    {"acc_eqv", 2, 2,
     [](Ctx& x) {
         auto a = optLong(x.arg(0)), b = optLong(x.arg(1));
         if (!a || !b) return x.resultNull();
         x.resultInt(~(*a ^ *b));
     }},
    {"acc_imp", 2, 2,
     [](Ctx& x) {
         auto a = optLong(x.arg(0)), b = optLong(x.arg(1));
         if (!a && !b) return x.resultNull();
         if (!a) return *b == -1 ? x.resultInt(-1) : x.resultNull();
         if (!b) return *a == 0 ? x.resultInt(-1) : x.resultNull();
         x.resultInt(~*a | *b);
     }},
    {"acc_mod", 2, 2,
     [](Ctx& x) {
         auto a = toNumber(x.arg(0)), b = toNumber(x.arg(1));
         if (!a || !b) return x.resultNull();
         const int64_t l = toLong(*a), r = toLong(*b);
         if (r == 0) fail(Category::DivisionByZero);
         x.resultInt(l % r);
     }},
    {"acc_pow", 2, 2,
     [](Ctx& x) {
         auto a = toNumber(x.arg(0)), b = toNumber(x.arg(1));
         if (!a || !b) return x.resultNull();
         const double base = a->value(), e = b->value();
         if (base < 0 && e != std::trunc(e)) fail(Category::InvalidCall, "negative base");
         if (base == 0 && e < 0) fail(Category::DivisionByZero);
         x.resultReal(std::pow(base, e));
     }},
    {"acc_plus", 2, 2,
     [](Ctx& x) {
         if (x.isNull(0) || x.isNull(1)) return x.resultNull();
         const int ta = sqlite3_value_type(x.arg(0)), tb = sqlite3_value_type(x.arg(1));
         if (ta == SQLITE_TEXT && tb == SQLITE_TEXT)
             return x.resultText(x.utf8Arg(0) + x.utf8Arg(1));
         const Number a = *toNumber(x.arg(0)), b = *toNumber(x.arg(1));
         int64_t sum = 0;
         if (a.isInt && b.isInt && !__builtin_add_overflow(a.i, b.i, &sum)) return x.resultInt(sum);
         x.resultReal(a.value() + b.value());
     }},
    {"acc_concat", 2, -1,
     [](Ctx& x) {
         if (x.argc % 2 != 0) fail(Category::InvalidCall, "acc_concat takes value, tag pairs");
         std::string out;
         bool any = false;
         for (int i = 0; i < x.argc; i += 2) {
             if (x.isNull(i)) continue;
             any = true;
             out += toText(x.arg(i), parseTag(x.arg(i + 1)));
             if (out.size() > x.st.options.maxTextBytes) fail(Category::OutOfStringSpace);
         }
         if (!any) return x.resultNull();
         x.resultText(out);
     }},
    {"acc_like", 2, 2, fnLike},
    {"acc_tonum_strict", 1, 1,
     [](Ctx& x) {
         auto n = toNumber(x.arg(0));
         if (!n) return x.resultNull();
         if (n->isInt) return x.resultInt(n->i);
         x.resultReal(n->d);
     }},
    {"acc_todate_strict", 1, 1,
     [](Ctx& x) {
         auto d = toDateSerial(x.arg(0), x.st);
         if (!d) return x.resultNull();
         x.resultReal(*d);
     }},

    // Logic and Null.
    {"acc_iif", 3, 3, [](Ctx& x) { x.resultValue(x.arg(truthy(x.arg(0)) ? 1 : 2)); }},
    {"acc_nz", 1, 2,
     [](Ctx& x) {
         if (!x.isNull(0)) return x.resultValue(x.arg(0));
         if (x.has(1)) return x.resultValue(x.arg(1));
         x.resultText(std::string());
     }},
    {"acc_isnull", 1, 1, [](Ctx& x) { x.resultBool(x.isNull(0)); }},
    {"acc_isnumeric", 1, 2,
     [](Ctx& x) {
         const int t = sqlite3_value_type(x.arg(0));
         if (x.has(1) && parseTag(x.arg(1)) == Tag::Date) return x.resultBool(false);
         if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return x.resultBool(true);
         if (t == SQLITE_TEXT) return x.resultBool(parseNumber(x.utf8Arg(0)).has_value());
         x.resultBool(false);
     }},
    {"acc_isdate", 1, 2,
     [](Ctx& x) {
         const int t = sqlite3_value_type(x.arg(0));
         if (t == SQLITE_TEXT)
             return x.resultBool(parseDate(x.utf8Arg(0), currentYear(x.st)).has_value());
         if ((t == SQLITE_INTEGER || t == SQLITE_FLOAT) && x.has(1) &&
             parseTag(x.arg(1)) == Tag::Date) {
             DayTime dt;
             return x.resultBool(splitSerial(sqlite3_value_double(x.arg(0)), dt));
         }
         x.resultBool(false);
     }},
    {"acc_switch", 2, -1,
     [](Ctx& x) {
         if (x.argc % 2 != 0) fail(Category::InvalidCall, "Switch needs condition, value pairs");
         for (int i = 0; i < x.argc; i += 2)
             if (truthy(x.arg(i))) return x.resultValue(x.arg(i + 1));
         x.resultNull();
     }},
    {"acc_choose", 2, -1,
     [](Ctx& x) {
         auto n = toNumber(x.arg(0));
         if (!n) return x.resultNull();
         const double i = n->isInt ? static_cast<double>(n->i) : bankers(n->d);
         if (i < 1 || i > x.argc - 1) return x.resultNull();
         x.resultValue(x.arg(static_cast<int>(i)));
     }},

    // Conversions.
    {"acc_cstr", 1, 2,
     [](Ctx& x) {
         if (x.isNull(0)) fail(Category::InvalidUseOfNull);
         x.resultText(toText(x.arg(0), x.has(1) ? parseTag(x.arg(1)) : Tag::Variant));
     }},
    {"acc_text", 1, 2,
     [](Ctx& x) {
         if (x.isNull(0)) return x.resultNull();
         x.resultText(toText(x.arg(0), x.has(1) ? parseTag(x.arg(1)) : Tag::Variant));
     }},
    {"acc_cvar", 1, 1, [](Ctx& x) { x.resultValue(x.arg(0)); }},
    {"acc_cbyte", 1, 1, [](Ctx& x) { convertToInteger(x, 0, 255); }},
    {"acc_cint", 1, 1, [](Ctx& x) { convertToInteger(x, -32768, 32767); }},
    {"acc_clng", 1, 1, [](Ctx& x) { convertToInteger(x, INT32_MIN, INT32_MAX); }},
    {"acc_cdbl", 1, 1, [](Ctx& x) { x.resultReal(needNumber(x.arg(0)).value()); }},
    {"acc_csng", 1, 1,
     [](Ctx& x) {
         const double d = needNumber(x.arg(0)).value();
         if (std::fabs(d) > FLT_MAX) fail(Category::Overflow);
         x.resultReal(static_cast<float>(d));
     }},
    {"acc_ccur", 1, 1,
     [](Ctx& x) {
         const double d = needNumber(x.arg(0)).value();
         if (std::fabs(d) > 922337203685477.5807) fail(Category::Overflow);
         x.resultReal(bankers(d * 10000) / 10000);
     }},
    {"acc_cdec", 1, 1,
     [](Ctx& x) {
         const double d = needNumber(x.arg(0)).value();
         if (std::fabs(d) > 7.9228162514264337593543950335e28) fail(Category::Overflow);
         x.resultReal(d);
     }},
    {"acc_cbool", 1, 1,
     [](Ctx& x) {
         if (x.isNull(0)) fail(Category::InvalidUseOfNull);
         if (sqlite3_value_type(x.arg(0)) == SQLITE_TEXT) {
             std::string s = trimSpaces(x.utf8Arg(0), true, true);
             if (sqlite3_stricmp(s.c_str(), "true") == 0) return x.resultBool(true);
             if (sqlite3_stricmp(s.c_str(), "false") == 0) return x.resultBool(false);
         }
         x.resultBool(needNumber(x.arg(0)).value() != 0);
     }},
    {"acc_cdate", 1, 1,
     [](Ctx& x) {
         if (x.isNull(0)) fail(Category::InvalidUseOfNull);
         x.resultReal(*toDateSerial(x.arg(0), x.st));
     }},
    {"acc_val", 1, 1, fnVal},
    {"acc_str", 1, 1,
     [](Ctx& x) {
         auto n = toNumber(x.arg(0));
         if (!n) return x.resultNull();
         std::string s = n->isInt ? std::to_string(n->i) : numberText(n->d);
         if (s[0] != '-') s.insert(0, " ");
         x.resultText(s);
     }},
    {"acc_hex", 1, 1, [](Ctx& x) { fnRadix(x, 16); }},
    {"acc_oct", 1, 1, [](Ctx& x) { fnRadix(x, 8); }},
    {"acc_int", 1, 1, intFix<true>},
    {"acc_fix", 1, 1, intFix<false>},
    {"acc_abs", 1, 1,
     [](Ctx& x) {
         auto n = toNumber(x.arg(0));
         if (!n) return x.resultNull();
         if (n->isInt && n->i != INT64_MIN) return x.resultInt(n->i < 0 ? -n->i : n->i);
         x.resultReal(std::fabs(n->value()));
     }},
    {"acc_sgn", 1, 1,
     [](Ctx& x) {
         auto n = toNumber(x.arg(0));
         if (!n) return x.resultNull();
         const double v = n->value();
         x.resultInt(v > 0 ? 1 : v < 0 ? -1 : 0);
     }},
    {"acc_sqr", 1, 1,
     [](Ctx& x) {
         auto n = toNumber(x.arg(0));
         if (!n) return x.resultNull();
         if (n->value() < 0) fail(Category::InvalidCall, "Sqr of a negative number");
         x.resultReal(std::sqrt(n->value()));
     }},
    {"acc_exp", 1, 1,
     [](Ctx& x) {
         auto n = toNumber(x.arg(0));
         if (!n) return x.resultNull();
         if (n->value() > 709.782712893384) fail(Category::Overflow);
         x.resultReal(std::exp(n->value()));
     }},
    {"acc_log", 1, 1,
     [](Ctx& x) {
         auto n = toNumber(x.arg(0));
         if (!n) return x.resultNull();
         if (n->value() <= 0) fail(Category::InvalidCall, "Log of a number <= 0");
         x.resultReal(std::log(n->value()));
     }},
    {"acc_sin", 1, 1, realFn<std::sin>},
    {"acc_cos", 1, 1, realFn<std::cos>},
    {"acc_tan", 1, 1, realFn<std::tan>},
    {"acc_atn", 1, 1, realFn<std::atan>},
    {"acc_round", 1, 2,
     [](Ctx& x) {
         int64_t digits = 0;
         if (x.has(1)) {
             digits = needLong(x.arg(1));
             if (digits < 0) fail(Category::InvalidCall, "negative digits");
         }
         auto n = toNumber(x.arg(0));
         if (!n) return x.resultNull();
         if (n->isInt) return x.resultInt(n->i);
         if (digits > 22) return x.resultReal(n->d);
         const double f = std::pow(10.0, static_cast<double>(digits));
         const double y = n->d * f;
         if (!std::isfinite(y)) return x.resultReal(n->d);
         // A product that rounded onto .5 is a tie only if the exact product
         // is one: 2.675 is stored below 2.675, so Round(2.675, 2) = 2.67.
         const double fl = std::floor(y);
         if (y - fl == 0.5) {
             const double err = std::fma(n->d, f, -y);
             if (err < 0) return x.resultReal(fl / f);
             if (err > 0) return x.resultReal((fl + 1) / f);
         }
         x.resultReal(bankers(y) / f);
     }},

    // Strings.
    {"acc_len", 1, 1,
     [](Ctx& x) {
         auto s = x.str(0);
         if (!s) return x.resultNull();
         x.resultInt(s->length());
     }},
    {"acc_left", 2, 2,
     [](Ctx& x) {
         const int64_t n = lengthArg(x, 1);
         auto s = x.str(0);
         if (!s) return x.resultNull();
         x.resultText(
             icu::UnicodeString(*s, 0, static_cast<int32_t>(std::min<int64_t>(n, s->length()))));
     }},
    {"acc_right", 2, 2,
     [](Ctx& x) {
         const int64_t n = lengthArg(x, 1);
         auto s = x.str(0);
         if (!s) return x.resultNull();
         const int32_t k = static_cast<int32_t>(std::min<int64_t>(n, s->length()));
         x.resultText(icu::UnicodeString(*s, s->length() - k));
     }},
    {"acc_mid", 2, 3,
     [](Ctx& x) {
         const int64_t start = needLong(x.arg(1));
         if (start < 1) fail(Category::InvalidCall, "start");
         const int64_t n = x.has(2) ? lengthArg(x, 2) : INT32_MAX;
         auto s = x.str(0);
         if (!s) return x.resultNull();
         if (start > s->length()) return x.resultText(std::string());
         const int64_t k = std::min<int64_t>(n, s->length() - (start - 1));
         x.resultText(
             icu::UnicodeString(*s, static_cast<int32_t>(start - 1), static_cast<int32_t>(k)));
     }},
    {"acc_instr", 2, 4, fnInStr},
    {"acc_instrrev", 2, 4, fnInStrRev},
    {"acc_replace", 3, 6, fnReplace},
    {"acc_ucase", 1, 1,
     [](Ctx& x) {
         auto s = x.str(0);
         if (!s) return x.resultNull();
         x.resultText(s->toUpper(icu::Locale::getUS()));
     }},
    {"acc_lcase", 1, 1,
     [](Ctx& x) {
         auto s = x.str(0);
         if (!s) return x.resultNull();
         x.resultText(s->toLower(icu::Locale::getUS()));
     }},
    {"acc_trim", 1, 1,
     [](Ctx& x) {
         x.isNull(0) ? x.resultNull() : x.resultText(trimSpaces(x.utf8Arg(0), true, true));
     }},
    {"acc_ltrim", 1, 1,
     [](Ctx& x) {
         x.isNull(0) ? x.resultNull() : x.resultText(trimSpaces(x.utf8Arg(0), true, false));
     }},
    {"acc_rtrim", 1, 1,
     [](Ctx& x) {
         x.isNull(0) ? x.resultNull() : x.resultText(trimSpaces(x.utf8Arg(0), false, true));
     }},
    {"acc_space", 1, 1,
     [](Ctx& x) {
         const int64_t n = lengthArg(x, 0);
         if (static_cast<uint64_t>(n) > x.st.options.maxTextBytes) fail(Category::OutOfStringSpace);
         x.resultText(std::string(static_cast<size_t>(n), ' '));
     }},
    {"acc_string", 2, 2, fnString},
    {"acc_strcomp", 2, 3,
     [](Ctx& x) {
         const bool text = x.textCompare(2);
         auto a = x.str(0), b = x.str(1);
         if (!a || !b) return x.resultNull();
         const int8_t r =
             text ? foldSimple(*a).compareCodePointOrder(foldSimple(*b)) : a->compare(*b);
         x.resultInt(r < 0 ? -1 : r > 0 ? 1 : 0);
     }},
    {"acc_strreverse", 1, 1,
     [](Ctx& x) {
         auto s = strArg(x, 0);
         if (!s) fail(Category::InvalidUseOfNull);
         icu::UnicodeString out;
         for (int32_t i = s->length(); i > 0;) {
             const UChar32 c = s->char32At(i - 1);
             out.append(c);
             i -= U16_LENGTH(c);
         }
         x.resultText(out);
     }},
    {"acc_strconv", 2, 3, fnStrConv},
    {"acc_asc", 1, 1,
     [](Ctx& x) {
         auto s = x.str(0);
         if (!s) fail(Category::InvalidUseOfNull);
         if (s->isEmpty()) fail(Category::InvalidCall, "empty string");
         x.resultInt(unicodeToCp1252(s->char32At(0)));
     }},
    {"acc_ascw", 1, 1,
     [](Ctx& x) {
         auto s = x.str(0);
         if (!s) fail(Category::InvalidUseOfNull);
         if (s->isEmpty()) fail(Category::InvalidCall, "empty string");
         x.resultInt(static_cast<int16_t>(s->charAt(0)));
     }},
    {"acc_chr", 1, 1,
     [](Ctx& x) {
         const int64_t n = needLong(x.arg(0));
         if (n < 0 || n > 255) fail(Category::InvalidCall, "character code");
         x.resultText(icu::UnicodeString(cp1252ToUnicode(static_cast<int>(n))));
     }},
    {"acc_chrw", 1, 1,
     [](Ctx& x) {
         int64_t n = needLong(x.arg(0));
         if (n < -32768 || n > 65535) fail(Category::InvalidCall, "character code");
         if (n < 0) n += 65536;
         const UChar32 c = U_IS_SURROGATE(n) ? 0xFFFD : static_cast<UChar32>(n);
         x.resultText(icu::UnicodeString(c));
     }},

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

    // $ forms that are more than a Null check (see kStringForms).
    {"acc_format_s", 2, 5, fnFormat<true>},
    {"acc_date_s", 0, 0, nowText<true>, false},
    {"acc_time_s", 0, 0, nowText<false>, false},

    // Type checks and random numbers.
    {"acc_isempty", 1, 1, [](Ctx& x) { x.resultBool(false); }},
    {"acc_iserror", 1, 1, [](Ctx& x) { x.resultBool(false); }},
    {"acc_vartype", 1, 2, [](Ctx& x) { x.resultInt(vbType(x).code); }},
    {"acc_typename", 1, 2, [](Ctx& x) { x.resultText(std::string(vbType(x).name)); }},
    {"acc_rnd", 0, 1, fnRnd, false},
    {"acc_timer", 0, 0,
     [](Ctx& x) {
         DayTime dt;
         if (!splitSerial(x.st.now(), dt)) fail(Category::Overflow, "date out of range");
         x.resultReal(static_cast<float>(dt.second));
     },
     false},
    {"acc_partition", 4, 4, fnPartition},

    // Financial.
    {"acc_pmt", 3, 5,
     [](Ctx& x) {
         finResult(x, finPmt(numArg(x, 0), numArg(x, 1), numArg(x, 2), numArg(x, 3), dueArg(x, 4)));
     }},
    {"acc_fv", 3, 5,
     [](Ctx& x) {
         finResult(x, finFv(numArg(x, 0), numArg(x, 1), numArg(x, 2), numArg(x, 3), dueArg(x, 4)));
     }},
    {"acc_pv", 3, 5,
     [](Ctx& x) {
         finResult(x, finPv(numArg(x, 0), numArg(x, 1), numArg(x, 2), numArg(x, 3), dueArg(x, 4)));
     }},
    {"acc_nper", 3, 5,
     [](Ctx& x) {
         finResult(x,
                   finNPer(numArg(x, 0), numArg(x, 1), numArg(x, 2), numArg(x, 3), dueArg(x, 4)));
     }},
    {"acc_ipmt", 4, 6,
     [](Ctx& x) {
         finResult(x, finIPmt(numArg(x, 0), numArg(x, 1), numArg(x, 2), numArg(x, 3), numArg(x, 4),
                              dueArg(x, 5)));
     }},
    {"acc_ppmt", 4, 6,
     [](Ctx& x) {
         finResult(x, finPPmt(numArg(x, 0), numArg(x, 1), numArg(x, 2), numArg(x, 3), numArg(x, 4),
                              dueArg(x, 5)));
     }},
    {"acc_rate", 3, 6,
     [](Ctx& x) {
         finResult(x, finRate(numArg(x, 0), numArg(x, 1), numArg(x, 2), numArg(x, 3), dueArg(x, 4),
                              numArg(x, 5, 0.1)));
     }},
    {"acc_sln", 3, 3,
     [](Ctx& x) { finResult(x, finSln(numArg(x, 0), numArg(x, 1), numArg(x, 2))); }},
    {"acc_syd", 4, 4,
     [](Ctx& x) { finResult(x, finSyd(numArg(x, 0), numArg(x, 1), numArg(x, 2), numArg(x, 3))); }},
    {"acc_ddb", 4, 5,
     [](Ctx& x) {
         finResult(x,
                   finDdb(numArg(x, 0), numArg(x, 1), numArg(x, 2), numArg(x, 3), numArg(x, 4, 2)));
     }},
};

// String-returning $ forms registered as acc_<name>_s: the plain function,
// except that a Null argument raises "Invalid use of Null".
struct StringForm {
    const char* name;
    const char* plain;
};

const StringForm kStringForms[] = {
    {"acc_left_s", "acc_left"},     {"acc_right_s", "acc_right"}, {"acc_mid_s", "acc_mid"},
    {"acc_ucase_s", "acc_ucase"},   {"acc_lcase_s", "acc_lcase"}, {"acc_trim_s", "acc_trim"},
    {"acc_ltrim_s", "acc_ltrim"},   {"acc_rtrim_s", "acc_rtrim"}, {"acc_space_s", "acc_space"},
    {"acc_string_s", "acc_string"}, {"acc_chr_s", "acc_chr"},     {"acc_chrw_s", "acc_chrw"},
    {"acc_str_s", "acc_str"},       {"acc_hex_s", "acc_hex"},     {"acc_oct_s", "acc_oct"},
};

struct AggDef {
    const char* name;
    void (*step)(sqlite3_context*, int, sqlite3_value**);
    void (*final)(sqlite3_context*);
};

const AggDef kAggregates[] = {
    {"acc_first", keepStep<false>, keepFinal},    {"acc_last", keepStep<true>, keepFinal},
    {"acc_stdev", varStep, varFinal<true, true>}, {"acc_stdevp", varStep, varFinal<false, true>},
    {"acc_var", varStep, varFinal<true, false>},  {"acc_varp", varStep, varFinal<false, false>},
    {"acc_scalar", scalarStep, keepFinal},
};

tab::Status sqliteError(sqlite3* db, const char* name) {
    return tab::Error(tab::Errc::Internal,
                      std::string("registering ") + name + ": " + sqlite3_errmsg(db));
}

}  // namespace

tab::Status registerAccessFunctions(sqlite3* db, const FunctionOptions& options) {
    if (db == nullptr) return tab::Error(tab::Errc::InvalidArgument, "no database connection");
    auto state = std::make_shared<State>();
    state->options = options;
    auto add = [&](const Def& f, const char* name, bool nullIsError) {
        const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
        const int lo = f.maxArgs < 0 ? -1 : f.minArgs;
        const int hi = f.maxArgs < 0 ? -1 : f.maxArgs;
        for (int n = lo; n <= hi; ++n) {
            auto* entry = new Entry{f.body, f.minArgs, state, nullIsError};
            const int rc =
                sqlite3_create_function_v2(db, name, n, flags, entry, trampoline, nullptr, nullptr,
                                           [](void* p) { delete static_cast<Entry*>(p); });
            if (rc != SQLITE_OK) return false;
        }
        return true;
    };
    for (const Def& f : kFunctions)
        if (!add(f, f.name, false)) return sqliteError(db, f.name);
    for (const StringForm& s : kStringForms) {
        const Def* plain = nullptr;
        for (const Def& f : kFunctions)
            if (std::strcmp(f.name, s.plain) == 0) plain = &f;
        if (plain == nullptr)
            return tab::Error(tab::Errc::Internal, std::string("no function ") + s.plain);
        if (!add(*plain, s.name, true)) return sqliteError(db, s.name);
    }
    for (const AggDef& a : kAggregates) {
        const int rc = sqlite3_create_function_v2(db, a.name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                                  nullptr, nullptr, a.step, a.final, nullptr);
        if (rc != SQLITE_OK) return sqliteError(db, a.name);
    }
    return tab::Status::success();
}

}  // namespace tab::sqlbridge
