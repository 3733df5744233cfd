// Statement kinds, row-returning classification, diagnostics and limits.
#include <gtest/gtest.h>

#include "test_util.h"

using namespace tab::accsql;
using namespace tab::accsql::test;

namespace {

struct KindCase {
    const char* sql;
    StatementKind kind;
    bool rows;
};

const KindCase kKinds[] = {
    {"SELECT 1", StatementKind::Select, true},
    {"   \n\t SELECT * FROM t;", StatementKind::Select, true},
    {"SELECT * INTO b FROM t", StatementKind::SelectInto, false},
    {"(SELECT a FROM t) UNION (SELECT b FROM u)", StatementKind::Select, true},
    {"TABLE t UNION ALL TABLE u", StatementKind::Select, true},
    {"TRANSFORM Sum(x) SELECT a FROM t GROUP BY a PIVOT b", StatementKind::Select, true},
    {"PARAMETERS p Long; SELECT * FROM t WHERE a = p", StatementKind::Select, true},
    {"INSERT INTO t VALUES (1)", StatementKind::Insert, false},
    {"INSERT INTO t (a) SELECT a FROM u", StatementKind::Insert, false},
    {"UPDATE t SET a = 1", StatementKind::Update, false},
    {"DELETE FROM t", StatementKind::Delete, false},
    {"CREATE TABLE t (a LONG)", StatementKind::CreateTable, false},
    {"ALTER TABLE t ADD COLUMN b TEXT(10)", StatementKind::AlterTable, false},
    {"CREATE INDEX i ON t (a)", StatementKind::CreateIndex, false},
    {"DROP TABLE t", StatementKind::DropTable, false},
    {"DROP INDEX i ON t", StatementKind::DropIndex, false},
    {"DROP VIEW v", StatementKind::DropView, false},
    {"DROP PROCEDURE p", StatementKind::DropProcedure, false},
    {"CREATE VIEW v AS SELECT * FROM t", StatementKind::CreateView, false},
    {"CREATE PROCEDURE p AS DELETE FROM t", StatementKind::CreateProcedure, false},
    {"EXECUTE p 1, 'x'", StatementKind::Execute, false},
    {"BEGIN TRANSACTION", StatementKind::Transaction, false},
    {"COMMIT", StatementKind::Transaction, false},
    {"ROLLBACK WORK", StatementKind::Transaction, false},
};

TEST(Statement, KindsAndRowReturning) {
    for (const auto& c : kKinds) {
        auto r = parse(c.sql);
        ASSERT_TRUE(r.ok()) << c.sql << ": " << firstError(r);
        EXPECT_EQ(r.statement->kind, c.kind) << c.sql;
        EXPECT_EQ(returnsRows(*r.statement), c.rows) << c.sql;
        EXPECT_TRUE(r.diagnostics.empty()) << c.sql;
    }
}

TEST(Statement, ParametersDeclaration) {
    auto r = parse(
        "PARAMETERS [Low price] Currency, [Enter name:] Text ( 255 ); "
        "SELECT * FROM t WHERE p > [Low price]");
    ASSERT_TRUE(r.ok()) << firstError(r);
    const auto& ps = r.statement->parameters;
    ASSERT_EQ(ps.size(), 2u);
    EXPECT_EQ(ps[0].name.text, "Low price");
    EXPECT_EQ(ps[0].type.name, "CURRENCY");
    EXPECT_TRUE(ps[0].type.args.empty());
    EXPECT_EQ(ps[1].name.text, "Enter name:");
    EXPECT_EQ(ps[1].type.name, "TEXT");
    ASSERT_EQ(ps[1].type.args.size(), 1u);
    EXPECT_EQ(ps[1].type.args[0], 255);
}

TEST(Statement, JoinTreeShape) {
    auto r = parse("SELECT * FROM (A INNER JOIN B ON A.k = B.k) LEFT OUTER JOIN C ON B.j = C.j");
    ASSERT_TRUE(r.ok()) << firstError(r);
    const auto& from = r.statement->query->terms.front().select->from;
    ASSERT_EQ(from.size(), 1u);
    const FromItem& top = *from[0];
    ASSERT_EQ(top.kind, FromItem::Kind::Join);
    EXPECT_EQ(top.join, JoinType::Left);
    EXPECT_TRUE(top.outerKeyword);
    ASSERT_EQ(top.left->kind, FromItem::Kind::Join);
    EXPECT_EQ(top.left->join, JoinType::Inner);
    EXPECT_EQ(top.left->left->table.text, "A");
    EXPECT_EQ(top.right->table.text, "C");
}

TEST(Statement, DiagnosticPosition) {
    auto r = parse("SELECT *\nFROM t\nWHERE a = = 1");
    ASSERT_FALSE(r.ok());
    ASSERT_EQ(r.diagnostics.size(), 1u);
    const Diagnostic& d = r.diagnostics[0];
    EXPECT_EQ(d.line, 3u);
    EXPECT_EQ(d.column, 11u);
    EXPECT_EQ(d.near, "=");
    EXPECT_FALSE(d.atEnd);
    EXPECT_EQ(d.render().rfind("Syntax error near '=' at line 3, column 11: ", 0), 0u)
        << d.render();
    EXPECT_EQ(d.toError().code(), tab::Errc::InvalidArgument);
}

TEST(Statement, ColumnsCountCharactersNotBytes) {
    auto r = parse("SELECT 'é' ==");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.diagnostics[0].column, 12u);
}

