// Decimal arithmetic. A Decimal-typed SQL value is its canonical text
// ("-123.45", no trailing zeros), the value a 96-bit magnitude, a sign and
// a scale 0..28 as OLE's DECIMAL holds it. Results are exact while they fit;
// otherwise decimals are given up, rounding half to even, and a whole part
// that cannot fit is an Overflow. Products and aligned sums are formed in
// 256 bits so that nothing is lost before that rounding.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "calls.h"
#include "tabulary/jet/value.h"
#include "tabulary/jet/value_text.h"

namespace tab::sqlbridge::detail {

namespace {

__extension__ typedef unsigned __int128 U128;

constexpr int kMaxScale = 28;
constexpr U128 kMax96 = (static_cast<U128>(1) << 96) - 1;

// Little-endian 64-bit limbs; the callers keep values below 2^256.
struct U256 {
    uint64_t w[4];
};

U256 wide(U128 v) {
    return {{static_cast<uint64_t>(v), static_cast<uint64_t>(v >> 64), 0, 0}};
}

bool isZero(const U256& a) {
    return (a.w[0] | a.w[1] | a.w[2] | a.w[3]) == 0;
}

bool fits96(const U256& a) {
    return a.w[3] == 0 && a.w[2] == 0 && (a.w[1] >> 32) == 0;
}

U128 low128(const U256& a) {
    return (static_cast<U128>(a.w[1]) << 64) | a.w[0];
}

int compare(const U256& a, const U256& b) {
    for (int i = 3; i >= 0; --i)
        if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
    return 0;
}

U256 add(const U256& a, const U256& b) {
    U256 r{};
    U128 carry = 0;
    for (int i = 0; i < 4; ++i) {
        const U128 s = static_cast<U128>(a.w[i]) + b.w[i] + carry;
        r.w[i] = static_cast<uint64_t>(s);
        carry = s >> 64;
    }
    return r;
}

// a - b for a >= b.
U256 subtract(const U256& a, const U256& b) {
    U256 r{};
    uint64_t borrow = 0;
    for (int i = 0; i < 4; ++i) {
        const uint64_t d = a.w[i] - b.w[i];
        const uint64_t d2 = d - borrow;
        borrow = (a.w[i] < b.w[i] || d < borrow) ? 1 : 0;
        r.w[i] = d2;
    }
    return r;
}

U256 multiplySmall(const U256& a, uint64_t m) {
    U256 r{};
    U128 carry = 0;
    for (int i = 0; i < 4; ++i) {
        const U128 p = static_cast<U128>(a.w[i]) * m + carry;
        r.w[i] = static_cast<uint64_t>(p);
        carry = p >> 64;
    }
    return r;
}

U256 multiply(U128 a, U128 b) {
    const uint64_t x[2] = {static_cast<uint64_t>(a), static_cast<uint64_t>(a >> 64)};
    const uint64_t y[2] = {static_cast<uint64_t>(b), static_cast<uint64_t>(b >> 64)};
    U256 r{};
    for (int i = 0; i < 2; ++i) {
        U128 carry = 0;
        for (int j = 0; j < 2; ++j) {
            const U128 p = static_cast<U128>(x[i]) * y[j] + r.w[i + j] + carry;
            r.w[i + j] = static_cast<uint64_t>(p);
            carry = p >> 64;
        }
        r.w[i + 2] = static_cast<uint64_t>(carry);
    }
    return r;
}

U256 multiplyPow10(U256 a, int k) {
    for (; k >= 19; k -= 19) a = multiplySmall(a, 10'000'000'000'000'000'000ull);
    uint64_t p = 1;
    for (; k > 0; --k) p *= 10;
    return p == 1 ? a : multiplySmall(a, p);
}

// a /= d, giving the remainder.
uint64_t divideSmall(U256& a, uint64_t d) {
    U128 rest = 0;
    for (int i = 3; i >= 0; --i) {
        const U128 cur = (rest << 64) | a.w[i];
        a.w[i] = static_cast<uint64_t>(cur / d);
        rest = cur % d;
    }
    return static_cast<uint64_t>(rest);
}

U128 pow10(int k) {
    U128 p = 1;
    while (k-- > 0) p *= 10;
    return p;
}

struct Dec {
    U128 m = 0;  // below 2^96
    int scale = 0;
    bool negative = false;
};

// m / 10^scale brought to at most maxScale decimals and 96 bits, rounding
// half to even; `sticky` says that something nonzero lies below m's last
// digit (only meaningful when a digit is dropped).
Dec fit(U256 m, int scale, bool negative, bool sticky = false, int maxScale = kMaxScale) {
    if (isZero(m)) return {};
    if (scale < 0) {
        if (scale < -kMaxScale - 1) fail(Category::Overflow);
        for (; scale < 0; ++scale) {
            if (!fits96(m)) fail(Category::Overflow);
            m = multiplySmall(m, 10);
        }
    }
    // 2^256 has 78 digits: far enough below the last kept decimal, all is zero.
    if (scale > maxScale + 80) return {};
    int last = 0;
    while (scale > maxScale || !fits96(m)) {
        if (scale == 0) fail(Category::Overflow);
        sticky = sticky || last != 0;
        last = static_cast<int>(divideSmall(m, 10));
        --scale;
    }
    if (last > 5 || (last == 5 && (sticky || (m.w[0] & 1) != 0))) {
        m = add(m, wide(1));
        // Only 2^96 itself: one decimal fewer.
        if (!fits96(m)) return fit(m, scale, negative, false, maxScale);
    }
    return {low128(m), scale, negative && !isZero(m)};
}

std::string text(const Dec& d) {
    jet::Decimal j;
    j.hi = static_cast<uint64_t>(d.m >> 64);
    j.lo = static_cast<uint64_t>(d.m);
    j.scale = static_cast<uint8_t>(d.scale);
    j.negative = d.negative && d.m != 0;
    return jet::decimalToText(j);
}

// Every digit of a number in the forms text converts from ("-1,234.5",
// "(7)", "$3", "2.5E-3"); nullopt for any other text. More digits than a
// Decimal holds round half to even.
std::optional<Dec> parseText(std::string_view s) {
    bool negative = false;
    if (!takeNumberSign(s, negative)) return std::nullopt;
    // Up to 32 significant digits are kept: more than a Decimal's 29, so the
    // ones dropped only decide the rounding through `sticky`.
    U128 m = 0;
    int kept = 0, scale = 0;
    bool sticky = false, digits = false, point = false;
    size_t i = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            if (m == 0 && c == '0') {
                if (point) ++scale;
            } else if (kept < 32) {
                m = m * 10 + static_cast<unsigned>(c - '0');
                ++kept;
                if (point) ++scale;
            } else {
                if (!point) --scale;
                sticky = sticky || c != '0';
            }
        } else if (c == ',' && !point && digits) {
            continue;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return std::nullopt;
    if (i < s.size()) {
        const char c = s[i];
        if (c != 'e' && c != 'E' && c != 'd' && c != 'D') return std::nullopt;
        ++i;
        bool expNegative = false;
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) expNegative = s[i++] == '-';
        if (i >= s.size()) return std::nullopt;
        int64_t e = 0;
        for (; i < s.size(); ++i) {
            if (s[i] < '0' || s[i] > '9') return std::nullopt;
            if (e < 1'000'000) e = e * 10 + (s[i] - '0');
        }
        scale += static_cast<int>(expNegative ? e : -e);
    }
    if (m == 0) return Dec{};
    if (sticky) {
        m = m * 10 + 1;
        ++scale;
    }
    return fit(wide(m), scale, negative);
}

// A double by its 15 significant digits, as CDec takes one.
Dec fromDouble(double d) {
    if (!std::isfinite(d)) fail(Category::Overflow);
    if (d == 0) return {};
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", d);
    return *parseText(buf);
}

Dec fromInteger(int64_t i) {
    Dec d;
    d.negative = i < 0;
    d.m = d.negative ? static_cast<U128>(0 - static_cast<uint64_t>(i)) : static_cast<U128>(i);
    return d;
}

// Any value as a Decimal; nullopt for Null.
std::optional<Dec> toDec(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            return std::nullopt;
        case SQLITE_INTEGER:
            return fromInteger(sqlite3_value_int64(v));
        case SQLITE_FLOAT:
            return fromDouble(sqlite3_value_double(v));
        case SQLITE_TEXT: {
            const char* s = reinterpret_cast<const char*>(sqlite3_value_text(v));
            if (auto d = parseText(s)) return d;
            // &H and &O forms.
            if (auto n = parseNumber(s)) return fromDouble(*n);
            fail(Category::TypeMismatch);
        }
        default:
            fail(Category::TypeMismatch);
    }
}

