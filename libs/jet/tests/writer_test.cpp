// The writer against our own reader and checker: every type and size class
// read back exactly, indexes that agree with the rows, Access's layout of the
// system tables, and input that must be rejected without leaving a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>

#include <unistd.h>

#include "../src/write/page_file.h"
#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/index_reader.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/jet/writer.h"
#include "test_corpus.h"

namespace fs = std::filesystem;
using namespace tab;
using namespace tab::jet;

namespace {

class TempDir {
public:
    TempDir() {
        static int n = 0;
        m_path = fs::temp_directory_path() /
                 ("tabulary-writer-" + std::to_string(::getpid()) + "-" + std::to_string(n++));
        fs::create_directories(m_path);
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string file(const std::string& name) const { return (m_path / name).string(); }
    size_t entries() const {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(m_path), fs::directory_iterator()));
    }

private:
    fs::path m_path;
};

ColumnSpec col(const std::string& name, ColumnType type, uint32_t size = 255) {
    ColumnSpec c;
    c.name = name;
    c.type = type;
    c.size = size;
    return c;
}

IndexSpec idx(const std::string& name, std::vector<IndexColumnSpec> columns, bool unique = false) {
    IndexSpec ix;
    ix.name = name;
    ix.columns = std::move(columns);
    ix.unique = unique;
    return ix;
}

Decimal dec(int64_t unscaled, uint8_t scale) {
    Decimal d;
    d.negative = unscaled < 0;
    d.lo = static_cast<uint64_t>(unscaled < 0 ? -unscaled : unscaled);
    d.scale = scale;
    return d;
}

std::string guidBytes(uint8_t seed) {
    std::string g(16, '\0');
    for (int i = 0; i < 16; ++i) g[static_cast<size_t>(i)] = static_cast<char>(seed * 17 + i);
    return g;
}

// Text of `n` characters cycling through `alphabet` (UTF-8 code points).
std::string repeatText(const std::vector<std::string>& alphabet, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += alphabet[i % alphabet.size()];
    return s;
}

std::vector<std::vector<Value>> readAll(Database& db, const std::string& table) {
    auto t = db.table(table);
    EXPECT_TRUE(t.ok()) << (t.ok() ? "" : t.error().message());
    std::vector<std::vector<Value>> rows;
    if (!t.ok()) return rows;
    TableCursor c(db, *t);
    while (true) {
        auto more = c.next();
        EXPECT_TRUE(more.ok()) << (more.ok() ? "" : more.error().message());
        if (!more.ok() || !*more) break;
        rows.push_back(c.values());
    }
    return rows;
}

// Every problem the checker reports, one per line; empty when the file is clean.
std::string problems(Database& db) {
    std::string out;
    for (const auto& p : checkDatabase(db).problems) out += p.message + "\n";
    return out;
}

std::unique_ptr<Database> openOrFail(const std::string& path, const OpenOptions& o = {}) {
    auto db = Database::open(path, o);
    EXPECT_TRUE(db.ok()) << (db.ok() ? "" : db.error().message());
    return db.ok() ? std::move(*db) : nullptr;
}

}  // namespace

// One table with a column of every type we create, rows of extreme and Null
// values and long values in every storage class; read back value by value.
// Both formats the writer makes; ACE differs in header and in decimal keys.
const std::pair<FileFormat, const char*> kFormats[] = {{FileFormat::Jet4, "jet4.mdb"},
                                                       {FileFormat::Ace12, "ace12.accdb"}};

CreateOptions formatOptions(FileFormat format) {
    CreateOptions o;
    o.format = format;
    return o;
}

