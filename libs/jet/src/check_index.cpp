// Index checks: the tree of every real index is walked from its root (pages,
// order, node entries against their children, the leaf chain), then its leaf
// entries are compared with the entries recomputed from the table's live
// rows, one index at a time so that memory stays bounded by one index.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "check_internal.h"
#include "tabulary/jet/index_reader.h"
#include "tabulary/jet/table_cursor.h"

namespace tab::jet::check {

namespace {

constexpr int kMaxDepth = 32;

std::string_view view(const uint8_t* p, size_t n) {
    return std::string_view(reinterpret_cast<const char*>(p), n);
}

std::string_view entryAt(const IndexPageView& v, size_t i) {
    uint32_t start = i == 0 ? 0 : v.ends[i - 1];
    return view(v.data.data() + start, v.ends[i] - start);
}

std::string hexText(std::string_view s, size_t max = 24) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < s.size() && i < max; ++i) {
        if (i) out += ' ';
        out += d[static_cast<unsigned char>(s[i]) >> 4];
        out += d[static_cast<unsigned char>(s[i]) & 15];
    }
    if (s.size() > max) out += " ...";
    return out;
}

uint32_t rowIdOf(std::string_view entry) {
    const auto* p = reinterpret_cast<const uint8_t*>(entry.data() + entry.size() - 4);
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

std::string entryRow(std::string_view entry) {
    uint32_t id = rowIdOf(entry);
    return rowText(id >> 8, id & 0xFF);
}

class IndexCheck {
public:
    IndexCheck(Checker& checker, const TableDef& table, const TableFacts& tableFacts, size_t n)
        : c(checker), t(table), facts(tableFacts), ri(table.realIndexes[n]), number(n) {
        scope = "table " + quoted(t.name);
        std::string names;
        for (const auto& ix : t.indexes)
            if (ix.realIndex == number) names += (names.empty() ? "" : "/") + ix.name;
        label = "index " + (names.empty() ? "#" + std::to_string(number) : quoted(names));
        for (const auto& ix : t.indexes)
            if (ix.realIndex == number && ix.primaryKey()) primaryKey = true;
    }

    void run(const std::shared_ptr<const TableDef>& table);

private:
    void err(const std::string& m) { c.error(scope, label + ": " + m); }
    void warn(const std::string& m) { c.warning(scope, label + ": " + m); }
    bool load(uint32_t page, IndexPageView& out);
    bool walk(uint32_t page, int depth, std::string& last);
    void compareEntries(const std::shared_ptr<const TableDef>& table);

    Checker& c;
    const TableDef& t;
    const TableFacts& facts;
    const RealIndex& ri;
    size_t number;
    bool primaryKey = false;
    std::string scope, label;
    std::vector<uint32_t> mapPages;
    std::unordered_set<uint32_t> treePages;
    std::vector<uint32_t> leaves;                          // in tree order
    std::vector<std::pair<uint32_t, uint32_t>> leafLinks;  // prev, next of each leaf
    std::string previousLeafEntry;
    uint64_t leafEntries = 0;
    bool treeSound = true;
};

bool IndexCheck::load(uint32_t page, IndexPageView& out) {
    auto pg = c.pages.page(page);
    if (!pg.ok()) {
        err(pg.error().message());
        return false;
    }
    Status st = parseIndexPage(**pg, c.f, page, out);
    if (!st.ok()) {
        err(st.error().message());
        return false;
    }
    return true;
}

// Walks the subtree at `page` in order; `last` receives its largest entry
// (key and row pointer).
bool IndexCheck::walk(uint32_t page, int depth, std::string& last) {
    if (depth > kMaxDepth) {
        err("tree deeper than " + std::to_string(kMaxDepth) + " levels at " + pageText(page));
        return false;
    }
    if (!treePages.insert(page).second) {
        err(pageText(page) + " is reached twice in the tree");
        return false;
    }
    if (!c.claim(page, Use::Index, t.tdefPage, static_cast<uint32_t>(number), scope,
                 label + " tree"))
        return false;
    if (!std::binary_search(mapPages.begin(), mapPages.end(), page))
        err("tree " + pageText(page) + " is not in the index's usage map");
    IndexPageView v;
    if (!load(page, v)) return false;
    if (v.owner != t.tdefPage) {
        err(pageText(page) + " has owner " + std::to_string(v.owner) + ", not the table");
        return false;
    }
    if (v.freeSpace != c.pageSize - v.dataEnd)
        err(pageText(page) + ": free-space field " + std::to_string(v.freeSpace) +
            ", entries end at " + std::to_string(v.dataEnd));
    auto keyRow = [&](size_t i) {
        std::string_view e = entryAt(v, i);
        return e.substr(0, e.size() - (v.leaf ? 0 : kIndexChildSize));
    };
    bool ordered = true;
    for (size_t i = 1; i < v.ends.size(); ++i)
        if (!(keyRow(i - 1) < keyRow(i))) {
            err(pageText(page) + ": entry " + std::to_string(i) + " (" + hexText(keyRow(i)) +
                ") is not after entry " + std::to_string(i - 1) + " (" + hexText(keyRow(i - 1)) +
                ")");
            ordered = false;
            break;
        }
    if (v.leaf) {
        if (v.tail != 0)
            err("leaf " + pageText(page) + " has a tail page " + std::to_string(v.tail));
        leaves.push_back(page);
        leafLinks.emplace_back(v.prev, v.next);
        leafEntries += v.ends.size();
        if (!v.ends.empty()) {
            if (!previousLeafEntry.empty() && !(std::string_view(previousLeafEntry) < keyRow(0))) {
                err("leaf " + pageText(page) + " starts with " + hexText(keyRow(0)) +
                    ", not after the previous leaf's last entry");
                ordered = false;
            }
            previousLeafEntry.assign(keyRow(v.ends.size() - 1));
            last.assign(keyRow(v.ends.size() - 1));
        }
        return ordered;
    }
    if (v.ends.empty()) {
        err("node " + pageText(page) + " has no entries");
        return false;
    }
    bool ok = ordered;
    for (size_t i = 0; i < v.ends.size(); ++i) {
        std::string_view e = entryAt(v, i);
        const auto* cp = reinterpret_cast<const uint8_t*>(e.data() + e.size() - kIndexChildSize);
        uint32_t child =
            (uint32_t{cp[0]} << 24) | (uint32_t{cp[1]} << 16) | (uint32_t{cp[2]} << 8) | cp[3];
        std::string childLast;
        if (!walk(child, depth + 1, childLast)) return false;
        if (childLast != keyRow(i)) {
            err("node " + pageText(page) + " entry " + std::to_string(i) + " (" +
                hexText(keyRow(i)) + ") differs from the last entry of child " + pageText(child) +
                " (" + hexText(childLast) + ")");
            ok = false;
        }
    }
    last.assign(keyRow(v.ends.size() - 1));
    if (v.tail != 0) {
        std::string tailLast;
        if (!walk(v.tail, depth + 1, tailLast)) return false;
        if (!(std::string_view(last) < std::string_view(tailLast))) {
            err("node " + pageText(page) + ": tail " + pageText(v.tail) +
                " does not hold entries after the node's entries");
            ok = false;
        }
        last = std::move(tailLast);
    } else if (v.ends.size() > 1) {
        err("node " + pageText(page) + " has " + std::to_string(v.ends.size()) +
            " children but no tail page");
        ok = false;
    }
    return ok;
}

// Recomputed entries of one index, packed into one buffer.
struct Entries {
    std::string bytes;
    struct Ref {
        uint32_t offset;
        uint16_t length;
        bool allNull, anyNull;
    };
    std::vector<Ref> refs;
    std::string_view at(size_t i) const {
        return std::string_view(bytes).substr(refs[i].offset, refs[i].length);
    }
};

void IndexCheck::compareEntries(const std::shared_ptr<const TableDef>& table) {
    // Keys recomputed from the rows.
    std::vector<int> columns;
    for (const auto& ic : ri.columns) {
        int pos = -1;
        for (size_t i = 0; i < t.columns.size(); ++i)
            if (t.columns[i].number == ic.columnNumber) pos = static_cast<int>(i);
        if (pos < 0) {
            err("column number " + std::to_string(ic.columnNumber) + " does not exist");
            return;
        }
        columns.push_back(pos);
    }
    Entries rec;
    bool recomputed = facts.rowsReadable && !columns.empty();
    if (recomputed) {
        TableCursor cursor(c.db, table, columns);
        std::vector<Value> values(columns.size());
        while (true) {
            auto more = cursor.next();
            if (!more.ok()) {
                // Already reported by the row checks.
                recomputed = false;
                break;
            }
            if (!*more) break;
            bool allNull = true, anyNull = false;
            for (size_t k = 0; k < columns.size(); ++k) {
                values[k] = cursor.values()[static_cast<size_t>(columns[k])];
                bool null = values[k].isNull();
                allNull = allNull && null;
                anyNull = anyNull || null;
            }
            if (allNull && ri.ignoreNulls()) continue;
            auto key = encodeIndexKey(c.db, t, ri, values);
            if (!key.ok()) {
                if (key.error().code() == Errc::Unsupported)
                    warn("entries not compared with the rows: " + key.error().message());
                else
                    err("key of row " + std::to_string(cursor.rowId()) + ": " +
                        key.error().message());
                recomputed = false;
                break;
            }
            uint32_t id = cursor.rowId();
            if (key->size() + 4 > 0xFFFF || rec.bytes.size() > UINT32_MAX - key->size() - 4) {
                recomputed = false;
                break;
            }
            rec.refs.push_back({static_cast<uint32_t>(rec.bytes.size()),
                                static_cast<uint16_t>(key->size() + 4), allNull, anyNull});
            rec.bytes += *key;
            for (int shift : {24, 16, 8, 0})
                rec.bytes.push_back(static_cast<char>((id >> shift) & 0xFF));
        }
    }
    if (recomputed) {
        std::sort(rec.refs.begin(), rec.refs.end(),
                  [&](const Entries::Ref& a, const Entries::Ref& b) {
                      return std::string_view(rec.bytes).substr(a.offset, a.length) <
                             std::string_view(rec.bytes).substr(b.offset, b.length);
                  });
    } else if (!ri.ignoreNulls() && leafEntries != facts.liveRows.size()) {
        err(std::to_string(leafEntries) + " entries for " + std::to_string(facts.liveRows.size()) +
            " live rows");
    }

    // The leaf chain in order against the recomputed entries (or, without
    // them, against the set of live rows).
    size_t r = 0, missing = 0, extra = 0;
    IndexPageView v;
    for (uint32_t leaf : leaves) {
        if (!load(leaf, v)) return;
        for (size_t i = 0; i < v.ends.size(); ++i) {
            std::string_view e = entryAt(v, i);
            if (!recomputed) {
                if (!std::binary_search(facts.liveRows.begin(), facts.liveRows.end(), rowIdOf(e)) &&
                    ++extra <= 3)
                    err("leaf " + pageText(leaf) + " entry " + std::to_string(i) + " points to " +
                        entryRow(e) + ", not a live row of the table");
                continue;
            }
            while (r < rec.refs.size() && rec.at(r) < e) {
                if (++missing <= 3)
                    err("no entry for " + entryRow(rec.at(r)) + " (key " +
                        hexText(rec.at(r).substr(0, rec.at(r).size() - 4)) + ")");
                ++r;
            }
            if (r < rec.refs.size() && rec.at(r) == e) {
                ++r;
                continue;
            }
            if (++extra <= 3)
                err("leaf " + pageText(leaf) + " entry " + std::to_string(i) + " (" + hexText(e) +
                    ") matches no row");
        }
    }
    if (recomputed) {
        for (; r < rec.refs.size(); ++r)
            if (++missing <= 3)
                err("no entry for " + entryRow(rec.at(r)) + " (key " +
                    hexText(rec.at(r).substr(0, rec.at(r).size() - 4)) + ")");
    }
    if (missing > 3) err(std::to_string(missing) + " rows without an entry in all");
    if (extra > 3) err(std::to_string(extra) + " entries matching no row in all");
    if (!recomputed) return;

    // Uniqueness, nulls and the distinct-key statistic, on key bytes only.
    auto key = [&](const Entries::Ref& x) {
        return std::string_view(rec.bytes).substr(x.offset, x.length - 4u);
    };
    std::stable_sort(rec.refs.begin(), rec.refs.end(),
                     [&](const Entries::Ref& a, const Entries::Ref& b) { return key(a) < key(b); });
    const bool unique = ri.unique() || primaryKey;
    const bool noNulls = ri.required() || primaryKey;
    uint64_t distinct = 0, duplicates = 0, nulls = 0;
    for (size_t i = 0; i < rec.refs.size(); ++i) {
        const auto& x = rec.refs[i];
        if (noNulls && x.anyNull && ++nulls <= 3)
            err(entryRow(rec.at(i)) + " has a null key column in an index that allows none");
        if (i > 0 && key(x) == key(rec.refs[i - 1])) {
            if (unique && !x.allNull && ++duplicates <= 3)
                err("duplicate key " + hexText(key(x)) + " in a unique index (" +
                    entryRow(rec.at(i)) + ")");
            continue;
        }
        ++distinct;
    }
    if (duplicates > 3) err(std::to_string(duplicates) + " duplicate keys in all");
    if (number < facts.uniqueCounts.size() && facts.uniqueCounts[number] != distinct)
        warn("definition records " + std::to_string(facts.uniqueCounts[number]) +
             " distinct keys, the rows have " + std::to_string(distinct));
}

void IndexCheck::run(const std::shared_ptr<const TableDef>& table) {
    UsageMap map = c.readMap(ri.usageMap, t.tdefPage, scope, label + " usage map");
    mapPages = map.pages;
    if (ri.rootPage == 0 || ri.rootPage >= c.pageCount) {
        err("root " + pageText(ri.rootPage) + " is outside the file");
        return;
    }
    std::string last;
    treeSound = walk(ri.rootPage, 0, last);
    if (!treeSound) return;
    // The leaf chain must visit the leaves in tree order, linked both ways.
    for (size_t k = 0; k < leaves.size(); ++k) {
        uint32_t wantPrev = k ? leaves[k - 1] : 0,
                 wantNext = k + 1 < leaves.size() ? leaves[k + 1] : 0;
        if (leafLinks[k].first != wantPrev || leafLinks[k].second != wantNext) {
            err("leaf " + pageText(leaves[k]) + " links to " + std::to_string(leafLinks[k].first) +
                "/" + std::to_string(leafLinks[k].second) +
                " (previous/next), the tree order gives " + std::to_string(wantPrev) + "/" +
                std::to_string(wantNext));
            treeSound = false;
            break;
        }
    }
    std::vector<uint32_t> extra;
    for (uint32_t p : mapPages)
        if (!treePages.count(p)) extra.push_back(p);
    if (!extra.empty()) {
        std::string list;
        for (size_t i = 0; i < extra.size() && i < 10; ++i)
            list += (i ? ", " : "") + std::to_string(extra[i]);
        warn("usage map lists " + std::to_string(extra.size()) +
             " page(s) outside the tree: " + list);
    }
    if (treeSound) compareEntries(table);
}

}  // namespace

void checkIndexes(Checker& c, const std::shared_ptr<const TableDef>& table, const TableFacts& facts,
                  size_t& indexesChecked) {
    for (size_t i = 0; i < table->realIndexes.size(); ++i) {
        ++indexesChecked;
        IndexCheck(c, *table, facts, i).run(table);
    }
}

}  // namespace tab::jet::check
