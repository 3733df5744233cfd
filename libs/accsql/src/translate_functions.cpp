// VBA function calls and aggregates. Most functions map onto a registered
// SQLite function through the function table; IIf, Switch and Nz become
// CASE and coalesce so that only the branch taken is evaluated.
#include "function_table.h"
#include "translator_internal.h"
#include "types_internal.h"

namespace tab::accsql::translation {
namespace {

// One argument of a registered function, in the form the function takes.
// A Currency argument whose type the function is told stays exact.
std::string argumentSql(const FunctionSpec& f, const Tx& a, size_t index) {
    if ((f.flags & kTextArgs) && !isText(a.type) && a.type != Type::Null &&
        a.type != Type::Variant && !isIntegral(a.type) && a.type != Type::Double)
        return textOf(a);
    if (a.type == Type::Decimal && !(f.flags & kTextArgs)) return "CAST(" + val(a) + " AS REAL)";
    if (a.type == Type::Currency && !(index == 0 && (f.flags & (kTagArg0 | kTagLast))))
        return num(a);
    return val(a);
}

// Functions that keep a Currency argument exact: CCur, Abs, Int, Fix, Round.
std::optional<std::string> currencyForm(const std::string& key, const std::vector<Tx>& args) {
    if (key == "ccur")
        return args[0].type == Type::Currency ? val(args[0]) : "acc_ccur(" + val(args[0]) + ")";
    if (args.empty() || args[0].type != Type::Currency) return std::nullopt;
    if (key == "abs" || key == "int" || key == "fix")
        return "acc_cur_" + key + "(" + val(args[0]) + ")";
    if (key == "round")
        return "acc_cur_round(" + val(args[0]) + (args.size() > 1 ? ", " + num(args[1]) : "") + ")";
    return std::nullopt;
}

// Functions that keep a Decimal exact: CDec, CStr, Abs, Int, Fix, Round,
// and those that return one of their arguments (CVar, Choose) when the
// result is Decimal.
std::optional<std::string> decimalForm(const std::string& key, const std::vector<Tx>& args,
                                       Type result) {
    if (key == "cdec") {
        const Tx& a = args[0];
        if (a.type == Type::Currency) return "acc_cdec(acc_cur_todec(" + val(a) + "))";
        return "acc_cdec(" + val(a) + ")";
    }
    if (result == Type::Decimal && key == "choose") {
        std::string s = "acc_choose(" + num(args[0]);
        for (size_t i = 1; i < args.size(); ++i) s += ", " + as(args[i], Type::Decimal);
        return s + ")";
    }
    if (args.empty() || args[0].type != Type::Decimal) return std::nullopt;
    if (key == "cvar") return val(args[0]);
    if (key == "cstr") return "acc_cstr(" + val(args[0]) + ", 'decimal')";
    if (key == "abs" || key == "int" || key == "fix")
        return "acc_dec_" + key + "(" + val(args[0]) + ")";
    if (key == "round")
        return "acc_dec_round(" + val(args[0]) + (args.size() > 1 ? ", " + num(args[1]) : "") + ")";
    return std::nullopt;
}

Type resultType(const FunctionSpec& f, const std::vector<Tx>& args) {
    switch (f.rule) {
        case ResultRule::Fixed:
            return f.type;
        case ResultRule::Arg0:
            return args.empty() ? Type::Variant : args[0].type;
        case ResultRule::Arg0Number:
            return args[0].type == Type::Boolean ? Type::Integer
                   : isText(args[0].type)        ? Type::Double
                   : args[0].type == Type::Null  ? Type::Variant
                                                 : args[0].type;
        case ResultRule::Common: {
            Type type = Type::Null;
            for (size_t i = f.commonFrom; i < args.size(); ++i)
                type = commonType(type, args[i].type);
            return type == Type::Null ? Type::Variant : type;
        }
    }
    return Type::Variant;
}

// Sum and Avg keep Currency and Decimal exact; the deviations are Double.
Type numericAggregateType(const std::string& key, Type x) {
    if (key == "sum")
        return x == Type::Currency  ? Type::Currency
               : x == Type::Decimal ? Type::Decimal
               : (isIntegral(x))    ? Type::Long
                                    : Type::Double;
    if (key == "avg")
        return x == Type::Currency  ? Type::Currency
               : x == Type::Decimal ? Type::Decimal
                                    : Type::Double;
    return Type::Double;
}

}  // namespace

Tx Translator::call(const Expr& e, Level& L) {
    const std::string& fname = e.name.parts.empty() ? std::string() : e.name.parts[0].text;
    const FunctionSpec* f = findFunction(fname);
    if (!f) fail(e.span, "Undefined function '" + fname + "' in expression");
    const int argc = static_cast<int>(e.operands.size());
    if (!e.star && (argc < f->minArgs || (f->maxArgs >= 0 && argc > f->maxArgs)))
        fail(e.span, "Wrong number of arguments used with function '" + fname +
                         "' in query expression '" + source(e.span) + "'");
    if (f->flags & kAggregate) return aggregate(e, *f, L);
    if (argc > 100) fail(e.span, "Too many arguments for function '" + fname + "' (at most 100)");

    std::vector<Tx> args;
    for (const auto& op : e.operands) args.push_back(expr(*op, L));

    Tx t = lit("", Type::Variant);
    for (const Tx& a : args) merge(t, a);
    if (f->flags & kVolatile) t.constant = false;
    if (auto special = specialForm(lower(fname), e, args, t)) return *special;

    t.type = resultType(*f, args);
    if (auto exact = currencyForm(lower(fname), args)) {
        t.sql = *exact;
        return t;
    }
    if (auto exact = decimalForm(lower(fname), args, t.type)) {
        t.sql = *exact;
        return t;
    }
    std::string s = std::string(f->sqlite) + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        s += (i ? ", " : "") + argumentSql(*f, args[i], i);
        if (i == 0 && (f->flags & kTagArg0)) s += ", '" + std::string(typeTag(args[i].type)) + "'";
    }
    if ((f->flags & kTagLast) && argc > 0) s += ", '" + std::string(typeTag(args[0].type)) + "'";
    t.sql = s + ")";
    // The function computed in plain units, or in a double.
    if (t.type == Type::Currency) t.sql = "acc_tocur(" + t.sql + ")";
    if (t.type == Type::Decimal) t.sql = "acc_todec(" + t.sql + ")";
    return t;
}

