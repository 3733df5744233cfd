// Running Access SQL on an open connection: Recordset.Open and
// Connection.Execute as the program calls them. Each call builds its own
// SQLite session over the connection's database (virtual tables, Access
// functions, the catalogue's saved queries as views) and lets it go when the
// rows have been read.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "tabulary/accsql/translate.h"
#include "tabulary/ado/connection.h"
#include "tabulary/ado/recordset.h"
#include "tabulary/base/error.h"
#include "tabulary/jet/change.h"
#include "tabulary/sqlbridge/jet_vtab.h"

namespace tab::ado {

struct QueryOptions {
    bool useIndexes = true;
    // A statement that only lists columns of one table reads the table
    // without SQLite (off to compare the two).
    bool directScans = true;
    // Fixed instant for Now(), Date() and Time(); empty: the clock when the
    // statement starts.
    std::function<double()> now;
    // Called with the session's tables once the statement has run, for
    // tests that count decoded rows.
    std::function<void(const sqlbridge::JetTables&)> onFinished;
    // Statements that change the file: sync journal and file (off only for
    // measurements), and what the change wrote, once it is committed.
    bool durable = true;
    std::function<void(const jet::ChangeStats&)> onCommit;
    // Set (from any thread) to stop the statement: SQLite's work is
    // interrupted, reading rows ends, and a change is not committed. The
    // flag must outlive the statement's rows.
    const std::atomic<bool>* stop = nullptr;
};

// What a statement stopped through QueryOptions::stop fails with.
Error stoppedError();
bool stopRequested(const QueryOptions& options);

// Static, client-side, read-only. Fields are known on return; rows are read
// at the first EOF, RecordCount, move or value. A statement that changes
// the database fails here as it does in execute().
Result<Recordset> openRecordset(Connection& connection, std::string_view sql,
                                const QueryOptions& options = {});

// The rows as the statement gives them, each read once and not kept: for
// writers that stream a result of any size.
Result<std::unique_ptr<RowSource>> openForwardOnly(Connection& connection, std::string_view sql,
                                                   const QueryOptions& options = {});

// Runs a statement; the result is the records affected, -1 for a statement
// that returns rows (its rows are read and dropped).
Result<int32_t> execute(Connection& connection, std::string_view sql,
                        const QueryOptions& options = {});

// The translation alone (for tabulary-cli explain and tests).
Result<accsql::Translation> translateOn(Connection& connection, std::string_view sql);

jet::ColumnType columnTypeOf(accsql::Type type);

}  // namespace tab::ado
