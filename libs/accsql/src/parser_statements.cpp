// Statements: the entry point with its PARAMETERS declaration, the dispatch
// on the first keyword, the data-manipulation statements, EXECUTE and the
// transaction statements; and the library's parse() itself.
#include <string>

#include "parser_internal.h"
#include "tabulary/accsql/lexer.h"

namespace tab::accsql::detail {

StatementPtr Parser::statement() {
    auto st = std::make_unique<Statement>();
    const Token& first = cur();
    if (isKw(first, Keyword::Parameters)) {
        advance();
        st->hasParameters = true;
        st->parameters = paramList(TokenKind::Semicolon);
        expect(TokenKind::Semicolon, "';' after the PARAMETERS declaration");
        if (isKw(cur(), Keyword::Parameters))
            fail(cur(), "only one PARAMETERS declaration is allowed");
    }
    statementBody(*st);
    st->span = spanFrom(first.offset);
    if (cur().kind == TokenKind::Semicolon) {
        advance();
        if (cur().kind != TokenKind::End)
            fail(cur(), "characters found after end of SQL statement (one statement per command)");
    }
    if (cur().kind != TokenKind::End) {
        if (const char* f = foreignConstruct(m_pos)) fail(cur(), f);
        fail(cur(), "expected the end of the statement");
    }
    st->paramMarkers = m_params;
    return st;
}

void Parser::statementBody(Statement& st) {
    const Token& t = cur();
    if (isKw(t, Keyword::Select) || isKw(t, Keyword::Transform) || (t.kind == TokenKind::LParen) ||
        isKw(t, Keyword::Table)) {
        st.query = query(true, true);
        const auto& first = st.query->terms.front();
        st.kind =
            first.select && first.select->into ? StatementKind::SelectInto : StatementKind::Select;
        return;
    }
    if (t.kind == TokenKind::Word) {
        switch (t.keyword) {
            case Keyword::Insert:
                return insertStmt(st);
            case Keyword::Update:
                return updateStmt(st);
            case Keyword::Delete:
                return deleteStmt(st);
            case Keyword::Create:
                return createStmt(st);
            case Keyword::Alter:
                return alterStmt(st);
            case Keyword::Drop:
                return dropStmt(st);
            case Keyword::Exec:
            case Keyword::Execute:
                return executeStmt(st);
            case Keyword::Begin:
            case Keyword::Commit:
            case Keyword::Rollback:
                return transactionStmt(st);
            case Keyword::Grant:
            case Keyword::Revoke:
                unsupported(t, "security statements (GRANT, REVOKE)");
            case Keyword::Add:
                if (isKw(peek(), Keyword::User)) unsupported(t, "security statements (ADD USER)");
                break;
            case Keyword::With:
                fail(t,
                     "WITH ... AS (common table expressions) is not Access SQL; use a "
                     "derived table or a saved query");
            case Keyword::Parameters:
                fail(t, "PARAMETERS must come first, and only once");
            default:
                break;
        }
    }
    if (t.kind == TokenKind::End) fail(t, "expected a statement");
    fail(t,
         "expected DELETE, INSERT, PROCEDURE, SELECT, or UPDATE (or TRANSFORM, CREATE, "
         "ALTER, DROP, EXECUTE)");
}

void Parser::insertStmt(Statement& st) {
    advance();
    expectKw(Keyword::Into, "INTO after INSERT");
    InsertStmt ins;
    ins.table = objectName("a table name after INSERT INTO");
    if (isKw(cur(), Keyword::In)) unsupported(cur(), "IN with an external database");
    if (cur().kind == TokenKind::LParen && !startsQuery(peek())) {
        ins.hasColumnList = true;
        ins.columns = nameList("a column name");
    }
    if (acceptKw(Keyword::Values)) {
        expect(TokenKind::LParen, "'(' after VALUES");
        do {
            ins.values.push_back(expr());
        } while (accept(TokenKind::Comma));
        expect(TokenKind::RParen, "')' or ',' in the VALUES list");
        if (cur().kind == TokenKind::Comma)
            fail(cur(), "Access inserts one row per INSERT ... VALUES; use one statement per row");
    } else if (startsQuery(cur()) || cur().kind == TokenKind::LParen ||
               isKw(cur(), Keyword::Table)) {
        ins.query = query(true, false);
    } else {
        fail(cur(), "expected VALUES or SELECT");
    }
    st.kind = StatementKind::Insert;
    st.body = std::move(ins);
}

void Parser::updateStmt(Statement& st) {
    advance();
    UpdateStmt u;
    u.distinctRow = acceptKw(Keyword::DistinctRow);
    u.target = fromItem();
    expectKw(Keyword::Set, "SET");
    do {
        Assignment a;
        const uint32_t start = cur().offset;
        a.column = qualifiedName();
        expect(TokenKind::Eq, "'=' in the SET list");
        a.value = expr();
        a.span = spanFrom(start);
        u.assignments.push_back(std::move(a));
    } while (accept(TokenKind::Comma));
    if (acceptKw(Keyword::Where)) u.where = expr();
    if (isKw(cur(), Keyword::From))
        fail(cur(), "Access has no UPDATE ... FROM; join in the UPDATE clause");
    st.kind = StatementKind::Update;
    st.body = std::move(u);
}

void Parser::deleteStmt(Statement& st) {
    advance();
    DeleteStmt d;
    d.distinctRow = acceptKw(Keyword::DistinctRow);
    if (isKw(cur(), Keyword::Top)) fail(cur(), "a TOP clause is not allowed in delete queries");
    if (accept(TokenKind::Star)) {
        d.star = true;
    } else if (!isKw(cur(), Keyword::From)) {
        do {
            if (!atTableStar())
                fail(cur(),
                     "name the table whose rows are deleted as table.* (fields "
                     "cannot be named)");
            QualifiedName q;
            q.parts.push_back(nameFrom(cur()));
            advance();
            advance();  // the period
            if (cur().kind != TokenKind::Star) fail(cur(), "write table.*");
            advance();
            d.tables.push_back(std::move(q));
        } while (accept(TokenKind::Comma));
    }
    expectKw(Keyword::From, "FROM");
    do {
        d.from.push_back(fromItem());
    } while (accept(TokenKind::Comma));
    if (acceptKw(Keyword::Where)) d.where = expr();
    st.kind = StatementKind::Delete;
    st.body = std::move(d);
}

void Parser::executeStmt(Statement& st) {
    ExecuteStmt e;
    e.shortForm = isKw(cur(), Keyword::Exec);
    advance();
    if (!isNameToken(cur())) fail(cur(), "expected query name after EXECUTE");
    e.procedure = objectName("a query name");
    if (cur().kind != TokenKind::End && cur().kind != TokenKind::Semicolon) {
        do {
            e.args.push_back(expr());
        } while (accept(TokenKind::Comma));
    }
    st.kind = StatementKind::Execute;
    st.body = std::move(e);
}

void Parser::transactionStmt(Statement& st) {
    TransactionStmt tr;
    const Token& t = cur();
    advance();
    if (t.keyword == Keyword::Begin) {
        tr.kind = TransactionStmt::Kind::Begin;
        expectKw(Keyword::Transaction, "TRANSACTION after BEGIN");
        tr.trailer = "TRANSACTION";
    } else {
        tr.kind = t.keyword == Keyword::Commit ? TransactionStmt::Kind::Commit
                                               : TransactionStmt::Kind::Rollback;
        if (acceptKw(Keyword::Transaction))
            tr.trailer = "TRANSACTION";
        else if (acceptKw(Keyword::Work))
            tr.trailer = "WORK";
    }
    st.kind = StatementKind::Transaction;
    st.body = std::move(tr);
}

}  // namespace tab::accsql::detail

