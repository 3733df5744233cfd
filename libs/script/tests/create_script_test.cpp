// Create scripts: every literal form read back through the reader, and each
// kind of mistake reported with its line.
#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

#include "tabulary/jet/database.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/script/create_script.h"

namespace fs = std::filesystem;
using namespace tab;

namespace {

std::string tempPath(const std::string& name) {
    return (fs::temp_directory_path() /
            ("tabulary-script-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

Result<script::ScriptStats> run(const std::string& path, const std::string& text) {
    auto w = jet::DatabaseWriter::create(path);
    if (!w.ok()) return w.error();
    auto stats = script::runCreateScript(**w, text);
    if (!stats.ok()) return stats.error();
    TAB_TRY((*w)->finish());
    return stats;
}

// Rows of a table as text, one line per row, cells separated by '|'.
std::string dump(const std::string& path, const std::string& table) {
    auto db = jet::Database::open(path);
    if (!db.ok()) return db.error().message();
    auto t = (*db)->table(table);
    if (!t.ok()) return t.error().message();
    std::string out;
    jet::TableCursor c(**db, *t);
    while (true) {
        auto more = c.next();
        if (!more.ok()) return more.error().message();
        if (!*more) break;
        for (size_t i = 0; i < c.values().size(); ++i)
            out += (i ? "|" : "") + jet::valueToText(c.values()[i]);
        out += "\n";
    }
    return out;
}

}  // namespace

TEST(CreateScript, LiteralsAndConstraintsRoundTrip) {
    std::string path = tempPath("ok.mdb");
    const char* text = R"(
-- every literal form
CREATE TABLE [Order Lines] (
  Id COUNTER,
  Name TEXT(20) NOT NULL DEFAULT 'n/a',
  Price CURRENCY,
  Ratio DOUBLE,
  Exact DECIMAL(8, 3),
  Small SHORT,
  Tiny BYTE,
  Seen YESNO DEFAULT TRUE,
  Stamp DATETIME,
  Blob OLEOBJECT,
  Tag GUID,
  Notes MEMO,
  CONSTRAINT PK PRIMARY KEY (Id)
);
CREATE UNIQUE INDEX ByName ON [Order Lines] (Name DESC) WITH DISALLOW NULL;
INSERT INTO [Order Lines] (Name, Price, Ratio, Exact, Small, Tiny, Seen, Stamp, Blob, Tag, Notes) VALUES
  ('O''Hara', 19.99, 0.05, -12.5, -7, 255, TRUE, #2024-02-29 23:59:58#, 0x00FF10, {01234567-89AB-CDEF-0123-456789ABCDEF}, 'multi
line'),
  ('Ünal', -3, 1e, NULL, NULL, NULL, FALSE, #1899-12-30#, NULL, NULL, NULL);
)";
    auto bad = run(path, text);
    ASSERT_FALSE(bad.ok());  // "1e" is not a number
    EXPECT_NE(bad.error().message().find("line 22"), std::string::npos) << bad.error().message();
    std::string fixed = text;
    fixed.replace(fixed.find("1e,"), 3, "2,");
    auto ok = run(path, fixed);
    ASSERT_TRUE(ok.ok()) << ok.error().message();
    EXPECT_EQ(ok->tables, 1u);
    EXPECT_EQ(ok->rows, 2u);
    // Decimals without trailing zeros and day 0 as a bare time, as Access shows them.
    EXPECT_EQ(dump(path, "Order Lines"),
              "1|O'Hara|19.99|0.05|-12.5|-7|255|True|2024-02-29 23:59:58|0x00FF10|"
              "{01234567-89AB-CDEF-0123-456789ABCDEF}|multi\nline\n"
              "2|\xC3\x9Cnal|-3|2||||False|00:00:00|||\n");
    auto db = jet::Database::open(path);
    ASSERT_TRUE(db.ok());
    auto t = (*db)->table("Order Lines");
    ASSERT_TRUE(t.ok());
    EXPECT_TRUE((*t)->columns[1].required);
    ASSERT_EQ((*t)->indexes.size(), 2u);
    EXPECT_TRUE((*t)->indexes[0].primaryKey());
    const jet::RealIndex& byName = (*t)->realIndexes[(*t)->indexes[1].realIndex];
    EXPECT_TRUE(byName.unique());
    EXPECT_TRUE(byName.required());
    EXPECT_FALSE(byName.columns[0].ascending);
    fs::remove(path);
}

TEST(CreateScript, MistakesNameTheirLine) {
    const std::string table = "CREATE TABLE t (a LONG PRIMARY KEY, b TEXT(5));\n";
    struct Case {
        std::string text;
        std::string message;
    };
    const std::vector<Case> cases = {
        {table + "INSERT INTO t VALUES (1, 'x', 3);", "line 2: row has more values"},
        {table + "INSERT INTO t VALUES (1, 'x);", "line 2: unterminated string"},
        {"CREATE TABLE t (a FOO);", "line 1: unknown column type FOO"},
        {"INSERT INTO nope VALUES (1);", "line 1: no table nope"},
        {table + "INSERT INTO t VALUES (1, 'x'), (1, 'y');",
         "line 2: table \"t\": duplicate value"},
        {table + "INSERT INTO t VALUES (1, 'toolong');",
         "line 2: column \"b\": text of 7 characters"},
        {table + "INSERT INTO t (a, c) VALUES (1, 2);", "line 2: table t has no column c"},
        {table + "INSERT INTO t VALUES (1, 'x');\nCREATE INDEX i ON t (b);",
         "line 3: indexes of t must be created"},
        {"CREATE TABLE t (a TEXT(300));", "line 1: number 300 is too large"},
        {"CREATE TABLE t (a DATETIME);\nINSERT INTO t VALUES (#2024-13-01#);", "line 2: bad date"},
        {"CREATE TABLE t (a OLEOBJECT);\nINSERT INTO t VALUES (0xABC);",
         "line 2: binary literal with an odd"},
        {"CREATE TABLE t (a GUID);\nINSERT INTO t VALUES ({1234});", "line 2: bad GUID"},
        {"CREATE TABLE t (a LONG) $", "line 1: unexpected character '$'"},
        {"CREATE TABLE [t (a LONG);", "line 1: unterminated name in brackets"},
        {"CREATE TABLE t (a LONG);\nCREATE TABLE T (b LONG);", "line 2: table T is created twice"},
        {"DROP TABLE t;", "line 1: expected CREATE TABLE"},
        {"CREATE TABLE t (a LONG", "line 1: expected ',', found the end of the script"},
        {"CREATE TABLE [a.b] (a LONG);", "character Access does not allow"},
    };
    for (const auto& c : cases) {
        std::string path = tempPath("bad.mdb");
        auto r = run(path, c.text);
        ASSERT_FALSE(r.ok()) << c.text;
        EXPECT_NE(r.error().message().find(c.message), std::string::npos)
            << c.text << "\n -> " << r.error().message();
        EXPECT_FALSE(fs::exists(path)) << c.text;
    }
}
