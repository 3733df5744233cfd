// Row changes against a model of the rows they should leave: random inserts,
// updates (long values growing and shrinking, keys changing) and deletes,
// with the checker, a full scan and index lookups after every batch; and a
// table of changes each table rule must refuse, leaving the file as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>

#include <unistd.h>

#include "fault_io.h"
#include "tabulary/jet/change.h"
#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/index_reader.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/writer.h"

namespace fs = std::filesystem;
using namespace tab;
using namespace tab::jet;

namespace {

struct Model {
    std::string code;
    int64_t qty = 0;
    std::string name;
    std::optional<std::string> note;
    bool flag = false;
};

ColumnSpec col(const std::string& name, ColumnType type, uint32_t size = 255) {
    ColumnSpec c;
    c.name = name;
    c.type = type;
    c.size = size;
    return c;
}

// Items: ID autonumber key, Code unique, Qty indexed, Name required, Note Memo, Flag.
std::string makeDatabase(const fs::path& dir, int rows) {
    const std::string path = (dir / "items.mdb").string();
    auto w = DatabaseWriter::create(path);
    EXPECT_TRUE(w.ok());
    TableSpec t{"Items", {}, {}};
    ColumnSpec id = col("ID", ColumnType::Long);
    id.autoNumber = true;
    ColumnSpec name = col("Name", ColumnType::Text, 100);
    name.required = true;
    t.columns = {id,   col("Code", ColumnType::Text, 20), col("Qty", ColumnType::Long),
                 name, col("Note", ColumnType::Memo),     col("Flag", ColumnType::Boolean)};
    IndexSpec pk{"PrimaryKey", {{"ID", true}}, true, true, true, false};
    IndexSpec code{"Code", {{"Code", true}}, false, true, false, false};
    IndexSpec qty{"Qty", {{"Qty", false}}, false, false, false, false};
    t.indexes = {pk, code, qty};
    auto table = (*w)->addTable(t);
    EXPECT_TRUE(table.ok());
    for (int i = 1; i <= rows; ++i) {
        std::vector<Value> v = {
            Value::null(),
            Value::text("C" + std::to_string(i)),
            Value::integer(i % 17),
            Value::text("Item " + std::to_string(i)),
            i % 3 ? Value::text(std::string(static_cast<size_t>(i * 7), 'n')) : Value::null(),
            Value::boolean(i % 2)};
        EXPECT_TRUE((*w)->appendRow(*table, v).ok());
    }
    EXPECT_TRUE((*w)->finish().ok());
    return path;
}

template <class T>
Status asStatus(const Result<T>& r) {
    return r.ok() ? Status::success() : Status(r.error());
}

std::string noteText(std::mt19937& rng) {
    // From a few bytes (inline) over one LVAL row to chains of pieces.
    static const size_t sizes[] = {0, 5, 60, 70, 900, 4000, 5000, 9000, 20000};
    size_t n = sizes[rng() % std::size(sizes)];
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('a' + (rng() % 26)));
    return s;
}

