// Jet tables through SQLite: value conversion, names, the planner's use of
// indexes (checked through the rows-read counters against an independent
// model of the generated data) and errors from damaged tables.
#include "tabulary/sqlbridge/jet_vtab.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tabulary/jet/writer.h"
#include "tabulary/script/create_script.h"

namespace tab::sqlbridge {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes the script to a fresh file and returns its path.
fs::path writeDatabase(const std::string& name, const std::string& script) {
    // ctest runs each test in its own process, in parallel: one file each.
    fs::path path = fs::path(testing::TempDir()) /
                    ("sqlbridge_" + name + "_" + std::to_string(::getpid()) + ".mdb");
    fs::remove(path);
    jet::CreateOptions options;
    options.durable = false;
    options.objectDate = 45000;
    auto writer = jet::DatabaseWriter::create(path.string(), options);
    EXPECT_TRUE(writer.ok()) << writer.error().message();
    if (!writer.ok()) return {};
    auto stats = script::runCreateScript(**writer, script);
    EXPECT_TRUE(stats.ok()) << stats.error().message();
    Status st = (*writer)->finish();
    EXPECT_TRUE(st.ok()) << st.error().message();
    return path;
}

struct Fixture {
    std::shared_ptr<jet::Database> db;
    std::optional<Connection> conn;
    std::shared_ptr<JetTables> tables;
};

Fixture attach(std::shared_ptr<jet::Database> db, const AttachOptions& options = {}) {
    Fixture f;
    f.db = std::move(db);
    auto conn = Connection::openMemory();
    EXPECT_TRUE(conn.ok());
    f.conn.emplace(std::move(*conn));
    auto tables = attachJetTables(*f.conn, f.db, options);
    EXPECT_TRUE(tables.ok()) << tables.error().message();
    if (tables.ok()) f.tables = *tables;
    return f;
}

Fixture openFixture(const fs::path& path, const AttachOptions& options = {}) {
    auto db = jet::Database::open(path.string());
    EXPECT_TRUE(db.ok()) << db.error().message();
    if (!db.ok()) return {};
    return attach(std::shared_ptr<jet::Database>(std::move(*db)), options);
}

// Every row as text cells: type tag and value, so storage classes count.
using Rows = std::vector<std::vector<std::string>>;

Result<Rows> query(Connection& conn, const std::string& sql) {
    TAB_ASSIGN_OR_RETURN(Statement st, Statement::prepare(conn, sql));
    Rows rows;
    for (;;) {
        TAB_ASSIGN_OR_RETURN(bool more, st.step());
        if (!more) break;
        std::vector<std::string> row;
        for (int i = 0; i < st.columnCount(); ++i) {
            switch (st.columnType(i)) {
                case SQLITE_NULL:
                    row.push_back("null");
                    break;
                case SQLITE_INTEGER:
                    row.push_back("i:" + std::to_string(st.columnInt64(i)));
                    break;
                case SQLITE_FLOAT: {
                    char buf[40];
                    std::snprintf(buf, sizeof buf, "r:%.17g", st.columnDouble(i));
                    row.push_back(buf);
                    break;
                }
                case SQLITE_TEXT:
                    row.push_back("t:" + st.columnText(i));
                    break;
                default:
                    row.push_back("b:" + st.columnBlob(i));
                    break;
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// ---- Value conversion -----------------------------------------------------

class TypesTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        path() = writeDatabase("types", readFile(fs::path(SQLBRIDGE_TEST_DATA) / "types.sql"));
    }
    static void TearDownTestSuite() { fs::remove(path()); }
    static fs::path& path() {
        static fs::path p;
        return p;
    }
};

TEST_F(TypesTest, EveryTypeConverts) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    // 2024-01-01 is serial 45292; Feb 29 is 59 days later. 1899-12-29 noon is
    // one day before the epoch with half a day: Access stores -1.5.
    const double stamp = 45351.0 + 86398.0 / 86400.0;
    struct Case {
        const char* column;
        int id;
        int sqliteType;
        std::function<void(const Statement&)> check;
    };
    auto isInt = [](int64_t v) {
        return [v](const Statement& s) { EXPECT_EQ(s.columnInt64(0), v); };
    };
    auto isReal = [](double v) {
        return [v](const Statement& s) { EXPECT_DOUBLE_EQ(s.columnDouble(0), v); };
    };
    auto isText = [](std::string v) {
        return [v](const Statement& s) { EXPECT_EQ(s.columnText(0), v); };
    };
    auto isBlob = [](std::string v) {
        return [v](const Statement& s) { EXPECT_EQ(s.columnBlob(0), v); };
    };
    const Case cases[] = {
        {"Id", 1, SQLITE_INTEGER, isInt(1)},
        {"Flag", 1, SQLITE_INTEGER, isInt(-1)},
        {"Flag", 2, SQLITE_INTEGER, isInt(0)},
        {"Flag", 3, SQLITE_INTEGER, isInt(0)},
        {"Tiny", 1, SQLITE_INTEGER, isInt(255)},
        {"Tiny", 2, SQLITE_INTEGER, isInt(0)},
        {"Small", 1, SQLITE_INTEGER, isInt(-32768)},
        {"Small", 2, SQLITE_INTEGER, isInt(32767)},
        {"Big", 1, SQLITE_INTEGER, isInt(2147483647)},
        {"Big", 2, SQLITE_INTEGER, isInt(-2147483648LL)},
        {"Money", 1, SQLITE_INTEGER, isInt(199900)},  // ten-thousandths
        {"Money", 2, SQLITE_INTEGER, isInt(-12345000)},
        {"Sng", 1, SQLITE_FLOAT, isReal(1.5)},
        {"Sng", 2, SQLITE_FLOAT, isReal(-0.25)},
        {"Dbl", 1, SQLITE_FLOAT, isReal(0.1)},
        {"Dbl", 2, SQLITE_FLOAT, isReal(-12345.678)},
        {"Stamp", 1, SQLITE_FLOAT, isReal(stamp)},
        {"Stamp", 2, SQLITE_FLOAT, isReal(-1.5)},
        {"Name", 1, SQLITE_TEXT, isText("O'Hara")},
        {"Name", 2, SQLITE_TEXT, isText("")},
        {"Notes", 1, SQLITE_TEXT, isText("long text")},
        {"Notes", 2, SQLITE_TEXT, isText("\xC3\x9Cnal \xC3\x9F")},
        {"Pic", 1, SQLITE_BLOB, isBlob("\x89PNG")},
        {"Pic", 2, SQLITE_BLOB, isBlob(std::string("\x00\xFF", 2))},
        {"Tag", 1, SQLITE_TEXT, isText("{01234567-89AB-CDEF-0123-456789ABCDEF}")},
        {"Tag", 2, SQLITE_TEXT, isText("{00000000-0000-0000-0000-000000000001}")},
        {"Exact", 1, SQLITE_TEXT, isText("123456789012345678.0123456789")},
        {"Exact", 2, SQLITE_TEXT, isText("-0.5")},
        {"[Unit Price]", 1, SQLITE_INTEGER, isInt(-1)},
        {"[Unit Price]", 2, SQLITE_INTEGER, isInt(0)},
    };
    for (const Case& c : cases) {
        std::string sql = std::string("SELECT ") + c.column +
                          " FROM [All Types] WHERE Id = " + std::to_string(c.id);
        auto st = Statement::prepare(*f.conn, sql);
        ASSERT_TRUE(st.ok()) << sql << ": " << st.error().message();
        auto row = st->step();
        ASSERT_TRUE(row.ok() && *row) << sql;
        EXPECT_EQ(st->columnType(0), c.sqliteType) << sql;
        c.check(*st);
    }
    // Every nullable column of the third row is Null (Yes/No has no Null).
    for (const char* column : {"Tiny", "Small", "Big", "Money", "Sng", "Dbl", "Stamp", "Name",
                               "Notes", "Pic", "Tag", "Exact", "[Unit Price]"}) {
        auto rows =
            query(*f.conn, std::string("SELECT ") + column + " FROM [All Types] WHERE Id = 3");
        ASSERT_TRUE(rows.ok()) << rows.error().message();
        ASSERT_EQ(rows->size(), 1u);
        EXPECT_EQ((*rows)[0][0], "null") << column;
    }
}

TEST_F(TypesTest, DeclaredTypesKeepAffinities) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    struct Case {
        const char* column;
        jet::ColumnType type;
        const char* declared;
    };
    const Case cases[] = {
        {"Flag", jet::ColumnType::Boolean, "INTEGER"},
        {"Tiny", jet::ColumnType::Byte, "INTEGER"},
        {"Small", jet::ColumnType::Integer, "INTEGER"},
        {"Big", jet::ColumnType::Long, "INTEGER"},
        {"Money", jet::ColumnType::Currency, "INTEGER"},
        {"Sng", jet::ColumnType::Single, "REAL"},
        {"Dbl", jet::ColumnType::Double, "REAL"},
        {"Stamp", jet::ColumnType::DateTime, "REAL"},
        {"Name", jet::ColumnType::Text, "TEXT COLLATE ACC_TEXT"},
        {"Notes", jet::ColumnType::Memo, "TEXT COLLATE ACC_TEXT"},
        {"Pic", jet::ColumnType::Ole, "BLOB"},
        {"Tag", jet::ColumnType::Guid, "TEXT"},
        {"Exact", jet::ColumnType::Decimal, "TEXT COLLATE ACC_DECIMAL"},
    };
    for (const Case& c : cases) {
        const jet::Column* col = f.tables->column("all types", c.column);
        ASSERT_NE(col, nullptr) << c.column;
        EXPECT_EQ(col->type, c.type) << c.column;
        EXPECT_EQ(declaredType(*col), c.declared) << c.column;
        // SQLite sees the same declaration (its table_info drops the collation).
        auto rows =
            query(*f.conn, "SELECT type FROM pragma_table_info('All Types') WHERE name = '" +
                               std::string(c.column) + "'");
        ASSERT_TRUE(rows.ok());
        ASSERT_EQ(rows->size(), 1u) << c.column;
        std::string declared = c.declared;
        std::string firstWord = declared.substr(0, declared.find(' '));
        EXPECT_EQ((*rows)[0][0].substr(0, 2 + firstWord.size()), "t:" + firstWord) << c.column;
    }
    EXPECT_EQ(f.tables->column("All Types", "Missing"), nullptr);
    EXPECT_EQ(f.tables->column("Nowhere", "Id"), nullptr);
}

TEST_F(TypesTest, NamesWithBlanksAndQuotes) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    auto rows = query(*f.conn,
                      "SELECT \"Line No\", [Unit Price] * \"Qty \"\"x\"\"\" FROM \"Order Lines\" "
                      "ORDER BY 1");
    ASSERT_TRUE(rows.ok()) << rows.error().message();
    Rows expected = {{"i:1", "i:75000"}, {"i:2", "i:200000"}};  // ten-thousandths
    EXPECT_EQ(*rows, expected);
    std::vector<std::string> names = f.tables->tableNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "Order Lines"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "MSysObjects"), names.end());
    EXPECT_TRUE(f.tables->skipped().empty());
}

