#include "tabulary/sqlbridge/jet_vtab.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <span>

#include "tabulary/base/ascii_case.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/jet/index_reader.h"
#include "tabulary/jet/linked_table.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/sqlbridge/collation.h"
#include "tabulary/sqlbridge/table_scan.h"

namespace tab::sqlbridge {

namespace {

using jet::ColumnType;
using jet::Value;

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    return equalsIgnoringAsciiCase(a, b);
}

bool isIntegerType(ColumnType t) {
    return t == ColumnType::Byte || t == ColumnType::Integer || t == ColumnType::Long ||
           t == ColumnType::BigInt;
}

bool isTextType(ColumnType t) {
    return t == ColumnType::Text || t == ColumnType::Memo;
}

// Types whose index keys we can build from an SQLite value.
bool equalityUsable(ColumnType t) {
    return isIntegerType(t) || isTextType(t) || t == ColumnType::Boolean ||
           t == ColumnType::Currency || t == ColumnType::Single || t == ColumnType::Double ||
           t == ColumnType::DateTime;
}

// Text keys follow Access's order, not ACC_TEXT's, so text ranges are not
// answered through an index; Yes/No has no useful range.
bool rangeUsable(ColumnType t) {
    return equalityUsable(t) && !isTextType(t) && t != ColumnType::Boolean;
}

// Collations under which an Access text key match is a superset of the
// SQLite match.
bool collationUsable(const char* name) {
    if (!name) return true;
    return equalsIgnoreAsciiCase(name, kAccessTextCollation) ||
           equalsIgnoreAsciiCase(name, "BINARY") || equalsIgnoreAsciiCase(name, "NOCASE") ||
           equalsIgnoreAsciiCase(name, "RTRIM");
}

// Characters whose case folding leaves Latin-1, where the Access key and
// ACC_TEXT may disagree about equality: look those up by scanning.
bool textKeySafe(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) continue;
        if (c != 0xC2 && c != 0xC3) return false;  // beyond Latin-1
        if (i + 1 >= s.size()) return false;
        unsigned char d = static_cast<unsigned char>(s[++i]);
        unsigned cp = ((c & 0x1Fu) << 6) | (d & 0x3Fu);
        if (cp == 0xB5 || cp == 0xDF || cp == 0xFF) return false;  // micro, sharp s, y diaeresis
    }
    return true;
}

