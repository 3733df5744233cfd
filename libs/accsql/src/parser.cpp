// Recursive descent for statements and clauses, a Pratt loop with one
// binding-power table for expressions. The first error ends the parse.
#include "tabulary/accsql/parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "date_literal.h"
#include "tabulary/accsql/lexer.h"

namespace tab::accsql {

namespace {

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

std::string upperAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

class Parser {
public:
    Parser(std::string_view sql, const Limits& limits, std::vector<Token> tokens)
        : m_sql(sql), m_limits(limits), m_tok(std::move(tokens)) {}

    StatementPtr statement() {
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
                fail(cur(),
                     "characters found after end of SQL statement (one statement per command)");
        }
        if (cur().kind != TokenKind::End) {
            if (const char* f = foreignConstruct(m_pos)) fail(cur(), f);
            fail(cur(), "expected the end of the statement");
        }
        st->paramMarkers = m_params;
        return st;
    }

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

    [[noreturn]] void fail(const Token& t, std::string message,
                           DiagnosticKind kind = DiagnosticKind::Syntax) const {
        if (t.kind == TokenKind::Invalid) {
            message = t.error;
            kind = DiagnosticKind::Syntax;
        }
        const bool atEnd = t.kind == TokenKind::End;
        throw ParseFailure{
            makeDiagnostic(m_sql, kind, Span{t.offset, t.length}, atEnd, std::move(message))};
    }
    [[noreturn]] void unsupported(const Token& t, const std::string& what) const {
        fail(t, what + " is not supported by this program", DiagnosticKind::Unsupported);
    }

    // Constructs of other SQL dialects, named so the message can say so.
    const char* foreignConstruct(size_t i) const {
        const Token& t = m_tok[std::min(i, m_tok.size() - 1)];
        const Token& n = m_tok[std::min(i + 1, m_tok.size() - 1)];
        if (t.kind != TokenKind::Word) return nullptr;
        switch (t.keyword) {
            case Keyword::Limit:
            case Keyword::Offset:
                if (n.kind == TokenKind::Number || n.kind == TokenKind::Param)
                    return "LIMIT and OFFSET are not Access SQL; use SELECT TOP n";
                return nullptr;
            case Keyword::Fetch:
                return n.kind == TokenKind::Word ? "FETCH FIRST is not Access SQL; use SELECT TOP n"
                                                 : nullptr;
            case Keyword::Full:
                return isKw(n, Keyword::Join) || isKw(n, Keyword::Outer)
                           ? "FULL OUTER JOIN is not supported by Access; combine a LEFT JOIN "
                             "and a RIGHT JOIN with UNION"
                           : nullptr;
            case Keyword::Cross:
                return isKw(n, Keyword::Join)
                           ? "CROSS JOIN is not Access SQL; list the tables separated by commas"
                           : nullptr;
            case Keyword::Natural:
                return isKw(n, Keyword::Join) || isKw(n, Keyword::Inner) ||
                               isKw(n, Keyword::Left) || isKw(n, Keyword::Right)
                           ? "NATURAL JOIN is not Access SQL; use INNER JOIN ... ON"
                           : nullptr;
            case Keyword::Using:
                return n.kind == TokenKind::LParen
                           ? "USING is not Access SQL; write the join condition with ON"
                           : nullptr;
            case Keyword::Intersect:
            case Keyword::Except:
                return isKw(n, Keyword::Select) || isKw(n, Keyword::All) ||
                               n.kind == TokenKind::LParen
                           ? "INTERSECT and EXCEPT are not Access SQL; use IN or EXISTS subqueries"
                           : nullptr;
            case Keyword::Window:
                return "window functions are not Access SQL";
            default:
                return nullptr;
        }
    }

    // ---- depth ------------------------------------------------------------
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
    [[noreturn]] void tooDeep(const Token& t) const {
        fail(t,
             "nested too deeply (more than " + std::to_string(m_limits.maxDepth) +
                 " levels of parentheses, subqueries or operators)",
             DiagnosticKind::Limit);
    }
    void checkHeight(uint32_t h, const Token& t) const {
        if (h > m_limits.maxDepth) tooDeep(t);
    }

    // ---- names and literals -----------------------------------------------
    bool isNameToken(const Token& t) const {
        if (t.kind == TokenKind::Bracketed || t.kind == TokenKind::Backquoted) return true;
        return t.kind == TokenKind::Word && !isReserved(t.keyword);
    }

    Name nameFrom(const Token& t) const {
        Name n;
        n.span = Span{t.offset, t.length};
        if (t.kind == TokenKind::Word) {
            n.text = std::string(text(t));
        } else {
            n.text = std::string(m_sql.substr(t.offset + 1, t.length - 2));
            n.delimiter =
                t.kind == TokenKind::Bracketed ? Delimiter::Bracket : Delimiter::Backquote;
        }
        return n;
    }

    Name name(const char* what) {
        const Token& t = cur();
        if (!isNameToken(t)) {
            if (t.kind == TokenKind::Word)
                fail(t, std::string("expected ") + what + "; '" + std::string(text(t)) +
                            "' is a reserved word (write it in brackets to use it as a name)");
            fail(t, std::string("expected ") + what);
        }
        advance();
        return nameFrom(t);
    }