TEST_F(TypesTest, TextComparesCaseInsensitively) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    struct Case {
        const char* where;
        int64_t count;
    };
    const Case cases[] = {
        {"Name = 'o''hara'", 1},
        {"Name = 'O''HARA'", 1},
        {"Name = 'OHara'", 0},
        {"Notes = '\xC3\xBCNAL SS'", 1},  // ü/Ü and ß/SS fold alike
        {"Notes = 'unal \xC3\x9F'", 0},   // accents count
        {"Name COLLATE BINARY = 'o''hara'", 0},
        {"Tag = '{01234567-89AB-CDEF-0123-456789ABCDEF}'", 1},
        {"Flag = -1", 1},
        {"Flag = 1", 0},
        {"Flag", 1},
        {"Stamp < 0", 1},
    };
    for (const Case& c : cases) {
        auto rows =
            query(*f.conn, std::string("SELECT count(*) FROM [All Types] WHERE ") + c.where);
        ASSERT_TRUE(rows.ok()) << c.where << ": " << rows.error().message();
        EXPECT_EQ((*rows)[0][0], "i:" + std::to_string(c.count)) << c.where;
    }
}

// ---- Indexes and the planner ----------------------------------------------

constexpr int kCustomers = 400;
constexpr int kOrders = 3000;
constexpr double kDay0 = 43831;  // 2020-01-01

