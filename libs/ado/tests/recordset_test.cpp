// The static recordset: fields without reading rows, everything read at the
// first use, the source let go afterwards, errors kept.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "tabulary/ado/recordset.h"
#include "tabulary/jet/value_text.h"

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

namespace {

// A single column of given values, handed out one row at a time.
class ColumnSource : public RowSource {
public:
    ColumnSource(jet::ColumnType type, const std::vector<Value>& values) : m_values(values) {
        m_fields = {{"c", type, 0}};
    }
    const std::vector<Field>& fields() const override { return m_fields; }
    Result<bool> next(std::vector<Value>& row) override {
        if (m_next == m_values.size()) return false;
        row[0] = m_values[m_next++];
        return true;
    }

private:
    const std::vector<Value>& m_values;
    size_t m_next = 0;
    std::vector<Field> m_fields;
};

Value dec(uint64_t hi, uint64_t lo, uint8_t scale, bool negative) {
    jet::Decimal d;
    d.hi = hi;
    d.lo = lo;
    d.scale = scale;
    d.negative = negative;
    return Value::decimal(d);
}

std::string guidBytes(size_t i) {
    std::string b(16, '\0');
    for (size_t k = 0; k < 16; ++k) b[k] = static_cast<char>((i * 31 + k * 7) & 0xFF);
    return b;
}

// The bytes a value needs of its own: its payload at the field's width.
size_t ownBytes(const Value& v, jet::ColumnType type) {
    using K = Value::Kind;
    switch (v.kind()) {
        case K::Null:
            return 0;
        case K::Boolean:
            return 1;
        case K::Integer:
            if (type == jet::ColumnType::Byte) return 1;
            if (type == jet::ColumnType::Integer) return 2;
            if (type == jet::ColumnType::Long) return 4;
            return 8;
        case K::Single:
            return 4;
        case K::Double:
        case K::Currency:
        case K::DateTime:
            return 8;
        case K::Decimal:
            return 17;
        case K::DateTimeExt:
        case K::Guid:
            return 16;
        case K::Text:
        case K::Binary:
            return v.bytes().size();
        case K::List: {
            size_t n = 0;
            for (const Value& item : v.items()) n += ownBytes(item, type);
            return n;
        }
    }
    return 0;
}

}  // namespace