    // A table or other object name: a single name, no schema.
    Name objectName(const char* what) {
        Name n = name(what);
        if (cur().kind == TokenKind::Dot || cur().kind == TokenKind::Bang)
            fail(cur(), "Access has no schemas: an object name is a single name");
        return n;
    }

    std::vector<Name> nameList(const char* what) {
        expect(TokenKind::LParen, "'('");
        std::vector<Name> out;
        do {
            out.push_back(name(what));
        } while (accept(TokenKind::Comma));
        expect(TokenKind::RParen, "')'");
        return out;
    }

    std::string stringValue(const Token& t) const {
        const char q = m_sql[t.offset];
        std::string out;
        const std::string_view body = m_sql.substr(t.offset + 1, t.length - 2);
        for (size_t i = 0; i < body.size(); ++i) {
            out.push_back(body[i]);
            if (body[i] == q) ++i;  // doubled delimiter
        }
        return out;
    }

    NumberLiteral numberFrom(const Token& t) const {
        NumberLiteral n;
        n.text = std::string(text(t));
        n.integral = n.text.find_first_of(".eE") == std::string::npos;
        // strtod wants a terminated buffer; the text is short.
        n.value = std::strtod(n.text.c_str(), nullptr);
        if (!std::isfinite(n.value)) fail(t, "number is out of range");
        if (n.integral) {
            int64_t v = 0;
            auto r = std::from_chars(n.text.data(), n.text.data() + n.text.size(), v);
            if (r.ec == std::errc()) n.intValue = v;
        }
        return n;
    }

    ExprPtr leaf(ExprKind k, const Token& t) {
        auto e = std::make_unique<Expr>(k);
        e->span = Span{t.offset, t.length};
        return e;
    }

    void finish(Expr& e, const Token& at) {
        uint32_t h = 0;
        for (const auto& o : e.operands) h = std::max(h, o->height);
        if (e.query) h = std::max(h, e.query->height);
        e.height = h + 1;
        checkHeight(e.height, at);
    }

    QualifiedName qualifiedName() {
        QualifiedName q;
        q.parts.push_back(name("a name"));
        bool bang = false;
        while ((cur().kind == TokenKind::Dot || cur().kind == TokenKind::Bang) &&
               isNameToken(peek())) {
            const char sep = cur().kind == TokenKind::Dot ? '.' : '!';
            bang = bang || sep == '!';
            advance();
            q.separators.push_back(sep);
            q.parts.push_back(nameFrom(cur()));
            advance();
        }
        if (q.parts.size() > 2 && !bang)
            fail(m_tok[m_pos - 1],
                 "a column reference has at most two parts (table.column); Access has no schemas");
        return q;
    }

    // ---- expressions ------------------------------------------------------
    static bool isComparison(TokenKind k) {
        return k == TokenKind::Eq || k == TokenKind::Ne || k == TokenKind::Lt ||
               k == TokenKind::Gt || k == TokenKind::Le || k == TokenKind::Ge;
    }
    static BinaryOp comparisonOp(TokenKind k) {
        switch (k) {
            case TokenKind::Eq:
                return BinaryOp::Eq;
            case TokenKind::Ne:
                return BinaryOp::Ne;
            case TokenKind::Lt:
                return BinaryOp::Lt;
            case TokenKind::Gt:
                return BinaryOp::Gt;
            case TokenKind::Le:
                return BinaryOp::Le;
            default:
                return BinaryOp::Ge;
        }
    }

    // The left binding power of the token as an infix operator, 0 if none.
    int infixBp(BinaryOp& op) const {
        const Token& t = cur();
        switch (t.kind) {
            case TokenKind::Eq:
            case TokenKind::Ne:
            case TokenKind::Lt:
            case TokenKind::Gt:
            case TokenKind::Le:
            case TokenKind::Ge:
                op = comparisonOp(t.kind);
                return kCompare;
            case TokenKind::Amp:
                op = BinaryOp::Concat;
                return kConcat;
            case TokenKind::Plus:
                op = BinaryOp::Add;
                return kAdd;
            case TokenKind::Minus:
                op = BinaryOp::Sub;
                return kAdd;
            case TokenKind::Backslash:
                op = BinaryOp::IntDiv;
                return kIntDiv;
            case TokenKind::Star:
                op = BinaryOp::Mul;
                return kMul;
            case TokenKind::Slash:
                op = BinaryOp::Div;
                return kMul;
            case TokenKind::Caret:
                op = BinaryOp::Pow;
                return kPow;
            case TokenKind::Word:
                break;
            default:
                return 0;
        }
        switch (t.keyword) {
            case Keyword::Imp:
                op = BinaryOp::Imp;
                return kImp;
            case Keyword::Eqv:
                op = BinaryOp::Eqv;
                return kEqv;
            case Keyword::Xor:
                op = BinaryOp::Xor;
                return kXor;
            case Keyword::BXor:
                op = BinaryOp::BXor;
                return kXor;
            case Keyword::Or:
                op = BinaryOp::Or;
                return kOr;
            case Keyword::BOr:
                op = BinaryOp::BOr;
                return kOr;
            case Keyword::And:
                op = BinaryOp::And;
                return kAnd;
            case Keyword::BAnd:
                op = BinaryOp::BAnd;
                return kAnd;
            case Keyword::Mod:
                op = BinaryOp::Mod;
                return kMod;
            case Keyword::Like:
            case Keyword::ALike:
            case Keyword::Is:
            case Keyword::Between:
            case Keyword::In:
                return kCompare;
            case Keyword::Not: {
                const Token& n = peek();
                if (isKw(n, Keyword::Like) || isKw(n, Keyword::ALike) ||
                    isKw(n, Keyword::Between) || isKw(n, Keyword::In))
                    return kCompare;
                return 0;
            }
            default:
                return 0;
        }
    }

