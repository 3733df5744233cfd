#include "tabulary/ado/query.h"

#include "session.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "tabulary/accsql/parser.h"
#include "tabulary/base/ascii_case.h"
#include "tabulary/jet/saved_query.h"
#include "tabulary/sqlbridge/functions.h"
#include "tabulary/sqlbridge/sqlite.h"
#include "tabulary/sqlbridge/table_scan.h"

namespace tab::ado {
namespace {

using accsql::Type;

Type typeOf(const jet::Column& c) {
    switch (c.type) {
        case jet::ColumnType::Boolean:
            return Type::Boolean;
        case jet::ColumnType::Byte:
            return Type::Byte;
        case jet::ColumnType::Integer:
            return Type::Integer;
        case jet::ColumnType::Long:
            return Type::Long;
        case jet::ColumnType::BigInt:
            return Type::BigInt;
        case jet::ColumnType::Currency:
            return Type::Currency;
        case jet::ColumnType::Single:
            return Type::Single;
        case jet::ColumnType::Double:
            return Type::Double;
        case jet::ColumnType::DateTime:
        case jet::ColumnType::DateTimeExt:
            return Type::Date;
        case jet::ColumnType::Binary:
            return Type::Binary;
        case jet::ColumnType::Text:
            return Type::Text;
        case jet::ColumnType::Ole:
            return Type::LongBinary;
        case jet::ColumnType::Memo:
            return Type::Memo;
        case jet::ColumnType::Guid:
            return Type::Guid;
        case jet::ColumnType::Decimal:
            return Type::Decimal;
        case jet::ColumnType::Complex:
            return Type::Text;
    }
    return Type::Variant;
}

std::string queryReason(const jet::CatalogObject& o) {
    const std::string name = "'" + o.name + "'";
    if (o.hasParameters) return name + " is a parameter query, which this program cannot run yet";
    switch (o.queryKind) {
        case jet::QueryKind::Crosstab:
            return name + " is a crosstab query";
        case jet::QueryKind::Delete:
            return name + " is a delete query";
        case jet::QueryKind::Update:
            return name + " is an update query";
        case jet::QueryKind::Append:
            return name + " is an append query";
        case jet::QueryKind::MakeTable:
            return name + " is a make-table query";
        case jet::QueryKind::DataDefinition:
            return name + " is a data-definition query";
        case jet::QueryKind::PassThrough:
            return name + " is a pass-through query";
        default:
            return name + " is a saved query of an unknown kind";
    }
}

}  // namespace

namespace detail {

// The database's tables and saved queries as the translator sees them.
// An integer column with a unique index of its own that holds no Null.
bool uniqueKey(const jet::TableDef& def, const jet::Column& c) {
    using T = jet::ColumnType;
    if (c.type != T::Byte && c.type != T::Integer && c.type != T::Long && c.type != T::BigInt)
        return false;
    for (const jet::RealIndex& idx : def.realIndexes)
        if (idx.unique() && idx.columns.size() == 1 && idx.columns[0].columnNumber == c.number &&
            (c.required || c.autoNumber || idx.required()))
            return true;
    return false;
}

class DatabaseCatalog final : public accsql::Catalog {
public:
    explicit DatabaseCatalog(Session& s) : m_session(s), m_db(*s.db), m_tables(*s.tables) {}

    std::optional<accsql::CatalogEntry> findIn(std::string_view database,
                                               std::string_view name) const override {
        accsql::CatalogEntry e;
        e.kind = accsql::CatalogEntry::Kind::Other;
        e.name = std::string(name);
        auto t = otherTable(database, name);
        if (!t.ok()) {
            e.reason = t.error().message();
            return e;
        }
        return tableEntry(**t);
    }