struct Order {
    int id;
    int customer;
    int qty;
    std::optional<int> day;  // days after 2020-01-01
    int64_t amount;          // Currency, scaled by 10000
};

Order orderAt(int i) {  // i from 0
    Order o;
    o.id = i + 1;
    o.customer = (i * 7) % kCustomers + 1;
    o.qty = (i * 13 + i / 7) % 50;
    if (i % 97 != 0) o.day = i % 1000;
    o.amount = (i % 100) * 10000 + (i % 7) * 1000;  // written as "<i%100>.<i%7>"
    return o;
}

std::string customerName(int id) {
    if (id == 42) return "Smith";
    char buf[16];
    std::snprintf(buf, sizeof buf, "Cust%03d", id);
    return buf;
}

std::string dateLiteral(int day) {
    using namespace std::chrono;
    year_month_day d{sys_days{year{2020} / January / 1} + days{day}};
    char buf[32];
    std::snprintf(buf, sizeof buf, "#%04d-%02u-%02u#", int(d.year()), unsigned(d.month()),
                  unsigned(d.day()));
    return buf;
}

std::string ordersScript() {
    std::ostringstream s;
    s << "CREATE TABLE Customers (Id COUNTER PRIMARY KEY, Name TEXT(50), City TEXT(30));\n"
         "CREATE INDEX ByName ON Customers (Name);\n"
         "CREATE TABLE Orders ([Order Id] COUNTER PRIMARY KEY, CustomerId LONG, Qty LONG,\n"
         "  OrderDate DATETIME, Amount CURRENCY, Note TEXT(20));\n"
         "CREATE INDEX ByCustomer ON Orders (CustomerId);\n"
         "CREATE INDEX ByCustomerQty ON Orders (CustomerId, Qty DESC);\n"
         "CREATE INDEX ByDate ON Orders (OrderDate);\n"
         "CREATE INDEX ByAmount ON Orders (Amount);\n";
    for (int i = 1; i <= kCustomers; ++i) {
        s << (i % 100 == 1 ? "INSERT INTO Customers (Name, City) VALUES\n" : ",\n");
        s << "('" << customerName(i) << "', 'City" << i % 10 << "')";
        if (i % 100 == 0 || i == kCustomers) s << ";\n";
    }
    for (int i = 0; i < kOrders; ++i) {
        Order o = orderAt(i);
        s << (i % 100 == 0
                  ? "INSERT INTO Orders (CustomerId, Qty, OrderDate, Amount, Note) VALUES\n"
                  : ",\n");
        s << "(" << o.customer << ", " << o.qty << ", " << (o.day ? dateLiteral(*o.day) : "NULL")
          << ", " << (i % 100) << "." << (i % 7) << ", "
          << (i % 5 ? "'n" + std::to_string(i % 5) + "'" : "NULL") << ")";
        if (i % 100 == 99 || i == kOrders - 1) s << ";\n";
    }
    return s.str();
}

