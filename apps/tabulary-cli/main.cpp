// tabulary-cli: the engine from the command line, for scripts and checks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "pdf_output.h"
#include "tabulary/accsql/parser.h"
#include "tabulary/ado/query.h"
#include "tabulary/ado/text.h"
#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/encrypt.h"
#include "tabulary/jet/linked_table.h"
#include "tabulary/jet/saved_query.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/script/create_script.h"
#include "tabulary/writers/text_documents.h"
#include "tabulary/writers/xlsx_workbook.h"

using namespace tab;
using namespace tab::jet;

namespace {

const char* kUsage =
    "usage: tabulary-cli COMMAND FILE [ARGS] [--password PW]\n"
    "commands:\n"
    "  tables FILE            list tables, linked tables and saved queries with their kinds;\n"
    "                         a link adds where it points, the table there and the file\n"
    "                         that resolves to here\n"
    "  schema FILE [TABLE]    columns and indexes of one table (of a linked table: of the\n"
    "                         table it names) or of every user table\n"
    "  export FILE TABLE      every row as CSV (RFC 4180, UTF-8, header line)\n"
    "  queries FILE           saved queries: name, kind and SQL (one line each, tab-separated)\n"
    "  check FILE [--strict]  check every structure and report problems; exit 1 on errors,\n"
    "                         with --strict also on warnings\n"
    "  create OUT SCRIPT      write a new .mdb (or .accdb, when OUT ends so) from CREATE TABLE /\n"
    "                         CREATE INDEX / INSERT statements\n"
    "  query FILE SQL [--csv] run an Access SQL statement; rows as tab-separated text (tab, line\n"
    "                         breaks and backslashes escaped as \\t \\n \\r \\\\) or as CSV\n"
    "    [--format F --output PATH]\n"
    "                         or the program's own documents: F is txt, csv, xml, xlsx or pdf\n"
    "                         (txt, csv and xml go to standard output without --output)\n"
    "  explain FILE SQL       print the SQLite statement and the result columns of a query\n"
    "  encrypt IN OUT --password PW [--scheme S]\n"
    "                         copy an .accdb protected by the password; S is agile (AES-256,\n"
    "                         the default), agile-sha1, standard (AES-128) or rc4\n"
    "  decrypt IN OUT --password PW\n"
    "                         copy an encrypted .accdb without its password\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "tabulary-cli: %s\n", message.c_str());
    return 1;
}