    std::optional<accsql::CatalogEntry> find(std::string_view name) const override {
        accsql::CatalogEntry e;
        if (const auto* t = m_tables.find(name); t && t->attached) return tableEntry(*t);
        const jet::Catalog& cat = m_db.catalog();
        if (const auto* q = cat.find(name, jet::ObjectKind::Query)) {
            e.name = q->name;
            const bool view = !q->hasParameters && (q->queryKind == jet::QueryKind::Select ||
                                                    q->queryKind == jet::QueryKind::Union);
            // Crosstabs read like views too, though the providers list them elsewhere.
            const bool readable =
                view || (!q->hasParameters && q->queryKind == jet::QueryKind::Crosstab);
            if (readable) {
                auto saved = jet::rebuildSavedQuery(*q);
                if (!saved.ok()) {
                    e.kind = accsql::CatalogEntry::Kind::Other;
                    e.reason = "The saved query '" + q->name +
                               "' cannot be read: " + saved.error().message();
                    return e;
                }
                e.kind = accsql::CatalogEntry::Kind::View;
                e.sql = saved->sql;
                return e;
            }
            e.kind = accsql::CatalogEntry::Kind::Other;
            e.reason = queryReason(*q) + "; only select queries can be read as tables";
            return e;
        }
        if (const auto* t = cat.findTable(name)) {
            e.kind = accsql::CatalogEntry::Kind::Other;
            e.name = t->name;
            const bool link =
                t->kind == jet::ObjectKind::LinkedTable || t->kind == jet::ObjectKind::LinkedOdbc;
            e.reason = link ? "'" + t->name + "' is a linked table that cannot be read"
                            : "The table '" + t->name + "' cannot be read";
            for (const auto& s : m_tables.skipped())
                if (s.name == t->name) e.reason = link ? s.reason : e.reason + ": " + s.reason;
            return e;
        }
        return std::nullopt;
    }

private:
    static accsql::CatalogEntry tableEntry(const sqlbridge::JetTables::Table& t) {
        accsql::CatalogEntry e;
        e.kind = accsql::CatalogEntry::Kind::Table;
        // A table of another file goes by its own name there.
        const bool other = t.name.rfind('`', 0) == 0;
        e.name = other ? t.def->name : t.name;
        e.sqliteName = t.name;
        for (const jet::Column& c : t.def->columns)
            e.columns.push_back({c.name, typeOf(c), c.type == jet::ColumnType::Text ? c.size : 0,
                                 uniqueKey(*t.def, c)});
        return e;
    }

    // The file is found as a link's would be, from the open database's folder.
    Result<const sqlbridge::JetTables::Table*> otherTable(std::string_view database,
                                                          std::string_view name) const {
        const std::filesystem::path folder = std::filesystem::path(m_db.path()).parent_path();
        const jet::LinkedFileSearch search = jet::findLinkedFile(database, folder);
        if (search.found.empty()) {
            std::string tried;
            for (const auto& t : search.tried) tried += (tried.empty() ? "" : ", ") + t;
            return Error(Errc::NotFound, "Could not find the database '" + std::string(database) +
                                             "' (looked for " + tried + ")");
        }
        if (!m_session.other)
            m_session.other = std::make_unique<jet::LinkedDatabases>(m_session.password);
        TAB_ASSIGN_OR_RETURN(auto db, m_session.other->openDatabase(search.found));
        const jet::CatalogObject* o = db->catalog().findTable(name);
        if (!o || o->kind == jet::ObjectKind::SystemTable)
            return Error(Errc::NotFound, "Cannot find the input table '" + std::string(name) +
                                             "' in the database " + search.found);
        std::shared_ptr<jet::Database> rowsIn = db;
        std::shared_ptr<const jet::TableDef> def;
        std::string path = search.found;
        if (o->kind == jet::ObjectKind::LinkedTable || o->kind == jet::ObjectKind::LinkedOdbc) {
            TAB_ASSIGN_OR_RETURN(auto linked, m_session.other->open(*db, *o));
            rowsIn = linked.database;
            def = linked.table;
            path = linked.path;
        } else {
            TAB_ASSIGN_OR_RETURN(def, db->table(o->name));
        }
        // A name no table of the open database can have: Access names hold no '`'.
        const std::string sqliteName = "`" + path + "`" + def->name;
        return m_session.tables->attachOther(m_session.conn, sqliteName, rowsIn, def, path);
    }

