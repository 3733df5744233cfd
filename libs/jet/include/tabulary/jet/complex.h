// Complex columns of ACE files: attachments, multi-value fields and the
// version history of append-only memos. A row holds only a key; the values
// are rows of a hidden value table that carry the same key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/table_def.h"
#include "tabulary/jet/value.h"

namespace tab::jet {

class Database;

enum class ComplexKind : uint8_t { MultiValue, Attachment, VersionHistory };

// Where one complex column's values live.
struct ComplexColumn {
    ComplexKind kind = ComplexKind::MultiValue;
    uint32_t complexId = 0;
    std::string valueTable;  // the hidden value table's name (f_…)
    uint32_t valueTablePage = 0;
    int keyColumn = -1;    // value-table column holding the owning row's key
    int idColumn = -1;     // value-table autonumber: the item's own id
    int valueColumn = -1;  // MultiValue: the value; VersionHistory: the text
    int dateColumn = -1;   // VersionHistory: when the version was stored
    // VersionHistory: position in the owning table of the append-only memo
    // whose versions it keeps; -1 when no column claims it.
    int versionedColumn = -1;
};

// One value, attachment or version: a row of the value table.
struct ComplexItem {
    int32_t id = 0;             // the value table's autonumber
    RowId row = 0;              // in the value table
    std::vector<Value> fields;  // the value table's columns, design order
};

Result<ComplexColumn> complexColumn(Database& db, const TableDef& table, const Column& column);
// Items of one row's key, in the value table's row order.
Result<std::vector<ComplexItem>> complexItems(Database& db, const TableDef& table,
                                              const Column& column, int32_t key);

// An attachment's FileData as Access stores it: a small header, then the
// file (usually deflated) behind a header that names its extension.
struct AttachmentFile {
    std::string extension;  // without the dot, as stored
    std::string bytes;      // the file's own bytes
};
Result<AttachmentFile> decodeAttachment(std::string_view stored);
// Compressed where compression pays, as Access stores it.
std::string encodeAttachment(std::string_view fileBytes, std::string_view extension);

}  // namespace tab::jet
