#include "tabulary/sqlbridge/collation.h"

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

}  // namespace

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
