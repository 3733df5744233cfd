// The RAII wrappers: statements, parameters, column access and errors.
#include "tabulary/sqlbridge/sqlite.h"

#include <gtest/gtest.h>

namespace tab::sqlbridge {
namespace {

TEST(Sqlite, BindsAndReadsEveryStorageClass) {
    auto conn = Connection::openMemory();
    ASSERT_TRUE(conn.ok());
    auto st = Statement::prepare(*conn, "SELECT ?1, ?2, ?3, ?4, ?5, typeof(?4)");
    ASSERT_TRUE(st.ok()) << st.error().message();
    ASSERT_TRUE(st->bindNull(1).ok());
    ASSERT_TRUE(st->bindInt64(2, -9000000000LL).ok());
    ASSERT_TRUE(st->bindDouble(3, 2.5).ok());
    ASSERT_TRUE(st->bindText(4, std::string_view("a\0b", 3)).ok());
    ASSERT_TRUE(st->bindBlob(5, std::string_view("\x00\xFF", 2)).ok());
    auto row = st->step();
    ASSERT_TRUE(row.ok() && *row);
    EXPECT_EQ(st->columnCount(), 6);
    EXPECT_TRUE(st->isNull(0));
    EXPECT_EQ(st->columnInt64(1), -9000000000LL);
    EXPECT_EQ(st->columnDouble(2), 2.5);
    EXPECT_EQ(st->columnText(3), std::string("a\0b", 3));
    EXPECT_EQ(st->columnBlob(4), std::string("\x00\xFF", 2));
    EXPECT_EQ(st->columnType(4), SQLITE_BLOB);
    EXPECT_EQ(st->columnText(5), "text");
    auto done = st->step();
    ASSERT_TRUE(done.ok());
    EXPECT_FALSE(*done);
}

TEST(Sqlite, ErrorsCarrySqlitesMessage) {
    auto conn = Connection::openMemory();
    ASSERT_TRUE(conn.ok());
    struct Case {
        const char* sql;
        const char* fragment;
    };
    const Case cases[] = {
        {"SELEC 1", "syntax error"},
        {"SELECT * FROM nowhere", "no such table: nowhere"},
        {"SELECT 1; SELECT 2", "more than one SQL statement"},
        {"", "no SQL statement"},
    };
    for (const Case& c : cases) {
        auto st = Statement::prepare(*conn, c.sql);
        ASSERT_FALSE(st.ok()) << c.sql;
        EXPECT_NE(st.error().message().find(c.fragment), std::string::npos)
            << c.sql << ": " << st.error().message();
    }
    Status s = conn->exec("CREATE TABLE t(a); CREATE TABLE t(a)");
    ASSERT_FALSE(s.ok());
    EXPECT_NE(s.error().message().find("already exists"), std::string::npos) << s.error().message();

    ASSERT_TRUE(conn->exec("CREATE TABLE u(a UNIQUE); INSERT INTO u VALUES (1)").ok());
    auto ins = Statement::prepare(*conn, "INSERT INTO u VALUES (1)");
    ASSERT_TRUE(ins.ok());
    auto r = ins->step();
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.error().message().find("UNIQUE constraint failed"), std::string::npos);
    auto bad = Statement::prepare(*conn, "SELECT ?");
    ASSERT_TRUE(bad.ok());
    EXPECT_FALSE(bad->bindInt64(2, 1).ok());
}

TEST(Sqlite, QuotesIdentifiers) {
    struct Case {
        const char* name;
        const char* quoted;
    };
    const Case cases[] = {
        {"Orders", "\"Orders\""},
        {"Order Lines", "\"Order Lines\""},
        {"a\"b", "\"a\"\"b\""},
        {"", "\"\""},
    };
    auto conn = Connection::openMemory();
    ASSERT_TRUE(conn.ok());
    for (const Case& c : cases) {
        EXPECT_EQ(quoteIdentifier(c.name), c.quoted);
        if (!*c.name) continue;
        // The quoted form names the same thing to SQLite.
        std::string q = quoteIdentifier(c.name);
        ASSERT_TRUE(conn->exec("CREATE TABLE " + q + "(" + q + ")").ok()) << q;
        auto st = Statement::prepare(
            *conn, "SELECT name FROM pragma_table_info(" + std::string("'") + c.name + "')");
        ASSERT_TRUE(st.ok()) << st.error().message();
        auto row = st->step();
        ASSERT_TRUE(row.ok() && *row);
        EXPECT_EQ(st->columnText(0), c.name);
    }
}

}  // namespace
}  // namespace tab::sqlbridge
