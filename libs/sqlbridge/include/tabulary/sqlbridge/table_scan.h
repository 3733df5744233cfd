// A whole attached table read in scan order without SQLite, for statements
// that only list its columns: the values are exactly those the virtual table
// hands SQLite, and the table's counters move as a scan through SQLite moves
// them.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value.h"
#include "tabulary/sqlbridge/jet_vtab.h"

namespace tab::sqlbridge {

// One value as SQLite holds it: storage is SQLITE_NULL, SQLITE_INTEGER,
// SQLITE_FLOAT, SQLITE_TEXT or SQLITE_BLOB; bytes is the text or blob.
struct SqlCell {
    int storage = SQLITE_NULL;
    int64_t integer = 0;
    double real = 0;
    std::string_view bytes;
};

// The virtual table's mapping of a Jet value (see jet_vtab.h). `scratch`
// holds the text of the values that are turned into text.
SqlCell sqlCellOf(const jet::Value& v, std::string& scratch);

class TableScan {
public:
    // `columns`: positions in the table's columns, in result order (repeats allowed).
    static Result<TableScan> open(JetTables& tables, std::string_view table,
                                  std::vector<int> columns);

    // False at the end. A damaged row ends the scan with the error SQLite
    // would report for it.
    Result<bool> next();
    size_t width() const { return m_columns.size(); }
    // The i-th listed column of the current row; its bytes last until the next call.
    SqlCell cell(size_t i);

private:
    TableScan() = default;
    JetTables::Table* m_table = nullptr;
    std::unique_ptr<jet::TableCursor> m_rows;
    std::vector<int> m_columns;
    uint64_t m_decodedPerRow = 0;
    bool m_done = false;
    std::string m_scratch;
};

}  // namespace tab::sqlbridge