TEST(Writer, EveryTypeRoundTrips) {
    for (const auto& [format, name] : kFormats) {
        SCOPED_TRACE(name);
        TempDir dir;
        std::string path = dir.file(name);
        TableSpec spec{
            "Types",
            {col("Id", ColumnType::Long), col("Flag", ColumnType::Boolean),
             col("B", ColumnType::Byte), col("I", ColumnType::Integer), col("L", ColumnType::Long),
             col("C", ColumnType::Currency), col("S", ColumnType::Single),
             col("D", ColumnType::Double), col("T", ColumnType::DateTime),
             col("Txt", ColumnType::Text, 40), col("M", ColumnType::Memo),
             col("O", ColumnType::Ole), col("G", ColumnType::Guid), col("N", ColumnType::Decimal)},
            {}};
        spec.columns[0].autoNumber = true;
        spec.columns.back().precision = 20;
        spec.columns.back().scale = 4;
        std::vector<std::vector<Value>> rows = {
            {Value::null(), Value::boolean(true), Value::integer(0), Value::integer(-32768),
             Value::integer(INT32_MIN), Value::currency(-922337203685477580), Value::single(-1.5f),
             Value::real(-1e300), Value::dateTime(-657434.0), Value::text(""), Value::text(""),
             Value::binary(""), Value::guid(guidBytes(1)),
             Value::decimal(dec(-1234567890123456, 4))},
            {Value::null(), Value::boolean(false), Value::integer(255), Value::integer(32767),
             Value::integer(INT32_MAX), Value::currency(922337203685477580), Value::single(3.4e38f),
             Value::real(5e-324), Value::dateTime(2958465.999988426),
             Value::text("Zoë Ελένη Жанна 東京 😀"), Value::text(std::string(64, 'm')),
             Value::binary(std::string(1, '\0')), Value::guid(guidBytes(2)),
             Value::decimal(dec(0, 4))},
            // Long values just past each boundary: inline, one LVAL row, one and several chained
            // pages.
            {Value::null(), Value::boolean(true), Value::null(), Value::null(), Value::null(),
             Value::null(), Value::null(), Value::null(), Value::null(), Value::null(),
             Value::text(std::string(65, 'x')), Value::binary(std::string(4076, '\x7f')),
             Value::null(), Value::null()},
            {Value::null(), Value::boolean(false), Value::null(), Value::null(), Value::null(),
             Value::null(), Value::null(), Value::null(), Value::null(),
             Value::text(repeatText({"a", "é", "ß"}, 40)),
             Value::text(repeatText({"Ω", "ж", "ü", " "}, 4077)),
             Value::binary(std::string(4077, '\x01')), Value::null(), Value::null()},
            {Value::null(), Value::boolean(true), Value::null(), Value::null(), Value::null(),
             Value::null(), Value::null(), Value::null(), Value::null(), Value::null(),
             Value::text(repeatText({"x", "y", "z"}, 9000)),
             Value::binary(std::string(3 * 4072 + 1, '\xfe')), Value::null(), Value::null()},
        };
        {
            auto w = DatabaseWriter::create(path, formatOptions(format));
            ASSERT_TRUE(w.ok()) << w.error().message();
            auto t = (*w)->addTable(spec);
            ASSERT_TRUE(t.ok()) << t.error().message();
            for (auto& r : rows) ASSERT_TRUE((*w)->appendRow(*t, r).ok());
            ASSERT_TRUE((*w)->finish().ok());
        }
        auto db = openOrFail(path);
        ASSERT_TRUE(db);
        auto back = readAll(*db, "Types");
        ASSERT_EQ(back.size(), rows.size());
        for (size_t r = 0; r < rows.size(); ++r) {
            rows[r][0] = Value::integer(static_cast<int64_t>(r + 1));  // numbered by the counter
            for (size_t c = 0; c < rows[r].size(); ++c) {
                Value want = rows[r][c];
                EXPECT_EQ(valueToText(back[r][c]), valueToText(want))
                    << "row " << r << " column " << spec.columns[c].name;
                EXPECT_TRUE(back[r][c] == want)
                    << "row " << r << " column " << spec.columns[c].name;
            }
        }
        auto def = db->table("Types");
        ASSERT_TRUE(def.ok());
        EXPECT_EQ((*def)->rowCount, rows.size());
        EXPECT_EQ((*def)->lastAutoNumber, rows.size());
        EXPECT_EQ(problems(*db), "");
        EXPECT_EQ(format == FileFormat::Ace12, db->format().isAce());
    }
}

