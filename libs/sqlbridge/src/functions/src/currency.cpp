// Currency arithmetic. A Currency-typed SQL value is the amount in
// ten-thousandths as a 64-bit integer, so that sums, differences and
// products stay exact; acc_ccur and acc_tocur bring other values in,
// rounding half to even at the fourth decimal as Access does.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "calls.h"

namespace tab::sqlbridge::detail {

namespace {

__extension__ typedef __int128 I128;

constexpr int64_t kScale = 10000;
constexpr double kLimit = 9223372036854775808.0;  // 2^63

int64_t checked(I128 v) {
    if (v > std::numeric_limits<int64_t>::max() || v < std::numeric_limits<int64_t>::min())
        fail(Category::Overflow);
    return static_cast<int64_t>(v);
}

// n / d rounded half to even; d > 0.
I128 divideEven(I128 n, I128 d) {
    I128 q = n / d, r = n % d;
    if (r < 0) {
        r += d;
        --q;
    }
    if (2 * r > d || (2 * r == d && (q & 1) != 0)) ++q;
    return q;
}

// The whole part scaled exactly, so that a large whole number stays whole.
int64_t scaledFromDouble(double d) {
    if (!(std::fabs(d) < 1e15)) fail(Category::Overflow);
    const double whole = std::trunc(d);
    const double cents = bankers((d - whole) * static_cast<double>(kScale));
    return checked(static_cast<I128>(static_cast<int64_t>(whole)) * kScale +
                   static_cast<int64_t>(cents));
}

// "-123.45678" exactly, rounded to four decimals; nullopt for any other form.
std::optional<int64_t> scaledFromPlainText(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    I128 v = 0;
    int decimals = 0, digits = 0;
    bool point = false;
    I128 tail = 0, tailScale = 1;  // digits beyond the fourth decimal
    for (char c : s) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') return std::nullopt;
        ++digits;
        if (point && decimals == 4) {
            if (tailScale < static_cast<I128>(1e30)) {
                tail = tail * 10 + (c - '0');
                tailScale *= 10;
            } else if (c != '0') {
                tail |= 1;  // only whether it is past the half matters
            }
            continue;
        }
        if (v > static_cast<I128>(1e30)) fail(Category::Overflow);
        v = v * 10 + (c - '0');
        if (point) ++decimals;
    }
    if (digits == 0) return std::nullopt;
    for (; decimals < 4; ++decimals) v *= 10;
    if (2 * tail > tailScale || (2 * tail == tailScale && (v & 1) != 0)) ++v;
    return checked(negative ? -v : v);
}

// A value in its own units (CCur's argument) as Currency.
int64_t toScaled(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER:
            return checked(static_cast<I128>(sqlite3_value_int64(v)) * kScale);
        case SQLITE_FLOAT:
            return scaledFromDouble(sqlite3_value_double(v));
        case SQLITE_TEXT:
            if (auto exact =
                    scaledFromPlainText(reinterpret_cast<const char*>(sqlite3_value_text(v))))
                return *exact;
            [[fallthrough]];
        default:
            return scaledFromDouble(needNumber(v).value());
    }
}

// A Currency-typed argument (already scaled); nullopt for Null.
std::optional<int64_t> scaledArg(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            return std::nullopt;
        case SQLITE_INTEGER:
            return sqlite3_value_int64(v);
        case SQLITE_FLOAT: {
            const double r = bankers(sqlite3_value_double(v));
            if (!(r >= -kLimit && r < kLimit)) fail(Category::Overflow);
            return static_cast<int64_t>(r);
        }
        default:
            fail(Category::TypeMismatch);
    }
}

template <class Op>
void binary(Ctx& x, Op op) {
    auto a = scaledArg(x.arg(0)), b = scaledArg(x.arg(1));
    if (!a || !b) return x.resultNull();
    x.resultInt(checked(op(static_cast<I128>(*a), static_cast<I128>(*b))));
}

// Int and Fix: to a whole amount, down or toward zero.
template <bool Floor>
void whole(Ctx& x) {
    auto a = scaledArg(x.arg(0));
    if (!a) return x.resultNull();
    int64_t q = *a / kScale;
    if (Floor && *a % kScale < 0) --q;
    x.resultInt(q * kScale);
}

// SQLite's aggregate context is only 8-byte aligned: the 128-bit total is
// copied in and out.
struct SumState {
    unsigned char total[sizeof(I128)];
    bool any;
};

