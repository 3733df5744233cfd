// ACC_TEXT on its own: the comparison function and the collation as SQLite
// uses it in comparisons and ORDER BY.
#include "tabulary/sqlbridge/collation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tabulary/sqlbridge/sqlite.h"

namespace tab::sqlbridge {
namespace {

int sign(int v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

TEST(AccessTextCollation, ComparesPairs) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"smith", "Smith", 0},
        {"SMITH", "smith", 0},
        {"\xC3\x84"
         "BC",
         "\xC3\xA4"
         "bc",
         0},                                          // ÄBC = äbc
        {"\xCE\xA3\xCE\x91", "\xCF\x83\xCE\xB1", 0},  // ΣΑ = σα
        {"\xD0\x96", "\xD0\xB6", 0},                  // Ж = ж
        {"stra\xC3\x9F"
         "e",
         "STRASSE", 0},  // ß folds to ss
        {"a", "B", -1},
        {"B", "a", 1},
        {"Z", "a", 1},         // not byte order
        {"\xC3\xA9", "e", 1},  // é != e, after it
        {"e", "\xC3\xA9", -1},
        {"\xC3\xA9", "\xC3\x89", 0},  // é = É
        {"abc", "abcd", -1},
        {"", "", 0},
        {"", "a", -1},
        {"abc ", "abc", 1},                       // spaces count
        {"a\xFF", "a\xFF", 0},                    // bad UTF-8 does not crash
        {"a\xFF", "A\xEF\xBF\xBD", 0},            // and reads as U+FFFD
        {"\xF0\x9F\x98\x80", "\xEF\xBC\xA1", 1},  // code point order past the BMP
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sign(compareAccessText(c.a, c.b)), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(compareAccessText(c.b, c.a)), -c.expected) << c.b << " vs " << c.a;
    }
}

// The shortcuts (shared prefix, Latin-1 folding) must give the general
// path's answer: strings built from pieces that fold simply, fold to more
// than one character, fold from beyond Latin-1 into it, or are bad UTF-8.
TEST(AccessTextCollation, ShortcutsAgreeWithFullFolding) {
    const char* pieces[] = {"",
                            "a",
                            "A",
                            "b",
                            "Z",
                            "z",
                            " ",
                            "-",
                            "'",
                            "0",
                            "~",
                            "\x7F",
                            "\xC2\xA0",
                            "\xC3\x80",
                            "\xC3\xA0",
                            "\xC3\x89",
                            "\xC3\xA9",
                            "\xC3\x97",
                            "\xC3\xB7",
                            "\xC3\x9E",
                            "\xC3\xBE",
                            "\xC3\x9F",
                            "ss",
                            "SS",
                            "\xC2\xB5",
                            "\xCE\xBC",
                            "\xC3\xBF",
                            "\xC5\xB8",
                            "\xC3\x85",
                            "\xE2\x84\xAB",  // Å, angstrom sign
                            "k",
                            "\xE2\x84\xAA",  // Kelvin sign folds to k
                            "\xCE\xA3",
                            "\xCF\x82",
                            "\xCF\x83",
                            "\xC4\xB0",
                            "\xC4\xB1",
                            "\xEF\xAC\x80",  // Σ ς σ İ ı ﬀ
                            "ff",
                            "\xF0\x9F\x98\x80",
                            "\xEF\xBF\xBD",
                            "\xFF",
                            "\x80",
                            "\xC3",
                            "\xE2\x82",
                            "\xC3(",
                            "\xC0\xAF",
                            "\x00"};
    std::vector<std::string> strings;
    for (const char* p : pieces) strings.push_back(p);
    strings.back() = std::string(1, '\0');  // the last piece: a NUL character
    const size_t n = std::size(pieces);
    // Two-piece strings, and three with a shared ASCII or Latin-1 start.
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j) strings.push_back(strings[i] + strings[j]);
    const size_t two = strings.size();
    for (size_t i = n; i < two; i += 7) strings.push_back("Ab\xC3\xA9" + strings[i]);
    for (size_t i = n; i < two; i += 11) strings.push_back("aB\xC3\x89" + strings[i]);
    for (size_t i = 0; i < strings.size(); i += 3) {
        for (size_t j = 0; j < strings.size(); j += 7) {
            const std::string& a = strings[i];
            const std::string& b = strings[j];
            ASSERT_EQ(sign(compareAccessText(a, b)), sign(compareAccessTextFolded(a, b)))
                << "\"" << a << "\" vs \"" << b << "\"";
        }
    }
}

