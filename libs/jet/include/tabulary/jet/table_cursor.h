// Sequential reading of a table's rows: walks the table's data pages in
// usage-map order, skips deleted rows, follows overflow rows, and decodes
// only the columns asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/page_source.h"
#include "tabulary/jet/table_def.h"
#include "tabulary/jet/value.h"

namespace tab::jet {

class Database;

// Stable row identity: data page << 8 | row number of the row's first part.
using RowId = uint32_t;

class TableCursor {
public:
    // `columns`: positions in table.columns to decode; empty means all.
    TableCursor(Database& db, std::shared_ptr<const TableDef> table, std::vector<int> columns = {});

    // Advances to the next live row. Returns false at the end. A damaged row
    // yields an error; calling next() again continues with the row after it.
    Result<bool> next();

    RowId rowId() const { return m_rowId; }
    // One value per table column (design order); columns not asked for are Null.
    const std::vector<Value>& values() const { return m_values; }
    const TableDef& table() const { return *m_table; }

    // Reads one row by id (e.g. from an index); false if it is not a live row.
    Result<bool> seek(RowId id);

private:
    Status loadPages();
    Result<bool> readRow(uint32_t pageNumber, uint32_t row, const PageRef& page);

    Database& m_db;
    std::shared_ptr<const TableDef> m_table;
    std::vector<int> m_columns;
    std::vector<uint32_t> m_pages;
    bool m_pagesLoaded = false;
    size_t m_pageIndex = 0;
    uint32_t m_rowIndex = 0;
    uint32_t m_rowCount = 0;
    std::vector<bool> m_wanted;  // empty: every column
    PageRef m_page;
    RowId m_rowId = 0;
    std::vector<Value> m_values;
};

}  // namespace tab::jet
