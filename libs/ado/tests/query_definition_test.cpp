// Saved-query rows built from SQL: each statement saved and read back by the
// catalogue's reader, the statements a saved query cannot keep, and the rows
// Access itself wrote for the same SQL in the corpus files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "../src/query_definition.h"
#include "tabulary/accsql/parser.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/saved_query.h"

using namespace tab;
using namespace tab::ado;
using jet::QueryKind;
using jet::QueryRow;
namespace fs = std::filesystem;

namespace {

// Runs of blanks as one space; no blanks or ';' at the end.
std::string normalised(std::string_view s) {
    std::string out;
    bool blank = false;
    for (char c : s) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    while (!out.empty() && (out.back() == ';' || out.back() == ' ')) out.pop_back();
    return out;
}

// The kind the catalogue takes from MSysObjects Flags.
QueryKind kindOfFlags(uint32_t flags) {
    static const QueryKind kinds[] = {
        QueryKind::Select,         QueryKind::Crosstab,    QueryKind::Delete,
        QueryKind::Update,         QueryKind::Append,      QueryKind::MakeTable,
        QueryKind::DataDefinition, QueryKind::PassThrough, QueryKind::Union};
    const uint32_t i = (flags >> 4) & 0x0F;
    return i < std::size(kinds) ? kinds[i] : QueryKind::Unknown;
}

struct Saved {
    QueryDefinition def;
    std::string sql;  // as the reader rebuilds it
};

// Parse, build the rows, and read them back as the catalogue would.
Result<Saved> saveAndRead(const std::string& sql) {
    auto parsed = accsql::parse(sql);
    if (!parsed.ok()) return Error(Errc::InvalidArgument, parsed.diagnostics.front().render());
    auto def = buildQueryDefinition(*parsed.statement, sql);
    if (!def.ok()) return def.error();
    jet::CatalogObject q;
    q.name = "Q";
    q.type = 5;
    q.kind = jet::ObjectKind::Query;
    q.flags = def->objectFlags;
    q.queryKind = kindOfFlags(def->objectFlags);
    q.queryRows = def->rows;
    auto read = jet::rebuildSavedQuery(q);
    if (!read.ok()) return read.error().withContext("reading back");
    if (read->kind != def->kind)
        return Error(Errc::Internal,
                     std::string("read back as a ") + jet::queryKindName(read->kind));
    return Saved{std::move(*def), read->sql};
}

std::string orderOf(uint32_t n) {
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
            static_cast<char>(n)};
}

// Framed by attributes 0 and 255, grouped by attribute, Orders 1, 2, ... in each.
void expectWellFormed(const std::vector<QueryRow>& rows) {
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows.front().attribute, 0);
    EXPECT_EQ(rows.back().attribute, 255);
    uint32_t n = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) {
            EXPECT_LE(rows[i - 1].attribute, rows[i].attribute);
        }
        n = (i > 0 && rows[i - 1].attribute == rows[i].attribute) ? n + 1 : 1;
        EXPECT_EQ(rows[i].order, orderOf(n)) << "attribute " << int(rows[i].attribute);
    }
}

const QueryKind S = QueryKind::Select, U = QueryKind::Union, X = QueryKind::Crosstab,
                A = QueryKind::Append, Up = QueryKind::Update, D = QueryKind::Delete,
                M = QueryKind::MakeTable, DDL = QueryKind::DataDefinition;

struct RoundTrip {
    QueryKind kind;
    const char* sql;
    const char* expected;  // the statement read back; nullptr: sql itself
    bool typeRow = true;   // an attribute-1 row is written
};

