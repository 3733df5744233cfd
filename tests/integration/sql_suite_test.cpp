// The Access SQL cases of tests/sql/*.test (format at the top of each file)
// run against a database written from tests/sql/suite.sql. Every query runs
// with and without index lookups, and both runs must agree. Change cases
// run their statements on a copy of that database.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "tabulary/ado/connection.h"
#include "tabulary/ado/query.h"
#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/script/create_script.h"

namespace fs = std::filesystem;
using namespace tab;

namespace {

// 2024-05-15 10:30:00, a Wednesday: what Now() returns in every case.
constexpr double kNow = 45427.4375;

struct Case {
    std::string file;  // file name, for messages
    int line = 0;      // line of the case header
    std::string name;  // file stem + "_" + case name: the test's name
    enum class Kind { Query, Error, Change, Bad } kind = Kind::Bad;
    bool rowsort = false;
    std::string sql;
    std::vector<std::string> expected;  // header, optional ":types", rows; or the message
    // Change: statements run one after the other on a copy of the database.
    struct Step {
        int line = 0;
        std::string sql;
        std::vector<std::string> expected;  // "affected N", "error TEXT", or a result
    };
    std::vector<Step> steps;
};

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
    return s;
}

bool validName(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(),
                                     [](unsigned char c) { return std::isalnum(c) || c == '_'; });
}

// One file's cases. Mistakes in the file become Bad cases, so they fail
// as tests instead of vanishing.
void parseFile(const fs::path& path, std::vector<Case>& out) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    const std::string file = path.filename().string();
    std::string stem = path.stem().string();
    for (char& ch : stem)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    size_t i = 0;
    auto bad = [&](int line, const std::string& why) {
        Case c;
        c.file = file;
        c.line = line;
        c.name = stem + "_bad_line_" + std::to_string(line);
        c.expected = {why};
        out.push_back(std::move(c));
    };
    while (i < lines.size()) {
        const std::string head = trimRight(lines[i]);
        if (head.empty() || head[0] == '#') {
            ++i;
            continue;
        }
        Case c;
        c.file = file;
        c.line = static_cast<int>(i + 1);
        std::istringstream words(head);
        std::string kind, name, flag, extra;
        words >> kind >> name >> flag >> extra;
        if (kind == "query")
            c.kind = Case::Kind::Query;
        else if (kind == "error")
            c.kind = Case::Kind::Error;
        else if (kind == "change")
            c.kind = Case::Kind::Change;
        const bool flagOk =
            flag.empty() ||
            (flag == "rowsort" && (c.kind == Case::Kind::Query || c.kind == Case::Kind::Change));
        if (c.kind == Case::Kind::Bad || !validName(name) || !flagOk || !extra.empty()) {
            bad(c.line,
                "expected 'query NAME [rowsort]', 'error NAME' or 'change NAME', got: " + head);
            while (i < lines.size() && !trimRight(lines[i]).empty()) ++i;
            continue;
        }
        c.name = stem + "_" + name;
        c.rowsort = flag == "rowsort";
        ++i;
        if (c.kind == Case::Kind::Change) {
            // Steps: statement, '----', expectation; '====' before the next step.
            bool ok = true;
            while (ok && i < lines.size() && !trimRight(lines[i]).empty()) {
                Case::Step step;
                step.line = static_cast<int>(i + 1);
                while (i < lines.size() && trimRight(lines[i]) != "----" &&
                       !trimRight(lines[i]).empty()) {
                    step.sql += (step.sql.empty() ? "" : "\n") + trimRight(lines[i]);
                    ++i;
                }
                if (i == lines.size() || trimRight(lines[i]) != "----" || step.sql.empty()) {
                    ok = false;
                    break;
                }
                ++i;
                while (i < lines.size() && !trimRight(lines[i]).empty() &&
                       trimRight(lines[i]) != "====") {
                    std::string l = lines[i];
                    if (!l.empty() && l.back() == '\r') l.pop_back();
                    step.expected.push_back(l);
                    ++i;
                }
                if (step.expected.empty()) ok = false;
                c.steps.push_back(std::move(step));
                if (i < lines.size() && trimRight(lines[i]) == "====") ++i;
            }
            if (!ok || c.steps.empty()) {
                bad(c.line, "change '" + name +
                                "' needs steps of a statement, '----' and what "
                                "it gives");
                while (i < lines.size() && !trimRight(lines[i]).empty()) ++i;
                continue;
            }
            out.push_back(std::move(c));
            continue;
        }
        while (i < lines.size() && trimRight(lines[i]) != "----") {
            if (trimRight(lines[i]).empty()) break;
            c.sql += (c.sql.empty() ? "" : "\n") + trimRight(lines[i]);
            ++i;
        }
        if (i == lines.size() || trimRight(lines[i]) != "----" || c.sql.empty()) {
            bad(c.line, "case '" + name + "' needs its statement and then a '----' line");
            while (i < lines.size() && !trimRight(lines[i]).empty()) ++i;
            continue;
        }
        ++i;
        // Trailing spaces are data (Str() gives a leading one; Space() only
        // spaces), so expected lines keep everything but the line break.
        while (i < lines.size() && trimRight(lines[i]).size() > 0) {
            std::string l = lines[i];
            if (!l.empty() && l.back() == '\r') l.pop_back();
            c.expected.push_back(l);
            ++i;
        }
        if (c.expected.empty()) {
            bad(c.line, "case '" + name + "' has nothing after '----'");
            continue;
        }
        out.push_back(std::move(c));
    }
}

