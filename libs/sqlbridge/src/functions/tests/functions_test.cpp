#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tabulary/sqlbridge/functions.h"

namespace {

using tab::sqlbridge::FunctionOptions;
using tab::sqlbridge::registerAccessFunctions;

// 2024-03-15 13:45:30 as an OLE serial: day 45366 plus 49530 seconds.
constexpr double kNow = 45366.0 + 49530.0 / 86400.0;

struct Db {
    sqlite3* db = nullptr;
    explicit Db(FunctionOptions opts = fixedNow()) {
        EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
        auto st = registerAccessFunctions(db, opts);
        EXPECT_TRUE(st.ok()) << (st.ok() ? "" : st.error().message());
    }
    ~Db() { sqlite3_close(db); }
    static FunctionOptions fixedNow() {
        FunctionOptions o;
        o.now = [] { return kNow; };
        return o;
    }
    void exec(const std::string& sql) {
        char* err = nullptr;
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK)
            << (err ? err : "");
    }
};

// Outcome of evaluating one expression: kind + text.
struct Outcome {
    enum Kind { Null, Integer, Real, Text, Blob, Error } kind = Null;
    std::string text;
    double number = 0;
};

Outcome evaluate(sqlite3* db, const std::string& expr) {
    Outcome out;
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT " + expr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        out.kind = Outcome::Error;
        out.text = std::string("prepare: ") + sqlite3_errmsg(db);
        return out;
    }
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) {
        out.kind = Outcome::Error;
        out.text = sqlite3_errmsg(db);
    } else {
        switch (sqlite3_column_type(st, 0)) {
            case SQLITE_NULL:
                out.kind = Outcome::Null;
                break;
            case SQLITE_INTEGER:
                out.kind = Outcome::Integer;
                out.number = static_cast<double>(sqlite3_column_int64(st, 0));
                out.text = std::to_string(sqlite3_column_int64(st, 0));
                break;
            case SQLITE_FLOAT:
                out.kind = Outcome::Real;
                out.number = sqlite3_column_double(st, 0);
                out.text = std::to_string(out.number);
                break;
            case SQLITE_TEXT:
                out.kind = Outcome::Text;
                out.text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
                break;
            default:
                out.kind = Outcome::Blob;
                break;
        }
    }
    sqlite3_finalize(st);
    return out;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

struct Case {
    int line;
    std::string expr;
    std::string expected;
};

std::vector<Case> loadCases() {
    std::vector<Case> cases;
    std::ifstream in(TABULARY_FUNCTION_CASES);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        const auto arrow = t.rfind("=>");
        if (arrow == std::string::npos) {
            cases.push_back({n, t, "<missing =>>"});
            continue;
        }
        cases.push_back({n, trim(t.substr(0, arrow)), trim(t.substr(arrow + 2))});
    }
    return cases;
}

// 'it''s' -> it's; false when the text is not one quoted literal.
bool unquote(const std::string& s, std::string& out) {
    if (s.size() < 2 || s.front() != '\'' || s.back() != '\'') return false;
    out.clear();
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        if (s[i] == '\'') {
            if (s[i + 1] != '\'' || i + 2 >= s.size()) return false;
            ++i;
        }
        out.push_back(s[i]);
    }
    return true;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << "line " << c.line << ": " << c.expr;
}

class FunctionCases : public ::testing::TestWithParam<Case> {};

TEST_P(FunctionCases, Evaluates) {
    const Case& c = GetParam();
    Db db;
    const Outcome got = evaluate(db.db, c.expr);
    const std::string where = "line " + std::to_string(c.line) + ": " + c.expr;
    std::string text;
    if (c.expected == "NULL") {
        EXPECT_EQ(got.kind, Outcome::Null) << where << " gave " << got.text;
    } else if (c.expected.rfind("error:", 0) == 0) {
        const std::string prefix = trim(c.expected.substr(6));
        ASSERT_EQ(got.kind, Outcome::Error) << where << " gave " << got.text;
        EXPECT_EQ(got.text.rfind(prefix, 0), 0u) << where << " error was: " << got.text;
    } else if (unquote(c.expected, text)) {
        ASSERT_EQ(got.kind, Outcome::Text) << where << " gave " << got.text;
        EXPECT_EQ(got.text, text) << where;
    } else {
        char* end = nullptr;
        const double want = std::strtod(c.expected.c_str(), &end);
        ASSERT_TRUE(end && *end == '\0') << where << ": bad expectation " << c.expected;
        ASSERT_TRUE(got.kind == Outcome::Integer || got.kind == Outcome::Real)
            << where << " gave " << got.text;
        EXPECT_NEAR(got.number, want, 1e-12 * std::max(1.0, std::fabs(want))) << where;
    }
}