I128 totalOf(const SumState& s) {
    I128 v;
    std::memcpy(&v, s.total, sizeof v);
    return v;
}

void addTo(SumState& s, int64_t x) {
    const I128 v = totalOf(s) + x;
    std::memcpy(s.total, &v, sizeof v);
}

void sumStep(sqlite3_context* c, int, sqlite3_value** argv) {
    auto* s = static_cast<SumState*>(sqlite3_aggregate_context(c, sizeof(SumState)));
    if (s == nullptr) return sqlite3_result_error_nomem(c);
    const int type = sqlite3_value_type(argv[0]);
    if (type == SQLITE_NULL) return;
    if (type == SQLITE_INTEGER) {
        addTo(*s, sqlite3_value_int64(argv[0]));
    } else {
        try {
            addTo(*s, *scaledArg(argv[0]));
        } catch (const AccessError& e) {
            return sqlite3_result_error(c, errorMessage(e).c_str(), -1);
        }
    }
    s->any = true;
}

// The total may pass the range on the way and come back: only the end
// result must fit, as the sum of exact integers does not depend on order.
void sumFinal(sqlite3_context* c) {
    auto* s = static_cast<SumState*>(sqlite3_aggregate_context(c, 0));
    if (s == nullptr || !s->any) return sqlite3_result_null(c);
    const I128 total = totalOf(*s);
    if (total > std::numeric_limits<int64_t>::max() || total < std::numeric_limits<int64_t>::min())
        return sqlite3_result_error(c, errorMessage(AccessError{Category::Overflow, {}}).c_str(),
                                    -1);
    sqlite3_result_int64(c, static_cast<int64_t>(total));
}

const Def kCurrency[] = {
    {"acc_ccur", 1, 1, [](Ctx& x) { x.resultInt(toScaled(x.arg(0))); }},
    // The same conversion where a Null is a value, not an error.
    {"acc_tocur", 1, 1,
     [](Ctx& x) { x.isNull(0) ? x.resultNull() : x.resultInt(toScaled(x.arg(0))); }},
    {"acc_cur_add", 2, 2, [](Ctx& x) { binary(x, [](I128 a, I128 b) { return a + b; }); }},
    {"acc_cur_sub", 2, 2, [](Ctx& x) { binary(x, [](I128 a, I128 b) { return a - b; }); }},
    {"acc_cur_mul", 2, 2,
     [](Ctx& x) { binary(x, [](I128 a, I128 b) { return divideEven(a * b, kScale); }); }},
    {"acc_cur_neg", 1, 1,
     [](Ctx& x) {
         auto a = scaledArg(x.arg(0));
         a ? x.resultInt(checked(-static_cast<I128>(*a))) : x.resultNull();
     }},
    {"acc_cur_abs", 1, 1,
     [](Ctx& x) {
         auto a = scaledArg(x.arg(0));
         a ? x.resultInt(checked(*a < 0 ? -static_cast<I128>(*a) : *a)) : x.resultNull();
     }},
    {"acc_cur_int", 1, 1, whole<true>},
    {"acc_cur_fix", 1, 1, whole<false>},
    {"acc_cur_round", 1, 2,
     [](Ctx& x) {
         auto a = scaledArg(x.arg(0));
         const int64_t places = x.has(1) ? needLong(x.arg(1)) : 0;
         if (places < 0) fail(Category::InvalidCall, "Round");
         if (!a) return x.resultNull();
         if (places >= 4) return x.resultInt(*a);
         I128 unit = 1;
         for (int64_t i = places; i < 4; ++i) unit *= 10;
         x.resultInt(checked(divideEven(*a, unit) * unit));
     }},
    // Avg from the exact total and the count.
    {"acc_cur_avg", 2, 2,
     [](Ctx& x) {
         auto total = scaledArg(x.arg(0));
         const int64_t n = x.isNull(1) ? 0 : sqlite3_value_int64(x.arg(1));
         if (!total || n <= 0) return x.resultNull();
         x.resultInt(checked(divideEven(*total, n)));
     }},
};

const AggDef kCurrencyAggregates[] = {
    {"acc_cur_sum", sumStep, sumFinal},
};

}  // namespace

std::span<const Def> currencyFunctions() {
    return kCurrency;
}

std::span<const AggDef> currencyAggregates() {
    return kCurrencyAggregates;
}

}  // namespace tab::sqlbridge::detail