    Session& m_session;
    jet::Database& m_db;
    const sqlbridge::JetTables& m_tables;
};

Result<std::shared_ptr<Session>> openSession(Connection& connection, const QueryOptions& options) {
    if (!connection.isOpen())
        return Error(Errc::InvalidArgument,
                     "The connection is closed; open it before running a statement");
    TAB_ASSIGN_OR_RETURN(auto conn, sqlbridge::Connection::openMemory());
    auto s = std::make_shared<Session>(
        Session{connection.database(), std::move(conn), nullptr, 0, nullptr, {}});
    s->password = connection.settings().password;
    s->now = options.now ? options.now() : sqlbridge::currentLocalSerial();
    sqlbridge::FunctionOptions fo;
    const double now = s->now;
    fo.now = [now] { return now; };
    TAB_TRY(sqlbridge::registerAccessFunctions(s->conn.handle(), fo));
    if (options.stop)
        sqlite3_progress_handler(
            s->conn.handle(), 1000,
            [](void* flag) {
                return static_cast<const std::atomic<bool>*>(flag)->load(std::memory_order_relaxed)
                           ? 1
                           : 0;
            },
            const_cast<std::atomic<bool>*>(options.stop));
    sqlbridge::AttachOptions ao;
    ao.useIndexes = options.useIndexes;
    ao.links = connection.linkedDatabases();
    ao.password = connection.settings().password;
    TAB_ASSIGN_OR_RETURN(s->tables, sqlbridge::attachJetTables(s->conn, s->db, ao));
    return s;
}

// A message from a failed SQLite call, with our functions' text kept as is.
Error runError(const Error& e) {
    std::string m = e.message();
    // sqliteError() prefixes what was being done; the function's own text is what matters.
    auto pos = m.find(": ");
    if (pos != std::string::npos) m = m.substr(pos + 2);
    return Error(Errc::InvalidArgument, m);
}

// SQLite refusing our translation is our fault, except for its own limits on
// nesting and expression size, which deep enough statements reach.
Error prepareError(const Error& e) {
    const std::string& m = e.message();
    if (m.find("parser stack overflow") != std::string::npos ||
        m.find("Expression tree is too large") != std::string::npos ||
        m.find("too many") != std::string::npos)
        return Error(Errc::InvalidArgument,
                     "The statement is nested too deeply to run; use fewer nested subqueries or "
                     "parentheses (" +
                         m + ")");
    return Error(Errc::Internal, "The statement could not be prepared for SQLite (" + m + ")");
}

Result<accsql::Translation> translateIn(Session& s, std::string_view sql) {
    DatabaseCatalog catalog(s);
    accsql::TranslateOptions to;
    to.pivotProbe = [&s](const std::string& probe) -> Result<std::vector<accsql::PivotValue>> {
        auto st = sqlbridge::Statement::prepare(s.conn, probe);
        if (!st.ok()) return prepareError(st.error());
        std::vector<accsql::PivotValue> values;
        while (true) {
            auto more = st->step();
            if (!more.ok()) return runError(more.error());
            if (!*more) break;
            values.push_back({st->columnText(0), st->columnText(1), st->columnInt64(2) != 0});
        }
        return values;
    };
    return accsql::translateSql(sql, catalog, to);
}

Result<accsql::WritePlan> translateWriteIn(Session& s, const accsql::Statement& statement,
                                           std::string_view sql) {
    DatabaseCatalog catalog(s);
    return accsql::translateWrite(statement, sql, catalog);
}

__extension__ typedef unsigned __int128 U128;

// "-123.4500" back to an exact decimal.
jet::Value decimalFromText(const std::string& text) {
    jet::Decimal d;
    U128 v = 0;
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
    bool point = false, any = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9' || v > (~static_cast<U128>(0)) / 10 - 10)
            return jet::Value::text(text);
        v = v * 10 + static_cast<unsigned>(c - '0');
        any = true;
        if (point) ++d.scale;
    }
    if (!any || d.scale > 28) return jet::Value::text(text);
    d.hi = static_cast<uint64_t>(v >> 64);
    d.lo = static_cast<uint64_t>(v);
    return jet::Value::decimal(d);
}

// A number where a Decimal was expected: a whole number exactly, a double
// by its 15 significant digits (as CDec takes it); a double beyond the
// Decimal range stays a Double.
jet::Value decimalFromNumber(int storage, int64_t integer, double real) {
    jet::Decimal d;
    U128 v = 0;
    if (storage == SQLITE_INTEGER) {
        d.negative = integer < 0;
        v = d.negative ? 0 - static_cast<uint64_t>(integer) : static_cast<uint64_t>(integer);
    } else {
        if (!(std::fabs(real) < 7.9e28)) return jet::Value::real(real);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.14e", std::fabs(real));
        for (const char* p = buf; *p && *p != 'e'; ++p)
            if (*p >= '0' && *p <= '9') v = v * 10 + static_cast<unsigned>(*p - '0');
        int scale = 14 - std::atoi(std::strchr(buf, 'e') + 1);
        for (; scale < 0; ++scale) v *= 10;
        if (scale > 28) {
            // 15 digits: past 16 decimals more, nothing is left.
            U128 unit = 1;
            for (int k = scale - 28; k > 0 && unit < (static_cast<U128>(1) << 64); --k) unit *= 10;
            const U128 q = v / unit, r = v % unit;
            v = q + ((2 * r > unit || (2 * r == unit && (q & 1) != 0)) ? 1 : 0);
            scale = 28;
        }
        d.scale = static_cast<uint8_t>(scale);
        d.negative = real < 0 && v != 0;
    }
    d.hi = static_cast<uint64_t>(v >> 64);
    d.lo = static_cast<uint64_t>(v);
    return jet::Value::decimal(d);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "{00112233-4455-6677-8899-AABBCCDDEEFF}" to the stored byte order.
jet::Value guidFromText(const std::string& text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return jet::Value::text(text);
    std::string hex;
    for (size_t i = 1; i + 1 < text.size(); ++i)
        if (text[i] != '-') hex += text[i];
    if (hex.size() != 32) return jet::Value::text(text);
    std::string b(16, '\0');
    for (size_t i = 0; i < 16; ++i) {
        int hi = hexDigit(hex[2 * i]), lo = hexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return jet::Value::text(text);
        b[i] = static_cast<char>(hi * 16 + lo);
    }
    std::swap(b[0], b[3]);
    std::swap(b[1], b[2]);
    std::swap(b[4], b[5]);
    std::swap(b[6], b[7]);
    return jet::Value::guid(b);
}

// A result cell read from a statement, or from a table without SQLite, with
// SQLite's conversions between storage classes.
struct StatementCell {
    sqlite3_stmt* st;
    int i;
    int storage() const { return sqlite3_column_type(st, i); }
    int64_t integer() const { return sqlite3_column_int64(st, i); }
    double real() const { return sqlite3_column_double(st, i); }
    std::string_view text() const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        const auto n = static_cast<size_t>(sqlite3_column_bytes(st, i));
        return p ? std::string_view(p, n) : std::string_view();
    }
    std::string_view blob() const {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(st, i));
        const auto n = static_cast<size_t>(sqlite3_column_bytes(st, i));
        return p ? std::string_view(p, n) : std::string_view();
    }
};

