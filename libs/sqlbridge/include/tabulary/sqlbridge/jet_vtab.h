// Jet tables as SQLite virtual tables. Every user table (and, optionally,
// every system table) of an open database becomes a table of the same name
// in schema main. Scans decode only the columns a statement uses, and
// equality and range constraints are answered through the table's indexes
// where the values can be encoded as index keys.
//
// Values as SQLite sees them: integers and Yes/No (-1/0) as INTEGER; Single,
// Double, Date/Time (Access serial) and Currency (value, not scaled) as REAL;
// Text and Memo as TEXT COLLATE ACC_TEXT; GUID ("{...}"), Decimal (exact
// digits) and multi-valued fields (their text) as TEXT; Binary and OLE as
// BLOB. rowid is the Jet row id.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/linked_table.h"
#include "tabulary/jet/table_def.h"
#include "tabulary/sqlbridge/sqlite.h"

namespace tab::sqlbridge {

struct AttachOptions {
    bool systemTables = true;
    bool useIndexes = true;
    std::string moduleName = "jet";
    // The files behind linked tables, kept open between statements by the
    // caller; null: opened for this attach alone, `password` tried on them.
    jet::LinkedDatabases* links = nullptr;
    std::string password;
};

// Counters per table, for tests and diagnostics.
struct TableStats {
    uint64_t rowsRead = 0;       // rows fetched from the table (scan or seek)
    uint64_t valuesDecoded = 0;  // column values decoded in those rows
    uint64_t indexScans = 0;     // filters answered through an index
    uint64_t fullScans = 0;      // filters answered by reading every row
    uint64_t directScans = 0;    // of those, whole tables read without SQLite
};

struct SkippedTable {
    std::string name;
    std::string reason;
};

// The tables attached to one connection. Lives as long as the connection
// uses it (the module keeps a reference).
class JetTables {
public:
    struct Table {
        std::string name;
        std::shared_ptr<const jet::TableDef> def;
        TableStats stats;
        bool attached = false;  // false: listed in skipped()
        // A linked table: the file its rows are in (null: the database's own).
        std::shared_ptr<jet::Database> linkedDb;
        std::string linkedPath;
    };

    // Case-insensitive lookups of attached tables; null (npos) when absent.
    const Table* find(std::string_view table) const;
    size_t indexOf(std::string_view table) const;
    // The Access column behind (table, column), for typing results.
    const jet::Column* column(std::string_view table, std::string_view column) const;

    std::vector<std::string> tableNames() const;
    const std::vector<SkippedTable>& skipped() const { return m_skipped; }

    // Zeroes when the table is unknown.
    TableStats stats(std::string_view table) const;
    void resetStats();

    // A table of another open database, attached under `name` for the
    // statements prepared afterwards (IN 'file'); the one already attached
    // under that name is returned as it is.
    Result<const Table*> attachOther(Connection& connection, const std::string& name,
                                     std::shared_ptr<jet::Database> db,
                                     std::shared_ptr<const jet::TableDef> def,
                                     const std::string& path);

    // Applies to statements prepared afterwards.
    void setUseIndexes(bool on) { m_useIndexes = on; }
    bool useIndexes() const { return m_useIndexes; }

    // Internal to the module.
    jet::Database& database() { return *m_db; }
    jet::Database& databaseOf(size_t i) {
        return m_tables.at(i).linkedDb ? *m_tables[i].linkedDb : *m_db;
    }
    Table& at(size_t i) { return m_tables.at(i); }
    size_t size() const { return m_tables.size(); }

private:
    friend Result<std::shared_ptr<JetTables>> attachJetTables(Connection&,
                                                              std::shared_ptr<jet::Database>,
                                                              const AttachOptions&);
    std::shared_ptr<jet::Database> m_db;
    std::deque<Table> m_tables;  // grows while attached tables refer to theirs
    std::vector<SkippedTable> m_skipped;
    bool m_useIndexes = true;
    std::string m_moduleName;
};

// Registers the module and creates one virtual table per Jet table. Tables
// SQLite refuses (a name reserved by SQLite, a damaged definition) are
// listed in skipped() instead of failing the whole attach.
Result<std::shared_ptr<JetTables>> attachJetTables(Connection& connection,
                                                   std::shared_ptr<jet::Database> db,
                                                   const AttachOptions& options = {});

// The SQLite column declaration for an Access column, e.g. "TEXT COLLATE ACC_TEXT".
std::string declaredType(const jet::Column& column);

}  // namespace tab::sqlbridge
