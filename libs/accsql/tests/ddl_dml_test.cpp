// The structure of action and DDL statements: what a later executor needs
// to read from the tree, field by field.
#include <gtest/gtest.h>

#include "test_util.h"

using namespace tab::accsql;
using namespace tab::accsql::test;

namespace {

TEST(Ddl, CreateTableColumnsAndConstraints) {
    auto r = parse(
        "CREATE TABLE Customers (ID COUNTER CONSTRAINT PK PRIMARY KEY, "
        "Code TEXT(10) NOT NULL CONSTRAINT UQ UNIQUE, Name TEXT(50) WITH COMP, "
        "Rating DECIMAL(5,2) DEFAULT 1 + 1, "
        "ParentID LONG REFERENCES Customers (ID) ON DELETE SET NULL ON UPDATE CASCADE, "
        "CONSTRAINT FK FOREIGN KEY NO INDEX (Code) REFERENCES Codes, "
        "CONSTRAINT CK CHECK (Rating >= 0))");
    ASSERT_TRUE(r.ok()) << firstError(r);
    const auto& ct = std::get<CreateTableStmt>(r.statement->body);
    EXPECT_EQ(ct.table.text, "Customers");
    ASSERT_EQ(ct.columns.size(), 5u);
    EXPECT_EQ(ct.columns[0].type.name, "COUNTER");
    ASSERT_EQ(ct.columns[0].constraints.size(), 1u);
    EXPECT_EQ(ct.columns[0].constraints[0].kind, Constraint::Kind::PrimaryKey);
    EXPECT_EQ(ct.columns[0].constraints[0].name->text, "PK");
    EXPECT_EQ(ct.columns[1].type.args, std::vector<int64_t>{10});
    EXPECT_EQ(ct.columns[1].notNull, std::optional<bool>(true));
    EXPECT_EQ(ct.columns[1].constraints.at(0).kind, Constraint::Kind::Unique);
    EXPECT_TRUE(ct.columns[2].compression);
    EXPECT_FALSE(ct.columns[2].notNull.has_value());
    EXPECT_EQ(ct.columns[3].type.args, (std::vector<int64_t>{5, 2}));
    ASSERT_TRUE(ct.columns[3].defaultValue);
    EXPECT_EQ(dump(*ct.columns[3].defaultValue), "(+ 1 1)");
    const Constraint& ref = ct.columns[4].constraints.at(0);
    EXPECT_EQ(ref.kind, Constraint::Kind::ForeignKey);
    EXPECT_FALSE(ref.name.has_value());
    EXPECT_EQ(ref.references.table.text, "Customers");
    EXPECT_EQ(ref.references.onDelete, RefAction::SetNull);
    EXPECT_EQ(ref.references.onUpdate, RefAction::Cascade);
    ASSERT_EQ(ct.constraints.size(), 2u);
    EXPECT_EQ(ct.constraints[0].kind, Constraint::Kind::ForeignKey);
    EXPECT_TRUE(ct.constraints[0].noIndex);
    EXPECT_EQ(ct.constraints[0].columns.at(0).text, "Code");
    EXPECT_TRUE(ct.constraints[0].references.columns.empty());
    EXPECT_EQ(ct.constraints[1].kind, Constraint::Kind::Check);
    EXPECT_EQ(dump(*ct.constraints[1].check), "(>= Rating 0)");
}

TEST(Ddl, AlterIndexDrop) {
    auto a = parse("ALTER TABLE t ALTER COLUMN ID COUNTER(100, -1)");
    ASSERT_TRUE(a.ok()) << firstError(a);
    const auto& at = std::get<AlterTableStmt>(a.statement->body);
    EXPECT_EQ(at.action, AlterTableStmt::Action::AlterColumn);
    EXPECT_TRUE(at.columnKeyword);
    EXPECT_EQ(at.column.type.args, (std::vector<int64_t>{100, -1}));

    auto i = parse("CREATE UNIQUE INDEX ix ON t (a DESC, [b c]) WITH IGNORE NULL");
    ASSERT_TRUE(i.ok()) << firstError(i);
    const auto& ci = std::get<CreateIndexStmt>(i.statement->body);
    EXPECT_TRUE(ci.unique);
    EXPECT_TRUE(ci.ignoreNull);
    EXPECT_FALSE(ci.primary);
    ASSERT_EQ(ci.columns.size(), 2u);
    EXPECT_TRUE(ci.columns[0].descending);
    EXPECT_FALSE(ci.columns[1].descending);
    EXPECT_EQ(ci.columns[1].name.text, "b c");

    auto d = parse("DROP INDEX ix ON t");
    ASSERT_TRUE(d.ok()) << firstError(d);
    const auto& ds = std::get<DropStmt>(d.statement->body);
    EXPECT_EQ(ds.name.text, "ix");
    EXPECT_EQ(ds.table.text, "t");
}

TEST(Dml, InsertUpdateDelete) {
    auto i = parse("INSERT INTO t (a, b) VALUES (1, 'x')");
    ASSERT_TRUE(i.ok()) << firstError(i);
    const auto& ins = std::get<InsertStmt>(i.statement->body);
    EXPECT_TRUE(ins.hasColumnList);
    ASSERT_EQ(ins.columns.size(), 2u);
    ASSERT_EQ(ins.values.size(), 2u);
    EXPECT_FALSE(ins.query);

    auto is = parse("INSERT INTO t SELECT * FROM u");
    ASSERT_TRUE(is.ok()) << firstError(is);
    EXPECT_TRUE(std::get<InsertStmt>(is.statement->body).query);
    EXPECT_FALSE(std::get<InsertStmt>(is.statement->body).hasColumnList);

    auto u = parse("UPDATE a INNER JOIN b ON a.k = b.k SET a.x = b.y, z = 1 WHERE b.c = 2");
    ASSERT_TRUE(u.ok()) << firstError(u);
    const auto& up = std::get<UpdateStmt>(u.statement->body);
    EXPECT_EQ(up.target->kind, FromItem::Kind::Join);
    ASSERT_EQ(up.assignments.size(), 2u);
    EXPECT_EQ(up.assignments[0].column.parts.size(), 2u);
    EXPECT_EQ(dump(*up.assignments[0].value), "b.y");
    ASSERT_TRUE(up.where);

    auto d = parse("DELETE DISTINCTROW o.*, c.* FROM o INNER JOIN c ON o.k = c.k");
    ASSERT_TRUE(d.ok()) << firstError(d);
    const auto& del = std::get<DeleteStmt>(d.statement->body);
    EXPECT_TRUE(del.distinctRow);
    EXPECT_FALSE(del.star);
    ASSERT_EQ(del.tables.size(), 2u);
    EXPECT_EQ(del.tables[1].parts[0].text, "c");
    EXPECT_FALSE(del.where);
}

TEST(Ddl, ProcedureAndExecute) {
    auto p = parse("CREATE PROCEDURE p ([a] LONG, b TEXT(5)) AS UPDATE t SET x = a WHERE y = b");
    ASSERT_TRUE(p.ok()) << firstError(p);
    const auto& cp = std::get<CreateProcedureStmt>(p.statement->body);
    EXPECT_TRUE(cp.parenthesised);
    ASSERT_EQ(cp.params.size(), 2u);
    EXPECT_EQ(cp.params[1].type.name, "TEXT");
    ASSERT_TRUE(cp.body);
    EXPECT_EQ(cp.body->kind, StatementKind::Update);
    EXPECT_FALSE(returnsRows(*p.statement));

    auto e = parse("EXEC p 1, 'x'");
    ASSERT_TRUE(e.ok()) << firstError(e);
    const auto& ex = std::get<ExecuteStmt>(e.statement->body);
    EXPECT_TRUE(ex.shortForm);
    EXPECT_EQ(ex.procedure.text, "p");
    EXPECT_EQ(ex.args.size(), 2u);
}

TEST(Query, ClausesLandInTheirFields) {
    auto r = parse(
        "SELECT DISTINCTROW TOP 10 PERCENT a AS x, t.* FROM t AS u, v WHERE a > 1 GROUP BY a, b "
        "HAVING Count(*) > 1 UNION ALL SELECT 1, 2 FROM w ORDER BY x DESC, 2 "
        "WITH OWNERACCESS OPTION");
    ASSERT_TRUE(r.ok()) << firstError(r);
    const Query& q = *r.statement->query;
    ASSERT_EQ(q.terms.size(), 2u);
    EXPECT_EQ(q.unionAll, std::vector<bool>{true});
    const SelectCore& s = *q.terms[0].select;
    EXPECT_EQ(s.quantifier, SetQuantifier::DistinctRow);
    ASSERT_TRUE(s.top);
    EXPECT_EQ(*s.top->count.intValue, 10);
    EXPECT_TRUE(s.top->percent);
    ASSERT_EQ(s.items.size(), 2u);
    EXPECT_EQ(s.items[0].alias->text, "x");
    EXPECT_EQ(s.items[1].kind, SelectItem::Kind::TableStar);
    ASSERT_EQ(s.from.size(), 2u);
    EXPECT_EQ(s.from[0]->alias->text, "u");
    EXPECT_TRUE(s.from[0]->aliasWithAs);
    EXPECT_FALSE(s.from[1]->alias);
    EXPECT_EQ(s.groupBy.size(), 2u);
    ASSERT_TRUE(s.having);
    ASSERT_EQ(q.orderBy.size(), 2u);
    EXPECT_TRUE(q.orderBy[0].descending);
    EXPECT_FALSE(q.orderBy[1].descending);
    EXPECT_FALSE(q.orderBy[1].explicitDirection);
    EXPECT_TRUE(q.ownerAccess);

    auto t = parse("TRANSFORM Sum(x) AS s SELECT a FROM t GROUP BY a PIVOT b IN (1, 'two')");
    ASSERT_TRUE(t.ok()) << firstError(t);
    const Transform& tr = *t.statement->query->transform;
    EXPECT_EQ(dump(*tr.aggregate), "(call Sum x)");
    EXPECT_EQ(tr.alias->text, "s");
    EXPECT_EQ(dump(*tr.pivot), "b");
    EXPECT_TRUE(tr.hasInList);
    EXPECT_EQ(tr.inList.size(), 2u);
}

}  // namespace