    ExprPtr expr(int minBp = kNone) {
        DepthGuard guard(*this);
        const Token& startTok = cur();
        ExprPtr left = prefix();
        for (;;) {
            if (isKw(cur(), Keyword::Over) && peek().kind == TokenKind::LParen)
                fail(cur(), "window functions (OVER ...) are not Access SQL");
            BinaryOp op = BinaryOp::Add;
            const int bp = infixBp(op);
            if (bp == 0 || bp <= minBp) break;
            left = infix(std::move(left), op, bp, startTok);
        }
        return left;
    }

    ExprPtr infix(ExprPtr left, BinaryOp op, int bp, const Token& startTok) {
        const Token& opTok = cur();
        const uint32_t start = left->span.offset;
        ExprPtr e;
        bool negated = false;
        if (isKw(opTok, Keyword::Not)) {
            negated = true;
            advance();
        }
        const Token& t = cur();
        if (isKw(t, Keyword::Like) || isKw(t, Keyword::ALike)) {
            advance();
            e = std::make_unique<Expr>(ExprKind::Like);
            e->alike = t.keyword == Keyword::ALike;
            e->operands.push_back(std::move(left));
            e->operands.push_back(expr(bp));
            if (cur().kind == TokenKind::Word && upperAscii(text(cur())) == "ESCAPE")
                fail(cur(), "Like has no ESCAPE clause in Access; put the character in brackets");
        } else if (isKw(t, Keyword::Between)) {
            advance();
            e = std::make_unique<Expr>(ExprKind::Between);
            e->operands.push_back(std::move(left));
            e->operands.push_back(expr(kCompare));
            if (!acceptKw(Keyword::And)) fail(cur(), "Between without And");
            e->operands.push_back(expr(kCompare));
        } else if (isKw(t, Keyword::In)) {
            advance();
            if (cur().kind != TokenKind::LParen) fail(cur(), "In operator without ()");
            if (startsQuery(peek())) {
                advance();
                e = std::make_unique<Expr>(ExprKind::InQuery);
                e->operands.push_back(std::move(left));
                e->query = subquery();
                expect(TokenKind::RParen, "')' after the subquery");
            } else {
                advance();
                e = std::make_unique<Expr>(ExprKind::InList);
                e->operands.push_back(std::move(left));
                if (cur().kind == TokenKind::RParen) fail(cur(), "In needs at least one value");
                do {
                    e->operands.push_back(expr());
                } while (accept(TokenKind::Comma));
                expect(TokenKind::RParen, "')' or ',' in the In list");
            }
        } else if (isKw(t, Keyword::Is)) {
            advance();
            e = std::make_unique<Expr>(ExprKind::IsNull);
            if (acceptKw(Keyword::Not)) negated = true;
            if (!acceptKw(Keyword::Null))
                fail(cur(), "invalid use of Is: only Is Null and Is Not Null exist");
            e->operands.push_back(std::move(left));
        } else if (isComparison(t.kind) &&
                   (isKw(peek(), Keyword::Any) || isKw(peek(), Keyword::Some) ||
                    isKw(peek(), Keyword::All))) {
            advance();
            const Token& q = cur();
            advance();
            e = std::make_unique<Expr>(ExprKind::Quantified);
            e->binaryOp = op;
            e->quantifier = q.keyword == Keyword::Any    ? Quantifier::Any
                            : q.keyword == Keyword::Some ? Quantifier::Some
                                                         : Quantifier::All;
            if (cur().kind != TokenKind::LParen || !startsQuery(peek()))
                fail(cur(), "ANY, SOME and ALL need a subquery in parentheses");
            advance();
            e->operands.push_back(std::move(left));
            e->query = subquery();
            expect(TokenKind::RParen, "')' after the subquery");
        } else {
            advance();
            e = std::make_unique<Expr>(ExprKind::Binary);
            e->binaryOp = op;
            e->operands.push_back(std::move(left));
            // All binary operators are left-associative, ^ included.
            e->operands.push_back(expr(bp));
        }
        e->negated = negated;
        e->span = spanFrom(start);
        finish(*e, startTok);
        return e;
    }

    bool startsQuery(const Token& t) const { return isKw(t, Keyword::Select); }