namespace tab::accsql {

using detail::ParseFailure;
using detail::Parser;

ParseResult parse(std::string_view sql, const Limits& limits) {
    ParseResult r;
    if (sql.size() > limits.maxSqlBytes || sql.size() > 0xFFFFFFF0u) {
        r.diagnostics.push_back(
            makeDiagnostic(sql, DiagnosticKind::Limit, Span{0, 0}, false,
                           "SQL text is too long (" + std::to_string(sql.size()) +
                               " bytes; the limit is " + std::to_string(limits.maxSqlBytes) + ")"));
        r.diagnostics.back().near.clear();
        return r;
    }
    try {
        Parser p(sql, limits, tokenize(sql));
        r.statement = p.statement();
    } catch (const ParseFailure& f) {
        r.statement.reset();
        r.diagnostics.push_back(f.diagnostic);
    }
    return r;
}

bool returnsRows(const Statement& s) {
    return s.kind == StatementKind::Select;
}

const char* statementKindName(StatementKind k) {
    switch (k) {
        case StatementKind::Select:
            return "SELECT";
        case StatementKind::SelectInto:
            return "SELECT INTO";
        case StatementKind::Insert:
            return "INSERT";
        case StatementKind::Update:
            return "UPDATE";
        case StatementKind::Delete:
            return "DELETE";
        case StatementKind::CreateTable:
            return "CREATE TABLE";
        case StatementKind::AlterTable:
            return "ALTER TABLE";
        case StatementKind::CreateIndex:
            return "CREATE INDEX";
        case StatementKind::DropTable:
            return "DROP TABLE";
        case StatementKind::DropIndex:
            return "DROP INDEX";
        case StatementKind::DropView:
            return "DROP VIEW";
        case StatementKind::DropProcedure:
            return "DROP PROCEDURE";
        case StatementKind::CreateView:
            return "CREATE VIEW";
        case StatementKind::CreateProcedure:
            return "CREATE PROCEDURE";
        case StatementKind::Execute:
            return "EXECUTE";
        case StatementKind::Transaction:
            return "TRANSACTION";
    }
    return "?";
}

}  // namespace tab::accsql
