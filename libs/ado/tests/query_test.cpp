// Statements run through a connection: what the virtual tables decode, the
// recordset letting go of the file, refusals that leave the file alone, and
// the Access names and types of result columns.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "tabulary/ado/query.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/script/create_script.h"

using namespace tab;
using namespace tab::ado;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// 600 rows over several pages; k is indexed, grp is not.
std::string fixtureScript() {
    std::string s =
        "CREATE TABLE t (id LONG PRIMARY KEY, k LONG, grp TEXT(10), amount CURRENCY, "
        "day DATETIME);\n"
        "CREATE INDEX ix_k ON t (k);\n"
        "CREATE TABLE u (id LONG PRIMARY KEY, label TEXT(20));\n";
    for (int i = 1; i <= 600; ++i) {
        s += "INSERT INTO t VALUES (" + std::to_string(i) + ", " + std::to_string(i % 50) + ", '" +
             (i % 3 == 0   ? "Red"
              : i % 3 == 1 ? "green"
                           : "BLUE") +
             "', " + std::to_string(i) + ".25, #2024-01-01#);\n";
    }
    for (int i = 0; i < 50; ++i)
        s += "INSERT INTO u VALUES (" + std::to_string(i) + ", 'label " + std::to_string(i) +
             "');\n";
    return s;
}

const fs::path& fixture() {
    static const fs::path path = [] {
        fs::path p =
            fs::path(testing::TempDir()) / ("ado_query_" + std::to_string(::getpid()) + ".mdb");
        fs::remove(p);
        jet::CreateOptions options;
        options.durable = false;
        options.objectDate = 45000;
        auto writer = jet::DatabaseWriter::create(p.string(), options);
        EXPECT_TRUE(writer.ok());
        auto stats = script::runCreateScript(**writer, fixtureScript());
        EXPECT_TRUE(stats.ok()) << stats.error().message();
        EXPECT_TRUE((*writer)->finish().ok());
        return p;
    }();
    return path;
}

Connection open() {
    Connection c;
    Status st = c.open(buildConnectionString(fixture().string(), ""));
    EXPECT_TRUE(st.ok()) << st.error().message();
    return c;
}

struct Counts {
    uint64_t rows = 0, values = 0, indexScans = 0;
};

// Rows as text, and what table t decoded to produce them.
std::vector<std::string> run(const std::string& sql, bool indexes, Counts* counts = nullptr) {
    Connection c = open();
    QueryOptions o;
    o.useIndexes = indexes;
    o.now = [] { return 45000.5; };
    o.onFinished = [counts](const sqlbridge::JetTables& t) {
        if (!counts) return;
        auto s = t.stats("t");
        *counts = {s.rowsRead, s.valuesDecoded, s.indexScans};
    };
    auto rs = openRecordset(c, sql, o);
    EXPECT_TRUE(rs.ok()) << sql << ": " << rs.error().message();
    if (!rs.ok()) return {};
    Status filled = rs->fill();
    EXPECT_TRUE(filled.ok()) << sql << ": " << filled.error().message();
    std::vector<std::string> out;
    if (!filled.ok()) return out;
    for (size_t r = 0; r < rs->rowCount(); ++r) {
        std::string line;
        for (size_t f = 0; f < rs->fields().size(); ++f)
            line += (line.empty() ? "" : "|") + jet::valueToText(rs->cell(r, f));
        out.push_back(line);
    }
    return out;
}

}  // namespace

TEST(Query, IndexedEqualityDecodesOnlyTheMatchingRows) {
    Counts c;
    auto rows = run("SELECT id, grp FROM t WHERE k = 7", true, &c);
    ASSERT_EQ(rows.size(), 12u);  // 7, 57, ..., 557
    EXPECT_EQ(rows[0], "7|green");
    EXPECT_EQ(c.rows, 12u);
    EXPECT_EQ(c.indexScans, 1u);
    // Two columns asked for (plus the key the filter reads), never the others.
    EXPECT_LE(c.values, 12u * 3);

    Counts pk;
    ASSERT_EQ(run("SELECT grp FROM t WHERE id = 599", true, &pk).size(), 1u);
    EXPECT_EQ(pk.rows, 1u);

    Counts scan;
    ASSERT_EQ(run("SELECT id FROM t WHERE k = 7", false, &scan).size(), 12u);
    EXPECT_EQ(scan.rows, 600u);
}

TEST(Query, DerivedTableWithoutAlias) {
    // Access names such a table itself; grp holds Red, green and BLUE.
    EXPECT_EQ(run("SELECT Count(*) FROM (SELECT DISTINCT grp FROM t)", true),
              std::vector<std::string>{"3"});
    EXPECT_EQ(run("SELECT Max(n) FROM (SELECT k, Count(*) AS n FROM t GROUP BY k)", true),
              std::vector<std::string>{"12"});
}