    // Operand start for the soft prefix operator BNOT.
    bool canStartOperand(const Token& t) const {
        switch (t.kind) {
            case TokenKind::Number:
            case TokenKind::String:
            case TokenKind::Date:
            case TokenKind::Guid:
            case TokenKind::Param:
            case TokenKind::SysVar:
            case TokenKind::LParen:
            case TokenKind::Bracketed:
            case TokenKind::Backquoted:
                return true;
            case TokenKind::Word:
                return !isReserved(t.keyword) || t.keyword == Keyword::Not ||
                       t.keyword == Keyword::Null || t.keyword == Keyword::True ||
                       t.keyword == Keyword::False || t.keyword == Keyword::Exists;
            default:
                return false;
        }
    }

    ExprPtr prefix() {
        const Token& t = cur();
        auto unary = [&](UnaryOp op, int bp) {
            advance();
            auto e = std::make_unique<Expr>(ExprKind::Unary);
            e->unaryOp = op;
            e->operands.push_back(expr(bp));
            e->span = spanFrom(t.offset);
            finish(*e, t);
            return e;
        };
        if (t.kind == TokenKind::Minus) return unary(UnaryOp::Neg, kUnary);
        if (t.kind == TokenKind::Plus) return unary(UnaryOp::Plus, kUnary);
        // Not takes a comparison as its operand: Not a = b is Not (a = b).
        if (isKw(t, Keyword::Not)) return unary(UnaryOp::Not, kNot);
        if (isKw(t, Keyword::BNot) && canStartOperand(peek())) return unary(UnaryOp::BNot, kNot);
        return primary();
    }

    ExprPtr primary() {
        const Token& t = cur();
        switch (t.kind) {
            case TokenKind::Number: {
                auto e = leaf(ExprKind::Number, t);
                e->number = numberFrom(t);
                advance();
                return e;
            }
            case TokenKind::String: {
                auto e = leaf(ExprKind::String, t);
                e->text = stringValue(t);
                e->quote = m_sql[t.offset];
                advance();
                return e;
            }
            case TokenKind::Date: {
                auto e = leaf(ExprKind::Date, t);
                e->date.text = std::string(m_sql.substr(t.offset + 1, t.length - 2));
                std::string why;
                if (!parseDateLiteral(e->date.text, e->date, why)) fail(t, why);
                advance();
                return e;
            }
            case TokenKind::Guid: {
                auto e = leaf(ExprKind::Guid, t);
                e->text = std::string(m_sql.substr(t.offset + 7, 36));
                advance();
                return e;
            }
            case TokenKind::Param: {
                auto e = leaf(ExprKind::Param, t);
                e->paramIndex = ++m_params;
                advance();
                return e;
            }
            case TokenKind::SysVar: {
                auto e = leaf(ExprKind::SysVar, t);
                e->text = std::string(text(t));
                advance();
                return e;
            }
            case TokenKind::LParen: {
                advance();
                if (startsQuery(cur())) {
                    auto e = leaf(ExprKind::Subquery, t);
                    e->query = subquery();
                    expect(TokenKind::RParen, "')' after the subquery");
                    e->span = spanFrom(t.offset);
                    finish(*e, t);
                    return e;
                }
                ExprPtr inner = expr();
                expect(TokenKind::RParen, "')'");
                inner->span = spanFrom(t.offset);
                return inner;
            }
            case TokenKind::Bracketed:
            case TokenKind::Backquoted:
                return nameExpr(t);
            case TokenKind::Word:
                break;
            case TokenKind::End:
                fail(t, "expected an expression");
            default:
                fail(t, "expected an expression");
        }
        const bool qualified = peek().kind == TokenKind::Dot || peek().kind == TokenKind::Bang;
        const bool call = peek().kind == TokenKind::LParen;
        switch (t.keyword) {
            case Keyword::True:
            case Keyword::False: {
                auto e = leaf(ExprKind::Boolean, t);
                e->boolValue = t.keyword == Keyword::True;
                e->text = std::string(text(t));
                advance();
                return e;
            }
            case Keyword::Yes:
            case Keyword::No:
            case Keyword::On:
            case Keyword::Off: {
                if (qualified || call) break;
                auto e = leaf(ExprKind::Boolean, t);
                e->boolValue = t.keyword == Keyword::Yes || t.keyword == Keyword::On;
                e->softKeyword = true;
                e->text = std::string(text(t));
                advance();
                return e;
            }
            case Keyword::Null: {
                auto e = leaf(ExprKind::Null, t);
                advance();
                return e;
            }
            case Keyword::Exists: {
                advance();
                if (cur().kind != TokenKind::LParen || !startsQuery(peek()))
                    fail(cur(), "Exists needs a subquery in parentheses");
                advance();
                auto e = std::make_unique<Expr>(ExprKind::Exists);
                e->query = subquery();
                expect(TokenKind::RParen, "')' after the subquery");
                e->span = spanFrom(t.offset);
                finish(*e, t);
                return e;
            }
            case Keyword::Select:
                fail(t, "a subquery must be in parentheses");
            case Keyword::Case:
                if (isKw(peek(), Keyword::When) || canStartOperand(peek()))
                    fail(t, "CASE is not Access SQL; use IIf(condition, a, b) or Switch(...)");
                break;
            case Keyword::Cast:
                if (call) fail(t, "CAST is not Access SQL; use CStr, CLng, CDbl, CDate, ...");
                break;
            case Keyword::Left:
            case Keyword::Right:
                // The string functions share their names with the joins.
                if (call) return callExpr(t);
                break;
            default:
                break;
        }
        if (isReserved(t.keyword))
            fail(t, "expected an expression; '" + std::string(text(t)) +
                        "' is a reserved word (write it in brackets to use it as a name)");
        if (call) return callExpr(t);
        return nameExpr(t);
    }