void resultValue(sqlite3_context* ctx, const Value& v, std::string& scratch) {
    const SqlCell c = sqlCellOf(v, scratch);
    switch (c.storage) {
        case SQLITE_INTEGER:
            return sqlite3_result_int64(ctx, c.integer);
        case SQLITE_FLOAT:
            return sqlite3_result_double(ctx, c.real);
        case SQLITE_BLOB:
            return sqlite3_result_blob64(ctx, c.bytes.data(), c.bytes.size(), SQLITE_TRANSIENT);
        case SQLITE_TEXT:
            return sqlite3_result_text64(ctx, c.bytes.data(), c.bytes.size(), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
        default:
            return sqlite3_result_null(ctx);
    }
}

// ---- SQLite values back to Jet key values ---------------------------------

enum class Conv {
    Ok,            // exact
    NoMatch,       // no stored value can compare equal
    Inexact,       // usable only as a widened bound: drop it
    Unconvertible  // another storage class: let SQLite compare
};

struct Converted {
    Conv conv = Conv::Unconvertible;
    Value value;
};

Converted toJet(const jet::Column& col, sqlite3_value* arg) {
    Converted out;
    const int type = sqlite3_value_type(arg);
    if (type == SQLITE_NULL) {
        out.conv = Conv::NoMatch;  // comparisons with Null are never true
        return out;
    }
    const ColumnType t = col.type;
    if (isTextType(t)) {
        if (type != SQLITE_TEXT) return out;
        const unsigned char* p = sqlite3_value_text(arg);
        int n = sqlite3_value_bytes(arg);
        std::string s(p ? reinterpret_cast<const char*>(p) : "", p && n > 0 ? size_t(n) : 0);
        if (!textKeySafe(s)) return out;
        out.value = Value::text(std::move(s));
        out.conv = Conv::Ok;
        return out;
    }
    if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) return out;
    const bool isInt = type == SQLITE_INTEGER;
    const int64_t i = sqlite3_value_int64(arg);
    const double d = sqlite3_value_double(arg);
    if (!isInt && std::isnan(d)) return out;

    auto fromInteger = [&](int64_t lo, int64_t hi) {
        if (isInt) {
            if (i < lo || i > hi) {
                out.conv = Conv::NoMatch;
                return;
            }
            out.value = Value::integer(i);
            out.conv = Conv::Ok;
            return;
        }
        if (d < static_cast<double>(lo) || d > static_cast<double>(hi)) {
            out.conv = Conv::NoMatch;
            return;
        }
        if (std::trunc(d) != d) {
            out.conv = Conv::NoMatch;
            return;
        }
        out.value = Value::integer(static_cast<int64_t>(d));
        out.conv = Conv::Ok;
    };

    switch (t) {
        case ColumnType::Byte:
            fromInteger(0, 255);
            break;
        case ColumnType::Integer:
            fromInteger(INT16_MIN, INT16_MAX);
            break;
        case ColumnType::Long:
            fromInteger(INT32_MIN, INT32_MAX);
            break;
        case ColumnType::BigInt:
            // Past 2^53 a double stands for many integers: let SQLite compare.
            if (!isInt && std::fabs(d) > 9007199254740992.0) {
                out.conv = Conv::Inexact;
                break;
            }
            fromInteger(INT64_MIN, INT64_MAX);
            break;
        case ColumnType::Boolean:
            if (isInt ? (i == -1 || i == 0) : (d == -1.0 || d == 0.0)) {
                out.value = Value::boolean(isInt ? i != 0 : d != 0.0);
                out.conv = Conv::Ok;
            } else {
                out.conv = Conv::NoMatch;
            }
            break;
        case ColumnType::Currency:
            // The column reads in ten-thousandths (an integer).
            if (isInt) {
                out.value = Value::currency(i);
                out.conv = Conv::Ok;
            } else if (std::trunc(d) == d && std::fabs(d) < 9.2e18) {
                out.value = Value::currency(static_cast<int64_t>(d));
                out.conv = Conv::Ok;
            } else {
                out.conv = Conv::Inexact;
            }
            break;
        case ColumnType::Single: {
            double v = isInt ? static_cast<double>(i) : d;
            if (isInt && (v >= 9.2e18 || v <= -9.2e18 || static_cast<int64_t>(v) != i)) {
                out.conv = Conv::Inexact;
                break;
            }
            float f = static_cast<float>(v);
            if (static_cast<double>(f) == v) {
                out.value = Value::real(v);
                out.conv = Conv::Ok;
            } else {
                out.conv = Conv::Inexact;
            }
            break;
        }
        case ColumnType::Double:
        case ColumnType::DateTime: {
            double v = isInt ? static_cast<double>(i) : d;
            if (isInt && (v >= 9.2e18 || v <= -9.2e18 || static_cast<int64_t>(v) != i)) {
                out.conv = Conv::Inexact;
                break;
            }
            out.value = t == ColumnType::DateTime ? Value::dateTime(v) : Value::real(v);
            out.conv = Conv::Ok;
            break;
        }
        default:
            break;
    }
    return out;
}

// ---- The module -----------------------------------------------------------

struct ModuleData {
    std::shared_ptr<JetTables> tables;
};

struct JetVtab {
    sqlite3_vtab base;  // first: SQLite hands back this pointer
    JetTables* tables = nullptr;
    size_t tableIndex = 0;
    std::shared_ptr<const jet::TableDef> def;
};

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