const RoundTrip kRoundTrips[] = {
    // Select lists, options and clauses.
    {S,
     "SELECT Orders.OrderID, Orders.Freight*2 AS [Double Freight] FROM Orders WHERE "
     "(((Orders.Freight)>10)) ORDER BY Orders.OrderDate DESC, Orders.OrderID",
     nullptr},
    {S, "SELECT DISTINCT c.Country FROM Customers AS c", nullptr},
    {S,
     "SELECT DISTINCTROW TOP 10 PERCENT p.ProductName, * FROM Products AS p ORDER BY "
     "p.UnitPrice DESC",
     nullptr},
    {S, "SELECT DISTINCT TOP 5 UnitPrice FROM Products", nullptr},
    {S, "SELECT ALL a FROM t", "SELECT a FROM t"},
    {S, "SELECT * FROM [Order Details]", nullptr},
    {S, "SELECT t.*, u.x FROM t, u WHERE t.id = u.id", nullptr},
    {S,
     "SELECT [Order Details].ProductID, Sum([Order Details].Quantity) AS Total FROM [Order "
     "Details] GROUP BY [Order Details].ProductID HAVING Sum([Order Details].Quantity) > 100",
     nullptr},
    {S, "SELECT a AS [Total], b AS `x y` FROM t", "SELECT a AS Total, b AS [x y] FROM t"},
    {S, "SELECT 1 + 1 AS two", nullptr},
    {S, "SELECT x FROM t ORDER BY x ASC, y", "SELECT x FROM t ORDER BY x, y"},
    {S, "SELECT a FROM t WITH OWNERACCESS OPTION", nullptr},
    {S, "SELECT a,\r\n  b\r\nFROM t\r\nWHERE a = 'two  spaces'", nullptr},
    {S, "SELECT a FROM t WHERE a IN (SELECT b FROM u WHERE u.c = t.c) AND d > #2020-01-01#",
     nullptr},
    {S, "SELECT a FROM t WHERE a Like 'x''s*' OR a = \"q\"", nullptr},
    {S, "SELECT Größe AS Maß FROM Tabelle_ä", nullptr},
    // FROM: aliases, joins as written, nested either side.
    {S, "SELECT c.x FROM Customers c", "SELECT c.x FROM Customers AS c"},
    {S,
     "SELECT c.CompanyName, o.OrderID FROM Customers AS c LEFT JOIN Orders AS o ON "
     "c.CustomerID = o.CustomerID",
     nullptr},
    {S, "SELECT * FROM a LEFT OUTER JOIN b ON a.k = b.k",
     "SELECT * FROM a LEFT JOIN b ON a.k = b.k"},
    {S,
     "SELECT Orders.OrderID FROM (Customers INNER JOIN Orders ON Customers.CustomerID = "
     "Orders.CustomerID) RIGHT JOIN Employees ON Orders.EmployeeID = Employees.EmployeeID",
     nullptr},
    {S, "SELECT A.x FROM A LEFT JOIN (B INNER JOIN C ON B.id = C.id) ON A.id = B.id", nullptr},
    {S,
     "SELECT * FROM ((A INNER JOIN B ON A.k = B.k) INNER JOIN C ON B.k = C.k) LEFT JOIN D ON "
     "C.k = D.k",
     nullptr},
    {S,
     "SELECT * FROM (A INNER JOIN B ON A.k = B.k) INNER JOIN (C LEFT JOIN D ON C.k = D.k) ON B.k = "
     "C.k",
     nullptr},
    {S, "SELECT * FROM T1 INNER JOIN T2 ON (T1.a = T2.a) AND (T1.b = T2.b) AND (T1.c > 0)",
     nullptr},
    {S, "SELECT * FROM T1 INNER JOIN T2 ON T1.a = T2.a AND T1.b = T2.b", nullptr},
    {S, "SELECT * FROM T1 INNER JOIN T2 ON ((T1.a = T2.a) AND (T1.b = T2.b))", nullptr},
    {S, "SELECT * FROM T1 INNER JOIN T2 ON (T1.a = T2.a) and (T1.b = T2.b)", nullptr},
    {S, "SELECT * FROM T3, T1 INNER JOIN T2 ON T1.a = T2.a", nullptr},
    {S, "SELECT * FROM a INNER JOIN b ON a.k = b.k, c INNER JOIN d ON c.k = d.k", nullptr},
    {S, "SELECT * FROM x AS [first one] INNER JOIN x AS second ON [first one].k = second.k",
     nullptr},
    {S, "SELECT d.n FROM (SELECT Count(*) AS n FROM t) AS d", nullptr},
    {S, "SELECT * FROM t INNER JOIN (SELECT id FROM u) AS d ON t.id = d.id", nullptr},
    {S, "SELECT d.id FROM [SELECT id FROM u]. AS d", "SELECT d.id FROM (SELECT id FROM u) AS d"},
    {S, "SELECT * FROM (t)", "SELECT * FROM t"},
    // Parameters: the reader writes Access's own type names.
    {S,
     "PARAMETERS [Start Date] DateTime, [Low price] Currency, Who Text (255); SELECT o.ID FROM "
     "Orders AS o WHERE o.OrderDate >= [Start Date] AND o.Price > [Low price] AND o.Clerk = Who",
     nullptr},
    {S,
     "PARAMETERS a INTEGER, b YESNO, c MEMO, d TEXT, e FLOAT, f SMALLINT, g BYTE, h REAL, i "
     "GUID, j DECIMAL, k OLEOBJECT, l VARBINARY, m MONEY, n DATE, o NATIONAL CHARACTER VARYING "
     "(20); SELECT 1",
     "PARAMETERS a Long, b Bit, c LongText, d Text, e IEEEDouble, f Short, g Byte, h IEEESingle, "
     "i Guid, j Decimal, k LongBinary, l Binary, m Currency, n DateTime, o Text (20); SELECT 1"},
    // Views and procedures.
    {S,
     "CREATE VIEW vwUK (Name, Town) AS SELECT CompanyName, City FROM Customers WHERE Country = "
     "'UK'",
     "SELECT CompanyName AS Name, City AS Town FROM Customers WHERE Country = 'UK'", false},
    {S, "CREATE VIEW v (x) AS SELECT a AS y FROM t", "SELECT a AS x FROM t", false},
    {S, "CREATE VIEW v AS SELECT DISTINCT a FROM t ORDER BY a",
     "SELECT DISTINCT a FROM t ORDER BY a", false},
    {U, "CREATE VIEW v AS SELECT a FROM t UNION SELECT b FROM u",
     "SELECT a FROM t UNION SELECT b FROM u"},
    {S,
     "CREATE PROCEDURE spByCountry ([pCountry] TEXT(50)) AS SELECT * FROM Customers WHERE "
     "Country = [pCountry]",
     "PARAMETERS pCountry Text (50); SELECT * FROM Customers WHERE Country = [pCountry]", false},
    {S,
     "CREATE PROCEDURE p [d1] DateTime, [d 2] DateTime AS SELECT a FROM t WHERE d BETWEEN "
     "[d1] AND [d 2]",
     "PARAMETERS d1 DateTime, [d 2] DateTime; SELECT a FROM t WHERE d BETWEEN [d1] AND [d 2]",
     false},
    {D, "CREATE PROCEDURE spPurge AS DELETE FROM Log WHERE Stamp < Date() - 30",
     "DELETE FROM Log WHERE Stamp < Date() - 30"},
    {Up, "CREATE PROCEDURE p (x LONG) AS UPDATE t SET t.a = [x] WHERE t.b > 0",
     "PARAMETERS x Long; UPDATE t SET t.a = [x] WHERE t.b > 0"},
    {A, "CREATE PROCEDURE p AS INSERT INTO Log (Event, At) VALUES ('start', Now())",
     "INSERT INTO Log (Event, At) VALUES ('start', Now())"},
    {M, "CREATE PROCEDURE p AS SELECT a INTO Backup FROM t", "SELECT a INTO Backup FROM t"},
    {DDL, "CREATE PROCEDURE p AS CREATE TABLE T (a TEXT(10))", "CREATE TABLE T (a TEXT(10))"},
    // Unions: the last operator joins the rest to the last part.
    {U, "SELECT City FROM A UNION SELECT City FROM B ORDER BY City", nullptr},
    {U, "SELECT 1 UNION ALL SELECT 2 UNION SELECT 3", nullptr},
    {U, "SELECT 1 UNION SELECT 2 UNION ALL SELECT 3", nullptr},
    {U, "(SELECT a FROM t) UNION ALL (SELECT b FROM u ORDER BY b)", nullptr},
    {U, "PARAMETERS p Long; SELECT a FROM t WHERE a > p UNION SELECT b FROM u", nullptr},
    {U, "SELECT a FROM t UNION SELECT b FROM u WITH OWNERACCESS OPTION", nullptr},
    // Crosstabs.
    {X,
     "TRANSFORM Sum(Orders.Freight) AS SumOfFreight SELECT Orders.ShipCountry FROM Orders GROUP "
     "BY Orders.ShipCountry PIVOT Year(Orders.OrderDate)",
     nullptr},
    {X,
     "TRANSFORM Count(*) SELECT DISTINCT t.a, Avg(t.b) AS AvgB FROM t INNER JOIN u ON t.id = "
     "u.id WHERE t.c > 0 GROUP BY t.a, t.e ORDER BY t.a DESC PIVOT u.kind",
     nullptr},
    // Action queries.
    {A,
     "INSERT INTO Archive (OrderID, [Order Date]) SELECT Orders.OrderID, Orders.OrderDate FROM "
     "Orders WHERE Orders.OrderDate < #1/1/2000#",
     nullptr},
    {A, "INSERT INTO Archive SELECT * FROM Orders", nullptr},
    {A, "INSERT INTO Log VALUES (1, 'x', Null)", nullptr},
    {A,
     "INSERT INTO Totals (k, n) SELECT DISTINCT TOP 3 t.k, Count(*) AS c FROM t INNER JOIN u ON "
     "t.k = u.k GROUP BY t.k ORDER BY Count(*) DESC",
     nullptr},
    {Up,
     "UPDATE Suppliers INNER JOIN Products ON Suppliers.SupplierID = Products.SupplierID SET "
     "Products.UnitPrice = [Products].[UnitPrice]*1.1, Products.[Reorder Level] = 0 WHERE "
     "Suppliers.Country = 'UK'",
     nullptr},
    {Up, "UPDATE DISTINCTROW t AS x SET x.a = 1, b = x.a + 1", nullptr},
    {D, "DELETE * FROM t WHERE a = 1", nullptr},
    {D, "DELETE FROM t", nullptr},
    {D,
     "DELETE DISTINCTROW o.* FROM Orders AS o INNER JOIN Customers AS c ON o.cid = c.id WHERE "
     "c.gone = True",
     nullptr},
    {M, "SELECT Orders.* INTO [Backup Orders] FROM Orders", nullptr},
    {M, "SELECT a, Sum(b) AS s INTO Totals FROM t GROUP BY a HAVING Sum(b) > 0 ORDER BY a",
     nullptr},
    {DDL, "ALTER TABLE t ADD COLUMN c TEXT(5)", nullptr},
};

