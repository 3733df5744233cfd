#include "tabulary/sqlbridge/table_scan.h"

#include <cmath>

#include "tabulary/jet/value_text.h"

namespace tab::sqlbridge {

namespace {

constexpr int64_t kSerialEpochDays = 693593;  // 0001-01-01 .. 1899-12-30
constexpr double kTicksPerDay = 864e9;

double extToSerial(int64_t days, int64_t ticks) {
    double d = static_cast<double>(days - kSerialEpochDays);
    double f = static_cast<double>(ticks) / kTicksPerDay;
    // Access serials before the epoch keep the time of day as a positive
    // fraction subtracted from the negative day.
    return d >= 0 ? d + f : d - f;
}

SqlCell real(double v) {
    // SQLite holds a NaN as Null.
    if (std::isnan(v)) return {};
    SqlCell c;
    c.storage = SQLITE_FLOAT;
    c.real = v;
    return c;
}

SqlCell integer(int64_t v) {
    SqlCell c;
    c.storage = SQLITE_INTEGER;
    c.integer = v;
    return c;
}

SqlCell bytes(int storage, std::string_view b) {
    SqlCell c;
    c.storage = storage;
    c.bytes = b;
    return c;
}

}  // namespace

SqlCell sqlCellOf(const jet::Value& v, std::string& scratch) {
    using K = jet::Value::Kind;
    switch (v.kind()) {
        case K::Null:
            return {};
        case K::Boolean:
            return integer(v.asBool() ? -1 : 0);
        case K::Integer:
            return integer(v.asInt());
        case K::Single:
        case K::Double:
        case K::DateTime:
            return real(v.asDouble());
        case K::Currency:
            return integer(v.asInt());  // in ten-thousandths, exact
        case K::DateTimeExt:
            return real(extToSerial(v.asInt(), v.asInt2()));
        case K::Binary:
            return bytes(SQLITE_BLOB, v.bytes());
        case K::Text:
            return bytes(SQLITE_TEXT, v.bytes());
        case K::Decimal:
        case K::Guid:
        case K::List:
            scratch = jet::valueToText(v);
            return bytes(SQLITE_TEXT, scratch);
    }
    return {};
}

Result<TableScan> TableScan::open(JetTables& tables, std::string_view table,
                                  std::vector<int> columns) {
    TableScan s;
    const size_t index = tables.indexOf(table);
    if (index == std::string_view::npos)
        return Error(Errc::NotFound, "no attached table \"" + std::string(table) + "\"");
    s.m_table = &tables.at(index);
    const size_t count = s.m_table->def->columns.size();
    // The columns a scan through SQLite decodes: those used, where one bit
    // stands for every column from 63 on.
    uint64_t used = 0;
    for (int c : columns) {
        if (c < 0 || static_cast<size_t>(c) >= count)
            return Error(Errc::InvalidArgument,
                         "no column " + std::to_string(c) + " in \"" + s.m_table->name + "\"");
        used |= c < 63 ? uint64_t(1) << c : uint64_t(1) << 63;
    }
    std::vector<int> wanted;
    for (size_t i = 0; i < count; ++i)
        if (used & (i < 63 ? uint64_t(1) << i : uint64_t(1) << 63))
            wanted.push_back(static_cast<int>(i));
    if (wanted.empty()) wanted.push_back(-1);
    s.m_decodedPerRow = wanted.front() < 0 ? 0 : wanted.size();
    s.m_columns = std::move(columns);
    jet::Database& db = tables.databaseOf(index);
    s.m_rows = std::make_unique<jet::TableCursor>(db, s.m_table->def, std::move(wanted));
    ++s.m_table->stats.fullScans;
    ++s.m_table->stats.directScans;
    return s;
}

Result<bool> TableScan::next() {
    if (m_done) return false;
    auto r = m_rows->next();
    if (!r.ok()) {
        m_done = true;
        // What the statement's step reports once the prefix is taken off.
        return Error(Errc::InvalidArgument, r.error().message());
    }
    if (!*r) {
        m_done = true;
        return false;
    }
    ++m_table->stats.rowsRead;
    m_table->stats.valuesDecoded += m_decodedPerRow;
    return true;
}

SqlCell TableScan::cell(size_t i) {
    return sqlCellOf(m_rows->values()[static_cast<size_t>(m_columns[i])], m_scratch);
}

}  // namespace tab::sqlbridge
