// Script-driven cases: tests/sql/parse-good.sql (each case parses, and
// printing then parsing gives the same tree) and tests/sql/parse-bad.sql
// (each case fails with the message given on its "-- error: " line).
// Cases are separated by a line "----". Access SQL has no comments, so the
// "-- error: " lines are test metadata and never reach the parser.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_util.h"

using namespace tab::accsql;
using namespace tab::accsql::test;

namespace {

struct Case {
    int line = 0;  // first line of the case in the file
    std::string sql;
    std::vector<std::string> errors;
};

std::vector<Case> readCases(const std::string& file) {
    std::ifstream in(std::string(TABULARY_SQL_TEST_DIR) + "/" + file);
    EXPECT_TRUE(in.good()) << "cannot read " << file;
    std::vector<Case> cases;
    Case c;
    std::string line;
    int n = 0;
    auto flush = [&] {
        if (c.sql.find_first_not_of(" \t\r\n") != std::string::npos || !c.errors.empty())
            cases.push_back(c);
        c = Case{};
    };
    while (std::getline(in, line)) {
        ++n;
        if (line == "----") {
            flush();
            continue;
        }
        if (line.rfind("-- error: ", 0) == 0) {
            c.errors.push_back(line.substr(10));
            continue;
        }
        if (c.sql.empty()) c.line = n;
        c.sql += line + "\n";
    }
    flush();
    return cases;
}

TEST(SqlScripts, GoodCasesParseAndRoundTrip) {
    const auto cases = readCases("parse-good.sql");
    EXPECT_GT(cases.size(), 50u);
    for (const auto& c : cases) {
        SCOPED_TRACE("parse-good.sql line " + std::to_string(c.line));
        EXPECT_TRUE(c.errors.empty());
        auto first = parse(c.sql);
        ASSERT_TRUE(first.ok()) << c.sql << firstError(first);
        const std::string printed = print(*first.statement);
        auto second = parse(printed);
        ASSERT_TRUE(second.ok()) << printed << "\n" << firstError(second);
        EXPECT_EQ(dump(*second.statement), dump(*first.statement)) << printed;
        EXPECT_EQ(print(*second.statement), printed);
    }
}

TEST(SqlScripts, BadCasesFailWithTheirMessage) {
    const auto cases = readCases("parse-bad.sql");
    EXPECT_GT(cases.size(), 40u);
    for (const auto& c : cases) {
        SCOPED_TRACE("parse-bad.sql line " + std::to_string(c.line));
        ASSERT_FALSE(c.errors.empty()) << "case without an -- error: line";
        // The line break the file adds does not belong to the statement.
        std::string sql = c.sql;
        if (!sql.empty() && sql.back() == '\n') sql.pop_back();
        auto r = parse(sql);
        ASSERT_FALSE(r.ok()) << sql;
        ASSERT_EQ(r.diagnostics.size(), 1u);
        const std::string msg = r.diagnostics[0].render();
        for (const auto& e : c.errors)
            EXPECT_NE(msg.find(e), std::string::npos) << sql << "\n" << msg;
    }
}

}  // namespace