TEST(Query, JoinOnAKeyLooksUpInsteadOfScanning) {
    Counts c;
    auto rows =
        run("SELECT u.label, t.id FROM u INNER JOIN t ON u.id = t.k WHERE u.id = 3", true, &c);
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(c.rows, 12u);
}

TEST(Query, FieldListingDecodesNoRow) {
    Connection c = open();
    Counts counts{99, 99, 99};
    QueryOptions o;
    o.onFinished = [&counts](const sqlbridge::JetTables& t) {
        auto s = t.stats("t");
        counts = {s.rowsRead, s.valuesDecoded, s.indexScans};
    };
    {
        auto rs = openRecordset(c, "SELECT * FROM `t`", o);
        ASSERT_TRUE(rs.ok()) << rs.error().message();
        std::vector<std::string> names;
        for (const auto& f : rs->fields()) names.push_back(f.name);
        EXPECT_EQ(names, (std::vector<std::string>{"id", "k", "grp", "amount", "day"}));
    }
    EXPECT_EQ(counts.rows, 0u);
    EXPECT_EQ(counts.values, 0u);
}

TEST(Query, SameRowsInTheSameOrderWithIndexesOff) {
    const char* queries[] = {
        "SELECT id, k FROM t WHERE k = 7 ORDER BY id DESC",
        "SELECT id FROM t WHERE k BETWEEN 10 AND 12 AND id < 200 ORDER BY k, id",
        "SELECT id FROM t WHERE id > 590 ORDER BY id",
        "SELECT id FROM t WHERE id >= 5 AND id < 9 ORDER BY id",
        ("SELECT u.label, Count(*) AS n FROM u LEFT JOIN t ON u.id = t.k GROUP BY u.label "
         "ORDER BY u.label"),
        "SELECT grp, Sum(amount) FROM t WHERE k IN (1, 2, 3) GROUP BY grp ORDER BY grp",
        "SELECT TOP 3 id FROM t WHERE k = 49 ORDER BY id DESC",
    };
    for (const char* q : queries) {
        auto on = run(q, true), off = run(q, false);
        EXPECT_FALSE(on.empty()) << q;
        EXPECT_EQ(on, off) << q;
    }
}

TEST(Query, RecordsetLetsGoOfTheFileOnceFilled) {
    std::weak_ptr<jet::Database> db;
    Recordset rs = [&] {
        Connection c = open();
        db = c.database();
        auto r = openRecordset(c, "SELECT id FROM t WHERE id < 4");
        EXPECT_TRUE(r.ok());
        return std::move(*r);
    }();
    EXPECT_FALSE(db.expired());  // not read yet: the rows still need the file
    auto n = rs.recordCount();
    ASSERT_TRUE(n.ok());
    EXPECT_EQ(*n, 3);
    EXPECT_TRUE(db.expired());
}

TEST(Query, ExecuteOfRowsReportsMinusOne) {
    Connection c = open();
    auto n = execute(c, " SELECT id FROM t");
    ASSERT_TRUE(n.ok()) << n.error().message();
    EXPECT_EQ(*n, -1);
}

// Statements that change the file, on a copy: Execute gives the records
// affected; a recordset opened on one runs it too and has no fields; the
// fixture itself never changes.
TEST(Query, StatementsThatWriteRunOnACopy) {
    const std::string before = readFile(fixture());
    const fs::path copy =
        fs::path(testing::TempDir()) / ("ado_query_copy_" + std::to_string(::getpid()) + ".mdb");
    fs::copy_file(fixture(), copy, fs::copy_options::overwrite_existing);
    const struct {
        const char* sql;
        int32_t affected;
        const char* check;  // a count that must follow
        int64_t count;
    } cases[] = {
        {"DELETE FROM t WHERE k = 0", 12, "SELECT Count(*) FROM t", 588},
        {"UPDATE t SET k = 1 WHERE k = 2", 12, "SELECT Count(*) FROM t WHERE k = 1", 24},
        {"INSERT INTO u (id, label) VALUES (100, 'x')", 1, "SELECT Count(*) FROM u", 51},
        {"SELECT * INTO copy FROM t WHERE grp = 'Red'", 196, "SELECT Count(*) FROM copy", 196},
        {"CREATE TABLE z (a LONG)", 0, "SELECT Count(*) FROM z", 0},
        {"DROP TABLE copy", 0, "SELECT Count(*) FROM u", 51},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        Connection conn;
        ASSERT_TRUE(conn.openFile(copy.string(), "").ok());
        auto n = execute(conn, c.sql);
        ASSERT_TRUE(n.ok()) << n.error().message();
        EXPECT_EQ(*n, c.affected);
        auto rs = openRecordset(conn, c.check);
        ASSERT_TRUE(rs.ok()) << rs.error().message();
        auto v = rs->value(0);
        ASSERT_TRUE(v.ok());
        EXPECT_EQ(v->asInt(), c.count);
    }
    Connection conn;
    ASSERT_TRUE(conn.openFile(copy.string(), "").ok());
    auto rs = openRecordset(conn, "DELETE FROM u WHERE id >= 40");
    ASSERT_TRUE(rs.ok()) << rs.error().message();
    EXPECT_TRUE(rs->fields().empty());
    EXPECT_TRUE(*rs->eof());
    auto left = openRecordset(conn, "SELECT Count(*) FROM u");
    ASSERT_TRUE(left.ok());
    EXPECT_EQ(left->value(0)->asInt(), 40);
    // @@IDENTITY: the connection's last autonumber, 0 before any.
    ASSERT_TRUE(execute(conn, "CREATE TABLE seq (n COUNTER(41, 1) PRIMARY KEY, s TEXT(10))").ok());
    EXPECT_EQ(openRecordset(conn, "SELECT @@IDENTITY")->value(0)->asInt(), 0);
    ASSERT_TRUE(execute(conn, "INSERT INTO seq (s) VALUES ('a')").ok());
    ASSERT_TRUE(execute(conn, "INSERT INTO seq (s) SELECT label FROM u WHERE id < 2").ok());
    EXPECT_EQ(openRecordset(conn, " select  @@identity ;")->value(0)->asInt(), 43);
    fs::remove(copy);
    EXPECT_EQ(readFile(fixture()), before);
}

