// The static recordset: fields without reading rows, everything read at the
// first use, the source let go afterwards, errors kept.
#include <gtest/gtest.h>

#include <functional>

#include "tabulary/ado/recordset.h"

using namespace tab;
using namespace tab::ado;
using jet::Value;

namespace {

// Counts rows handed out and whether it is still alive; fails after `failAt` rows.
struct Probe {
    int rowsRead = 0;
    bool alive = false;
};

class FakeSource : public RowSource {
public:
    FakeSource(Probe& p, int rows, int failAt = -1) : m_probe(p), m_rows(rows), m_failAt(failAt) {
        m_probe.alive = true;
        m_fields = {{"Id", jet::ColumnType::Long, 4}, {"Name", jet::ColumnType::Text, 20}};
    }
    ~FakeSource() override { m_probe.alive = false; }
    const std::vector<Field>& fields() const override { return m_fields; }
    Result<bool> next(std::vector<Value>& row) override {
        if (m_probe.rowsRead == m_failAt) return Error(Errc::Corrupt, "page 7: damaged row");
        if (m_probe.rowsRead == m_rows) return false;
        ++m_probe.rowsRead;
        row[0] = Value::integer(m_probe.rowsRead);
        row[1] = Value::text("row " + std::to_string(m_probe.rowsRead));
        return true;
    }

private:
    Probe& m_probe;
    int m_rows, m_failAt;
    std::vector<Field> m_fields;
};

}  // namespace

TEST(Recordset, FieldsAloneReadNoRow) {
    Probe p;
    Recordset rs(std::make_unique<FakeSource>(p, 3));
    ASSERT_EQ(rs.fields().size(), 2u);
    EXPECT_EQ(rs.fields()[1].name, "Name");
    EXPECT_EQ(p.rowsRead, 0);
    EXPECT_TRUE(p.alive);
    EXPECT_FALSE(rs.filled());
}

TEST(Recordset, FirstUseReadsEverythingAndLetsTheSourceGo) {
    // Each way in reads the rows completely and releases the source.
    using Use = std::function<void(Recordset&)>;
    const std::vector<std::pair<const char*, Use>> uses = {
        {"EOF", [](Recordset& r) { EXPECT_FALSE(*r.eof()); }},
        {"RecordCount", [](Recordset& r) { EXPECT_EQ(*r.recordCount(), 3); }},
        {"MoveNext", [](Recordset& r) { EXPECT_TRUE(r.moveNext().ok()); }},
        {"value", [](Recordset& r) { EXPECT_EQ(r.value(0)->asInt(), 1); }},
    };
    for (const auto& [name, use] : uses) {
        Probe p;
        Recordset rs(std::make_unique<FakeSource>(p, 3));
        use(rs);
        EXPECT_EQ(p.rowsRead, 3) << name;
        EXPECT_FALSE(p.alive) << name;
    }
}

TEST(Recordset, WalksRowsToEof) {
    Probe p;
    Recordset rs(std::make_unique<FakeSource>(p, 3));
    std::vector<std::string> names;
    while (!*rs.eof()) {
        names.push_back(rs.value(1)->bytes());
        ASSERT_TRUE(rs.moveNext().ok());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"row 1", "row 2", "row 3"}));
    EXPECT_FALSE(rs.moveNext().ok());
    EXPECT_FALSE(rs.value(0).ok());
    ASSERT_TRUE(rs.moveFirst().ok());
    EXPECT_EQ(rs.value(0)->asInt(), 1);
    EXPECT_FALSE(rs.value(2).ok());

    Probe q;
    Recordset empty(std::make_unique<FakeSource>(q, 0));
    EXPECT_TRUE(*empty.eof());
    EXPECT_EQ(*empty.recordCount(), 0);
}

TEST(Recordset, ReadErrorIsReportedAndKept) {
    Probe p;
    Recordset rs(std::make_unique<FakeSource>(p, 5, 2));
    auto e = rs.eof();
    ASSERT_FALSE(e.ok());
    EXPECT_EQ(e.error().message(), "page 7: damaged row");
    EXPECT_FALSE(p.alive);
    EXPECT_FALSE(rs.recordCount().ok());
    EXPECT_FALSE(rs.value(0).ok());
}