int connect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out,
            char** err) {
    try {
        auto* data = static_cast<ModuleData*>(aux);
        if (argc < 4 || !data || !data->tables) {
            *err = sqlite3_mprintf("jet tables: missing table number");
            return SQLITE_ERROR;
        }
        char* end = nullptr;
        unsigned long long n = std::strtoull(argv[3], &end, 10);
        if (end == argv[3] || *end != '\0' || n >= data->tables->size()) {
            *err = sqlite3_mprintf("jet tables: bad table number");
            return SQLITE_ERROR;
        }
        JetTables::Table& table = data->tables->at(static_cast<size_t>(n));
        std::string decl = "CREATE TABLE x(";
        for (size_t i = 0; i < table.def->columns.size(); ++i) {
            const jet::Column& c = table.def->columns[i];
            if (i) decl += ", ";
            decl += quoteIdentifier(c.name);
            std::string type = declaredType(c);
            if (!type.empty()) decl += " " + type;
        }
        decl += ")";
        int rc = sqlite3_declare_vtab(db, decl.c_str());
        if (rc != SQLITE_OK) {
            *err = sqlite3_mprintf("table \"%s\": %s", table.name.c_str(), sqlite3_errmsg(db));
            return rc;
        }
        auto* vt = new JetVtab();
        vt->tables = data->tables.get();
        vt->tableIndex = static_cast<size_t>(n);
        vt->def = table.def;
        *out = &vt->base;
        return SQLITE_OK;
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    } catch (...) {
        return SQLITE_ERROR;
    }
}

int disconnect(sqlite3_vtab* vtab) {
    delete reinterpret_cast<JetVtab*>(vtab);
    return SQLITE_OK;
}

// Plan text passed from xBestIndex to xFilter.
struct Plan {
    int index = -1;  // position in realIndexes
    int nEq = 0;
    int lower = 0;    // 0 none, 1 '>', 2 '>='
    int upper = 0;    // 0 none, 1 '<', 2 '<='
    int ordered = 0;  // 1: rows must come in index order (SQLite does not sort)
    uint64_t colUsed = ~uint64_t(0);
};

std::string encodePlan(const Plan& p) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d %d %d %d %d %llx", p.index, p.nEq, p.lower, p.upper,
                  p.ordered, static_cast<unsigned long long>(p.colUsed));
    return buf;
}

bool decodePlan(const char* s, Plan& p) {
    // Parsed by hand: xFilter runs once per lookup, a join does a million.
    if (!s) return false;
    const char* end = s + std::strlen(s);
    int* ints[] = {&p.index, &p.nEq, &p.lower, &p.upper, &p.ordered};
    for (int* v : ints) {
        auto r = std::from_chars(s, end, *v);
        if (r.ec != std::errc() || r.ptr == end || *r.ptr != ' ') return false;
        s = r.ptr + 1;
    }
    uint64_t used = 0;
    auto r = std::from_chars(s, end, used, 16);
    if (r.ec != std::errc() || r.ptr != end) return false;
    p.colUsed = used;
    return p.nEq >= 0 && p.lower >= 0 && p.lower <= 2 && p.upper >= 0 && p.upper <= 2 &&
           (p.ordered == 0 || p.ordered == 1);
}

int columnPosition(const jet::TableDef& def, uint16_t number) {
    for (size_t i = 0; i < def.columns.size(); ++i)
        if (def.columns[i].number == number) return static_cast<int>(i);
    return -1;
}

// Whether walking `idx` from its column `from` on yields the rows in the
// ORDER BY's order, with no ties SQLite's own sort could have put
// differently: every ORDER BY term names the next index column in its
// direction, the index is unique, lists every row (no Null can be left out
// or tie) and its keys sort as SQLite compares the values (integers).
bool orderFollows(const jet::TableDef& def, const jet::RealIndex& idx, size_t from,
                  const sqlite3_index_info* info) {
    if (info->nOrderBy <= 0 || !idx.unique() || idx.ignoreNulls()) return false;
    if (from + static_cast<size_t>(info->nOrderBy) < idx.columns.size()) return false;
    for (size_t k = 0; k < idx.columns.size(); ++k) {
        const int col = columnPosition(def, idx.columns[k].columnNumber);
        if (col < 0) return false;
        const jet::Column& c = def.columns[size_t(col)];
        if (!isIntegerType(c.type) || !(c.required || c.autoNumber || idx.required())) return false;
        if (k < from) continue;
        const auto& term = info->aOrderBy[k - from];
        if (term.iColumn != col || (term.desc != 0) == idx.columns[k].ascending) return false;
    }
    return true;
}

int bestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
    try {
        auto* vt = reinterpret_cast<JetVtab*>(vtab);
        const jet::TableDef& def = *vt->def;
        const double rows = std::max<double>(def.rowCount, 1.0);
        const double logRows = std::log2(rows + 1.0);

        struct Choice {
            int kind = 0;  // 0 scan, 1 rowid, 2 index
            Plan plan;
            std::vector<int> constraints;  // argv order
            double cost = 0;
            double estRows = 0;
            bool unique = false;
        };
        Choice best;
        best.cost = rows + 10.0;
        best.estRows = rows;
        // Plans are compared with what SQLite's sort would add to those
        // whose rows do not come in the ORDER BY's order; sorting a row in
        // memory costs far less than reading it.
        auto sortCost = [&](const Choice& c) {
            return info->nOrderBy > 0 && !c.plan.ordered
                       ? 0.1 * c.estRows * std::log2(c.estRows + 1.0)
                       : 0.0;
        };
        auto better = [&](const Choice& c) {
            const double a = c.cost + sortCost(c), b = best.cost + sortCost(best);
            return a < b || (a == b && c.constraints.size() > best.constraints.size());
        };

        auto isUsable = [&](int i, unsigned char op) {
            const auto& c = info->aConstraint[i];
            return c.usable && c.op == op;
        };

        // rowid equality: one seek.
        for (int i = 0; i < info->nConstraint; ++i) {
            if (info->aConstraint[i].iColumn == -1 && isUsable(i, SQLITE_INDEX_CONSTRAINT_EQ)) {
                Choice c;
                c.kind = 1;
                c.constraints = {i};
                c.cost = 2.0;
                c.estRows = 1;
                c.unique = true;
                if (better(c)) best = c;
                break;
            }
        }

        if (vt->tables->useIndexes()) {
            for (size_t r = 0; r < def.realIndexes.size(); ++r) {
                const jet::RealIndex& idx = def.realIndexes[r];
                Choice c;
                c.kind = 2;
                c.plan.index = static_cast<int>(r);
                size_t k = 0;
                for (; k < idx.columns.size(); ++k) {
                    int col = columnPosition(def, idx.columns[k].columnNumber);
                    if (col < 0 || !equalityUsable(def.columns[size_t(col)].type)) break;
                    // Whether such an index lists No values is not known.
                    if (idx.ignoreNulls() && def.columns[size_t(col)].type == ColumnType::Boolean)
                        break;
                    int found = -1;
                    for (int i = 0; i < info->nConstraint && found < 0; ++i) {
                        if (info->aConstraint[i].iColumn != col ||
                            !isUsable(i, SQLITE_INDEX_CONSTRAINT_EQ))
                            continue;
                        if (isTextType(def.columns[size_t(col)].type) &&
                            !collationUsable(sqlite3_vtab_collation(info, i)))
                            continue;
                        found = i;
                    }
                    if (found < 0) break;
                    c.constraints.push_back(found);
                }
                c.plan.nEq = static_cast<int>(k);
                int lowerCons = -1, upperCons = -1;
                if (k < idx.columns.size()) {
                    int col = columnPosition(def, idx.columns[k].columnNumber);
                    if (col >= 0 && rangeUsable(def.columns[size_t(col)].type)) {
                        for (int i = 0; i < info->nConstraint; ++i) {
                            if (info->aConstraint[i].iColumn != col || !info->aConstraint[i].usable)
                                continue;
                            unsigned char op = info->aConstraint[i].op;
                            if (lowerCons < 0 && (op == SQLITE_INDEX_CONSTRAINT_GT ||
                                                  op == SQLITE_INDEX_CONSTRAINT_GE)) {
                                lowerCons = i;
                                c.plan.lower = op == SQLITE_INDEX_CONSTRAINT_GT ? 1 : 2;
                            } else if (upperCons < 0 && (op == SQLITE_INDEX_CONSTRAINT_LT ||
                                                         op == SQLITE_INDEX_CONSTRAINT_LE)) {
                                upperCons = i;
                                c.plan.upper = op == SQLITE_INDEX_CONSTRAINT_LT ? 1 : 2;
                            }
                        }
                    }
                }
                if (lowerCons >= 0) c.constraints.push_back(lowerCons);
                if (upperCons >= 0) c.constraints.push_back(upperCons);
                c.plan.ordered = orderFollows(def, idx, k, info) ? 1 : 0;
                if (c.constraints.empty()) {
                    if (!c.plan.ordered) continue;
                    // The whole index in order: a row seek per entry.
                    c.estRows = rows;
                    c.cost = logRows + rows * 1.5;
                    if (better(c)) best = c;
                    continue;
                }

                double est = rows;
                if (idx.unique() && k == idx.columns.size()) {
                    est = 1;
                    c.unique = true;
                } else {
                    est *= std::pow(0.1, static_cast<double>(k));
                    if (lowerCons >= 0 && upperCons >= 0)
                        est *= 0.0625;
                    else if (lowerCons >= 0 || upperCons >= 0)
                        est *= 0.25;
                    est = std::max(est, 1.0);
                }
                c.estRows = est;
                // A row found through an index costs a page seek.
                c.cost = logRows + est * 1.5;
                if (better(c)) best = c;
            }
        }

        best.plan.colUsed = static_cast<uint64_t>(info->colUsed);
        int argv = 1;
        for (int i : best.constraints) {
            info->aConstraintUsage[i].argvIndex = argv++;
            // Keys may match more than SQLite would (text folding, widened
            // bounds): SQLite always checks again.
            info->aConstraintUsage[i].omit = 0;
        }
        info->idxNum = best.kind;
        std::string text = encodePlan(best.plan);
        info->idxStr = sqlite3_mprintf("%s", text.c_str());
        if (!info->idxStr) return SQLITE_NOMEM;
        info->needToFreeIdxStr = 1;
        info->estimatedCost = best.cost;
        info->estimatedRows = static_cast<sqlite3_int64>(best.estRows);
        if (best.unique) info->idxFlags |= SQLITE_INDEX_SCAN_UNIQUE;
        if (best.plan.ordered) info->orderByConsumed = 1;
        return SQLITE_OK;
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    } catch (...) {
        return SQLITE_ERROR;
    }
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

