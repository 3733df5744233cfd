// Canonical SQL and tree-form dumps of statements: one walk over queries,
// clauses and statements for both; only the expressions inside differ
// (printer_expressions.cpp).
#include <string>
#include <variant>

#include "printer_internal.h"
#include "tabulary/accsql/printer.h"

namespace tab::accsql {

namespace {

const char* refActionText(RefAction a) {
    switch (a) {
        case RefAction::Cascade:
            return "CASCADE";
        case RefAction::SetNull:
            return "SET NULL";
        case RefAction::NoAction:
            return "NO ACTION";
        case RefAction::None:
            break;
    }
    return "";
}

}  // namespace

namespace detail {

void Printer::from(const FromItem& f) {
    switch (f.kind) {
        case FromItem::Kind::Table:
            name(f.table);
            if (!f.database.empty()) {
                out += " IN '";
                for (char c : f.database) out += c == '\'' ? std::string("''") : std::string(1, c);
                out += '\'';
            }
            alias(f);
            break;
        case FromItem::Kind::Derived:
            out += '(';
            query(*f.query);
            out += ')';
            alias(f);
            break;
        case FromItem::Kind::Join:
            out += '(';
            from(*f.left);
            switch (f.join) {
                case JoinType::Inner:
                    out += " INNER JOIN ";
                    break;
                case JoinType::Left:
                    out += f.outerKeyword ? " LEFT OUTER JOIN " : " LEFT JOIN ";
                    break;
                case JoinType::Right:
                    out += f.outerKeyword ? " RIGHT OUTER JOIN " : " RIGHT JOIN ";
                    break;
            }
            from(*f.right);
            out += " ON ";
            expr(*f.on);
            out += ')';
            break;
    }
}

void Printer::alias(const FromItem& f) {
    if (!f.alias) return;
    out += f.aliasWithAs ? " AS " : " ";
    name(*f.alias);
}

void Printer::fromList(const std::vector<FromItemPtr>& items) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        from(*items[i]);
    }
}

void Printer::select(const SelectCore& s) {
    out += "SELECT";
    switch (s.quantifier) {
        case SetQuantifier::Default:
            break;
        case SetQuantifier::All:
            out += " ALL";
            break;
        case SetQuantifier::Distinct:
            out += " DISTINCT";
            break;
        case SetQuantifier::DistinctRow:
            out += " DISTINCTROW";
            break;
    }
    if (s.top) {
        out += " TOP " + s.top->count.text;
        if (s.top->percent) out += " PERCENT";
    }
    for (size_t i = 0; i < s.items.size(); ++i) {
        out += i ? ", " : " ";
        const SelectItem& it = s.items[i];
        switch (it.kind) {
            case SelectItem::Kind::Star:
                out += '*';
                break;
            case SelectItem::Kind::TableStar:
                qname(it.table);
                out += ".*";
                break;
            case SelectItem::Kind::Expr:
                expr(*it.expr);
                if (it.alias) {
                    out += " AS ";
                    name(*it.alias);
                }
                break;
        }
    }
    if (s.into) {
        out += " INTO ";
        name(*s.into);
    }
    if (!s.from.empty()) {
        out += " FROM ";
        fromList(s.from);
    }
    if (s.where) {
        out += " WHERE ";
        expr(*s.where);
    }
    if (!s.groupBy.empty()) {
        out += " GROUP BY ";
        exprs(s.groupBy, 0);
    }
    if (s.having) {
        out += " HAVING ";
        expr(*s.having);
    }
}

void Printer::orderBy(const std::vector<OrderItem>& items) {
    if (items.empty()) return;
    out += " ORDER BY ";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        expr(*items[i].expr);
        if (items[i].explicitDirection) out += items[i].descending ? " DESC" : " ASC";
    }
}

void Printer::term(const QueryTerm& t) {
    switch (t.kind) {
        case QueryTerm::Kind::Select:
            select(*t.select);
            break;
        case QueryTerm::Kind::Table:
            out += "TABLE ";
            name(t.table);
            break;
        case QueryTerm::Kind::Nested:
            out += '(';
            query(*t.nested);
            out += ')';
            break;
    }
}

