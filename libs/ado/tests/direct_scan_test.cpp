// A statement that only lists columns of one table is read without SQLite.
// Whatever it reads must be what SQLite reads: the fields, every cell bit for
// bit, the error of a damaged row, the tables' counters, through the
// recordset and through the forward-only rows alike.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "fixtures.h"
#include "tabulary/ado/query.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/jet/writer.h"

using namespace tab;
using namespace tab::ado;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    std::vector<Field> fields;
    std::vector<std::vector<jet::Value>> rows;
    std::string error;
    std::map<std::string, sqlbridge::TableStats> stats;
};

Outcome read(Connection& c, const std::string& sql, bool direct, bool recordset) {
    Outcome out;
    QueryOptions o;
    o.directScans = direct;
    o.now = [] { return 45000.5; };
    o.onFinished = [&out](const sqlbridge::JetTables& t) {
        for (const auto& name : t.tableNames()) out.stats[name] = t.stats(name);
    };
    if (recordset) {
        auto rs = openRecordset(c, sql, o);
        if (!rs.ok()) {
            out.error = rs.error().message();
            return out;
        }
        out.fields = rs->fields();
        if (Status st = rs->fill(); !st.ok()) out.error = st.error().message();
        for (size_t r = 0; r < rs->rowCount(); ++r) {
            out.rows.emplace_back();
            for (size_t f = 0; f < out.fields.size(); ++f)
                out.rows.back().push_back(rs->cell(r, f));
        }
        return out;
    }
    auto rows = openForwardOnly(c, sql, o);
    if (!rows.ok()) {
        out.error = rows.error().message();
        return out;
    }
    out.fields = (*rows)->fields();
    std::vector<jet::Value> row(out.fields.size());
    for (;;) {
        auto more = (*rows)->next(row);
        if (!more.ok()) {
            out.error = more.error().message();
            break;
        }
        if (!*more) break;
        out.rows.push_back(row);
    }
    return out;
}

// Compares the two readings; returns whether the direct one read without SQLite.
bool expectSame(Connection& c, const std::string& sql, const std::string& where) {
    bool direct = false;
    for (bool recordset : {true, false}) {
        const Outcome a = read(c, sql, true, recordset), b = read(c, sql, false, recordset);
        const std::string what = where + ": " + sql + (recordset ? " (recordset)" : " (rows)");
        EXPECT_EQ(a.error, b.error) << what;
        EXPECT_EQ(a.fields.size(), b.fields.size()) << what;
        for (size_t f = 0; f < std::min(a.fields.size(), b.fields.size()); ++f) {
            EXPECT_EQ(a.fields[f].name, b.fields[f].name) << what;
            EXPECT_EQ(a.fields[f].type, b.fields[f].type) << what;
            EXPECT_EQ(a.fields[f].size, b.fields[f].size) << what;
        }
        EXPECT_EQ(a.rows.size(), b.rows.size()) << what;
        size_t differing = 0;
        for (size_t r = 0; r < std::min(a.rows.size(), b.rows.size()); ++r)
            for (size_t f = 0; f < a.rows[r].size(); ++f)
                if (!(a.rows[r][f] == b.rows[r][f]) && differing++ < 3)
                    ADD_FAILURE() << what << ": row " << r << " field " << f << ": "
                                  << jet::valueToText(a.rows[r][f]) << " against "
                                  << jet::valueToText(b.rows[r][f]);
        EXPECT_EQ(differing, 0u) << what;
        for (const auto& [name, s] : b.stats) {
            const sqlbridge::TableStats& t = a.stats.at(name);
            EXPECT_EQ(t.rowsRead, s.rowsRead) << what << " " << name;
            EXPECT_EQ(t.valuesDecoded, s.valuesDecoded) << what << " " << name;
            EXPECT_EQ(t.fullScans, s.fullScans) << what << " " << name;
            EXPECT_EQ(s.directScans, 0u) << what;
            direct = direct || t.directScans > 0;
        }
    }
    return direct;
}

std::string bracket(const std::string& name) {
    return "[" + name + "]";
}