// Thousands of rows over many pages with indexes of every shape: the checker
// compares each tree with the rows, and index order must match a sort of the
// values themselves.
TEST(Writer, IndexesAgreeWithRowsOverManyPages) {
    for (const auto& [format, fileName] : kFormats) {
        SCOPED_TRACE(fileName);
        TempDir dir;
        std::string path = dir.file(fileName);
        TableSpec spec{"Orders",
                       {col("OrderID", ColumnType::Long), col("Customer", ColumnType::Text, 60),
                        col("Placed", ColumnType::DateTime), col("Total", ColumnType::Currency),
                        col("Weight", ColumnType::Double), col("Qty", ColumnType::Integer),
                        col("Shipped", ColumnType::Boolean), col("Note", ColumnType::Memo),
                        col("Code", ColumnType::Guid), col("Ratio", ColumnType::Decimal)},
                       {}};
        spec.columns[0].autoNumber = true;
        spec.columns.back().precision = 12;
        spec.columns.back().scale = 3;
        IndexSpec pk = idx("PrimaryKey", {{"OrderID", true}});
        pk.primaryKey = true;
        IndexSpec sparse = idx("Weight", {{"Weight", true}});
        sparse.ignoreNulls = true;
        spec.indexes = {pk,
                        idx("Customer", {{"Customer", true}}),
                        idx("CustomerPlaced", {{"Customer", true}, {"Placed", false}}),
                        idx("TotalDesc", {{"Total", false}}),
                        sparse,
                        idx("QtyShipped", {{"Qty", true}, {"Shipped", true}}),
                        idx("Code", {{"Code", true}}, true),
                        idx("Ratio", {{"Ratio", false}}),
                        idx("Note", {{"Note", true}})};
        const std::vector<std::string> names = {"Ågren",  "Bäcker",  "café",   "Café",
                                                "O'Neil", "naïve-x", "Zürich", "zebra",
                                                "  lead", "trail  ", "",       "Øre"};
        const int kRows = 12000;
        std::mt19937 rng(7);
        {
            auto w = DatabaseWriter::create(path, formatOptions(format));
            ASSERT_TRUE(w.ok());
            auto t = (*w)->addTable(spec);
            ASSERT_TRUE(t.ok()) << t.error().message();
            for (int i = 0; i < kRows; ++i) {
                std::string name = names[rng() % names.size()] + std::to_string(rng() % 50);
                std::vector<Value> row = {
                    Value::null(),
                    i % 97 == 0 ? Value::null() : Value::text(name),
                    Value::dateTime(40000 + (rng() % 2000) + (rng() % 86400) / 86400.0),
                    Value::currency(static_cast<int64_t>(rng() % 2000000) - 1000000),
                    i % 5 == 0 ? Value::null()
                               : Value::real((static_cast<double>(rng() % 100000) - 50000) / 7.0),
                    Value::integer(static_cast<int64_t>(rng() % 200) - 100),
                    Value::boolean(rng() % 2),
                    i % 3 == 0 ? Value::null()
                               : Value::text(repeatText({"n", "o", "t", "e"}, 10 + rng() % 300)),
                    Value::guid(guidBytes(static_cast<uint8_t>(i)) + std::string()),
                    Value::decimal(dec(static_cast<int64_t>(rng() % 2000000) - 1000000, 3)),
                };
                std::string g = row[8].bytes();
                g[0] = static_cast<char>(i & 0xFF);
                g[1] = static_cast<char>((i >> 8) & 0xFF);
                row[8] = Value::guid(g);
                auto st = (*w)->appendRow(*t, row);
                ASSERT_TRUE(st.ok()) << i << ": " << st.error().message();
            }
            ASSERT_TRUE((*w)->finish().ok());
        }
        auto db = openOrFail(path);
        ASSERT_TRUE(db);
        EXPECT_EQ(problems(*db), "");
        auto def = db->table("Orders");
        ASSERT_TRUE(def.ok());
        EXPECT_EQ((*def)->rowCount, static_cast<uint32_t>(kRows));
        // Rows by id, then each index walked: its order must be the order of the
        // keys encoded from the rows.
        std::map<RowId, std::vector<Value>> byId;
        {
            TableCursor c(*db, *def);
            while (*c.next()) byId[c.rowId()] = c.values();
        }
        ASSERT_EQ(byId.size(), static_cast<size_t>(kRows));
        for (const auto& ix : (*def)->indexes) {
            const RealIndex& ri = (*def)->realIndexes[ix.realIndex];
            auto cur = IndexCursor::open(*db, **def, ri);
            ASSERT_TRUE(cur.ok()) << ix.name;
            std::string previous;
            size_t n = 0;
            while (true) {
                auto more = cur->next();
                ASSERT_TRUE(more.ok()) << ix.name << ": " << more.error().message();
                if (!*more) break;
                ++n;
                std::string key(cur->key().begin(), cur->key().end());
                EXPECT_LE(previous, key) << ix.name;
                previous = key;
                ASSERT_TRUE(byId.count(cur->rowId())) << ix.name;
                std::vector<Value> vals;
                for (const auto& ic : ri.columns) {
                    int pos = 0;
                    while ((*def)->columns[static_cast<size_t>(pos)].number != ic.columnNumber)
                        ++pos;
                    vals.push_back(byId[cur->rowId()][static_cast<size_t>(pos)]);
                }
                auto expect = encodeIndexKey(*db, **def, ri, vals);
                ASSERT_TRUE(expect.ok());
                EXPECT_EQ(*expect, key) << ix.name;
            }
            size_t expected =
                ix.name == "Weight" ? static_cast<size_t>(kRows - (kRows + 4) / 5) : kRows;
            EXPECT_EQ(n, expected) << ix.name;
        }
        // Lookups through the primary key find exactly their row.
        for (int id : {1, 2, 777, kRows}) {
            auto range = KeyRange::equal({Value::integer(id)});
            auto cur = IndexCursor::open(*db, **def,
                                         (*def)->realIndexes[(*def)->indexes[0].realIndex], range);
            ASSERT_TRUE(cur.ok());
            ASSERT_TRUE(*cur->next());
            EXPECT_EQ(byId[cur->rowId()][0].asInt(), id);
            EXPECT_FALSE(*cur->next());
        }
    }
}