void expectMatches(Database& db, const std::map<int64_t, Model>& model,
                   std::map<int64_t, RowId>& ids, const std::string& when) {
    // Warnings too: the fixture starts clean, so a stale count or a leaked
    // page is the change's.
    auto report = checkDatabase(db);
    for (const auto& p : report.problems) ADD_FAILURE() << when << ": " << p.message;
    auto def = db.table("Items");
    ASSERT_TRUE(def.ok()) << def.error().message();
    EXPECT_EQ((*def)->rowCount, model.size()) << when;
    TableCursor cur(db, *def);
    std::map<int64_t, Model> seen;
    while (true) {
        auto more = cur.next();
        ASSERT_TRUE(more.ok()) << when << ": " << more.error().message();
        if (!*more) break;
        const auto& v = cur.values();
        Model m{v[1].bytes(), v[2].asInt(), v[3].bytes(),
                v[4].isNull() ? std::nullopt : std::optional<std::string>(v[4].bytes()),
                v[5].asBool()};
        EXPECT_EQ(ids[v[0].asInt()], cur.rowId()) << when;
        seen[v[0].asInt()] = m;
    }
    ASSERT_EQ(seen.size(), model.size()) << when;
    for (const auto& [id, m] : model) {
        const Model& s = seen[id];
        EXPECT_EQ(s.code, m.code) << when << " ID " << id;
        EXPECT_EQ(s.qty, m.qty) << when << " ID " << id;
        EXPECT_EQ(s.name, m.name) << when << " ID " << id;
        EXPECT_EQ(s.note, m.note) << when << " ID " << id;
        EXPECT_EQ(s.flag, m.flag) << when << " ID " << id;
    }
    // Lookups through the Qty index agree with the model.
    const RealIndex& qtyIndex = (*def)->realIndexes[2];
    for (int64_t q : {0, 5, 16}) {
        auto range = columnRange(qtyIndex, {Value::integer(q)});
        ASSERT_TRUE(range.ok());
        auto ic = IndexCursor::open(db, **def, qtyIndex, *range);
        ASSERT_TRUE(ic.ok());
        size_t found = 0, expected = 0;
        while (true) {
            auto more = ic->next();
            ASSERT_TRUE(more.ok()) << more.error().message();
            if (!*more) break;
            ++found;
        }
        for (const auto& [id, m] : model) expected += m.qty == q;
        EXPECT_EQ(found, expected) << when << " Qty " << q;
    }
}

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("tabulary-editor-" + std::to_string(::getpid()) + "-" + std::to_string(s_n++));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
    Database* m_db = nullptr;  // the database a statement below reads its rows from
    static inline int s_n = 0;
};

TEST_F(EditorTest, RandomChangesMatchTheModel) {
    const int initial = 300;
    auto db = Database::open(makeDatabase(m_dir, initial));
    ASSERT_TRUE(db.ok()) << db.error().message();
    std::map<int64_t, Model> model;
    std::map<int64_t, RowId> ids;
    {
        auto def = (*db)->table("Items");
        ASSERT_TRUE(def.ok());
        TableCursor cur(**db, *def);
        while (*cur.next()) {
            const auto& v = cur.values();
            model[v[0].asInt()] = {
                v[1].bytes(), v[2].asInt(), v[3].bytes(),
                v[4].isNull() ? std::nullopt : std::optional<std::string>(v[4].bytes()),
                v[5].asBool()};
            ids[v[0].asInt()] = cur.rowId();
        }
    }
    std::mt19937 rng(20261209);
    int64_t nextCode = initial + 1;
    for (int batch = 0; batch < 12; ++batch) {
        auto change = Change::begin(**db);
        ASSERT_TRUE(change.ok()) << change.error().message();
        auto t = (*change)->table("Items");
        ASSERT_TRUE(t.ok()) << t.error().message();
        for (int op = 0; op < 60; ++op) {
            const int kind = static_cast<int>(rng() % 10);
            if (kind < 4 || model.empty()) {
                Model m{"N" + std::to_string(nextCode++), static_cast<int64_t>(rng() % 17),
                        "New " + std::to_string(rng() % 1000), std::nullopt, (rng() % 2) == 1};
                if (rng() % 2) m.note = noteText(rng);
                std::vector<Value> v = {Value::null(),
                                        Value::text(m.code),
                                        Value::integer(m.qty),
                                        Value::text(m.name),
                                        m.note ? Value::text(*m.note) : Value::null(),
                                        Value::boolean(m.flag)};
                auto id = (*change)->insert(*t, v);
                ASSERT_TRUE(id.ok()) << id.error().message();
                int64_t key = *(*change)->lastIdentity();
                model[key] = m;
                ids[key] = *id;
                continue;
            }
            auto it = model.begin();
            std::advance(it, static_cast<long>(rng() % model.size()));
            if (kind < 8) {
                Model& m = it->second;
                std::vector<std::pair<size_t, Value>> changes;
                if (rng() % 2) {
                    m.qty = static_cast<int64_t>(rng() % 17);
                    changes.emplace_back(2, Value::integer(m.qty));
                }
                if (rng() % 2) {
                    m.note = rng() % 4 ? std::optional<std::string>(noteText(rng)) : std::nullopt;
                    changes.emplace_back(4, m.note ? Value::text(*m.note) : Value::null());
                }
                if (rng() % 3 == 0) {
                    m.code = "U" + std::to_string(nextCode++);
                    changes.emplace_back(1, Value::text(m.code));
                }
                if (rng() % 3 == 0) {
                    // Longer names push rows off full pages.
                    m.name = std::string(1 + rng() % 100, 'x');
                    changes.emplace_back(3, Value::text(m.name));
                }
                auto st = (*change)->update(*t, ids[it->first], changes);
                ASSERT_TRUE(st.ok()) << st.error().message();
            } else {
                auto st = (*change)->remove(*t, ids[it->first]);
                ASSERT_TRUE(st.ok()) << st.error().message();
                ids.erase(it->first);
                model.erase(it);
            }
        }
        auto st = (*change)->commit();
        ASSERT_TRUE(st.ok()) << st.error().message();
        expectMatches(**db, model, ids, "batch " + std::to_string(batch));
        if (HasFatalFailure()) return;
    }
    // Everything deleted: the tree shrinks back to an empty root.
    auto change = Change::begin(**db);
    ASSERT_TRUE(change.ok());
    auto t = (*change)->table("Items");
    for (const auto& [id, rowId] : ids) ASSERT_TRUE((*change)->remove(*t, rowId).ok());
    ASSERT_TRUE((*change)->commit().ok());
    model.clear();
    ids.clear();
    expectMatches(**db, model, ids, "all deleted");
}