sqlite3_module makeModule() {
    sqlite3_module m;
    std::memset(&m, 0, sizeof m);
    m.iVersion = 1;
    m.xCreate = connect;
    m.xConnect = connect;
    m.xBestIndex = bestIndex;
    m.xDisconnect = disconnect;
    m.xDestroy = disconnect;
    m.xOpen = open;
    m.xClose = close;
    m.xFilter = filter;
    m.xNext = next;
    m.xEof = eof;
    m.xColumn = column;
    m.xRowid = rowid;
    return m;
}

const sqlite3_module kModule = makeModule();

}  // namespace

std::string declaredType(const jet::Column& column) {
    switch (column.type) {
        case ColumnType::Boolean:
        case ColumnType::Byte:
        case ColumnType::Integer:
        case ColumnType::Long:
        case ColumnType::BigInt:
            return "INTEGER";
        case ColumnType::Currency:  // in ten-thousandths
            return "INTEGER";
        case ColumnType::Single:
        case ColumnType::Double:
        case ColumnType::DateTime:
        case ColumnType::DateTimeExt:
            return "REAL";
        case ColumnType::Text:
        case ColumnType::Memo:
            return std::string("TEXT COLLATE ") + kAccessTextCollation;
        case ColumnType::Decimal:  // canonical text, in numeric order
            return std::string("TEXT COLLATE ") + kAccessDecimalCollation;
        case ColumnType::Guid:
        case ColumnType::Complex:
            return "TEXT";
        case ColumnType::Binary:
        case ColumnType::Ole:
            return "BLOB";
    }
    return "";
}

Result<const JetTables::Table*> JetTables::attachOther(Connection& connection,
                                                       const std::string& name,
                                                       std::shared_ptr<jet::Database> db,
                                                       std::shared_ptr<const jet::TableDef> def,
                                                       const std::string& path) {
    if (const Table* t = find(name)) return t;
    if (def->columns.empty())
        return Error(Errc::Unsupported,
                     "The table '" + def->name + "' of " + path + " has no columns");
    m_tables.push_back({name, std::move(def), {}, false, std::move(db), path});
    const size_t i = m_tables.size() - 1;
    Status st = connection.exec("CREATE VIRTUAL TABLE main." + quoteIdentifier(name) + " USING " +
                                quoteIdentifier(m_moduleName) + "(" + std::to_string(i) + ")");
    if (!st.ok()) {
        m_tables.pop_back();
        return st.error();
    }
    m_tables[i].attached = true;
    return &m_tables[i];
}

