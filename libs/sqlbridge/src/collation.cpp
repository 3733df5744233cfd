#include "tabulary/sqlbridge/collation.h"

#include <cstdint>
#include <string>

#include "tabulary/base/case_fold.h"

namespace tab::sqlbridge {

namespace {

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

// A number's digits without leading or trailing zeros, read as
// 0.d1d2d3... * 10^exponent; no digits for zero.
struct DecimalKey {
    bool number = false;
    bool negative = false;
    int64_t exponent = 0;
    std::string_view whole, fraction;  // the digits, split by the point

    size_t size() const { return whole.size() + fraction.size(); }
    char digit(size_t i) const {
        if (i < whole.size()) return whole[i];
        i -= whole.size();
        return i < fraction.size() ? fraction[i] : '0';
    }
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

DecimalKey decimalKey(std::string_view s) {
    DecimalKey k;
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) k.negative = s[i++] == '-';
    size_t start = i;
    while (i < s.size() && isDigit(s[i])) ++i;
    k.whole = s.substr(start, i - start);
    if (i < s.size() && s[i] == '.') {
        start = ++i;
        while (i < s.size() && isDigit(s[i])) ++i;
        k.fraction = s.substr(start, i - start);
    }
    if (k.whole.empty() && k.fraction.empty()) return {};
    int64_t e = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        bool negative = false;
        if (++i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
        if (i >= s.size()) return {};
        for (; i < s.size() && isDigit(s[i]); ++i)
            if (e < 1'000'000'000) e = e * 10 + (s[i] - '0');
        if (negative) e = -e;
    }
    if (i != s.size()) return {};
    k.number = true;
    while (!k.whole.empty() && k.whole.front() == '0') k.whole.remove_prefix(1);
    while (!k.fraction.empty() && k.fraction.back() == '0') k.fraction.remove_suffix(1);
    if (k.whole.empty()) {
        while (!k.fraction.empty() && k.fraction.front() == '0') {
            k.fraction.remove_prefix(1);
            --e;
        }
    } else if (k.fraction.empty()) {
        while (!k.whole.empty() && k.whole.back() == '0') {
            k.whole.remove_suffix(1);
            ++e;
        }
    }
    k.exponent = static_cast<int64_t>(k.whole.size()) + e;
    if (k.size() == 0) {
        k.negative = false;
        k.exponent = 0;
    }
    return k;
}

int compareMagnitude(const DecimalKey& a, const DecimalKey& b) {
    if (a.exponent != b.exponent) return a.exponent < b.exponent ? -1 : 1;
    const size_t n = a.size() > b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const char x = a.digit(i), y = b.digit(i);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

int collateDecimal(void*, int lengthA, const void* a, int lengthB, const void* b) {
    return compareDecimalText(
        std::string_view(static_cast<const char*>(a), lengthA > 0 ? size_t(lengthA) : 0),
        std::string_view(static_cast<const char*>(b), lengthB > 0 ? size_t(lengthB) : 0));
}

}  // namespace

int compareDecimalText(std::string_view a, std::string_view b) {
    const DecimalKey x = decimalKey(a), y = decimalKey(b);
    if (x.number != y.number) return x.number ? -1 : 1;
    if (!x.number) {
        const int c = a.compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    // Negative < zero < positive.
    const int sx = x.size() == 0 ? 0 : (x.negative ? -1 : 1);
    const int sy = y.size() == 0 ? 0 : (y.negative ? -1 : 1);
    if (sx != sy) return sx < sy ? -1 : 1;
    if (sx == 0) return 0;
    const int m = compareMagnitude(x, y);
    return sx < 0 ? -m : m;
}

Status registerAccessDecimalCollation(sqlite3* db) {
    int rc = sqlite3_create_collation_v2(db, kAccessDecimalCollation, SQLITE_UTF8, nullptr,
                                         collateDecimal, nullptr);
    if (rc != SQLITE_OK)
        return Error(Errc::Internal,
                     std::string("cannot register collation ACC_DECIMAL: ") + sqlite3_errstr(rc));
    return Status::success();
}

int compareAccessTextFolded(std::string_view a, std::string_view b) {
    return compareIgnoringCaseByFolding(a, b);
}

int compareAccessText(std::string_view a, std::string_view b) {
    return compareIgnoringCase(a, b);
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