// Each rule refuses the change with a message naming what was broken, and the
// file stays byte for byte as it was.
TEST_F(EditorTest, RulesRefuseChanges) {
    const std::string path = makeDatabase(m_dir, 20);
    auto bytes = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::string before = bytes();
    auto row = [](Value id, Value code, Value name) {
        return std::vector<Value>{id,   code,          Value::integer(1),
                                  name, Value::null(), Value::boolean(false)};
    };
    struct Case {
        const char* what;
        std::function<Status(Change&, size_t, RowId)> apply;
        const char* message;
    };
    const Case cases[] = {
        {"duplicate code",
         [&](Change& c, size_t t, RowId) {
             return asStatus(c.insert(t, row(Value::null(), Value::text("c5"), Value::text("x"))));
         },
         "unique index 'Code'"},
        {"duplicate key",
         [&](Change& c, size_t t, RowId) {
             return asStatus(
                 c.insert(t, row(Value::integer(3), Value::text("new"), Value::text("x"))));
         },
         "primary key 'PrimaryKey'"},
        {"required name",
         [&](Change& c, size_t t, RowId) {
             return asStatus(c.insert(t, row(Value::null(), Value::text("new"), Value::null())));
         },
         "'Items.Name' cannot contain a Null value"},
        {"code too long",
         [&](Change& c, size_t t, RowId) {
             return asStatus(c.insert(
                 t, row(Value::null(), Value::text(std::string(21, 'z')), Value::text("x"))));
         },
         "'Items.Code'"},
        {"text for a number",
         [&](Change& c, size_t t, RowId first) {
             std::pair<size_t, Value> ch{2, Value::text("many")};
             return c.update(t, first, std::span(&ch, 1));
         },
         "'Items.Qty'"},
        {"autonumber changed",
         [&](Change& c, size_t t, RowId first) {
             std::pair<size_t, Value> ch{0, Value::integer(99)};
             return c.update(t, first, std::span(&ch, 1));
         },
         "AutoNumber"},
        {"second insert breaks the key of the first",
         [&](Change& c, size_t t, RowId) {
             auto a = c.insert(t, row(Value::null(), Value::text("twice"), Value::text("x")));
             if (!a.ok()) return asStatus(a);
             return asStatus(
                 c.insert(t, row(Value::null(), Value::text("TWICE"), Value::text("y"))));
         },
         "unique index 'Code'"},
    };
    for (const Case& k : cases) {
        auto db = Database::open(path);
        ASSERT_TRUE(db.ok());
        auto change = Change::begin(**db);
        ASSERT_TRUE(change.ok()) << change.error().message();
        auto t = (*change)->table("Items");
        ASSERT_TRUE(t.ok());
        auto def = (*db)->table("Items");
        TableCursor cur(**db, *def);
        ASSERT_TRUE(*cur.next());
        Status st = k.apply(**change, *t, cur.rowId());
        ASSERT_FALSE(st.ok()) << k.what;
        EXPECT_NE(st.error().message().find(k.message), std::string::npos)
            << k.what << ": " << st.error().message();
        (*change)->rollback();
        EXPECT_EQ(bytes(), before) << k.what;
    }
}

