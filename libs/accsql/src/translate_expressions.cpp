// Expressions: literals, operators and predicates, each emitted with its
// static Access type and converted where SQLite would compare, add or
// collate differently.
#include <cstdio>
#include <initializer_list>

#include "tabulary/base/calendar.h"
#include "translator_internal.h"
#include "types_internal.h"

namespace tab::accsql::translation {
namespace {

// Aliases paste their expression where they are used, so the text can grow
// much faster than the statement; refuse before SQLite has to.
constexpr size_t kMaxSqlBytes = 8u << 20;

std::string quoteText(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        // SQLite's tokenizer stops at NUL; spell such text in hex.
        static const char* hex = "0123456789ABCDEF";
        std::string out = "CAST(X'";
        for (unsigned char c : text) {
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        return out + "' AS TEXT)";
    }
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

std::string realLiteral(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    std::string s = buf;
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
    return s;
}

Tx numberLiteral(const NumberLiteral& n) {
    if (n.integral && n.intValue && *n.intValue >= INT32_MIN && *n.intValue <= INT32_MAX)
        return lit(std::to_string(*n.intValue), Type::Long);
    return lit(realLiteral(n.value), Type::Double);
}

// A date/time as its day serial, the time as a fraction that moves away
// from day zero on either side of it.
Tx dateLiteral(const DateLiteral& d) {
    double serial = 0;
    if (d.hasDate) serial = static_cast<double>(daysFromCivil(d.year, d.month, d.day));
    double time = (d.hour * 3600 + d.minute * 60 + d.second) / 86400.0;
    serial = serial < 0 ? serial - time : serial + time;
    return lit("(" + realLiteral(serial) + ")", Type::Date);
}

// "(a + b) + c" as "(a + b + c)": SQLite's parser has a small fixed stack,
// and long chains of OR, AND or + must not nest a parenthesis per term.
std::string unchained(const Tx& t, const std::string& form, char op) {
    if (t.chain == op && form == t.sql) return t.sql.substr(1, t.sql.size() - 2);
    return form;
}

Tx chained(Tx t, char op) {
    t.chain = op;
    return t;
}

Tx fromOperands(std::string sql, Type type, std::initializer_list<const Tx*> ops,
                bool pred = false) {
    Tx t;
    t.sql = std::move(sql);
    t.type = type;
    t.pred = pred;
    t.constant = true;
    for (const Tx* o : ops) merge(t, *o);
    return t;
}

// Comparisons are spelled alike in Access SQL and SQLite.
std::string comparisonOp(BinaryOp op) {
    return binaryOpText(op);
}

bool bothBoolean(const Tx& a, const Tx& b) {
    auto boolean = [](const Tx& t) {
        return t.pred || t.type == Type::Boolean || t.type == Type::Null;
    };
    return boolean(a) && boolean(b);
}

// A text operand of a comparison with a subquery's column; a Decimal one
// compares in numeric order.
std::string collated(const Tx& x) {
    std::string xs = val(x);
    if (isText(x.type) && !x.column) xs += " COLLATE ACC_TEXT";
    if (x.type == Type::Decimal) xs += " COLLATE ACC_DECIMAL";
    return xs;
}

Type numericResult(Type x, Type y) {
    if (x == Type::Null) return y == Type::Null ? Type::Variant : y;
    if (y == Type::Null) return x;
    if (x == Type::Date || y == Type::Date) return Type::Date;
    if (isText(x) || isText(y)) return Type::Double;
    if (x == Type::Variant || y == Type::Variant) return Type::Variant;
    return widerNumeric(x, y);
}

// Currency + - * in exact integer arithmetic (checked for overflow).
Tx currencyCall(const char* function, const Tx& a, const Tx& b) {
    return fromOperands(
        std::string(function) + "(" + as(a, Type::Currency) + ", " + as(b, Type::Currency) + ")",
        Type::Currency, {&a, &b});
}

// Decimal + - * / on exact decimal text.
Tx decimalCall(const char* function, const Tx& a, const Tx& b) {
    return fromOperands(
        std::string(function) + "(" + as(a, Type::Decimal) + ", " + as(b, Type::Decimal) + ")",
        Type::Decimal, {&a, &b});
}

// A Decimal beside a number, text or Null computes in Decimal (text
// converted, as a number it must be).
bool decimalOperands(Type a, Type b) {
    auto fits = [](Type t) { return isNumeric(t) || isText(t) || t == Type::Null; };
    return (a == Type::Decimal || b == Type::Decimal) && fits(a) && fits(b);
}

// An operand of acc_plus, which decides per value: Decimal as a number.
std::string plusOperand(const Tx& t) {
    return t.type == Type::Decimal ? num(t) : plain(t);
}

// + adds numbers and joins text; a Variant side decides per value.
Tx add(const Tx& a, const Tx& b) {
    const Type at = a.type, bt = b.type;
    const bool aNull = at == Type::Null, bNull = bt == Type::Null;
    if ((isText(at) || aNull) && (isText(bt) || bNull) && !(aNull && bNull))
        return fromOperands("(" + val(a) + " || " + val(b) + ")", Type::Text, {&a, &b});
    if (decimalOperands(at, bt)) return decimalCall("acc_dec_add", a, b);
    if (at == Type::Variant || bt == Type::Variant || isText(at) || isText(bt))
        return fromOperands("acc_plus(" + plusOperand(a) + ", " + plusOperand(b) + ")",
                            isText(at) || isText(bt) ? Type::Double : Type::Variant, {&a, &b});
    if (numericResult(at, bt) == Type::Currency) return currencyCall("acc_cur_add", a, b);
    return chained(fromOperands("(" + unchained(a, num(a), '+') + " + " + num(b) + ")",
                                numericResult(at, bt), {&a, &b}),
                   '+');
}

Tx subtract(const Tx& a, const Tx& b) {
    const Type at = a.type, bt = b.type;
    Type t = (at == Type::Date && bt == Type::Date) ? Type::Double
             : at == Type::Date                     ? Type::Date
                                                    : numericResult(at, bt);
    if (t == Type::Currency) return currencyCall("acc_cur_sub", a, b);
    if (t != Type::Date && decimalOperands(at, bt)) return decimalCall("acc_dec_sub", a, b);
    return chained(
        fromOperands("(" + unchained(a, num(a), '+') + " - " + num(b) + ")", t, {&a, &b}), '+');
}

// Multiplication ranks Currency below Double (addition above it); Decimal
// ranks above both.
Tx multiply(const Tx& a, const Tx& b) {
    const Type at = a.type == Type::Date ? Type::Double : a.type;
    const Type bt = b.type == Type::Date ? Type::Double : b.type;
    Type t = numericResult(at, bt);
    if (t == Type::Currency && (at == Type::Double || bt == Type::Double)) t = Type::Double;
    if (t == Type::Currency) return currencyCall("acc_cur_mul", a, b);
    if (decimalOperands(at, bt)) return decimalCall("acc_dec_mul", a, b);
    return chained(
        fromOperands("(" + unchained(a, num(a), '*') + " * " + num(b) + ")", t, {&a, &b}), '*');
}

Tx divide(const Tx& a, const Tx& b) {
    auto narrow = [](Type t) {
        return t == Type::Byte || t == Type::Integer || t == Type::Single || t == Type::Boolean;
    };
    if (a.type == Type::Decimal || b.type == Type::Decimal) return decimalCall("acc_dec_div", a, b);
    Type t = (narrow(a.type) && narrow(b.type)) ? Type::Single : Type::Double;
    return fromOperands("acc_div(" + num(a) + ", " + num(b) + ")", t, {&a, &b});
}

// \ and Mod.
Tx integerDivision(BinaryOp op, const Tx& a, const Tx& b) {
    auto small = [](Type t) { return t == Type::Byte || t == Type::Integer || t == Type::Boolean; };
    Type t = (small(a.type) && small(b.type)) ? Type::Integer : Type::Long;
    const char* f = op == BinaryOp::IntDiv ? "acc_idiv(" : "acc_mod(";
    return fromOperands(f + num(a) + ", " + num(b) + ")", t, {&a, &b});
}

// And and Or are bitwise on two integers unless both are Yes/No.
Tx andOr(BinaryOp op, const Tx& a, const Tx& b) {
    const bool bitwise = !a.pred && !b.pred && isIntegral(a.type) && isIntegral(b.type) &&
                         (a.type != Type::Boolean || b.type != Type::Boolean);
    if (bitwise)
        return fromOperands("(" + val(a) + (op == BinaryOp::And ? " & " : " | ") + val(b) + ")",
                            Type::Long, {&a, &b});
    const char c = op == BinaryOp::And ? 'A' : 'O';
    return chained(
        fromOperands("(" + unchained(a, cond(a), c) + (c == 'A' ? " AND " : " OR ") + cond(b) + ")",
                     Type::Boolean, {&a, &b}, true),
        c);
}

// Xor, Eqv, Imp: Yes/No on two Yes/No values, bitwise otherwise.
Tx logicalCall(const char* function, const Tx& a, const Tx& b) {
    return fromOperands(std::string(function) + "(" + num(a) + ", " + num(b) + ")",
                        bothBoolean(a, b) ? Type::Boolean : Type::Long, {&a, &b});
}

}  // namespace

// ---- pieces shared with the other files -------------------------------------

Tx lit(std::string sql, Type type) {
    Tx t;
    t.sql = std::move(sql);
    t.type = type;
    t.constant = true;
    return t;
}

void merge(Tx& into, const Tx& from) {
    into.agg = into.agg || from.agg;
    into.constant = into.constant && from.constant;
    into.local = into.local || from.local;
    into.outer = into.outer || from.outer;
}

std::string num(const Tx& t) {
    if (t.type == Type::Decimal) return "CAST(" + val(t) + " AS REAL)";
    if (t.type == Type::Currency) return "(" + val(t) + " / 10000.0)";
    if (isText(t.type)) return "acc_tonum_strict(" + val(t) + ")";
    return val(t);
}

std::string as(const Tx& t, Type to) {
    if (to == Type::Decimal) {
        if (t.type == Type::Decimal || t.type == Type::Null) return val(t);
        if (t.type == Type::Currency) return "acc_cur_todec(" + val(t) + ")";
        if (isIntegral(t.type)) return "CAST(" + val(t) + " AS TEXT)";
        return "acc_todec(" + val(t) + ")";
    }
    const bool from = t.type == Type::Currency, into = to == Type::Currency;
    if (from == into || t.type == Type::Null) return val(t);
    if (from) return num(t);
    if (isIntegral(t.type)) return "(" + val(t) + " * 10000)";
    return "acc_tocur(" + val(t) + ")";
}

std::string plain(const Tx& t) {
    return t.type == Type::Currency ? num(t) : val(t);
}

std::string textOf(const Tx& t) {
    if (isText(t.type) || t.type == Type::Null) return val(t);
    return "acc_text(" + val(t) + ", '" + typeTag(t.type) + "')";
}

std::pair<std::string, std::string> comparable(const Tx& a, const Tx& b) {
    // Decimal against a number or text compares as Decimal, exactly, in
    // the numeric order of its text.
    if (decimalOperands(a.type, b.type) && a.type != Type::Null && b.type != Type::Null)
        return {as(a, Type::Decimal) + " COLLATE ACC_DECIMAL",
                as(b, Type::Decimal) + " COLLATE ACC_DECIMAL"};
    const bool ac = a.type == Type::Currency, bc = b.type == Type::Currency;
    if (ac != bc && a.type != Type::Null && b.type != Type::Null) {
        // Currency against another number or text compares as Currency;
        // against anything else, in its own units.
        const Tx& other = ac ? b : a;
        if (isNumeric(other.type) || isText(other.type))
            return {as(a, Type::Currency), as(b, Type::Currency)};
        Tx real = ac ? a : b;
        real.sql = num(real);
        real.pred = false;
        real.type = Type::Double;
        return ac ? comparable(real, b) : comparable(a, real);
    }
    std::string l = val(a), r = val(b);
    const bool at = isText(a.type), bt = isText(b.type);
    const bool an = isNumeric(a.type) || a.type == Type::Date;
    const bool bn = isNumeric(b.type) || b.type == Type::Date;
    if (at && bn) {
        l = (b.type == Type::Date ? "acc_todate_strict(" : "acc_tonum_strict(") + l + ")";
    } else if (bt && an) {
        r = (a.type == Type::Date ? "acc_todate_strict(" : "acc_tonum_strict(") + r + ")";
    } else if (at && bt) {
        if (!a.column && !b.column) l += " COLLATE ACC_TEXT";
    } else if (at && !b.column && b.type != Type::Null) {
        if (!a.column) l += " COLLATE ACC_TEXT";
    } else if (bt && !a.column && a.type != Type::Null) {
        r += " COLLATE ACC_TEXT";
    }
    if (a.type == Type::Decimal && bn) l = "CAST(" + l + " AS REAL)";
    if (b.type == Type::Decimal && an) r = "CAST(" + r + " AS REAL)";
    return {l, r};
}

// ---- expressions --------------------------------------------------------------

Tx Translator::expr(const Expr& e, Level& L) {
    Tx t = exprKind(e, L);
    if (t.sql.size() > kMaxSqlBytes)
        fail(e.span, "The statement is too complex: its expressions expand to more than " +
                         std::to_string(kMaxSqlBytes >> 20) + " MB");
    return t;
}

Tx Translator::exprKind(const Expr& e, Level& L) {
    switch (e.kind) {
        case ExprKind::Number:
            return numberLiteral(e.number);
        case ExprKind::String:
            return lit(quoteText(e.text), Type::Text);
        case ExprKind::Date:
            return dateLiteral(e.date);
        case ExprKind::Guid:
            return lit(quoteText(e.text), Type::Guid);
        case ExprKind::Boolean:
            return softKeyword(e, L);
        case ExprKind::Null:
            return lit("NULL", Type::Null);
        case ExprKind::Name:
            return name(e, L);
        case ExprKind::Param:
            return lit("NULL", Type::Variant);
        case ExprKind::SysVar:
            return lit("0", Type::Long);
        case ExprKind::Call:
            return call(e, L);
        case ExprKind::Unary:
            return unary(e, L);
        case ExprKind::Binary:
            return binary(e, L);
        case ExprKind::Between:
            return between(e, L);
        case ExprKind::InList:
            return inList(e, L);
        case ExprKind::InQuery:
            return inQuery(e, L);
        case ExprKind::IsNull: {
            Tx x = expr(*e.operands[0], L);
            return fromOperands("(" + val(x) + (e.negated ? " IS NOT NULL)" : " IS NULL)"),
                                Type::Boolean, {&x}, true);
        }
        case ExprKind::Like: {
            Tx x = expr(*e.operands[0], L), p = expr(*e.operands[1], L);
            std::string s = "acc_like(" + textOf(x) + ", " + textOf(p) + ")";
            if (e.negated) s = "(~" + s + ")";
            return fromOperands(s, Type::Boolean, {&x, &p});
        }
        case ExprKind::Quantified:
            return quantified(e, L);
        case ExprKind::Exists: {
            QOut q = query(*e.query, &L);
            Tx t = lit("(EXISTS (" + q.sql + "))", Type::Boolean);
            t.pred = true;
            t.constant = false;
            return t;
        }
        case ExprKind::Subquery:
            return scalarSubquery(e, L);
    }
    throw Failure{Error(Errc::Internal, "unknown expression")};
}

// Yes, No, On, Off: a column of that name wins over the keyword.
Tx Translator::softKeyword(const Expr& e, Level& L) {
    if (e.softKeyword) {
        for (Level* lv = &L; lv; lv = lv->outer)
            for (const Source& s : lv->sources)
                if (const Col* c = findColumn(s, e.text)) return columnTx(s, *c, *lv, lv != &L);
    }
    return lit(e.boolValue ? "-1" : "0", Type::Boolean);
}

Tx Translator::between(const Expr& e, Level& L) {
    Tx x = expr(*e.operands[0], L), a = expr(*e.operands[1], L), b = expr(*e.operands[2], L);
    auto [xs, as] = comparable(x, a);
    std::string bs = comparable(x, b).second;
    if (a.constant && b.constant && !isText(x.type)) {
        // Access takes the bounds in either order.
        std::string lo = "min(" + as + ", " + bs + ")";
        bs = "max(" + as + ", " + bs + ")";
        as = lo;
    }
    return fromOperands(
        "(" + xs + (e.negated ? " NOT" : "") + " BETWEEN " + as + " AND " + bs + ")", Type::Boolean,
        {&x, &a, &b}, true);
}

Tx Translator::inList(const Expr& e, Level& L) {
    Tx x = expr(*e.operands[0], L);
    std::string list;
    Tx t = fromOperands("", Type::Boolean, {&x}, true);
    std::string xs;
    for (size_t i = 1; i < e.operands.size(); ++i) {
        Tx v = expr(*e.operands[i], L);
        auto [l, r] = comparable(x, v);
        xs = l;
        list += (i > 1 ? ", " : "") + r;
        merge(t, v);
    }
    t.sql = "(" + xs + (e.negated ? " NOT IN (" : " IN (") + list + "))";
    return t;
}

namespace {

// One side of a comparison with a subquery's column held as `to`: x
// itself, or (column) the subquery's column. Double is a plain number.
void convertSide(Tx& x, QOut& q, bool column, Type to) {
    auto held = [to](const Tx& t) { return to == Type::Double ? num(t) : as(t, to); };
    if (column) {
        q.sql = "SELECT " + held(lit("\"c1\"", q.cols[0].type)) + " AS \"c1\" FROM (" + q.sql + ")";
        q.cols[0].type = to;
    } else {
        x.sql = held(x);
        x.pred = false;
        x.type = to;
    }
}

// A subquery's one column beside x: where only one of them is Decimal and
// the other a number or text, both as Decimal; beside anything else the
// Decimal becomes a double. Where only one of them is Currency, both in
// their own units.
void alignOperands(Tx& x, QOut& q) {
    const Type qt = q.cols[0].type;
    if (x.type == Type::Null || qt == Type::Null || x.type == qt) return;
    const bool xd = x.type == Type::Decimal, qd = qt == Type::Decimal;
    if (decimalOperands(x.type, qt)) return convertSide(x, q, xd, Type::Decimal);
    if (xd || qd) convertSide(x, q, qd, Type::Double);
    const bool xc = x.type == Type::Currency, qc = q.cols[0].type == Type::Currency;
    if (xc != qc) convertSide(x, q, qc, Type::Double);
}

}  // namespace

Tx Translator::inQuery(const Expr& e, Level& L) {
    Tx x = expr(*e.operands[0], L);
    QOut q = subquery(*e.query, L, e.span);
    alignOperands(x, q);
    Tx t = fromOperands("(" + collated(x) + (e.negated ? " NOT IN (" : " IN (") + q.sql + "))",
                        Type::Boolean, {&x}, true);
    t.constant = false;
    return t;
}

// x op ANY/SOME/ALL (subquery): ALL holds unless some row compares false or Null.
Tx Translator::quantified(const Expr& e, Level& L) {
    Tx x = expr(*e.operands[0], L);
    QOut q = subquery(*e.query, L, e.span);
    alignOperands(x, q);
    std::string cmp = collated(x) + " " + comparisonOp(e.binaryOp) + " acc_q.\"c1\"";
    std::string s;
    if (e.quantifier == Quantifier::All)
        s = "(NOT EXISTS (SELECT 1 FROM (" + q.sql + ") AS acc_q WHERE (" + cmp + ") IS NOT 1))";
    else
        s = "(EXISTS (SELECT 1 FROM (" + q.sql + ") AS acc_q WHERE " + cmp + "))";
    Tx t = fromOperands(s, Type::Boolean, {&x}, true);
    t.constant = false;
    return t;
}

Tx Translator::scalarSubquery(const Expr& e, Level& L) {
    QOut q = subquery(*e.query, L, e.span);
    Tx t;
    t.sql = "(SELECT acc_scalar(\"c1\") FROM (" + q.sql + "))";
    t.type = q.cols[0].type;
    t.size = q.cols[0].size;
    return t;
}

QOut Translator::subquery(const Query& q, Level& L, Span span) {
    if (q.terms.size() > 1) fail(span, "A subquery cannot be a union query");
    QOut out = query(q, &L);
    if (out.cols.size() != 1)
        fail(span,
             "The subquery can return more than one field; only EXISTS may be used with "
             "such a subquery");
    return out;
}

// ---- operators ----------------------------------------------------------------

Tx Translator::unary(const Expr& e, Level& L) {
    Tx x = expr(*e.operands[0], L);
    switch (e.unaryOp) {
        case UnaryOp::Plus:
            return x;
        case UnaryOp::Neg: {
            Type t = x.type == Type::Boolean ? Type::Integer
                     : isText(x.type)        ? Type::Double
                                             : x.type;
            if (x.type == Type::Currency)
                return fromOperands("acc_cur_neg(" + val(x) + ")", t, {&x});
            if (x.type == Type::Decimal)
                return fromOperands("acc_dec_neg(" + val(x) + ")", t, {&x});
            // "(- -1)": a "--" would start an SQL comment.
            return fromOperands("(- " + num(x) + ")", t, {&x});
        }
        case UnaryOp::Not:
            if (x.pred) return fromOperands("(NOT " + x.sql + ")", Type::Boolean, {&x}, true);
            return fromOperands("(~" + num(x) + ")",
                                x.type == Type::Boolean ? Type::Boolean : Type::Long, {&x});
        case UnaryOp::BNot:
            return fromOperands("(~" + num(x) + ")", Type::Long, {&x});
    }
    return x;
}

void Translator::flattenConcat(const Expr& e, Level& L, std::vector<Tx>& out) {
    if (e.kind == ExprKind::Binary && e.binaryOp == BinaryOp::Concat) {
        flattenConcat(*e.operands[0], L, out);
        flattenConcat(*e.operands[1], L, out);
        return;
    }
    out.push_back(expr(e, L));
}

// a & b & c as one acc_concat call of values and their type tags.
Tx Translator::concat(const Expr& e, Level& L) {
    std::vector<Tx> parts;
    flattenConcat(e, L, parts);
    Tx t = lit("", Type::Text);
    // SQLite takes at most 127 arguments: long chains nest, the inner
    // result passed on as text (Null only when all its parts were).
    std::string s;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i % 60 == 0) s = i == 0 ? "acc_concat(" : "acc_concat(" + s + "), 'text'";
        s += (i % 60 || i ? ", " : "") + val(parts[i]) + ", '" + typeTag(parts[i].type) + "'";
        merge(t, parts[i]);
    }
    t.sql = s + ")";
    return t;
}