    ExprPtr nameExpr(const Token& t) {
        auto e = leaf(ExprKind::Name, t);
        e->name = qualifiedName();
        e->span = spanFrom(t.offset);
        return e;
    }

    ExprPtr callExpr(const Token& t) {
        auto e = leaf(ExprKind::Call, t);
        e->name.parts.push_back(nameFrom(t));
        advance();
        expect(TokenKind::LParen, "'('");
        if (isKw(cur(), Keyword::Distinct) || isKw(cur(), Keyword::DistinctRow) ||
            isKw(cur(), Keyword::All))
            fail(cur(),
                 "Access does not allow DISTINCT or ALL inside an aggregate; count distinct "
                 "values with SELECT Count(*) FROM (SELECT DISTINCT ...)");
        if (cur().kind == TokenKind::Star) {
            advance();
            e->star = true;
        } else if (cur().kind != TokenKind::RParen) {
            do {
                e->operands.push_back(expr());
            } while (accept(TokenKind::Comma));
        }
        expect(TokenKind::RParen, "')' or ',' in the argument list");
        e->span = spanFrom(t.offset);
        finish(*e, t);
        return e;
    }

    // ---- queries ----------------------------------------------------------
    QueryPtr subquery() {
        QueryPtr q = query(false, false);
        return q;
    }

    // union_query | transform_query
    QueryPtr query(bool allowUnion, bool topLevel) {
        DepthGuard guard(*this);
        const Token& start = cur();
        auto q = std::make_unique<Query>();
        if (isKw(start, Keyword::Transform)) {
            transformQuery(*q, topLevel);
        } else {
            q->terms.push_back(term(topLevel));
            while (isKw(cur(), Keyword::Union)) {
                if (!allowUnion) fail(cur(), "unions are not allowed in a subquery");
                advance();
                q->unionAll.push_back(acceptKw(Keyword::All));
                q->terms.push_back(term(false));
            }
            if (isKw(cur(), Keyword::Order)) q->orderBy = orderBy();
            ownerAccess(*q);
        }
        q->span = spanFrom(start.offset);
        q->height = heightOf(*q);
        checkHeight(q->height, start);
        return q;
    }

    void ownerAccess(Query& q) {
        if (!isKw(cur(), Keyword::With)) return;
        advance();
        expectKw(Keyword::OwnerAccess, "OWNERACCESS OPTION after WITH");
        expectKw(Keyword::Option, "OPTION after WITH OWNERACCESS");
        q.ownerAccess = true;
    }

    QueryTerm term(bool allowInto) {
        QueryTerm t;
        const Token& start = cur();
        if (isKw(start, Keyword::Select)) {
            t.kind = QueryTerm::Kind::Select;
            t.select = selectCore(allowInto);
        } else if (isKw(start, Keyword::Table)) {
            advance();
            t.kind = QueryTerm::Kind::Table;
            t.table = objectName("a table name after TABLE");
        } else if (start.kind == TokenKind::LParen) {
            advance();
            t.kind = QueryTerm::Kind::Nested;
            if (!startsQuery(cur()) && !isKw(cur(), Keyword::Table) &&
                cur().kind != TokenKind::LParen)
                fail(cur(), "expected SELECT");
            t.nested = query(true, false);
            expect(TokenKind::RParen, "')'");
        } else {
            fail(start, "expected SELECT");
        }
        t.span = spanFrom(start.offset);
        return t;
    }

    void transformQuery(Query& q, bool topLevel) {
        const Token& start = cur();
        advance();
        Transform tr;
        tr.aggregate = expr();
        if (acceptKw(Keyword::As)) tr.alias = name("an alias after AS");
        if (!isKw(cur(), Keyword::Select)) fail(cur(), "expected SELECT after TRANSFORM's value");
        QueryTerm t;
        const Token& selStart = cur();
        t.select = selectCore(topLevel);
        t.span = spanFrom(selStart.offset);
        if (t.select->groupBy.empty())
            fail(cur(), "a TRANSFORM query needs GROUP BY for its row headings");
        if (t.select->having) fail(cur(), "cannot use HAVING clause in TRANSFORM statement");
        q.terms.push_back(std::move(t));
        if (isKw(cur(), Keyword::Order)) q.orderBy = orderBy();
        if (isKw(cur(), Keyword::Union))
            fail(cur(), "a TRANSFORM query cannot be combined with UNION");
        expectKw(Keyword::Pivot, "PIVOT in the TRANSFORM query");
        // The pivot expression stops before IN, which belongs to PIVOT.
        tr.pivot = expr(kCompare);
        if (acceptKw(Keyword::In)) {
            tr.hasInList = true;
            expect(TokenKind::LParen, "'(' after PIVOT ... IN");
            do {
                tr.inList.push_back(expr());
            } while (accept(TokenKind::Comma));
            expect(TokenKind::RParen, "')' or ',' in the PIVOT IN list");
        }
        tr.span = spanFrom(start.offset);
        q.transform = std::move(tr);
        ownerAccess(q);
    }