// A crash at any write of a statement (journal or database, torn or not)
// leaves, once the file is opened again, exactly the file before or after
// the statement, passing the checker, with no journal left behind.
TEST_F(EditorTest, ACrashAtAnyWriteLeavesTheFileBeforeOrAfter) {
    const std::string base = makeDatabase(m_dir, 300);
    auto bytesOf = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    auto row = [](const std::string& code, size_t note) {
        return std::vector<Value>{Value::null(),
                                  Value::text(code),
                                  Value::integer(3),
                                  Value::text("n"),
                                  note ? Value::text(std::string(note, 'q')) : Value::null(),
                                  Value::boolean(true)};
    };
    // Row ids of the first `limit` rows, as the change sees the table.
    auto firstRows = [&](Change& c, size_t t, size_t limit) -> Result<std::vector<RowId>> {
        TableCursor cur(*m_db, std::make_shared<TableDef>(c.definition(t)));
        std::vector<RowId> ids;
        while (ids.size() < limit) {
            TAB_ASSIGN_OR_RETURN(bool more, cur.next());
            if (!more) break;
            ids.push_back(cur.rowId());
        }
        return ids;
    };
    struct Statement {
        const char* name;
        std::function<Status(Change&)> apply;
    } statements[] = {
        {"insert with a chained long value",
         [&](Change& c) -> Status {
             TAB_ASSIGN_OR_RETURN(size_t t, c.table("Items"));
             for (int i = 0; i < 3; ++i) {
                 auto id = c.insert(t, row("X" + std::to_string(i), i == 1 ? 9000 : 40));
                 if (!id.ok()) return id.error();
             }
             return Status::success();
         }},
        {"updates that move rows and change keys",
         [&](Change& c) -> Status {
             TAB_ASSIGN_OR_RETURN(size_t t, c.table("Items"));
             TAB_ASSIGN_OR_RETURN(std::vector<RowId> ids, firstRows(c, t, 40));
             for (size_t i = 0; i < ids.size(); ++i) {
                 std::pair<size_t, Value> ch[] = {{1, Value::text("U" + std::to_string(i))},
                                                  {3, Value::text(std::string(90, 'w'))}};
                 TAB_TRY(c.update(t, ids[i], ch));
             }
             return Status::success();
         }},
        {"deletes",
         [&](Change& c) -> Status {
             TAB_ASSIGN_OR_RETURN(size_t t, c.table("Items"));
             TAB_ASSIGN_OR_RETURN(std::vector<RowId> ids, firstRows(c, t, SIZE_MAX));
             for (size_t i = 0; i < ids.size(); i += 3) TAB_TRY(c.remove(t, ids[i]));
             return Status::success();
         }},
        {"a new table with rows and an index",
         [&](Change& c) -> Status {
             TableSpec spec{"Fresh", {}, {}};
             ColumnSpec k;
             k.name = "K";
             k.type = ColumnType::Long;
             ColumnSpec v;
             v.name = "V";
             v.type = ColumnType::Text;
             v.size = 20;
             spec.columns = {k, v};
             TAB_TRY(c.createTable(spec));
             TAB_ASSIGN_OR_RETURN(size_t t, c.table("Fresh"));
             for (int i = 0; i < 5; ++i) {
                 std::vector<Value> r = {Value::integer(i), Value::text("v" + std::to_string(i))};
                 auto id = c.insert(t, r);
                 if (!id.ok()) return id.error();
             }
             IndexSpec ix;
             ix.name = "V";
             ix.columns = {{"V", true}};
             return c.createIndex("Fresh", ix);
         }},
    };
    const std::string copy = (m_dir / "copy.mdb").string();
    for (const Statement& st : statements) {
        SCOPED_TRACE(st.name);
        // The statement once without a crash: its writes and the file after it.
        fs::copy_file(base, copy, fs::copy_options::overwrite_existing);
        const std::string before = bytesOf(copy);
        edit::FaultIo counting;
        {
            auto db = Database::open(copy);
            ASSERT_TRUE(db.ok());
            m_db = db->get();
            ChangeOptions options;
            options.io = &counting;
            options.objectDate = 46000;
            auto change = Change::begin(**db, options);
            ASSERT_TRUE(change.ok()) << change.error().message();
            ASSERT_TRUE(st.apply(**change).ok());
            ASSERT_TRUE((*change)->commit().ok());
        }
        const std::string after = bytesOf(copy);
        ASSERT_NE(after, before);
        const int64_t writes = counting.mutations;
        ASSERT_GT(writes, 3);
        for (int64_t at = 1; at <= writes; ++at) {
            for (bool tear : {false, true}) {
                fs::copy_file(base, copy, fs::copy_options::overwrite_existing);
                edit::FaultIo crash(at, tear);
                {
                    auto db = Database::open(copy);
                    ASSERT_TRUE(db.ok());
                    m_db = db->get();
                    ChangeOptions options;
                    options.io = &crash;
                    options.objectDate = 46000;
                    auto change = Change::begin(**db, options);
                    if (change.ok() && st.apply(**change).ok()) (void)(*change)->commit();
                }
                auto reopened = Database::open(copy);
                ASSERT_TRUE(reopened.ok())
                    << "crash at write " << at << ": " << reopened.error().message();
                const std::string now = bytesOf(copy);
                EXPECT_TRUE(now == before || now == after)
                    << "crash at write " << at << (tear ? " (torn)" : "")
                    << ": the file is neither as before nor as after";
                EXPECT_FALSE(fs::exists(copy + ".tbj")) << "crash at write " << at;
                for (const auto& p : checkDatabase(**reopened).problems)
                    EXPECT_NE(p.severity, CheckProblem::Severity::Error)
                        << "crash at write " << at << ": " << p.message;
                if (HasFailure()) return;
            }
        }
    }
}

}  // namespace

