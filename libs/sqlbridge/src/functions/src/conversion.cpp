// Conversions (CStr, CInt, CDate ... and the implicit text form), Val, Str,
// Hex and Oct, and the type inspection functions (IsEmpty, IsError,
// VarType, TypeName).
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "calls.h"

namespace tab::sqlbridge::detail {

namespace {

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

// --- VarType, TypeName -------------------------------------------------------

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

const Def kConversions[] = {
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
         const std::string s = n->isInt ? std::to_string(n->i) : numberText(n->d);
         // Str leaves room for the sign of a positive number.
         x.resultText(s[0] == '-' ? s : " " + s);
     }},
    {"acc_hex", 1, 1, [](Ctx& x) { fnRadix(x, 16); }},
    {"acc_oct", 1, 1, [](Ctx& x) { fnRadix(x, 8); }},

    // Type checks.
    {"acc_isempty", 1, 1, [](Ctx& x) { x.resultBool(false); }},
    {"acc_iserror", 1, 1, [](Ctx& x) { x.resultBool(false); }},
    {"acc_vartype", 1, 2, [](Ctx& x) { x.resultInt(vbType(x).code); }},
    {"acc_typename", 1, 2, [](Ctx& x) { x.resultText(std::string(vbType(x).name)); }},
};

}  // namespace

std::span<const Def> conversionFunctions() {
    return kConversions;
}

}  // namespace tab::sqlbridge::detail