// The system tables have the columns, storage and indexes of Access's own
// empty databases, and the catalogue holds the objects Access creates. A file
// made by the Jet engine alone (ADOX) has only the engine's part of them.
TEST(Writer, EmptyDatabaseMatchesAccessLayout) {
    const std::vector<std::string> jet = {"MSysObjects", "MSysACEs", "MSysQueries",
                                          "MSysRelationships"};
    std::vector<std::string> access = jet;
    access.push_back("MSysAccessObjects");
    struct Case {
        const char* file;
        std::vector<std::string> tables;  // compared column by column
        bool sameSids;                    // security ids differ from file to file
        std::set<std::string> missing;    // catalogue rows the reference has and we do not
        std::set<std::string> extra;      // rows we have and the reference does not
    };
    const std::vector<Case> cases = {
        {"files/jackcess/templates/empty.mdb", access, true, {"AccessLayout"}, {}},
        // Made by a later Access: its navigation pane tables instead of the project table.
        {"files/jackcess/templates/empty2003.mdb",
         jet,
         false,
         {"AccessLayout", "MSysNavPaneGroupCategories", "MSysNavPaneGroups",
          "MSysNavPaneGroupToObjects", "MSysNavPaneObjectIDs", "MSysAccessStorage"},
         {"MSysAccessObjects"}},
        {"files/jackcess/adox_jet4.mdb",
         jet,
         false,
         {},
         {"MSysAccessObjects", "DataAccessPages", "Forms", "Modules", "Reports", "Scripts",
          "SysRel", "SummaryInfo", "UserDefined"}},
    };
    if (!fs::exists(corpusRoot() / cases[0].file)) GTEST_SKIP() << "corpus not present";
    TempDir dir;
    std::string path = dir.file("empty.mdb");
    {
        auto w = DatabaseWriter::create(path);
        ASSERT_TRUE(w.ok());
        ASSERT_TRUE((*w)->finish().ok());
    }
    auto ours = openOrFail(path);
    ASSERT_TRUE(ours);
    EXPECT_EQ(problems(*ours), "");
    EXPECT_EQ(ours->header().storedPassword, "");
    for (const Case& k : cases) {
        SCOPED_TRACE(k.file);
        auto theirs = openOrFail((corpusRoot() / k.file).string());
        ASSERT_TRUE(theirs);
        EXPECT_EQ(ours->header().version, theirs->header().version);
        EXPECT_EQ(ours->header().codePage, theirs->header().codePage);
        EXPECT_EQ(ours->header().sortOrder, theirs->header().sortOrder);
        for (const std::string& tableName : k.tables) {
            const char* name = tableName.c_str();
            auto a = ours->table(name);
            auto b = theirs->table(name);
            ASSERT_TRUE(a.ok() && b.ok()) << name;
            const TableDef& x = **a;
            const TableDef& y = **b;
            EXPECT_EQ(x.tableType, y.tableType) << name;
            EXPECT_EQ(x.maxColumns, y.maxColumns) << name;
            EXPECT_EQ(x.varColumns, y.varColumns) << name;
            ASSERT_EQ(x.columns.size(), y.columns.size()) << name;
            for (size_t i = 0; i < x.columns.size(); ++i) {
                const Column& c = x.columns[i];
                const Column& d = y.columns[i];
                std::string where = std::string(name) + "." + d.name;
                EXPECT_EQ(c.name, d.name) << where;
                EXPECT_EQ(c.storedType, d.storedType) << where;
                EXPECT_EQ(c.number, d.number) << where;
                EXPECT_EQ(c.flags, d.flags) << where;
                EXPECT_EQ(c.length, d.length) << where;
                EXPECT_EQ(c.sortOrder, d.sortOrder) << where;
                if (c.fixed) {
                    EXPECT_EQ(c.fixedOffset, d.fixedOffset) << where;
                } else {
                    EXPECT_EQ(c.varIndex, d.varIndex) << where;
                }
            }
            ASSERT_EQ(x.indexes.size(), y.indexes.size()) << name;
            for (size_t i = 0; i < x.indexes.size(); ++i) {
                const RealIndex& ri = x.realIndexes[x.indexes[i].realIndex];
                const RealIndex& rj = y.realIndexes[y.indexes[i].realIndex];
                std::string where = std::string(name) + " index " + y.indexes[i].name;
                EXPECT_EQ(x.indexes[i].name, y.indexes[i].name) << where;
                EXPECT_EQ(x.indexes[i].indexType, y.indexes[i].indexType) << where;
                EXPECT_EQ(ri.flags, rj.flags) << where;
                ASSERT_EQ(ri.columns.size(), rj.columns.size()) << where;
                for (size_t n = 0; n < ri.columns.size(); ++n) {
                    EXPECT_EQ(ri.columns[n].columnNumber, rj.columns[n].columnNumber) << where;
                    EXPECT_EQ(ri.columns[n].ascending, rj.columns[n].ascending) << where;
                }
            }
        }
        auto catalogue = [](Database& db, bool withOwner) {
            std::set<std::string> rows;
            auto t = db.table("MSysObjects");
            TableCursor c(db, *t);
            int name = (*t)->findColumn("Name"), type = (*t)->findColumn("Type"),
                flags = (*t)->findColumn("Flags"), parent = (*t)->findColumn("ParentId"),
                owner = (*t)->findColumn("Owner");
            while (*c.next()) {
                const auto& v = c.values();
                rows.insert(
                    valueToText(v[static_cast<size_t>(name)]) + " type " +
                    valueToText(v[static_cast<size_t>(type)]) + " flags " +
                    valueToText(v[static_cast<size_t>(flags)]) + " parent " +
                    valueToText(v[static_cast<size_t>(parent)]) +
                    (withOwner ? " owner " + valueToText(v[static_cast<size_t>(owner)]) : ""));
            }
            return rows;
        };
        // Rows that differ in any field show up by name on both sides.
        auto names = [](const std::set<std::string>& rows) {
            std::set<std::string> out;
            for (const auto& r : rows) out.insert(r.substr(0, r.find(" type ")));
            return out;
        };
        std::set<std::string> mine = catalogue(*ours, k.sameSids),
                              ref = catalogue(*theirs, k.sameSids);
        std::set<std::string> missing, extra;
        std::set_difference(ref.begin(), ref.end(), mine.begin(), mine.end(),
                            std::inserter(missing, missing.end()));
        std::set_difference(mine.begin(), mine.end(), ref.begin(), ref.end(),
                            std::inserter(extra, extra.end()));
        EXPECT_EQ(names(missing), k.missing);
        EXPECT_EQ(names(extra), k.extra);
    }
}

