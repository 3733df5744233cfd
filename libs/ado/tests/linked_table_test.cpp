// Split databases: a front-end whose links carry paths of another machine,
// read through the links from the back-ends kept beside it, as a user keeps
// a copied pair; links that cannot be reached fail only their statements.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tabulary/ado/query.h"
#include "tabulary/jet/check.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/jet/writer.h"

using namespace tab;
using namespace tab::ado;
namespace fs = std::filesystem;

namespace {

struct Table {
    std::string name;
    int rows = 0;
};

// A database with tables of (id primary key, grp indexed, label) rows and links.
void writeDatabase(const fs::path& p, const std::vector<Table>& tables,
                   const std::vector<jet::LinkSpec>& links, const std::string& password = {}) {
    fs::create_directories(p.parent_path());
    jet::CreateOptions options;
    options.durable = false;
    options.objectDate = 45000;
    options.password = password;
    auto w = jet::DatabaseWriter::create(p.string(), options);
    ASSERT_TRUE(w.ok()) << w.error().message();
    for (const Table& t : tables) {
        jet::TableSpec spec;
        spec.name = t.name;
        auto col = [&](const char* name, jet::ColumnType type, uint32_t size) {
            jet::ColumnSpec c;
            c.name = name;
            c.type = type;
            c.size = size;
            spec.columns.push_back(c);
        };
        col("id", jet::ColumnType::Long, 0);
        col("grp", jet::ColumnType::Long, 0);
        col("label", jet::ColumnType::Text, 40);
        jet::IndexSpec pk;
        pk.name = "PrimaryKey";
        pk.primaryKey = true;
        pk.columns = {{"id", true}};
        jet::IndexSpec byGrp;
        byGrp.name = "grp";
        byGrp.columns = {{"grp", true}};
        spec.indexes = {pk, byGrp};
        auto h = (*w)->addTable(spec);
        ASSERT_TRUE(h.ok()) << h.error().message();
        for (int i = 1; i <= t.rows; ++i) {
            const std::vector<jet::Value> row = {
                jet::Value::integer(i), jet::Value::integer(i % 7),
                jet::Value::text(t.name + " " + std::to_string(i))};
            ASSERT_TRUE((*w)->appendRow(*h, row).ok());
        }
    }
    for (const auto& l : links) ASSERT_TRUE((*w)->addLink(l).ok()) << l.name;
    ASSERT_TRUE((*w)->finish().ok());
}

jet::LinkSpec link(const std::string& name, const std::string& database, const std::string& foreign,
                   const std::string& connect = {}) {
    jet::LinkSpec l;
    l.name = name;
    l.database = database;
    l.foreignName = foreign;
    l.connect = connect;
    l.odbc = connect.rfind("ODBC", 0) == 0;
    return l;
}

// Rows as text lines, or "error: ..." when the statement fails.
std::vector<std::string> rows(const fs::path& file, const std::string& sql,
                              const std::string& password = {}) {
    Connection c;
    if (Status st = c.openFile(file.string(), password); !st.ok())
        return {"error: " + st.error().message()};
    auto rs = openRecordset(c, sql);
    if (!rs.ok()) return {"error: " + rs.error().message()};
    if (Status st = rs->fill(); !st.ok()) return {"error: " + st.error().message()};
    std::vector<std::string> out;
    for (size_t r = 0; r < rs->rowCount(); ++r) {
        std::string line;
        for (size_t f = 0; f < rs->fields().size(); ++f)
            line += (f ? "|" : "") + jet::valueToText(rs->cell(r, f));
        out.push_back(line);
    }
    return out;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(LinkedTables, ReadThroughTheLinksAsTheirBackEnds) {
    const fs::path dir = fs::path(testing::TempDir()) / ("links_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    writeDatabase(dir / "Backend.mdb", {{"Orders", 300}, {"Parts", 20}}, {});
    writeDatabase(dir / "Sub" / "Deeper" / "second.mdb", {{"Stock", 40}}, {});
    writeDatabase(dir / "secret.mdb", {{"Vault", 5}}, {}, "pw1");
    writeDatabase(dir / "middle.mdb", {{"Local", 5}},
                  {link("MidOrders", "D:\\apps\\backend.mdb", "Orders")});
    writeDatabase(
        dir / "front.mdb", {{"Local", 10}},
        {link("WinOrders", "C:\\Users\\someone\\Data\\BACKEND.MDB", "Orders"),
         link("Parts", "C:\\Users\\someone\\Data\\backend.mdb", "Parts"),
         link("ShareStock", "\\\\server\\share\\sub\\DEEPER\\second.mdb", "Stock"),
         link("Chained", "C:\\x\\middle.mdb", "MidOrders"),
         link("Vault", "C:\\x\\secret.mdb", "Vault"),
         link("Gone", "C:\\nowhere\\gone.mdb", "Orders"),
         link("NoTable", "C:\\x\\backend.mdb", "Nothing"),
         link("Sales", "", "dbo.Sales", "ODBC;DSN=SalesDB;UID=sa;PWD=hunter2;DATABASE=sales"),
         link("Book", "C:\\x\\book.xls", "Sheet1$", "Excel 8.0;HDR=YES;")},
        "pw1");
    const fs::path front = dir / "front.mdb", back = dir / "Backend.mdb";
    const std::string frontBefore = readFile(front), backBefore = readFile(back);
    {
        // The link rows the writer made are sound to the checker.
        jet::OpenOptions o;
        o.password = "pw1";
        auto db = jet::Database::open(front.string(), o);
        ASSERT_TRUE(db.ok()) << db.error().message();
        const jet::CheckReport report = jet::checkDatabase(**db);
        for (const auto& p : report.problems) ADD_FAILURE() << p.message;
    }

    // Each statement through a link gives what the same statement gives on its back-end.
    struct Same {
        std::string front, back;
        fs::path backFile;
        std::string backPassword;
    };
    const fs::path second = dir / "Sub" / "Deeper" / "second.mdb";
    const Same same[] = {
        {"SELECT * FROM WinOrders", "SELECT * FROM Orders", back, ""},
        {"SELECT id, label FROM WinOrders WHERE grp = 3 ORDER BY id DESC",
         "SELECT id, label FROM Orders WHERE grp = 3 ORDER BY id DESC", back, ""},
        {"SELECT label FROM WinOrders WHERE id = 250", "SELECT label FROM Orders WHERE id = 250",
         back, ""},
        {"SELECT grp, Count(*) FROM Parts GROUP BY grp",
         "SELECT grp, Count(*) FROM Parts GROUP BY grp", back, ""},
        {"SELECT Sum(id) FROM ShareStock", "SELECT Sum(id) FROM Stock", second, ""},
        {"SELECT * FROM Chained WHERE id < 5", "SELECT * FROM Orders WHERE id < 5", back, ""},
        {"SELECT * FROM Vault", "SELECT * FROM Vault", dir / "secret.mdb", "pw1"},
        // IN 'file' names a table of another file for one statement, found as a link's file is.
        {"SELECT * FROM Orders IN 'backend.MDB' WHERE id < 4", "SELECT * FROM Orders WHERE id < 4",
         back, ""},
        {"SELECT Count(*) FROM Stock IN '' [;DATABASE=sub\\deeper\\SECOND.mdb]",
         "SELECT Count(*) FROM Stock", second, ""},
        {"SELECT l.id, o.label FROM Local AS l INNER JOIN Orders AS o IN "
         "'C:\\elsewhere\\Backend.mdb' ON o.id = l.id ORDER BY l.id",
         "SELECT id, label FROM Orders WHERE id <= 10 ORDER BY id", back, ""},
        {"SELECT * FROM Local IN [;DATABASE=middle.mdb]", "SELECT * FROM Local", dir / "middle.mdb",
         ""},
    };
    for (const Same& c : same) {
        auto got = rows(front, c.front, "pw1");
        EXPECT_EQ(got, rows(c.backFile, c.back, c.backPassword)) << c.front;
        EXPECT_FALSE(got.empty()) << c.front;
    }
    // A local table joined to a linked one, each Local row to its Orders row.
    auto joined = rows(front,
                       "SELECT l.id, o.label FROM Local AS l INNER JOIN WinOrders AS o ON "
                       "o.id = l.id * 10 ORDER BY l.id",
                       "pw1");
    ASSERT_EQ(joined.size(), 10u);
    EXPECT_EQ(joined[3], "4|Orders 40");

    // Links that cannot be followed fail their own statements only, saying why.
    struct Refusal {
        std::string sql;
        std::vector<std::string> parts;
    };
    const Refusal refusals[] = {
        {"SELECT * FROM Gone",
         {"'Gone'", "C:\\nowhere\\gone.mdb", (dir / "gone.mdb").string(),
          (dir / "nowhere" / "gone.mdb").string()}},
        {"SELECT * FROM NoTable", {"'NoTable'", "'Nothing'"}},
        {"SELECT * FROM Sales", {"'Sales'", "ODBC", "DSN=SalesDB"}},
        {"SELECT * FROM Book", {"'Book'", "Excel 8.0"}},
        // A table of another file is never changed, nor taken for one of the same name here.
        {"DELETE FROM Local IN 'middle.mdb'", {"'Local'", "middle.mdb", "read only"}},
        {"UPDATE Orders IN 'Backend.mdb' SET label = 'x'", {"'Orders'", "read only"}},
        {"SELECT * FROM Orders IN 'nothere.mdb'",
         {"'nothere.mdb'", (dir / "nothere.mdb").string()}},
        {"SELECT * FROM Nothing IN 'Backend.mdb'", {"'Nothing'", "Backend.mdb"}},
    };
    for (const Refusal& r : refusals) {
        auto got = rows(front, r.sql, "pw1");
        ASSERT_EQ(got.size(), 1u) << r.sql;
        EXPECT_EQ(got[0].rfind("error: ", 0), 0u) << r.sql << ": " << got[0];
        for (const auto& part : r.parts)
            EXPECT_NE(got[0].find(part), std::string::npos) << r.sql << ": " << got[0];
        EXPECT_EQ(got[0].find("hunter2"), std::string::npos) << got[0];
    }
    EXPECT_EQ(rows(front, "SELECT Count(*) FROM Local", "pw1"), std::vector<std::string>{"10"});
    // The back-end's own password is not guessed: without the front-end's, the vault stays shut.
    writeDatabase(dir / "open.mdb", {}, {link("Vault", "secret.mdb", "Vault")});
    auto shut = rows(dir / "open.mdb", "SELECT * FROM Vault");
    ASSERT_EQ(shut.size(), 1u);
    EXPECT_NE(shut[0].find("password"), std::string::npos) << shut[0];
    // A link to itself ends at the depth bound instead of going round.
    writeDatabase(dir / "loop.mdb", {}, {link("Loop", "loop.mdb", "Loop")});
    auto loop = rows(dir / "loop.mdb", "SELECT * FROM Loop");
    ASSERT_EQ(loop.size(), 1u);
    EXPECT_NE(loop[0].find("more than"), std::string::npos) << loop[0];

    EXPECT_EQ(readFile(front), frontBefore);
    EXPECT_EQ(readFile(back), backBefore);
    fs::remove_all(dir);
}

// Statements through links change the back-end, all or nothing, and never
// two files at once.
TEST(LinkedTables, ChangesGoToTheBackEnd) {
    const fs::path dir = fs::path(testing::TempDir()) / ("linkw_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const fs::path back = dir / "Backend.mdb", front = dir / "front.mdb";
    writeDatabase(back, {{"Orders", 300}}, {});
    writeDatabase(dir / "secret.mdb", {{"Vault", 5}}, {}, "pw1");
    writeDatabase(dir / "middle.mdb", {}, {link("MidOrders", "D:\\apps\\backend.mdb", "Orders")});
    writeDatabase(front, {{"Local", 10}},
                  {link("WinOrders", "C:\\Data\\BACKEND.MDB", "Orders"),
                   link("Chained", "C:\\x\\middle.mdb", "MidOrders"),
                   link("Vault", "C:\\x\\secret.mdb", "Vault")},
                  "pw1");
    auto run = [&](const std::string& sql) -> std::string {
        Connection c;
        if (Status st = c.openFile(front.string(), "pw1"); !st.ok()) return st.error().message();
        QueryOptions o;
        o.durable = false;
        auto n = execute(c, sql, o);
        return n.ok() ? std::to_string(*n) : "error: " + n.error().message();
    };
    struct Case {
        std::string sql, result;  // records affected, or a part of the error
        fs::path file;            // where to look afterwards
        std::string check, password;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"INSERT INTO WinOrders (id, grp, label) VALUES (1000, 1, 'new')",
         "1",
         back,
         "SELECT label FROM Orders WHERE id >= 1000",
         "",
         {"new"}},
        {"UPDATE WinOrders SET label = 'seven' WHERE grp = 0 AND id < 50",
         "7",
         back,
         "SELECT Count(*) FROM Orders WHERE label = 'seven'",
         "",
         {"7"}},
        {"DELETE FROM Chained WHERE id BETWEEN 291 AND 300",
         "10",
         back,
         "SELECT Count(*), Max(id) FROM Orders WHERE id < 1000",
         "",
         {"290|290"}},
        {"UPDATE Local AS l INNER JOIN WinOrders AS o ON o.id = l.id SET o.label = 'joined'",
         "10",
         back,
         "SELECT Count(*) FROM Orders WHERE label = 'joined'",
         "",
         {"10"}},
        {"INSERT INTO Vault (id, grp, label) VALUES (6, 1, 'six')",
         "1",
         dir / "secret.mdb",
         "SELECT label FROM Vault WHERE id = 6",
         "pw1",
         {"six"}},
        // Refused before anything is written: two files, or a key the back-end holds already.
        {"UPDATE Local AS l INNER JOIN WinOrders AS o ON o.id = l.id SET l.label = 'a', o.label = "
         "'b'",
         "two files",
         back,
         "SELECT Count(*) FROM Orders WHERE label = 'b'",
         "",
         {"0"}},
        {"INSERT INTO WinOrders (id, grp, label) SELECT id + 280, grp, label FROM Local",
         "error",
         back,
         "SELECT Count(*) FROM Orders WHERE label LIKE 'Local*'",
         "",
         {"0"}},
    };
    for (const Case& c : cases) {
        const std::string frontBefore = readFile(front);
        const std::string fileBefore = readFile(c.file);
        const std::string got = run(c.sql);
        EXPECT_NE(got.find(c.result), std::string::npos) << c.sql << ": " << got;
        EXPECT_EQ(rows(c.file, c.check, c.password), c.expected) << c.sql;
        EXPECT_EQ(readFile(front), frontBefore) << c.sql;
        if (got.rfind("error", 0) == 0) {
            EXPECT_EQ(readFile(c.file), fileBefore) << c.sql;
        }
    }
    EXPECT_EQ(rows(front, "SELECT Count(*) FROM Local WHERE label = 'a'", "pw1"),
              std::vector<std::string>{"0"});
    fs::remove_all(dir);
}

// The corpus's split pair, copied into one folder as a user would keep it.
TEST(LinkedTables, CorpusPairInOneFolder) {
    const char* env = std::getenv("TABULARY_CORPUS");
    const fs::path root = fs::path(env && *env ? env : TABULARY_CORPUS_DIR) / "files/jackcess";
    const fs::path linker = root / "V2007/linkerTestV2007.accdb",
                   linkee = root / "linkeeTest.accdb";
    if (!fs::exists(linker) || !fs::exists(linkee)) GTEST_SKIP() << "corpus not present";
    const fs::path dir = fs::path(testing::TempDir()) / ("pair_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(linker, dir / linker.filename());
    fs::copy_file(linkee, dir / linkee.filename());
    auto linked = rows(dir / linker.filename(), "SELECT * FROM Table2");
    EXPECT_EQ(linked, rows(dir / linkee.filename(), "SELECT * FROM Table1"));
    EXPECT_FALSE(linked.empty());
    EXPECT_EQ(linked[0].rfind("error", 0), std::string::npos) << linked[0];
    // Where the corpus keeps them apart, the link names the author's path and fails alone.
    auto apart = rows(linker, "SELECT * FROM Table2");
    ASSERT_EQ(apart.size(), 1u);
    EXPECT_NE(apart[0].find("linkeeTest.accdb\" was not found"), std::string::npos) << apart[0];
    EXPECT_NE(rows(linker, "SELECT Count(*) FROM Table1")[0].rfind("error", 0), 0u);
    fs::remove_all(dir);
}