Tx Translator::binary(const Expr& e, Level& L) {
    if (e.binaryOp == BinaryOp::Concat) return concat(e, L);
    Tx a = expr(*e.operands[0], L), b = expr(*e.operands[1], L);
    switch (e.binaryOp) {
        case BinaryOp::Eq:
        case BinaryOp::Ne:
        case BinaryOp::Lt:
        case BinaryOp::Gt:
        case BinaryOp::Le:
        case BinaryOp::Ge:
            return comparison(e, a, b);
        case BinaryOp::Add:
            return add(a, b);
        case BinaryOp::Sub:
            return subtract(a, b);
        case BinaryOp::Mul:
            return multiply(a, b);
        case BinaryOp::Div:
            return divide(a, b);
        case BinaryOp::IntDiv:
        case BinaryOp::Mod:
            return integerDivision(e.binaryOp, a, b);
        case BinaryOp::Pow:
            return fromOperands("acc_pow(" + num(a) + ", " + num(b) + ")", Type::Double, {&a, &b});
        case BinaryOp::And:
        case BinaryOp::Or:
            return andOr(e.binaryOp, a, b);
        case BinaryOp::Xor:
            return logicalCall("acc_xor", a, b);
        case BinaryOp::Eqv:
            return logicalCall("acc_eqv", a, b);
        case BinaryOp::Imp:
            return logicalCall("acc_imp", a, b);
        case BinaryOp::BAnd:
            return fromOperands("(" + num(a) + " & " + num(b) + ")", Type::Long, {&a, &b});
        case BinaryOp::BOr:
            return fromOperands("(" + num(a) + " | " + num(b) + ")", Type::Long, {&a, &b});
        case BinaryOp::BXor:
            return fromOperands(
                "((" + num(a) + " | " + num(b) + ") - (" + num(a) + " & " + num(b) + "))",
                Type::Long, {&a, &b});
        case BinaryOp::Concat:
            break;
    }
    throw Failure{Error(Errc::Internal, "unknown operator")};
}

Tx Translator::comparison(const Expr& e, const Tx& a, const Tx& b) {
    if ((a.type == Type::LongBinary || b.type == Type::LongBinary) && a.type != Type::Null &&
        b.type != Type::Null)
        fail(e.span, "OLE Object values cannot be compared");
    auto [l, r] = comparable(a, b);
    return fromOperands("(" + l + " " + comparisonOp(e.binaryOp) + " " + r + ")", Type::Boolean,
                        {&a, &b}, true);
}

}  // namespace tab::accsql::translation
