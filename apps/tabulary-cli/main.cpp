// tabulary-cli: the engine from the command line, for scripts and checks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tabulary/accsql/parser.h"
#include "tabulary/ado/query.h"
#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/saved_query.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/script/create_script.h"

using namespace tab;
using namespace tab::jet;

namespace {

const char* kUsage =
    "usage: tabulary-cli COMMAND FILE [ARGS] [--password PW]\n"
    "commands:\n"
    "  tables FILE            list tables, linked tables and saved queries with their kinds\n"
    "  schema FILE [TABLE]    columns and indexes of one table or of every user table\n"
    "  export FILE TABLE      every row as CSV (RFC 4180, UTF-8, header line)\n"
    "  queries FILE           saved queries: name, kind and SQL (one line each, tab-separated)\n"
    "  check FILE [--strict]  check every structure and report problems; exit 1 on errors,\n"
    "                         with --strict also on warnings\n"
    "  create OUT SCRIPT      write a new .mdb from CREATE TABLE / CREATE INDEX / INSERT "
    "statements\n"
    "  query FILE SQL [--csv] run an Access SQL statement; rows as tab-separated text (tab, line\n"
    "                         breaks and backslashes escaped as \\t \\n \\r \\\\) or as CSV\n"
    "  explain FILE SQL       print the SQLite statement and the result columns of a query\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "tabulary-cli: %s\n", message.c_str());
    return 1;
}

// Output buffered in large blocks: exporting is dominated by formatting, not writes.
class Out {
public:
    ~Out() { flush(); }
    std::string& buf() { return m_buf; }
    void maybeFlush() {
        if (m_buf.size() > (1 << 20)) flush();
    }
    bool flush() {
        if (!m_buf.empty() && std::fwrite(m_buf.data(), 1, m_buf.size(), stdout) != m_buf.size())
            m_failed = true;
        m_buf.clear();
        return !m_failed;
    }
    bool failed() const { return m_failed; }

private:
    std::string m_buf;
    bool m_failed = false;
};

bool needsQuoting(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        char ch = p[i];
        if (ch == ',' || ch == '"' || ch == '\r' || ch == '\n') return true;
    }
    return false;
}

void appendCsvField(std::string& out, const std::string& text) {
    if (!needsQuoting(text.data(), text.size())) {
        out += text;
        return;
    }
    out.push_back('"');
    for (char ch : text) {
        if (ch == '"') out.push_back('"');
        out.push_back(ch);
    }
    out.push_back('"');
}

std::string kindText(const CatalogObject& o) {
    std::string k = objectKindName(o.kind);
    if (o.kind == ObjectKind::Query) {
        k += " (";
        k += queryKindName(o.queryKind);
        if (o.hasParameters) k += ", parameters";
        k += ")";
    }
    return k;
}

int cmdTables(Database& db) {
    Out out;
    for (const auto& o : db.catalog().objects) {
        if (o.kind == ObjectKind::Other || o.kind == ObjectKind::SystemTable) continue;
        out.buf() += o.name + "\t" + kindText(o) + "\n";
    }
    return out.flush() ? 0 : fail("write error");
}

std::string columnTypeText(const Column& c) {
    if (c.type == ColumnType::Long && c.autoNumber) return "AutoNumber";
    std::string t = columnTypeName(c.type);
    // Appending (never "literal" + string) keeps GCC 12's -Wrestrict false positive away.
    if (c.type == ColumnType::Text) t.append("(").append(std::to_string(c.size)).append(")");
    if (c.type == ColumnType::Decimal)
        t.append("(")
            .append(std::to_string(c.precision))
            .append(",")
            .append(std::to_string(c.scale))
            .append(")");
    if (c.type == ColumnType::Guid && c.autoGuid) t.append(" AutoNumber");
    return t;
}

