// The structural checker: one pass over every page records its type and owner
// field; the global usage map says which pages are in use; then every
// structure that references pages (table definitions, usage maps, rows, long
// values, index trees) claims them, so that a page outside the file, a page
// marked free, a page of the wrong type or a page with two owners shows up,
// and pages in use that nothing claims are reported as leaked.
#include "tabulary/jet/check.h"

#include <algorithm>
#include <array>
#include <set>
#include <unordered_map>

#include "check_internal.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/jet/table_cursor.h"

namespace tab::jet {

size_t CheckReport::errorCount() const {
    size_t n = 0;
    for (const auto& p : problems) n += p.severity == CheckProblem::Severity::Error;
    return n;
}

size_t CheckReport::warningCount() const {
    return problems.size() - errorCount();
}

namespace check {

namespace {

constexpr int kMaxOverflowHops = 8;
constexpr uint32_t kMaxSlots = 256;  // the row number of a row pointer is one byte
constexpr int32_t kTablesContainerParent = 0x0F000000;

char hexDigit(unsigned v) {
    return "0123456789ABCDEF"[v & 15];
}

std::string typeText(uint8_t t) {
    return std::string("0x") + hexDigit(t >> 4) + hexDigit(t);
}

std::string listPages(const std::vector<uint32_t>& pages, size_t shown = 10) {
    std::string s;
    for (size_t i = 0; i < pages.size() && i < shown; ++i)
        s += (i ? ", " : "") + std::to_string(pages[i]);
    if (pages.size() > shown) s += ", ...";
    return s;
}

bool expectedType(Use use, uint8_t t) {
    switch (use) {
        case Use::MapRows:
        case Use::Data:
        case Use::Lval:
            return t == 0x01;
        case Use::Tdef:
            return t == 0x02;
        case Use::Index:
            return t == 0x03 || t == 0x04;
        case Use::MapBitmap:
            return t == 0x05;
        default:
            return true;
    }
}

const char* expectedTypeText(Use use) {
    switch (use) {
        case Use::MapRows:
            return "a data page holding usage maps";
        case Use::Data:
            return "a data page";
        case Use::Lval:
            return "a long-value page";
        case Use::Tdef:
            return "a table definition page";
        case Use::Index:
            return "an index page";
        case Use::MapBitmap:
            return "a usage-map bitmap page";
        default:
            return "a page";
    }
}

bool sharable(Use use) {
    return use == Use::MapRows || use == Use::Lval;
}

}  // namespace

std::string pageText(uint32_t page) {
    return "page " + std::to_string(page);
}
std::string rowText(uint32_t page, uint32_t row) {
    return "row " + std::to_string(row) + " of page " + std::to_string(page);
}
std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

Checker::Checker(Database& d, CheckReport& report, const CheckOptions& options)
    : db(d),
      pages(d.pages()),
      f(d.format()),
      pageCount(d.pages().pageCount()),
      pageSize(d.pages().pageSize()),
      m_report(report),
      m_options(options) {}

void Checker::add(Severity s, const std::string& scope, const std::string& message) {
    ScopeCount& sc = m_scopes[scope];
    if (sc.shown >= m_options.maxMessagesPerScope) {
        ++(s == Severity::Error ? sc.hiddenErrors : sc.hiddenWarnings);
        return;
    }
    ++sc.shown;
    m_report.problems.push_back({s, scope.empty() ? message : scope + ": " + message});
}

void Checker::flushSuppressed() {
    for (auto& [scope, sc] : m_scopes) {
        std::string where = scope.empty() ? "file" : scope;
        if (sc.hiddenErrors)
            m_report.problems.push_back(
                {Severity::Error,
                 where + ": " + std::to_string(sc.hiddenErrors) + " more errors not shown"});
        if (sc.hiddenWarnings)
            m_report.problems.push_back(
                {Severity::Warning,
                 where + ": " + std::to_string(sc.hiddenWarnings) + " more warnings not shown"});
        sc.hiddenErrors = sc.hiddenWarnings = 0;
    }
}

std::string Checker::describe(const Claim& c) const {
    auto name = [&](uint32_t t) {
        auto it = tableNames.find(t);
        return it == tableNames.end() ? "the table at " + pageText(t)
                                      : "table " + quoted(it->second);
    };
    switch (c.use) {
        case Use::Header:
            return "the file header";
        case Use::MapRows:
            return "usage-map rows";
        case Use::MapBitmap:
            return c.table ? "a usage-map bitmap of " + name(c.table) : "the global usage map";
        case Use::Tdef:
            return "the definition of " + name(c.table);
        case Use::Data:
            return "a data page of " + name(c.table);
        case Use::Lval:
            return "long values";
        case Use::Index:
            return "index " + std::to_string(c.index) + " of " + name(c.table);
        default:
            return "nothing";
    }
}

bool Checker::claim(uint32_t page, Use use, uint32_t table, uint32_t index,
                    const std::string& scope, const std::string& what) {
    if (page == 0 || page >= pageCount) {
        error(scope,
              what + " points to " + pageText(page) +
                  (page ? ", beyond the end of the file (" + std::to_string(pageCount) + " pages)"
                        : ", the file header"));
        return false;
    }
    if (!expectedType(use, type[page])) {
        error(scope, what + ": " + pageText(page) + " has type " + typeText(type[page]) +
                         ", expected " + expectedTypeText(use));
        return false;
    }
    if (haveGlobalMap && free[page])
        error(scope,
              what + ": " + pageText(page) + " is in use but marked free in the global usage map");
    Claim& c = claims[page];
    if (c.use == Use::None) {
        c = {use, table, index};
        return true;
    }
    if (c.use == use && (sharable(use) || (c.table == table && c.index == index))) return true;
    error(scope, pageText(page) + " is claimed twice: by " + describe(c) + " and by " +
                     describe({use, table, index}) + " (" + what + ")");
    return false;
}

UsageMap Checker::readMap(uint32_t pointer, uint32_t table, const std::string& scope,
                          const std::string& what) {
    UsageMap out;
    const uint32_t rowPage = pointer >> 8, row = pointer & 0xFF;
    if (!claim(rowPage, Use::MapRows, table, 0, scope, what)) return out;
    auto slice = rowAt(pages, f, rowPage, row);
    if (!slice.ok()) {
        error(scope, what + ": " + slice.error().message());
        return out;
    }
    Bytes map = slice->bytes();
    if (map.empty()) {
        error(scope, what + " at " + rowText(rowPage, row) + " is empty");
        return out;
    }
    std::vector<uint32_t> beyond;
    auto addPage = [&](uint64_t p) {
        if (p < pageCount)
            out.pages.push_back(static_cast<uint32_t>(p));
        else if (beyond.size() < 10)
            beyond.push_back(static_cast<uint32_t>(std::min<uint64_t>(p, UINT32_MAX)));
    };
    auto addBits = [&](Bytes bits, uint64_t first) {
        for (size_t i = 0; i < bits.size(); ++i) {
            uint8_t byte = bits[i];
            for (int bit = 0; byte && bit < 8; ++bit)
                if (byte & (1u << bit)) addPage(first + i * 8 + static_cast<uint64_t>(bit));
        }
    };
    if (map[0] == 0x00) {
        if (map.size() < 5) {
            error(scope, what + " at " + rowText(rowPage, row) + " is truncated");
            return out;
        }
        addBits(map.subspan(5), u32At(map.data() + 1));
    } else if (map[0] == 0x01) {
        const uint64_t bitsPerPage = uint64_t{pageSize - 4} * 8;
        std::set<uint32_t> seen;
        for (size_t j = 0; 1 + 4 * j + 4 <= map.size(); ++j) {
            uint32_t bp = u32At(map.data() + 1 + 4 * j);
            if (bp == 0) continue;
            if (!seen.insert(bp).second) {
                error(scope, what + " names bitmap " + pageText(bp) + " twice");
                continue;
            }
            if (!claim(bp, Use::MapBitmap, table, 0, scope, what + " bitmap")) continue;
            auto bits = pages.page(bp);
            if (!bits.ok()) {
                error(scope, what + ": " + bits.error().message());
                continue;
            }
            addBits(Bytes(**bits).subspan(4), j * bitsPerPage);
        }
    } else {
        error(scope, what + " at " + rowText(rowPage, row) + " has unknown type " +
                         std::to_string(map[0]));
        return out;
    }
    if (!beyond.empty())
        error(scope, what + " lists pages beyond the end of the file (" +
                         std::to_string(pageCount) + " pages): " + listPages(beyond));
    std::sort(out.pages.begin(), out.pages.end());
    out.pages.erase(std::unique(out.pages.begin(), out.pages.end()), out.pages.end());
    out.ok = true;
    return out;
}

namespace {

// Slot table of a data or long-value page: offsets inside the page, packed
// from the end in slot order, and the free-space field.
bool checkSlots(Checker& c, const Page& pg, uint32_t page, const std::string& scope) {
    const Format& f = c.f;
    auto n = readU16Le(pg, f.dataRowCountOffset);
    if (!n) {
        c.error(scope, pageText(page) + ": data page header truncated");
        return false;
    }
    const size_t headerEnd = f.dataRowsOffset + size_t{*n} * 2;
    if (headerEnd > pg.size()) {
        c.error(scope, pageText(page) + ": " + std::to_string(*n) + " row slots exceed the page");
        return false;
    }
    if (*n >= kMaxSlots)
        c.error(scope, pageText(page) + ": " + std::to_string(*n) +
                           " row slots, more than a row pointer can address");
    bool ok = true;
    size_t previous = pg.size();
    for (uint32_t i = 0; i < *n; ++i) {
        uint16_t e = u16At(pg.data() + f.dataRowsOffset + 2 * i);
        size_t off = e & 0x1FFF;
        if (e & 0x2000) {
            c.error(scope, rowText(page, i) + ": unknown flag 0x2000 in the row offset");
            ok = false;
        }
        if (off < headerEnd || off > previous) {
            c.error(scope, rowText(page, i) + ": offset " + std::to_string(off) + " outside [" +
                               std::to_string(headerEnd) + ", " + std::to_string(previous) + "]");
            ok = false;
            continue;
        }
        previous = off;
    }
    if (ok) {
        size_t expectedFree = previous - headerEnd;
        uint16_t stored = u16At(pg.data() + 2);
        if (stored != expectedFree)
            c.error(scope, pageText(page) + ": free-space field " + std::to_string(stored) +
                               ", the slots leave " + std::to_string(expectedFree));
    }
    return ok;
}

struct LvMapRef {
    uint16_t column = 0;
    uint32_t owned = 0, free = 0;
};

// What the table reader skips at the end of a TDEF: the unique-entry counts
// of the real indexes and the long-value column maps.
struct TdefTail {
    std::vector<uint32_t> uniqueCounts;
    std::vector<LvMapRef> lvMaps;
    size_t end = 0;  // parsed end, including the 0xFFFF terminator
    std::string error;
};

TdefTail parseTdefTail(Bytes b, const Format& f) {
    TdefTail t;
    auto fail = [&](const char* what) {
        t.error = what;
        return t;
    };
    if (b.size() < f.tdefHeaderSize) return fail("header truncated");
    const uint32_t numCols = u16At(b.data() + f.tdefNumCols);
    const uint32_t numIdx = u32At(b.data() + f.tdefNumIdx);
    const uint32_t numReal = u32At(b.data() + f.tdefNumRealIdx);
    if (numIdx > 1024 || numReal > 1024) return fail("implausible index count");
    size_t pos = f.tdefHeaderSize;
    if (!inBounds(b.size(), pos, size_t{numReal} * f.realIdxCountBlock))
        return fail("index blocks outside the definition");
    for (uint32_t i = 0; i < numReal; ++i)
        t.uniqueCounts.push_back(u32At(b.data() + pos + size_t{i} * f.realIdxCountBlock + 4));
    pos += size_t{numReal} * f.realIdxCountBlock + size_t{numCols} * f.columnDefSize;
    auto skipNames = [&](uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            if (!inBounds(b.size(), pos, f.nameLengthSize)) return false;
            size_t len = f.nameLengthSize == 1 ? b[pos] : u16At(b.data() + pos);
            pos += f.nameLengthSize;
            if (!inBounds(b.size(), pos, len)) return false;
            pos += len;
        }
        return true;
    };
    if (pos > b.size() || !skipNames(numCols)) return fail("column names outside the definition");
    pos += size_t{numReal} * f.realIdxDefSize + size_t{numIdx} * f.logicalIdxDefSize;
    if (pos > b.size() || !skipNames(numIdx)) return fail("index names outside the definition");
    while (true) {
        if (!inBounds(b.size(), pos, 2)) return fail("long-value maps not terminated");
        uint16_t col = u16At(b.data() + pos);
        pos += 2;
        if (col == 0xFFFF) break;
        if (!inBounds(b.size(), pos, 8)) return fail("long-value maps outside the definition");
        if (t.lvMaps.size() > 4096) return fail("too many long-value maps");
        t.lvMaps.push_back({col, u32At(b.data() + pos), u32At(b.data() + pos + 4)});
        pos += 8;
    }
    t.end = pos;
    return t;
}

bool isLongColumn(const Column& col) {
    return col.calculated ? (col.type == ColumnType::Memo || col.type == ColumnType::Ole)
                          : (col.storedType == 0x0B || col.storedType == 0x0C);
}

class TableCheck {
public:
    TableCheck(Checker& checker, std::unordered_map<uint32_t, std::array<uint8_t, kMaxSlots>>& refs,
               const std::vector<std::pair<uint32_t, uint32_t>>& byOwner)
        : c(checker), lvRefs(refs), dataPagesByOwner(byOwner) {}

