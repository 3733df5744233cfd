// The SQL-facing side of the function library: the call context every
// wrapper body reads its arguments through, the tables each family hands to
// registerAccessFunctions (functions.cpp), and the argument helpers several
// families share. Bodies throw AccessError; the trampoline in functions.cpp
// turns that into sqlite3_result_error.
#pragma once

#include <sqlite3.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "internal.h"

namespace tab::sqlbridge::detail {

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

// One scalar function: registered once per argument count it accepts.
struct Def {
    const char* name;
    int minArgs, maxArgs;  // maxArgs -1: any number
    Body body;
    bool deterministic = true;
};

struct AggDef {
    const char* name;
    void (*step)(sqlite3_context*, int, sqlite3_value**);
    void (*final)(sqlite3_context*);
};

// The families, in the order they are registered.
std::span<const Def> operatorFunctions();      // operators.cpp: operators, Like, logic and Null
std::span<const Def> conversionFunctions();    // conversion.cpp: C* conversions, Val, Str, types
std::span<const Def> mathFunctions();          // math.cpp: numbers, Rnd, Partition, financial
std::span<const Def> stringFunctions();        // strings.cpp
std::span<const Def> dateFunctions();          // datetime.cpp: dates, times and the Format family
std::span<const Def> currencyFunctions();      // currency.cpp: CCur and exact Currency arithmetic
std::span<const Def> decimalFunctions();       // decimal.cpp: CDec and exact Decimal arithmetic
std::span<const AggDef> aggregateFunctions();  // aggregates.cpp
std::span<const AggDef> currencyAggregates();  // currency.cpp: the exact Sum
std::span<const AggDef> decimalAggregates();   // decimal.cpp: the exact Sum and Avg

// --- argument helpers shared by the families ---------------------------------

// A condition argument: Null and zero are false.
bool truthy(sqlite3_value* v);
// Spaces only, as VBA's Trim, LTrim and RTrim (tabs stay).
std::string trimSpaces(std::string s, bool left, bool right);

}  // namespace tab::sqlbridge::detail