void printSchema(Out& out, const TableDef& t) {
    auto& b = out.buf();
    b += "TABLE " + t.name + "\n";
    for (const auto& c : t.columns) {
        b += "  " + c.name + "\t" + columnTypeText(c);
        if (c.required) b += " required";
        if (c.fixed && c.type == ColumnType::Text) b += " fixed";
        if (c.compressedUnicode) b += " compressed";
        if (c.hyperlink) b += " hyperlink";
        if (c.calculated) b += " calculated";
        b += "\n";
    }
    for (const auto& ix : t.indexes) {
        const RealIndex& ri = t.realIndexes[ix.realIndex];
        b += "  INDEX " + ix.name + " (";
        bool first = true;
        for (const auto& ic : ri.columns) {
            if (!first) b += ", ";
            first = false;
            const Column* c = t.columnByNumber(ic.columnNumber);
            b += c ? c->name : "?";
            if (!ic.ascending) b += " DESC";
        }
        b += ")";
        if (ix.primaryKey()) b += " primary key";
        if (ix.foreignKey()) b += " foreign key";
        if (ri.unique()) b += " unique";
        if (ri.ignoreNulls()) b += " ignore nulls";
        if (ri.required()) b += " required";
        b += "\n";
    }
}

int cmdSchema(Database& db, const std::vector<std::string>& args) {
    Out out;
    std::vector<std::string> names;
    if (!args.empty()) {
        names.push_back(args[0]);
    } else {
        for (const auto* o : db.catalog().ofKind(ObjectKind::UserTable)) names.push_back(o->name);
    }
    for (const auto& n : names) {
        auto t = db.table(n);
        if (!t.ok()) return fail(t.error().message());
        printSchema(out, **t);
    }
    return out.flush() ? 0 : fail("write error");
}

int cmdExport(Database& db, const std::vector<std::string>& args) {
    if (args.empty()) return fail("export needs a table name");
    auto t = db.table(args[0]);
    if (!t.ok()) return fail(t.error().message());
    Out out;
    std::string& b = out.buf();
    const auto& cols = (*t)->columns;
    for (size_t i = 0; i < cols.size(); ++i) {
        if (i) b.push_back(',');
        appendCsvField(b, cols[i].name);
    }
    b += "\r\n";
    TableCursor cursor(db, *t);
    std::string cell;
    while (true) {
        auto more = cursor.next();
        if (!more.ok()) {
            out.flush();
            return fail(db.path() + ": " + more.error().message());
        }
        if (!*more) break;
        const auto& vals = cursor.values();
        for (size_t i = 0; i < vals.size(); ++i) {
            if (i) b.push_back(',');
            // Format in place; only the rare field that needs quoting is copied.
            size_t start = b.size();
            appendValueText(b, vals[i]);
            if (needsQuoting(b.data() + start, b.size() - start)) {
                cell.assign(b, start, std::string::npos);
                b.resize(start);
                appendCsvField(b, cell);
            }
        }
        b += "\r\n";
        out.maybeFlush();
        if (out.failed()) return fail("write error");
    }
    return out.flush() ? 0 : fail("write error");
}

int cmdCheck(Database& db, const std::vector<std::string>& args) {
    bool strict = false;
    for (const auto& a : args) {
        if (a != "--strict") return fail("check: unknown argument " + a);
        strict = true;
    }
    CheckReport r = checkDatabase(db);
    for (const auto& p : r.problems)
        std::printf("%s: %s\n", p.severity == CheckProblem::Severity::Error ? "error" : "warning",
                    p.message.c_str());
    std::printf("%zu tables, %zu indexes, %u pages, %llu rows read, %zu errors, %zu warnings\n",
                r.tablesChecked, r.indexesChecked, r.pagesChecked,
                static_cast<unsigned long long>(r.rowsRead), r.errorCount(), r.warningCount());
    if (r.errorCount()) return 1;
    return strict && r.warningCount() ? 1 : 0;
}

int cmdQueries(const Database& db) {
    int rc = 0;
    for (const CatalogObject* q : db.catalog().ofKind(ObjectKind::Query)) {
        auto r = rebuildSavedQuery(*q);
        if (!r.ok()) {
            rc = fail(r.error().message());
            continue;
        }
        for (char& c : r->sql)
            if (c == '\n' || c == '\r') c = ' ';
        std::printf("%s\t%s\t%s\n", q->name.c_str(), queryKindName(r->kind), r->sql.c_str());
    }
    return rc;
}

void appendTsvField(std::string& out, const std::string& text) {
    for (char ch : text) {
        switch (ch) {
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out.push_back(ch);
        }
    }
}

