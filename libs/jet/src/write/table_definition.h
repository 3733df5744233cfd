// Serialises a table definition into its TDEF pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tabulary/jet/table_def.h"

namespace tab::jet::write {

struct LongValueMaps {
    uint16_t columnNumber = 0;
    uint32_t owned = 0, free = 0;  // row pointers of the column's usage maps
};

struct TdefContent {
    const TableDef* table = nullptr;           // columns in stored order, indexes, counts
    std::vector<uint32_t> uniqueCounts;        // per real index
    std::vector<LongValueMaps> longValueMaps;  // per Memo/OLE column
    bool columnOrdinals = false;  // Access numbers user tables' columns from 1 at offset 9
};

// The logical TDEF buffer (first page header included, ends with FF FF).
std::string buildTdef(const TdefContent& content);

// Splits a TDEF buffer over `pages` (first page first); the number of pages
// needed is tdefPageCount().
size_t tdefPageCount(size_t bytes);
std::vector<std::vector<uint8_t>> splitTdef(const std::string& tdef,
                                            const std::vector<uint32_t>& pages);

}  // namespace tab::jet::write
