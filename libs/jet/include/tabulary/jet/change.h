// One statement's change of an open database: rows inserted, updated and
// deleted with every rule of their tables enforced (types and sizes,
// required fields, zero-length strings, unique and primary keys, autonumbers,
// relationships that enforce integrity, with their cascades), every index
// kept, and all of it made permanent by commit() at once or not at all.
// While a change is active the database reads as the change sees it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/catalog.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value.h"
#include "tabulary/jet/writer.h"

namespace tab::jet {

namespace edit {
class FileIo;
}

struct ChangeOptions {
    bool durable = true;                    // fsync journal and file
    size_t spillBytes = size_t{256} << 20;  // staged pages kept in memory at most
    edit::FileIo* io = nullptr;             // null: the real file system
    double objectDate = 0;                  // dates of objects created (Access date); 0: now
    // Local wall-clock time as an Access date, for the versions of
    // append-only memos; null: the system clock. A seam for tests.
    std::function<double()> now;
    // A calculated column's value for a row (values in design order, the
    // calculated ones not yet computed). Null: tables with calculated
    // columns cannot be changed. An expression that cannot be evaluated
    // fails with an error naming the column and the expression.
    std::function<Result<Value>(const TableDef&, const Column&, std::span<const Value>)> calculate;
};

// What a committed change wrote.
struct ChangeStats {
    uint64_t pagesWritten = 0;  // database pages written
    uint64_t journalBytes = 0;  // size of the journal at its largest
};

class Change {
public:
    // Refuses files this program cannot change (Access 97, read-only, in use
    // elsewhere) before anything is written.
    static Result<std::unique_ptr<Change>> begin(Database& db, const ChangeOptions& options = {});
    ~Change();  // rolls back what was not committed
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

    // A table by name for the calls below; fails for tables whose rows this
    // program cannot write (complex or calculated columns, sort orders
    // whose index keys are unknown), naming the reason.
    Result<size_t> table(std::string_view name);
    const TableDef& definition(size_t table) const;

    // One value per column in design order. Null takes the next number for
    // an autonumber and stays Null elsewhere (defaults are the caller's).
    Result<RowId> insert(size_t table, std::span<const Value> values);
    // New values for some columns (design positions).
    Status update(size_t table, RowId row, std::span<const std::pair<size_t, Value>> changes);
    Status remove(size_t table, RowId row);

    // Items of a complex column (position `column`) of one row: values of a
    // multi-value field, files of an attachment field. `fields` name
    // value-table columns ("Value"; "FileName", "FileType", "FileData" as
    // encodeAttachment stores it, ...); the key and the item id are the
    // change's to set. Rows of a table with complex columns get their keys on
    // insert and lose their items on remove; an append-only memo changed by
    // update() gains a version stamped with options.now.
    using Fields = std::span<const std::pair<std::string, Value>>;
    Result<int32_t> addItem(size_t table, RowId row, size_t column, Fields fields);
    Status updateItem(size_t table, RowId row, size_t column, int32_t item, Fields fields);
    Status removeItem(size_t table, RowId row, size_t column, int32_t item);

    // Tables: created with their maps, index roots, catalogue row and
    // permissions; dropped with every page they own (refused while a
    // relationship uses them). Indexes are filled from the existing rows.
    Status createTable(const TableSpec& spec);
    Status dropTable(std::string_view name);
    Status createIndex(std::string_view table, const IndexSpec& index);
    Status dropIndex(std::string_view table, std::string_view index);

    // Columns: added (rows written before read it as Null), dropped
    // (refused while an index or relationship uses it), or changed in type,
    // size or rules (every row converted; a value that does not convert
    // fails the statement).
    Status addColumn(std::string_view table, const ColumnSpec& column);
    Status dropColumn(std::string_view table, std::string_view column);
    Status alterColumn(std::string_view table, const ColumnSpec& column);

    // Relationships that enforce integrity, stored as Access stores them: a
    // MSysRelationships row per column pair and a foreign-key index on both
    // sides.
    struct Relationship {
        std::string name;
        std::string table;  // the many side
        std::vector<std::string> columns;
        std::string referencedTable;                 // the one side
        std::vector<std::string> referencedColumns;  // empty: its primary key
        bool cascadeUpdates = false, cascadeDeletes = false, cascadeNull = false;
    };
    Status createRelationship(const Relationship& relationship);
    // By name, with its indexes; `table` is either side.
    Status dropRelationship(std::string_view table, std::string_view name);

    // Saved queries: a catalogue row (Type 5, the query's kind in `flags`)
    // and its MSysQueries rows, as Access keeps them.
    Status createQuery(const std::string& name, uint32_t flags, const std::vector<QueryRow>& rows);
    Status dropQuery(std::string_view name);

    // The last autonumber the change handed out (SELECT @@IDENTITY).
    std::optional<int64_t> lastIdentity() const;

    Status commit();
    void rollback();
    ChangeStats stats() const;

    struct Impl;

private:
    explicit Change(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tab::jet
