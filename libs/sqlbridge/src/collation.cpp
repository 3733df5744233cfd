#include "tabulary/sqlbridge/collation.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <climits>
#include <string>

namespace tab::sqlbridge {

namespace {

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

unsigned char foldAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
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

int compareAccessText(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) {
        size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            unsigned char x = foldAscii(static_cast<unsigned char>(a[i]));
            unsigned char y = foldAscii(static_cast<unsigned char>(b[i]));
            if (x != y) return x < y ? -1 : 1;
        }
        return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
    }
    std::u16string fa = fold(a), fb = fold(b);
    // Code point order (not UTF-16 unit order) keeps ASCII and non-ASCII
    // comparisons consistent with the fast path above.
    int r = u_strCompare(fa.data(), static_cast<int32_t>(fa.size()), fb.data(),
                         static_cast<int32_t>(fb.size()), true);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
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