// Only the conversions the cells below ask for: a number as a double.
struct ScanCell {
    sqlbridge::SqlCell c;
    int storage() const { return c.storage; }
    int64_t integer() const { return c.integer; }
    double real() const {
        return c.storage == SQLITE_INTEGER ? static_cast<double>(c.integer) : c.real;
    }
    std::string_view text() const { return c.bytes; }
    std::string_view blob() const { return c.bytes; }
};

template <class Cell>
jet::Value byStorage(const Cell& cell) {
    switch (cell.storage()) {
        case SQLITE_INTEGER:
            return jet::Value::integer(cell.integer());
        case SQLITE_FLOAT:
            return jet::Value::real(cell.real());
        case SQLITE_BLOB:
            return jet::Value::binary(std::string(cell.blob()));
        case SQLITE_NULL:
            return jet::Value::null();
        default:
            return jet::Value::text(std::string(cell.text()));
    }
}

// An SQLite value as the Access type the translator gave its column.
template <class Cell>
jet::Value convertCell(const Cell& cell, Type type) {
    const int storage = cell.storage();
    if (storage == SQLITE_NULL) return jet::Value::null();
    const bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
    switch (type) {
        case Type::Boolean:
            if (number) return jet::Value::boolean(cell.real() != 0);
            break;
        case Type::Byte:
        case Type::Integer:
        case Type::Long:
        case Type::BigInt:
            if (storage == SQLITE_INTEGER) return jet::Value::integer(cell.integer());
            break;
        case Type::Single:
            if (number) return jet::Value::single(static_cast<float>(cell.real()));
            break;
        case Type::Double:
            if (number) return jet::Value::real(cell.real());
            break;
        case Type::Currency:
            // Held in ten-thousandths.
            if (storage == SQLITE_INTEGER) return jet::Value::currency(cell.integer());
            if (number && std::fabs(cell.real()) < 9.2e18)
                return jet::Value::currency(std::llround(cell.real()));
            break;
        case Type::Decimal:
            if (storage == SQLITE_TEXT) return decimalFromText(std::string(cell.text()));
            if (number) return decimalFromNumber(storage, cell.integer(), cell.real());
            break;
        case Type::Date:
            if (number) return jet::Value::dateTime(cell.real());
            break;
        case Type::Guid:
            if (storage == SQLITE_TEXT) return guidFromText(std::string(cell.text()));
            break;
        default:
            break;
    }
    return byStorage(cell);
}