// IIf, Switch and Nz; `t` carries the flags merged from the arguments.
std::optional<Tx> Translator::specialForm(const std::string& key, const Expr& e,
                                          const std::vector<Tx>& args, Tx t) {
    const size_t argc = args.size();
    if (key == "iif") {
        t.type = commonType(args[1].type, args[2].type);
        t.sql = "(CASE WHEN " + cond(args[0]) + " THEN " + as(args[1], t.type) + " ELSE " +
                as(args[2], t.type) + " END)";
        return t;
    }
    if (key == "switch") {
        if (argc % 2 != 0)
            fail(e.span, "Switch takes pairs of conditions and values in '" + source(e.span) + "'");
        std::string s = "(CASE";
        Type type = Type::Null;
        for (size_t i = 0; i < argc; i += 2) type = commonType(type, args[i + 1].type);
        for (size_t i = 0; i < argc; i += 2)
            s += " WHEN " + cond(args[i]) + " THEN " + as(args[i + 1], type);
        t.sql = s + " END)";
        t.type = type;
        return t;
    }
    if (key == "nz") {
        if (argc == 2) {
            t.type = commonType(args[0].type, args[1].type);
            t.sql = "coalesce(" + as(args[0], t.type) + ", " + as(args[1], t.type) + ")";
        } else {
            // In a query, Nz without a default gives a zero-length string.
            t.type = commonType(args[0].type, Type::Text);
            t.sql = "coalesce(" + plain(args[0]) + ", '')";
        }
        return t;
    }
    return std::nullopt;
}

Tx Translator::aggregate(const Expr& e, const FunctionSpec& f, Level& L) {
    const std::string fname = e.name.parts[0].text;
    if (!L.aggAllowed)
        fail(e.span, "Cannot have an aggregate function in " + std::string(L.clause) + " (" +
                         source(e.span) + ")");
    if (L.aggDepth > 0)
        fail(e.span, "Cannot have an aggregate function inside another aggregate ('" +
                         source(e.span) + "')");
    std::string filter = L.pivotFilter.empty() ? "" : " FILTER (WHERE " + L.pivotFilter + ")";
    Tx t;
    t.agg = true;
    t.level = &L;
    if (e.star) {
        if (lower(fname) != "count") fail(e.span, "Only Count can take '*'");
        t.sql = "COUNT(*)" + filter;
        t.type = Type::Long;
        return t;
    }
    ++L.aggDepth;
    Tx x = expr(*e.operands[0], L);
    --L.aggDepth;
    if (x.outer && !x.local)
        fail(e.span, "The aggregate '" + source(e.span) +
                         "' uses only fields of an enclosing query; aggregate them in that "
                         "query instead");
    const std::string key = lower(fname);
    std::string arg = val(x);
    if (key == "min" || key == "max") {
        if (isText(x.type) && !x.column) arg += " COLLATE ACC_TEXT";
        if (x.type == Type::Decimal) arg += " COLLATE ACC_DECIMAL";
        t.type = x.type == Type::Null ? Type::Variant : x.type;
    } else if (key == "first" || key == "last" || key == "count") {
        t.type = key == "count" ? Type::Long : (x.type == Type::Null ? Type::Variant : x.type);
    } else {
        if (x.type == Type::LongBinary || x.type == Type::Binary)
            fail(e.span, "Cannot use an OLE Object or binary field in " + fname);
        arg = num(x);
        t.type = numericAggregateType(key, x.type);
    }
    t.sql = std::string(f.sqlite) + "(" + arg + ")" + filter;
    if (x.type == Type::Currency && key == "sum") {
        t.sql = "acc_cur_sum(" + val(x) + ")" + filter;
    } else if (x.type == Type::Currency && key == "avg") {
        t.sql = "acc_cur_avg(acc_cur_sum(" + val(x) + ")" + filter + ", COUNT(" + val(x) + ")" +
                filter + ")";
    } else if (x.type == Type::Decimal && (key == "sum" || key == "avg")) {
        t.sql = "acc_dec_" + key + "(" + val(x) + ")" + filter;
    }
    t.size = key == "count" ? 0 : x.size;
    return t;
}

}  // namespace tab::accsql::translation