TEST(Query, ResultColumnsCarryAccessNamesAndTypes) {
    struct Case {
        const char* sql;
        std::vector<std::pair<std::string, jet::ColumnType>> columns;
    };
    using T = jet::ColumnType;
    const Case cases[] = {
        {"SELECT id, day + 1, amount * 2, Sum(amount) AS total FROM t GROUP BY id, day, amount",
         {{"id", T::Long},
          {"Expr1000", T::DateTime},
          {"Expr1001", T::Currency},
          {"total", T::Currency}}},
        {"SELECT Count(*), Avg(k), Max(grp), Year(day) FROM t GROUP BY Year(day)",
         {{"Expr1000", T::Long},
          {"Expr1001", T::Double},
          {"Expr1002", T::Text},
          {"Expr1003", T::Integer}}},
        {"SELECT ID, GRP FROM t WHERE id = 1", {{"id", T::Long}, {"grp", T::Text}}},
        {"SELECT t.id, u.id, label FROM t INNER JOIN u ON t.k = u.id WHERE t.id = 1",
         {{"t.id", T::Long}, {"u.id", T::Long}, {"label", T::Text}}},
        {"SELECT k > 3 AS big, grp & '!' AS shout FROM t WHERE id = 1",
         {{"big", T::Boolean}, {"shout", T::Text}}},
    };
    for (const Case& c : cases) {
        Connection conn = open();
        auto rs = openRecordset(conn, c.sql);
        ASSERT_TRUE(rs.ok()) << c.sql << ": " << rs.error().message();
        std::vector<std::pair<std::string, jet::ColumnType>> got;
        for (const auto& f : rs->fields()) got.push_back({f.name, f.type});
        EXPECT_EQ(got, c.columns) << c.sql;
    }
}

TEST(Query, ErrorsSayWhatAndWhere) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT id FROM nowhere", "Cannot find the input table or query 'nowhere'"},
        {"SELECT id\nFROM t WHERE Frobnicate(id) = 1", "Undefined function 'Frobnicate'"},
        {"SELECT id\nFROM t WHERE Frobnicate(id) = 1", "line 2, column 14"},
        {"SELECT id FROM t, u", "could refer to more than one table"},
        {"SELECT grp, k FROM t GROUP BY grp", "'k'"},
        {"SELECT id FROM t WHERE Sum(k) > 1", "aggregate function in the WHERE clause"},
        {"SELECT [Start Date], id FROM t WHERE [End Date] > 1",
         "No value given for one or more required parameters: [Start Date], [End Date]."},
        {"SELECT id FROM t WHERE id = 1 / 0", "Division by zero"},
        {"SELECT id FROM t WHERE grp = 5", "Type mismatch"},
        {"SELECT (SELECT id FROM t) FROM u", "At most one record"},
    };
    for (const auto& [sql, expected] : cases) {
        Connection c = open();
        auto rs = openRecordset(c, sql);
        std::string message;
        if (!rs.ok()) {
            message = rs.error().message();
        } else {
            Status filled = rs->fill();
            ASSERT_FALSE(filled.ok()) << sql << " ran";
            message = filled.error().message();
        }
        EXPECT_NE(message.find(expected), std::string::npos) << sql << "\n  got: " << message;
    }
}