jet::Value convert(sqlite3_stmt* st, int i, Type type) {
    return convertCell(StatementCell{st, i}, type);
}

// The values of a row refilled in place, so that text keeps its buffer.
struct ValueRow {
    std::vector<jet::Value>& row;
    void null(size_t f) { row[f].setNull(); }
    void boolean(size_t f, bool b) { row[f].setBoolean(b); }
    void integer(size_t f, int64_t v) { row[f].setInteger(v); }
    void single(size_t f, float v) { row[f].setSingle(v); }
    void real(size_t f, double v) { row[f].setReal(v); }
    void currency(size_t f, int64_t v) { row[f].setCurrency(v); }
    void dateTime(size_t f, double v) { row[f].setDateTime(v); }
    void text(size_t f, std::string_view v) { row[f].setBytes(jet::Value::Kind::Text).assign(v); }
    void binary(size_t f, std::string_view v) {
        row[f].setBytes(jet::Value::Kind::Binary).assign(v);
    }
    void value(size_t f, jet::Value v) { row[f] = std::move(v); }
};

// convertCell() without a new jet::Value: the cell goes straight to the
// recordset's columns or into the row's values.
template <class Cell, class Out>
void putCell(const Cell& cell, Type type, Out& out, size_t field) {
    const int storage = cell.storage();
    if (storage == SQLITE_NULL) return out.null(field);
    const bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
    switch (type) {
        case Type::Boolean:
            if (number) return out.boolean(field, cell.real() != 0);
            break;
        case Type::Byte:
        case Type::Integer:
        case Type::Long:
        case Type::BigInt:
            if (storage == SQLITE_INTEGER) return out.integer(field, cell.integer());
            break;
        case Type::Single:
            if (number) return out.single(field, static_cast<float>(cell.real()));
            break;
        case Type::Double:
            if (number) return out.real(field, cell.real());
            break;
        case Type::Currency:
            if (storage == SQLITE_INTEGER) return out.currency(field, cell.integer());
            if (number && std::fabs(cell.real()) < 9.2e18)
                return out.currency(field, std::llround(cell.real()));
            break;
        case Type::Decimal:
            if (storage != SQLITE_BLOB) return out.value(field, convertCell(cell, type));
            break;
        case Type::Guid:
            if (storage == SQLITE_TEXT) return out.value(field, convertCell(cell, type));
            break;
        case Type::Date:
            if (number) return out.dateTime(field, cell.real());
            break;
        default:
            break;
    }
    switch (storage) {
        case SQLITE_INTEGER:
            return out.integer(field, cell.integer());
        case SQLITE_FLOAT:
            return out.real(field, cell.real());
        case SQLITE_BLOB:
            return out.binary(field, cell.blob());
        default:
            return out.text(field, cell.text());
    }
}

}  // namespace detail

