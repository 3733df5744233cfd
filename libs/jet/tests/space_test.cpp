// Page allocation and usage maps during a change: object maps against a
// model (window moves, reference maps, bitmap pages beyond the first), the
// global map growing with the file and becoming a reference map, pages
// handed to real tables so that the checker can judge the result, and
// damaged map rows refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "../src/edit/pager.h"
#include "../src/edit/space.h"
#include "../src/internal.h"
#include "edit_fixture.h"

namespace tab::jet {
namespace {

using edit::Pager;
using testing::checkText;
using testing::column;
using testing::makeImage;
using testing::openImage;

constexpr uint32_t kGlobalMap = 1u << 8;

std::string errorText(const Status& s) {
    return s.ok() ? "" : s.error().message();
}
template <class T>
std::string errorText(const Result<T>& r) {
    return r.ok() ? "" : r.error().message();
}

// The bytes of the map row `pointer` as the change sees them.
std::string mapRow(Database& db, uint32_t pointer) {
    auto slice = rowAtPointer(db.pages(), db.format(), pointer);
    EXPECT_TRUE(slice.ok()) << errorText(slice);
    if (!slice.ok()) return {};
    Bytes b = slice->bytes();
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

uint32_t u32(const std::string& s, size_t at) {
    return u32At(reinterpret_cast<const uint8_t*>(s.data()) + at);
}

// An empty data page of the table at `tdef`.
void makeDataPage(Pager& pager, uint32_t page, uint32_t tdef) {
    auto pg = pager.modify(page);
    ASSERT_TRUE(pg.ok()) << errorText(pg);
    uint8_t* p = *pg;
    p[0] = 0x01;
    p[1] = 0x01;
    p[2] = static_cast<uint8_t>(4082 & 0xFF);
    p[3] = static_cast<uint8_t>(4082 >> 8);
    for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(tdef >> (8 * i));
}

// Page 1 with its second row enlarged to `size` bytes, leaving the global
// map less room to grow.
void enlargeSecondRow(Pager& pager, size_t size) {
    auto pg = pager.modify(1);
    ASSERT_TRUE(pg.ok());
    uint8_t* p = *pg;
    uint32_t off0 = u16At(p + 0x0E) & 0x1FFF;
    std::vector<uint8_t> row0(p + off0, p + 4096);
    std::memset(p + 0x0E, 0, 4096 - 0x0E);
    uint32_t off1 = static_cast<uint32_t>(4096 - row0.size());
    std::memcpy(p + off1, row0.data(), row0.size());
    uint32_t off2 = static_cast<uint32_t>(off1 - size);
    p[0x0C] = 2;
    p[0x0D] = 0;
    p[0x0E] = static_cast<uint8_t>(off1);
    p[0x0F] = static_cast<uint8_t>(off1 >> 8);
    p[0x10] = static_cast<uint8_t>(off2);
    p[0x11] = static_cast<uint8_t>(off2 >> 8);
    uint32_t free = off2 - (14 + 4);
    p[2] = static_cast<uint8_t>(free);
    p[3] = static_cast<uint8_t>(free >> 8);
}

std::vector<uint8_t> twoTables() {
    testing::TableRows a{{"A", {column("Id", ColumnType::Long)}, {}}, {}};
    testing::TableRows b{{"B", {column("Id", ColumnType::Long)}, {}}, {}};
    for (int i = 0; i < 40; ++i) a.rows.push_back({Value::integer(i)});
    return makeImage({a, b});
}

// Object maps made by newUsageMap, changed by a list of additions (+page) and
// removals (-page) and compared with a set after every step.
TEST(Space, ObjectMapsFollowAModel) {
    struct Case {
        const char* what;
        uint32_t first;
        std::vector<int64_t> ops;
        bool reference;
        uint32_t start;  // inline maps: the window's first page
    };
    const std::vector<Case> cases = {
        {"inside the window", 101, {+100, +607, +250, -250, -300}, false, 96},
        {"window moves up", 96, {+500, +700, +701}, false, 496},
        {"window moves down", 1000, {+1003, +600, +1004}, false, 600},
        {"removals keep the window", 1000, {+1003, -1003, +1004, -1004}, false, 1000},
        {"spread pages make a reference map", 0, {+8, +530, +9, -8, +1400}, true, 0},
        {"pages beyond one bitmap page", 0, {+8, +600, +40000, +70000, -40000, +32736}, true, 0},
        {"absent pages are not removed", 200, {-5, -40000, +201, -202, -201}, false, 200},
    };
    auto image = twoTables();
    ASSERT_FALSE(image.empty());
    auto db = openImage(image);
    ASSERT_TRUE(db);
    auto pager = Pager::begin(*db);
    ASSERT_TRUE(pager.ok()) << errorText(pager);
    Pager& pg = **pager;
    // Enough pages for the maps to list; the global map grows past 512 pages.
    const uint32_t before = pg.pageCount();
    for (uint32_t i = 0; i < 1500; ++i) {
        auto p = edit::allocatePage(pg);
        ASSERT_TRUE(p.ok()) << errorText(p);
        ASSERT_EQ(*p, before + i);
    }
    std::vector<uint32_t> hosts;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto ptr = edit::newUsageMap(pg, c.first, hosts);
        ASSERT_TRUE(ptr.ok()) << errorText(ptr);
        if (!hosts.empty()) {
            EXPECT_EQ(*ptr >> 8, hosts.back()) << "the host page had room";
        }
        hosts = {*ptr >> 8};
        std::string fresh = mapRow(*db, *ptr);
        ASSERT_EQ(fresh.size(), 69u);
        EXPECT_EQ(fresh[0], 0);
        EXPECT_EQ(u32(fresh, 1), c.first & ~7u);
        std::set<uint32_t> model;
        for (int64_t op : c.ops) {
            uint32_t page = static_cast<uint32_t>(op < 0 ? -op : op);
            Status st = op > 0 ? edit::mapAdd(pg, *ptr, page) : edit::mapRemove(pg, *ptr, page);
            ASSERT_TRUE(st.ok()) << op << ": " << errorText(st);
            if (op > 0)
                model.insert(page);
            else
                model.erase(page);
            std::vector<uint32_t> want;
            for (uint32_t p : model)
                if (p < pg.pageCount()) want.push_back(p);
            auto pages = edit::mapPages(pg, *ptr);
            ASSERT_TRUE(pages.ok()) << errorText(pages);
            EXPECT_EQ(*pages, want) << "after " << op;
            for (uint32_t probe : {page, page + 1, page - 1, 5u, 40000u, 70000u}) {
                auto in = edit::mapContains(pg, *ptr, probe);
                ASSERT_TRUE(in.ok()) << errorText(in);
                EXPECT_EQ(*in, model.count(probe) == 1) << "page " << probe << " after " << op;
            }
        }
        std::string row = mapRow(*db, *ptr);
        ASSERT_EQ(row.size(), 69u);
        EXPECT_EQ(row[0], c.reference ? 1 : 0);
        if (!c.reference) {
            EXPECT_EQ(u32(row, 1), c.start);
        }
        // Bitmap pages of a reference map: one per 32736-page range in use.
        if (c.reference) {
            std::set<uint32_t> ranges;
            for (uint32_t p : model) ranges.insert(p / 32736);
            for (uint32_t j = 0; j < 17; ++j) {
                uint32_t bp = u32(row, 1 + 4 * j);
                EXPECT_EQ(bp != 0, ranges.count(j) == 1) << "slot " << j;
                if (bp) {
                    auto bits = pg.read(bp);
                    ASSERT_TRUE(bits.ok());
                    EXPECT_EQ((**bits)[0], 0x05);
                }
            }
        }
    }
    // Nothing was freed: every page of the file is used in the global map.
    auto free = edit::mapPages(pg, kGlobalMap);
    ASSERT_TRUE(free.ok()) << errorText(free);
    EXPECT_TRUE(free->empty()) << free->size() << " pages free, first " << free->front();
    std::string global = mapRow(*db, kGlobalMap);
    EXPECT_EQ(global[0], 0);
    EXPECT_EQ(global.size(), 5 + (pg.pageCount() + 255) / 256 * 256 / 8);

    // A host page fills up: the next map goes to a new page.
    std::set<uint32_t> pagesUsed;
    for (int i = 0; i < 70; ++i) {
        auto ptr = edit::newUsageMap(pg, 0, hosts);
        ASSERT_TRUE(ptr.ok()) << errorText(ptr);
        pagesUsed.insert(*ptr >> 8);
        hosts = {*ptr >> 8};
    }
    EXPECT_EQ(pagesUsed.size(), 2u);
    ASSERT_TRUE(pg.commit().ok());
    // Unreferenced pages and map rows are leaks, never errors.
    for (const auto& p : checkDatabase(*db).problems)
        EXPECT_EQ(p.severity, CheckProblem::Severity::Warning) << p.message;
}

// New pages given to two real tables (as empty data pages) or freed again,
// committed, and judged by the checker: global map growth in steps, its
// conversion when page 1 is full, table maps moving and converting.
TEST(Space, AllocationsKeepTheFileConsistent) {
    struct Case {
        const char* what;
        uint32_t pages;
        size_t secondRow;  // page 1's second row, 0: as written
        // Where page i of the new ones goes: 0 table A, 1 table B, 2 freed.
        int (*owner)(uint32_t i);
        bool globalReference;
        bool aReference, bReference;
    };
    const std::vector<Case> cases = {
        {"a few pages", 200, 0, [](uint32_t i) { return static_cast<int>(i % 2); }, false, false,
         false},
        {"the global map grows past 512 pages", 700, 0, [](uint32_t i) { return i < 300 ? 0 : 1; },
         false, false, false},
        {"spread tables get reference maps", 1200, 0,
         [](uint32_t i) { return static_cast<int>(i % 3); }, false, true, true},
        {"page 1 full: a reference global map", 1200, 3950,
         [](uint32_t i) { return i % 5 == 0 ? 2 : static_cast<int>(i % 2); }, true, true, true},
        {"freed pages are free again", 900, 3990, [](uint32_t i) { return i < 450 ? 2 : 1; }, true,
         false, false},
    };
    auto image = twoTables();
    ASSERT_FALSE(image.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto db = openImage(image);
        ASSERT_TRUE(db);
        auto a = db->table("A");
        auto b = db->table("B");
        ASSERT_TRUE(a.ok() && b.ok());
        const uint32_t aMap = (*a)->ownedPages, bMap = (*b)->ownedPages;
        const uint32_t aTdef = (*a)->tdefPage, bTdef = (*b)->tdefPage;
        std::set<uint32_t> freed;
        {
            auto pager = Pager::begin(*db);
            ASSERT_TRUE(pager.ok());
            Pager& pg = **pager;
            if (c.secondRow) enlargeSecondRow(pg, c.secondRow);
            for (uint32_t i = 0; i < c.pages; ++i) {
                auto p = edit::allocatePage(pg);
                ASSERT_TRUE(p.ok()) << errorText(p);
                int who = c.owner(i);
                if (who == 2) {
                    ASSERT_TRUE(edit::freePage(pg, *p).ok());
                    freed.insert(*p);
                    continue;
                }
                makeDataPage(pg, *p, who == 0 ? aTdef : bTdef);
                Status st = edit::mapAdd(pg, who == 0 ? aMap : bMap, *p);
                ASSERT_TRUE(st.ok()) << errorText(st);
            }
            auto free = edit::mapPages(pg, kGlobalMap);
            ASSERT_TRUE(free.ok()) << errorText(free);
            EXPECT_EQ(std::vector<uint32_t>(freed.begin(), freed.end()), *free);
            ASSERT_TRUE(pg.commit().ok());
        }
        EXPECT_EQ(checkText(*db), "");
        std::string global = mapRow(*db, kGlobalMap);
        ASSERT_FALSE(global.empty());
        EXPECT_EQ(global[0], c.globalReference ? 1 : 0);
        const uint32_t count = db->pages().pageCount();
        const size_t globalSize =
            c.globalReference ? 69 : 5 + std::max<uint32_t>(512, (count + 255) / 256 * 256) / 8;
        EXPECT_EQ(global.size(), globalSize);
        EXPECT_EQ(mapRow(*db, aMap)[0], c.aReference ? 1 : 0);
        EXPECT_EQ(mapRow(*db, bMap)[0], c.bReference ? 1 : 0);
    }
}

// Damaged map rows and bitmap pages are reported as damage, not trusted.
TEST(Space, DamagedMapsAreRefused) {
    struct Case {
        const char* what;
        // Damages the row of table A's owned map (row bytes given) or its page.
        void (*damage)(uint8_t* row, uint8_t* page);
    };
    const std::vector<Case> cases = {
        {"unknown map type", [](uint8_t* row, uint8_t*) { row[0] = 0x07; }},
        {"bitmap page outside the file",
         [](uint8_t* row, uint8_t*) {
             row[0] = 0x01;
             std::memset(row + 1, 0xEE, 4);
         }},
        {"bitmap page that is no bitmap",
         [](uint8_t* row, uint8_t*) {
             row[0] = 0x01;
             std::memset(row + 1, 0, 68);
             row[1] = 2;  // the catalogue's definition
         }},
        {"row count beyond the page",
         [](uint8_t*, uint8_t* page) { page[0x0C] = page[0x0D] = 0xFF; }},
        {"not a data page", [](uint8_t*, uint8_t* page) { page[0] = 0x04; }},
    };
    auto image = twoTables();
    ASSERT_FALSE(image.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto db = openImage(image);
        ASSERT_TRUE(db);
        auto a = db->table("A");
        ASSERT_TRUE(a.ok());
        const uint32_t ptr = (*a)->ownedPages;
        auto pager = Pager::begin(*db);
        ASSERT_TRUE(pager.ok());
        Pager& pg = **pager;
        auto slice = rowAtPointer(db->pages(), db->format(), ptr);
        ASSERT_TRUE(slice.ok());
        auto page = pg.modify(ptr >> 8);
        ASSERT_TRUE(page.ok());
        c.damage(*page + slice->start, *page);
        const uint32_t target = pg.pageCount() - 1;
        auto asStatus = [](const auto& r) {
            return r.ok() ? Status::success() : Status(r.error());
        };
        const Status results[] = {edit::mapAdd(pg, ptr, target), edit::mapRemove(pg, ptr, target),
                                  asStatus(edit::mapContains(pg, ptr, 3)),
                                  asStatus(edit::mapPages(pg, ptr))};
        for (const Status& st : results) {
            ASSERT_FALSE(st.ok());
            EXPECT_EQ(st.error().code(), Errc::Corrupt) << st.error().message();
        }
    }
}

}  // namespace
}  // namespace tab::jet
