// The cursor: a scan, a row id seek, or the entries of an index range,
// with a key map for joins that look up one index over and over.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet_vtab_internal.h"
#include "tabulary/jet/index_reader.h"
#include "tabulary/jet/table_cursor.h"

namespace tab::sqlbridge::vtab {

namespace {

enum class Mode { Scan, Rowid, Index, Keys };

// Every entry of one index by key, for a join that looks up the same index
// once per outer row: one hash probe instead of a descent through the index
// pages each time. Keys of up to seven bytes (integer columns) are packed
// with their length into one number.
struct KeyMap {
    // A key with its rows, together in one line of memory: a probe of a
    // large map misses the cache once. A key of one row (a unique index)
    // holds that row itself in `first`.
    struct Slot {
        uint64_t key = 0;    // 0: empty
        uint32_t first = 0;  // the row, or where its rows start in `rows`
        uint32_t count = 0;
    };
    std::vector<Slot> slots;
    std::vector<jet::RowId> rows;  // in index order

    static std::optional<uint64_t> pack(std::string_view k) {
        if (k.empty() || k.size() > 7) return std::nullopt;
        uint64_t v = 0;
        for (size_t i = 0; i < 7; ++i)
            v = (v << 8) | (i < k.size() ? static_cast<unsigned char>(k[i]) : 0u);
        return (v << 8) | k.size();
    }
    size_t slotOf(uint64_t key) const {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & (slots.size() - 1);
    }
    // Rows of exactly this key, in index order.
    std::span<const jet::RowId> find(uint64_t key) const {
        for (size_t i = slotOf(key);; i = (i + 1) & (slots.size() - 1)) {
            const Slot& slot = slots[i];
            if (slot.key == key)
                return slot.count == 1
                           ? std::span<const jet::RowId>(&slot.first, 1)
                           : std::span<const jet::RowId>(rows).subspan(slot.first, slot.count);
            if (slot.key == 0) return {};
        }
    }
};

struct JetCursor {
    sqlite3_vtab_cursor base;
    JetVtab* vtab = nullptr;
    std::unique_ptr<jet::TableCursor> rows;
    std::optional<jet::IndexCursor> index;
    Mode mode = Mode::Scan;
    bool eof = true;
    jet::RowId rowid = 0;
    int64_t decodedPerRow = 0;
    // The row reader is kept from one lookup to the next while the columns
    // stay the same; a scan needs a fresh one.
    uint64_t rowsColUsed = 0;
    bool rowsScanned = false;
    // Lookups of a whole integer key, counted per index until a key map pays.
    int keyIndex = -1;
    uint64_t keyLookups = 0;
    bool keyMapFailed = false;
    std::unique_ptr<KeyMap> keyMap;
    const jet::RowId* keyPos = nullptr;  // rows of the current key map lookup
    const jet::RowId* keyEnd = nullptr;
    // Range scans: entries whose range column is Null are skipped without
    // reading their rows (Null sorts inside an open-ended range).
    bool skipNulls = false;
    size_t nullFlagOffset = 0;
    uint8_t nullFlag = 0;
    std::string scratch;  // text of the values turned into text
};

void setError(sqlite3_vtab* vtab, const std::string& message) {
    sqlite3_free(vtab->zErrMsg);
    vtab->zErrMsg = sqlite3_mprintf("%s", message.c_str());
}

int fail(sqlite3_vtab* vtab, const Error& e) {
    setError(vtab, e.message());
    return SQLITE_ERROR;
}

int open(sqlite3_vtab* vtab, sqlite3_vtab_cursor** out) {
    try {
        auto* cur = new JetCursor();
        cur->vtab = reinterpret_cast<JetVtab*>(vtab);
        *out = &cur->base;
        return SQLITE_OK;
    } catch (...) {
        return SQLITE_NOMEM;
    }
}

int close(sqlite3_vtab_cursor* cursor) {
    delete reinterpret_cast<JetCursor*>(cursor);
    return SQLITE_OK;
}

TableStats& statsOf(JetCursor* cur) {
    return cur->vtab->tables->at(cur->vtab->tableIndex).stats;
}

void countRow(JetCursor* cur) {
    TableStats& s = statsOf(cur);
    ++s.rowsRead;
    s.valuesDecoded += static_cast<uint64_t>(cur->decodedPerRow);
}

// Moves to the next row of the current plan; sets eof at the end.
int advance(JetCursor* cur) {
    sqlite3_vtab* vtab = &cur->vtab->base;
    // A lookup that fails ends the cursor and names the table.
    auto failed = [&](const Error& e) {
        cur->eof = true;
        return fail(vtab, e.withContext("table \"" + cur->vtab->def->name + "\""));
    };
    switch (cur->mode) {
        case Mode::Scan: {
            auto r = cur->rows->next();
            if (!r.ok()) {
                cur->eof = true;
                return fail(vtab, r.error());
            }
            cur->eof = !*r;
            break;
        }
        case Mode::Rowid:
            cur->eof = true;
            return SQLITE_OK;
        case Mode::Keys: {
            for (;;) {
                if (cur->keyPos >= cur->keyEnd) {
                    cur->eof = true;
                    return SQLITE_OK;
                }
                auto s = cur->rows->seek(*cur->keyPos++);
                if (!s.ok()) return failed(s.error());
                if (*s) break;
            }
            cur->eof = false;
            break;
        }
        case Mode::Index: {
            for (;;) {
                auto n = cur->index->next();
                if (!n.ok()) return failed(n.error());
                if (!*n) {
                    cur->eof = true;
                    return SQLITE_OK;
                }
                if (cur->skipNulls) {
                    auto key = cur->index->key();
                    if (key.size() > cur->nullFlagOffset &&
                        key[cur->nullFlagOffset] == cur->nullFlag)
                        continue;
                }
                auto s = cur->rows->seek(cur->index->rowId());
                if (!s.ok()) return failed(s.error());
                if (*s) break;
            }
            cur->eof = false;
            break;
        }
    }
    if (!cur->eof) {
        cur->rowid = cur->rows->rowId();
        countRow(cur);
    }
    return SQLITE_OK;
}

int startScan(JetCursor* cur) {
    cur->mode = Mode::Scan;
    cur->rowsScanned = true;
    ++statsOf(cur).fullScans;
    return advance(cur);
}

// Values the cursor decodes per row for this column list (empty: all).
int64_t decodedColumns(const std::vector<int>& columns, size_t count) {
    if (columns.empty()) return static_cast<int64_t>(count);
    int64_t n = 0;
    for (int c : columns) n += c >= 0 && static_cast<size_t>(c) < count ? 1 : 0;
    return n;
}

// Whether every column of `idx` is an integer: fixed-size keys, so an
// equality range holds exactly the entries with that key.
bool wholeIntegerKey(const jet::TableDef& def, const jet::RealIndex& idx) {
    for (const auto& c : idx.columns) {
        int pos = columnPosition(def, c.columnNumber);
        if (pos < 0 || !isIntegerType(def.columns[size_t(pos)].type)) return false;
    }
    return true;
}

// The whole index as a key map; null if it cannot be read or its keys do
// not pack (the lookups then go through the index as before, and report
// what they find).
std::unique_ptr<KeyMap> buildKeyMap(jet::Database& db, const jet::TableDef& def,
                                    const jet::RealIndex& idx) {
    auto ic = jet::IndexCursor::open(db, def, idx);
    if (!ic.ok()) return nullptr;
    auto map = std::make_unique<KeyMap>();
    std::vector<uint64_t> keys;
    std::vector<uint32_t> starts;
    map->rows.reserve(def.rowCount);
    for (;;) {
        auto n = ic->next();
        if (!n.ok()) return nullptr;
        if (!*n) break;
        auto bytes = ic->key();
        auto key = KeyMap::pack(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        if (!key) return nullptr;
        // The index walk yields equal keys together.
        if (keys.empty() || keys.back() != *key) {
            keys.push_back(*key);
            starts.push_back(static_cast<uint32_t>(map->rows.size()));
        }
        map->rows.push_back(ic->rowId());
    }
    starts.push_back(static_cast<uint32_t>(map->rows.size()));
    size_t size = 16;
    while (size < keys.size() * 2) size *= 2;
    map->slots.assign(size, {});
    for (size_t g = 0; g < keys.size(); ++g) {
        size_t i = map->slotOf(keys[g]);
        while (map->slots[i].key != 0) {
            // A key seen twice would come from an index out of order.
            if (map->slots[i].key == keys[g]) return nullptr;
            i = (i + 1) & (size - 1);
        }
        const uint32_t count = starts[g + 1] - starts[g];
        map->slots[i] = {keys[g], count == 1 ? map->rows[starts[g]] : starts[g], count};
    }
    return map;
}

int filter(sqlite3_vtab_cursor* cursor, int idxNum, const char* idxStr, int argc,
           sqlite3_value** argv) {
    auto* cur = reinterpret_cast<JetCursor*>(cursor);
    sqlite3_vtab* vtab = &cur->vtab->base;
    try {
        JetVtab* vt = cur->vtab;
        const jet::TableDef& def = *vt->def;
        jet::Database& db = vt->tables->databaseOf(vt->tableIndex);
        Plan plan;
        if (!decodePlan(idxStr, plan)) {
            setError(vtab, "jet tables: bad plan");
            return SQLITE_ERROR;
        }
        // A scan walks pages from the start: it needs a fresh reader. Lookups
        // only seek, so the reader of the previous lookup serves again.
        const bool scans = idxNum != 1 && idxNum != 2;
        if (!cur->rows || cur->rowsScanned || scans || cur->rowsColUsed != plan.colUsed) {
            // Columns SQLite may read; bit 63 stands for every column from 63 on.
            std::vector<int> wanted;
            for (size_t i = 0; i < def.columns.size(); ++i) {
                uint64_t bit = i < 63 ? (uint64_t(1) << i) : (uint64_t(1) << 63);
                if (plan.colUsed & bit) wanted.push_back(static_cast<int>(i));
            }
            // An empty list means "all" to the cursor; -1 selects none.
            if (wanted.empty()) wanted.push_back(-1);
            cur->decodedPerRow = decodedColumns(wanted, def.columns.size());
            cur->rows = std::make_unique<jet::TableCursor>(db, vt->def, std::move(wanted));
            cur->rowsColUsed = plan.colUsed;
            cur->rowsScanned = false;
        }
        cur->index.reset();
        cur->skipNulls = false;
        cur->eof = true;

        if (idxNum == 1 && argc == 1) {
            sqlite3_value* a = argv[0];
            if (sqlite3_value_type(a) == SQLITE_NULL) return SQLITE_OK;
            if (sqlite3_value_type(a) != SQLITE_INTEGER) return startScan(cur);
            int64_t id = sqlite3_value_int64(a);
            if (id < 0 || id > int64_t(UINT32_MAX)) return SQLITE_OK;
            cur->mode = Mode::Rowid;
            ++statsOf(cur).indexScans;
            // A row id from SQL may point anywhere: a failed read is no row.
            auto s = cur->rows->seek(static_cast<jet::RowId>(id));
            if (s.ok() && *s) {
                cur->eof = false;
                cur->rowid = cur->rows->rowId();
                countRow(cur);
            }
            return SQLITE_OK;
        }
        if (idxNum != 2) return startScan(cur);

        const int nBounds = (plan.lower ? 1 : 0) + (plan.upper ? 1 : 0);
        if (plan.index < 0 || static_cast<size_t>(plan.index) >= def.realIndexes.size() ||
            static_cast<size_t>(plan.nEq) > def.realIndexes[size_t(plan.index)].columns.size() ||
            argc != plan.nEq + nBounds ||
            (nBounds &&
             static_cast<size_t>(plan.nEq) >= def.realIndexes[size_t(plan.index)].columns.size())) {
            setError(vtab, "jet tables: plan does not fit the table");
            return SQLITE_ERROR;
        }
        const jet::RealIndex& idx = def.realIndexes[size_t(plan.index)];
        // A plan that promised index order cannot fall back to a scan: the
        // whole index in order is a superset SQLite filters again.
        auto whole = [&]() -> int {
            if (!plan.ordered) return startScan(cur);
            auto all = jet::IndexCursor::open(db, def, idx);
            if (!all.ok()) return fail(vtab, all.error());
            cur->skipNulls = false;
            cur->index.emplace(std::move(*all));
            cur->mode = Mode::Index;
            ++statsOf(cur).indexScans;
            return advance(cur);
        };
        auto columnAt = [&](size_t k) -> const jet::Column* {
            int pos = columnPosition(def, idx.columns[k].columnNumber);
            return pos < 0 ? nullptr : &def.columns[size_t(pos)];
        };

        std::vector<Value> equal;
        for (int k = 0; k < plan.nEq; ++k) {
            const jet::Column* col = columnAt(size_t(k));
            if (!col) return whole();
            Converted c = toJet(*col, argv[k]);
            if (c.conv == Conv::NoMatch) return SQLITE_OK;
            if (c.conv != Conv::Ok) return whole();
            equal.push_back(std::move(c.value));
        }
        std::optional<jet::ValueBound> lower, upper;
        int arg = plan.nEq;
        const jet::Column* rangeCol = nBounds ? columnAt(size_t(plan.nEq)) : nullptr;
        if (nBounds && !rangeCol) return whole();
        auto bound = [&](int op, std::optional<jet::ValueBound>& out) -> bool {
            if (!op) return true;
            sqlite3_value* v = argv[arg++];
            if (sqlite3_value_type(v) == SQLITE_NULL) return false;  // nothing compares to Null
            Converted c = toJet(*rangeCol, v);
            // Dropping a bound that cannot be exact only widens the range.
            if (c.conv == Conv::Ok) out = jet::ValueBound{std::move(c.value), op == 2};
            return true;
        };
        if (!bound(plan.lower, lower) || !bound(plan.upper, upper)) return SQLITE_OK;
        if (equal.empty() && !lower && !upper) return whole();

        if (!nBounds && equal.size() == idx.columns.size() && wholeIntegerKey(def, idx)) {
            if (cur->keyIndex != plan.index) {
                cur->keyIndex = plan.index;
                cur->keyLookups = 0;
                cur->keyMapFailed = false;
                cur->keyMap.reset();
            }
            ++cur->keyLookups;
            // Building the map reads the whole index once: worth it only when
            // the lookups come near a sizeable share of the rows.
            if (!cur->keyMap && !cur->keyMapFailed &&
                cur->keyLookups >= std::max<uint64_t>(64, def.rowCount / 16)) {
                cur->keyMap = buildKeyMap(db, def, idx);
                cur->keyMapFailed = !cur->keyMap;
            }
            if (cur->keyMap) {
                auto bytes = jet::encodeIndexKey(db, def, idx, equal);
                auto key = bytes.ok() ? KeyMap::pack(*bytes) : std::nullopt;
                if (key) {
                    auto rows = cur->keyMap->find(*key);
                    cur->keyPos = rows.data();
                    cur->keyEnd = rows.data() + rows.size();
                    cur->mode = Mode::Keys;
                    ++statsOf(cur).indexScans;
                    return advance(cur);
                }
            }
        }

        auto range = jet::columnRange(idx, equal, lower, upper);
        if (!range.ok()) return whole();
        auto ic = jet::IndexCursor::open(db, def, idx, *range);
        if (!ic.ok()) {
            if (ic.error().code() == Errc::Unsupported ||
                ic.error().code() == Errc::InvalidArgument)
                return whole();
            return fail(vtab, ic.error());
        }
        if (nBounds) {
            auto prefix = jet::encodeIndexKey(db, def, idx, equal);
            if (prefix.ok()) {
                cur->skipNulls = true;
                cur->nullFlagOffset = prefix->size();
                cur->nullFlag = idx.columns[size_t(plan.nEq)].ascending ? 0x00 : 0xFF;
            }
        }
        cur->index.emplace(std::move(*ic));
        cur->mode = Mode::Index;
        ++statsOf(cur).indexScans;
        return advance(cur);
    } catch (const std::bad_alloc&) {
        cur->eof = true;
        return SQLITE_NOMEM;
    } catch (...) {
        cur->eof = true;
        setError(vtab, "jet tables: internal error");
        return SQLITE_ERROR;
    }
}

int next(sqlite3_vtab_cursor* cursor) {
    auto* cur = reinterpret_cast<JetCursor*>(cursor);
    try {
        if (cur->eof) return SQLITE_OK;
        return advance(cur);
    } catch (const std::bad_alloc&) {
        cur->eof = true;
        return SQLITE_NOMEM;
    } catch (...) {
        cur->eof = true;
        setError(&cur->vtab->base, "jet tables: internal error");
        return SQLITE_ERROR;
    }
}

int eof(sqlite3_vtab_cursor* cursor) {
    return reinterpret_cast<JetCursor*>(cursor)->eof ? 1 : 0;
}

int column(sqlite3_vtab_cursor* cursor, sqlite3_context* ctx, int i) {
    auto* cur = reinterpret_cast<JetCursor*>(cursor);
    try {
        if (cur->eof || !cur->rows) {
            sqlite3_result_null(ctx);
            return SQLITE_OK;
        }
        const auto& values = cur->rows->values();
        if (i < 0 || static_cast<size_t>(i) >= values.size()) {
            sqlite3_result_null(ctx);
            return SQLITE_OK;
        }
        resultValue(ctx, values[size_t(i)], cur->scratch);
        return SQLITE_OK;
    } catch (...) {
        sqlite3_result_error_nomem(ctx);
        return SQLITE_NOMEM;
    }
}

int rowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* out) {
    *out = static_cast<sqlite3_int64>(reinterpret_cast<JetCursor*>(cursor)->rowid);
    return SQLITE_OK;
}

}  // namespace

void setCursorMethods(sqlite3_module& m) {
    m.xOpen = open;
    m.xClose = close;
    m.xFilter = filter;
    m.xNext = next;
    m.xEof = eof;
    m.xColumn = column;
    m.xRowid = rowid;
}

}  // namespace tab::sqlbridge::vtab
