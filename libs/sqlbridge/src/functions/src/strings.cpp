// String functions: Len, Left, Mid, InStr, Replace, the case and trim
// functions, StrComp, StrConv, Asc and Chr in their ANSI and W forms.
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "calls.h"

namespace tab::sqlbridge::detail {

std::string trimSpaces(std::string s, bool left, bool right) {
    size_t b = 0, e = s.size();
    if (left)
        while (b < e && s[b] == ' ') ++b;
    if (right)
        while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

namespace {

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

const Def kStrings[] = {
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
         auto s = x.str(0);
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
};

}  // namespace

std::span<const Def> stringFunctions() {
    return kStrings;
}

}  // namespace tab::sqlbridge::detail
