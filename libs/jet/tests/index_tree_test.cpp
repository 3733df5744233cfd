// Index trees changed entry by entry. The rows of a real table are switched
// between live and deleted (their bytes stay where they are) while every
// index of the table follows through IndexTree, in committed batches; after
// each batch the checker compares every tree with the rows, lookups through
// the tree and through the index reader are compared with a model, and the
// trees' shape is checked: three levels when full, an empty leaf root when
// empty. Damaged trees must give errors, never crashes or endless walks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "../src/edit/index_tree.h"
#include "../src/edit/pager.h"
#include "../src/edit/space.h"
#include "../src/internal.h"
#include "edit_fixture.h"
#include "tabulary/jet/index_reader.h"
#include "tabulary/jet/table_cursor.h"

namespace tab::jet {
namespace {

using edit::IndexTree;
using edit::Pager;
using testing::checkText;
using testing::column;

template <class T>
std::string errorText(const Result<T>& r) {
    return r.ok() ? "" : r.error().message();
}
std::string errorText(const Status& s) {
    return s.ok() ? "" : s.error().message();
}

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr int kRows = 5000;

// Long names with shared beginnings (prefix compression), repeated values
// (several rows per key) and Nulls; a unique Id and a descending Score.
std::vector<uint8_t> sampleImage() {
    static const std::vector<uint8_t> image = [] {
        testing::TableRows t;
        t.spec.name = "People";
        t.spec.columns = {column("Id", ColumnType::Long), column("Name", ColumnType::Text, 255),
                          column("Score", ColumnType::Long)};
        IndexSpec pk;
        pk.name = "PrimaryKey";
        pk.columns = {{"Id", true}};
        pk.primaryKey = true;
        IndexSpec name;
        name.name = "Name";
        name.columns = {{"Name", true}};
        IndexSpec score;
        score.name = "ScoreName";
        score.columns = {{"Score", false}, {"Name", true}};
        t.spec.indexes = {pk, name, score};
        std::mt19937 rng(11);
        const std::vector<std::string> starts = {"", std::string(40, 'm'),
                                                 "the same opening words for many "};
        std::vector<std::string> pool;
        for (int i = 0; i < 1500; ++i) {
            std::string s = starts[rng() % starts.size()];
            size_t n = 110 + rng() % 100;
            while (s.size() < n) s.push_back(static_cast<char>('a' + rng() % 26));
            pool.push_back(s);
        }
        for (int i = 0; i < kRows; ++i)
            t.rows.push_back({Value::integer(i * 7 + 3),
                              i % 53 == 0 ? Value::null() : Value::text(pool[rng() % pool.size()]),
                              Value::integer(static_cast<int64_t>(rng() % 300))});
        return testing::makeImage({t});
    }();
    return image;
}

struct RowInfo {
    RowId id = 0;
    std::vector<Value> values;
    std::vector<std::string> keys;  // one per real index
    bool live = true;
};

// The rows of "People" with the key of each row in each real index.
std::vector<RowInfo> readRows(Database& db) {
    std::vector<RowInfo> rows;
    auto t = db.table("People");
    EXPECT_TRUE(t.ok()) << errorText(t);
    if (!t.ok()) return rows;
    TableCursor c(db, *t);
    while (true) {
        auto more = c.next();
        EXPECT_TRUE(more.ok()) << errorText(more);
        if (!more.ok() || !*more) break;
        RowInfo r;
        r.id = c.rowId();
        r.values = c.values();
        for (const RealIndex& ri : (*t)->realIndexes) {
            std::vector<Value> vals;
            for (const IndexColumn& ic : ri.columns)
                for (size_t i = 0; i < (*t)->columns.size(); ++i)
                    if ((*t)->columns[i].number == ic.columnNumber) vals.push_back(r.values[i]);
            auto key = encodeIndexKey(db, **t, ri, vals);
            EXPECT_TRUE(key.ok()) << errorText(key);
            r.keys.push_back(key.ok() ? *key : std::string());
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

// Marks a row deleted or live again on its data page.
void setLive(Pager& pager, RowId id, bool live) {
    auto pg = pager.modify(id >> 8);
    ASSERT_TRUE(pg.ok());
    uint8_t* slot = *pg + 0x0E + 2 * (id & 0xFF);
    uint16_t v = static_cast<uint16_t>(slot[0] | (slot[1] << 8));
    v = static_cast<uint16_t>((v & 0x1FFF) | (live ? 0 : 0xC000));
    slot[0] = static_cast<uint8_t>(v);
    slot[1] = static_cast<uint8_t>(v >> 8);
}

// Child page of node entry i.
uint32_t childOf(const IndexPageView& v, size_t i) {
    const uint8_t* e = v.data.data() + v.ends[i] - 4;
    return (uint32_t{e[0]} << 24) | (uint32_t{e[1]} << 16) | (uint32_t{e[2]} << 8) | e[3];
}

// Levels of the tree (1: the root is a leaf) and whether the root is empty.
std::pair<int, bool> shape(Database& db, uint32_t root) {
    int levels = 0;
    uint32_t page = root;
    bool empty = false;
    while (levels < 40) {
        ++levels;
        auto ref = db.pages().page(page);
        EXPECT_TRUE(ref.ok());
        if (!ref.ok()) break;
        IndexPageView v;
        EXPECT_TRUE(parseIndexPage(**ref, db.format(), page, v).ok());
        if (levels == 1) empty = v.ends.empty();
        if (v.leaf) break;
        page = v.ends.empty() ? v.tail : childOf(v, 0);
    }
    return {levels, empty};
}

// Sibling links of node pages, which the checker leaves alone: the node
// children of one parent are linked in order among themselves only.
std::string nodeLinkProblems(Database& db, uint32_t page, int depth = 0) {
    auto view = [&](uint32_t n, IndexPageView& v) {
        auto ref = db.pages().page(n);
        return ref.ok() && parseIndexPage(**ref, db.format(), n, v).ok();
    };
    IndexPageView v;
    if (depth > 8 || !view(page, v)) return "page " + std::to_string(page) + " unreadable\n";
    if (depth == 0 && (v.prev || v.next)) return "the root has siblings\n";
    if (v.leaf) return "";
    std::vector<uint32_t> children;
    for (size_t i = 0; i < v.ends.size(); ++i) children.push_back(childOf(v, i));
    if (v.tail) children.push_back(v.tail);
    std::string out;
    for (size_t i = 0; i < children.size(); ++i) {
        IndexPageView c;
        if (!view(children[i], c)) return "page " + std::to_string(children[i]) + " unreadable\n";
        if (c.leaf) return "";
        uint32_t prev = i ? children[i - 1] : 0,
                 next = i + 1 < children.size() ? children[i + 1] : 0;
        if (c.prev != prev || c.next != next)
            out += "node " + std::to_string(children[i]) + " links " + std::to_string(c.prev) +
                   "/" + std::to_string(c.next) + ", expected " + std::to_string(prev) + "/" +
                   std::to_string(next) + "\n";
        out += nodeLinkProblems(db, children[i], depth + 1);
    }
    return out;
}

// Rows live in the model with `key` in index `ri`, in index order.
std::vector<uint32_t> modelRows(const std::vector<RowInfo>& rows, size_t ri,
                                const std::string& key) {
    std::vector<uint32_t> out;
    for (const RowInfo& r : rows)
        if (r.live && r.keys[ri] == key) out.push_back(r.id);
    std::sort(out.begin(), out.end());
    return out;
}

// Batches of row switches against the model; each batch is one change.
TEST(IndexTree, FollowsRowChangesInBatches) {
    enum class Order { Random, KeyAscending, KeyDescending, RowDescending };
    struct Batch {
        const char* what;
        double removeShare;  // of the live rows
        double reviveShare;  // of the deleted rows
        Order order;
        int churn;       // further random switches mixed in
        int probeEvery;  // lookups in the changing tree every so many switches, 0: none
    };
    const std::vector<Batch> batches = {
        {"remove a random third", 1.0 / 3, 0, Order::Random, 0, 97},
        {"revive them in key order", 0, 1, Order::KeyAscending, 0, 97},
        {"remove everything at random", 1, 0, Order::Random, 0, 0},
        {"revive everything from the last row", 0, 1, Order::RowDescending, 0, 500},
        {"churn", 0.2, 0, Order::Random, 4000, 31},
        {"remove everything in descending key order", 1, 0, Order::KeyDescending, 0, 211},
        {"revive everything at random", 0, 1, Order::Random, 0, 0},
        {"remove most in key order, then churn", 0.9, 0, Order::KeyAscending, 2000, 0},
        {"revive everything in descending key order", 0, 1, Order::KeyDescending, 0, 97},
    };
    auto image = sampleImage();
    ASSERT_FALSE(image.empty());
    auto db = testing::openImage(image);
    ASSERT_TRUE(db);
    ASSERT_EQ(checkText(*db), "");
    std::vector<RowInfo> rows = readRows(*db);
    ASSERT_EQ(rows.size(), static_cast<size_t>(kRows));
    std::mt19937 rng(5);
    const size_t nameIndex = 1;
    for (const Batch& b : batches) {
        SCOPED_TRACE(b.what);
        auto def = db->table("People");
        ASSERT_TRUE(def.ok());
        const TableDef& t = **def;
        auto pager = Pager::begin(*db);
        ASSERT_TRUE(pager.ok()) << errorText(pager);
        std::vector<std::unique_ptr<IndexTree>> trees;
        for (const RealIndex& ri : t.realIndexes)
            trees.push_back(std::make_unique<IndexTree>(
                **pager, db->format(), edit::IndexTreeRef{ri.rootPage, t.tdefPage, ri.usageMap}));
        // The switches of this batch, as row positions.
        std::vector<size_t> live, dead, ops;
        for (size_t i = 0; i < rows.size(); ++i) (rows[i].live ? live : dead).push_back(i);
        std::shuffle(live.begin(), live.end(), rng);
        std::shuffle(dead.begin(), dead.end(), rng);
        live.resize(static_cast<size_t>(live.size() * b.removeShare + 0.5));
        dead.resize(static_cast<size_t>(dead.size() * b.reviveShare + 0.5));
        ops = live;
        ops.insert(ops.end(), dead.begin(), dead.end());
        auto byKey = [&](size_t x, size_t y) {
            const auto& a = rows[x].keys[nameIndex];
            const auto& c = rows[y].keys[nameIndex];
            return a != c ? a < c : rows[x].id < rows[y].id;
        };
        if (b.order == Order::KeyAscending) std::sort(ops.begin(), ops.end(), byKey);
        if (b.order == Order::KeyDescending)
            std::sort(ops.begin(), ops.end(), [&](size_t x, size_t y) { return byKey(y, x); });
        if (b.order == Order::RowDescending)
            std::sort(ops.begin(), ops.end(), [&](size_t x, size_t y) { return x > y; });
        for (int i = 0; i < b.churn; ++i) ops.push_back(rng() % rows.size());

        size_t done = 0;
        for (size_t pos : ops) {
            RowInfo& r = rows[pos];
            r.live = !r.live;
            setLive(**pager, r.id, r.live);
            for (size_t k = 0; k < trees.size(); ++k) {
                Status st =
                    r.live ? trees[k]->insert(r.keys[k], r.id) : trees[k]->remove(r.keys[k], r.id);
                ASSERT_TRUE(st.ok()) << "index " << k << ": " << errorText(st);
            }
            // Lookups in the tree while it changes.
            if (b.probeEvery && ++done % b.probeEvery == 0) {
                const RowInfo& probe = rows[rng() % rows.size()];
                for (size_t k = 0; k < trees.size(); ++k) {
                    std::vector<uint32_t> want = modelRows(rows, k, probe.keys[k]);
                    auto got = trees[k]->rowsWithKey(probe.keys[k]);
                    ASSERT_TRUE(got.ok()) << errorText(got);
                    EXPECT_EQ(*got, want) << "index " << k;
                    auto has = trees[k]->containsKey(probe.keys[k]);
                    ASSERT_TRUE(has.ok()) << errorText(has);
                    EXPECT_EQ(*has, !want.empty()) << "index " << k;
                }
            }
        }
        // Row count and distinct keys in the definition, then commit.
        size_t liveCount = 0;
        for (const RowInfo& r : rows) liveCount += r.live;
        auto tdef = (*pager)->modify(t.tdefPage);
        ASSERT_TRUE(tdef.ok());
        put32(*tdef + 0x10, static_cast<uint32_t>(liveCount));
        for (size_t k = 0; k < trees.size(); ++k) {
            std::set<std::string> distinct;
            for (const RowInfo& r : rows)
                if (r.live) distinct.insert(r.keys[k]);
            auto n = trees[k]->distinctKeys();
            ASSERT_TRUE(n.ok()) << errorText(n);
            EXPECT_EQ(*n, distinct.size()) << "index " << k;
            put32(*tdef + 0x3F + 12 * k + 4, *n);
            ASSERT_TRUE(trees[k]->flush().ok());
        }
        ASSERT_TRUE((*pager)->commit().ok());
        trees.clear();

        EXPECT_EQ(checkText(*db), "");
        def = db->table("People");
        ASSERT_TRUE(def.ok());
        for (size_t k = 0; k < (*def)->realIndexes.size(); ++k) {
            const RealIndex& ri = (*def)->realIndexes[k];
            auto [levels, empty] = shape(*db, ri.rootPage);
            EXPECT_EQ(empty, liveCount == 0) << "index " << k;
            auto pages = readUsageMap(db->pages(), db->format(), ri.usageMap);
            ASSERT_TRUE(pages.ok());
            if (liveCount == 0) {
                EXPECT_EQ(levels, 1) << "index " << k;
                EXPECT_EQ(pages->size(), 1u) << "index " << k;
            }
            if (liveCount == rows.size() && k == nameIndex) {
                EXPECT_EQ(levels, 3);
            }
            EXPECT_EQ(nodeLinkProblems(*db, ri.rootPage), "") << "index " << k;
            // Lookups through the reader.
            for (int probe = 0; probe < 20; ++probe) {
                const RowInfo& r = rows[rng() % rows.size()];
                std::vector<Value> vals;
                for (const IndexColumn& ic : ri.columns)
                    for (size_t i = 0; i < (*def)->columns.size(); ++i)
                        if ((*def)->columns[i].number == ic.columnNumber)
                            vals.push_back(r.values[i]);
                auto cur = IndexCursor::open(*db, **def, ri, KeyRange::equal(vals));
                ASSERT_TRUE(cur.ok()) << errorText(cur);
                std::vector<uint32_t> got;
                while (true) {
                    auto more = cur->next();
                    ASSERT_TRUE(more.ok()) << errorText(more);
                    if (!*more) break;
                    got.push_back(cur->rowId());
                }
                EXPECT_EQ(got, modelRows(rows, k, r.keys[k])) << "index " << k;
            }
        }
    }
}

// Damage to the pages of a three-level tree: every failure is Corrupt, and
// the walk ends.
TEST(IndexTree, DamagedTreesAreRefused) {
    struct Case {
        const char* what;
        bool leaf;  // damage the first leaf, else the root
        void (*damage)(uint8_t* page, uint32_t number);
    };
    const std::vector<Case> cases = {
        {"child page outside the file", false,
         [](uint8_t* p, uint32_t) { std::memset(p + 0x1E0, 0x7F, 600); }},
        {"root as its own tail", false, [](uint8_t* p, uint32_t n) { put32(p + 0x14, n); }},
        {"prefix longer than the first entry", true,
         [](uint8_t* p, uint32_t) { p[0x18] = p[0x19] = 0xFF; }},
        {"page of another table", true, [](uint8_t* p, uint32_t) { put32(p + 4, 2); }},
        {"leaf chain back to itself", true, [](uint8_t* p, uint32_t n) { put32(p + 0x10, n); }},
        {"not an index page", true, [](uint8_t* p, uint32_t) { p[0] = 0x01; }},
        {"entries out of order", true,
         [](uint8_t* p, uint32_t) {
             // The first entry made larger than all others.
             p[0x1E0] = 0xFF;
             p[0x18] = p[0x19] = 0;
         }},
        {"every bit of the entry map set", true,
         [](uint8_t* p, uint32_t) { std::memset(p + 0x1B, 0xFF, 453); }},
    };
    auto image = sampleImage();
    ASSERT_FALSE(image.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto db = testing::openImage(image);
        ASSERT_TRUE(db);
        std::vector<RowInfo> rows = readRows(*db);
        auto def = db->table("People");
        ASSERT_TRUE(def.ok());
        const RealIndex& ri = (*def)->realIndexes[1];
        uint32_t target = ri.rootPage;
        if (c.leaf) {
            // Down the first children to the first leaf.
            for (int depth = 0; depth < 10; ++depth) {
                auto ref = db->pages().page(target);
                ASSERT_TRUE(ref.ok());
                IndexPageView v;
                ASSERT_TRUE(parseIndexPage(**ref, db->format(), target, v).ok());
                if (v.leaf) break;
                const uint8_t* e = v.data.data() + v.ends[0] - 4;
                target =
                    (uint32_t{e[0]} << 24) | (uint32_t{e[1]} << 16) | (uint32_t{e[2]} << 8) | e[3];
            }
            ASSERT_NE(target, ri.rootPage);
        }
        auto pager = Pager::begin(*db);
        ASSERT_TRUE(pager.ok());
        auto pg = (*pager)->modify(target);
        ASSERT_TRUE(pg.ok());
        c.damage(*pg, target);
        IndexTree tree(**pager, db->format(), {ri.rootPage, (*def)->tdefPage, ri.usageMap});
        std::vector<Error> errors;
        auto note = [&](const Status& st) {
            if (!st.ok()) errors.push_back(st.error());
        };
        auto distinct = tree.distinctKeys();
        if (!distinct.ok()) errors.push_back(distinct.error());
        for (const RowInfo& r : rows) {
            auto has = tree.containsKey(r.keys[1]);
            if (!has.ok()) errors.push_back(has.error());
            note(tree.remove(r.keys[1], r.id));
            note(tree.insert(r.keys[1], r.id));
        }
        note(tree.flush());
        ASSERT_FALSE(errors.empty());
        for (const Error& e : errors) EXPECT_EQ(e.code(), Errc::Corrupt) << e.message();
    }
}

// Random bytes of random pages of a tree overwritten: whatever the damage,
// the tree answers or reports damage. Every tenth round is left undamaged
// and must give no error at all.
TEST(IndexTree, RandomDamageGivesErrorsOnly) {
    auto image = sampleImage();
    ASSERT_FALSE(image.empty());
    auto db = testing::openImage(image);
    ASSERT_TRUE(db);
    const std::vector<RowInfo> rows = readRows(*db);
    auto def = db->table("People");
    ASSERT_TRUE(def.ok());
    const TableDef t = **def;
    std::mt19937 rng(23);
    size_t failures = 0;
    for (int round = 0; round < 60; ++round) {
        const size_t k = 1 + round % 2;
        const bool intact = round % 10 == 0;
        const RealIndex& ri = t.realIndexes[k];
        auto pages = readUsageMap(db->pages(), db->format(), ri.usageMap);
        ASSERT_TRUE(pages.ok());
        auto pager = Pager::begin(*db);
        ASSERT_TRUE(pager.ok());
        for (int hit = 0; hit < (intact ? 0 : 3); ++hit) {
            uint32_t page = (*pages)[rng() % pages->size()];
            auto pg = (*pager)->modify(page);
            ASSERT_TRUE(pg.ok());
            for (int b = 0, n = 1 + static_cast<int>(rng() % 6); b < n; ++b)
                (*pg)[rng() % 4096] = static_cast<uint8_t>(rng());
        }
        IndexTree tree(**pager, db->format(), {ri.rootPage, t.tdefPage, ri.usageMap});
        std::vector<Error> errors;
        auto note = [&](const Status& st) {
            if (!st.ok()) errors.push_back(st.error());
        };
        // Operations that are all valid on the undamaged tree.
        std::set<size_t> removed;
        for (int op = 0; op < 400; ++op) {
            const size_t pos = rng() % rows.size();
            const RowInfo& r = rows[pos];
            if (op % 3 == 0) {
                auto has = tree.rowsWithKey(r.keys[k]);
                if (!has.ok()) errors.push_back(has.error());
            } else if (removed.insert(pos).second) {
                note(tree.remove(r.keys[k], r.id));
            } else {
                removed.erase(pos);
                note(tree.insert(r.keys[k], r.id));
            }
        }
        auto distinct = tree.distinctKeys();
        if (!distinct.ok()) errors.push_back(distinct.error());
        note(tree.flush());
        if (intact) {
            EXPECT_TRUE(errors.empty()) << errors.front().message();
            ASSERT_TRUE(distinct.ok());
        }
        failures += !errors.empty();
        for (const Error& e : errors) EXPECT_EQ(e.code(), Errc::Corrupt) << e.message();
        (*pager)->rollback();
    }
    // Most damage is found; some falls on bytes nobody reads.
    EXPECT_GT(failures, 25u);
}

// Entries the pages cannot take and entries that are not where they should
// be are refused. A refused insertion leaves the tree as it was; a removal of
// a missing entry is reported by the next call, and the tree is then spent.
TEST(IndexTree, RefusesImpossibleEntries) {
    auto image = sampleImage();
    ASSERT_FALSE(image.empty());
    auto db = testing::openImage(image);
    ASSERT_TRUE(db);
    std::vector<RowInfo> rows = readRows(*db);
    auto def = db->table("People");
    ASSERT_TRUE(def.ok());
    const RealIndex& ri = (*def)->realIndexes[1];
    const edit::IndexTreeRef ref{ri.rootPage, (*def)->tdefPage, ri.usageMap};
    const std::string& key = rows[10].keys[1];
    const std::vector<uint32_t> rowsOfKey = modelRows(rows, 1, key);
    {
        auto pager = Pager::begin(*db);
        ASSERT_TRUE(pager.ok());
        IndexTree tree(**pager, db->format(), ref);
        struct Case {
            const char* what;
            std::string key;
            uint32_t row;
            Errc code;
        };
        const std::vector<Case> cases = {
            {"an entry already there", key, rows[10].id, Errc::Corrupt},
            {"a key longer than a page can take", std::string(3000, '\x7F'), 0x100,
             Errc::InvalidArgument},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            Status st = tree.insert(c.key, c.row);
            ASSERT_FALSE(st.ok());
            EXPECT_EQ(st.error().code(), c.code) << st.error().message();
            auto now = tree.rowsWithKey(key);
            ASSERT_TRUE(now.ok()) << errorText(now);
            EXPECT_EQ(*now, rowsOfKey);
        }
        ASSERT_TRUE(tree.flush().ok());
        ASSERT_TRUE((*pager)->commit().ok());
        EXPECT_EQ(checkText(*db), "");
    }
    auto pager = Pager::begin(*db);
    ASSERT_TRUE(pager.ok());
    IndexTree tree(**pager, db->format(), ref);
    ASSERT_TRUE(tree.remove(key, rows[10].id).ok());
    ASSERT_TRUE(tree.remove(key, 0xFFFFFFFE).ok());
    auto has = tree.containsKey(key);
    ASSERT_FALSE(has.ok());
    EXPECT_EQ(has.error().code(), Errc::Corrupt) << has.error().message();
    Status st = tree.flush();
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.error().code(), Errc::Corrupt);
}

}  // namespace
}  // namespace tab::jet
