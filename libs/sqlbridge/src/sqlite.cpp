#include "tabulary/sqlbridge/sqlite.h"

#include <climits>

#include "tabulary/sqlbridge/collation.h"

namespace tab::sqlbridge {

namespace {

// SQLite takes int lengths; longer input is refused rather than truncated.
bool fitsInt(size_t n) {
    return n <= static_cast<size_t>(INT_MAX);
}

}  // namespace

Error sqliteError(sqlite3* db, int rc, std::string_view what) {
    std::string message(what);
    const char* text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    if (!text || !*text) text = sqlite3_errstr(rc);
    message += ": ";
    message += text ? text : "unknown SQLite error";
    Errc code = Errc::InvalidArgument;
    switch (rc & 0xFF) {
        case SQLITE_NOMEM:
        case SQLITE_INTERNAL:
            code = Errc::Internal;
            break;
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
            code = Errc::Io;
            break;
        case SQLITE_CORRUPT:
            code = Errc::Corrupt;
            break;
        default:
            break;
    }
    return Error(code, std::move(message));
}

std::string quoteIdentifier(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 2);
    out.push_back('"');
    for (char c : name) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// ---- Connection -----------------------------------------------------------

Result<Connection> Connection::openMemory() {
    sqlite3* db = nullptr;
    // One connection serves one statement on one thread: no locking needed.
    int rc = sqlite3_open_v2(
        ":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        Error e = sqliteError(db, rc, "cannot open an in-memory SQLite database");
        sqlite3_close(db);
        return e;
    }
    sqlite3_extended_result_codes(db, 1);
    Connection c(db);
    TAB_TRY(registerAccessTextCollation(db));
    TAB_TRY(registerAccessDecimalCollation(db));
    return c;
}

Connection::Connection(Connection&& other) noexcept : m_db(other.m_db) {
    other.m_db = nullptr;
}

Connection& Connection::operator=(Connection&& other) noexcept {
    if (this != &other) {
        if (m_db) sqlite3_close_v2(m_db);
        m_db = other.m_db;
        other.m_db = nullptr;
    }
    return *this;
}

Connection::~Connection() {
    // close_v2 defers the close until stray statements are finalized.
    if (m_db) sqlite3_close_v2(m_db);
}

Status Connection::exec(std::string_view sql) {
    if (!m_db) return Error(Errc::InvalidArgument, "connection is closed");
    std::string text(sql);
    char* message = nullptr;
    int rc = sqlite3_exec(m_db, text.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string m = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        return sqliteError(nullptr, rc, m).withContext("SQL");
    }
    return Status::success();
}

// ---- Statement ------------------------------------------------------------

Result<Statement> Statement::prepare(Connection& connection, std::string_view sql) {
    sqlite3* db = connection.handle();
    if (!db) return Error(Errc::InvalidArgument, "connection is closed");
    if (!fitsInt(sql.size())) return Error(Errc::InvalidArgument, "SQL text too long");
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt, &tail);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return sqliteError(db, rc, "cannot prepare statement");
    }
    Statement s(db, stmt);
    if (!stmt) return Error(Errc::InvalidArgument, "no SQL statement");
    if (tail) {
        std::string_view rest(tail, static_cast<size_t>(sql.data() + sql.size() - tail));
        for (char c : rest) {
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != ';')
                return Error(Errc::InvalidArgument, "more than one SQL statement");
        }
    }
    return s;
}

Statement::Statement(Statement&& other) noexcept : m_db(other.m_db), m_stmt(other.m_stmt) {
    other.m_stmt = nullptr;
}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_db = other.m_db;
        m_stmt = other.m_stmt;
        other.m_stmt = nullptr;
    }
    return *this;
}

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

Status Statement::checkBind(int rc, int index) {
    if (rc == SQLITE_OK) return Status::success();
    return sqliteError(m_db, rc, "cannot bind parameter " + std::to_string(index));
}

Status Statement::bindNull(int index) {
    return checkBind(sqlite3_bind_null(m_stmt, index), index);
}

Status Statement::bindInt64(int index, int64_t value) {
    return checkBind(sqlite3_bind_int64(m_stmt, index, value), index);
}

Status Statement::bindDouble(int index, double value) {
    return checkBind(sqlite3_bind_double(m_stmt, index, value), index);
}

Status Statement::bindText(int index, std::string_view utf8) {
    if (!fitsInt(utf8.size())) return Error(Errc::InvalidArgument, "text parameter too long");
    return checkBind(sqlite3_bind_text(m_stmt, index, utf8.data(), static_cast<int>(utf8.size()),
                                       SQLITE_TRANSIENT),
                     index);
}

Status Statement::bindBlob(int index, std::string_view bytes) {
    if (!fitsInt(bytes.size())) return Error(Errc::InvalidArgument, "blob parameter too long");
    return checkBind(sqlite3_bind_blob(m_stmt, index, bytes.data(), static_cast<int>(bytes.size()),
                                       SQLITE_TRANSIENT),
                     index);
}

Result<bool> Statement::step() {
    int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    return sqliteError(m_db, rc, "SQL failed");
}

Status Statement::reset() {
    int rc = sqlite3_reset(m_stmt);
    if (rc != SQLITE_OK) return sqliteError(m_db, rc, "cannot reset statement");
    return Status::success();
}

int Statement::columnCount() const {
    return sqlite3_column_count(m_stmt);
}

std::string Statement::columnName(int column) const {
    const char* name = sqlite3_column_name(m_stmt, column);
    return name ? name : "";
}

int Statement::columnType(int column) const {
    return sqlite3_column_type(m_stmt, column);
}

int64_t Statement::columnInt64(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

double Statement::columnDouble(int column) const {
    return sqlite3_column_double(m_stmt, column);
}

std::string Statement::columnText(int column) const {
    const unsigned char* text = sqlite3_column_text(m_stmt, column);
    int n = sqlite3_column_bytes(m_stmt, column);
    if (!text || n <= 0) return {};
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(n));
}

std::string Statement::columnBlob(int column) const {
    const void* data = sqlite3_column_blob(m_stmt, column);
    int n = sqlite3_column_bytes(m_stmt, column);
    if (!data || n <= 0) return {};
    return std::string(static_cast<const char*>(data), static_cast<size_t>(n));
}

}  // namespace tab::sqlbridge