    std::vector<OrderItem> orderBy() {
        advance();
        expectKw(Keyword::By, "BY after ORDER");
        std::vector<OrderItem> out;
        do {
            OrderItem o;
            const uint32_t start = cur().offset;
            o.expr = expr();
            if (acceptKw(Keyword::Desc)) {
                o.descending = true;
                o.explicitDirection = true;
            } else if (acceptKw(Keyword::Asc)) {
                o.explicitDirection = true;
            }
            o.span = spanFrom(start);
            out.push_back(std::move(o));
        } while (accept(TokenKind::Comma));
        return out;
    }

    Top top() {
        Top t;
        const Token& kw = cur();
        advance();
        const Token& n = cur();
        if (n.kind != TokenKind::Number)
            fail(n,
                 "invalid TOP argument: TOP needs a whole number, not an expression or parameter");
        t.count = numberFrom(n);
        if (!t.count.integral || !t.count.intValue || *t.count.intValue <= 0)
            fail(n, "invalid TOP argument: TOP needs a whole number greater than 0");
        advance();
        if (acceptKw(Keyword::Percent)) {
            t.percent = true;
            if (*t.count.intValue > 100)
                fail(n, "invalid TOP argument: TOP n PERCENT needs n <= 100");
        }
        t.span = spanFrom(kw.offset);
        return t;
    }

    SetQuantifier setQuantifier() {
        if (acceptKw(Keyword::All)) return SetQuantifier::All;
        if (acceptKw(Keyword::Distinct)) return SetQuantifier::Distinct;
        if (acceptKw(Keyword::DistinctRow)) return SetQuantifier::DistinctRow;
        return SetQuantifier::Default;
    }

    // name (. name)* . *  — a table.* item.
    bool atTableStar() const {
        size_t i = m_pos;
        if (!isNameToken(m_tok[i])) return false;
        ++i;
        while (i + 1 < m_tok.size() &&
               (m_tok[i].kind == TokenKind::Dot || m_tok[i].kind == TokenKind::Bang)) {
            if (m_tok[i + 1].kind == TokenKind::Star) return true;
            if (!isNameToken(m_tok[i + 1])) return false;
            i += 2;
        }
        return false;
    }

    std::unique_ptr<SelectCore> selectCore(bool allowInto) {
        auto s = std::make_unique<SelectCore>();
        const Token& start = cur();
        advance();  // SELECT
        s->quantifier = setQuantifier();
        if (isKw(cur(), Keyword::Top)) s->top = top();
        if (cur().kind == TokenKind::End) fail(cur(), "expected the select list");
        do {
            s->items.push_back(selectItem());
        } while (accept(TokenKind::Comma));
        if (isKw(cur(), Keyword::Into)) {
            if (!allowInto)
                fail(cur(),
                     "SELECT ... INTO is only allowed as a statement of its own, not in a "
                     "subquery or after UNION");
            advance();
            s->into = objectName("a table name after INTO");
            if (isKw(cur(), Keyword::In)) unsupported(cur(), "IN with an external database");
        }
        if (acceptKw(Keyword::From)) {
            do {
                s->from.push_back(fromItem());
            } while (accept(TokenKind::Comma));
            if (isKw(cur(), Keyword::In)) unsupported(cur(), "IN with an external database");
        }
        if (acceptKw(Keyword::Where)) s->where = expr();
        if (isKw(cur(), Keyword::Group)) {
            advance();
            expectKw(Keyword::By, "BY after GROUP");
            do {
                s->groupBy.push_back(expr());
            } while (accept(TokenKind::Comma));
        }
        if (acceptKw(Keyword::Having)) s->having = expr();
        s->span = spanFrom(start.offset);
        return s;
    }

    SelectItem selectItem() {
        SelectItem it;
        const uint32_t start = cur().offset;
        if (cur().kind == TokenKind::Star) {
            advance();
            it.kind = SelectItem::Kind::Star;
        } else if (atTableStar()) {
            it.kind = SelectItem::Kind::TableStar;
            it.table.parts.push_back(nameFrom(cur()));
            advance();
            while (cur().kind == TokenKind::Dot || cur().kind == TokenKind::Bang) {
                const char sep = cur().kind == TokenKind::Dot ? '.' : '!';
                advance();
                if (cur().kind == TokenKind::Star) {
                    if (sep != '.') fail(cur(), "write table.* with a period");
                    advance();
                    break;
                }
                it.table.separators.push_back(sep);
                it.table.parts.push_back(nameFrom(cur()));
                advance();
            }
            if (it.table.parts.size() > 1)
                fail(m_tok[m_pos - 1], "Access has no schemas: write table.*");
        } else {
            it.kind = SelectItem::Kind::Expr;
            it.expr = expr();
            if (acceptKw(Keyword::As)) {
                it.alias = name("an alias after AS");
            } else if (const char* f = foreignConstruct(m_pos)) {
                fail(cur(), f);
            } else if (isNameToken(cur())) {
                fail(cur(), "a column alias needs AS (write expression AS alias)");
            }
        }
        it.span = spanFrom(start);
        return it;
    }