std::vector<Case> loadCases() {
    std::vector<Case> cases;
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(TABULARY_SQL_SUITE_DIR, ec))
        if (e.path().extension() == ".test") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) parseFile(f, cases);
    std::set<std::string> seen;
    for (Case& c : cases) {
        if (!seen.insert(c.name).second) {
            c.kind = Case::Kind::Bad;
            c.expected = {"duplicate case name " + c.name};
            c.name += "_duplicate_line_" + std::to_string(c.line);
        }
    }
    if (cases.empty()) {
        Case c;
        c.file = TABULARY_SQL_SUITE_DIR;
        c.name = "no_cases_found";
        c.expected = {"no .test file with cases"};
        cases.push_back(c);
    }
    return cases;
}

// gtest prints the parameter of a failed test; the bytes say nothing.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.file << ":" << c.line;
}

// Built on first use, removed when the test program ends.
class SuiteDatabase : public ::testing::Environment {
public:
    static const std::string& path() {
        static std::once_flag once;
        std::call_once(once, [] {
            s_path = (fs::temp_directory_path() /
                      ("tabulary_sql_suite_" + std::to_string(getpid()) + ".mdb"))
                         .string();
            auto r = script::createDatabaseFromScript(s_path, TABULARY_SQL_SUITE_DIR "/suite.sql");
            if (!r.ok()) {
                s_error = r.error().message();
                s_path.clear();
            }
        });
        return s_path;
    }
    static const std::string& error() { return s_error; }
    void TearDown() override {
        if (!s_path.empty()) fs::remove(s_path);
    }

private:
    static inline std::string s_path;
    static inline std::string s_error;
};

[[maybe_unused]] const auto* const kDatabase =
    ::testing::AddGlobalTestEnvironment(new SuiteDatabase);

std::string cellText(const jet::Value& v) {
    if (v.isNull()) return "(null)";
    std::string s = jet::valueToText(v);
    return s.empty() ? "(empty)" : s;
}

std::string join(const std::vector<std::string>& parts, const char* sep) {
    std::string s;
    for (size_t i = 0; i < parts.size(); ++i) s += (i ? sep : "") + parts[i];
    return s;
}