int cmdQuery(const std::string& file, const std::string& password,
             const std::vector<std::string>& args) {
    std::string sql;
    bool csv = false;
    for (const auto& a : args) {
        if (a == "--csv")
            csv = true;
        else if (sql.empty())
            sql = a;
        else
            return fail("query takes one statement; quote it as one argument");
    }
    if (sql.empty()) return fail("query needs a statement");
    ado::Connection conn;
    if (auto st = conn.openFile(file, password); !st.ok()) return fail(st.error().message());
    auto parsed = accsql::parse(sql);
    if (parsed.ok() && !accsql::returnsRows(*parsed.statement) &&
        parsed.statement->kind != accsql::StatementKind::Execute) {
        auto n = ado::execute(conn, sql);
        if (!n.ok()) return fail(n.error().message());
        std::printf("%d record(s) affected.\n", *n);
        return 0;
    }
    auto rs = ado::openRecordset(conn, sql);
    if (!rs.ok()) return fail(rs.error().message());
    auto rows = rs->rows();
    if (!rows.ok()) return fail(rows.error().message());
    Out out;
    std::string& b = out.buf();
    const char* sep = csv ? "," : "\t";
    const char* eol = csv ? "\r\n" : "\n";
    auto field = [&](const std::string& text) {
        if (csv)
            appendCsvField(b, text);
        else
            appendTsvField(b, text);
    };
    const auto& fields = rs->fields();
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) b += sep;
        field(fields[i].name);
    }
    b += eol;
    std::string cell;
    for (const auto& row : **rows) {
        for (size_t i = 0; i < row.size(); ++i) {
            if (i) b += sep;
            cell.clear();
            appendValueText(cell, row[i]);
            field(cell);
        }
        b += eol;
        out.maybeFlush();
        if (out.failed()) return fail("write error");
    }
    return out.flush() ? 0 : fail("write error");
}

int cmdExplain(const std::string& file, const std::string& password,
               const std::vector<std::string>& args) {
    if (args.size() != 1) return fail("explain needs one statement");
    ado::Connection conn;
    if (auto st = conn.openFile(file, password); !st.ok()) return fail(st.error().message());
    auto tr = ado::translateOn(conn, args[0]);
    if (!tr.ok()) return fail(tr.error().message());
    std::printf("%s\n", tr->sql.c_str());
    for (const auto& c : tr->columns)
        std::printf("  %s\t%s\n", c.name.c_str(), accsql::typeName(c.type));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    OpenOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--password" || a == "-p") {
            if (i + 1 >= argc) return fail("--password needs a value");
            options.password = argv[++i];
        } else if (a.rfind("--password=", 0) == 0) {
            options.password = a.substr(11);
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            args.push_back(a);
        }
    }
    if (args.size() < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string cmd = args[0];
    if (cmd == "create") {
        if (args.size() != 3) return fail("create needs an output file and a script");
        CreateOptions create;
        create.password = options.password;
        // Reproducible output: the catalogue's dates from SOURCE_DATE_EPOCH when set.
        if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch)
            create.objectDate = std::strtod(epoch, nullptr) / 86400.0 + 25569.0;
        auto stats = script::createDatabaseFromScript(args[1], args[2], create);
        if (!stats.ok()) return fail(stats.error().message());
        std::printf("%s: %zu tables, %llu rows\n", args[1].c_str(), stats->tables,
                    static_cast<unsigned long long>(stats->rows));
        return 0;
    }
    if (cmd == "query" || cmd == "explain") {
        std::vector<std::string> rest(args.begin() + 2, args.end());
        return cmd == "query" ? cmdQuery(args[1], options.password, rest)
                              : cmdExplain(args[1], options.password, rest);
    }
    if (cmd != "tables" && cmd != "schema" && cmd != "export" && cmd != "check" &&
        cmd != "queries") {
        std::fputs(kUsage, stderr);
        return 2;
    }
    auto db = Database::open(args[1], options);
    if (!db.ok()) return fail(db.error().message());
    std::vector<std::string> rest(args.begin() + 2, args.end());
    if (cmd == "tables") return cmdTables(**db);
    if (cmd == "schema") return cmdSchema(**db, rest);
    if (cmd == "export") return cmdExport(**db, rest);
    if (cmd == "queries") return cmdQueries(**db);
    return cmdCheck(**db, rest);
}