namespace {

using namespace detail;

// Where rows come from: an SQLite statement, or (for a statement that lists
// columns of one table and nothing else) the table read without SQLite,
// giving the same cells in the same order.
struct StatementSource {
    sqlbridge::Statement stmt;
    Result<bool> step() {
        auto more = stmt.step();
        if (!more.ok()) return runError(more.error());
        return *more;
    }
    StatementCell cell(size_t i) const { return {stmt.handle(), static_cast<int>(i)}; }
};

struct ScanSource {
    sqlbridge::TableScan scan;
    Result<bool> step() { return scan.next(); }
    ScanCell cell(size_t i) { return {scan.cell(i)}; }
};

// A source's cells converted by the fields' Access types.
template <class Source>
class CellRows final : public RowSource {
public:
    CellRows(std::shared_ptr<Session> session, Source source, const accsql::Translation& tr,
             std::function<void(const sqlbridge::JetTables&)> done)
        : m_session(std::move(session)), m_source(std::move(source)), m_done(std::move(done)) {
        for (const auto& c : tr.columns) {
            m_fields.push_back({c.name, columnTypeOf(c.type), c.size});
            m_types.push_back(c.type);
        }
    }
    ~CellRows() override {
        if (m_done && m_session) m_done(*m_session->tables);
    }

    const std::vector<Field>& fields() const override { return m_fields; }

    Result<bool> next(std::vector<jet::Value>& row) override {
        ValueRow out{row};
        return fill(out);
    }
    Result<bool> nextInto(RowWriter& out) override { return fill(out); }

private:
    template <class Out>
    Result<bool> fill(Out& out) {
        TAB_ASSIGN_OR_RETURN(bool more, m_source.step());
        if (!more) return false;
        for (size_t i = 0; i < m_types.size(); ++i) putCell(m_source.cell(i), m_types[i], out, i);
        return true;
    }

    std::shared_ptr<Session> m_session;
    Source m_source;  // declared after the session: finalised first
    std::function<void(const sqlbridge::JetTables&)> m_done;
    std::vector<Field> m_fields;
    std::vector<Type> m_types;
};

// The translation of a statement that only lists columns of one table has
// this one form: SELECT a."x" AS "c1", ... FROM "T" AS a. Anything else, or
// a name that does not resolve as SQLite would resolve it, reads through SQLite.
struct PlainScan {
    std::string table;
    std::vector<int> columns;
};

std::optional<PlainScan> plainScan(const std::string& sql, const sqlbridge::JetTables& tables) {
    size_t pos = 0;
    auto skipSpace = [&] {
        while (pos < sql.size() && (sql[pos] == ' ' || sql[pos] == '\n')) ++pos;
    };
    // An identifier, bare or in double quotes; empty when there is none.
    auto identifier = [&]() -> std::optional<std::string> {
        skipSpace();
        std::string out;
        if (pos < sql.size() && sql[pos] == '"') {
            for (++pos; pos < sql.size(); ++pos) {
                if (sql[pos] == '"') {
                    if (pos + 1 < sql.size() && sql[pos + 1] == '"') {
                        out += '"';
                        ++pos;
                        continue;
                    }
                    ++pos;
                    return out;
                }
                out += sql[pos];
            }
            return std::nullopt;
        }
        while (pos < sql.size() &&
               (std::isalnum(static_cast<unsigned char>(sql[pos])) || sql[pos] == '_'))
            out += sql[pos++];
        if (out.empty()) return std::nullopt;
        return out;
    };
    auto keyword = [&](std::string_view w) {
        skipSpace();
        if (sql.size() - pos < w.size()) return false;
        for (size_t k = 0; k < w.size(); ++k)
            if (std::toupper(static_cast<unsigned char>(sql[pos + k])) != w[k]) return false;
        const size_t end = pos + w.size();
        if (end < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[end])) ||
                                 sql[end] == '_' || sql[end] == '"'))
            return false;
        pos = end;
        return true;
    };
    auto punct = [&](char c) {
        skipSpace();
        if (pos < sql.size() && sql[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    };
    if (!keyword("SELECT")) return std::nullopt;
    std::vector<std::pair<std::string, std::string>> items;  // (alias, column)
    do {
        auto alias = identifier();
        if (!alias || !punct('.')) return std::nullopt;
        auto column = identifier();
        if (!column || !keyword("AS") || !identifier()) return std::nullopt;
        items.emplace_back(std::move(*alias), std::move(*column));
    } while (punct(','));
    if (!keyword("FROM")) return std::nullopt;
    auto table = identifier();
    if (!table || !keyword("AS")) return std::nullopt;
    auto alias = identifier();
    skipSpace();
    if (!alias || pos != sql.size()) return std::nullopt;
    const auto* t = tables.find(*table);
    if (!t) return std::nullopt;
    // SQLite names compare without regard to ASCII case; the first match counts.
    const auto sameName = equalsIgnoringAsciiCase;
    PlainScan scan;
    scan.table = t->name;
    for (const auto& [a, column] : items) {
        if (!sameName(a, *alias)) return std::nullopt;
        int found = -1;
        for (size_t k = 0; k < t->def->columns.size() && found < 0; ++k)
            if (sameName(t->def->columns[k].name, column)) found = static_cast<int>(k);
        if (found < 0) return std::nullopt;
        scan.columns.push_back(found);
    }
    return scan;
}

Result<std::unique_ptr<RowSource>> prepareRows(Connection& connection, std::string_view sql,
                                               const QueryOptions& options) {
    TAB_ASSIGN_OR_RETURN(auto session, openSession(connection, options));
    TAB_ASSIGN_OR_RETURN(auto tr, translateIn(*session, sql));
    if (options.directScans) {
        if (auto plain = plainScan(tr.sql, *session->tables)) {
            auto scan = sqlbridge::TableScan::open(*session->tables, plain->table,
                                                   std::move(plain->columns));
            if (scan.ok())
                return std::unique_ptr<RowSource>(std::make_unique<CellRows<ScanSource>>(
                    session, ScanSource{std::move(*scan)}, tr, options.onFinished));
        }
    }
    auto st = sqlbridge::Statement::prepare(session->conn, tr.sql);
    if (!st.ok()) return prepareError(st.error());
    return std::unique_ptr<RowSource>(std::make_unique<CellRows<StatementSource>>(
        session, StatementSource{std::move(*st)}, tr, options.onFinished));
}

}  // namespace