    // from_primary [join_type JOIN from_primary ON condition]
    FromItemPtr fromItem() {
        DepthGuard guard(*this);
        const uint32_t start = cur().offset;
        FromItemPtr left = fromPrimary();
        if (!atJoin()) return left;
        FromItemPtr j = join(std::move(left), start);
        if (atJoin())
            fail(cur(),
                 "joining more than two tables needs parentheses in Access: "
                 "(A INNER JOIN B ON ...) INNER JOIN C ON ...");
        return j;
    }

    bool atJoin() const {
        const Token& t = cur();
        return isKw(t, Keyword::Inner) || isKw(t, Keyword::Left) || isKw(t, Keyword::Right) ||
               isKw(t, Keyword::Join) || isKw(t, Keyword::Outer) ||
               (foreignConstruct(m_pos) &&
                (isKw(t, Keyword::Full) || isKw(t, Keyword::Cross) || isKw(t, Keyword::Natural)));
    }

    FromItemPtr join(FromItemPtr left, uint32_t start) {
        auto j = std::make_unique<FromItem>();
        j->kind = FromItem::Kind::Join;
        const Token& t = cur();
        if (const char* f = foreignConstruct(m_pos)) fail(t, f);
        if (isKw(t, Keyword::Join)) fail(t, "Access needs INNER, LEFT or RIGHT before JOIN");
        if (isKw(t, Keyword::Outer)) fail(t, "write LEFT OUTER JOIN or RIGHT OUTER JOIN");
        advance();
        if (t.keyword == Keyword::Inner) {
            j->join = JoinType::Inner;
        } else {
            j->join = t.keyword == Keyword::Left ? JoinType::Left : JoinType::Right;
            j->outerKeyword = acceptKw(Keyword::Outer);
        }
        expectKw(Keyword::Join, "JOIN");
        j->left = std::move(left);
        j->right = fromPrimary();
        if (const char* f = foreignConstruct(m_pos)) fail(cur(), f);
        if (!acceptKw(Keyword::On)) fail(cur(), "a join needs ON and a condition");
        j->on = expr();
        j->span = spanFrom(start);
        return j;
    }

    bool startsWithSelect(std::string_view body) const {
        size_t i = 0;
        while (i < body.size() &&
               (body[i] == ' ' || body[i] == '\t' || body[i] == '\r' || body[i] == '\n'))
            ++i;
        return body.size() - i > 6 && upperAscii(body.substr(i, 6)) == "SELECT" &&
               (body[i + 6] == ' ' || body[i + 6] == '\t' || body[i + 6] == '\r' ||
                body[i + 6] == '\n');
    }

    void tableAlias(FromItem& f, bool required) {
        if (acceptKw(Keyword::As)) {
            f.aliasWithAs = true;
            f.alias = name("an alias after AS");
            return;
        }
        if (isNameToken(cur()) && !foreignConstruct(m_pos)) {
            f.alias = name("an alias");
            return;
        }
        if (required) fail(cur(), "a derived table needs an alias: (SELECT ...) AS name");
    }

    FromItemPtr fromPrimary() {
        const Token& t = cur();
        if (t.kind == TokenKind::LParen) {
            if (startsQuery(peek())) {
                advance();
                auto f = std::make_unique<FromItem>();
                f->kind = FromItem::Kind::Derived;
                f->query = query(true, false);
                expect(TokenKind::RParen, "')' after the derived table's query");
                // Access names a derived table without an alias itself.
                tableAlias(*f, false);
                f->span = spanFrom(t.offset);
                return f;
            }
            advance();
            FromItemPtr inner = fromItem();
            expect(TokenKind::RParen, "')'");
            inner->span = spanFrom(t.offset);
            return inner;
        }
        // The form Access itself writes for derived tables: [SELECT ...]. AS x
        if (t.kind == TokenKind::Bracketed && peek().kind == TokenKind::Dot &&
            startsWithSelect(m_sql.substr(t.offset + 1, t.length - 2))) {
            auto f = std::make_unique<FromItem>();
            f->kind = FromItem::Kind::Derived;
            f->query = legacyDerived(t);
            advance();
            advance();  // the period
            tableAlias(*f, true);
            f->span = spanFrom(t.offset);
            return f;
        }
        if (isKw(t, Keyword::Select)) fail(t, "a derived table must be in parentheses");
        auto f = std::make_unique<FromItem>();
        f->kind = FromItem::Kind::Table;
        f->table = objectName("a table name");
        if (isKw(cur(), Keyword::In)) unsupported(cur(), "IN with an external database");
        tableAlias(*f, false);
        f->span = spanFrom(t.offset);
        return f;
    }

    QueryPtr legacyDerived(const Token& t) {
        Parser sub(m_sql, m_limits, tokenize(m_sql, t.offset + 1, t.offset + t.length - 1));
        sub.m_depth = m_depth;
        sub.m_params = m_params;
        QueryPtr q = sub.query(true, false);
        if (sub.cur().kind != TokenKind::End) sub.fail(sub.cur(), "expected ']' after the query");
        m_params = sub.m_params;
        return q;
    }

