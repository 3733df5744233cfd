// Thin RAII wrappers over SQLite: a connection to a private in-memory
// database and prepared statements. SQLite failures become tab::Error values
// carrying SQLite's own message.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "tabulary/base/error.h"

namespace tab::sqlbridge {

// Error for a failed SQLite call: `what` plus the connection's message.
Error sqliteError(sqlite3* db, int rc, std::string_view what);

// `name` as an SQLite identifier in double quotes, inner quotes doubled.
std::string quoteIdentifier(std::string_view name);

class Connection {
public:
    // A fresh in-memory database with the ACC_TEXT collation registered.
    static Result<Connection> openMemory();

    Connection(Connection&& other) noexcept;
    Connection& operator=(Connection&& other) noexcept;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    sqlite3* handle() const { return m_db; }

    // Runs one or more statements, discarding any rows.
    Status exec(std::string_view sql);

private:
    explicit Connection(sqlite3* db) : m_db(db) {}
    sqlite3* m_db = nullptr;
};

class Statement {
public:
    // Prepares the first statement of `sql`; trailing text is an error.
    static Result<Statement> prepare(Connection& connection, std::string_view sql);

    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    // Parameters are numbered from 1.
    Status bindNull(int index);
    Status bindInt64(int index, int64_t value);
    Status bindDouble(int index, double value);
    Status bindText(int index, std::string_view utf8);
    Status bindBlob(int index, std::string_view bytes);

    // True while a row is available; false when the statement is done.
    Result<bool> step();
    Status reset();

    // Columns of the current row, numbered from 0.
    int columnCount() const;
    std::string columnName(int column) const;
    int columnType(int column) const;  // SQLITE_INTEGER, SQLITE_FLOAT, ...
    bool isNull(int column) const { return columnType(column) == SQLITE_NULL; }
    int64_t columnInt64(int column) const;
    double columnDouble(int column) const;
    std::string columnText(int column) const;
    std::string columnBlob(int column) const;

    sqlite3_stmt* handle() const { return m_stmt; }

private:
    Statement(sqlite3* db, sqlite3_stmt* stmt) : m_db(db), m_stmt(stmt) {}
    Status checkBind(int rc, int index);

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace tab::sqlbridge