TEST(QueryDefinition, ReadsBackAsWritten) {
    for (const RoundTrip& c : kRoundTrips) {
        SCOPED_TRACE(c.sql);
        auto saved = saveAndRead(c.sql);
        ASSERT_TRUE(saved.ok()) << saved.error().message();
        EXPECT_EQ(saved->def.kind, c.kind);
        EXPECT_EQ(normalised(saved->sql), normalised(c.expected ? c.expected : c.sql));
        expectWellFormed(saved->def.rows);
        bool typeRow = std::any_of(saved->def.rows.begin(), saved->def.rows.end(),
                                   [](const QueryRow& r) { return r.attribute == 1; });
        EXPECT_EQ(typeRow, c.typeRow);
        if (c.kind == DDL) continue;
        // What was read back saves to the same statement again.
        auto again = saveAndRead(saved->sql);
        ASSERT_TRUE(again.ok()) << saved->sql << ": " << again.error().message();
        EXPECT_EQ(again->sql, saved->sql);
    }
}

struct Refusal {
    const char* sql;
    Errc code;
    const char* message;         // part of the error's text
    const char* text = nullptr;  // the SQL handed over; nullptr: sql
};

const Refusal kRefusals[] = {
    {"SELECT *, a FROM t", Errc::Unsupported, "move it to the end of the select list"},
    {"SELECT *, * FROM t", Errc::Unsupported, "move it to the end"},
    {"SELECT * FROM a INNER JOIN b ON a.k = b.k, c", Errc::Unsupported,
     "move \"c\" before the join"},
    {"SELECT * FROM t, t", Errc::InvalidArgument, "two inputs of the query are called \"t\""},
    {"SELECT * FROM t AS x, u AS X", Errc::InvalidArgument, "called \"X\""},
    {"SELECT a FROM [Order]", Errc::Unsupported,
     "table \"Order\" would read back without brackets"},
    {"SELECT a AS [Select] FROM t", Errc::Unsupported, "column alias \"Select\" would read back"},
    {"SELECT a FROM t AS [2020]", Errc::Unsupported, "alias \"2020\" would read back"},
    {"SELECT a FROM [a.b]", Errc::Unsupported, "table \"a.b\" has a period"},
    {"SELECT a INTO [x.y] FROM t", Errc::Unsupported, "target table \"x.y\" has a period"},
    {"SELECT a FROM t WHERE a = ?", Errc::Unsupported, "? parameter markers"},
    {"TRANSFORM Count(*) SELECT a FROM t GROUP BY a PIVOT b IN ('x', 'y')", Errc::Unsupported,
     "leave out the IN list"},
    {"TRANSFORM Count(*) SELECT * FROM t GROUP BY a PIVOT b", Errc::Unsupported,
     "row headings cannot be *"},
    {"TRANSFORM Count(*) SELECT a INTO n FROM t GROUP BY a PIVOT b", Errc::Unsupported,
     "cannot make a table"},
    {"CREATE VIEW v (x, y) AS SELECT a FROM t", Errc::InvalidArgument,
     "the view's column list names 2 columns, its SELECT has 1"},
    {"CREATE VIEW v (x) AS SELECT * FROM t", Errc::Unsupported,
     "a view's column list cannot name the columns of *"},
    {"CREATE VIEW v (x) AS SELECT t.* FROM t", Errc::Unsupported, "columns of table.*"},
    {"CREATE VIEW v (x) AS SELECT a FROM t UNION SELECT b FROM u", Errc::Unsupported,
     "cannot take a view's column list"},
    {"PARAMETERS x Long; CREATE VIEW v AS SELECT a FROM t", Errc::InvalidArgument,
     "a view cannot have parameters"},
    {"INSERT INTO t (a, b) SELECT x FROM u", Errc::InvalidArgument,
     "the INSERT column list names 2 columns, its SELECT has 1"},
    {"INSERT INTO t (a) SELECT * FROM u", Errc::Unsupported, "an INSERT column list cannot name"},
    {"INSERT INTO t (a, b) VALUES (1)", Errc::InvalidArgument, "names 2 columns and 1 values"},
    {"INSERT INTO t SELECT a FROM u UNION SELECT b FROM v", Errc::Unsupported,
     "an append query cannot be a union"},
    {"INSERT INTO t TABLE u", Errc::Unsupported, "write SELECT * FROM u"},
    {"INSERT INTO [a.b] VALUES (1)", Errc::Unsupported, "target table \"a.b\" has a period"},
    {"TABLE t", Errc::Unsupported, "write SELECT * FROM t"},
    {"SELECT a INTO x FROM t UNION SELECT b FROM u", Errc::Unsupported,
     "SELECT ... INTO cannot be combined with UNION"},
    {"PARAMETERS x COUNTER; SELECT 1", Errc::Unsupported,
     "parameter \"x\": type COUNTER cannot be declared"},
    {"PARAMETERS x DECIMAL(10, 2); SELECT 1", Errc::Unsupported,
     "no size or precision for DECIMAL"},
    {"PARAMETERS x TEXT(300); SELECT 1", Errc::InvalidArgument, "a number from 1 to 255"},
    {"PARAMETERS x Long, X Short; SELECT 1", Errc::InvalidArgument, "\"X\" is declared twice"},
    {"PARAMETERS [Group] Long; SELECT 1", Errc::Unsupported, "parameter \"Group\" would read back"},
    {"CREATE PROCEDURE p (x LONG) AS CREATE TABLE t (a LONG)", Errc::InvalidArgument,
     "a data-definition query cannot have parameters"},
    {"SELECT * FROM t INNER JOIN (SELECT b FROM u) ON t.a = 1", Errc::Unsupported,
     "a derived table in a join of a saved query needs an alias"},
    {"UPDATE t SET Forms!f!c = 1", Errc::Unsupported, "'!'"},
    {"EXECUTE q", Errc::InvalidArgument, "EXECUTE cannot be kept as a saved query"},
    {"BEGIN TRANSACTION", Errc::InvalidArgument, "TRANSACTION cannot be kept"},
    {"DROP VIEW v", Errc::InvalidArgument, "DROP VIEW cannot be kept"},
    {"SELECT a FROM t", Errc::InvalidArgument, "positions do not match its SQL text", "SELECT"},
};