// The result as the lines of the expected block; a failure as "error: ...".
std::vector<std::string> run(const std::string& sql, bool useIndexes, bool withTypes, bool rowsort,
                             const std::string& path = SuiteDatabase::path()) {
    ado::Connection conn;
    if (Status s = conn.openFile(path, ""); !s.ok()) return {"error: " + s.error().message()};
    ado::QueryOptions options;
    options.useIndexes = useIndexes;
    options.now = [] { return kNow; };
    auto rs = ado::openRecordset(conn, sql, options);
    if (!rs.ok()) return {"error: " + rs.error().message()};
    if (Status filled = rs->fill(); !filled.ok()) return {"error: " + filled.error().message()};
    std::vector<std::string> names, types, body;
    for (const ado::Field& f : rs->fields()) {
        names.push_back(f.name);
        types.push_back(jet::columnTypeName(f.type));
    }
    for (size_t r = 0; r < rs->rowCount(); ++r) {
        std::vector<std::string> cells;
        for (size_t f = 0; f < rs->fields().size(); ++f) cells.push_back(cellText(rs->cell(r, f)));
        body.push_back(join(cells, "\t"));
    }
    if (rowsort) std::sort(body.begin(), body.end());
    std::vector<std::string> out{join(names, "\t")};
    if (withTypes) out.push_back(":types " + join(types, "\t"));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The steps of a change case on a copy of the database: each statement's
// records affected, error or rows; after each one the file passes the
// checker, and a statement that fails leaves it byte for byte as it was.
void runChange(const Case& c) {
    const std::string copy =
        (fs::temp_directory_path() /
         ("tabulary_sql_change_" + std::to_string(getpid()) + "_" + c.name + ".mdb"))
            .string();
    fs::copy_file(SuiteDatabase::path(), copy, fs::copy_options::overwrite_existing);
    struct Cleanup {
        std::string path;
        ~Cleanup() { fs::remove(path); }
    } cleanup{copy};
    for (const Case::Step& step : c.steps) {
        const std::string where = c.file + ":" + std::to_string(step.line);
        const std::string& head = step.expected[0];
        const std::string before = fileBytes(copy);
        if (head.rfind("affected ", 0) == 0 || head.rfind("error ", 0) == 0) {
            ado::Connection conn;
            ASSERT_TRUE(conn.openFile(copy, "").ok()) << where;
            ado::QueryOptions options;
            options.now = [] { return kNow; };
            auto n = ado::execute(conn, step.sql, options);
            conn.close();
            if (head.rfind("affected ", 0) == 0) {
                ASSERT_TRUE(n.ok()) << where << "\n" << step.sql << "\n" << n.error().message();
                EXPECT_EQ("affected " + std::to_string(*n), head) << where << "\n" << step.sql;
            } else {
                const std::string text = head.substr(6);
                ASSERT_FALSE(n.ok()) << where << "\n" << step.sql << "\nexpected an error";
                EXPECT_NE(lower(n.error().message()).find(lower(text)), std::string::npos)
                    << where << "\n"
                    << step.sql << "\nexpected: " << text << "\nactual: " << n.error().message();
                EXPECT_TRUE(fileBytes(copy) == before)
                    << where << ": the failed statement changed the file";
            }
        } else {
            const bool withTypes =
                step.expected.size() > 1 && step.expected[1].rfind(":types ", 0) == 0;
            std::vector<std::string> expected = step.expected;
            const bool rowsort = c.rowsort;
            if (rowsort) std::sort(expected.begin() + (withTypes ? 2 : 1), expected.end());
            for (bool indexes : {true, false})
                EXPECT_EQ(run(step.sql, indexes, withTypes, rowsort, copy), expected)
                    << where << "\n"
                    << step.sql << (indexes ? "" : " (without indexes)");
        }
        auto db = jet::Database::open(copy);
        ASSERT_TRUE(db.ok()) << where << ": " << db.error().message();
        for (const auto& p : jet::checkDatabase(**db).problems)
            ADD_FAILURE() << where << ": after " << step.sql << ": " << p.message;
        if (::testing::Test::HasFatalFailure()) return;
    }
}

class SqlSuite : public ::testing::TestWithParam<Case> {};

TEST_P(SqlSuite, Case) {
    const Case& c = GetParam();
    const std::string where = c.file + ":" + std::to_string(c.line);
    ASSERT_NE(c.kind, Case::Kind::Bad) << where << ": " << c.expected[0];
    ASSERT_FALSE(SuiteDatabase::path().empty())
        << "cannot build suite.sql: " << SuiteDatabase::error();
    if (c.kind == Case::Kind::Change) return runChange(c);

    std::vector<std::string> expected = c.expected;
    const bool withTypes = expected.size() > 1 && expected[1].rfind(":types ", 0) == 0;
    if (c.rowsort) std::sort(expected.begin() + (withTypes ? 2 : 1), expected.end());

    const auto indexed = run(c.sql, true, withTypes, c.rowsort);
    const auto scanned = run(c.sql, false, withTypes, c.rowsort);
    const std::string show = "\n  " + join(indexed, "\n  ");
    EXPECT_EQ(indexed, scanned) << where << ": results differ with and without indexes\n"
                                << c.sql << "\nwith indexes:" << show << "\nwithout:\n  "
                                << join(scanned, "\n  ");

    if (c.kind == Case::Kind::Error) {
        const bool failed = indexed.size() == 1 && indexed[0].rfind("error: ", 0) == 0;
        EXPECT_TRUE(failed && lower(indexed[0]).find(lower(expected[0])) != std::string::npos)
            << where << "\n"
            << c.sql << "\nexpected an error containing: " << expected[0] << "\nactual:" << show;
    } else {
        EXPECT_EQ(indexed, expected)
            << where << "\n"
            << c.sql << "\nexpected:\n  " << join(expected, "\n  ") << "\nactual:" << show;
    }
}

INSTANTIATE_TEST_SUITE_P(Sql, SqlSuite, ::testing::ValuesIn(loadCases()),
                         [](const ::testing::TestParamInfo<Case>& param) {
                             return param.param.name;
                         });

}  // namespace
