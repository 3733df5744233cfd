// The printer's walk, shared by its two files: printer_expressions.cpp
// prints names and expressions (as SQL text or in the tree form),
// printer.cpp the queries and statements around them.
#pragma once

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

#include "tabulary/accsql/ast.h"

namespace tab::accsql::detail {

class Printer {
public:
    explicit Printer(bool sexpr) : m_sexpr(sexpr) {}
    std::string out;

    // ---- names and expressions (printer_expressions.cpp) ------------------
    void name(const Name& n);
    void qname(const QualifiedName& q);
    void names(const std::vector<Name>& ns);
    void exprs(const std::vector<ExprPtr>& es, size_t from);
    void stringLit(const Expr& e);
    void infixOp(const Expr& e);
    void expr(const Expr& e);
    void sexpr(const Expr& e);

    // ---- queries and statements (printer.cpp) -----------------------------
    void from(const FromItem& f);
    void alias(const FromItem& f);
    void fromList(const std::vector<FromItemPtr>& items);
    void select(const SelectCore& s);
    void orderBy(const std::vector<OrderItem>& items);
    void term(const QueryTerm& t);
    void query(const Query& q);
    void type(const TypeName& t);
    void params(const std::vector<ParamDecl>& ps);
    void references(const References& r);
    void constraint(const Constraint& c, bool table);
    void column(const ColumnDef& c);
    void statement(const Statement& s);
    void body(const Statement& s);
    void stmt(const std::monostate&) {}
    void stmt(const InsertStmt& i);
    void stmt(const UpdateStmt& u);
    void stmt(const DeleteStmt& d);
    void stmt(const CreateTableStmt& c);
    void stmt(const AlterTableStmt& a);
    void stmt(const CreateIndexStmt& c);
    void stmt(const DropStmt& d);
    void stmt(const CreateViewStmt& v);
    void stmt(const CreateProcedureStmt& p);
    void stmt(const ExecuteStmt& e);
    void stmt(const TransactionStmt& t);

    StatementKind m_kind = StatementKind::Select;

private:
    bool m_sexpr;
};

}  // namespace tab::accsql::detail