TEST(Writer, PasswordIsStoredAndChecked) {
    TempDir dir;
    std::string path = dir.file("secret.mdb");
    CreateOptions o;
    o.password = "Grüß Gott 2026";
    {
        auto w = DatabaseWriter::create(path, o);
        ASSERT_TRUE(w.ok());
        ASSERT_TRUE((*w)->finish().ok());
    }
    auto denied = Database::open(path);
    ASSERT_FALSE(denied.ok());
    EXPECT_EQ(denied.error().code(), Errc::WrongPassword);
    OpenOptions open;
    open.password = o.password;
    auto db = openOrFail(path, open);
    ASSERT_TRUE(db);
    EXPECT_EQ(db->header().storedPassword, o.password);
    CreateOptions tooLong;
    tooLong.password = std::string(21, 'p');
    EXPECT_FALSE(DatabaseWriter::create(dir.file("long.mdb"), tooLong).ok());
    // An .accdb's password is its encryption, not the Jet header field.
    CreateOptions ace = formatOptions(FileFormat::Ace12);
    ace.password = "pw";
    auto refused = DatabaseWriter::create(dir.file("pw.accdb"), ace);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(std::string::npos, refused.error().message().find("encrypt"));
    EXPECT_FALSE(fs::exists(dir.file("pw.accdb")));
}

