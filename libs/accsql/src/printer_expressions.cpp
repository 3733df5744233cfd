// Expressions as SQL text and in the tree form. The two differ in layout
// only: both take the operators' spellings from one table. Every operator is
// parenthesised, so the printed text needs no precedence knowledge to read
// back.
#include <cstdint>
#include <cstdio>
#include <string>
#include <variant>

#include "printer_internal.h"
#include "tabulary/accsql/printer.h"

namespace tab::accsql {

namespace {

// The predicates that are expression kinds of their own.
enum class Predicate : uint8_t { Between, In, IsNull, Like, ALike, Exists };

using OperatorKey = std::variant<std::monostate, UnaryOp, BinaryOp, Predicate>;

// Every operator, once: how SQL text spells it and the name that heads its
// list in the tree form. A negated predicate is a row of its own, since the
// negation does not always go in front (IS NOT NULL).
struct OperatorSpelling {
    OperatorKey op;
    bool negated;
    const char* sql;
    const char* tree;
};

const OperatorSpelling kOperators[] = {
    {UnaryOp::Neg, false, "-", "neg"},
    {UnaryOp::Plus, false, "+", "pos"},
    {UnaryOp::Not, false, "NOT", "not"},
    {UnaryOp::BNot, false, "BNOT", "bnot"},
    {BinaryOp::Imp, false, "IMP", "IMP"},
    {BinaryOp::Eqv, false, "EQV", "EQV"},
    {BinaryOp::Xor, false, "XOR", "XOR"},
    {BinaryOp::Or, false, "OR", "OR"},
    {BinaryOp::And, false, "AND", "AND"},
    {BinaryOp::BAnd, false, "BAND", "BAND"},
    {BinaryOp::BOr, false, "BOR", "BOR"},
    {BinaryOp::BXor, false, "BXOR", "BXOR"},
    {BinaryOp::Eq, false, "=", "="},
    {BinaryOp::Ne, false, "<>", "<>"},
    {BinaryOp::Lt, false, "<", "<"},
    {BinaryOp::Gt, false, ">", ">"},
    {BinaryOp::Le, false, "<=", "<="},
    {BinaryOp::Ge, false, ">=", ">="},
    {BinaryOp::Concat, false, "&", "&"},
    {BinaryOp::Add, false, "+", "+"},
    {BinaryOp::Sub, false, "-", "-"},
    {BinaryOp::Mod, false, "MOD", "MOD"},
    {BinaryOp::IntDiv, false, "\\", "\\"},
    {BinaryOp::Mul, false, "*", "*"},
    {BinaryOp::Div, false, "/", "/"},
    {BinaryOp::Pow, false, "^", "^"},
    {Predicate::Between, false, "BETWEEN", "between"},
    {Predicate::Between, true, "NOT BETWEEN", "not-between"},
    {Predicate::In, false, "IN", "in"},
    {Predicate::In, true, "NOT IN", "not-in"},
    {Predicate::IsNull, false, "IS NULL", "is-null"},
    {Predicate::IsNull, true, "IS NOT NULL", "is-not-null"},
    {Predicate::Like, false, "LIKE", "like"},
    {Predicate::Like, true, "NOT LIKE", "not-like"},
    {Predicate::ALike, false, "ALIKE", "alike"},
    {Predicate::ALike, true, "NOT ALIKE", "not-alike"},
    {Predicate::Exists, false, "EXISTS", "exists"},
};

const OperatorSpelling& spelling(OperatorKey op, bool negated = false) {
    for (const OperatorSpelling& row : kOperators)
        if (row.op == op && row.negated == negated) return row;
    static const OperatorSpelling unknown{std::monostate{}, false, "?", "?"};
    return unknown;
}

// The row of an operator expression; null for literals, names, calls and
// subqueries.
const OperatorSpelling* operatorOf(const Expr& e) {
    switch (e.kind) {
        case ExprKind::Unary:
            return &spelling(e.unaryOp);
        case ExprKind::Binary:
        case ExprKind::Quantified:
            return &spelling(e.binaryOp);
        case ExprKind::Between:
            return &spelling(Predicate::Between, e.negated);
        case ExprKind::InList:
        case ExprKind::InQuery:
            return &spelling(Predicate::In, e.negated);
        case ExprKind::IsNull:
            return &spelling(Predicate::IsNull, e.negated);
        case ExprKind::Like:
            return &spelling(e.alike ? Predicate::ALike : Predicate::Like, e.negated);
        case ExprKind::Exists:
            return &spelling(Predicate::Exists);
        default:
            return nullptr;
    }
}

const char* quantifierText(Quantifier q) {
    switch (q) {
        case Quantifier::Any:
            return "ANY";
        case Quantifier::Some:
            return "SOME";
        case Quantifier::All:
            return "ALL";
    }
    return "?";
}

std::string dateText(const DateLiteral& d) {
    char buf[64];
    std::string out;
    if (d.hasDate) {
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
        out = buf;
    }
    if (d.hasTime) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", d.hour, d.minute, d.second);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

}  // namespace

const char* binaryOpText(BinaryOp op) {
    return spelling(op).sql;
}

namespace detail {

void Printer::name(const Name& n) {
    switch (n.delimiter) {
        case Delimiter::None:
            out += n.text;
            break;
        case Delimiter::Bracket:
            out += '[' + n.text + ']';
            break;
        case Delimiter::Backquote:
            out += '`' + n.text + '`';
            break;
    }
}

void Printer::qname(const QualifiedName& q) {
    for (size_t i = 0; i < q.parts.size(); ++i) {
        if (i > 0) out += i - 1 < q.separators.size() ? q.separators[i - 1] : '.';
        name(q.parts[i]);
    }
}

void Printer::names(const std::vector<Name>& ns) {
    out += '(';
    for (size_t i = 0; i < ns.size(); ++i) {
        if (i) out += ", ";
        name(ns[i]);
    }
    out += ')';
}

void Printer::exprs(const std::vector<ExprPtr>& es, size_t from) {
    for (size_t i = from; i < es.size(); ++i) {
        if (i > from) out += ", ";
        expr(*es[i]);
    }
}

void Printer::stringLit(const Expr& e) {
    out += e.quote;
    for (char c : e.text) {
        out += c;
        if (c == e.quote) out += c;
    }
    out += e.quote;
}

// " op " between the operands, in SQL text.
void Printer::infixOp(const Expr& e) {
    out += ' ';
    out += operatorOf(e)->sql;
    out += ' ';
}

void Printer::expr(const Expr& e) {
    if (m_sexpr) return sexpr(e);
    switch (e.kind) {
        case ExprKind::Number:
            out += e.number.text;
            break;
        case ExprKind::String:
            stringLit(e);
            break;
        case ExprKind::Date:
            out += '#' + dateText(e.date) + '#';
            break;
        case ExprKind::Guid:
            out += "{guid {" + e.text + "}}";
            break;
        case ExprKind::Boolean:
            out += e.text;
            break;
        case ExprKind::Null:
            out += "NULL";
            break;
        case ExprKind::Name:
            qname(e.name);
            break;
        case ExprKind::Param:
            out += '?';
            break;
        case ExprKind::SysVar:
            out += e.text;
            break;
        case ExprKind::Call:
            qname(e.name);
            out += '(';
            if (e.star) out += '*';
            exprs(e.operands, 0);
            out += ')';
            break;
        case ExprKind::Unary: {
            const char* op = operatorOf(e)->sql;
            out += '(';
            out += op;
            // A word operator needs a space before its operand: NOT x.
            if (op[0] >= 'A' && op[0] <= 'Z') out += ' ';
            expr(*e.operands[0]);
            out += ')';
            break;
        }
        case ExprKind::Binary:
        case ExprKind::Like:
            out += '(';
            expr(*e.operands[0]);
            infixOp(e);
            expr(*e.operands[1]);
            out += ')';
            break;
        case ExprKind::Between:
            out += '(';
            expr(*e.operands[0]);
            infixOp(e);
            expr(*e.operands[1]);
            out += " AND ";
            expr(*e.operands[2]);
            out += ')';
            break;
        case ExprKind::InList:
            out += '(';
            expr(*e.operands[0]);
            infixOp(e);
            out += '(';
            exprs(e.operands, 1);
            out += "))";
            break;
        case ExprKind::InQuery:
            out += '(';
            expr(*e.operands[0]);
            infixOp(e);
            out += '(';
            query(*e.query);
            out += "))";
            break;
        case ExprKind::IsNull:
            out += '(';
            expr(*e.operands[0]);
            out += ' ';
            out += operatorOf(e)->sql;
            out += ')';
            break;
        case ExprKind::Quantified:
            out += '(';
            expr(*e.operands[0]);
            infixOp(e);
            out += quantifierText(e.quantifier);
            out += " (";
            query(*e.query);
            out += "))";
            break;
        case ExprKind::Exists:
            out += operatorOf(e)->sql;
            out += " (";
            query(*e.query);
            out += ')';
            break;
        case ExprKind::Subquery:
            out += '(';
            query(*e.query);
            out += ')';
            break;
    }
}

// (op operands...) with literals tagged by kind; no spans.
void Printer::sexpr(const Expr& e) {
    auto kids = [&](size_t from) {
        for (size_t i = from; i < e.operands.size(); ++i) {
            out += ' ';
            expr(*e.operands[i]);
        }
    };
    // Every operator is (name operands... [(query ...)]).
    if (const OperatorSpelling* op = operatorOf(e)) {
        out += '(';
        out += op->tree;
        if (e.kind == ExprKind::Quantified) {
            out += ' ';
            out += quantifierText(e.quantifier);
        }
        kids(0);
        if (e.query) {
            out += " (query ";
            query(*e.query);
            out += ')';
        }
        out += ')';
        return;
    }
    switch (e.kind) {
        case ExprKind::Number:
            out += e.number.text;
            break;
        case ExprKind::String:
            out += "(str ";
            stringLit(e);
            out += ')';
            break;
        case ExprKind::Date:
            out += "(date " + dateText(e.date) + ')';
            break;
        case ExprKind::Guid:
            out += "(guid " + e.text + ')';
            break;
        case ExprKind::Boolean:
            out += e.boolValue ? "(true " : "(false ";
            out += e.text;
            out += e.softKeyword ? " soft)" : ")";
            break;
        case ExprKind::Null:
            out += "null";
            break;
        case ExprKind::Name:
            qname(e.name);
            break;
        case ExprKind::Param:
            out += "(? " + std::to_string(e.paramIndex) + ')';
            break;
        case ExprKind::SysVar:
            out += e.text;
            break;
        case ExprKind::Call:
            out += "(call ";
            qname(e.name);
            if (e.star) out += " *";
            kids(0);
            out += ')';
            break;
        case ExprKind::Subquery:
            out += "(query ";
            query(*e.query);
            out += ')';
            break;
        case ExprKind::Unary:
        case ExprKind::Binary:
        case ExprKind::Between:
        case ExprKind::InList:
        case ExprKind::InQuery:
        case ExprKind::IsNull:
        case ExprKind::Like:
        case ExprKind::Quantified:
        case ExprKind::Exists:
            break;  // printed above
    }
}

}  // namespace detail

std::string print(const Expr& e) {
    detail::Printer p(false);
    p.expr(e);
    return p.out;
}

std::string dump(const Expr& e) {
    detail::Printer p(true);
    p.expr(e);
    return p.out;
}

}  // namespace tab::accsql
