// Expressions: literals, the Pratt loop over the binding-power table, the
// predicates at the comparison level (Like, Between, In, Is, ANY/SOME/ALL),
// prefix operators, primaries and function calls.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "date_literal.h"
#include "parser_internal.h"

namespace tab::accsql::detail {

std::string Parser::stringValue(const Token& t) const {
    const char q = m_sql[t.offset];
    std::string out;
    const std::string_view body = m_sql.substr(t.offset + 1, t.length - 2);
    for (size_t i = 0; i < body.size(); ++i) {
        out.push_back(body[i]);
        if (body[i] == q) ++i;  // doubled delimiter
    }
    return out;
}

NumberLiteral Parser::numberFrom(const Token& t) const {
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

ExprPtr Parser::leaf(ExprKind k, const Token& t) {
    auto e = std::make_unique<Expr>(k);
    e->span = Span{t.offset, t.length};
    return e;
}

void Parser::finish(Expr& e, const Token& at) {
    uint32_t h = 0;
    for (const auto& o : e.operands) h = std::max(h, o->height);
    if (e.query) h = std::max(h, e.query->height);
    e.height = h + 1;
    checkHeight(e.height, at);
}

bool Parser::isComparison(TokenKind k) {
    return k == TokenKind::Eq || k == TokenKind::Ne || k == TokenKind::Lt || k == TokenKind::Gt ||
           k == TokenKind::Le || k == TokenKind::Ge;
}

BinaryOp Parser::comparisonOp(TokenKind k) {
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
int Parser::infixBp(BinaryOp& op) const {
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
            if (isKw(n, Keyword::Like) || isKw(n, Keyword::ALike) || isKw(n, Keyword::Between) ||
                isKw(n, Keyword::In))
                return kCompare;
            return 0;
        }
        default:
            return 0;
    }
}

ExprPtr Parser::expr(int minBp) {
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

ExprPtr Parser::infix(ExprPtr left, BinaryOp op, int bp, const Token& startTok) {
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
    } else if (isComparison(t.kind) && (isKw(peek(), Keyword::Any) || isKw(peek(), Keyword::Some) ||
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

// Operand start for the soft prefix operator BNOT.
bool Parser::canStartOperand(const Token& t) const {
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

ExprPtr Parser::prefix() {
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

ExprPtr Parser::primary() {
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
            return wordPrimary(t);
        case TokenKind::End:
            fail(t, "expected an expression");
        default:
            fail(t, "expected an expression");
    }
}

// Keyword literals, EXISTS, the non-Access forms named in messages, calls and
// names.
ExprPtr Parser::wordPrimary(const Token& t) {
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

ExprPtr Parser::nameExpr(const Token& t) {
    auto e = leaf(ExprKind::Name, t);
    e->name = qualifiedName();
    e->span = spanFrom(t.offset);
    return e;
}

ExprPtr Parser::callExpr(const Token& t) {
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

}  // namespace tab::accsql::detail