class OrdersTest : public testing::Test {
protected:
    static void SetUpTestSuite() { path() = writeDatabase("orders", ordersScript()); }
    static void TearDownTestSuite() { fs::remove(path()); }
    static fs::path& path() {
        static fs::path p;
        return p;
    }
};

TEST_F(OrdersTest, IndexedFiltersReadOnlyMatchingRows) {
    Fixture on = openFixture(path());
    AttachOptions offOptions;
    offOptions.useIndexes = false;
    Fixture off = openFixture(path(), offOptions);
    ASSERT_TRUE(on.tables && off.tables);
    auto serial = [](const Order& o) { return kDay0 + *o.day; };
    struct Case {
        std::string where;
        std::function<bool(const Order&)> model;
    };
    const Case cases[] = {
        {"CustomerId = 17", [](const Order& o) { return o.customer == 17; }},
        {"CustomerId = 17.0", [](const Order& o) { return o.customer == 17; }},
        {"CustomerId > 395", [](const Order& o) { return o.customer > 395; }},
        {"CustomerId <= 3", [](const Order& o) { return o.customer <= 3; }},
        {"CustomerId IN (1, 2, 3)", [](const Order& o) { return o.customer <= 3; }},
        {"CustomerId = 17 AND Qty > 20",
         [](const Order& o) { return o.customer == 17 && o.qty > 20; }},
        {"CustomerId = 18 AND Qty >= 10 AND Qty < 30",
         [](const Order& o) { return o.customer == 18 && o.qty >= 10 && o.qty < 30; }},
        {"[Order Id] = 1234", [](const Order& o) { return o.id == 1234; }},
        {"[Order Id] BETWEEN 10 AND 19", [](const Order& o) { return o.id >= 10 && o.id <= 19; }},
        {"OrderDate = " + std::to_string(kDay0 + 10),
         [](const Order& o) { return o.day && *o.day == 10; }},
        {"OrderDate >= " + std::to_string(kDay0 + 100) + " AND OrderDate < " +
             std::to_string(kDay0 + 110),
         [&](const Order& o) {
             return o.day && serial(o) >= kDay0 + 100 && serial(o) < kDay0 + 110;
         }},
        // Null dates sort first in the index: an open lower end must skip them.
        {"OrderDate < " + std::to_string(kDay0 + 3),
         [](const Order& o) { return o.day && *o.day < 3; }},
        {"OrderDate > " + std::to_string(kDay0 + 996.5),
         [](const Order& o) { return o.day && *o.day > 996; }},
        {"Amount = 53000", [](const Order& o) { return o.amount == 53000; }},
        {"Amount >= 995000", [](const Order& o) { return o.amount >= 995000; }},
        {"Amount > 986000 AND Amount <= 990000",
         [](const Order& o) { return o.amount > 986000 && o.amount <= 990000; }},
    };
    for (const Case& c : cases) {
        size_t expected = 0;
        for (int i = 0; i < kOrders; ++i) expected += c.model(orderAt(i)) ? 1 : 0;
        ASSERT_GT(expected, 0u) << c.where;
        std::string sql = "SELECT [Order Id], CustomerId, Qty, OrderDate FROM Orders WHERE " +
                          c.where + " ORDER BY [Order Id]";
        on.tables->resetStats();
        auto withIndex = query(*on.conn, sql);
        ASSERT_TRUE(withIndex.ok()) << sql << ": " << withIndex.error().message();
        TableStats s = on.tables->stats("Orders");
        EXPECT_EQ(withIndex->size(), expected) << sql;
        EXPECT_EQ(s.rowsRead, expected) << sql;
        EXPECT_EQ(s.fullScans, 0u) << sql;
        EXPECT_GE(s.indexScans, 1u) << sql;

        off.tables->resetStats();
        auto scanned = query(*off.conn, sql);
        ASSERT_TRUE(scanned.ok()) << sql;
        EXPECT_EQ(*withIndex, *scanned) << sql;
        EXPECT_EQ(off.tables->stats("Orders").rowsRead, uint64_t(kOrders)) << sql;
        EXPECT_EQ(off.tables->stats("Orders").indexScans, 0u) << sql;
    }
}