TEST(AccessTextCollation, OrderIsConsistentAndTransitive) {
    const std::vector<std::string> words = {"apple",
                                            "Apple",
                                            "APPLE",
                                            "banana",
                                            "B",
                                            "b",
                                            "\xC3\xA4pfel",
                                            "\xC3\x84PFEL",
                                            "zebra",
                                            "Zebra",
                                            "\xC3\xA9t\xC3\xA9",
                                            "ete",
                                            "ETE",
                                            "\xC3\x89T\xC3\x89",
                                            "",
                                            " ",
                                            "1",
                                            "10",
                                            "9",
                                            "a-b",
                                            "ab",
                                            "a b",
                                            "stra\xC3\x9F"
                                            "e",
                                            "strasse",
                                            "\xD0\xB6\xD1\x83\xD0\xBA",
                                            "\xD0\x96\xD0\xA3\xD0\x9A",
                                            "\xCF\x89",
                                            "\xCE\xA9",
                                            "x\xFF"};
    for (const auto& a : words) {
        EXPECT_EQ(compareAccessText(a, a), 0) << a;
        for (const auto& b : words) {
            EXPECT_EQ(sign(compareAccessText(a, b)), -sign(compareAccessText(b, a)))
                << a << " / " << b;
            for (const auto& c : words) {
                int ab = sign(compareAccessText(a, b)), bc = sign(compareAccessText(b, c));
                int ac = sign(compareAccessText(a, c));
                if (ab <= 0 && bc <= 0) {
                    EXPECT_LE(ac, 0) << a << " <= " << b << " <= " << c;
                }
                if (ab == 0 && bc == 0) {
                    EXPECT_EQ(ac, 0) << a << " = " << b << " = " << c;
                }
            }
        }
    }
}

TEST(AccessTextCollation, SqliteUsesIt) {
    auto conn = Connection::openMemory();
    ASSERT_TRUE(conn.ok()) << conn.error().message();
    struct Case {
        const char* sql;
        int64_t expected;
    };
    const Case cases[] = {
        {"SELECT 'smith' = 'Smith' COLLATE ACC_TEXT", 1},
        {"SELECT 'smith' = 'Smith'", 0},  // BINARY unless asked
        {"SELECT '\xC3\x84' || 'BC' = '\xC3\xA4' || 'bc' COLLATE ACC_TEXT", 1},
        {"SELECT 'a' < 'B' COLLATE ACC_TEXT", 1},
        {"SELECT 'a' < 'B'", 0},
        {"SELECT '\xC3\xA9' = 'e' COLLATE ACC_TEXT", 0},
        {"SELECT count(DISTINCT x COLLATE ACC_TEXT) FROM (SELECT 'Ab' AS x UNION ALL SELECT 'aB' "
         "UNION ALL SELECT 'ab' UNION ALL SELECT 'ac')",
         2},
        // Decimal text: byte order puts 10 before 9, ACC_DECIMAL does not.
        {"SELECT '10' < '9'", 1},
        {"SELECT '10' < '9' COLLATE ACC_DECIMAL", 0},
        {"SELECT '-2' < '-10' COLLATE ACC_DECIMAL", 0},
        {"SELECT '1.50' = '1.5' COLLATE ACC_DECIMAL", 1},
        {"SELECT count(DISTINCT x COLLATE ACC_DECIMAL) FROM (SELECT '1.0' AS x UNION ALL SELECT "
         "'1' UNION ALL SELECT '01' UNION ALL SELECT '2')",
         2},
        {"SELECT max(x COLLATE ACC_DECIMAL) = '10' AND min(x COLLATE ACC_DECIMAL) = '-20' FROM "
         "(SELECT '9' AS x UNION ALL SELECT '10' UNION ALL SELECT '-20' UNION ALL SELECT '-3')",
         1},
        {"SELECT group_concat(x, ' ') = '-20 -3 9 10' FROM (SELECT x FROM (SELECT '9' AS x UNION "
         "ALL SELECT '10' UNION ALL SELECT '-20' UNION ALL SELECT '-3') ORDER BY x COLLATE "
         "ACC_DECIMAL)",
         1},
    };
    for (const Case& c : cases) {
        auto st = Statement::prepare(*conn, c.sql);
        ASSERT_TRUE(st.ok()) << c.sql << ": " << st.error().message();
        auto row = st->step();
        ASSERT_TRUE(row.ok() && *row) << c.sql;
        EXPECT_EQ(st->columnInt64(0), c.expected) << c.sql;
    }
}

