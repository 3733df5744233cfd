// What the statement runners share: one statement's SQLite session over the
// connection's database, the translation in it, and SQLite values back as
// Access values.
#pragma once

#include <memory>
#include <string_view>

#include "tabulary/accsql/translate.h"
#include "tabulary/ado/query.h"
#include "tabulary/jet/linked_table.h"
#include "tabulary/jet/writer.h"
#include "tabulary/sqlbridge/jet_vtab.h"
#include "tabulary/sqlbridge/sqlite.h"

namespace tab::ado::detail {

struct Session {
    std::shared_ptr<jet::Database> db;
    sqlbridge::Connection conn;
    std::shared_ptr<sqlbridge::JetTables> tables;
    double now = 0;
    // Files named by IN 'file', opened for this statement alone.
    std::unique_ptr<jet::LinkedDatabases> other;
    std::string password;
};

Result<std::shared_ptr<Session>> openSession(Connection& connection, const QueryOptions& options);
Result<accsql::Translation> translateIn(Session& s, std::string_view sql);
Result<accsql::WritePlan> translateWriteIn(Session& s, const accsql::Statement& statement,
                                           std::string_view sql);
Error runError(const Error& e);
Error prepareError(const Error& e);
jet::Value convert(sqlite3_stmt* st, int i, accsql::Type type);

// INSERT, UPDATE, DELETE and SELECT ... INTO: the records affected.
Result<int32_t> executeWrite(Connection& connection, const accsql::Statement& statement,
                             std::string_view sql, const QueryOptions& options);

// CREATE/DROP TABLE, CREATE/DROP INDEX, ALTER TABLE: 0 records affected.
Result<int32_t> executeDdl(Connection& connection, const accsql::Statement& statement,
                           std::string_view sql, const QueryOptions& options);
// The new table of a SELECT ... INTO: its columns as the query gives them.
Result<jet::TableSpec> makeTableSpec(const accsql::WritePlan& plan);

}  // namespace tab::ado::detail
