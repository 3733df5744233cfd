// Index planning: which index, if any, answers a statement's constraints
// and ORDER BY, handed to xFilter as plan text.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "jet_vtab_internal.h"
#include "tabulary/base/ascii_case.h"
#include "tabulary/sqlbridge/collation.h"

namespace tab::sqlbridge::vtab {

namespace {

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
    return equalsIgnoringAsciiCase(name, kAccessTextCollation) ||
           equalsIgnoringAsciiCase(name, "BINARY") || equalsIgnoringAsciiCase(name, "NOCASE") ||
           equalsIgnoringAsciiCase(name, "RTRIM");
}

std::string encodePlan(const Plan& p) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d %d %d %d %d %llx", p.index, p.nEq, p.lower, p.upper,
                  p.ordered, static_cast<unsigned long long>(p.colUsed));
    return buf;
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

}  // namespace

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

}  // namespace tab::sqlbridge::vtab