Dec sum(const Dec& a, const Dec& b) {
    const int scale = a.scale > b.scale ? a.scale : b.scale;
    const U256 x = multiplyPow10(wide(a.m), scale - a.scale);
    const U256 y = multiplyPow10(wide(b.m), scale - b.scale);
    if (a.negative == b.negative) return fit(add(x, y), scale, a.negative);
    if (compare(x, y) >= 0) return fit(subtract(x, y), scale, a.negative);
    return fit(subtract(y, x), scale, b.negative);
}

Dec negated(Dec d) {
    d.negative = !d.negative && d.m != 0;
    return d;
}

// q + r/d at `scale`, given as many more decimals as fit (up to 28) and
// rounded half to even; r < d.
Dec quotient(U256 q, U128 r, U128 d, int scale, bool negative) {
    for (; scale < 0; ++scale) {
        if (!fits96(q)) fail(Category::Overflow);
        const U128 r10 = r * 10;
        q = add(multiplySmall(q, 10), wide(r10 / d));
        r = r10 % d;
    }
    if (!fits96(q) || scale > kMaxScale) return fit(q, scale, negative, r != 0);
    U128 m = low128(q);
    while (scale < kMaxScale && r != 0) {
        const U128 r10 = r * 10;
        const U128 next = m * 10 + r10 / d;
        if (next > kMax96) break;
        m = next;
        r = r10 % d;
        ++scale;
    }
    if (2 * r > d || (2 * r == d && (m & 1) != 0)) ++m;
    return fit(wide(m), scale, negative);
}