// What opening did about a change a crash interrupted, on standard error:
// the output itself stays what the command prints.
void reportOpenNotice(const Database& db) {
    if (!db.openNotice().empty())
        std::fprintf(stderr, "tabulary-cli: %s: %s\n", db.path().c_str(), db.openNotice().c_str());
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

bool isLink(const CatalogObject& o) {
    return o.kind == ObjectKind::LinkedTable || o.kind == ObjectKind::LinkedOdbc;
}

// Links add where they point, the table there, and what that resolves to
// on this machine: "-> FILE", or why it does not.
int cmdTables(Database& db, const std::string& password) {
    Out out;
    LinkedDatabases links(password);
    for (const auto& o : db.catalog().objects) {
        if (o.kind == ObjectKind::Other || o.kind == ObjectKind::SystemTable) continue;
        out.buf() += o.name + "\t" + kindText(o);
        if (isLink(o)) {
            const LinkDescription d = describeLink(o);
            out.buf() += "\t" + d.kind + " " + d.target + "\t" + d.foreignName + "\t";
            auto t = links.open(db, o);
            out.buf() += t.ok() ? "-> " + t->path : "unresolved: " + t.error().message();
        }
        out.buf() += "\n";
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

int cmdSchema(Database& db, const std::string& password, const std::vector<std::string>& args) {
    Out out;
    if (!args.empty()) {
        // A linked table: the columns of the table it names, under the link's name.
        if (const CatalogObject* o = db.catalog().findTable(args[0]); o && isLink(*o)) {
            LinkedDatabases links(password);
            auto t = links.open(db, *o);
            if (!t.ok()) return fail(t.error().message());
            TableDef shown = *t->table;
            shown.name = o->name;
            printSchema(out, shown);
            out.buf() += "  LINKED TO " + t->path + " (" + t->table->name + ")\n";
            return out.flush() ? 0 : fail("write error");
        }
    }
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

// A table's rows as they are read from the file.
class CursorRows : public writers::TableRows {
public:
    CursorRows(Database& db, std::shared_ptr<const TableDef> table)
        : m_table(*table), m_cursor(db, std::move(table)) {}
    size_t columnCount() override { return m_table.columns.size(); }
    void appendCaption(size_t column, std::string& out) override {
        out += m_table.columns[column].name;
    }
    Result<bool> nextRow() override { return m_cursor.next(); }
    void appendCell(size_t column, std::string& out) override {
        appendValueText(out, m_cursor.values()[column]);
    }
    const std::vector<Value>& values() const { return m_cursor.values(); }

private:
    const TableDef& m_table;
    TableCursor m_cursor;
};

// A statement's rows as they come.
class StatementRows : public writers::TableRows {
public:
    explicit StatementRows(std::unique_ptr<ado::RowSource> source) : m_source(std::move(source)) {
        m_row.resize(m_source->fields().size());
    }
    size_t columnCount() override { return m_row.size(); }
    void appendCaption(size_t column, std::string& out) override {
        out += m_source->fields()[column].name;
    }
    Result<bool> nextRow() override { return m_source->next(m_row); }
    void appendCell(size_t column, std::string& out) override {
        ado::appendValueText(out, m_row[column]);
    }
    const std::vector<Value>& values() const { return m_row; }

private:
    std::unique_ptr<ado::RowSource> m_source;
    std::vector<jet::Value> m_row;
};

// The two plain forms the command line prints: CSV (quoted only where needed,
// CR LF) and tab-separated text with escapes (LF). The same bytes as the
// document writers make, without their cell-by-cell calls and with the
// quoting test only where it can matter: only text (and lists of it) can
// hold a comma, quote, tab, backslash or line break.
class PlainWriter {
public:
    PlainWriter(bool csv, writers::OutputStream& out) : m_csv(csv), m_out(out) {
        const char* special = csv ? ",\"\r\n" : "\t\r\n\\";
        for (const char* c = special; *c; ++c) m_special[static_cast<unsigned char>(*c)] = true;
    }

    void text(std::string_view t) {
        std::string& b = m_out.buffer();
        bool plain = true;
        for (char c : t)
            if (m_special[static_cast<unsigned char>(c)]) {
                plain = false;
                break;
            }
        if (plain)
            b.append(t);
        else if (m_csv)
            writers::appendMinimalCsv(b, t);
        else
            writers::appendEscapedTab(b, t);
    }
    void value(const Value& v) {
        switch (v.kind()) {
            case Value::Kind::Null:
                return;
            case Value::Kind::Text:
                text(v.bytes());
                return;
            case Value::Kind::List:
                m_scratch.clear();
                appendValueText(m_scratch, v);
                text(m_scratch);
                return;
            default:
                appendValueText(m_out.buffer(), v);
        }
    }
    void separator() { m_out.buffer().push_back(m_csv ? ',' : '\t'); }
    void endLine() {
        if (m_csv)
            m_out.buffer().append("\r\n", 2);
        else
            m_out.buffer().push_back('\n');
    }

    template <class Rows>
    Status run(Rows& rows) {
        const size_t columns = rows.columnCount();
        for (size_t c = 0; c < columns; ++c) {
            if (c > 0) separator();
            m_scratch.clear();
            rows.appendCaption(c, m_scratch);
            text(m_scratch);
        }
        endLine();
        while (true) {
            auto more = rows.nextRow();
            if (!more.ok()) return more.error();
            if (!*more) break;
            const std::vector<Value>& row = rows.values();
            for (size_t c = 0; c < columns; ++c) {
                if (c > 0) separator();
                value(row[c]);
            }
            endLine();
            if (auto st = m_out.maybeFlush(); !st.ok()) return st;
        }
        return m_out.flush();
    }

private:
    bool m_csv;
    writers::OutputStream& m_out;
    bool m_special[256] = {};
    std::string m_scratch;
};

template <class Rows>
int writePlainToStdout(bool csv, Rows& rows, const std::string& what) {
    writers::OutputStream out(1, "standard output");
    out.buffer().reserve((size_t{1} << 20) + (size_t{1} << 16));
    PlainWriter writer(csv, out);
    if (auto st = writer.run(rows); !st.ok()) return fail(what + ": " + st.error().message());
    return 0;
}

int writeToStdout(writers::DocumentKind kind, writers::TableRows& rows, const std::string& what) {
    writers::OutputStream out(1, "standard output");
    if (auto st = writers::writeDocument(kind, rows, out); !st.ok())
        return fail(what + ": " + st.error().message());
    return 0;
}

int cmdExport(Database& db, const std::vector<std::string>& args) {
    if (args.empty()) return fail("export needs a table name");
    auto t = db.table(args[0]);
    if (!t.ok()) return fail(t.error().message());
    CursorRows rows(db, *t);
    return writePlainToStdout(true, rows, db.path());
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

struct Format {
    const char* name;
    writers::DocumentKind kind;
    bool file;  // written only to a file
};
// xlsx and pdf are handled apart; their kinds here are unused.
const Format kFormats[] = {{"txt", writers::DocumentKind::GridText, false},
                           {"csv", writers::DocumentKind::GridCsv, false},
                           {"xml", writers::DocumentKind::GridXml, false},
                           {"xlsx", writers::DocumentKind::GridText, true},
                           {"pdf", writers::DocumentKind::GridText, true}};

int writeFormatted(const Format& format, writers::TableRows& rows, const std::string& output) {
    const std::string name = format.name;
    Status st;
    if (name == "xlsx") {
        st = writers::writeXlsxDocument(rows, output);
    } else if (name == "pdf") {
        st = cli::printRowsToPdf(rows, output);
    } else if (output.empty()) {
        return writeToStdout(format.kind, rows, "query");
    } else {
        st = writers::writeDocumentFile(format.kind, rows, output);
    }
    return st.ok() ? 0 : fail(st.error().message());
}

int cmdQuery(const std::string& file, const std::string& password,
             const std::vector<std::string>& args) {
    std::string sql, output;
    bool csv = false;
    const Format* format = nullptr;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--csv") {
            csv = true;
        } else if (a == "--format" || a == "--output") {
            if (i + 1 >= args.size()) return fail(a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--output") {
                output = v;
                continue;
            }
            for (const Format& f : kFormats)
                if (v == f.name) format = &f;
            if (!format) return fail("unknown format " + v + " (txt, csv, xml, xlsx or pdf)");
        } else if (sql.empty()) {
            sql = a;
        } else {
            return fail("query takes one statement; quote it as one argument");
        }
    }
    if (sql.empty()) return fail("query needs a statement");
    if (csv && format) return fail("--csv and --format exclude each other");
    if (!output.empty() && !format) return fail("--output needs --format");
    if (format && format->file && output.empty())
        return fail(std::string("--format ") + format->name + " needs --output PATH");
    ado::Connection conn;
    if (auto st = conn.openFile(file, password); !st.ok()) return fail(st.error().message());
    reportOpenNotice(*conn.database());
    auto parsed = accsql::parse(sql);
    if (parsed.ok() && !accsql::returnsRows(*parsed.statement) &&
        parsed.statement->kind != accsql::StatementKind::Execute) {
        auto n = ado::execute(conn, sql);
        if (!n.ok()) return fail(n.error().message());
        std::printf("%d record(s) affected.\n", *n);
        return 0;
    }
    auto source = ado::openForwardOnly(conn, sql);
    if (!source.ok()) return fail(source.error().message());
    StatementRows rows(std::move(*source));
    if (format) return writeFormatted(*format, rows, output);
    return writePlainToStdout(csv, rows, "query");
}

int cmdExplain(const std::string& file, const std::string& password,
               const std::vector<std::string>& args) {
    if (args.size() != 1) return fail("explain needs one statement");
    ado::Connection conn;
    if (auto st = conn.openFile(file, password); !st.ok()) return fail(st.error().message());
    reportOpenNotice(*conn.database());
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
    if (cmd == "encrypt" || cmd == "decrypt") {
        std::optional<EncryptionScheme> scheme = EncryptionScheme::Agile;
        std::vector<std::string> files;
        for (size_t i = 1; i < args.size(); ++i) {
            if (cmd == "encrypt" && (args[i] == "--scheme" || args[i].rfind("--scheme=", 0) == 0)) {
                std::string name;
                if (args[i] == "--scheme") {
                    if (i + 1 >= args.size()) return fail("--scheme needs a value");
                    name = args[++i];
                } else {
                    name = args[i].substr(9);
                }
                scheme = schemeByName(name);
                if (!scheme)
                    return fail("unknown scheme \"" + name +
                                "\" (agile, agile-sha1, standard or rc4)");
            } else {
                files.push_back(args[i]);
            }
        }
        if (files.size() != 2) return fail(cmd + " needs an input and an output file");
        if (options.password.empty()) return fail(cmd + " needs --password");
        Status st = cmd == "encrypt"
                        ? encryptDatabase(files[0], files[1], options.password, *scheme)
                        : decryptDatabase(files[0], files[1], options.password);
        if (!st.ok()) return fail(st.error().message());
        return 0;
    }
    if (cmd == "create") {
        if (args.size() != 3) return fail("create needs an output file and a script");
        CreateOptions create;
        create.password = options.password;
        const std::string& out = args[1];
        if (out.size() > 6 && out.compare(out.size() - 6, 6, ".accdb") == 0)
            create.format = FileFormat::Ace12;
        // Reproducible output: the catalogue's dates from SOURCE_DATE_EPOCH when set.
        if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch)
            create.objectDate = std::strtod(epoch, nullptr) / 86400.0 + 25569.0;
        auto stats = script::createDatabaseFromScript(args[1], args[2], create);
        if (!stats.ok()) return fail(stats.error().message());
        if (!stats->deferred.empty()) {
            ado::Connection conn;
            if (auto st = conn.openFile(args[1], options.password); !st.ok())
                return fail(st.error().message());
            ado::QueryOptions run;
            if (create.objectDate != 0) run.now = [&] { return create.objectDate; };
            for (const std::string& sql : stats->deferred)
                if (auto n = ado::execute(conn, sql, run); !n.ok())
                    return fail(args[2] + ": " + n.error().message() + "\n  in: " + sql);
        }
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
    reportOpenNotice(**db);
    std::vector<std::string> rest(args.begin() + 2, args.end());
    if (cmd == "tables") return cmdTables(**db, options.password);
    if (cmd == "schema") return cmdSchema(**db, options.password, rest);
    if (cmd == "export") return cmdExport(**db, rest);
    if (cmd == "queries") return cmdQueries(**db);
    return cmdCheck(**db, rest);
}