jet::ColumnType columnTypeOf(accsql::Type type) {
    switch (type) {
        case Type::Boolean:
            return jet::ColumnType::Boolean;
        case Type::Byte:
            return jet::ColumnType::Byte;
        case Type::Integer:
            return jet::ColumnType::Integer;
        case Type::Long:
            return jet::ColumnType::Long;
        case Type::BigInt:
            return jet::ColumnType::BigInt;
        case Type::Single:
            return jet::ColumnType::Single;
        case Type::Double:
            return jet::ColumnType::Double;
        case Type::Currency:
            return jet::ColumnType::Currency;
        case Type::Decimal:
            return jet::ColumnType::Decimal;
        case Type::Date:
            return jet::ColumnType::DateTime;
        case Type::Memo:
            return jet::ColumnType::Memo;
        case Type::Binary:
            return jet::ColumnType::Binary;
        case Type::LongBinary:
            return jet::ColumnType::Ole;
        case Type::Guid:
            return jet::ColumnType::Guid;
        case Type::Text:
        case Type::Null:
        case Type::Variant:
            return jet::ColumnType::Text;
    }
    return jet::ColumnType::Text;
}

namespace {

// What a recordset opened on a statement that changes the database holds:
// the statement has run, there are no fields and no rows (ADO leaves such a
// recordset closed).
class NoRows final : public RowSource {
public:
    const std::vector<Field>& fields() const override { return m_fields; }
    Result<bool> next(std::vector<jet::Value>&) override { return false; }

private:
    std::vector<Field> m_fields;
};

// SELECT @@IDENTITY: the last autonumber this connection inserted (0 when none).
class IdentityRow final : public RowSource {
public:
    explicit IdentityRow(int64_t id) : m_id(id) {
        m_fields.push_back({"Expr1000", jet::ColumnType::Long, 0});
    }
    const std::vector<Field>& fields() const override { return m_fields; }
    Result<bool> next(std::vector<jet::Value>& row) override {
        if (m_done) return false;
        m_done = true;
        row.assign(1, jet::Value::integer(m_id));
        return true;
    }

private:
    std::vector<Field> m_fields;
    int64_t m_id;
    bool m_done = false;
};

bool isIdentityQuery(std::string_view sql) {
    auto skip = [&](size_t i) {
        while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
        return i;
    };
    auto word = [&](size_t i, std::string_view w) {
        if (sql.size() - i < w.size()) return false;
        for (size_t k = 0; k < w.size(); ++k)
            if (std::toupper(static_cast<unsigned char>(sql[i + k])) != w[k]) return false;
        return true;
    };
    size_t i = skip(0);
    if (!word(i, "SELECT")) return false;
    i += 6;
    if (i == skip(i)) return false;
    i = skip(i);
    if (!word(i, "@@IDENTITY")) return false;
    i = skip(i + 10);
    if (i < sql.size() && sql[i] == ';') i = skip(i + 1);
    return i == sql.size();
}

bool changesTheDatabase(const accsql::Statement& s) {
    switch (s.kind) {
        case accsql::StatementKind::Insert:
        case accsql::StatementKind::Update:
        case accsql::StatementKind::Delete:
        case accsql::StatementKind::SelectInto:
        case accsql::StatementKind::CreateTable:
        case accsql::StatementKind::AlterTable:
        case accsql::StatementKind::CreateIndex:
        case accsql::StatementKind::DropTable:
        case accsql::StatementKind::DropIndex:
        case accsql::StatementKind::CreateView:
        case accsql::StatementKind::CreateProcedure:
        case accsql::StatementKind::DropView:
        case accsql::StatementKind::DropProcedure:
            return true;
        default:
            return false;
    }
}

Result<std::unique_ptr<RowSource>> openRows(Connection& connection, std::string_view sql,
                                            const QueryOptions& options) {
    if (isIdentityQuery(sql)) {
        if (!connection.isOpen())
            return Error(Errc::InvalidArgument,
                         "The connection is closed; open it before running a statement");
        return std::unique_ptr<RowSource>(
            std::make_unique<IdentityRow>(connection.lastIdentity().value_or(0)));
    }
    if (auto parsed = accsql::parse(sql); parsed.ok() && changesTheDatabase(*parsed.statement)) {
        if (auto n = execute(connection, sql, options); !n.ok()) return n.error();
        return std::unique_ptr<RowSource>(std::make_unique<NoRows>());
    }
    TAB_ASSIGN_OR_RETURN(auto rows, prepareRows(connection, sql, options));
    return std::unique_ptr<RowSource>(std::move(rows));
}

}  // namespace

