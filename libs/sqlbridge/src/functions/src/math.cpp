// Numeric functions (Int, Fix, Abs, Sgn, Sqr, Exp, Log, the trigonometric
// ones, Round), Rnd, Partition and the wrappers of the financial functions
// (finance.cpp).
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "calls.h"

namespace tab::sqlbridge::detail {

namespace {

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

// --- Rnd, Partition ----------------------------------------------------------

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

const Def kMath[] = {
    // Numbers.
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

    // Random numbers and ranges.
    {"acc_rnd", 0, 1, fnRnd, false},
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

}  // namespace

std::span<const Def> mathFunctions() {
    return kMath;
}

}  // namespace tab::sqlbridge::detail