TEST_F(OrdersTest, ValuesThatCannotUseTheIndexStillGiveTheRightRows) {
    Fixture on = openFixture(path());
    AttachOptions offOptions;
    offOptions.useIndexes = false;
    Fixture off = openFixture(path(), offOptions);
    ASSERT_TRUE(on.tables && off.tables);
    struct Case {
        const char* where;
        int64_t count;  // worked out from orderAt()
    };
    const Case cases[] = {
        {"CustomerId = '17'", 7},  // text compared after numeric affinity: via a scan
        {"CustomerId = 17.5", 0},  // no Long equals it
        {"CustomerId = NULL", 0},
        {"CustomerId > 399.5", 8},  // widened bound, rechecked by SQLite
        {"CustomerId = 5000000000", 0},
        {"CustomerId IS NULL", 0},
        {"OrderDate IS NULL", 31},  // i % 97 == 0 for i < 3000
        {"Amount = 53000.5", 0},    // Currency reads in whole ten-thousandths
        // INTEGER affinity turns '53000' into 53000 (5.3), which needs
        // i % 100 == 5 and i % 7 == 3: i = 605, 1305, 2005, 2705.
        {"Amount = '53000'", 4},
        // Only 0 is below: i a multiple of 700, so 0, 700, 1400, 2100, 2800.
        {"Amount < 1", 5},
    };
    for (const Case& c : cases) {
        std::string sql = std::string("SELECT [Order Id] FROM Orders WHERE ") + c.where +
                          " ORDER BY [Order Id] DESC";
        auto a = query(*on.conn, sql);
        auto b = query(*off.conn, sql);
        ASSERT_TRUE(a.ok() && b.ok()) << sql;
        EXPECT_EQ(int64_t(a->size()), c.count) << sql;
        EXPECT_EQ(*a, *b) << sql;
    }
}

TEST_F(OrdersTest, IndexedTextEqualityIgnoresCase) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    struct Case {
        const char* where;
        const char* name;  // nullptr: no row
    };
    const Case cases[] = {
        {"Name = 'smith'", "Smith"},     {"Name = 'SMITH'", "Smith"},
        {"Name = 'Smith '", nullptr},  // the index drops the space; SQLite does not
        {"Name = 'cust007'", "Cust007"}, {"Name = 'Smyth'", nullptr},
    };
    for (const Case& c : cases) {
        f.tables->resetStats();
        auto rows = query(*f.conn, std::string("SELECT Name FROM Customers WHERE ") + c.where);
        ASSERT_TRUE(rows.ok()) << c.where;
        if (c.name) {
            ASSERT_EQ(rows->size(), 1u) << c.where;
            EXPECT_EQ((*rows)[0][0], std::string("t:") + c.name);
        } else {
            EXPECT_TRUE(rows->empty()) << c.where;
        }
        TableStats s = f.tables->stats("Customers");
        EXPECT_EQ(s.fullScans, 0u) << c.where;
        EXPECT_LE(s.rowsRead, 1u) << c.where;
    }
}

