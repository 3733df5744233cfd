// The structural checker on deliberately damaged copies of real files: each
// mutation breaks one invariant and must be reported with the right severity,
// while the undamaged file shows no such problem. Random damage must never
// crash the checker or flood the report.
#include "tabulary/jet/check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tabulary/jet/database.h"
#include "test_corpus.h"

namespace tab::jet {
namespace {

namespace fs = std::filesystem;
using Severity = CheckProblem::Severity;

constexpr uint32_t kPage = 4096;  // the mutated files are Jet4
constexpr const char* kFile = "files/jackcess/V2000/indexTestV2000.mdb";
constexpr const char* kMemoFile = "files/jackcess/V2000/test2V2000.mdb";

uint16_t get16(const std::vector<uint8_t>& img, size_t off) {
    return static_cast<uint16_t>(img[off] | (img[off + 1] << 8));
}
uint32_t get32(const std::vector<uint8_t>& img, size_t off) {
    return get16(img, off) | (uint32_t{get16(img, off + 2)} << 16);
}
void put32(std::vector<uint8_t>& img, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) img[off + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Byte range of a row on a Jet4 data page: [start, end) in the image.
std::pair<size_t, size_t> rowRange(const std::vector<uint8_t>& img, uint32_t page, uint32_t row) {
    size_t base = size_t{page} * kPage;
    size_t start = get16(img, base + 0x0E + 2 * row) & 0x1FFF;
    size_t end = row == 0 ? kPage : get16(img, base + 0x0E + 2 * (row - 1)) & 0x1FFF;
    return {base + start, base + end};
}

uint32_t pageCount(const std::vector<uint8_t>& img) {
    return static_cast<uint32_t>(img.size() / kPage);
}

bool isDataPageOf(const std::vector<uint8_t>& img, uint32_t page, uint32_t tdef) {
    return img[size_t{page} * kPage] == 0x01 && get32(img, size_t{page} * kPage + 4) == tdef;
}

bool hasLiveRow(const std::vector<uint8_t>& img, uint32_t page) {
    uint16_t n = get16(img, size_t{page} * kPage + 0x0C);
    for (uint16_t r = 0; r < n; ++r)
        if ((get16(img, size_t{page} * kPage + 0x0E + 2 * r) & 0xC000) == 0) return true;
    return false;
}

// A mutation gets the undamaged database to find its target and changes the
// image; false if the file has no suitable target.
using Mutation = std::function<bool(Database&, std::vector<uint8_t>&)>;

bool bumpRowCount(Database& db, std::vector<uint8_t>& img) {
    auto t = db.table("Table1");
    if (!t.ok()) return false;
    size_t off = size_t{(*t)->tdefPage} * kPage + 0x10;
    put32(img, off, get32(img, off) + 1);
    return true;
}

// Swaps the first two entries of a leaf of Table1 that stores equal-length
// entries without a shared prefix, so the entry bitmap stays valid.
bool swapLeafEntries(Database& db, std::vector<uint8_t>& img) {
    auto t = db.table("Table1");
    if (!t.ok()) return false;
    for (uint32_t p = 1; p < pageCount(img); ++p) {
        size_t base = size_t{p} * kPage;
        if (img[base] != 0x04 || get32(img, base + 4) != (*t)->tdefPage) continue;
        if (get16(img, base + 0x18) != 0) continue;
        std::vector<size_t> ends;
        for (size_t k = 0; k < 453 * 8 && ends.size() < 2; ++k)
            if (img[base + 0x1B + k / 8] & (1u << (k % 8))) ends.push_back(k);
        if (ends.size() < 2 || ends[1] != 2 * ends[0] || ends[0] == 0) continue;
        size_t a = base + 0x1E0, len = ends[0];
        std::vector<uint8_t> first(img.begin() + static_cast<ptrdiff_t>(a),
                                   img.begin() + static_cast<ptrdiff_t>(a + len));
        std::memmove(&img[a], &img[a + len], len);
        std::memcpy(&img[a + len], first.data(), len);
        return true;
    }
    return false;
}

// Marks the TDEF page of Table1 free in the global usage map (inline map).
bool freeUsedPage(Database& db, std::vector<uint8_t>& img) {
    auto t = db.table("Table1");
    if (!t.ok()) return false;
    auto [start, end] = rowRange(img, 1, 0);
    if (img[start] != 0x00) return false;
    uint32_t first = get32(img, start + 1), page = (*t)->tdefPage;
    if (page < first || start + 5 + (page - first) / 8 >= end) return false;
    img[start + 5 + (page - first) / 8] |= static_cast<uint8_t>(1u << ((page - first) % 8));
    return true;
}

// Points the first LVAL reference of a Memo/OLE value in a user table at a
// slot its page does not have.
bool breakLongValueReference(Database& db, std::vector<uint8_t>& img) {
    for (const CatalogObject* o : db.catalog().ofKind(ObjectKind::UserTable)) {
        auto t = db.table(o->name);
        if (!t.ok()) continue;
        const TableDef& def = **t;
        for (const Column& c : def.columns) {
            if (c.type != ColumnType::Memo && c.type != ColumnType::Ole) continue;
            for (uint32_t p = 1; p < pageCount(img); ++p) {
                if (!isDataPageOf(img, p, def.tdefPage)) continue;
                uint16_t n = get16(img, size_t{p} * kPage + 0x0C);
                for (uint16_t r = 0; r < n; ++r) {
                    if (get16(img, size_t{p} * kPage + 0x0E + 2 * r) & 0xC000) continue;
                    auto [start, end] = rowRange(img, p, r);
                    if (end - start < 4) continue;
                    size_t ncols = get16(img, start), nm = (ncols + 7) / 8;
                    if (c.number >= ncols ||
                        !((img[end - nm + c.number / 8] >> (c.number % 8)) & 1))
                        continue;
                    size_t nv = get16(img, end - nm - 2);
                    if (c.varIndex >= nv) continue;
                    size_t from = get16(img, end - nm - 4 - 2 * c.varIndex);
                    size_t to = get16(img, end - nm - 4 - 2 * (c.varIndex + 1));
                    if (to < from + 12 || start + to > end) continue;
                    size_t field = start + from;
                    if ((img[field + 3] & 0xC0) == 0x80) continue;  // inline
                    img[field + 4] = 0xF0;  // row 240: no real page has that many rows
                    return true;
                }
            }
        }
    }
    return false;
}

// Clears, in Table1's inline owned-pages map, the bit of a page with live rows.
bool dropOwnedPage(Database& db, std::vector<uint8_t>& img) {
    auto t = db.table("Table1");
    if (!t.ok()) return false;
    uint32_t ptr = (*t)->ownedPages;
    auto [start, end] = rowRange(img, ptr >> 8, ptr & 0xFF);
    if (end - start < 5 || img[start] != 0x00) return false;
    uint32_t first = get32(img, start + 1);
    for (size_t k = 0; k < (end - start - 5) * 8; ++k) {
        uint8_t& byte = img[start + 5 + k / 8];
        uint32_t page = first + static_cast<uint32_t>(k);
        if (!(byte & (1u << (k % 8))) || page >= pageCount(img)) continue;
        if (!isDataPageOf(img, page, (*t)->tdefPage) || !hasLiveRow(img, page)) continue;
        byte = static_cast<uint8_t>(byte & ~(1u << (k % 8)));
        return true;
    }
    return false;
}

// Sets the row number of the last entry of Table1's first leaf to one no
// row has; order on the page is kept.
bool retargetLeafEntry(Database& db, std::vector<uint8_t>& img) {
    auto t = db.table("Table1");
    if (!t.ok()) return false;
    for (uint32_t p = 1; p < pageCount(img); ++p) {
        size_t base = size_t{p} * kPage;
        if (img[base] != 0x04 || get32(img, base + 4) != (*t)->tdefPage) continue;
        size_t last = 0;
        for (size_t k = 0; k < 453 * 8; ++k)
            if (img[base + 0x1B + k / 8] & (1u << (k % 8))) last = k;
        if (last == 0 || get32(img, base + 0x10) != 0) continue;  // the last leaf
        img[base + 0x1E0 + last - 1] = 0xFE;
        return true;
    }
    return false;
}

struct Case {
    const char* name;
    const char* file;
    Mutation mutate;
    const char* expected;  // substring of the problem's message
    Severity severity;
};

bool reports(const CheckReport& r, const Case& c) {
    for (const auto& p : r.problems)
        if (p.severity == c.severity && p.message.find(c.expected) != std::string::npos)
            return true;
    return false;
}

std::string listed(const CheckReport& r) {
    std::string s;
    for (const auto& p : r.problems)
        s += std::string(p.severity == Severity::Error ? "  error: " : "  warning: ") + p.message +
             "\n";
    return s;
}

TEST(Check, DamageIsReported) {
    const Case cases[] = {
        {"row count off by one", kFile, bumpRowCount, "table \"Table1\": definition records",
         Severity::Warning},
        {"leaf entries swapped", kFile, swapLeafEntries, "is not after entry", Severity::Error},
        {"used page marked free", kFile, freeUsedPage, "marked free in the global usage map",
         Severity::Error},
        {"long value at a missing slot", kMemoFile, breakLongValueReference,
         "beyond the page's rows", Severity::Error},
        {"page dropped from the owned map", kFile, dropOwnedPage,
         "missing from its owned-pages map", Severity::Error},
        {"leaf entry for no row", kFile, retargetLeafEntry, "matches no row", Severity::Error},
    };

    auto open = [](std::vector<uint8_t> img) {
        auto db = Database::openMemory(std::move(img));
        EXPECT_TRUE(db.ok()) << (db.ok() ? "" : db.error().message());
        return db.ok() ? std::move(*db) : nullptr;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> pristine = readCorpusBytes(corpusRoot() / c.file);
        if (pristine.empty()) GTEST_SKIP() << "corpus not found at " << corpusRoot();
        auto base = open(pristine);
        ASSERT_TRUE(base);
        const CheckReport clean = checkDatabase(*base);
        EXPECT_EQ(0u, clean.errorCount()) << listed(clean);
        EXPECT_FALSE(reports(clean, c)) << "reported before the damage:\n" << listed(clean);

        std::vector<uint8_t> img = pristine;
        ASSERT_TRUE(c.mutate(*base, img)) << "no target for the mutation in " << c.file;
        ASSERT_NE(img, pristine);
        auto db = open(std::move(img));
        ASSERT_TRUE(db);
        const CheckReport r = checkDatabase(*db);
        EXPECT_TRUE(reports(r, c)) << "expected \"" << c.expected << "\", got:\n" << listed(r);
    }
}

// Random overwrites of random pages: the checker must finish, every message
// must say something, and the number of messages stays bounded.
TEST(Check, SurvivesRandomDamage) {
    const char* files[] = {"files/jackcess/V1997/indexTestV1997.mdb", kFile,
                           "files/jackcess/V2007/testV2007.accdb"};
    std::mt19937 rng(0xC4EC4u);
    size_t checked = 0;
    for (const char* name : files) {
        std::vector<uint8_t> pristine = readCorpusBytes(corpusRoot() / name);
        if (pristine.empty()) continue;
        const uint32_t pageSize = pristine.size() % 4096 == 0 && pristine[0x14] != 0 ? 4096 : 2048;
        for (int round = 0; round < 40; ++round) {
            std::vector<uint8_t> img = pristine;
            const size_t pages = img.size() / pageSize;
            for (int k = 0; k < 1 + round % 4; ++k) {
                size_t page = 1 + rng() % (pages - 1);
                size_t off = page * pageSize + rng() % pageSize;
                size_t len = 1 + rng() % 16;
                for (size_t i = 0; i < len && off + i < img.size(); ++i)
                    img[off + i] = static_cast<uint8_t>(rng());
            }
            OpenOptions options;
            options.checkPassword = false;
            auto db = Database::openMemory(std::move(img), options);
            if (!db.ok()) continue;
            CheckOptions co;
            co.maxMessagesPerScope = 5;
            const CheckReport r = checkDatabase(**db, co);
            ++checked;
            // Per scope: the shown messages plus two summaries.
            const size_t scopes = r.tablesChecked + 2;
            EXPECT_LE(r.problems.size(), scopes * (co.maxMessagesPerScope + 2))
                << name << " round " << round;
            for (const auto& p : r.problems) EXPECT_FALSE(p.message.empty()) << name;
        }
    }
    if (checked == 0) GTEST_SKIP() << "corpus not found at " << corpusRoot();
}

}  // namespace
}  // namespace tab::jet