INSTANTIATE_TEST_SUITE_P(Script, FunctionCases, ::testing::ValuesIn(loadCases()),
                         [](const ::testing::TestParamInfo<Case>& p) {
                             return "line" + std::to_string(p.param.line);
                         });

TEST(FunctionCasesFile, HasCases) {
    EXPECT_GT(loadCases().size(), 400u);
}

// --- things a single expression cannot show ------------------------------------

TEST(Functions, NowComesFromTheCallerAndMovesWithIt) {
    double now = 45000.25;
    FunctionOptions o;
    o.now = [&now] { return now; };
    Db db(o);
    EXPECT_DOUBLE_EQ(evaluate(db.db, "acc_now()").number, 45000.25);
    now = 45001.5;
    EXPECT_DOUBLE_EQ(evaluate(db.db, "acc_now()").number, 45001.5);
    EXPECT_DOUBLE_EQ(evaluate(db.db, "acc_date()").number, 45001.0);
    EXPECT_DOUBLE_EQ(evaluate(db.db, "acc_time()").number, 0.5);
}

TEST(Functions, DefaultClockIsTodayInWholeSeconds) {
    Db db(FunctionOptions{});
    const double before = tab::sqlbridge::currentLocalSerial();
    const double got = evaluate(db.db, "acc_now()").number;
    EXPECT_GE(got, before);
    EXPECT_LT(got - before, 2.0 / 86400);
    const double secs = (got - std::floor(got)) * 86400;
    EXPECT_NEAR(secs, std::round(secs), 1e-4);
}

TEST(Functions, RejectsNullConnection) {
    EXPECT_FALSE(registerAccessFunctions(nullptr).ok());
}

TEST(Functions, WrongArgumentCountFailsAtPrepare) {
    Db db;
    EXPECT_EQ(evaluate(db.db, "acc_left('a')").text.rfind("prepare:", 0), 0u);
    EXPECT_EQ(evaluate(db.db, "acc_div(1, 2, 3)").text.rfind("prepare:", 0), 0u);
    const Outcome chooseNone = evaluate(db.db, "acc_choose(1)");
    EXPECT_EQ(chooseNone.kind, Outcome::Error);
}

TEST(Functions, TextLimitIsConfigurable) {
    FunctionOptions o = Db::fixedNow();
    o.maxTextBytes = 10;
    Db db(o);
    EXPECT_EQ(evaluate(db.db, "acc_space(10)").text, std::string(10, ' '));
    EXPECT_EQ(evaluate(db.db, "acc_space(11)").text.rfind("Out of string space", 0), 0u);
    EXPECT_EQ(evaluate(db.db, "acc_string(5, 'é')").text, "ééééé");  // 10 bytes
    EXPECT_EQ(evaluate(db.db, "acc_string(6, 'é')").text.rfind("Out of string space", 0), 0u);
    EXPECT_EQ(
        evaluate(db.db, "acc_replace('aaaaaaaa', 'a', 'bb')").text.rfind("Out of string space", 0),
        0u);
    EXPECT_EQ(evaluate(db.db, "acc_concat('123456', 'text', '78901', 'text')")
                  .text.rfind("Out of string space", 0),
              0u);
}

