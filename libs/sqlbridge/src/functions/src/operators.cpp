// Operators (/, \, Mod, ^, Variant +, &, Xor, Eqv, Imp), Like, the strict
// coercions the translator wraps comparisons in, and the logic and Null
// functions (IIf, Nz, IsNull, IsNumeric, IsDate, Switch, Choose).
#include <unicode/utf16.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "calls.h"

namespace tab::sqlbridge::detail {

bool truthy(sqlite3_value* v) {
    auto n = toNumber(v);
    return n && n->value() != 0;
}

namespace {

int64_t toLong(const Number& n) {
    if (n.isInt) {
        if (n.i < INT32_MIN || n.i > INT32_MAX) fail(Category::Overflow);
        return n.i;
    }
    return roundToRange(n.d, INT32_MIN, INT32_MAX);
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

const Def kOperators[] = {
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
};

}  // namespace

std::span<const Def> operatorFunctions() {
    return kOperators;
}

}  // namespace tab::sqlbridge::detail