void Printer::query(const Query& q) {
    if (q.transform) {
        const Transform& tr = *q.transform;
        out += "TRANSFORM ";
        expr(*tr.aggregate);
        if (tr.alias) {
            out += " AS ";
            name(*tr.alias);
        }
        out += ' ';
        term(q.terms.front());
        orderBy(q.orderBy);
        out += " PIVOT ";
        expr(*tr.pivot);
        if (tr.hasInList) {
            out += " IN (";
            exprs(tr.inList, 0);
            out += ')';
        }
    } else {
        for (size_t i = 0; i < q.terms.size(); ++i) {
            if (i)
                out += i - 1 < q.unionAll.size() && q.unionAll[i - 1] ? " UNION ALL " : " UNION ";
            term(q.terms[i]);
        }
        orderBy(q.orderBy);
    }
    if (q.ownerAccess) out += " WITH OWNERACCESS OPTION";
}

void Printer::type(const TypeName& t) {
    out += t.name;
    if (t.args.empty()) return;
    out += '(';
    for (size_t i = 0; i < t.args.size(); ++i) {
        if (i) out += ", ";
        out += std::to_string(t.args[i]);
    }
    out += ')';
}

void Printer::params(const std::vector<ParamDecl>& ps) {
    for (size_t i = 0; i < ps.size(); ++i) {
        if (i) out += ", ";
        name(ps[i].name);
        out += ' ';
        type(ps[i].type);
    }
}

void Printer::references(const References& r) {
    out += "REFERENCES ";
    name(r.table);
    if (!r.columns.empty()) {
        out += ' ';
        names(r.columns);
    }
    if (r.onUpdate != RefAction::None)
        out += std::string(" ON UPDATE ") + refActionText(r.onUpdate);
    if (r.onDelete != RefAction::None)
        out += std::string(" ON DELETE ") + refActionText(r.onDelete);
}

void Printer::constraint(const Constraint& c, bool table) {
    if (c.name) {
        out += "CONSTRAINT ";
        name(*c.name);
        out += ' ';
    }
    switch (c.kind) {
        case Constraint::Kind::PrimaryKey:
            out += "PRIMARY KEY";
            break;
        case Constraint::Kind::Unique:
            out += "UNIQUE";
            break;
        case Constraint::Kind::NotNull:
            out += "NOT NULL";
            break;
        case Constraint::Kind::ForeignKey:
            if (table) {
                out += "FOREIGN KEY ";
                if (c.noIndex) out += "NO INDEX ";
                names(c.columns);
                out += ' ';
            }
            references(c.references);
            break;
        case Constraint::Kind::Check:
            out += "CHECK (";
            expr(*c.check);
            out += ')';
            break;
    }
    if (table && c.kind != Constraint::Kind::ForeignKey && c.kind != Constraint::Kind::Check) {
        out += ' ';
        names(c.columns);
    }
}

void Printer::column(const ColumnDef& c) {
    name(c.name);
    out += ' ';
    type(c.type);
    if (c.notNull) out += *c.notNull ? " NOT NULL" : " NULL";
    if (c.defaultValue) {
        out += " DEFAULT ";
        expr(*c.defaultValue);
    }
    if (c.compression) out += " WITH COMPRESSION";
    for (const auto& k : c.constraints) {
        out += ' ';
        constraint(k, false);
    }
}

void Printer::statement(const Statement& s) {
    if (s.hasParameters) {
        out += "PARAMETERS ";
        params(s.parameters);
        out += "; ";
    }
    body(s);
}

void Printer::body(const Statement& s) {
    if (s.query) return query(*s.query);
    std::visit([this](const auto& b) { stmt(b); }, s.body);
}

void Printer::stmt(const InsertStmt& i) {
    out += "INSERT INTO ";
    name(i.table);
    if (i.hasColumnList) {
        out += ' ';
        names(i.columns);
    }
    if (i.query) {
        out += ' ';
        query(*i.query);
    } else {
        out += " VALUES (";
        exprs(i.values, 0);
        out += ')';
    }
}

void Printer::stmt(const UpdateStmt& u) {
    out += u.distinctRow ? "UPDATE DISTINCTROW " : "UPDATE ";
    from(*u.target);
    out += " SET ";
    for (size_t i = 0; i < u.assignments.size(); ++i) {
        if (i) out += ", ";
        qname(u.assignments[i].column);
        out += " = ";
        expr(*u.assignments[i].value);
    }
    if (u.where) {
        out += " WHERE ";
        expr(*u.where);
    }
}

void Printer::stmt(const DeleteStmt& d) {
    out += d.distinctRow ? "DELETE DISTINCTROW" : "DELETE";
    if (d.star) out += " *";
    for (size_t i = 0; i < d.tables.size(); ++i) {
        out += i ? ", " : " ";
        qname(d.tables[i]);
        out += ".*";
    }
    out += " FROM ";
    fromList(d.from);
    if (d.where) {
        out += " WHERE ";
        expr(*d.where);
    }
}