    static uint32_t heightOf(const FromItem& f) {
        switch (f.kind) {
            case FromItem::Kind::Table:
                return 1;
            case FromItem::Kind::Derived:
                return f.query->height + 1;
            case FromItem::Kind::Join:
                return 1 + std::max({heightOf(*f.left), heightOf(*f.right), f.on->height});
        }
        return 1;
    }

    static uint32_t heightOf(const Query& q) {
        uint32_t h = 0;
        auto e = [&h](const ExprPtr& x) {
            if (x) h = std::max(h, x->height);
        };
        for (const auto& t : q.terms) {
            if (t.nested) h = std::max(h, t.nested->height);
            if (!t.select) continue;
            for (const auto& it : t.select->items) e(it.expr);
            for (const auto& f : t.select->from) h = std::max(h, heightOf(*f));
            e(t.select->where);
            for (const auto& g : t.select->groupBy) e(g);
            e(t.select->having);
        }
        for (const auto& o : q.orderBy) e(o.expr);
        if (q.transform) {
            e(q.transform->aggregate);
            e(q.transform->pivot);
            for (const auto& x : q.transform->inList) e(x);
        }
        return h + 1;
    }

    // ---- statements -------------------------------------------------------
    void statementBody(Statement& st) {
        const Token& t = cur();
        if (isKw(t, Keyword::Select) || isKw(t, Keyword::Transform) ||
            (t.kind == TokenKind::LParen) || isKw(t, Keyword::Table)) {
            st.query = query(true, true);
            const auto& first = st.query->terms.front();
            st.kind = first.select && first.select->into ? StatementKind::SelectInto
                                                         : StatementKind::Select;
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
                    if (isKw(peek(), Keyword::User))
                        unsupported(t, "security statements (ADD USER)");
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

    void insertStmt(Statement& st) {
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
                fail(cur(),
                     "Access inserts one row per INSERT ... VALUES; use one statement per row");
        } else if (startsQuery(cur()) || cur().kind == TokenKind::LParen ||
                   isKw(cur(), Keyword::Table)) {
            ins.query = query(true, false);
        } else {
            fail(cur(), "expected VALUES or SELECT");
        }
        st.kind = StatementKind::Insert;
        st.body = std::move(ins);
    }

    void updateStmt(Statement& st) {
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

    void deleteStmt(Statement& st) {
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

    std::vector<ParamDecl> paramList(TokenKind stop) {
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

    TypeName typeName() {
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

    RefAction refAction() {
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

    References references() {
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

    ExprPtr checkCondition() {
        expect(TokenKind::LParen, "'(' after CHECK");
        ExprPtr e = expr();
        expect(TokenKind::RParen, "')' after the CHECK condition");
        return e;
    }

    bool atConstraintStart() const {
        return isKw(cur(), Keyword::Constraint) || isKw(cur(), Keyword::Primary) ||
               isKw(cur(), Keyword::Unique) || isKw(cur(), Keyword::Foreign) ||
               (isKw(cur(), Keyword::Check) && peek().kind == TokenKind::LParen);
    }

    // A constraint; table constraints carry a column list.
    Constraint constraint(bool table) {
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

    ColumnDef columnDef() {
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

    void createStmt(Statement& st) {
        const Token& create = cur();
        advance();
        const Token& t = cur();
        if (isKw(t, Keyword::Table) || isKw(t, Keyword::Temporary)) {
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
            return;
        }
        if (isKw(t, Keyword::Unique) || isKw(t, Keyword::Index)) {
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
            return;
        }
        if (isKw(t, Keyword::View)) {
            advance();
            CreateViewStmt cv;
            cv.view = objectName("a view name");
            if (cur().kind == TokenKind::LParen) cv.columns = nameList("a column name");
            expectKw(Keyword::As, "AS before the view's SELECT");
            if (!startsQuery(cur()) && cur().kind != TokenKind::LParen &&
                !isKw(cur(), Keyword::Table))
                fail(cur(), "only simple SELECT queries are allowed in VIEWS");
            cv.query = query(true, false);
            st.kind = StatementKind::CreateView;
            st.body = std::move(cv);
            return;
        }
        if (isKw(t, Keyword::Procedure) ||
            (t.kind == TokenKind::Word && upperAscii(text(t)) == "PROC")) {
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
            return;
        }
        if (isKw(t, Keyword::User) ||
            (t.kind == TokenKind::Word && upperAscii(text(t)) == "GROUP") ||
            isKw(t, Keyword::Group))
            unsupported(create, "security statements (CREATE USER, CREATE GROUP)");
        fail(t, "expected TABLE, INDEX, UNIQUE INDEX, VIEW or PROCEDURE after CREATE");
    }

    void alterStmt(Statement& st) {
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
        if (cur().kind == TokenKind::Comma)
            fail(cur(), "ALTER TABLE makes one change per statement");
        st.kind = StatementKind::AlterTable;
        st.body = std::move(a);
    }

    void dropStmt(Statement& st) {
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

    void executeStmt(Statement& st) {
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

    void transactionStmt(Statement& st) {
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

    std::string_view m_sql;
    const Limits& m_limits;
    std::vector<Token> m_tok;
    size_t m_pos = 0;
    uint32_t m_depth = 0;
    uint32_t m_params = 0;
};

}  // namespace

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