TEST_F(OrdersTest, IndexUseCanBeSwitchedOffAndFallsBackToScans) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    struct Case {
        const char* sql;
        bool useIndexes;
        uint64_t fullScans, indexScans;
        const char* count;
    };
    const Case cases[] = {
        {"SELECT count(*) FROM Orders WHERE CustomerId = 17", true, 0, 1, "i:7"},
        {"SELECT count(*) FROM Orders WHERE CustomerId = 17", false, 1, 0, "i:7"},
        // No Latin-1 key for this text: the lookup becomes a scan.
        {"SELECT count(*) FROM Customers WHERE Name = '\xD0\x96'", true, 1, 0, "i:0"},
        // Text ranges follow Access's order in the index, not ACC_TEXT's.
        // Cust390..Cust400 and Smith.
        {"SELECT count(*) FROM Customers WHERE Name >= 'cust390'", true, 1, 0, "i:12"},
    };
    for (const Case& c : cases) {
        f.tables->setUseIndexes(c.useIndexes);
        f.tables->resetStats();
        auto rows = query(*f.conn, c.sql);
        ASSERT_TRUE(rows.ok()) << c.sql;
        EXPECT_EQ((*rows)[0][0], c.count) << c.sql;
        std::string table =
            std::string(c.sql).find("Customers") != std::string::npos ? "Customers" : "Orders";
        TableStats s = f.tables->stats(table);
        EXPECT_EQ(s.fullScans, c.fullScans) << c.sql;
        EXPECT_EQ(s.indexScans, c.indexScans) << c.sql;
    }
}

TEST_F(OrdersTest, SystemTablesAreQueryable) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    auto rows =
        query(*f.conn,
              "SELECT Name FROM MSysObjects WHERE Name IN ('customers', 'ORDERS') ORDER BY Name");
    ASSERT_TRUE(rows.ok()) << rows.error().message();
    Rows expected = {{"t:Customers"}, {"t:Orders"}};
    EXPECT_EQ(*rows, expected);
    AttachOptions noSystem;
    noSystem.systemTables = false;
    Fixture g = openFixture(path(), noSystem);
    ASSERT_TRUE(g.tables);
    EXPECT_EQ(g.tables->find("MSysObjects"), nullptr);
    EXPECT_FALSE(query(*g.conn, "SELECT count(*) FROM MSysObjects").ok());
    std::vector<std::string> names = g.tables->tableNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Customers", "Orders"}));
}

TEST_F(OrdersTest, JoinsSeekTheInnerTable) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    struct Case {
        std::string sql;
        std::vector<int> customers;
    };
    const Case cases[] = {
        {"SELECT c.Name, o.[Order Id] FROM Customers AS c INNER JOIN Orders AS o "
         "ON o.CustomerId = c.Id WHERE c.Id IN (5, 6) ORDER BY o.[Order Id]",
         {5, 6}},
        {"SELECT c.Name, o.[Order Id] FROM Customers AS c INNER JOIN Orders AS o "
         "ON o.CustomerId = c.Id WHERE c.Name = 'smith' ORDER BY o.[Order Id]",
         {42}},
    };
    for (const Case& c : cases) {
        f.tables->resetStats();
        auto rows = query(*f.conn, c.sql);
        ASSERT_TRUE(rows.ok()) << c.sql << ": " << rows.error().message();
        Rows expected;
        for (int i = 0; i < kOrders; ++i) {
            Order o = orderAt(i);
            if (std::find(c.customers.begin(), c.customers.end(), o.customer) != c.customers.end())
                expected.push_back({"t:" + customerName(o.customer), "i:" + std::to_string(o.id)});
        }
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(*rows, expected) << c.sql;
        EXPECT_EQ(f.tables->stats("Orders").rowsRead, expected.size()) << c.sql;
        EXPECT_EQ(f.tables->stats("Customers").rowsRead, c.customers.size()) << c.sql;
    }
}