TEST(Functions, LikeWithPatternPerRowAndCachedPattern) {
    Db db;
    db.exec(
        "CREATE TABLE t(id INTEGER, s TEXT, p TEXT);"
        "INSERT INTO t VALUES (1, 'Apple', 'a%'), (2, 'banana', 'B_N%'), (3, 'Cherry', '[!c]%'),"
        "(4, 'date', NULL), (5, NULL, '%');");
    // Pattern from a column: each row compiles its own.
    Outcome perRow = evaluate(
        db.db,
        "group_concat(coalesce(acc_like(s, p), 'n'), ',') FROM (SELECT * FROM t ORDER BY id)");
    EXPECT_EQ(perRow.text, "-1,-1,0,n,n");
    // Constant pattern: cached across rows, same answers as computing fresh.
    Outcome constant = evaluate(
        db.db,
        "group_concat(coalesce(acc_like(s, '%a%'), 'n'), ',') FROM (SELECT * FROM t ORDER BY id)");
    EXPECT_EQ(constant.text, "-1,-1,0,-1,n");
}

TEST(Functions, ErrorInOneRowFailsTheStatement) {
    Db db;
    db.exec("CREATE TABLE t(a, b); INSERT INTO t VALUES (1, 1), (2, 0), (3, 3);");
    const Outcome r = evaluate(db.db, "sum(acc_div(a, b)) FROM t");
    ASSERT_EQ(r.kind, Outcome::Error);
    EXPECT_EQ(r.text, "Division by zero");
}

TEST(Aggregates, FirstLastKeepScanOrderIncludingNull) {
    Db db;
    db.exec(
        "CREATE TABLE t(g, v); INSERT INTO t VALUES (1, NULL), (1, 'b'), (1, 'c'),"
        "(2, 'x'), (2, NULL);");
    EXPECT_EQ(evaluate(db.db, "acc_first(v) FROM t WHERE g = 1").kind, Outcome::Null);
    EXPECT_EQ(evaluate(db.db, "acc_last(v) FROM t WHERE g = 1").text, "c");
    EXPECT_EQ(evaluate(db.db, "acc_first(v) FROM t WHERE g = 2").text, "x");
    EXPECT_EQ(evaluate(db.db, "acc_last(v) FROM t WHERE g = 2").kind, Outcome::Null);
    EXPECT_EQ(evaluate(db.db, "acc_first(v) FROM t WHERE g = 3").kind, Outcome::Null);
    EXPECT_EQ(
        evaluate(
            db.db,
            "group_concat(f, ',') FROM (SELECT acc_first(v) AS f FROM t GROUP BY g ORDER BY g)")
            .text,
        "x");  // group 1's first is Null, skipped by group_concat
}

TEST(Aggregates, VarianceFamily) {
    Db db;
    // 2, 4, 4, 4, 5, 5, 7, 9: mean 5, sum of squares 32.
    db.exec(
        "CREATE TABLE t(v); INSERT INTO t VALUES (2),(4),(4),(4),(5),(5),(7),(9),(NULL),('4.0');"
        "DELETE FROM t WHERE v = '4.0';");
    EXPECT_NEAR(evaluate(db.db, "acc_varp(v) FROM t").number, 4.0, 1e-12);
    EXPECT_NEAR(evaluate(db.db, "acc_stdevp(v) FROM t").number, 2.0, 1e-12);
    EXPECT_NEAR(evaluate(db.db, "acc_var(v) FROM t").number, 32.0 / 7, 1e-12);
    EXPECT_NEAR(evaluate(db.db, "acc_stdev(v) FROM t").number, std::sqrt(32.0 / 7), 1e-12);
    // One value: sample forms Null, population forms 0; none: all Null.
    EXPECT_EQ(evaluate(db.db, "acc_var(v) FROM t WHERE v = 9").kind, Outcome::Null);
    EXPECT_EQ(evaluate(db.db, "acc_stdev(v) FROM t WHERE v = 9").kind, Outcome::Null);
    EXPECT_DOUBLE_EQ(evaluate(db.db, "acc_varp(v) FROM t WHERE v = 9").number, 0.0);
    EXPECT_EQ(evaluate(db.db, "acc_varp(v) FROM t WHERE v > 100").kind, Outcome::Null);
    // Numeric text counts; other text is a type mismatch.
    db.exec("INSERT INTO t VALUES ('x');");
    const Outcome bad = evaluate(db.db, "acc_var(v) FROM t");
    ASSERT_EQ(bad.kind, Outcome::Error);
    EXPECT_EQ(bad.text.rfind("Type mismatch", 0), 0u);
}