TEST(QueryDefinition, RefusesWhatCannotBeKept) {
    for (const Refusal& c : kRefusals) {
        SCOPED_TRACE(c.sql);
        auto parsed = accsql::parse(c.sql);
        ASSERT_TRUE(parsed.ok()) << parsed.diagnostics.front().render();
        auto def = buildQueryDefinition(*parsed.statement, c.text ? c.text : c.sql);
        ASSERT_FALSE(def.ok());
        EXPECT_EQ(def.error().code(), c.code) << def.error().message();
        EXPECT_NE(def.error().message().find(c.message), std::string::npos)
            << def.error().message();
    }
}

// A name longer than Name1 and Name2 hold.
TEST(QueryDefinition, RefusesNamesLongerThanTheColumns) {
    for (size_t length : {255u, 256u}) {
        std::string sql = "SELECT 1 AS [" + std::string(length, 'n') + "]";
        auto parsed = accsql::parse(sql);
        ASSERT_TRUE(parsed.ok()) << parsed.diagnostics.front().render();
        auto def = buildQueryDefinition(*parsed.statement, sql);
        EXPECT_EQ(def.ok(), length <= 255) << length;
        if (!def.ok()) {
            EXPECT_NE(def.error().message().find("255 characters"), std::string::npos);
        }
    }
}