// Doubles and singles SQLite treats specially (NaN is Null there), the
// currency extremes, text with a NUL, empty long values.
fs::path writeSpecials(const fs::path& p) {
    fs::remove(p);
    jet::CreateOptions options;
    options.durable = false;
    auto w = jet::DatabaseWriter::create(p.string(), options);
    EXPECT_TRUE(w.ok());
    jet::TableSpec spec;
    spec.name = "Specials";
    auto col = [&](const char* name, jet::ColumnType type, uint32_t size = 0) {
        jet::ColumnSpec c;
        c.name = name;
        c.type = type;
        c.size = size;
        spec.columns.push_back(c);
    };
    col("d", jet::ColumnType::Double);
    col("f", jet::ColumnType::Single);
    col("m", jet::ColumnType::Currency);
    col("t", jet::ColumnType::Text, 20);
    col("memo", jet::ColumnType::Memo);
    col("bin", jet::ColumnType::Ole);
    col("yes", jet::ColumnType::Boolean);
    auto table = (*w)->addTable(spec);
    EXPECT_TRUE(table.ok());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double doubles[] = {nan, -0.0, inf, -inf, 5e-324, 1.7976931348623157e308, 0.1};
    const int64_t money[] = {INT64_MAX, INT64_MIN, 0, 1, -1, 123456789012345, 5};
    for (size_t i = 0; i < std::size(doubles); ++i) {
        const std::vector<jet::Value> row = {
            jet::Value::real(doubles[i]),
            jet::Value::single(static_cast<float>(doubles[i])),
            jet::Value::currency(money[i]),
            jet::Value::text(i == 0 ? std::string("a\0b", 3) : std::string(i, 'x')),
            i == 1 ? jet::Value::text("") : jet::Value::null(),
            i == 1 ? jet::Value::binary("") : jet::Value::null(),
            jet::Value::boolean(i % 2 == 0),
        };
        EXPECT_TRUE((*w)->appendRow(*table, row).ok());
    }
    EXPECT_TRUE((*w)->finish().ok());
    return p;
}

}  // namespace

TEST(DirectScan, ReadsWhatSQLiteReadsOnOurOwnFiles) {
    const fs::path dir = fs::path(testing::TempDir());
    const std::string tag = std::to_string(::getpid());
    const fs::path coverage = dir / ("direct_coverage_" + tag + ".mdb");
    auto content = fixtures::writeCoverageDatabase(coverage.string(), 1500);
    ASSERT_TRUE(content.ok()) << content.error().message();
    for (const fs::path& file :
         {coverage, writeSpecials(dir / ("direct_specials_" + tag + ".mdb"))}) {
        Connection c;
        ASSERT_TRUE(c.open(buildConnectionString(file.string(), "")).ok());
        for (const auto* t : c.database()->catalog().ofKind(jet::ObjectKind::UserTable)) {
            auto def = c.database()->table(t->name);
            ASSERT_TRUE(def.ok());
            const auto& cols = (*def)->columns;
            const std::string T = bracket(t->name);
            const std::string first = bracket(cols.front().name), last = bracket(cols.back().name);
            for (const std::string& sql :
                 {"SELECT * FROM " + T, "SELECT x.* FROM " + T + " AS x",
                  "SELECT " + last + ", " + first + " AS Renamed, " + last + " FROM " + T})
                EXPECT_TRUE(expectSame(c, sql, file.filename().string())) << sql;
            // Anything more than a column list goes through SQLite.
            EXPECT_FALSE(expectSame(c, "SELECT * FROM " + T + " WHERE " + first + " IS NOT NULL",
                                    file.filename().string()));
            EXPECT_FALSE(
                expectSame(c, "SELECT " + first + " & '' FROM " + T, file.filename().string()));
        }
    }
}

// Every table of every corpus file that opens without a password.
TEST(DirectScan, ReadsWhatSQLiteReadsOnTheCorpus) {
    const char* env = std::getenv("TABULARY_CORPUS");
    const fs::path root = fs::path(env && *env ? env : TABULARY_CORPUS_DIR) / "files";
    if (!fs::exists(root)) GTEST_SKIP() << "corpus not present";
    size_t tables = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".mdb" && ext != ".accdb") continue;
        Connection c;
        if (!c.open(buildConnectionString(entry.path().string(), "")).ok()) continue;
        for (const auto* t : c.database()->catalog().ofKind(jet::ObjectKind::UserTable)) {
            const std::string sql = "SELECT * FROM " + bracket(t->name);
            const bool direct = expectSame(c, sql, entry.path().filename().string());
            // Tables the engine cannot attach fail the same way on both paths.
            if (direct) ++tables;
        }
    }
    EXPECT_GT(tables, 50u);
}
