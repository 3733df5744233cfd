// The parser's state and the steps its files share. Recursive descent for
// statements and clauses, a Pratt loop with one binding-power table for
// expressions; the first error ends the parse by throwing ParseFailure.
//
//   parser_tokens.cpp       errors, other dialects' constructs, depth, names
//   parser_expressions.cpp  literals, the Pratt loop, primaries, calls
//   parser_queries.cpp      SELECT, FROM and joins, clauses, UNION, TRANSFORM
//   parser_ddl.cpp          data types, constraints, CREATE, ALTER, DROP
//   parser_statements.cpp   the statement entry, DML, EXECUTE, transactions
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tabulary/accsql/ast.h"
#include "tabulary/accsql/diagnostics.h"
#include "tabulary/accsql/parser.h"
#include "tabulary/accsql/token.h"

namespace tab::accsql::detail {

struct ParseFailure {
    Diagnostic diagnostic;
};

// Binding powers, lowest to highest, as in the Access precedence table.
enum Bp : int {
    kNone = 0,
    kImp = 10,
    kEqv = 20,
    kXor = 30,
    kOr = 40,
    kAnd = 50,
    kNot = 60,
    kCompare = 70,
    kConcat = 80,
    kAdd = 90,
    kMod = 100,
    kIntDiv = 110,
    kMul = 120,
    kUnary = 130,
    kPow = 140,
};

inline std::string upperAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

class Parser {
public:
    Parser(std::string_view sql, const Limits& limits, std::vector<Token> tokens)
        : m_sql(sql), m_limits(limits), m_tok(std::move(tokens)) {}

    StatementPtr statement();

private:
    // ---- tokens -----------------------------------------------------------
    const Token& cur() const { return m_tok[m_pos]; }
    const Token& peek(size_t n = 1) const {
        const size_t i = std::min(m_pos + n, m_tok.size() - 1);
        return m_tok[i];
    }
    void advance() {
        if (m_tok[m_pos].kind != TokenKind::End && m_tok[m_pos].kind != TokenKind::Invalid) ++m_pos;
    }
    std::string_view text(const Token& t) const { return m_sql.substr(t.offset, t.length); }
    static bool isKw(const Token& t, Keyword k) {
        return t.kind == TokenKind::Word && t.keyword == k;
    }
    bool acceptKw(Keyword k) {
        if (!isKw(cur(), k)) return false;
        advance();
        return true;
    }
    bool accept(TokenKind k) {
        if (cur().kind != k) return false;
        advance();
        return true;
    }
    void expectKw(Keyword k, const char* what) {
        if (!acceptKw(k)) fail(cur(), std::string("expected ") + what);
    }
    void expect(TokenKind k, const char* what) {
        if (!accept(k)) fail(cur(), std::string("expected ") + what);
    }
    uint32_t prevEnd() const {
        return m_pos == 0 ? 0 : m_tok[m_pos - 1].offset + m_tok[m_pos - 1].length;
    }
    Span spanFrom(uint32_t start) const {
        const uint32_t e = prevEnd();
        return Span{start, e > start ? e - start : 0};
    }
    bool isNameToken(const Token& t) const {
        if (t.kind == TokenKind::Bracketed || t.kind == TokenKind::Backquoted) return true;
        return t.kind == TokenKind::Word && !isReserved(t.keyword);
    }
    bool startsQuery(const Token& t) const { return isKw(t, Keyword::Select); }

    // ---- errors, depth and names (parser_tokens.cpp) ----------------------
    [[noreturn]] void fail(const Token& t, std::string message,
                           DiagnosticKind kind = DiagnosticKind::Syntax) const;
    [[noreturn]] void unsupported(const Token& t, const std::string& what) const;
    const char* foreignConstruct(size_t i) const;

    struct DepthGuard {
        Parser& p;
        explicit DepthGuard(Parser& parser) : p(parser) {
            // Parentheses recurse without adding tree height; this bound only
            // protects the stack, and leaves room for the parentheses print()
            // adds, so printed SQL always parses again. Tree height is the limit.
            if (++p.m_depth > 4 * p.m_limits.maxDepth + 16) p.tooDeep(p.cur());
        }
        ~DepthGuard() { --p.m_depth; }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;
    };
    [[noreturn]] void tooDeep(const Token& t) const;
    void checkHeight(uint32_t h, const Token& t) const;

    Name nameFrom(const Token& t) const;
    Name name(const char* what);
    Name objectName(const char* what);
    std::vector<Name> nameList(const char* what);
    QualifiedName qualifiedName();

    // ---- expressions (parser_expressions.cpp) -----------------------------
    std::string stringValue(const Token& t) const;
    NumberLiteral numberFrom(const Token& t) const;
    ExprPtr leaf(ExprKind k, const Token& t);
    void finish(Expr& e, const Token& at);

    static bool isComparison(TokenKind k);
    static BinaryOp comparisonOp(TokenKind k);
    int infixBp(BinaryOp& op) const;
    ExprPtr expr(int minBp = kNone);
    ExprPtr infix(ExprPtr left, BinaryOp op, int bp, const Token& startTok);
    bool canStartOperand(const Token& t) const;
    ExprPtr prefix();
    ExprPtr primary();
    ExprPtr wordPrimary(const Token& t);
    ExprPtr nameExpr(const Token& t);
    ExprPtr callExpr(const Token& t);

    // ---- queries (parser_queries.cpp) -------------------------------------
    QueryPtr subquery();
    QueryPtr query(bool allowUnion, bool topLevel);
    void ownerAccess(Query& q);
    QueryTerm term(bool allowInto);
    void transformQuery(Query& q, bool topLevel);
    std::vector<OrderItem> orderBy();
    Top top();
    SetQuantifier setQuantifier();
    bool atTableStar() const;
    std::unique_ptr<SelectCore> selectCore(bool allowInto);
    SelectItem selectItem();
    FromItemPtr fromItem();
    bool atJoin() const;
    FromItemPtr join(FromItemPtr left, uint32_t start);
    bool startsWithSelect(std::string_view body) const;
    void tableAlias(FromItem& f, bool required);
    FromItemPtr fromPrimary();
    std::string externalDatabase();
    static void readFrom(FromItem& f, const std::string& database);
    QueryPtr legacyDerived(const Token& t);
    static uint32_t heightOf(const FromItem& f);
    static uint32_t heightOf(const Query& q);

    // ---- data definition (parser_ddl.cpp) ---------------------------------
    std::vector<ParamDecl> paramList(TokenKind stop);
    TypeName typeName();
    RefAction refAction();
    References references();
    ExprPtr checkCondition();
    bool atConstraintStart() const;
    Constraint constraint(bool table);
    ColumnDef columnDef();
    void createStmt(Statement& st);
    void createTable(Statement& st);
    void createIndex(Statement& st);
    void createView(Statement& st);
    void createProcedure(Statement& st);
    void alterStmt(Statement& st);
    void dropStmt(Statement& st);

    // ---- statements (parser_statements.cpp) -------------------------------
    void statementBody(Statement& st);
    void insertStmt(Statement& st);
    void updateStmt(Statement& st);
    void deleteStmt(Statement& st);
    void executeStmt(Statement& st);
    void transactionStmt(Statement& st);

    std::string_view m_sql;
    const Limits& m_limits;
    std::vector<Token> m_tok;
    size_t m_pos = 0;
    uint32_t m_depth = 0;
    uint32_t m_params = 0;
};

}  // namespace tab::accsql::detail