TEST(AccessTextCollation, OrderByMatchesTheComparison) {
    auto conn = Connection::openMemory();
    ASSERT_TRUE(conn.ok());
    std::vector<std::string> words = {"delta",
                                      "Alpha",
                                      "charlie",
                                      "\xC3\x89"
                                      "cho",
                                      "bravo",
                                      "echo",
                                      "ALPHA",
                                      "Bravo",
                                      "\xC3\xA9"
                                      "cho"};
    ASSERT_TRUE(conn->exec("CREATE TABLE t(w TEXT COLLATE ACC_TEXT)").ok());
    auto ins = Statement::prepare(*conn, "INSERT INTO t VALUES (?)");
    ASSERT_TRUE(ins.ok());
    for (const auto& w : words) {
        ASSERT_TRUE(ins->bindText(1, w).ok());
        ASSERT_TRUE(ins->step().ok());
        ASSERT_TRUE(ins->reset().ok());
    }
    auto sel = Statement::prepare(*conn, "SELECT w FROM t ORDER BY w, w COLLATE BINARY");
    ASSERT_TRUE(sel.ok());
    std::vector<std::string> got;
    for (;;) {
        auto r = sel->step();
        ASSERT_TRUE(r.ok());
        if (!*r) break;
        got.push_back(sel->columnText(0));
    }
    std::vector<std::string> expected = words;
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        int c = compareAccessText(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    EXPECT_EQ(got, expected);
    // Worked out by hand: case-insensitive groups, É after plain letters.
    std::vector<std::string> byHand = {"ALPHA",
                                       "Alpha",
                                       "Bravo",
                                       "bravo",
                                       "charlie",
                                       "delta",
                                       "echo",
                                       "\xC3\x89"
                                       "cho",
                                       "\xC3\xA9"
                                       "cho"};
    EXPECT_EQ(got, byHand);
}

// ACC_DECIMAL: every pair of a list ranked by hand compares as its ranks
// do; equal ranks are the same number written differently.
TEST(AccessDecimalCollation, OrdersByValue) {
    struct Ranked {
        const char* text;
        int rank;
    };
    const Ranked list[] = {
        {"-79228162514264337593543950335", 0},
        {"-10", 1},
        {"-1e1", 1},
        {"-10.000", 1},
        {"-9.99", 2},
        {"-0.5", 3},
        {"-0.0000000000000000000000000001", 4},
        {"0", 5},
        {"-0", 5},
        {"0.000", 5},
        {"+0", 5},
        {"000", 5},
        {"0e5", 5},
        {".0", 5},
        {"0.0000000000000000000000000001", 6},
        {"1e-28", 6},
        {"0.05", 7},
        {".05", 7},
        {"5e-2", 7},
        {"0.5", 8},
        {"0.50", 8},
        {"1", 9},
        {"1.", 9},
        {"01", 9},
        {"+1", 9},
        {"1.0", 9},
        {"0.1e1", 9},
        {"10e-1", 9},
        {"9", 10},
        {"10", 11},
        {"1e1", 11},
        {"10.0", 11},
        {"1E+1", 11},
        {"100.25", 12},
        {"100.250000000000000000000000000000000001", 13},
        {"79228162514264337593543950335", 14},
        // No numbers: after every number, in byte order.
        {"", 15},
        {" 1", 16},
        {"-", 17},
        {".", 18},
        {"1-2", 19},
        {"1e", 20},
        {"abc", 21},
        {"e5", 22},
    };
    for (const Ranked& a : list)
        for (const Ranked& b : list)
            EXPECT_EQ(sign(compareDecimalText(a.text, b.text)), sign(a.rank - b.rank))
                << "\"" << a.text << "\" vs \"" << b.text << "\"";
}

}  // namespace
}  // namespace tab::sqlbridge