// Bad definitions and bad rows: a clear error, the good rows kept, and no
// file at all when the writer is abandoned.
TEST(Writer, RejectsBadInputWithoutATrace) {
    TableSpec good{"People",
                   {col("Id", ColumnType::Long), col("Name", ColumnType::Text, 10),
                    col("Born", ColumnType::DateTime), col("Amount", ColumnType::Currency),
                    col("Ratio", ColumnType::Decimal)},
                   {}};
    good.columns[1].required = true;
    good.columns[4].precision = 5;
    good.columns[4].scale = 2;
    IndexSpec pk = idx("PrimaryKey", {{"Id", true}});
    pk.primaryKey = true;
    good.indexes = {pk, idx("Name", {{"Name", true}}, true)};

    struct SpecCase {
        const char* what;
        std::function<void(TableSpec&)> change;
        const char* message;
    };
    const std::vector<SpecCase> specCases = {
        {"dot in a name", [](TableSpec& t) { t.name = "a.b"; }, "character Access does not allow"},
        {"bracket in a column", [](TableSpec& t) { t.columns[0].name = "x[1]"; },
         "character Access does not allow"},
        {"long name", [](TableSpec& t) { t.name = std::string(65, 'n'); }, "longer than 64"},
        {"duplicate column", [](TableSpec& t) { t.columns[1].name = "ID"; }, "appears twice"},
        {"text too wide", [](TableSpec& t) { t.columns[1].size = 256; }, "1 to 255 characters"},
        {"decimal scale", [](TableSpec& t) { t.columns[4].scale = 6; }, "precision"},
        {"two counters",
         [](TableSpec& t) {
             t.columns[0].autoNumber = true;
             t.columns.push_back(col("Other", ColumnType::Long));
             t.columns.back().autoNumber = true;
         },
         "more than one AutoNumber"},
        {"index on a missing column", [](TableSpec& t) { t.indexes[1].columns[0].column = "Nope"; },
         "unknown column"},
        {"two primary keys", [](TableSpec& t) { t.indexes[1].primaryKey = true; },
         "more than one primary key"},
        {"system name", [](TableSpec& t) { t.name = "msysobjects"; }, "already exists"},
        {"no columns", [](TableSpec& t) { t.columns.clear(); }, "1 to 255 columns"},
        {"name beyond Latin-1", [](TableSpec& t) { t.name = "Ζώα"; }, "beyond Latin-1"},
    };
    for (const auto& c : specCases) {
        TempDir dir;
        auto w = DatabaseWriter::create(dir.file("x.mdb"));
        ASSERT_TRUE(w.ok());
        TableSpec t = good;
        c.change(t);
        auto r = (*w)->addTable(t);
        ASSERT_FALSE(r.ok()) << c.what;
        EXPECT_NE(r.error().message().find(c.message), std::string::npos)
            << c.what << ": " << r.error().message();
    }

    struct RowCase {
        const char* what;
        std::vector<Value> row;
        const char* message;
    };
    auto row = [](Value id, Value name, Value born = Value::null(), Value amount = Value::null(),
                  Value ratio = Value::null()) {
        return std::vector<Value>{id, name, born, amount, ratio};
    };
    const std::vector<RowCase> rowCases = {
        {"duplicate key", row(Value::integer(1), Value::text("other")),
         "duplicate value in unique index \"PrimaryKey\""},
        {"duplicate text in another case", row(Value::integer(9), Value::text("FIRST")),
         "unique index \"Name\""},
        {"null key", row(Value::null(), Value::text("x")), "does not allow Null"},
        {"required column", row(Value::integer(5), Value::null()), "is required"},
        {"text too long", row(Value::integer(5), Value::text("eleven char")), "longer than the 10"},
        {"wrong kind", row(Value::text("1"), Value::text("x")), "cannot store text"},
        {"out of range", row(Value::integer(1LL << 40), Value::text("x")), "out of range"},
        {"currency decimals",
         row(Value::integer(6), Value::text("x"), Value::null(), Value::decimal(dec(123456, 5))),
         "at most 4 decimal places"},
        {"decimal digits",
         row(Value::integer(6), Value::text("x"), Value::null(), Value::null(),
             Value::decimal(dec(1000000, 2))),
         "more than 5 digits"},
        {"column count", std::vector<Value>{Value::integer(7)}, "5 columns"},
        {"not indexable", row(Value::integer(8), Value::text("Ωmega")), "cannot be indexed"},
    };
    TempDir dir;
    std::string path = dir.file("people.mdb");
    {
        auto w = DatabaseWriter::create(path);
        ASSERT_TRUE(w.ok());
        auto t = (*w)->addTable(good);
        ASSERT_TRUE(t.ok()) << t.error().message();
        ASSERT_TRUE((*w)->appendRow(*t, row(Value::integer(1), Value::text("first"))).ok());
        for (const auto& c : rowCases) {
            auto st = (*w)->appendRow(*t, c.row);
            ASSERT_FALSE(st.ok()) << c.what;
            EXPECT_NE(st.error().message().find(c.message), std::string::npos)
                << c.what << ": " << st.error().message();
        }
        ASSERT_TRUE((*w)->appendRow(*t, row(Value::integer(2), Value::text("second"))).ok());
        EXPECT_EQ((*w)->rowCount(*t), 2u);
        ASSERT_TRUE((*w)->finish().ok());
    }
    auto db = openOrFail(path);
    ASSERT_TRUE(db);
    EXPECT_EQ(readAll(*db, "People").size(), 2u);
    EXPECT_EQ(problems(*db), "");
    {
        TempDir abandoned;
        {
            auto w = DatabaseWriter::create(abandoned.file("gone.mdb"));
            ASSERT_TRUE(w.ok());
        }
        EXPECT_EQ(abandoned.entries(), 0u);
    }
    {
        // Past 2 GB Access would not open the file: the page is refused, and
        // nothing is left behind.
        TempDir big;
        {
            auto file = write::PageFile::create(big.file("big.mdb"));
            ASSERT_TRUE(file.ok());
            write::PageBuf page{};
            uint32_t n = 0;
            while (n < write::PageFile::kMaxPages) n = (*file)->allocate() + 1;
            EXPECT_TRUE((*file)->write(n - 1, page).ok());
            uint32_t beyond = (*file)->allocate();
            auto st = (*file)->write(beyond, page);
            ASSERT_FALSE(st.ok());
            EXPECT_NE(st.error().message().find("beyond 2 GB"), std::string::npos);
        }
        EXPECT_EQ(big.entries(), 0u);
    }
}