    // Returns the definition when it could be read (indexes are checked next).
    std::shared_ptr<const TableDef> run(const CatalogObject& obj, TableFacts& facts,
                                        uint64_t& rowsRead);

private:
    bool readChain(uint32_t first, std::vector<uint8_t>& raw);
    void checkDataPages(const UsageMap& owned, TableFacts& facts);
    void scanRows(const TableDef& def, TableFacts& facts, uint64_t& rowsRead);
    void checkLongValue(const Column& col, Bytes field, uint32_t rowId);
    bool lvalSlot(uint32_t pointer, const std::string& what, RowSlice& out);

    Checker& c;
    std::unordered_map<uint32_t, std::array<uint8_t, kMaxSlots>>& lvRefs;
    const std::vector<std::pair<uint32_t, uint32_t>>& dataPagesByOwner;
    std::string scope;
    uint32_t tdef = 0;
    std::map<uint16_t, std::set<uint32_t>> lvPagesByColumn;  // pages reached from rows
};

bool TableCheck::readChain(uint32_t first, std::vector<uint8_t>& raw) {
    std::set<uint32_t> seen;
    for (uint32_t p = first; p != 0;) {
        if (!seen.insert(p).second) {
            c.error(scope, "definition pages form a cycle at " + pageText(p));
            return false;
        }
        if (seen.size() > 256) {
            c.error(scope, "definition chain longer than 256 pages");
            return false;
        }
        if (!c.claim(p, Use::Tdef, tdef, 0, scope, "definition page")) return false;
        auto pg = c.pages.page(p);
        if (!pg.ok()) {
            c.error(scope, pg.error().message());
            return false;
        }
        const Page& page = **pg;
        raw.insert(raw.end(), page.begin() + (raw.empty() ? 0 : 8), page.end());
        p = u32At(page.data() + 4);
    }
    return true;
}

void TableCheck::checkDataPages(const UsageMap& owned, TableFacts& facts) {
    for (uint32_t p : owned.pages) {
        if (c.type[p] == 0x01 && c.ownerField[p] == tdef) {
            if (!c.claim(p, Use::Data, tdef, 0, scope, "owned-pages map")) continue;
            auto pg = c.pages.page(p);
            if (!pg.ok()) {
                c.error(scope, pg.error().message());
                continue;
            }
            if (checkSlots(c, **pg, p, scope)) facts.dataPages.push_back(p);
        } else if (!c.isUsed(p)) {
            c.warning(scope, "owned-pages map lists " + pageText(p) +
                                 ", a page marked free in the global usage map");
        } else {
            c.error(scope, "owned-pages map lists " + pageText(p) + " (type " +
                               typeText(c.type[p]) + ", owner field " +
                               std::to_string(c.ownerField[p]) +
                               "), which is not a data page of the table");
        }
    }
    // The reverse: data pages naming this table as owner that the map misses.
    auto range =
        std::equal_range(dataPagesByOwner.begin(), dataPagesByOwner.end(), std::make_pair(tdef, 0u),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    // Access drops pages whose rows were all deleted from the map but leaves
    // them marked used: only pages that still hold rows are lost.
    std::vector<uint32_t> missing, emptied;
    for (auto it = range.first; it != range.second; ++it) {
        const uint32_t p = it->second;
        if (!c.isUsed(p) || std::binary_search(owned.pages.begin(), owned.pages.end(), p)) continue;
        auto pg = c.pages.page(p);
        if (!pg.ok()) continue;
        auto n = dataRowCount(**pg, c.f, p);
        bool holdsRows = false;
        for (uint32_t r = 0; n.ok() && r < std::min<uint32_t>(*n, kMaxSlots); ++r)
            holdsRows = holdsRows || (u16At(pg->get()->data() + c.f.dataRowsOffset + 2 * r) &
                                      (kRowDeleted | kRowOverflow)) != (kRowDeleted | kRowOverflow);
        (holdsRows ? missing : emptied).push_back(p);
    }
    if (!missing.empty())
        c.error(scope, std::to_string(missing.size()) +
                           " data page(s) with rows of the table are missing from its owned-pages "
                           "map: " +
                           listPages(missing));
    if (!emptied.empty())
        c.warning(scope, std::to_string(emptied.size()) +
                             " data page(s) of the table holding only deleted rows are left out of "
                             "its owned-pages map but still marked used: " +
                             listPages(emptied));
}

bool TableCheck::lvalSlot(uint32_t pointer, const std::string& what, RowSlice& out) {
    const uint32_t page = pointer >> 8, row = pointer & 0xFF;
    if (page == 0 || page >= c.pageCount) {
        c.error(scope, what + " points to " + pageText(page) + ", outside the file");
        return false;
    }
    if (!c.isLvalPage(page)) {
        c.error(scope, what + " points to " + pageText(page) + ", which is not a long-value page");
        return false;
    }
    if (!c.claim(page, Use::Lval, tdef, 0, scope, what)) return false;
    auto s = rowAt(c.pages, c.f, page, row);
    if (!s.ok()) {
        c.error(scope, what + ": " + s.error().message());
        return false;
    }
    if (s->flags != 0) {
        c.error(scope, what + " points to " + rowText(page, row) + ", which is not a live row");
        return false;
    }
    uint8_t& refs = lvRefs[page][row];
    if (refs == 1)
        c.error(scope, what + ": long-value " + rowText(page, row) + " is referenced twice");
    if (refs < 255) ++refs;
    out = std::move(*s);
    return true;
}

void TableCheck::checkLongValue(const Column& col, Bytes field, uint32_t rowId) {
    if (field.size() < 12) return;  // an empty value
    const std::string what =
        "column " + quoted(col.name) + " of " + rowText(rowId >> 8, rowId & 0xFF);
    const uint32_t length = u32At(field.data()) & 0x3FFFFFFF;
    const uint8_t kind = field[3] & 0xC0;
    const uint32_t pointer = u32At(field.data() + 4);
    if (kind == 0x80) {
        if (12 + uint64_t{length} > field.size())
            c.error(scope, what + ": inline long value of " + std::to_string(length) +
                               " bytes does not fit its " + std::to_string(field.size() - 12) +
                               " bytes");
        return;
    }
    if (kind == 0xC0) {
        c.error(scope, what + ": long value of unknown storage kind");
        return;
    }
    RowSlice s;
    if (kind == 0x40) {
        if (!lvalSlot(pointer, what, s)) return;
        lvPagesByColumn[col.number].insert(pointer >> 8);
        if (s.end - s.start < length)
            c.error(scope, what + ": long value of " + std::to_string(length) + " bytes, its " +
                               rowText(pointer >> 8, pointer & 0xFF) + " holds " +
                               std::to_string(s.end - s.start));
        return;
    }
    // A chain: every piece but the last is a full row, so far fewer hops than
    // bytes; the cap only stops hostile chains of empty pieces.
    const uint64_t maxHops = uint64_t{length} / 64 + 64;
    uint64_t total = 0, hops = 0;
    std::set<uint32_t> seen;
    uint32_t next = pointer;
    while (total < length) {
        if (next == 0) {
            c.error(scope, what + ": long-value chain ends after " + std::to_string(total) +
                               " of " + std::to_string(length) + " bytes");
            return;
        }
        if (!seen.insert(next).second || ++hops > maxHops) {
            c.error(scope, what + ": long-value chain forms a cycle at " +
                               rowText(next >> 8, next & 0xFF));
            return;
        }
        if (!lvalSlot(next, what, s)) return;
        lvPagesByColumn[col.number].insert(next >> 8);
        Bytes b = s.bytes();
        if (b.size() < 4) {
            c.error(scope, what + ": long-value piece " + rowText(next >> 8, next & 0xFF) +
                               " is shorter than its pointer");
            return;
        }
        next = u32At(b.data());
        total += b.size() - 4;
    }
    if (next != 0)
        c.error(scope, what + ": long-value chain goes on after its " + std::to_string(length) +
                           " bytes (to " + rowText(next >> 8, next & 0xFF) + ")");
}

void TableCheck::scanRows(const TableDef& def, TableFacts& facts, uint64_t& rowsRead) {
    const Format& f = c.f;
    std::vector<bool> wanted(def.columns.size());
    std::vector<size_t> longColumns;
    int autoColumn = -1;
    for (size_t i = 0; i < def.columns.size(); ++i) {
        const Column& col = def.columns[i];
        // Long values are followed here, not by the row decoder.
        wanted[i] = !isLongColumn(col);
        if (isLongColumn(col)) longColumns.push_back(i);
        if (col.autoNumber && col.type == ColumnType::Long) autoColumn = static_cast<int>(i);
    }
    std::vector<Value> values(def.columns.size());
    std::vector<uint32_t> offs;
    std::vector<uint32_t> targets, overflowSlots;
    int64_t maxAuto = 0;
    uint64_t live = 0;
    for (uint32_t p : facts.dataPages) {
        auto pg = c.pages.page(p);
        if (!pg.ok()) continue;  // reported with the page checks
        uint32_t n = std::min<uint32_t>(u16At(pg->get()->data() + f.dataRowCountOffset), kMaxSlots);
        for (uint32_t r = 0; r < n; ++r) {
            auto slice = rowOnPage(*pg, f, p, r);
            if (!slice.ok()) continue;  // bad offsets were reported with the slots
            const uint16_t flags = slice->flags;
            if (flags == (kRowDeleted | kRowOverflow)) continue;
            if (flags == kRowDeleted) {
                overflowSlots.push_back((p << 8) | r);
                continue;
            }
            ++live;
            const uint32_t rowId = (p << 8) | r;
            facts.liveRows.push_back(rowId);
            RowSlice data = std::move(*slice);
            uint32_t dataPage = p;
            bool reached = true;
            for (int hops = 0; data.flags & kRowOverflow; ++hops) {
                Bytes b = data.bytes();
                if (b.size() < 4 || hops >= kMaxOverflowHops) {
                    c.error(scope, rowText(rowId >> 8, rowId & 0xFF) +
                                       (b.size() < 4 ? ": overflow row shorter than its pointer"
                                                     : ": overflow rows form a chain or a cycle"));
                    reached = false;
                    break;
                }
                uint32_t ptr = u32At(b.data());
                dataPage = ptr >> 8;
                if (!std::binary_search(facts.dataPages.begin(), facts.dataPages.end(), dataPage)) {
                    c.error(scope, rowText(rowId >> 8, rowId & 0xFF) + ": overflow pointer to " +
                                       pageText(dataPage) + ", not a data page of the table");
                    reached = false;
                    break;
                }
                auto t = rowAtPointer(c.pages, f, ptr);
                if (!t.ok()) {
                    c.error(scope, rowText(rowId >> 8, rowId & 0xFF) +
                                       ": overflow pointer: " + t.error().message());
                    reached = false;
                    break;
                }
                if (!(t->flags & kRowDeleted))
                    c.error(scope, rowText(rowId >> 8, rowId & 0xFF) + ": overflow target " +
                                       rowText(dataPage, ptr & 0xFF) + " is also a live row");
                targets.push_back(ptr);
                data = std::move(*t);
            }
            if (!reached) {
                facts.rowsReadable = false;
                continue;
            }
            Bytes row = data.bytes();
            Status st = decodeRow(c.db, def, row, wanted, values, dataPage);
            if (!st.ok()) {
                c.error(scope, rowText(rowId >> 8, rowId & 0xFF) + ": " + st.error().message());
                facts.rowsReadable = false;
                continue;
            }
            if (autoColumn >= 0 && !values[static_cast<size_t>(autoColumn)].isNull())
                maxAuto =
                    std::max<int64_t>(maxAuto, values[static_cast<size_t>(autoColumn)].asInt());
            if (longColumns.empty()) continue;
            // The row decoded, so its null mask and offsets are sound.
            const size_t ncols = f.jet3 ? row[0] : u16At(row.data());
            const size_t nm = (ncols + 7) / 8;
            const uint8_t* mask = row.data() + row.size() - nm;
            size_t varTableStart = 0;
            size_t nv = 0;
            if (def.varColumns > 0) {
                if (readVarOffsets(row, f.jet3, nm, offs, varTableStart)) continue;
                nv = offs.size() - 1;
            }
            for (size_t i : longColumns) {
                const Column& col = def.columns[i];
                if (col.fixed || col.varIndex >= nv || col.number >= ncols) continue;
                if (!((mask[col.number / 8] >> (col.number % 8)) & 1)) continue;
                checkLongValue(
                    col,
                    row.subspan(offs[col.varIndex], offs[col.varIndex + 1] - offs[col.varIndex]),
                    rowId);
            }
        }
    }
    rowsRead += live;
    std::sort(targets.begin(), targets.end());
    for (size_t i = 1; i < targets.size(); ++i)
        if (targets[i] == targets[i - 1])
            c.error(scope, "overflow " + rowText(targets[i] >> 8, targets[i] & 0xFF) +
                               " is the target of two rows");
    std::vector<uint32_t> orphans;
    for (uint32_t s : overflowSlots)
        if (!std::binary_search(targets.begin(), targets.end(), s)) orphans.push_back(s);
    if (!orphans.empty())
        c.warning(scope, std::to_string(orphans.size()) +
                             " row(s) flagged as overflow targets are reached by no row, first " +
                             rowText(orphans[0] >> 8, orphans[0] & 0xFF));
    if (live != def.rowCount)
        c.warning(scope, "definition records " + std::to_string(def.rowCount) + " rows, " +
                             std::to_string(live) + " live rows found");
    if (autoColumn >= 0 && maxAuto > int64_t{def.lastAutoNumber})
        c.warning(scope, "last autonumber " + std::to_string(def.lastAutoNumber) +
                             " is below the largest value " + std::to_string(maxAuto) +
                             " of column " +
                             quoted(def.columns[static_cast<size_t>(autoColumn)].name));
    std::sort(facts.liveRows.begin(), facts.liveRows.end());
}

std::shared_ptr<const TableDef> TableCheck::run(const CatalogObject& obj, TableFacts& facts,
                                                uint64_t& rowsRead) {
    tdef = obj.tdefPage();
    scope = "table " + quoted(obj.name);
    std::vector<uint8_t> raw;
    if (!readChain(tdef, raw)) return nullptr;
    auto defR = c.db.tableAtPage(tdef, obj.name);
    if (!defR.ok()) {
        c.error(scope, defR.error().message());
        return nullptr;
    }
    const TableDef& def = **defR;
    TdefTail tail = parseTdefTail(raw, c.f);
    if (!tail.error.empty()) {
        c.error(scope, "definition: " + tail.error);
    } else if (tail.end != u32At(raw.data() + 8)) {
        c.error(scope, "definition length field " + std::to_string(u32At(raw.data() + 8)) +
                           ", the definition ends at " + std::to_string(tail.end));
    }
    facts.uniqueCounts = tail.uniqueCounts;

    UsageMap owned = c.readMap(def.ownedPages, tdef, scope, "owned-pages map");
    checkDataPages(owned, facts);
    UsageMap freeMap = c.readMap(def.freePages, tdef, scope, "free-space map");
    std::vector<uint32_t> notOwned;
    for (uint32_t p : freeMap.pages)
        if (!std::binary_search(owned.pages.begin(), owned.pages.end(), p)) notOwned.push_back(p);
    if (!notOwned.empty())
        c.error(scope,
                "free-space map lists page(s) the table does not own: " + listPages(notOwned));

    // Long-value column maps: the LVAL pages each Memo/OLE column uses.
    std::map<uint16_t, std::vector<uint32_t>> lvOwned;
    for (const LvMapRef& m : tail.lvMaps) {
        const Column* col = def.columnByNumber(m.column);
        std::string what = "long-value map of column " +
                           (col ? quoted(col->name) : "number " + std::to_string(m.column));
        if (m.owned) {
            UsageMap um = c.readMap(m.owned, tdef, scope, what);
            for (uint32_t p : um.pages) {
                if (c.isLvalPage(p))
                    c.claim(p, Use::Lval, tdef, 0, scope, what);
                else if (c.isUsed(p))
                    c.error(scope, what + " lists " + pageText(p) + " (type " +
                                       typeText(c.type[p]) + "), which is not a long-value page");
            }
            if (um.ok) lvOwned[m.column] = std::move(um.pages);
        }
        if (m.free) c.readMap(m.free, tdef, scope, what + " (free pages)");
    }

    scanRows(def, facts, rowsRead);
    for (const auto& [column, used] : lvPagesByColumn) {
        auto it = lvOwned.find(column);
        if (it == lvOwned.end()) continue;
        std::vector<uint32_t> unlisted;
        for (uint32_t p : used)
            if (!std::binary_search(it->second.begin(), it->second.end(), p)) unlisted.push_back(p);
        if (!unlisted.empty()) {
            const Column* col = def.columnByNumber(column);
            c.warning(scope, "long-value page(s) of column " + (col ? quoted(col->name) : "?") +
                                 " missing from its map: " + listPages(unlisted));
        }
    }
    return *defR;
}

void checkCatalogue(Checker& c) {
    const Catalog& cat = c.db.catalog();
    const std::string scope = "catalogue";
    int32_t tablesId = 0;
    bool haveTables = false;
    for (const char* name : {"Tables", "Databases", "Relationships"}) {
        const CatalogObject* found = nullptr;
        for (const auto& o : cat.objects)
            if (o.type == 3 && o.parentId == kTablesContainerParent && o.name == name) found = &o;
        if (!found) {
            c.error(scope, std::string("MSysObjects has no ") + quoted(name) + " container");
        } else if (std::string(name) == "Tables") {
            tablesId = found->id;
            haveTables = true;
        }
    }
    std::map<std::pair<int32_t, std::string>, const CatalogObject*> names;
    for (const auto& o : cat.objects) {
        auto key = std::make_pair(o.parentId, foldedCase(o.name));
        auto [it, inserted] = names.emplace(key, &o);
        if (!inserted)
            c.error(scope, "two objects named " + quoted(o.name) + " under parent id " +
                               std::to_string(o.parentId));
        if (o.type == 1 && haveTables && o.parentId != tablesId)
            c.error(scope, "table " + quoted(o.name) + " is not in the Tables container");
    }
}

}  // namespace

}  // namespace check

CheckReport checkDatabase(Database& db, const CheckOptions& options) {
    using namespace check;
    CheckReport report;
    Checker c(db, report, options);
    const uint32_t n = c.pageCount;
    c.type.assign(n, 0);
    c.ownerField.assign(n, 0);
    c.claims.assign(n, {});
    if (n > 0) c.claims[0].use = Use::Header;

    // One pass over the file: page types and owners.
    std::vector<std::pair<uint32_t, uint32_t>> dataPagesByOwner;
    for (uint32_t p = 1; p < n; ++p) {
        auto pg = c.pages.page(p);
        if (!pg.ok()) {
            c.error("", pg.error().message());
            continue;
        }
        const Page& page = **pg;
        if (page.size() < 8) continue;
        c.type[p] = page[0];
        c.ownerField[p] = u32At(page.data() + 4);
        if (page[0] >= 0x01 && page[0] <= 0x05 && page[1] != 0x01)
            c.error("", pageText(p) + ": second byte is " + std::to_string(page[1]) + ", not 1");
        if (page[0] == 0x01 && c.ownerField[p] != kLvalTag)
            dataPagesByOwner.emplace_back(c.ownerField[p], p);
    }
    std::sort(dataPagesByOwner.begin(), dataPagesByOwner.end());
    report.pagesChecked = n;

    // The global usage map (page 1, row 0): bit set = page free. Pages before
    // its first page count as used, pages after its range as free.
    if (n > 1) {
        c.claims[1].use = Use::MapRows;
        auto slice = rowAt(c.pages, c.f, 1, 0);
        if (!slice.ok()) {
            c.error("", "global usage map: " + slice.error().message());
        } else {
            Bytes map = slice->bytes();
            c.free.assign(n, true);
            auto setBits = [&](Bytes bits, uint64_t first) {
                for (uint64_t p = first; p < n && p < first + uint64_t{bits.size()} * 8; ++p) {
                    uint64_t k = p - first;
                    c.free[p] = (bits[k / 8] >> (k % 8)) & 1;
                }
            };
            if (!map.empty() && map[0] == 0x00 && map.size() >= 5) {
                uint32_t first = u32At(map.data() + 1);
                for (uint32_t p = 0; p < n && p < first; ++p) c.free[p] = false;
                setBits(map.subspan(5), first);
                c.haveGlobalMap = true;
            } else if (!map.empty() && map[0] == 0x01) {
                const uint64_t bitsPerPage = uint64_t{c.pageSize - 4} * 8;
                c.haveGlobalMap = true;
                for (size_t j = 0; 1 + 4 * j + 4 <= map.size(); ++j) {
                    uint32_t bp = u32At(map.data() + 1 + 4 * j);
                    if (bp == 0) continue;
                    if (bp >= n || c.type[bp] != 0x05) {
                        c.error("", "global usage map names " + pageText(bp) +
                                        ", which is not a bitmap page");
                        continue;
                    }
                    auto bits = c.pages.page(bp);
                    if (bits.ok()) setBits(Bytes(**bits).subspan(4), j * bitsPerPage);
                }
                for (size_t j = 0; 1 + 4 * j + 4 <= map.size(); ++j) {
                    uint32_t bp = u32At(map.data() + 1 + 4 * j);
                    if (bp && bp < n && c.type[bp] == 0x05)
                        c.claim(bp, Use::MapBitmap, 0, 0, "", "global usage map");
                }
            } else {
                c.error("", "global usage map on page 1 has an unknown format");
            }
            if (c.haveGlobalMap && c.free[1])
                c.error("", "global usage map marks page 1 itself as free");
        }
    }

    // Tables: every catalogue row of type 1, each definition once.
    std::unordered_map<uint32_t, std::array<uint8_t, kMaxSlots>> lvRefs;
    std::map<uint32_t, const CatalogObject*> tables;
    for (const auto& o : db.catalog().objects) {
        if (o.type != 1) continue;
        auto [it, inserted] = tables.emplace(o.tdefPage(), &o);
        if (inserted)
            c.tableNames[o.tdefPage()] = o.name;
        else
            c.error("catalogue", "tables " + quoted(it->second->name) + " and " + quoted(o.name) +
                                     " share the definition at " + pageText(o.tdefPage()));
    }
    for (const auto& o : db.catalog().objects) {
        if (o.type != 1 || tables[o.tdefPage()] != &o) continue;
        ++report.tablesChecked;
        TableFacts facts;
        TableCheck tc(c, lvRefs, dataPagesByOwner);
        auto def = tc.run(o, facts, report.rowsRead);
        if (def) checkIndexes(c, def, facts, report.indexesChecked);
    }

    // Long values nobody references.
    {
        size_t orphans = 0;
        std::vector<uint32_t> orphanPages;
        for (uint32_t p = 2; p < n; ++p) {
            if (!c.isLvalPage(p) || !c.isUsed(p)) continue;
            auto pg = c.pages.page(p);
            if (!pg.ok()) continue;
            auto count = dataRowCount(**pg, c.f, p);
            if (!count.ok()) {
                c.error("", count.error().message());
                continue;
            }
            if (c.claims[p].use == Use::None) continue;  // reported as a leaked page
            auto refs = lvRefs.find(p);
            bool any = false;
            for (uint32_t r = 0; r < std::min<uint32_t>(*count, kMaxSlots); ++r) {
                uint16_t e = u16At(pg->get()->data() + c.f.dataRowsOffset + 2 * r);
                if (e & 0xC000) continue;
                if (refs != lvRefs.end() && refs->second[r]) continue;
                ++orphans;
                any = true;
            }
            if (any) orphanPages.push_back(p);
        }
        if (orphans)
            c.warning("", std::to_string(orphans) +
                              " live long-value row(s) referenced by no row, on page(s) " +
                              listPages(orphanPages));
    }

    // Pages in use that nothing references.
    if (c.haveGlobalMap) {
        std::vector<uint32_t> leaked;
        for (uint32_t p = 2; p < n; ++p)
            if (!c.free[p] && c.claims[p].use == Use::None) leaked.push_back(p);
        if (!leaked.empty())
            c.warning("", std::to_string(leaked.size()) +
                              " page(s) marked used in the global usage map but referenced by "
                              "nothing: " +
                              listPages(leaked));
    }

    checkCatalogue(c);
    c.flushSuppressed();
    return report;
}

}  // namespace tab::jet
