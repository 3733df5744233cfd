// Operator precedence and the expression forms, checked as trees. The
// expected trees follow the Access precedence table (lowest first: Imp, Eqv,
// Xor, Or, And, Not, comparisons, &, + -, Mod, \, * /, unary minus, ^).
#include <gtest/gtest.h>

#include "test_util.h"

using namespace tab::accsql;
using namespace tab::accsql::test;

namespace {

struct ExprCase {
    const char* expr;
    const char* tree;
};

const ExprCase kPrecedence[] = {
    // Worked examples of the precedence table.
    {"-2^2", "(neg (^ 2 2))"},
    {"2^-1", "(^ 2 (neg 1))"},
    {"\"a\" & 1 + 2", "(& (str \"a\") (+ 1 2))"},
    {"1 + 2 & 3", "(& (+ 1 2) 3)"},
    {"7 \\ 2 * 3", "(\\ 7 (* 2 3))"},
    {"10 Mod 4 * 2", "(MOD 10 (* 4 2))"},
    {"a = b = c", "(= (= a b) c)"},
    {"x Between 1 And 5 And y = 2", "(AND (between x 1 5) (= y 2))"},
    {"a = Not b", "(= a (not b))"},
    {"Not a = b", "(not (= a b))"},
    {"2^3^2", "(^ (^ 2 3) 2)"},
    // The logical ladder.
    {"a Or b And c", "(OR a (AND b c))"},
    {"a And b Or c", "(OR (AND a b) c)"},
    {"a Imp b Eqv c", "(IMP a (EQV b c))"},
    {"a Eqv b Xor c", "(EQV a (XOR b c))"},
    {"a Xor b Or c", "(XOR a (OR b c))"},
    {"Not a And b", "(AND (not a) b)"},
    {"Not Not a", "(not (not a))"},
    {"a BAND b BOR c", "(BOR (BAND a b) c)"},
    {"BNOT a", "(bnot a)"},
    // Arithmetic levels and left associativity.
    {"1 - 2 - 3", "(- (- 1 2) 3)"},
    {"8 / 4 / 2", "(/ (/ 8 4) 2)"},
    {"a Mod b \\ c", "(MOD a (\\ b c))"},
    {"a \\ b * c", "(\\ a (* b c))"},
    {"a + b Mod c", "(+ a (MOD b c))"},
    {"-a * b", "(* (neg a) b)"},
    {"+a", "(pos a)"},
    {"- - 1", "(neg (neg 1))"},
    {"1--2", "(- 1 (neg 2))"},
    {"(1 + 2) * 3", "(* (+ 1 2) 3)"},
    {"a & b = c", "(= (& a b) c)"},
    // The comparison level: Like, Between, In, Is, quantified.
    {"a + b Like c & \"%\"", "(like (+ a b) (& c (str \"%\")))"},
    {"x Not Like 'a%'", "(not-like x (str 'a%'))"},
    {"\"x\" ALike \"%\"", "(alike (str \"x\") (str \"%\"))"},
    {"x Between a & b And c", "(between x (& a b) c)"},
    {"x Not Between 1 And 2", "(not-between x 1 2)"},
    {"a <> b Between 1 And 2", "(between (<> a b) 1 2)"},
    {"x Is Not Null And y Is Null", "(AND (is-not-null x) (is-null y))"},
    {"Not x Is Null", "(not (is-null x))"},
    {"x In (1, 2)", "(in x 1 2)"},
    {"x Not In ('a')", "(not-in x (str 'a'))"},
    {"x In ((SELECT y FROM t))", "(in x (query SELECT y FROM t))"},
    {"x In (SELECT y FROM t)", "(in x (query SELECT y FROM t))"},
    {"x > All (SELECT y FROM t)", "(> ALL x (query SELECT y FROM t))"},
    {"x = Any (SELECT y FROM t)", "(= ANY x (query SELECT y FROM t))"},
    {"x <= Some (SELECT y FROM t)", "(<= SOME x (query SELECT y FROM t))"},
    {"Exists (SELECT * FROM t)", "(exists (query SELECT * FROM t))"},
    {"Not Exists (SELECT * FROM t)", "(not (exists (query SELECT * FROM t)))"},
    {"(SELECT Max(y) FROM t)", "(query SELECT (call Max y) FROM t)"},
    // Primaries.
    {"Count(*)", "(call Count *)"},
    {"Now()", "(call Now)"},
    {"Left(s, 2) & Right(s, 1)", "(& (call Left s 2) (call Right s 1))"},
    {"IIf(a > 0, 'p', 'n')", "(call IIf (> a 0) (str 'p') (str 'n'))"},
    {"t.[Order ID]", "t.[Order ID]"},
    {"`my table`.x", "`my table`.x"},
    {"Forms!frm!ctl", "Forms!frm!ctl"},
    {"[Orders]![OrderID]", "[Orders]![OrderID]"},
    {"True", "(true True)"},
    {"false", "(false false)"},
    {"Yes", "(true Yes soft)"},
    {"No", "(false No soft)"},
    {"On", "(true On soft)"},
    {"Off", "(false Off soft)"},
    {"Yes.x", "Yes.x"},
    {"Null", "null"},
    {"? + ?", "(+ (? 1) (? 2))"},
    {"@@IDENTITY", "@@IDENTITY"},
    {"{guid {12345678-1234-1234-1234-123456789ABC}}",
     "(guid 12345678-1234-1234-1234-123456789ABC)"},
    {"'O''Malley'", "(str 'O''Malley')"},
    {"Date", "Date"},
    {"Band", "Band"},
    {"2ndQtr + 1", "(+ 2ndQtr 1)"},
};

TEST(Expression, PrecedenceAndForms) {
    for (const auto& c : kPrecedence) {
        auto r = parse(std::string("SELECT ") + c.expr);
        const Expr* e = selectExpr(r);
        ASSERT_NE(e, nullptr) << c.expr << ": " << firstError(r);
        EXPECT_EQ(dump(*e), c.tree) << c.expr;
    }
}

TEST(Expression, LiteralValues) {
    auto r = parse("SELECT 'O''Malley', \"say \"\"hi\"\"\", 2147483648, 1.5E3, ?, ?");
    ASSERT_TRUE(r.ok()) << firstError(r);
    const auto& items = r.statement->query->terms.front().select->items;
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[0].expr->text, "O'Malley");
    EXPECT_EQ(items[0].expr->quote, '\'');
    EXPECT_EQ(items[1].expr->text, "say \"hi\"");
    EXPECT_EQ(items[1].expr->quote, '"');
    EXPECT_TRUE(items[2].expr->number.integral);
    ASSERT_TRUE(items[2].expr->number.intValue.has_value());
    EXPECT_EQ(*items[2].expr->number.intValue, 2147483648LL);
    EXPECT_FALSE(items[3].expr->number.integral);
    EXPECT_DOUBLE_EQ(items[3].expr->number.value, 1500.0);
    EXPECT_EQ(items[3].expr->number.text, "1.5E3");
    EXPECT_EQ(items[4].expr->paramIndex, 1u);
    EXPECT_EQ(items[5].expr->paramIndex, 2u);
    EXPECT_EQ(r.statement->paramMarkers, 2u);
}