// Damage to a file we wrote is found: the checker is not just silent on our
// own output.
TEST(Writer, CheckerFindsDamageInWrittenFiles) {
    TempDir dir;
    std::string path = dir.file("damaged.mdb");
    TableSpec spec{"Items", {col("Id", ColumnType::Long), col("Label", ColumnType::Text, 20)}, {}};
    IndexSpec pk = idx("PrimaryKey", {{"Id", true}});
    pk.primaryKey = true;
    spec.indexes = {pk};
    {
        auto w = DatabaseWriter::create(path);
        ASSERT_TRUE(w.ok());
        auto t = (*w)->addTable(spec);
        ASSERT_TRUE(t.ok());
        for (int i = 1; i <= 50; ++i)
            ASSERT_TRUE((*w)->appendRow(*t, {{Value::integer(i * 3), Value::text("item")}}).ok());
        ASSERT_TRUE((*w)->finish().ok());
    }
    std::vector<uint8_t> clean = readCorpusBytes(path);
    uint32_t tdef = 0, root = 0;
    {
        auto db = openOrFail(path);
        ASSERT_TRUE(db);
        ASSERT_EQ(problems(*db), "");
        auto t = db->table("Items");
        ASSERT_TRUE(t.ok());
        tdef = (*t)->tdefPage;
        root = (*t)->realIndexes[0].rootPage;
    }
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* message;
        CheckProblem::Severity severity;
    };
    const std::vector<Case> cases = {
        {"row count one too high",
         [&](std::vector<uint8_t>& img) { img[size_t{tdef} * 4096 + 0x10] += 1; },
         "definition records 51 rows", CheckProblem::Severity::Warning},
        // The root is the only leaf: its entries share a prefix and have equal
        // stored lengths, so swapping the second and third keeps the layout valid.
        {"index entries out of order",
         [&](std::vector<uint8_t>& img) {
             size_t base = size_t{root} * 4096;
             size_t prefix = img[base + 0x18] | (img[base + 0x19] << 8);
             size_t first = 5 + 4, stored = first - prefix;
             size_t a = base + 0x1E0 + first, b = a + stored;
             for (size_t k = 0; k < stored; ++k) std::swap(img[a + k], img[b + k]);
         },
         "is not after entry", CheckProblem::Severity::Error},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> img = clean;
        c.damage(img);
        auto db = Database::openMemory(img);
        ASSERT_TRUE(db.ok()) << c.what;
        bool found = false;
        for (const auto& p : checkDatabase(**db).problems)
            found = found ||
                    (p.severity == c.severity && p.message.find(c.message) != std::string::npos);
        EXPECT_TRUE(found) << c.what << "\n" << problems(**db);
    }
}