void Printer::stmt(const CreateTableStmt& c) {
    out += c.temporary ? "CREATE TEMPORARY TABLE " : "CREATE TABLE ";
    name(c.table);
    out += " (";
    bool first = true;
    for (const auto& col : c.columns) {
        if (!first) out += ", ";
        first = false;
        column(col);
    }
    for (const auto& k : c.constraints) {
        out += ", ";
        constraint(k, true);
    }
    out += ')';
}

void Printer::stmt(const AlterTableStmt& a) {
    out += "ALTER TABLE ";
    name(a.table);
    const char* col = a.columnKeyword ? "COLUMN " : "";
    switch (a.action) {
        case AlterTableStmt::Action::AddColumn:
            out += std::string(" ADD ") + col;
            column(a.column);
            break;
        case AlterTableStmt::Action::AlterColumn:
            out += std::string(" ALTER ") + col;
            column(a.column);
            break;
        case AlterTableStmt::Action::DropColumn:
            out += std::string(" DROP ") + col;
            name(a.name);
            break;
        case AlterTableStmt::Action::AddConstraint:
            out += " ADD ";
            constraint(a.constraint, true);
            break;
        case AlterTableStmt::Action::DropConstraint:
            out += " DROP CONSTRAINT ";
            name(a.name);
            break;
    }
}

void Printer::stmt(const CreateIndexStmt& c) {
    out += c.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
    name(c.index);
    out += " ON ";
    name(c.table);
    out += " (";
    for (size_t i = 0; i < c.columns.size(); ++i) {
        if (i) out += ", ";
        name(c.columns[i].name);
        if (c.columns[i].explicitDirection) out += c.columns[i].descending ? " DESC" : " ASC";
    }
    out += ')';
    if (c.primary || c.disallowNull || c.ignoreNull) {
        out += " WITH";
        if (c.primary) out += " PRIMARY";
        if (c.disallowNull) out += " DISALLOW NULL";
        if (c.ignoreNull) out += " IGNORE NULL";
    }
}

void Printer::stmt(const DropStmt& d) {
    switch (m_kind) {
        case StatementKind::DropIndex:
            out += "DROP INDEX ";
            name(d.name);
            out += " ON ";
            name(d.table);
            return;
        case StatementKind::DropView:
            out += "DROP VIEW ";
            break;
        case StatementKind::DropProcedure:
            out += "DROP PROCEDURE ";
            break;
        default:
            out += "DROP TABLE ";
            break;
    }
    name(d.name);
}

void Printer::stmt(const CreateViewStmt& v) {
    out += "CREATE VIEW ";
    name(v.view);
    if (!v.columns.empty()) {
        out += ' ';
        names(v.columns);
    }
    out += " AS ";
    query(*v.query);
}

void Printer::stmt(const CreateProcedureStmt& p) {
    out += "CREATE PROCEDURE ";
    name(p.procedure);
    if (p.parenthesised) {
        out += " (";
        params(p.params);
        out += ')';
    } else if (!p.params.empty()) {
        out += ' ';
        params(p.params);
    }
    out += " AS ";
    const StatementKind saved = m_kind;
    m_kind = p.body->kind;
    body(*p.body);
    m_kind = saved;
}

void Printer::stmt(const ExecuteStmt& e) {
    out += e.shortForm ? "EXEC " : "EXECUTE ";
    name(e.procedure);
    if (!e.args.empty()) {
        out += ' ';
        exprs(e.args, 0);
    }
}

void Printer::stmt(const TransactionStmt& t) {
    switch (t.kind) {
        case TransactionStmt::Kind::Begin:
            out += "BEGIN";
            break;
        case TransactionStmt::Kind::Commit:
            out += "COMMIT";
            break;
        case TransactionStmt::Kind::Rollback:
            out += "ROLLBACK";
            break;
    }
    if (!t.trailer.empty()) out += ' ' + t.trailer;
}

}  // namespace detail

std::string print(const Statement& s) {
    detail::Printer p(false);
    p.m_kind = s.kind;
    p.statement(s);
    return p.out;
}

std::string dump(const Statement& s) {
    detail::Printer p(true);
    p.m_kind = s.kind;
    p.out = std::string("[") + statementKindName(s.kind) + "] ";
    p.statement(s);
    return p.out;
}

}  // namespace tab::accsql