TEST(Functions, RndFollowsOneSequencePerConnection) {
    // x = (x * 1140671485 + 12820163) mod 2^24 from 327680; Rnd returns x / 2^24.
    // Each connection keeps its own x; the steps below run in order on one.
    struct Step {
        const char* expr;
        double want;
    };
    const Step steps[] = {
        {"acc_rnd()", 11837123.0 / 16777216},
        {"acc_rnd(0)", 11837123.0 / 16777216},  // repeats the last number
        {"acc_rnd()", 8949370.0 / 16777216},
        {"acc_rnd(1)", 9722709.0 / 16777216},
        {"acc_rnd(-1)", 3758214.0 / 16777216},  // seed from the Single bits of -1
        {"acc_rnd(-1)", 3758214.0 / 16777216},  // same number every time
        {"acc_rnd()", 601393.0 / 16777216},     // and the sequence goes on from there
        {"acc_rnd(0)", 601393.0 / 16777216},
    };
    Db db;
    Db other;
    for (const Step& s : steps) EXPECT_DOUBLE_EQ(evaluate(db.db, s.expr).number, s.want) << s.expr;
    EXPECT_DOUBLE_EQ(evaluate(other.db, "acc_rnd()").number, 11837123.0 / 16777216);
}

TEST(Aggregates, ScalarSubqueryAllowsAtMostOneRow) {
    Db db;
    db.exec(
        "CREATE TABLE t(k); INSERT INTO t VALUES (1), (2), (3);"
        "CREATE TABLE u(k, v); INSERT INTO u VALUES (1, 'a'), (3, 'c'), (3, 'd');");
    const std::string sub = "(SELECT acc_scalar(v) FROM u WHERE u.k = t.k)";
    // One match: its value; none: Null.
    EXPECT_EQ(evaluate(db.db, "group_concat(coalesce(" + sub +
                                  ", 'n'), ',') FROM "
                                  "(SELECT k FROM t WHERE k < 3 ORDER BY k) AS t")
                  .text,
              "a,n");
    // Two matches in any row fail the statement.
    const Outcome r = evaluate(db.db, sub + " FROM t ORDER BY k");
    EXPECT_EQ(r.kind, Outcome::Error);
    const Outcome all = evaluate(db.db, "count(" + sub + ") FROM t");
    ASSERT_EQ(all.kind, Outcome::Error);
    EXPECT_EQ(all.text, "At most one record can be returned by this subquery.");
}

TEST(Functions, HugeInputsStayBounded) {
    Db db;
    for (const char* expr : {"acc_string(2147483647, 'x')",
                             "acc_space(2147483647)",
                             "acc_space(1e300)",
                             "acc_left('abc', 1e300)",
                             "acc_mid('abc', 2147483647, 2147483647)",
                             "acc_format(1e308, 'double', '#,##0.00')",
                             "acc_format(1e-308, 'double', '0.00E+00')",
                             "acc_round(1e308, 10)",
                             "acc_dateadd('s', 1e18, 0)",
                             "acc_cdate('99999999999999999999/1/1')",
                             "acc_val('1e999999')",
                             "acc_like(acc_space(2000), '%%%%%%%%%%%%%%%%x')",
                             "acc_formatnumber(1e308, 255)",
                             "acc_formatnumber(1e-308, 255)",
                             "acc_formatnumber(1, 2147483647)",
                             "acc_formatcurrency(-1e308, 255, 0, -1, -1)",
                             "acc_partition(2147483647, 0, 2147483647, 1)",
                             "acc_partition(-2147483648, 0, 2147483647, 2147483647)",
                             "acc_rate(1e308, 1, -1)",
                             "acc_rate(2147483647, -1e308, 1e308, 1e308, 1, -0.99)",
                             "acc_pmt(-2, 0.5, 100)",
                             "acc_nper(1e-300, 1e300, -1e300)",
                             "acc_ddb(1e308, 0, 1e308, 1e308, 1e308)",
                             "acc_ddb(100, 0, 3, 2.5, 5)",
                             "acc_rnd(-3.4e38)",
                             "acc_string_s(2147483647, 'x')"}) {
        const Outcome r = evaluate(db.db, expr);
        EXPECT_TRUE(r.kind == Outcome::Error || r.text.size() < (1u << 20)) << expr;
    }
}

}  // namespace