// 255 columns with long names: the definition spans several pages and the
// rows use most of the row size limit.
TEST(Writer, WideTableSpansDefinitionPages) {
    TempDir dir;
    std::string path = dir.file("wide.mdb");
    TableSpec spec;
    spec.name = "Wide";
    const ColumnType kinds[] = {ColumnType::Long, ColumnType::Text, ColumnType::Double,
                                ColumnType::Boolean, ColumnType::Memo};
    for (int i = 0; i < 255; ++i) {
        ColumnSpec c = col("Column number " + std::to_string(i) + " with a long descriptive name",
                           kinds[i % 5], 12);
        spec.columns.push_back(c);
    }
    spec.indexes = {idx("ByText", {{spec.columns[1].name, true}, {spec.columns[0].name, false}})};
    std::vector<Value> row;
    for (int i = 0; i < 255; ++i) {
        switch (i % 5) {
            case 0:
                row.push_back(Value::integer(i));
                break;
            case 1:
                row.push_back(Value::text("t" + std::to_string(i)));
                break;
            case 2:
                row.push_back(Value::real(i / 4.0));
                break;
            case 3:
                row.push_back(Value::boolean(i % 2));
                break;
            default:
                row.push_back(Value::text(std::string(100, static_cast<char>('a' + i % 26))));
                break;
        }
    }
    {
        auto w = DatabaseWriter::create(path);
        ASSERT_TRUE(w.ok());
        auto t = (*w)->addTable(spec);
        ASSERT_TRUE(t.ok()) << t.error().message();
        for (int r = 0; r < 3; ++r) ASSERT_TRUE((*w)->appendRow(*t, row).ok());
        ASSERT_TRUE((*w)->finish().ok());
    }
    auto db = openOrFail(path);
    ASSERT_TRUE(db);
    auto def = db->table("Wide");
    ASSERT_TRUE(def.ok());
    EXPECT_EQ((*def)->columns.size(), 255u);
    EXPECT_EQ((*def)->columns[254].name, spec.columns[254].name);
    auto rows = readAll(*db, "Wide");
    ASSERT_EQ(rows.size(), 3u);
    for (size_t i = 0; i < row.size(); ++i) EXPECT_TRUE(rows[2][i] == row[i]) << i;
    EXPECT_EQ(problems(*db), "");
}