size_t JetTables::indexOf(std::string_view table) const {
    for (size_t i = 0; i < m_tables.size(); ++i)
        if (m_tables[i].attached && equalsIgnoringCase(m_tables[i].name, table)) return i;
    return std::string_view::npos;
}

const JetTables::Table* JetTables::find(std::string_view table) const {
    const size_t i = indexOf(table);
    return i == std::string_view::npos ? nullptr : &m_tables[i];
}

const jet::Column* JetTables::column(std::string_view table, std::string_view column) const {
    const Table* t = find(table);
    if (!t) return nullptr;
    int i = t->def->findColumn(column);
    if (i < 0 || static_cast<size_t>(i) >= t->def->columns.size()) return nullptr;
    return &t->def->columns[size_t(i)];
}

std::vector<std::string> JetTables::tableNames() const {
    std::vector<std::string> out;
    for (const Table& t : m_tables)
        if (t.attached) out.push_back(t.name);
    return out;
}

TableStats JetTables::stats(std::string_view table) const {
    const Table* t = find(table);
    return t ? t->stats : TableStats{};
}

void JetTables::resetStats() {
    for (Table& t : m_tables) t.stats = {};
}

Result<std::shared_ptr<JetTables>> attachJetTables(Connection& connection,
                                                   std::shared_ptr<jet::Database> db,
                                                   const AttachOptions& options) {
    if (!db) return Error(Errc::InvalidArgument, "no database");
    sqlite3* handle = connection.handle();
    if (!handle) return Error(Errc::InvalidArgument, "connection is closed");
    auto tables = std::make_shared<JetTables>();
    tables->m_db = db;
    tables->m_useIndexes = options.useIndexes;
    tables->m_moduleName = options.moduleName;

    std::vector<const jet::CatalogObject*> objects =
        db->catalog().ofKind(jet::ObjectKind::UserTable);
    if (options.systemTables) {
        auto sys = db->catalog().ofKind(jet::ObjectKind::SystemTable);
        objects.insert(objects.end(), sys.begin(), sys.end());
    }
    for (const jet::CatalogObject* o : objects) {
        auto def = db->table(o->name);
        if (!def.ok()) {
            tables->m_skipped.push_back({o->name, def.error().message()});
            continue;
        }
        if ((*def)->columns.empty()) {
            tables->m_skipped.push_back({o->name, "table has no columns"});
            continue;
        }
        tables->m_tables.push_back({o->name, std::move(*def), {}, false, nullptr, {}});
    }
    // Linked tables read from their own file, under the link's name.
    jet::LinkedDatabases ownLinks(options.password);
    jet::LinkedDatabases& links = options.links ? *options.links : ownLinks;
    auto linked = db->catalog().ofKind(jet::ObjectKind::LinkedTable);
    auto odbc = db->catalog().ofKind(jet::ObjectKind::LinkedOdbc);
    linked.insert(linked.end(), odbc.begin(), odbc.end());
    for (const jet::CatalogObject* o : linked) {
        auto t = links.open(*db, *o);
        if (!t.ok()) {
            tables->m_skipped.push_back({o->name, t.error().message()});
            continue;
        }
        if (t->table->columns.empty()) {
            tables->m_skipped.push_back({o->name, "table has no columns"});
            continue;
        }
        tables->m_tables.push_back({o->name, t->table, {}, false, t->database, t->path});
    }

    // The module owns a reference so the tables outlive every virtual table.
    auto* data = new ModuleData{tables};
    int rc = sqlite3_create_module_v2(handle, options.moduleName.c_str(), &kModule, data,
                                      [](void* p) { delete static_cast<ModuleData*>(p); });
    if (rc != SQLITE_OK) return sqliteError(handle, rc, "cannot register the jet module");

    for (size_t i = 0; i < tables->m_tables.size(); ++i) {
        const std::string& name = tables->m_tables[i].name;
        std::string sql = "CREATE VIRTUAL TABLE main." + quoteIdentifier(name) + " USING " +
                          quoteIdentifier(options.moduleName) + "(" + std::to_string(i) + ")";
        Status st = connection.exec(sql);
        if (st.ok())
            tables->m_tables[i].attached = true;
        else
            tables->m_skipped.push_back({name, st.error().message()});
    }
    return tables;
}

}  // namespace tab::sqlbridge
