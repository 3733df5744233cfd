// A table's definition (TDEF): columns in design order with their storage
// details, and its indexes. Decoded once per table from its TDEF page chain.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/format.h"
#include "tabulary/jet/value.h"

namespace tab::jet {

class PageSource;

struct Column {
    std::string name;
    ColumnType type = ColumnType::Text;  // the type values are decoded as
    uint8_t storedType = 0;              // the raw TDEF type byte
    uint16_t number = 0;                 // storage number: null-mask bit
    uint16_t varIndex = 0;               // slot in the variable offset table
    uint16_t fixedOffset = 0;
    uint16_t length = 0;  // bytes (Text: 2 per character in Jet4/ACE)
    uint8_t flags = 0;
    uint8_t extFlags = 0;
    uint8_t precision = 0;  // Decimal
    uint8_t scale = 0;      // Decimal
    uint16_t codePage = 0;  // Jet3 text
    uint16_t sortOrder = 0;
    uint8_t sortVersion = 0;  // 0 General legacy, 1 General of Access 2010 and later
    uint32_t complexId = 0;   // Complex: key into MSysComplexColumns

    bool fixed = false;
    bool autoNumber = false;
    bool autoGuid = false;
    bool hyperlink = false;
    bool compressedUnicode = false;
    bool calculated = false;
    bool required = false;        // from the column's properties
    bool allowZeroLength = true;  // Text/Memo: "AllowZeroLength" property
    std::string defaultValue;     // "DefaultValue" property: an Access expression

    uint32_t size = 0;  // characters for Text, bytes otherwise
};

struct IndexColumn {
    uint16_t columnNumber = 0;  // Column::number
    bool ascending = true;
};

struct RealIndex {
    std::vector<IndexColumn> columns;
    uint32_t usageMap = 0;
    uint32_t rootPage = 0;
    uint8_t flags = 0;
    uint32_t uniqueCount = 0;  // distinct keys, as recorded (statistics)
    bool unique() const { return flags & 0x01; }
    bool ignoreNulls() const { return flags & 0x02; }
    bool required() const { return flags & 0x08; }
};

struct Index {
    std::string name;
    uint32_t number = 0;
    uint32_t realIndex = 0;
    uint8_t indexType = 0;  // 0 normal, 1 primary key, 2 relationship
    // Relationship indexes: which side this table is (1 the one side, 2 the
    // many side), the other table's TDEF page and logical index, cascades.
    uint8_t relationSide = 0;
    uint32_t relatedIndex = 0xFFFFFFFF;
    uint32_t relatedTable = 0;
    bool cascadeUpdates = false, cascadeDeletes = false, cascadeNull = false;
    bool primaryKey() const { return indexType == 1; }
    bool foreignKey() const { return indexType == 2; }
};

struct TableDef {
    std::string name;
    uint32_t tdefPage = 0;
    uint32_t rowCount = 0;  // as recorded; may be stale
    uint32_t lastAutoNumber = 0;
    uint32_t lastComplexAutoNumber = 0;
    uint8_t tableType = 0;  // 'N' user, 'S' system
    uint16_t maxColumns = 0;
    uint16_t varColumns = 0;
    std::vector<Column> columns;  // design order
    std::vector<RealIndex> realIndexes;
    std::vector<Index> indexes;
    uint32_t ownedPages = 0;  // row pointer of the usage map
    uint32_t freePages = 0;
    // Usage maps of the Memo/OLE columns' long-value pages (row pointers).
    struct LongValueMaps {
        uint16_t columnNumber = 0;
        uint32_t owned = 0, free = 0;
    };
    std::vector<LongValueMaps> longValueMaps;
    uint32_t tdefLength = 0;  // bytes of the definition, as recorded

    // Index of the column with this name (as Access matches names, without
    // regard to case in any script), or -1.
    int findColumn(std::string_view name) const;
    const Column* columnByNumber(uint16_t number) const;
};

// Reads the TDEF chain starting at `page`.
Result<TableDef> readTableDef(PageSource& pages, const Format& format, uint32_t page,
                              uint16_t defaultCodePage);

// Decodes a TDEF already assembled into one logical buffer.
Result<TableDef> decodeTableDef(std::span<const uint8_t> tdef, const Format& format, uint32_t page,
                                uint16_t defaultCodePage);

}  // namespace tab::jet