TEST(Recordset, EveryColumnTypeReadsBackExactlyAndCompactly) {
    using T = jet::ColumnType;
    using Make = std::function<Value(size_t)>;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        T type;
        Make make;
    };
    const std::vector<Case> cases = {
        {"Boolean", T::Boolean, [](size_t i) { return Value::boolean(i % 3 == 0); }},
        {"Byte", T::Byte, [](size_t i) { return Value::integer(static_cast<int64_t>(i % 256)); }},
        {"Integer", T::Integer,
         [](size_t i) { return Value::integer(static_cast<int64_t>(i * 37 % 65536) - 32768); }},
        {"Long", T::Long,
         [](size_t i) { return Value::integer(static_cast<int64_t>(i) * 1000003 - 2000000000); }},
        {"BigInt", T::BigInt,
         [](size_t i) {
             // Wraps on purpose (unsigned), to spread the values over the whole range.
             return Value::integer(static_cast<int64_t>(i * 0x9E3779B97F4A7C15ull));
         }},
        {"Single", T::Single,
         [](size_t i) { return Value::single(static_cast<float>(i) * 0.37f - 100.0f); }},
        {"Double", T::Double,
         [nan](size_t i) {
             return Value::real(i % 100 == 1 ? -0.0 : i % 100 == 2 ? nan : 1.0 / (1.0 + i));
         }},
        {"Currency", T::Currency,
         [](size_t i) { return Value::currency(static_cast<int64_t>(i) * 12345 - 99999999); }},
        {"DateTime", T::DateTime,
         [](size_t i) { return Value::dateTime(-700.25 + static_cast<double>(i) * 1.125); }},
        {"DateTimeExt", T::DateTimeExt,
         [](size_t i) {
             return Value::dateTimeExt(static_cast<int64_t>(i) * 3,
                                       static_cast<int64_t>(i) * 864000000 % 863999999999);
         }},
        {"Decimal", T::Decimal,
         [](size_t i) { return dec(i % 5, i * 0x9E3779B97F4A7C15ULL, i % 29, i % 2); }},
        {"Guid", T::Guid, [](size_t i) { return Value::guid(guidBytes(i)); }},
        {"Text", T::Text,
         [](size_t i) {
             return Value::text(i % 7 == 0 ? "" : "Ünal " + std::string(i % 40, 'x'));
         }},
        {"Memo", T::Memo,
         [](size_t i) {
             return Value::text(i % 50 == 0 ? std::string(5000 + i % 13, 'm')
                                            : "line\r\n" + std::to_string(i));
         }},
        {"Binary", T::Binary,
         [](size_t i) { return Value::binary(std::string(i % 9, static_cast<char>(i % 3))); }},
        {"OLE", T::Ole,
         [](size_t i) {
             return i % 4 ? Value::null() : Value::binary(std::string(300 + i % 17, '\x89'));
         }},
        {"Null-heavy Text", T::Text,
         [](size_t i) { return i % 20 ? Value::null() : Value::text("n" + std::to_string(i)); }},
        {"Null-heavy Long", T::Long,
         [](size_t i) { return i % 20 ? Value::null() : Value::integer(static_cast<int64_t>(i)); }},
        {"Integer beyond its width", T::Integer,
         [](size_t i) {
             return Value::integer(i % 10 == 0 ? 70000 + static_cast<int64_t>(i)
                                               : static_cast<int64_t>(i % 1000));
         }},
        {"Mixed kinds", T::Text,
         [nan](size_t i) {
             switch (i % 11) {
                 case 0:
                     return Value::integer(static_cast<int64_t>(i));
                 case 1:
                     return Value::real(i % 3 ? 0.5 * static_cast<double>(i) : nan);
                 case 2:
                     return Value::null();
                 case 3:
                     return Value::boolean(i % 2);
                 case 4:
                     return Value::list({Value::text("a"), Value::integer(2), Value::null()});
                 case 5:
                     return Value::guid(guidBytes(i));
                 case 6:
                     return dec(0, i, 2, true);
                 case 7:
                     return Value::binary(std::string("\0\1\2", 3));
                 case 8:
                     return Value::single(1.5f);
                 case 9:
                     return Value::dateTimeExt(1, 2);
                 default:
                     return Value::text("t" + std::to_string(i));
             }
         }},
    };
    // More rows than one arena block holds.
    const size_t n = 40000;
    for (const Case& c : cases) {
        std::vector<Value> values;
        size_t own = 0;
        for (size_t i = 0; i < n; ++i) {
            values.push_back(c.make(i));
            own += ownBytes(values.back(), c.type);
        }
        Recordset rs(std::make_unique<ColumnSource>(c.type, values));
        ASSERT_TRUE(rs.fill().ok()) << c.name;
        ASSERT_EQ(rs.rowCount(), n) << c.name;
        size_t wrong = 0;
        for (size_t i = 0; i < n; ++i) {
            const Value got = rs.cell(i, 0);
            std::string text, expected;
            rs.appendCellText(i, 0, text);
            jet::appendValueText(expected, values[i]);
            if (!(got == values[i]) || text != expected || rs.isNull(i, 0) != values[i].isNull()) {
                if (++wrong < 4)
                    ADD_FAILURE() << c.name << " row " << i << ": read '" << jet::valueToText(got)
                                  << "' shown '" << text << "', stored '" << expected << "'";
            }
        }
        EXPECT_EQ(wrong, 0u) << c.name;
        ASSERT_GE(rs.heldBytes(), own) << c.name;
        const double overhead = static_cast<double>(rs.heldBytes() - own) / static_cast<double>(n);
        EXPECT_LE(overhead, 16.0) << c.name;
    }
}
