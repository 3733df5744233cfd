// Data definition: data types (shared with PARAMETERS), column and table
// constraints, CREATE TABLE / INDEX / VIEW / PROCEDURE, ALTER TABLE, DROP.
#include <algorithm>
#include <iterator>
#include <string>

#include "parser_internal.h"

namespace tab::accsql::detail {

std::vector<ParamDecl> Parser::paramList(TokenKind stop) {
    std::vector<ParamDecl> out;
    do {
        ParamDecl p;
        const uint32_t start = cur().offset;
        p.name = name("a parameter name");
        if (cur().kind == stop || cur().kind == TokenKind::Comma)
            fail(cur(), "expected the parameter's data type");
        p.type = typeName();
        p.span = spanFrom(start);
        out.push_back(std::move(p));
    } while (accept(TokenKind::Comma));
    return out;
}

TypeName Parser::typeName() {
    static constexpr std::string_view kTypes[] = {
        "ALPHANUMERIC", "AUTOINCREMENT", "BIGINT",     "BINARY",     "BIT",
        "BOOLEAN",      "BYTE",          "CHAR",       "CHARACTER",  "COUNTER",
        "CURRENCY",     "DATE",          "DATETIME",   "DEC",        "DECIMAL",
        "DOUBLE",       "FLOAT",         "FLOAT4",     "FLOAT8",     "GENERAL",
        "GUID",         "IDENTITY",      "IEEEDOUBLE", "IEEESINGLE", "IMAGE",
        "INT",          "INTEGER",       "INTEGER1",   "INTEGER2",   "INTEGER4",
        "LOGICAL",      "LOGICAL1",      "LONG",       "LONGBINARY", "LONGCHAR",
        "LONGTEXT",     "MEMO",          "MONEY",      "NATIONAL",   "NCHAR",
        "NOTE",         "NTEXT",         "NUMBER",     "NUMERIC",    "NVARCHAR",
        "OLEOBJECT",    "REAL",          "SHORT",      "SINGLE",     "SMALLINT",
        "STRING",       "TEXT",          "TIME",       "TINYINT",    "UNIQUEIDENTIFIER",
        "VARBINARY",    "VARCHAR",       "YESNO"};
    TypeName ty;
    const Token& t = cur();
    if (t.kind != TokenKind::Word) fail(t, "expected a data type");
    std::string word = upperAscii(text(t));
    if (std::find(std::begin(kTypes), std::end(kTypes), word) == std::end(kTypes))
        fail(t, "unknown data type '" + std::string(text(t)) + "'");
    advance();
    ty.name = word;
    auto follows = [&](std::string_view w) {
        return cur().kind == TokenKind::Word && upperAscii(text(cur())) == w;
    };
    if (word == "NATIONAL") {
        if (!follows("CHAR") && !follows("CHARACTER"))
            fail(cur(), "expected CHAR or CHARACTER after NATIONAL");
        ty.name += " " + upperAscii(text(cur()));
        advance();
        word = "CHAR";
    }
    if (word == "DOUBLE" && follows("PRECISION")) {
        ty.name += " PRECISION";
        advance();
    } else if ((word == "CHAR" || word == "CHARACTER" || word == "BINARY" || word == "BIT") &&
               follows("VARYING")) {
        ty.name += " VARYING";
        advance();
    }
    if (accept(TokenKind::LParen)) {
        do {
            bool neg = accept(TokenKind::Minus);
            const Token& n = cur();
            if (n.kind != TokenKind::Number) fail(n, "expected a whole number");
            NumberLiteral v = numberFrom(n);
            if (!v.integral || !v.intValue || *v.intValue > 0x7fffffffLL)
                fail(n, "expected a whole number in range");
            ty.args.push_back(neg ? -*v.intValue : *v.intValue);
            advance();
        } while (accept(TokenKind::Comma) && ty.args.size() < 2);
        expect(TokenKind::RParen, "')' after the type's size");
    }
    ty.span = spanFrom(t.offset);
    return ty;
}

RefAction Parser::refAction() {
    if (acceptKw(Keyword::Cascade)) return RefAction::Cascade;
    if (acceptKw(Keyword::Set)) {
        expectKw(Keyword::Null, "NULL after SET");
        return RefAction::SetNull;
    }
    if (acceptKw(Keyword::No)) {
        expectKw(Keyword::Action, "ACTION after NO");
        return RefAction::NoAction;
    }
    fail(cur(), "expected token: CASCADE, SET NULL, or NO ACTION");
}

References Parser::references() {
    References r;
    r.table = objectName("the referenced table");
    if (cur().kind == TokenKind::LParen) r.columns = nameList("a column name");
    while (isKw(cur(), Keyword::On)) {
        advance();
        if (acceptKw(Keyword::Update)) {
            r.onUpdate = refAction();
        } else if (acceptKw(Keyword::Delete)) {
            r.onDelete = refAction();
        } else {
            fail(cur(), "expected UPDATE or DELETE after ON");
        }
    }
    return r;
}

ExprPtr Parser::checkCondition() {
    expect(TokenKind::LParen, "'(' after CHECK");
    ExprPtr e = expr();
    expect(TokenKind::RParen, "')' after the CHECK condition");
    return e;
}

bool Parser::atConstraintStart() const {
    return isKw(cur(), Keyword::Constraint) || isKw(cur(), Keyword::Primary) ||
           isKw(cur(), Keyword::Unique) || isKw(cur(), Keyword::Foreign) ||
           (isKw(cur(), Keyword::Check) && peek().kind == TokenKind::LParen);
}

// A constraint; table constraints carry a column list.
Constraint Parser::constraint(bool table) {
    Constraint c;
    const uint32_t start = cur().offset;
    if (acceptKw(Keyword::Constraint)) c.name = name("a constraint name");
    if (acceptKw(Keyword::Primary)) {
        expectKw(Keyword::Key, "KEY after PRIMARY");
        c.kind = Constraint::Kind::PrimaryKey;
    } else if (acceptKw(Keyword::Unique)) {
        c.kind = Constraint::Kind::Unique;
    } else if (isKw(cur(), Keyword::Not) && isKw(peek(), Keyword::Null)) {
        advance();
        advance();
        c.kind = Constraint::Kind::NotNull;
    } else if (table && acceptKw(Keyword::Foreign)) {
        expectKw(Keyword::Key, "KEY after FOREIGN");
        c.kind = Constraint::Kind::ForeignKey;
        if (acceptKw(Keyword::No)) {
            expectKw(Keyword::Index, "INDEX after NO");
            c.noIndex = true;
        }
        c.columns = nameList("a column name");
        expectKw(Keyword::References, "REFERENCES");
        c.references = references();
    } else if (!table && acceptKw(Keyword::References)) {
        c.kind = Constraint::Kind::ForeignKey;
        c.references = references();
    } else if (acceptKw(Keyword::Check)) {
        c.kind = Constraint::Kind::Check;
        c.check = checkCondition();
    } else {
        fail(cur(), "expected PRIMARY KEY, UNIQUE, NOT NULL, FOREIGN KEY, REFERENCES or CHECK");
    }
    if (table && c.kind != Constraint::Kind::ForeignKey && c.kind != Constraint::Kind::Check)
        c.columns = nameList("a column name");
    c.span = spanFrom(start);
    return c;
}

ColumnDef Parser::columnDef() {
    ColumnDef c;
    const uint32_t start = cur().offset;
    c.name = name("a column name");
    c.type = typeName();
    for (;;) {
        if (isKw(cur(), Keyword::Not) && isKw(peek(), Keyword::Null)) {
            advance();
            advance();
            c.notNull = true;
        } else if (acceptKw(Keyword::Null)) {
            c.notNull = false;
        } else if (acceptKw(Keyword::Default)) {
            if (c.defaultValue) fail(m_tok[m_pos - 1], "DEFAULT given twice");
            c.defaultValue = expr();
        } else if (isKw(cur(), Keyword::With)) {
            advance();
            if (!acceptKw(Keyword::Compression) && !acceptKw(Keyword::Comp))
                fail(cur(), "expected token: COMPRESSION or COMP after WITH");
            c.compression = true;
        } else if (isKw(cur(), Keyword::Constraint) || isKw(cur(), Keyword::Primary) ||
                   isKw(cur(), Keyword::Unique) || isKw(cur(), Keyword::References) ||
                   (isKw(cur(), Keyword::Check) && peek().kind == TokenKind::LParen)) {
            c.constraints.push_back(constraint(false));
        } else {
            break;
        }
    }
    c.span = spanFrom(start);
    return c;
}

// CREATE: one step per kind of object, each starting at its keyword.
void Parser::createStmt(Statement& st) {
    const Token& create = cur();
    advance();
    const Token& t = cur();
    if (isKw(t, Keyword::Table) || isKw(t, Keyword::Temporary)) return createTable(st);
    if (isKw(t, Keyword::Unique) || isKw(t, Keyword::Index)) return createIndex(st);
    if (isKw(t, Keyword::View)) return createView(st);
    if (isKw(t, Keyword::Procedure) || (t.kind == TokenKind::Word && upperAscii(text(t)) == "PROC"))
        return createProcedure(st);
    if (isKw(t, Keyword::User) || (t.kind == TokenKind::Word && upperAscii(text(t)) == "GROUP") ||
        isKw(t, Keyword::Group))
        unsupported(create, "security statements (CREATE USER, CREATE GROUP)");
    fail(t, "expected TABLE, INDEX, UNIQUE INDEX, VIEW or PROCEDURE after CREATE");
}

void Parser::createTable(Statement& st) {
    CreateTableStmt ct;
    ct.temporary = acceptKw(Keyword::Temporary);
    expectKw(Keyword::Table, "TABLE");
    ct.table = objectName("a table name");
    expect(TokenKind::LParen, "'(' and the column definitions");
    do {
        if (atConstraintStart()) {
            ct.constraints.push_back(constraint(true));
        } else {
            ct.columns.push_back(columnDef());
        }
    } while (accept(TokenKind::Comma));
    expect(TokenKind::RParen, "')' or ',' in the column definitions");
    if (ct.columns.empty()) fail(cur(), "a table needs at least one column");
    st.kind = StatementKind::CreateTable;
    st.body = std::move(ct);
}

void Parser::createIndex(Statement& st) {
    CreateIndexStmt ci;
    ci.unique = acceptKw(Keyword::Unique);
    expectKw(Keyword::Index, "INDEX");
    ci.index = objectName("an index name");
    expectKw(Keyword::On, "ON and the table name");
    ci.table = objectName("a table name");
    expect(TokenKind::LParen, "'(' and the indexed columns");
    do {
        IndexColumn ic;
        ic.name = name("a column name");
        if (acceptKw(Keyword::Desc)) {
            ic.descending = true;
            ic.explicitDirection = true;
        } else if (acceptKw(Keyword::Asc)) {
            ic.explicitDirection = true;
        }
        ci.columns.push_back(std::move(ic));
    } while (accept(TokenKind::Comma));
    expect(TokenKind::RParen, "')' or ',' in the index columns");
    if (acceptKw(Keyword::With)) {
        bool any = false;
        for (;;) {
            if (acceptKw(Keyword::Primary)) {
                ci.primary = true;
            } else if (acceptKw(Keyword::Disallow)) {
                expectKw(Keyword::Null, "NULL after DISALLOW");
                ci.disallowNull = true;
            } else if (acceptKw(Keyword::Ignore)) {
                expectKw(Keyword::Null, "NULL after IGNORE");
                ci.ignoreNull = true;
            } else {
                break;
            }
            any = true;
        }
        if (!any) fail(cur(), "expected PRIMARY, DISALLOW NULL or IGNORE NULL after WITH");
    }
    st.kind = StatementKind::CreateIndex;
    st.body = std::move(ci);
}

void Parser::createView(Statement& st) {
    advance();
    CreateViewStmt cv;
    cv.view = objectName("a view name");
    if (cur().kind == TokenKind::LParen) cv.columns = nameList("a column name");
    expectKw(Keyword::As, "AS before the view's SELECT");
    if (!startsQuery(cur()) && cur().kind != TokenKind::LParen && !isKw(cur(), Keyword::Table))
        fail(cur(), "only simple SELECT queries are allowed in VIEWS");
    cv.query = query(true, false);
    st.kind = StatementKind::CreateView;
    st.body = std::move(cv);
}

void Parser::createProcedure(Statement& st) {
    advance();
    CreateProcedureStmt cp;
    cp.procedure = objectName("a procedure name");
    if (accept(TokenKind::LParen)) {
        cp.parenthesised = true;
        if (cur().kind != TokenKind::RParen) cp.params = paramList(TokenKind::RParen);
        expect(TokenKind::RParen, "')' after the parameters");
    } else if (!isKw(cur(), Keyword::As)) {
        cp.params = paramList(TokenKind::End);
    }
    expectKw(Keyword::As, "AS before the procedure's statement");
    if (isKw(cur(), Keyword::Create) &&
        (isKw(peek(), Keyword::Procedure) || isKw(peek(), Keyword::View)))
        fail(cur(), "a procedure cannot create a procedure or view");
    DepthGuard guard(*this);
    cp.body = std::make_unique<Statement>();
    const uint32_t start = cur().offset;
    statementBody(*cp.body);
    cp.body->span = spanFrom(start);
    st.kind = StatementKind::CreateProcedure;
    st.body = std::move(cp);
}

void Parser::alterStmt(Statement& st) {
    const Token& alter = cur();
    advance();
    if (isKw(cur(), Keyword::User) || isKw(cur(), Keyword::Database))
        unsupported(alter, "security statements (ALTER USER, ALTER DATABASE)");
    expectKw(Keyword::Table, "TABLE after ALTER");
    AlterTableStmt a;
    a.table = objectName("a table name");
    if (acceptKw(Keyword::Add)) {
        if (atConstraintStart()) {
            a.action = AlterTableStmt::Action::AddConstraint;
            a.constraint = constraint(true);
        } else {
            a.action = AlterTableStmt::Action::AddColumn;
            a.columnKeyword = acceptKw(Keyword::Column);
            a.column = columnDef();
        }
    } else if (acceptKw(Keyword::Alter)) {
        a.action = AlterTableStmt::Action::AlterColumn;
        a.columnKeyword = acceptKw(Keyword::Column);
        a.column = columnDef();
    } else if (acceptKw(Keyword::Drop)) {
        if (acceptKw(Keyword::Constraint)) {
            a.action = AlterTableStmt::Action::DropConstraint;
            a.name = name("a constraint name");
        } else {
            a.action = AlterTableStmt::Action::DropColumn;
            a.columnKeyword = acceptKw(Keyword::Column);
            a.name = name("a column name");
        }
    } else {
        fail(cur(), "expected ADD, ALTER or DROP");
    }
    if (cur().kind == TokenKind::Comma) fail(cur(), "ALTER TABLE makes one change per statement");
    st.kind = StatementKind::AlterTable;
    st.body = std::move(a);
}

void Parser::dropStmt(Statement& st) {
    const Token& drop = cur();
    advance();
    DropStmt d;
    const Token& t = cur();
    if (acceptKw(Keyword::Table)) {
        st.kind = StatementKind::DropTable;
        d.name = objectName("a table name");
    } else if (acceptKw(Keyword::Index)) {
        st.kind = StatementKind::DropIndex;
        d.name = objectName("an index name");
        expectKw(Keyword::On, "ON and the table name");
        d.table = objectName("a table name");
    } else if (acceptKw(Keyword::View)) {
        st.kind = StatementKind::DropView;
        d.name = objectName("a view name");
    } else if (acceptKw(Keyword::Procedure)) {
        st.kind = StatementKind::DropProcedure;
        d.name = objectName("a procedure name");
    } else if (isKw(t, Keyword::User) || isKw(t, Keyword::Group)) {
        unsupported(drop, "security statements (DROP USER, DROP GROUP)");
    } else {
        fail(t, "expected TABLE, INDEX, VIEW or PROCEDURE after DROP");
    }
    st.body = std::move(d);
}

}  // namespace tab::accsql::detail
