#include "tabulary/base/case_fold.h"

#include "tabulary/base/text_codec.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>

namespace tab {

namespace {

// How bad UTF-8 enters the folding: as U+FFFD per bad sequence (text
// values, where ICU's substitution is the documented behaviour), or byte by
// byte as the lone surrogates U+DC80..U+DCFF (names), which no valid text
// holds and folding leaves alone, so different bytes stay different.
enum class BadUtf8 { Replaced, Kept };

// The folded code point at s[i] and its length in bytes, for ASCII and the
// Latin-1 letters whose folding stays one Latin-1 code point; -1 for
// anything else (the micro sign and sharp s fold beyond Latin-1, other code
// points and bad UTF-8 take the general path).
int latin1Folded(std::string_view s, size_t i, size_t& length) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        length = 1;
        return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    }
    if ((c != 0xC2 && c != 0xC3) || i + 1 >= s.size()) return -1;
    const unsigned char d = static_cast<unsigned char>(s[i + 1]);
    if ((d & 0xC0) != 0x80) return -1;
    const int cp = ((c & 0x1F) << 6) | (d & 0x3F);
    if (cp == 0xB5 || cp == 0xDF) return -1;
    length = 2;
    return cp >= 0xC0 && cp <= 0xDE && cp != 0xD7 ? cp + 0x20 : cp;
}

std::u16string utf16Replaced(std::string_view s) {
    std::u16string utf16(s.size() + 1, u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(utf16.data(), static_cast<int32_t>(utf16.size()), &length, s.data(),
                         static_cast<int32_t>(s.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return {};
    utf16.resize(static_cast<size_t>(length));
    return utf16;
}

std::u16string utf16Kept(std::string_view s) {
    std::u16string utf16;
    utf16.reserve(s.size());
    const int32_t n = static_cast<int32_t>(s.size());
    int32_t i = 0;
    while (i < n) {
        const int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(s.data(), i, n, c);
        if (c < 0) {
            for (int32_t k = start; k < i; ++k)
                utf16.push_back(static_cast<char16_t>(0xDC00 | static_cast<unsigned char>(s[k])));
        } else if (c <= 0xFFFF) {
            utf16.push_back(static_cast<char16_t>(c));
        } else {
            utf16.push_back(static_cast<char16_t>(U16_LEAD(c)));
            utf16.push_back(static_cast<char16_t>(U16_TRAIL(c)));
        }
    }
    return utf16;
}

// Folded UTF-16 of `s`.
std::u16string fold(std::string_view s, BadUtf8 bad) {
    if (s.size() > static_cast<size_t>(INT_MAX / 4)) s = s.substr(0, INT_MAX / 4);
    const std::u16string utf16 = bad == BadUtf8::Kept ? utf16Kept(s) : utf16Replaced(s);
    // Full folding can grow a string (e.g. U+00DF to "ss"); at most threefold.
    std::u16string folded(utf16.size() * 3 + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()), utf16.data(),
                              static_cast<int32_t>(utf16.size()), U_FOLD_CASE_DEFAULT, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && n > 0) {
        folded.assign(static_cast<size_t>(n) + 1, u'\0');
        status = U_ZERO_ERROR;
        n = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()), utf16.data(),
                          static_cast<int32_t>(utf16.size()), U_FOLD_CASE_DEFAULT, &status);
    }
    if (U_FAILURE(status) || n < 0) return utf16;
    folded.resize(static_cast<size_t>(n));
    return folded;
}

int compareFolded(std::string_view a, std::string_view b, BadUtf8 bad) {
    const std::u16string fa = fold(a, bad), fb = fold(b, bad);
    // Code point order (not UTF-16 unit order) keeps ASCII and non-ASCII
    // comparisons consistent with the fast path.
    const int r = u_strCompare(fa.data(), static_cast<int32_t>(fa.size()), fb.data(),
                               static_cast<int32_t>(fb.size()), true);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int compare(std::string_view a, std::string_view b, BadUtf8 bad) {
    // Folding maps each code point on its own, so an identical prefix folds
    // identically and only what follows decides. A position after an ASCII
    // byte starts a code point in both strings, bad UTF-8 or not.
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    if (i == a.size() && i == b.size()) return 0;  // the same bytes, the same folding
    while (i > 0 && static_cast<unsigned char>(a[i - 1]) >= 0x80) --i;

    // ASCII and Latin-1 fold one code point to one: compare folded code
    // points here and leave everything else to ICU from the first place
    // where one is met.
    size_t j = i;
    for (;;) {
        if (i == a.size() || j == b.size()) {
            if (i == a.size() && j == b.size()) return 0;
            // No code point folds to nothing: the longer rest sorts after.
            return i == a.size() ? -1 : 1;
        }
        size_t li = 0, lj = 0;
        const int x = latin1Folded(a, i, li), y = latin1Folded(b, j, lj);
        if (x < 0 || y < 0) return compareFolded(a.substr(i), b.substr(j), bad);
        if (x != y) return x < y ? -1 : 1;
        i += li;
        j += lj;
    }
}

}  // namespace

int compareIgnoringCase(std::string_view a, std::string_view b) {
    return compare(a, b, BadUtf8::Replaced);
}

int compareIgnoringCaseByFolding(std::string_view a, std::string_view b) {
    return compareFolded(a, b, BadUtf8::Replaced);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return compare(a, b, BadUtf8::Kept) == 0;
}

std::string foldedCase(std::string_view name) {
    std::string out(name);
    bool ascii = true;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    }
    if (ascii) return out;
    const std::u16string folded = fold(name, BadUtf8::Kept);
    out.clear();
    out.reserve(folded.size() + folded.size() / 2);
    for (size_t i = 0; i < folded.size(); ++i) {
        uint32_t c = folded[i];
        if (U16_IS_LEAD(c) && i + 1 < folded.size() && U16_IS_TRAIL(folded[i + 1]))
            c = U16_GET_SUPPLEMENTARY(c, folded[++i]);
        appendUtf8(out, static_cast<char32_t>(c));  // surrogates as three bytes
    }
    return out;
}

}  // namespace tab