namespace {

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

// Columns added, dropped and changed, one committed change each: the rows
// keep their values, the rules follow the columns, refusals leave the file
// as it was, and the checker passes after every step.
TEST_F(EditorTest, ColumnChangesKeepRowsAndRules) {
    const int rows = 120;
    const std::string path = makeDatabase(m_dir, rows);
    ColumnSpec extra = col("Extra", ColumnType::Memo);
    ColumnSpec counter = col("Serial", ColumnType::Long);
    counter.autoNumber = true;
    ColumnSpec nameMemo = col("Name", ColumnType::Memo);
    nameMemo.required = true;
    ColumnSpec shortName = col("Name", ColumnType::Text, 5);
    ColumnSpec qtyText = col("Qty", ColumnType::Text, 10);
    ColumnSpec qtyRequired = col("Qty", ColumnType::Long);
    qtyRequired.required = true;
    struct Step {
        const char* what;
        std::function<Status(Change&)> run;
        const char* error;  // null: it succeeds
    };
    const std::vector<Step> steps = {
        {"add a Memo", [&](Change& c) { return c.addColumn("Items", extra); }, nullptr},
        {"fill it",
         [&](Change& c) -> Status {
             auto t = c.table("Items");
             if (!t.ok()) return t.error();
             TableCursor cur(*m_db, std::make_shared<TableDef>(c.definition(*t)));
             std::vector<RowId> ids;
             while (true) {
                 auto more = cur.next();
                 if (!more.ok()) return more.error();
                 if (!*more) break;
                 ids.push_back(cur.rowId());
             }
             for (size_t i = 0; i < ids.size(); i += 2) {
                 std::pair<size_t, Value> v{6, Value::text(std::string(100 + 40 * i, 'e'))};
                 TAB_TRY(c.update(*t, ids[i], {&v, 1}));
             }
             return Status::success();
         },
         nullptr},
        {"drop the old Memo", [&](Change& c) { return c.dropColumn("Items", "Note"); }, nullptr},
        {"drop an indexed column", [&](Change& c) { return c.dropColumn("Items", "Code"); },
         "index 'Code'"},
        {"second AutoNumber", [&](Change& c) { return c.addColumn("Items", counter); },
         "AutoNumber"},
        {"indexed column to Text, its index built again",
         [&](Change& c) { return c.alterColumn("Items", qtyText); }, nullptr},
        {"names too long", [&](Change& c) { return c.alterColumn("Items", shortName); },
         "cannot be converted"},
        {"Qty required", [&](Change& c) { return c.alterColumn("Items", qtyRequired); }, nullptr},
        {"Name to a required Memo", [&](Change& c) { return c.alterColumn("Items", nameMemo); },
         nullptr},
        {"a Null name",
         [&](Change& c) -> Status {
             auto t = c.table("Items");
             if (!t.ok()) return t.error();
             std::vector<Value> v(c.definition(*t).columns.size());
             v[1] = Value::text("new");
             return asStatus(c.insert(*t, v));
         },
         "cannot contain a Null value"},
    };
    for (const Step& s : steps) {
        const std::string before = bytesOf(path);
        {
            auto db = Database::open(path);
            ASSERT_TRUE(db.ok()) << s.what << ": " << db.error().message();
            m_db = db->get();
            auto change = Change::begin(**db);
            ASSERT_TRUE(change.ok()) << s.what << ": " << change.error().message();
            Status st = s.run(**change);
            if (st.ok()) st = (*change)->commit();
            if (s.error) {
                ASSERT_FALSE(st.ok()) << s.what << ": expected an error";
                EXPECT_NE(st.error().message().find(s.error), std::string::npos)
                    << s.what << ": " << st.error().message();
            } else {
                ASSERT_TRUE(st.ok()) << s.what << ": " << st.error().message();
            }
        }
        if (s.error) {
            EXPECT_TRUE(bytesOf(path) == before) << s.what << " changed the file";
        }
        auto db = Database::open(path);
        ASSERT_TRUE(db.ok()) << s.what << ": " << db.error().message();
        for (const auto& p : checkDatabase(**db).problems)
            ADD_FAILURE() << s.what << ": " << p.message;
    }

    // The rows after all of it: values converted, the retyped columns last
    // (readers order columns by number, and they have new ones).
    auto db = Database::open(path);
    ASSERT_TRUE(db.ok());
    auto def = (*db)->table("Items");
    ASSERT_TRUE(def.ok());
    std::vector<std::string> names;
    for (const Column& c : (*def)->columns) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ID", "Code", "Flag", "Extra", "Qty", "Name"}));
    EXPECT_EQ((*def)->columns[5].type, ColumnType::Memo);
    EXPECT_TRUE((*def)->columns[5].required);
    EXPECT_EQ((*def)->columns[4].type, ColumnType::Long);
    EXPECT_TRUE((*def)->columns[4].required);
    const auto qtyIndex = std::find_if((*def)->indexes.begin(), (*def)->indexes.end(),
                                       [](const Index& ix) { return ix.name == "Qty"; });
    ASSERT_NE(qtyIndex, (*def)->indexes.end()) << "the retyped column lost its index";
    EXPECT_EQ((*def)->realIndexes[qtyIndex->realIndex].columns.at(0).columnNumber,
              (*def)->columns[4].number);
    TableCursor cur(**db, *def);
    int seen = 0, extras = 0;
    while (true) {
        auto more = cur.next();
        ASSERT_TRUE(more.ok()) << more.error().message();
        if (!*more) break;
        const auto& v = cur.values();
        const int64_t id = v[0].asInt();
        EXPECT_EQ(v[1].bytes(), "C" + std::to_string(id));
        EXPECT_EQ(v[4].asInt(), id % 17);
        EXPECT_EQ(v[5].bytes(), "Item " + std::to_string(id));
        EXPECT_EQ(v[2].asBool(), id % 2 == 1);
        if (!v[3].isNull()) {
            EXPECT_EQ(v[3].bytes(), std::string(100 + 40 * static_cast<size_t>(id - 1), 'e'));
            ++extras;
        }
        ++seen;
    }
    EXPECT_EQ(seen, rows);
    EXPECT_EQ(extras, rows / 2);
}