// A join that looks up the inner table's index for hundreds of outer rows
// switches to a map of the whole index: the rows must stay those the index
// gives, found or not, through a unique and a non-unique index.
TEST_F(OrdersTest, ManyLookupsGiveTheIndexRows) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    struct Case {
        std::string sql;
        int shift;           // order o matches customer o.customer + shift
        bool keepUnmatched;  // LEFT JOIN from Customers
    };
    const Case cases[] = {
        {"SELECT o.[Order Id], c.Name FROM Orders AS o INNER JOIN Customers AS c "
         "ON c.Id = o.CustomerId ORDER BY o.[Order Id]",
         0, false},
        {"SELECT o.[Order Id], c.Name FROM Orders AS o INNER JOIN Customers AS c "
         "ON c.Id = o.CustomerId + 250 ORDER BY o.[Order Id]",
         250, false},
        {"SELECT c.Id, o.[Order Id] FROM Customers AS c LEFT JOIN Orders AS o "
         "ON o.CustomerId = c.Id - 150 ORDER BY c.Id, o.[Order Id]",
         150, true},
    };
    for (const Case& c : cases) {
        Rows expected;
        if (c.keepUnmatched) {
            for (int id = 1; id <= kCustomers; ++id) {
                size_t before = expected.size();
                for (int i = 0; i < kOrders; ++i)
                    if (orderAt(i).customer + c.shift == id)
                        expected.push_back(
                            {"i:" + std::to_string(id), "i:" + std::to_string(orderAt(i).id)});
                if (expected.size() == before)
                    expected.push_back({"i:" + std::to_string(id), "null"});
            }
        } else {
            for (int i = 0; i < kOrders; ++i) {
                Order o = orderAt(i);
                if (o.customer + c.shift <= kCustomers)
                    expected.push_back(
                        {"i:" + std::to_string(o.id), "t:" + customerName(o.customer + c.shift)});
            }
        }
        f.tables->resetStats();
        auto rows = query(*f.conn, c.sql);
        ASSERT_TRUE(rows.ok()) << c.sql << ": " << rows.error().message();
        EXPECT_EQ(*rows, expected) << c.sql;
        TableStats customers = f.tables->stats("Customers");
        TableStats orders = f.tables->stats("Orders");
        EXPECT_GT(customers.indexScans + orders.indexScans, 300u) << c.sql;
    }
}

TEST_F(OrdersTest, DecodesOnlyUsedColumns) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    struct Case {
        const char* sql;
        const char* result;
        uint64_t values;  // column values decoded
    };
    const Case cases[] = {
        {"SELECT count(*) FROM Orders", "i:3000", 0},
        {"SELECT count(Note) FROM Orders", "i:2400", kOrders},
        {"SELECT sum(Qty) FROM Orders", nullptr, kOrders},
        {"SELECT max(Qty + CustomerId) FROM Orders", nullptr, 2 * kOrders},
    };
    int64_t qtySum = 0, maxSum = 0;
    for (int i = 0; i < kOrders; ++i) {
        qtySum += orderAt(i).qty;
        maxSum = std::max<int64_t>(maxSum, orderAt(i).qty + orderAt(i).customer);
    }
    for (const Case& c : cases) {
        f.tables->resetStats();
        auto rows = query(*f.conn, c.sql);
        ASSERT_TRUE(rows.ok()) << c.sql;
        std::string expected = c.result
                                   ? std::string(c.result)
                                   : "i:" + std::to_string(c.values == kOrders ? qtySum : maxSum);
        EXPECT_EQ((*rows)[0][0], expected) << c.sql;
        TableStats s = f.tables->stats("Orders");
        EXPECT_EQ(s.rowsRead, uint64_t(kOrders)) << c.sql;
        EXPECT_EQ(s.valuesDecoded, c.values) << c.sql;
    }
}

TEST_F(OrdersTest, RowidFindsTheRow) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    auto ids = query(*f.conn, "SELECT rowid FROM Orders WHERE [Order Id] = 77");
    ASSERT_TRUE(ids.ok());
    ASSERT_EQ(ids->size(), 1u);
    const std::string rowid = (*ids)[0][0].substr(2);
    struct Case {
        std::string where;
        Rows expected;
    };
    const Case cases[] = {
        {"rowid = " + rowid, {{"i:77"}}},
        {"rowid = 123456789", {}},
        {"rowid = -1", {}},
        {"rowid = 99999999999", {}},
        {"rowid = '" + rowid + "'", {{"i:77"}}},
    };
    for (const Case& c : cases) {
        f.tables->resetStats();
        auto rows = query(*f.conn, "SELECT [Order Id] FROM Orders WHERE " + c.where);
        ASSERT_TRUE(rows.ok()) << c.where << ": " << rows.error().message();
        EXPECT_EQ(*rows, c.expected) << c.where;
        if (c.where.find('\'') == std::string::npos) {
            EXPECT_EQ(f.tables->stats("Orders").fullScans, 0u) << c.where;
            EXPECT_LE(f.tables->stats("Orders").rowsRead, 1u) << c.where;
        }
    }
}

