// Values to bytes for the writer: conversion of a value to a column's type,
// the stored encoding of each type, and the Jet4 row layout.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/table_def.h"
#include "tabulary/jet/value.h"

namespace tab::jet::write {

constexpr size_t kMaxRowSize = 4060;     // what Jet4 rows are kept within
constexpr size_t kInlineLongValue = 64;  // longer Memo/OLE data goes to LVAL pages
constexpr size_t kMaxLvalRow = 4076;     // one LVAL row still fits an empty page
constexpr size_t kChainPiece = 4072;     // data bytes per piece of a chained value

// The value in the canonical kind for the column (Integer for the integer
// types, Currency, Decimal at the column's scale, Text, Binary, ...), or an
// error naming the column. Null stays Null.
Result<Value> coerceValue(const Column& column, const Value& value);

// Stored bytes of a canonical, non-null value: the fixed-size encoding, the
// text of a Text/Memo column, or the data of a Binary/OLE column.
Result<std::string> encodeValue(const Column& column, const Value& value);

// Where a Memo/OLE value that is not inline goes; returns the 12-byte
// reference to put in the row.
class LongValueStore {
public:
    virtual ~LongValueStore() = default;
    virtual Result<std::string> store(const Column& column, const std::string& data) = 0;
};

// A row laid out before anything is stored: the encoded values by column
// position and the decision which long values stay inline.
struct RowPlan {
    std::vector<std::string> bytes;  // per column position; empty for Null/booleans
    std::vector<bool> present;       // not Null (booleans: true)
    std::vector<bool> inlineLong;    // Memo/OLE kept in the row
    size_t fixedEnd = 0;             // end of the fixed area (after the column count)
    size_t size = 0;                 // bytes of the packed row
};

// Plans the row of `values` (canonical, one per column of `table`), checking
// the row size limit.
Result<RowPlan> planRow(const TableDef& table, std::span<const Value> values);

// Packs a planned row; external long values are handed to `store` first.
Result<std::string> packRow(const TableDef& table, const RowPlan& plan, LongValueStore& store);

// 12-byte long-value references.
std::string inlineLongRef(const std::string& data);
std::string externalLongRef(uint32_t length, bool singleRow, uint32_t firstRowPointer);

}  // namespace tab::jet::write