Dec divided(const Dec& a, const Dec& b) {
    if (b.m == 0) fail(Category::DivisionByZero);
    return quotient(wide(a.m / b.m), a.m % b.m, b.m, a.scale - b.scale, a.negative != b.negative);
}

// Int and Fix: to a whole number, down or toward zero.
template <bool Floor>
void whole(Ctx& x) {
    auto a = toDec(x.arg(0));
    if (!a) return x.resultNull();
    const U128 unit = pow10(a->scale);
    Dec d;
    d.m = a->m / unit;
    if (Floor && a->negative && a->m % unit != 0) ++d.m;
    d.negative = a->negative && d.m != 0;
    x.resultText(text(d));
}

template <class Op>
void binary(Ctx& x, Op op) {
    auto a = toDec(x.arg(0));
    auto b = toDec(x.arg(1));
    if (!a || !b) return x.resultNull();
    x.resultText(text(op(*a, *b)));
}

// Currency in ten-thousandths.
std::optional<Dec> fromCurrency(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            return std::nullopt;
        case SQLITE_INTEGER: {
            Dec d = fromInteger(sqlite3_value_int64(v));
            d.scale = 4;
            return d;
        }
        case SQLITE_FLOAT: {
            const double r = bankers(sqlite3_value_double(v));
            if (!(std::fabs(r) < 9223372036854775808.0)) fail(Category::Overflow);
            Dec d = fromInteger(static_cast<int64_t>(r));
            d.scale = 4;
            return d;
        }
        default:
            fail(Category::TypeMismatch);
    }
}

// Sum and Avg: the exact total of every value at the largest scale seen,
// so that only the end result is rounded and the order of rows does not
// matter. Limbs of 64 bits: SQLite's aggregate context is only 8-byte
// aligned.
struct Total {
    U256 magnitude;
    int32_t scale;
    bool negative;
    int64_t count;
};