fs::path corpusRoot() {
    const char* env = std::getenv("TABULARY_CORPUS");
    return env && *env ? fs::path(env) : fs::path(TABULARY_CORPUS_DIR);
}

std::optional<std::string> cleaned(const std::optional<std::string>& s, bool unionPart) {
    if (!s || s->empty()) return std::nullopt;
    if (!unionPart) return s;
    // Union parts are kept as typed; Access's typing ends lines in CR LF.
    std::string out;
    for (char c : *s)
        if (c != '\r') out += c;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

// One line per row, for comparing and for readable differences.
std::vector<std::string> comparable(const std::vector<QueryRow>& rows, bool tablesAnyOrder) {
    auto field = [](const std::optional<std::string>& v) { return v ? "'" + *v + "'" : "-"; };
    std::vector<std::string> out;
    for (const QueryRow& r : rows) {
        const bool part = r.attribute == 5 && r.name2 && r.name2->rfind("X7YZ_____", 0) == 0;
        std::string order;
        for (unsigned char b : r.order) order += std::to_string(b) + ".";
        if (tablesAnyOrder && r.attribute == 5) order = "any";
        out.push_back(std::to_string(r.attribute) + " " + order + " " +
                      field(cleaned(r.name1, false)) + " " + field(cleaned(r.name2, false)) + " " +
                      field(cleaned(r.expression, part)) + " flag " + std::to_string(r.flag) +
                      " extra " + (r.lvExtra ? std::to_string(*r.lvExtra) : "-"));
    }
    if (tablesAnyOrder) std::sort(out.begin(), out.end());
    return out;
}

// The SQL the reader shows for Access's rows, saved again, gives Access's rows.
TEST(QueryDefinition, SameRowsAsAccess) {
    struct Case {
        const char* file;
        const char* query;
        const char* prefix;   // "CREATE VIEW ... AS " for views made that way
        bool tablesAnyOrder;  // Access listed the tables in the order they were added
    };
    std::vector<Case> cases = {
        {"ucanaccess/accessLike.mdb", "q_like2", "CREATE VIEW q_like2 AS ", false},
        {"ucanaccess/reservedWordLeave.mdb", "Without Leave", "CREATE VIEW [Without Leave] AS ",
         false},
    };
    for (const char* file :
         {"jackcess/V1997/queryTestV1997.mdb", "jackcess/V2000/queryTestV2000.mdb",
          "jackcess/V2003/queryTestV2003.mdb", "jackcess/V2007/queryTestV2007.accdb",
          "jackcess/V2010/queryTestV2010.accdb"}) {
        cases.push_back({file, "SelectQuery", "", true});
        for (const char* q :
             {"AppendQuery", "MakeTableQuery", "CrosstabQuery", "UnionQuery", "UpdateQuery"})
            cases.push_back({file, q, "", false});
    }
    size_t checked = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.query);
        fs::path path = corpusRoot() / "files" / c.file;
        if (!fs::exists(path)) continue;
        auto db = jet::Database::open(path.string());
        ASSERT_TRUE(db.ok()) << db.error().message();
        const jet::CatalogObject* q = (*db)->catalog().find(c.query, jet::ObjectKind::Query);
        ASSERT_NE(q, nullptr);
        auto shown = jet::rebuildSavedQuery(*q);
        ASSERT_TRUE(shown.ok()) << shown.error().message();
        const std::string sql = c.prefix + shown->sql;
        auto parsed = accsql::parse(sql);
        ASSERT_TRUE(parsed.ok()) << sql << ": " << parsed.diagnostics.front().render();
        auto def = buildQueryDefinition(*parsed.statement, sql);
        ASSERT_TRUE(def.ok()) << def.error().message();
        EXPECT_EQ(def->objectFlags, q->flags);
        EXPECT_EQ(comparable(def->rows, c.tablesAnyOrder),
                  comparable(q->queryRows, c.tablesAnyOrder));
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "corpus not found under " << corpusRoot();
}

}  // namespace
