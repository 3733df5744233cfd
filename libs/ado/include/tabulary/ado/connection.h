// A connection to one database file, opened from a connection string. Every
// action of the program opens its own and lets it go when done; nothing is
// shared between connections.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tabulary/ado/connection_string.h"
#include "tabulary/base/error.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/linked_table.h"

namespace tab::ado {

constexpr int kModeReadWrite = 3;
constexpr int kCursorClient = 3;

class Connection {
public:
    // Accepted as the providers accept them; the engine reads only, so they
    // change nothing yet.
    void setMode(int mode) { m_mode = mode; }
    void setCursorLocation(int location) { m_cursorLocation = location; }
    int mode() const { return m_mode; }
    int cursorLocation() const { return m_cursorLocation; }

    // Parses the string and opens its Data Source with its password.
    Status open(std::string_view connectionString);
    // Opens a file directly, for callers that have the path and password
    // apart (no connection-string parsing, so any character may occur).
    Status openFile(const std::string& path, const std::string& password);
    void close() {
        m_db.reset();
        m_links.reset();
    }
    bool isOpen() const { return m_db != nullptr; }

    const ConnectionString& settings() const { return m_settings; }
    // The last autonumber a statement on this connection inserted.
    std::optional<int64_t> lastIdentity() const { return m_identity; }
    void setLastIdentity(int64_t id) { m_identity = id; }
    // The open database; shared so that results read from it can outlive
    // the connection object.
    std::shared_ptr<jet::Database> database() const { return m_db; }
    // The open file as the database names it, and what opening it had to
    // tell the user (a change undone after a crash); empty while closed.
    std::string filePath() const { return m_db ? m_db->path() : std::string(); }
    std::string openNotice() const { return m_db ? m_db->openNotice() : std::string(); }
    // The files behind the database's linked tables, opened once they are used.
    jet::LinkedDatabases* linkedDatabases() const { return m_links.get(); }

private:
    int m_mode = 0;
    int m_cursorLocation = 2;  // server-side, ADO's default
    ConnectionString m_settings;
    std::shared_ptr<jet::Database> m_db;
    std::shared_ptr<jet::LinkedDatabases> m_links;
    std::optional<int64_t> m_identity;
};

}  // namespace tab::ado