void totalStep(sqlite3_context* c, int, sqlite3_value** argv) {
    auto* t = static_cast<Total*>(sqlite3_aggregate_context(c, sizeof(Total)));
    if (t == nullptr) return sqlite3_result_error_nomem(c);
    std::optional<Dec> v;
    try {
        v = toDec(argv[0]);
    } catch (const AccessError& e) {
        return sqlite3_result_error(c, errorMessage(e).c_str(), -1);
    }
    if (!v) return;
    if (v->scale > t->scale) {
        t->magnitude = multiplyPow10(t->magnitude, v->scale - t->scale);
        t->scale = v->scale;
    }
    const U256 m = multiplyPow10(wide(v->m), t->scale - v->scale);
    if (t->negative == v->negative || isZero(t->magnitude)) {
        t->magnitude = add(t->magnitude, m);
        t->negative = v->negative;
    } else if (compare(t->magnitude, m) >= 0) {
        t->magnitude = subtract(t->magnitude, m);
    } else {
        t->magnitude = subtract(m, t->magnitude);
        t->negative = v->negative;
    }
    if (isZero(t->magnitude)) t->negative = false;
    ++t->count;
}

template <bool Average>
void totalFinal(sqlite3_context* c) {
    auto* t = static_cast<Total*>(sqlite3_aggregate_context(c, 0));
    if (t == nullptr || t->count == 0) return sqlite3_result_null(c);
    try {
        Dec d;
        if (Average) {
            U256 q = t->magnitude;
            const uint64_t r = divideSmall(q, static_cast<uint64_t>(t->count));
            d = quotient(q, r, static_cast<U128>(t->count), t->scale, t->negative);
        } else {
            d = fit(t->magnitude, t->scale, t->negative);
        }
        const std::string s = text(d);
        sqlite3_result_text64(c, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    } catch (const AccessError& e) {
        sqlite3_result_error(c, errorMessage(e).c_str(), -1);
    }
}

const Def kDecimal[] = {
    {"acc_cdec", 1, 1,
     [](Ctx& x) {
         if (x.isNull(0)) fail(Category::InvalidUseOfNull);
         x.resultText(text(*toDec(x.arg(0))));
     }},
    // The same conversion where a Null is a value, not an error.
    {"acc_todec", 1, 1,
     [](Ctx& x) {
         auto d = toDec(x.arg(0));
         d ? x.resultText(text(*d)) : x.resultNull();
     }},
    {"acc_cur_todec", 1, 1,
     [](Ctx& x) {
         auto d = fromCurrency(x.arg(0));
         d ? x.resultText(text(*d)) : x.resultNull();
     }},
    {"acc_dec_add", 2, 2, [](Ctx& x) { binary(x, sum); }},
    {"acc_dec_sub", 2, 2,
     [](Ctx& x) { binary(x, [](const Dec& a, const Dec& b) { return sum(a, negated(b)); }); }},
    {"acc_dec_mul", 2, 2,
     [](Ctx& x) {
         binary(x, [](const Dec& a, const Dec& b) {
             return fit(multiply(a.m, b.m), a.scale + b.scale, a.negative != b.negative);
         });
     }},
    {"acc_dec_div", 2, 2, [](Ctx& x) { binary(x, divided); }},
    {"acc_dec_neg", 1, 1,
     [](Ctx& x) {
         auto a = toDec(x.arg(0));
         a ? x.resultText(text(negated(*a))) : x.resultNull();
     }},
    {"acc_dec_abs", 1, 1,
     [](Ctx& x) {
         auto a = toDec(x.arg(0));
         if (!a) return x.resultNull();
         a->negative = false;
         x.resultText(text(*a));
     }},
    {"acc_dec_int", 1, 1, whole<true>},
    {"acc_dec_fix", 1, 1, whole<false>},
    {"acc_dec_round", 1, 2,
     [](Ctx& x) {
         auto a = toDec(x.arg(0));
         const int64_t places = x.has(1) ? needLong(x.arg(1)) : 0;
         if (places < 0) fail(Category::InvalidCall, "Round");
         if (!a) return x.resultNull();
         if (places >= a->scale) return x.resultText(text(*a));
         x.resultText(
             text(fit(wide(a->m), a->scale, a->negative, false, static_cast<int>(places))));
     }},
};

const AggDef kDecimalAggregates[] = {
    {"acc_dec_sum", totalStep, totalFinal<false>},
    {"acc_dec_avg", totalStep, totalFinal<true>},
};

}  // namespace

std::span<const Def> decimalFunctions() {
    return kDecimal;
}

std::span<const AggDef> decimalAggregates() {
    return kDecimalAggregates;
}

}  // namespace tab::sqlbridge::detail