TEST_F(OrdersTest, PlannerReportsUniqueLookups) {
    Fixture f = openFixture(path());
    ASSERT_TRUE(f.tables);
    struct Case {
        const char* sql;
        const char* planFragment;
    };
    const Case cases[] = {
        {"SELECT * FROM Orders WHERE [Order Id] = 5", "VIRTUAL TABLE INDEX 2:"},
        {"SELECT * FROM Orders WHERE Note = 'n1'", "VIRTUAL TABLE INDEX 0:"},
        {"SELECT * FROM Orders WHERE rowid = 5", "VIRTUAL TABLE INDEX 1:"},
    };
    for (const Case& c : cases) {
        auto rows = query(*f.conn, std::string("EXPLAIN QUERY PLAN ") + c.sql);
        ASSERT_TRUE(rows.ok()) << c.sql;
        std::string plan;
        for (const auto& r : *rows) plan += r.back() + "\n";
        EXPECT_NE(plan.find(c.planFragment), std::string::npos) << c.sql << "\n" << plan;
    }
}

// ---- Damaged tables -------------------------------------------------------

TEST(JetVtabErrors, DamagedTableFailsTheStatement) {
    fs::path path = writeDatabase("damaged",
                                  "CREATE TABLE Good (A LONG);\n"
                                  "INSERT INTO Good (A) VALUES (1), (2);\n"
                                  "CREATE TABLE Bad (A LONG, B TEXT(10));\n"
                                  "INSERT INTO Bad (A, B) VALUES (1, 'x'), (2, 'y');\n");
    auto probe = jet::Database::open(path.string());
    ASSERT_TRUE(probe.ok());
    auto bad = (*probe)->table("Bad");
    ASSERT_TRUE(bad.ok());
    const uint32_t tdef = (*bad)->tdefPage;
    std::string bytes = readFile(path);
    fs::remove(path);
    std::vector<uint8_t> image(bytes.begin(), bytes.end());
    const size_t pageSize = 4096;
    bool damaged = false;
    // Jet4 data page: type 0x01, owner at 4, row count at 12, row offsets from 14.
    for (size_t p = 1; (p + 1) * pageSize <= image.size(); ++p) {
        uint8_t* pg = image.data() + p * pageSize;
        uint32_t owner =
            uint32_t(pg[4]) | uint32_t(pg[5]) << 8 | uint32_t(pg[6]) << 16 | uint32_t(pg[7]) << 24;
        if (pg[0] != 0x01 || owner != tdef) continue;
        ASSERT_EQ(pg[12] | pg[13] << 8, 2);
        pg[14] = 0x01;  // first row starts inside the page header
        pg[15] = 0x00;
        damaged = true;
    }
    ASSERT_TRUE(damaged);
    auto db = jet::Database::openMemory(std::move(image));
    ASSERT_TRUE(db.ok()) << db.error().message();
    Fixture f = attach(std::shared_ptr<jet::Database>(std::move(*db)));
    ASSERT_TRUE(f.tables);
    struct Case {
        const char* sql;
        bool fails;
    };
    const Case cases[] = {
        {"SELECT * FROM Bad", true},
        {"SELECT count(*) FROM Bad", true},
        {"SELECT g.A FROM Good AS g, Bad AS b WHERE b.A = g.A", true},
        {"SELECT sum(A) FROM Good", false},
    };
    for (const Case& c : cases) {
        auto rows = query(*f.conn, c.sql);
        EXPECT_EQ(!rows.ok(), c.fails) << c.sql;
        if (!rows.ok()) {
            const std::string& m = rows.error().message();
            EXPECT_NE(m.find("impossible extent"), std::string::npos) << m;
            EXPECT_NE(m.find("Bad"), std::string::npos) << m;
        } else {
            EXPECT_EQ((*rows)[0][0], "i:3");
        }
    }
}

TEST(JetVtabErrors, SqliteReservedNamesAreSkipped) {
    fs::path path = writeDatabase("reserved",
                                  "CREATE TABLE [sqlite_stuff] (A LONG);\n"
                                  "CREATE TABLE Fine (A LONG);\n");
    Fixture f = openFixture(path);
    ASSERT_TRUE(f.tables);
    ASSERT_EQ(f.tables->skipped().size(), 1u);
    EXPECT_EQ(f.tables->skipped()[0].name, "sqlite_stuff");
    EXPECT_EQ(f.tables->find("sqlite_stuff"), nullptr);
    EXPECT_NE(f.tables->find("FINE"), nullptr);
    auto rows = query(*f.conn, "SELECT count(*) FROM Fine");
    ASSERT_TRUE(rows.ok());
    EXPECT_EQ((*rows)[0][0], "i:0");
    fs::remove(path);
}

}  // namespace
}  // namespace tab::sqlbridge
