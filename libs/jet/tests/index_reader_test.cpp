// Index lookups checked against full table scans: every index of every table
// in the corpus must list exactly the live rows, store the keys we compute
// from the rows' values, and answer equality and range lookups with exactly
// the rows a scan with the same predicate finds, in index order.
#include "tabulary/jet/index_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "tabulary/jet/database.h"
#include "tabulary/jet/table_cursor.h"
#include "test_corpus.h"

namespace tab::jet {
namespace {

namespace fs = std::filesystem;

std::string bytes(std::initializer_list<unsigned> list) {
    std::string s;
    for (unsigned b : list) s.push_back(static_cast<char>(b));
    return s;
}

std::string hex(std::string_view s) {
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    return out;
}

std::string asString(Bytes b) {
    return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

Column columnOf(ColumnType type, uint8_t scale = 0) {
    Column c;
    c.type = type;
    c.scale = scale;
    c.sortOrder = 0x0409;
    return c;
}

Value guidValue(std::initializer_list<unsigned> stored) {
    return Value::guid(bytes(stored));
}

Value decimalValue(uint64_t lo, uint8_t scale, bool negative) {
    Decimal d;
    d.lo = lo;
    d.scale = scale;
    d.negative = negative;
    return Value::decimal(d);
}

// ---- Key encoding ---------------------------------------------------------

TEST(IndexKey, SegmentsMatchDocumentedKeys) {
    using C = TextCollation;
    struct Case {
        const char* what;
        ColumnType type;
        Value value;
        bool ascending;
        C collation;
        std::string expected;
    };
    // Long and text entries as seen in Access-made indexes; Date/Time and GUID
    // from the documented layout.
    const Case cases[] = {
        {"Long 2", ColumnType::Long, Value::integer(2), true, C::GeneralLegacy,
         bytes({0x7F, 0x80, 0x00, 0x00, 0x02})},
        {"Long 19 descending", ColumnType::Long, Value::integer(19), false, C::GeneralLegacy,
         bytes({0x80, 0x7F, 0xFF, 0xFF, 0xEC})},
        {"Long null", ColumnType::Long, Value::null(), true, C::GeneralLegacy, bytes({0x00})},
        {"Long null descending", ColumnType::Long, Value::null(), false, C::GeneralLegacy,
         bytes({0xFF})},
        {"Long minimum", ColumnType::Long, Value::integer(INT32_MIN), true, C::GeneralLegacy,
         bytes({0x7F, 0x00, 0x00, 0x00, 0x00})},
        {"Date 1.5", ColumnType::DateTime, Value::dateTime(1.5), true, C::GeneralLegacy,
         bytes({0x7F, 0xBF, 0xF8, 0, 0, 0, 0, 0, 0})},
        {"Date -1.5", ColumnType::DateTime, Value::dateTime(-1.5), true, C::GeneralLegacy,
         bytes({0x7F, 0x40, 0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        {"Tables", ColumnType::Text, Value::text("Tables"), true, C::GeneralLegacy,
         bytes({0x7F, 0x6D, 0x4A, 0x4C, 0x5E, 0x51, 0x6B, 0x01, 0x00})},
        {"MSysObjects", ColumnType::Text, Value::text("MSysObjects"), true, C::GeneralLegacy,
         bytes(
             {0x7F, 0x60, 0x6B, 0x76, 0x6B, 0x64, 0x4C, 0x5B, 0x51, 0x4D, 0x6D, 0x6B, 0x01, 0x00})},
        {"case folds", ColumnType::Text, Value::text("TABLES"), true, C::GeneralLegacy,
         bytes({0x7F, 0x6D, 0x4A, 0x4C, 0x5E, 0x51, 0x6B, 0x01, 0x00})},
        {"trailing spaces dropped", ColumnType::Text, Value::text("Tables  "), true,
         C::GeneralLegacy, bytes({0x7F, 0x6D, 0x4A, 0x4C, 0x5E, 0x51, 0x6B, 0x01, 0x00})},
        {"accent as extra byte", ColumnType::Text, Value::text("caf\xC3\xA9"), true,
         C::GeneralLegacy,
         bytes({0x7F, 0x4D, 0x4A, 0x53, 0x51, 0x01, 0x02, 0x02, 0x02, 0x0E, 0x00})},
        {"apostrophe unprintable", ColumnType::Text, Value::text("it's"), true, C::GeneralLegacy,
         bytes({0x7F, 0x59, 0x6D, 0x6B, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0F, 0x06, 0x80, 0x00})},
        {"accent and hyphen", ColumnType::Text, Value::text("na\xC3\xAFve-x"), true,
         C::GeneralLegacy,
         bytes({0x7F, 0x62, 0x4A, 0x59, 0x71, 0x51, 0x75, 0x01, 0x02, 0x02, 0x13, 0x01, 0x01, 0x01,
                0x80, 0x1B, 0x06, 0x82, 0x00})},
        {"text descending", ColumnType::Text, Value::text("ab"), false, C::GeneralLegacy,
         bytes({0x80, 0xB5, 0xB3, 0xFE, 0xFF, 0x00})},
        {"empty text", ColumnType::Text, Value::text(""), true, C::GeneralLegacy,
         bytes({0x7F, 0x01, 0x00})},
        {"Tables, General 2010", ColumnType::Text, Value::text("Tables"), true, C::General2010,
         bytes({0x7F, 0x0E, 0x99, 0x0E, 0x02, 0x0E, 0x09, 0x0E, 0x48, 0x0E, 0x21, 0x0E, 0x91, 0x01,
                0x00})},
        {"Yes", ColumnType::Boolean, Value::boolean(true), true, C::GeneralLegacy,
         bytes({0x7F, 0x00})},
        {"No descending", ColumnType::Boolean, Value::boolean(false), false, C::GeneralLegacy,
         bytes({0x80, 0x00})},
        {"Memo as text", ColumnType::Memo, Value::text("Tables"), true, C::GeneralLegacy,
         bytes({0x7F, 0x6D, 0x4A, 0x4C, 0x5E, 0x51, 0x6B, 0x01, 0x00})},
        // GUID: Data1-Data3 turned big-endian, then 8-byte groups.
        {"GUID", ColumnType::Guid,
         guidValue({0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x08, 0x07, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
                    0x0E, 0x0F, 0x10}),
         true, C::GeneralLegacy,
         bytes({0x7F, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x09, 0x0A, 0x0B, 0x0C,
                0x0D, 0x0E, 0x0F, 0x10, 0x08})},
    };
    for (const Case& c : cases) {
        auto key =
            encodeKeySegment(columnOf(c.type), c.value, c.ascending, JetVersion::Jet4, c.collation);
        ASSERT_TRUE(key.ok()) << c.what << ": " << key.error().message();
        EXPECT_EQ(hex(*key), hex(c.expected)) << c.what;
    }
}

// Keys must sort like the values they encode, both ways round.
TEST(IndexKey, KeysSortLikeValues) {
    const double kInf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        Column column;
        JetVersion version;
        std::vector<Value> increasing;  // strictly; Null first where there is one
    };
    auto ints = [](std::initializer_list<int64_t> list) {
        std::vector<Value> v{Value::null()};
        for (int64_t i : list) v.push_back(Value::integer(i));
        return v;
    };
    auto reals = [](std::initializer_list<double> list) {
        std::vector<Value> v{Value::null()};
        for (double d : list) v.push_back(Value::real(d));
        return v;
    };
    std::vector<Value> singles{Value::null()}, currencies{Value::null()}, dates{Value::null()};
    for (float f : {-1e30f, -2.5f, -1e-30f, 0.0f, 1e-30f, 1.0f, 3.5f, 1e30f})
        singles.push_back(Value::single(f));
    for (int64_t c :
         {INT64_MIN, int64_t{-10001}, int64_t{-1}, int64_t{0}, int64_t{35000}, INT64_MAX})
        currencies.push_back(Value::currency(c));
    for (double d : {-700000.25, -1.5, -1.0, 0.0, 0.25, 1.0, 45000.5, 2958465.0})
        dates.push_back(Value::dateTime(d));
    std::vector<Value> decimals{Value::null(),
                                decimalValue(123456789, 0, true),
                                decimalValue(5, 2, true),
                                decimalValue(0, 0, false),
                                decimalValue(1, 2, false),
                                decimalValue(10, 1, false),
                                decimalValue(123456789, 0, false)};
    std::vector<Value> guids{
        Value::null(),
        guidValue({0xFF, 0xFF, 0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
        guidValue({0x00, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
        guidValue({0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
        guidValue({0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}),
    };
    std::vector<Value> texts{Value::null()};
    for (const char* s : {"", " a", "0", "9", "a", "\xC3\xA1", "ab", "abc", "b", "z"})
        texts.push_back(Value::text(s));
    const Case cases[] = {
        {"Yes/No",
         columnOf(ColumnType::Boolean),
         JetVersion::Jet4,
         {Value::boolean(true), Value::boolean(false)}},
        {"Byte", columnOf(ColumnType::Byte), JetVersion::Jet4, ints({0, 1, 127, 128, 255})},
        {"Integer", columnOf(ColumnType::Integer), JetVersion::Jet4,
         ints({INT16_MIN, -256, -1, 0, 1, 255, 256, INT16_MAX})},
        {"Long", columnOf(ColumnType::Long), JetVersion::Jet4,
         ints({INT32_MIN, -65536, -1, 0, 1, 65536, INT32_MAX})},
        {"Large Number", columnOf(ColumnType::BigInt), JetVersion::Ace16,
         ints({INT64_MIN, -(int64_t{1} << 40), -1, 0, 1, int64_t{1} << 40, INT64_MAX})},
        {"Currency", columnOf(ColumnType::Currency), JetVersion::Jet4, currencies},
        {"Single", columnOf(ColumnType::Single), JetVersion::Jet4, singles},
        {"Double", columnOf(ColumnType::Double), JetVersion::Jet4,
         reals({-kInf, -1e300, -2.0, -1.5, -1e-300, 0.0, 1e-300, 1.5, 2.0, 1e300, kInf})},
        {"Date/Time", columnOf(ColumnType::DateTime), JetVersion::Jet4, dates},
        {"Decimal Jet4", columnOf(ColumnType::Decimal, 2), JetVersion::Jet4, decimals},
        {"Decimal ACE", columnOf(ColumnType::Decimal, 2), JetVersion::Ace12, decimals},
        {"GUID", columnOf(ColumnType::Guid), JetVersion::Jet4, guids},
        {"Text", columnOf(ColumnType::Text), JetVersion::Jet4, texts},
    };
    for (const Case& c : cases) {
        for (bool ascending : {true, false}) {
            // Jet4's descending Decimal keys do not reverse the sign order.
            if (!ascending && c.column.type == ColumnType::Decimal && c.version == JetVersion::Jet4)
                continue;
            std::string previous;
            for (size_t i = 0; i < c.increasing.size(); ++i) {
                auto key = encodeKeySegment(c.column, c.increasing[i], ascending, c.version,
                                            TextCollation::GeneralLegacy);
                ASSERT_TRUE(key.ok()) << c.what << " #" << i << ": " << key.error().message();
                if (i > 0) {
                    if (ascending)
                        EXPECT_LT(previous, *key) << c.what << " ascending #" << i;
                    else
                        EXPECT_GT(previous, *key) << c.what << " descending #" << i;
                }
                previous = *key;
            }
        }
    }
}

TEST(IndexKey, RefusesWhatItCannotEncode) {
    struct Case {
        const char* what;
        Column column;
        Value value;
        TextCollation collation;
    };
    const Case cases[] = {
        {"text beyond Latin-1", columnOf(ColumnType::Text), Value::text("\xCE\xB1"),
         TextCollation::GeneralLegacy},
        {"unknown collation", columnOf(ColumnType::Text), Value::text("abc"),
         TextCollation::Unknown},
        {"text into Long", columnOf(ColumnType::Long), Value::text("1"),
         TextCollation::GeneralLegacy},
        {"Long out of range", columnOf(ColumnType::Long), Value::integer(int64_t{1} << 40),
         TextCollation::GeneralLegacy},
        {"Byte out of range", columnOf(ColumnType::Byte), Value::integer(-1),
         TextCollation::GeneralLegacy},
        {"inexact Single", columnOf(ColumnType::Single), Value::real(0.1),
         TextCollation::GeneralLegacy},
        {"decimal finer than the column", columnOf(ColumnType::Decimal, 2),
         decimalValue(12345, 3, false), TextCollation::GeneralLegacy},
        {"Complex column", columnOf(ColumnType::Complex), Value::integer(1),
         TextCollation::GeneralLegacy},
    };
    for (const Case& c : cases) {
        auto key = encodeKeySegment(c.column, c.value, true, JetVersion::Jet4, c.collation);
        ASSERT_FALSE(key.ok()) << c.what << " encoded as " << hex(*key);
        EXPECT_EQ(key.error().code(), Errc::Unsupported) << c.what;
    }
}

TEST(IndexKey, ColumnRangeFollowsTheIndexDirection) {
    RealIndex index;
    index.columns = {{1, true}, {2, false}};
    auto asc = columnRange(index, {}, ValueBound{Value::integer(1), true},
                           ValueBound{Value::integer(9), false});
    ASSERT_TRUE(asc.ok());
    ASSERT_TRUE(asc->first && asc->last);
    EXPECT_EQ(asc->first->values.at(0), Value::integer(1));
    EXPECT_TRUE(asc->first->inclusive);
    EXPECT_EQ(asc->last->values.at(0), Value::integer(9));
    EXPECT_FALSE(asc->last->inclusive);

    // On the descending second column the upper value comes first.
    auto desc =
        columnRange(index, {Value::integer(5)}, ValueBound{Value::integer(1), true}, std::nullopt);
    ASSERT_TRUE(desc.ok());
    ASSERT_TRUE(desc->first);
    ASSERT_TRUE(desc->last);
    EXPECT_EQ(desc->first->values.size(), 1u);
    ASSERT_EQ(desc->last->values.size(), 2u);
    EXPECT_EQ(desc->last->values[1], Value::integer(1));

    auto tooMany = columnRange(index, {Value::integer(1), Value::integer(2)},
                               ValueBound{Value::integer(3), true});
    ASSERT_FALSE(tooMany.ok());
    EXPECT_EQ(tooMany.error().code(), Errc::InvalidArgument);
}

// ---- Corpus ----------------------------------------------------------------

// One value with its ascending key segment (absent if not encodable).
struct Cell {
    Value value;
    std::optional<std::string> segment;
};

Cell cellOf(const Database& db, const Column& column, Value v) {
    auto seg = encodeKeySegment(column, v, true, db.header().version, textCollation(db, column));
    Cell c{std::move(v), std::nullopt};
    if (seg.ok()) c.segment = std::move(*seg);
    return c;
}

constexpr int kIncomparable = 2;

// Column order of values, independent of the key encoding where the type
// allows: numbers by value, Yes before No (Yes is -1). Text, GUID and
// Decimal compare by their ascending keys, which the walk test checks
// against the stored keys. Null sorts first.
int compareCells(const Column& column, const Cell& a, const Cell& b) {
    const Value& x = a.value;
    const Value& y = b.value;
    if (x.isNull() || y.isNull()) return x.isNull() == y.isNull() ? 0 : (x.isNull() ? -1 : 1);
    auto sign = [](auto p, auto q) { return p < q ? -1 : (q < p ? 1 : 0); };
    switch (column.type) {
        case ColumnType::Boolean:
            return sign(y.asInt(), x.asInt());
        case ColumnType::Byte:
        case ColumnType::Integer:
        case ColumnType::Long:
        case ColumnType::BigInt:
        case ColumnType::Currency:
            return sign(x.asInt(), y.asInt());
        case ColumnType::Single:
        case ColumnType::Double:
        case ColumnType::DateTime:
            return sign(x.asDouble(), y.asDouble());
        default:
            break;
    }
    if (!a.segment || !b.segment) return kIncomparable;
    return sign(*a.segment, *b.segment);
}

// A table's live rows with the values of one index's columns.
struct IndexedRows {
    std::vector<const Column*> columns;  // index column order
    std::vector<bool> ascending;
    std::vector<std::pair<RowId, std::vector<Cell>>> rows;  // by row id
    bool scanFailed = false;

    const std::vector<Cell>* find(RowId id) const {
        auto it = std::lower_bound(rows.begin(), rows.end(), id,
                                   [](const auto& row, RowId x) { return row.first < x; });
        return it != rows.end() && it->first == id ? &it->second : nullptr;
    }
    const std::vector<Cell>& at(RowId id) const { return *find(id); }
};

IndexedRows scanForIndex(Database& db, const std::shared_ptr<const TableDef>& table,
                         const RealIndex& index) {
    IndexedRows out;
    std::vector<int> positions;
    for (const IndexColumn& ic : index.columns) {
        for (size_t k = 0; k < table->columns.size(); ++k)
            if (table->columns[k].number == ic.columnNumber)
                positions.push_back(static_cast<int>(k));
        out.columns.push_back(table->columnByNumber(ic.columnNumber));
        out.ascending.push_back(ic.ascending);
    }
    TableCursor cursor(db, table, positions);
    for (;;) {
        auto r = cursor.next();
        if (!r.ok()) {
            out.scanFailed = true;
            break;
        }
        if (!*r) break;
        if (!out.rows.empty() && cursor.rowId() <= out.rows.back().first) {
            ADD_FAILURE() << "scan of " << table->name << " not in row id order";
            out.scanFailed = true;
            break;
        }
        std::vector<Cell> cells;
        for (size_t i = 0; i < positions.size(); ++i)
            cells.push_back(
                cellOf(db, *out.columns[i], cursor.values()[static_cast<size_t>(positions[i])]));
        out.rows.emplace_back(cursor.rowId(), std::move(cells));
    }
    return out;
}

std::vector<Value> valuesOf(const std::vector<Cell>& cells) {
    std::vector<Value> out;
    for (const Cell& c : cells) out.push_back(c.value);
    return out;
}

bool allNull(const std::vector<Cell>& cells) {
    return std::all_of(cells.begin(), cells.end(), [](const Cell& c) { return c.value.isNull(); });
}

struct Walk {
    std::vector<RowId> rows;
    std::vector<std::string> keys;
    std::optional<Error> error;
};

Walk walk(Database& db, const TableDef& table, const RealIndex& index, const KeyRange& range,
          bool keepKeys = false) {
    Walk w;
    auto cursor = IndexCursor::open(db, table, index, range);
    if (!cursor.ok()) {
        w.error = cursor.error();
        return w;
    }
    for (;;) {
        auto r = cursor->next();
        if (!r.ok()) {
            w.error = r.error();
            break;
        }
        if (!*r) break;
        w.rows.push_back(cursor->rowId());
        if (keepKeys) w.keys.push_back(asString(cursor->key()));
    }
    return w;
}

// Tallies, so a run that checks nothing fails.
struct Tally {
    size_t indexes = 0, entries = 0, keysCompared = 0, keysUnencodable = 0;
    size_t legacyTextKeys = 0, general2010TextKeys = 0;
    size_t lookups = 0, lookupsUnsupported = 0, lookupsUnverified = 0, rowsMatched = 0;
};

// Checks the whole walk of one index against the scan; returns the walk.
Walk checkWalk(Database& db, const TableDef& table, const RealIndex& index, const IndexedRows& scan,
               const std::string& where, Tally& tally) {
    Walk w = walk(db, table, index, KeyRange::all(), true);
    EXPECT_FALSE(w.error) << where << ": " << w.error->message();
    ++tally.indexes;
    tally.entries += w.rows.size();

    std::set<RowId> seen;
    for (size_t i = 0; i < w.rows.size(); ++i) {
        RowId id = w.rows[i];
        EXPECT_TRUE(seen.insert(id).second) << where << ": row " << id << " listed twice";
        const std::vector<Cell>* cells = scan.find(id);
        if (!cells) {
            ADD_FAILURE() << where << ": entry for row " << id << ", which is not a live row";
            continue;
        }
        auto key = encodeIndexKey(db, table, index, valuesOf(*cells));
        if (key.ok()) {
            ++tally.keysCompared;
            EXPECT_EQ(hex(w.keys[i]), hex(*key)) << where << ": stored key of row " << id;
            for (const Column* c : scan.columns) {
                if (c->type != ColumnType::Text && c->type != ColumnType::Memo) continue;
                (textCollation(db, *c) == TextCollation::GeneralLegacy
                     ? tally.legacyTextKeys
                     : tally.general2010TextKeys)++;
            }
        } else {
            ++tally.keysUnencodable;
            EXPECT_EQ(key.error().code(), Errc::Unsupported)
                << where << ": " << key.error().message();
        }
        // Consecutive entries in column order, each column in its direction.
        if (i == 0) continue;
        const std::vector<Cell>* prev = scan.find(w.rows[i - 1]);
        if (!prev) continue;
        for (size_t c = 0; c < scan.columns.size(); ++c) {
            int cmp = compareCells(*scan.columns[c], (*prev)[c], (*cells)[c]);
            if (cmp == kIncomparable) break;
            if (!scan.ascending[c]) cmp = -cmp;
            EXPECT_LE(cmp, 0) << where << ": rows " << w.rows[i - 1] << " and " << id
                              << " out of order in column " << scan.columns[c]->name;
            if (cmp != 0) break;
        }
    }
    for (const auto& [id, values] : scan.rows) {
        if (seen.count(id)) continue;
        bool omitted = index.ignoreNulls() && allNull(values);
        EXPECT_TRUE(omitted) << where << ": live row " << id << " missing from the index";
    }
    return w;
}

struct CellBound {
    Cell cell;
    bool inclusive;
};

// Does a row satisfy the range that columnRange() built from these parts?
// Absent when a value of the row cannot be compared.
std::optional<bool> matches(const IndexedRows& scan, const std::vector<Cell>& row,
                            const std::vector<Cell>& equal, const std::optional<CellBound>& lower,
                            const std::optional<CellBound>& upper) {
    bool result = true;
    for (size_t i = 0; i < equal.size(); ++i) {
        int c = compareCells(*scan.columns[i], row[i], equal[i]);
        if (c == kIncomparable) return std::nullopt;
        result = result && c == 0;
    }
    const size_t k = equal.size();
    if (lower) {
        int c = compareCells(*scan.columns[k], row[k], lower->cell);
        if (c == kIncomparable) return std::nullopt;
        result = result && (c > 0 || (c == 0 && lower->inclusive));
    }
    if (upper) {
        int c = compareCells(*scan.columns[k], row[k], upper->cell);
        if (c == kIncomparable) return std::nullopt;
        result = result && (c < 0 || (c == 0 && upper->inclusive));
    }
    return result;
}

// Values to look up in one column: taken from rows spread over the index,
// neighbours that may be absent, and Null.
std::vector<Value> probeValues(const Column& column, const std::vector<Value>& taken) {
    std::vector<Value> out{Value::null()};
    for (const Value& v : taken) {
        if (v.isNull()) continue;
        out.push_back(v);
        switch (v.kind()) {
            case Value::Kind::Integer:
                out.push_back(Value::integer(v.asInt() + 1));
                out.push_back(Value::integer(v.asInt() - 1));
                break;
            case Value::Kind::DateTime:
                out.push_back(Value::dateTime(v.asDouble() + 0.5));
                break;
            case Value::Kind::Double:
                out.push_back(Value::real(v.asDouble() + 0.5));
                break;
            case Value::Kind::Text:
                out.push_back(Value::text(v.bytes() + "0"));
                if (!v.bytes().empty()) out.push_back(Value::text(v.bytes().substr(0, 1)));
                break;
            default:
                break;
        }
    }
    // A Byte column holds 0-255 only.
    if (column.type == ColumnType::Byte)
        std::erase_if(
            out, [](const Value& v) { return !v.isNull() && (v.asInt() < 0 || v.asInt() > 255); });
    return out;
}

void checkLookups(Database& db, const TableDef& table, const RealIndex& index,
                  const IndexedRows& scan, const Walk& full, const std::string& where,
                  Tally& tally) {
    if (full.rows.empty()) return;
    std::unordered_map<RowId, size_t> position;
    for (size_t i = 0; i < full.rows.size(); ++i) position[full.rows[i]] = i;
    const size_t n = full.rows.size();
    const std::vector<size_t> spread = {0, n / 4, n / 2, (3 * n) / 4, n - 1};

    for (size_t depth = 0; depth < index.columns.size(); ++depth) {
        const Column& column = *scan.columns[depth];
        std::vector<Value> taken;
        for (size_t p : spread) taken.push_back(scan.at(full.rows[p])[depth].value);
        std::vector<Value> probes = probeValues(column, taken);

        // Equality on the leading columns is taken from sample rows; with
        // no leading column one pass suffices.
        std::vector<size_t> samples =
            depth == 0 ? std::vector<size_t>{0} : std::vector<size_t>{0, n / 2, n - 1};
        for (size_t p : samples) {
            const std::vector<Cell>& sample = scan.at(full.rows[p]);
            const std::vector<Cell> equal(sample.begin(),
                                          sample.begin() + static_cast<ptrdiff_t>(depth));

            struct Shape {
                std::optional<ValueBound> lower, upper;
                bool equality;
            };
            std::vector<Shape> shapes;
            for (const Value& v : probes) {
                shapes.push_back({ValueBound{v, true}, std::nullopt, true});
                shapes.push_back({ValueBound{v, true}, std::nullopt, false});
                shapes.push_back({ValueBound{v, false}, std::nullopt, false});
                shapes.push_back({std::nullopt, ValueBound{v, true}, false});
                shapes.push_back({std::nullopt, ValueBound{v, false}, false});
            }
            for (size_t a = 1; a + 1 < probes.size(); a += 2)
                shapes.push_back(
                    {ValueBound{probes[a], true}, ValueBound{probes[a + 1], false}, false});

            for (const Shape& s : shapes) {
                std::vector<Value> eq = valuesOf(equal);
                std::vector<Cell> eqCells = equal;
                std::optional<CellBound> lower, upper;
                KeyRange range;
                if (s.equality) {
                    eq.push_back(s.lower->value);
                    eqCells.push_back(cellOf(db, column, s.lower->value));
                    range = KeyRange::equal(eq);
                } else {
                    if (s.lower)
                        lower = CellBound{cellOf(db, column, s.lower->value), s.lower->inclusive};
                    if (s.upper)
                        upper = CellBound{cellOf(db, column, s.upper->value), s.upper->inclusive};
                    auto r = columnRange(index, eq, s.lower, s.upper);
                    ASSERT_TRUE(r.ok()) << where << ": " << r.error().message();
                    range = *r;
                }
                Walk got = walk(db, table, index, range);
                ++tally.lookups;
                if (got.error && got.error->code() == Errc::Unsupported) {
                    ++tally.lookupsUnsupported;
                    continue;
                }
                ASSERT_FALSE(got.error) << where << ": " << got.error->message();

                std::vector<RowId> expected;
                bool comparable = true;
                for (const auto& [id, cells] : scan.rows) {
                    if (index.ignoreNulls() && allNull(cells)) continue;
                    std::optional<bool> m = matches(scan, cells, eqCells, lower, upper);
                    if (!m) {
                        comparable = false;
                        break;
                    }
                    if (*m) expected.push_back(id);
                }
                if (!comparable) {
                    ++tally.lookupsUnverified;
                    continue;
                }
                // Same rows as the scan (which runs in row id order), and in
                // the order of the full walk.
                tally.rowsMatched += expected.size();
                for (size_t i = 1; i < got.rows.size(); ++i)
                    ASSERT_LT(position.at(got.rows[i - 1]), position.at(got.rows[i]))
                        << where << ": lookup out of index order";
                std::vector<RowId> sorted = got.rows;
                std::sort(sorted.begin(), sorted.end());
                ASSERT_EQ(sorted, expected)
                    << where << ": " << depth << " equal, " << (s.equality ? "equality" : "range")
                    << (lower ? " with lower" : "") << (upper ? " with upper" : "");
            }
        }
    }
}

// Every index of every table in one file.
void checkFile(const fs::path& path, Tally& tally, bool lookups) {
    auto opened = Database::open(path.string());
    if (!opened.ok()) return;  // encrypted or unreadable: covered by the reader's own tests
    Database& db = **opened;
    for (const CatalogObject& o : db.catalog().objects) {
        if (o.kind != ObjectKind::UserTable && o.kind != ObjectKind::SystemTable) continue;
        auto table = db.table(o.name);
        if (!table.ok()) continue;
        for (size_t i = 0; i < (*table)->realIndexes.size(); ++i) {
            const RealIndex& index = (*table)->realIndexes[i];
            IndexedRows scan = scanForIndex(db, *table, index);
            if (scan.scanFailed) continue;  // no reliable expectation
            std::string where =
                path.filename().string() + " " + o.name + " index " + std::to_string(i);
            Walk full = checkWalk(db, **table, index, scan, where, tally);
            if (lookups && !full.error) checkLookups(db, **table, index, scan, full, where, tally);
        }
    }
}

std::vector<fs::path> corpusFiles() {
    std::vector<fs::path> files;
    fs::path root = corpusRoot() / "files";
    if (!fs::is_directory(root)) return files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".mdb" || ext == ".accdb" || ext == ".mde"))
            files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(IndexReader, CorpusIndexesMatchScans) {
    std::vector<fs::path> files = corpusFiles();
    if (files.empty())
        GTEST_SKIP() << "corpus not found at " << corpusRoot() << " (set TABULARY_CORPUS)";
    Tally tally;
    for (const fs::path& f : files) {
        SCOPED_TRACE(f.string());
        checkFile(f, tally, true);
        if (HasFatalFailure()) return;
    }
    // Guards against a vacuous pass: the corpus has hundreds of indexes,
    // text keys in both General orders, and lookups with results.
    EXPECT_GT(tally.indexes, 1000u);
    EXPECT_GT(tally.keysCompared, 10000u);
    EXPECT_GT(tally.legacyTextKeys, 1000u);
    EXPECT_GT(tally.general2010TextKeys, 100u);
    EXPECT_GT(tally.lookups - tally.lookupsUnsupported - tally.lookupsUnverified, 10000u);
    EXPECT_GT(tally.rowsMatched, 100000u);
    std::printf(
        "[ corpus   ] %zu indexes, %zu entries, %zu keys compared (%zu not encodable), "
        "%zu lookups (%zu unsupported, %zu not comparable), %zu rows matched\n",
        tally.indexes, tally.entries, tally.keysCompared, tally.keysUnencodable, tally.lookups,
        tally.lookupsUnsupported, tally.lookupsUnverified, tally.rowsMatched);
}

// ---- Damaged index pages ---------------------------------------------------

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

void putU32(std::vector<uint8_t>& image, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        image[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t getU32(const std::vector<uint8_t>& image, size_t at) {
    return u32At(image.data() + at);
}

// A hostile tree must end in an error, never in a loop or a read outside
// the page.
TEST(IndexReader, DamagedTreesFailCleanly) {
    fs::path path = corpusRoot() / "files/jackcess/V2000/compIndexTestV2000.mdb";
    if (!fs::exists(path)) GTEST_SKIP() << "corpus file not found: " << path;
    const std::vector<uint8_t> original = readFile(path);
    constexpr size_t kPage = 4096;

    uint32_t root = 0, tdef = 0, firstLeaf = 0;
    size_t rows = 0;
    {
        auto db = Database::open(path.string());
        ASSERT_TRUE(db.ok());
        ASSERT_EQ((*db)->header().encoding, PageEncoding::None);
        auto table = (*db)->table("Table1");
        ASSERT_TRUE(table.ok());
        ASSERT_FALSE((*table)->realIndexes.empty());
        root = (*table)->realIndexes[0].rootPage;
        tdef = (*table)->tdefPage;
        ASSERT_EQ(original[size_t{root} * kPage], 0x03) << "expected a multi-level index";
        Walk w = walk(**db, **table, (*table)->realIndexes[0], KeyRange::all());
        ASSERT_FALSE(w.error);
        rows = w.rows.size();
        // The root's first child, followed down to the first leaf.
        uint32_t page = root;
        for (int depth = 0; depth < 8 && original[size_t{page} * kPage] == 0x03; ++depth) {
            size_t e = size_t{page} * kPage + 0x1E0;
            size_t end = e;
            for (size_t k = 1; k < 453 * 8; ++k)
                if (original[size_t{page} * kPage + 0x1B + k / 8] & (1u << (k % 8))) {
                    end = e + k;
                    break;
                }
            page = (uint32_t{original[end - 4]} << 24) | (uint32_t{original[end - 3]} << 16) |
                   (uint32_t{original[end - 2]} << 8) | original[end - 1];
        }
        firstLeaf = page;
        ASSERT_EQ(original[size_t{firstLeaf} * kPage], 0x04);
        ASSERT_NE(getU32(original, size_t{firstLeaf} * kPage + 0x10), 0u);
    }
    ASSERT_GT(rows, 100u);

    struct Case {
        const char* what;
        void (*damage)(std::vector<uint8_t>& image, size_t root, size_t leaf, uint32_t tdef);
    };
    const Case cases[] = {
        {"root is a data page",
         [](std::vector<uint8_t>& img, size_t r, size_t, uint32_t) { img[r * kPage] = 0x01; }},
        {"root owned by another table", [](std::vector<uint8_t>& img, size_t r, size_t,
                                           uint32_t t) { putU32(img, r * kPage + 4, t + 1); }},
        {"leaf links to itself",
         [](std::vector<uint8_t>& img, size_t, size_t l, uint32_t) {
             putU32(img, l * kPage + 0x10, static_cast<uint32_t>(l));
         }},
        {"leaf links outside the file",
         [](std::vector<uint8_t>& img, size_t, size_t l, uint32_t) {
             putU32(img, l * kPage + 0x10, 0x00FFFFFF);
         }},
        {"leaf links back to the root",
         [](std::vector<uint8_t>& img, size_t r, size_t l, uint32_t) {
             putU32(img, l * kPage + 0x10, static_cast<uint32_t>(r));
         }},
        {"child points to the root",
         [](std::vector<uint8_t>& img, size_t r, size_t, uint32_t) {
             size_t e = r * kPage + 0x1E0;
             for (size_t k = 1; k < 453 * 8; ++k)
                 if (img[r * kPage + 0x1B + k / 8] & (1u << (k % 8))) {
                     size_t end = e + k;
                     img[end - 4] = static_cast<uint8_t>(r >> 24);
                     img[end - 3] = static_cast<uint8_t>(r >> 16);
                     img[end - 2] = static_cast<uint8_t>(r >> 8);
                     img[end - 1] = static_cast<uint8_t>(r);
                     break;
                 }
         }},
        {"prefix longer than the first entry",
         [](std::vector<uint8_t>& img, size_t, size_t l, uint32_t) {
             img[l * kPage + 0x18] = 0xFF;
             img[l * kPage + 0x19] = 0x0F;
         }},
        {"empty leaf links to itself",
         [](std::vector<uint8_t>& img, size_t, size_t l, uint32_t) {
             std::fill(img.begin() + l * kPage + 0x1B, img.begin() + l * kPage + 0x1E0, 0x00);
             putU32(img, l * kPage + 0x10, static_cast<uint32_t>(l));
         }},
        {"every bitmap bit set",
         [](std::vector<uint8_t>& img, size_t, size_t l, uint32_t) {
             std::fill(img.begin() + l * kPage + 0x1B, img.begin() + l * kPage + 0x1E0, 0xFF);
         }},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> image = original;
        c.damage(image, root, firstLeaf, tdef);
        auto db = Database::openMemory(std::move(image));
        ASSERT_TRUE(db.ok()) << c.what;
        auto table = (*db)->table("Table1");
        ASSERT_TRUE(table.ok()) << c.what;
        Walk w = walk(**db, **table, (*table)->realIndexes[0], KeyRange::all());
        ASSERT_TRUE(w.error) << c.what << ": walk ended normally with " << w.rows.size() << " rows";
        EXPECT_EQ(w.error->code(), Errc::Corrupt) << c.what << ": " << w.error->message();
        EXPECT_LE(w.rows.size(), rows) << c.what;
    }
}

// ---- Large files (TABULARY_BENCH = folder of big250k.mdb / big1m.accdb) -----

TEST(IndexReader, BenchIndexesMatchScans) {
    const char* env = std::getenv("TABULARY_BENCH");
    if (!env || !*env) GTEST_SKIP() << "set TABULARY_BENCH to the benchmark folder to run";
    for (const char* name : {"big250k.mdb", "big1m.accdb"}) {
        fs::path path = fs::path(env) / name;
        if (!fs::exists(path)) continue;
        SCOPED_TRACE(path.string());
        auto opened = Database::open(path.string());
        ASSERT_TRUE(opened.ok()) << opened.error().message();
        Database& db = **opened;
        auto table = db.table("Big");
        ASSERT_TRUE(table.ok());
        Tally tally;
        for (const Index& logical : (*table)->indexes) {
            const RealIndex& index = (*table)->realIndexes.at(logical.realIndex);
            IndexedRows scan = scanForIndex(db, *table, index);
            ASSERT_FALSE(scan.scanFailed);
            std::string where = std::string(name) + " " + logical.name;
            Walk full = checkWalk(db, **table, index, scan, where, tally);
            ASSERT_FALSE(full.error);
            EXPECT_EQ(full.rows.size(), scan.rows.size()) << where;
            checkLookups(db, **table, index, scan, full, where, tally);
            ASSERT_FALSE(HasFatalFailure());

            // Single-key lookups of rows spread over the index; only the
            // lookups are timed.
            const size_t n = full.rows.size();
            double micros = 0;
            size_t lookups = 0, pages = 0;
            for (size_t i = 0; i < n; i += n / 97 + 1) {
                const Cell& probe = scan.at(full.rows[i])[0];
                auto start = std::chrono::steady_clock::now();
                auto cursor = IndexCursor::open(db, **table, index, KeyRange::equal({probe.value}));
                if (!cursor.ok() && cursor.error().code() == Errc::Unsupported) continue;
                ASSERT_TRUE(cursor.ok()) << where << ": " << cursor.error().message();
                std::vector<RowId> got;
                for (;;) {
                    auto r = cursor->next();
                    ASSERT_TRUE(r.ok()) << where << ": " << r.error().message();
                    if (!*r) break;
                    got.push_back(cursor->rowId());
                }
                micros += std::chrono::duration<double, std::micro>(
                              std::chrono::steady_clock::now() - start)
                              .count();
                pages += cursor->pagesRead();
                ++lookups;
                size_t expected = 0;
                for (const auto& [id, cells] : scan.rows)
                    expected += compareCells(*scan.columns[0], cells[0], probe) == 0;
                EXPECT_EQ(got.size(), expected) << where;
                EXPECT_NE(std::find(got.begin(), got.end(), full.rows[i]), got.end()) << where;
            }
            std::printf(
                "[ bench    ] %s: %zu entries; %zu equality lookups, %.1f us and %.1f "
                "index pages each on average\n",
                where.c_str(), n, lookups, lookups ? micros / double(lookups) : 0.0,
                lookups ? double(pages) / double(lookups) : 0.0);
            EXPECT_GT(lookups, 50u);
        }
    }
}

}  // namespace
}  // namespace tab::jet