Result<Recordset> openRecordset(Connection& connection, std::string_view sql,
                                const QueryOptions& options) {
    TAB_ASSIGN_OR_RETURN(auto rows, openRows(connection, sql, options));
    return Recordset(std::move(rows));
}

Result<std::unique_ptr<RowSource>> openForwardOnly(Connection& connection, std::string_view sql,
                                                   const QueryOptions& options) {
    return openRows(connection, sql, options);
}

Result<int32_t> execute(Connection& connection, std::string_view sql, const QueryOptions& options) {
    if (auto parsed = accsql::parse(sql); parsed.ok()) {
        switch (parsed.statement->kind) {
            case accsql::StatementKind::Insert:
            case accsql::StatementKind::Update:
            case accsql::StatementKind::Delete:
            case accsql::StatementKind::SelectInto:
                return detail::executeWrite(connection, *parsed.statement, sql, options);
            case accsql::StatementKind::CreateTable:
            case accsql::StatementKind::AlterTable:
            case accsql::StatementKind::CreateIndex:
            case accsql::StatementKind::DropTable:
            case accsql::StatementKind::DropIndex:
            case accsql::StatementKind::CreateView:
            case accsql::StatementKind::CreateProcedure:
            case accsql::StatementKind::DropView:
            case accsql::StatementKind::DropProcedure:
                return detail::executeDdl(connection, *parsed.statement, sql, options);
            default:
                break;
        }
    }
    TAB_ASSIGN_OR_RETURN(auto rows, prepareRows(connection, sql, options));
    std::vector<jet::Value> row(rows->fields().size());
    while (true) {
        if (stopRequested(options)) return stoppedError();
        auto more = rows->next(row);
        if (!more.ok()) return stopRequested(options) ? stoppedError() : more.error();
        if (!*more) break;
    }
    return -1;
}

Error stoppedError() {
    return Error(Errc::InvalidArgument, "The statement was stopped before it finished.");
}

bool stopRequested(const QueryOptions& options) {
    return options.stop && options.stop->load(std::memory_order_relaxed);
}

Result<accsql::Translation> translateOn(Connection& connection, std::string_view sql) {
    TAB_ASSIGN_OR_RETURN(auto session, openSession(connection, {}));
    return translateIn(*session, sql);
}

}  // namespace tab::ado
