#include "tabulary/sqlbridge/collation.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <climits>
#include <string>

namespace tab::sqlbridge {

namespace {

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

// Folded UTF-16 of `s`; bad UTF-8 becomes U+FFFD.
std::u16string fold(std::string_view s) {
    std::u16string utf16;
    if (s.size() > static_cast<size_t>(INT_MAX / 4)) s = s.substr(0, INT_MAX / 4);
    utf16.resize(s.size() + 1);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(utf16.data(), static_cast<int32_t>(utf16.size()), &length, s.data(),
                         static_cast<int32_t>(s.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return {};
    utf16.resize(static_cast<size_t>(length));
    // Full folding can grow a string (e.g. U+00DF to "ss"); at most threefold.
    std::u16string folded(utf16.size() * 3 + 1, u'\0');
    status = U_ZERO_ERROR;
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

int collate(void*, int lengthA, const void* a, int lengthB, const void* b) {
    // SQLite must not see a C++ exception; treat allocation failure as equal.
    try {
        return compareAccessText(
            std::string_view(static_cast<const char*>(a), lengthA > 0 ? size_t(lengthA) : 0),
            std::string_view(static_cast<const char*>(b), lengthB > 0 ? size_t(lengthB) : 0));
    } catch (...) {
        return 0;
    }
}

}  // namespace

int compareAccessTextFolded(std::string_view a, std::string_view b) {
    std::u16string fa = fold(a), fb = fold(b);
    // Code point order (not UTF-16 unit order) keeps ASCII and non-ASCII
    // comparisons consistent with the fast path.
    int r = u_strCompare(fa.data(), static_cast<int32_t>(fa.size()), fb.data(),
                         static_cast<int32_t>(fb.size()), true);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int compareAccessText(std::string_view a, std::string_view b) {
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
        int x = latin1Folded(a, i, li), y = latin1Folded(b, j, lj);
        if (x < 0 || y < 0) return compareAccessTextFolded(a.substr(i), b.substr(j));
        if (x != y) return x < y ? -1 : 1;
        i += li;
        j += lj;
    }
}

Status registerAccessTextCollation(sqlite3* db) {
    int rc = sqlite3_create_collation_v2(db, kAccessTextCollation, SQLITE_UTF8, nullptr, collate,
                                         nullptr);
    if (rc != SQLITE_OK)
        return Error(Errc::Internal,
                     std::string("cannot register collation ACC_TEXT: ") + sqlite3_errstr(rc));
    return Status::success();
}

}  // namespace tab::sqlbridge