TEST(Expression, NamesKeepSpellingDelimiterAndSpan) {
    const std::string sql = "SELECT  [My Col] AS x, o.ID FROM t";
    auto r = parse(sql);
    ASSERT_TRUE(r.ok()) << firstError(r);
    const auto& items = r.statement->query->terms.front().select->items;
    const Name& n = items[0].expr->name.parts.at(0);
    EXPECT_EQ(n.text, "My Col");
    EXPECT_EQ(n.delimiter, Delimiter::Bracket);
    EXPECT_EQ(n.span.offset, 8u);
    EXPECT_EQ(n.span.length, 8u);
    EXPECT_EQ(items[0].alias->text, "x");
    EXPECT_FALSE(items[0].alias->delimited());
    const auto& q = items[1].expr->name;
    ASSERT_EQ(q.parts.size(), 2u);
    EXPECT_EQ(q.parts[0].text, "o");
    EXPECT_EQ(q.parts[1].text, "ID");
    EXPECT_EQ(q.separators.at(0), '.');
    EXPECT_EQ(sql.substr(items[1].expr->span.offset, items[1].expr->span.length), "o.ID");
}

TEST(Expression, SpansCoverParenthesesAndOperators) {
    const std::string sql = "SELECT (a + b) * c";
    auto r = parse(sql);
    const Expr* e = selectExpr(r);
    ASSERT_NE(e, nullptr) << firstError(r);
    EXPECT_EQ(sql.substr(e->span.offset, e->span.length), "(a + b) * c");
    const Expr& sum = *e->operands[0];
    EXPECT_EQ(sql.substr(sum.span.offset, sum.span.length), "(a + b)");
}

TEST(Expression, CanonicalPrint) {
    struct Case {
        const char* sql;
        const char* printed;
    };
    const Case cases[] = {
        {"select a+b*c from t where x between 1 and 2",
         "SELECT (a + (b * c)) FROM t WHERE (x BETWEEN 1 AND 2)"},
        {"SELECT -2^2, Not a = b", "SELECT (-(2 ^ 2)), (NOT (a = b))"},
        {"SELECT #13/1/2005#, #2:30 PM#, #5/10/96 14:30#",
         "SELECT #2005-01-13#, #14:30:00#, #1996-05-10 14:30:00#"},
        {"SELECT x FROM t WHERE x IN (SELECT y FROM u) AND z IS NOT NULL",
         "SELECT x FROM t WHERE ((x IN (SELECT y FROM u)) AND (z IS NOT NULL))"},
        {"SELECT d.a FROM [SELECT a FROM t]. AS d", "SELECT d.a FROM (SELECT a FROM t) AS d"},
    };
    for (const auto& c : cases) {
        auto r = parse(c.sql);
        ASSERT_TRUE(r.ok()) << c.sql << ": " << firstError(r);
        EXPECT_EQ(print(*r.statement), c.printed) << c.sql;
    }
}

}  // namespace