TEST(Statement, IncompleteInput) {
    for (const char* sql : {"SELECT a FROM", "SELECT (1 + 2", "SELECT a FROM t WHERE", ""}) {
        auto r = parse(sql);
        ASSERT_FALSE(r.ok()) << sql;
        EXPECT_TRUE(r.diagnostics[0].atEnd) << sql;
        EXPECT_NE(r.diagnostics[0].render().find("incomplete input"), std::string::npos) << sql;
    }
}

TEST(Statement, UnsupportedIsItsOwnKind) {
    auto r = parse("SELECT * FROM t IN [Excel 8.0;DATABASE=c:\\book.xls]");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.diagnostics[0].kind, DiagnosticKind::Unsupported);
    EXPECT_EQ(r.diagnostics[0].toError().code(), tab::Errc::Unsupported);
    EXPECT_NE(r.diagnostics[0].render().find("not supported by this program"), std::string::npos);
}

TEST(Statement, LengthLimit) {
    Limits limits;
    limits.maxSqlBytes = 20;
    EXPECT_TRUE(parse("SELECT 12345678901", limits).ok());  // 18 bytes
    auto r = parse("SELECT 1234567890123456", limits);      // 23 bytes
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.diagnostics[0].kind, DiagnosticKind::Limit);
    EXPECT_NE(r.diagnostics[0].message.find("too long"), std::string::npos);
}

TEST(Statement, DepthLimit) {
    Limits limits;
    limits.maxDepth = 20;
    auto nested = [](int n) {
        return "SELECT " + std::string(static_cast<size_t>(n), '(') + "1" +
               std::string(static_cast<size_t>(n), ')');
    };
    auto chain = [](int n) {
        std::string s = "SELECT 1";
        for (int i = 0; i < n; ++i) s += "+1";
        return s;
    };
    auto subqueries = [](int n) {
        std::string s = "SELECT 1";
        for (int i = 0; i < n; ++i) s = "SELECT (" + s + ")";
        return s;
    };
    EXPECT_TRUE(parse(nested(5), limits).ok());
    EXPECT_TRUE(parse(chain(5), limits).ok());
    EXPECT_TRUE(parse(subqueries(3), limits).ok());
    // Redundant parentheses add no height; only the stack bound (four times the
    // limit) stops them.
    EXPECT_TRUE(parse(nested(60), limits).ok());
    for (const std::string& sql : {nested(120), chain(30), subqueries(30)}) {
        auto r = parse(sql, limits);
        ASSERT_FALSE(r.ok()) << sql;
        EXPECT_EQ(r.diagnostics[0].kind, DiagnosticKind::Limit) << sql;
        EXPECT_NE(r.diagnostics[0].message.find("nested too deeply"), std::string::npos);
    }
    // The default limit stops a deep input long before the stack would.
    auto r = parse(nested(100000));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.diagnostics[0].kind, DiagnosticKind::Limit);
}

TEST(Statement, NeverBothEmptyOnGarbage) {
    const std::string inputs[] = {
        std::string("\0\0", 2), "\xff\xfe", "[", "#", "'", "SELECT [", "))))", ";", "SELECT 1;;"};
    for (const auto& s : inputs) {
        auto r = parse(s);
        EXPECT_NE(r.ok(), !r.diagnostics.empty()) << s;
        if (!r.ok()) {
            EXPECT_FALSE(r.diagnostics[0].message.empty()) << s;
        }
    }
}

}  // namespace
