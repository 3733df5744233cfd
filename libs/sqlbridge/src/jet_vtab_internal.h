// What the pieces of the Jet virtual table module share: the records
// SQLite hands back to its callbacks, the plan xBestIndex passes to
// xFilter, and the conversions between SQLite values and Jet values.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

#include "tabulary/jet/table_def.h"
#include "tabulary/jet/value.h"
#include "tabulary/sqlbridge/jet_vtab.h"

namespace tab::sqlbridge::vtab {

using jet::ColumnType;
using jet::Value;

inline bool isIntegerType(ColumnType t) {
    return t == ColumnType::Byte || t == ColumnType::Integer || t == ColumnType::Long ||
           t == ColumnType::BigInt;
}

inline bool isTextType(ColumnType t) {
    return t == ColumnType::Text || t == ColumnType::Memo;
}

struct JetVtab {
    sqlite3_vtab base;  // first: SQLite hands back this pointer
    JetTables* tables = nullptr;
    size_t tableIndex = 0;
    std::shared_ptr<const jet::TableDef> def;
};

// Plan text passed from xBestIndex to xFilter.
struct Plan {
    int index = -1;  // position in realIndexes
    int nEq = 0;
    int lower = 0;    // 0 none, 1 '>', 2 '>='
    int upper = 0;    // 0 none, 1 '<', 2 '<='
    int ordered = 0;  // 1: rows must come in index order (SQLite does not sort)
    uint64_t colUsed = ~uint64_t(0);
};

// False for text that is no plan of ours.
bool decodePlan(const char* s, Plan& p);

// Where the column of this number sits in def.columns; -1 if none does.
int columnPosition(const jet::TableDef& def, uint16_t number);

// xBestIndex.
int bestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info);

// Fills in the cursor's callbacks, xOpen to xRowid.
void setCursorMethods(sqlite3_module& m);

// How far an SQLite value converts to a key value of a column.
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

// An SQLite value as a key value of this column.
Converted toJet(const jet::Column& col, sqlite3_value* arg);

// A Jet value as the result of xColumn; `scratch` holds text made on the way.
void resultValue(sqlite3_context* ctx, const Value& v, std::string& scratch);

}  // namespace tab::sqlbridge::vtab
