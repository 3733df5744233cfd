// Random changes through the change engine on a memory copy of a small
// database, against a model of the rows: after every commit the checker
// finds no errors, a scan equals the model and every index agrees with the
// scan. A refused operation rolls the change back to the last commit.
//
// Input: a sequence of operations, each an opcode byte and its operand bytes
// (values, row choices); missing bytes read as zero.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <unistd.h>

#include "tabulary/jet/change.h"
#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/index_reader.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/writer.h"

using namespace tab;
using namespace tab::jet;

namespace {

namespace fs = std::filesystem;

[[noreturn]] void broken(const std::string& what) {
    std::fprintf(stderr, "change_fuzzer: %s\n", what.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

constexpr size_t kId = 0, kCode = 1, kQty = 2, kScore = 3, kName = 4, kNote = 5, kFlag = 6;
constexpr size_t kColumns = 7;
constexpr size_t kMaxOps = 48;
constexpr size_t kInitialRows = 50;

struct Row {
    std::optional<std::string> code, name, note;
    std::optional<int64_t> qty, score;
    bool flag = false;
    bool operator==(const Row&) const = default;
};

ColumnSpec col(const std::string& name, ColumnType type, uint32_t size = 255) {
    ColumnSpec c;
    c.name = name;
    c.type = type;
    c.size = size;
    return c;
}

std::string initialNote(size_t i) {
    static const size_t sizes[] = {0, 3, 64, 900, 2100, 5000};
    return std::string(sizes[i % std::size(sizes)], static_cast<char>('a' + i % 26));
}

// Items: ID autonumber key, Code unique Text(10), Qty indexed, Score
// descending, Name free text, Note Memo, Flag Yes/No.
std::vector<uint8_t> buildImage() {
    const fs::path path =
        fs::temp_directory_path() / ("tabulary-change-fuzz-" + std::to_string(::getpid()) + ".mdb");
    {
        auto w = DatabaseWriter::create(path.string());
        if (!w.ok()) broken("create: " + w.error().message());
        TableSpec t{"Items", {}, {}};
        ColumnSpec id = col("ID", ColumnType::Long);
        id.autoNumber = true;
        t.columns = {id,
                     col("Code", ColumnType::Text, 10),
                     col("Qty", ColumnType::Long),
                     col("Score", ColumnType::Long),
                     col("Name", ColumnType::Text, 50),
                     col("Note", ColumnType::Memo),
                     col("Flag", ColumnType::Boolean)};
        t.indexes = {IndexSpec{"PrimaryKey", {{"ID", true}}, true, true, true, false},
                     IndexSpec{"Code", {{"Code", true}}, false, true, false, false},
                     IndexSpec{"Qty", {{"Qty", true}}, false, false, false, false},
                     IndexSpec{"Score", {{"Score", false}}, false, false, false, false}};
        auto table = (*w)->addTable(t);
        if (!table.ok()) broken("addTable: " + table.error().message());
        for (size_t i = 1; i <= kInitialRows; ++i) {
            std::vector<Value> v = {
                Value::null(),
                Value::text("C" + std::to_string(i)),
                Value::integer(static_cast<int64_t>(i % 13)),
                i % 5 ? Value::integer(static_cast<int64_t>(i * 37 % 101)) : Value::null(),
                Value::text("Item " + std::to_string(i)),
                i % 4 ? Value::text(initialNote(i)) : Value::null(),
                Value::boolean(i % 2)};
            auto st = (*w)->appendRow(*table, v);
            if (!st.ok()) broken("appendRow: " + st.error().message());
        }
        auto st = (*w)->finish();
        if (!st.ok()) broken("finish: " + st.error().message());
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    std::error_code ec;
    fs::remove(path, ec);
    if (bytes.empty()) broken("cannot read the built database");
    return bytes;
}

const std::vector<uint8_t>& image() {
    static const std::vector<uint8_t> bytes = buildImage();
    return bytes;
}

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool done() const { return m_pos >= m_size; }
    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    uint16_t word() { return static_cast<uint16_t>(byte() | (byte() << 8)); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Characters from ASCII, Latin-1, Windows-1252 extras and beyond one byte.
std::string textValue(Reader& in, size_t maxLength) {
    static const char* const pool[] = {"a",
                                       "B",
                                       "z",
                                       "0",
                                       "7",
                                       " ",
                                       "-",
                                       "\xC3\xA9",
                                       "\xC3\x84",
                                       "\xC3\x9F",
                                       "\xE2\x82\xAC",
                                       "\xD0\x96",
                                       "\xE4\xB8\xAD",
                                       "\xF0\x9F\x98\x80",
                                       "q",
                                       "x"};
    const size_t n = in.byte() % (maxLength + 1);
    std::string s;
    for (size_t i = 0; i < n; ++i) s += pool[in.byte() % std::size(pool)];
    return s;
}

// Lengths around the inline, single-row and chained limits of long values.
std::string memoValue(Reader& in) {
    static const size_t sizes[] = {0,    1,    40,   63,   64,   65,   500,  1000,  2000,
                                   2020, 2040, 2060, 3900, 4100, 6000, 8200, 12000, 16000};
    const uint8_t b = in.byte();
    size_t n = sizes[b % std::size(sizes)] + (b >> 6) * 3;
    const uint8_t mix = in.byte();
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        if (mix & 1 && i % 97 == 5)
            s += (mix & 2) ? "\xD0\x96" : "\xC3\xA9";
        else
            s.push_back(static_cast<char>('a' + (i * (mix | 1) + mix) % 26));
    }
    return s;
}

std::optional<std::string> optText(Reader& in, size_t maxLength) {
    if (in.byte() % 8 == 0) return std::nullopt;
    return textValue(in, maxLength);
}

std::optional<int64_t> optLong(Reader& in) {
    const uint8_t b = in.byte();
    if (b % 9 == 0) return std::nullopt;
    return static_cast<int64_t>(b % 40) - 8;
}

Value value(const std::optional<std::string>& v) {
    return v ? Value::text(*v) : Value::null();
}
Value value(const std::optional<int64_t>& v) {
    return v ? Value::integer(*v) : Value::null();
}

Value columnValue(const Row& r, size_t c, int64_t id) {
    switch (c) {
        case kId:
            return Value::integer(id);
        case kCode:
            return value(r.code);
        case kQty:
            return value(r.qty);
        case kScore:
            return value(r.score);
        case kName:
            return value(r.name);
        case kNote:
            return value(r.note);
        default:
            return Value::boolean(r.flag);
    }
}

std::optional<std::string> textOf(const Value& v) {
    return v.isNull() ? std::nullopt : std::optional<std::string>(v.bytes());
}
std::optional<int64_t> longOf(const Value& v) {
    return v.isNull() ? std::nullopt : std::optional<int64_t>(v.asInt());
}

bool ascii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
}
std::string folded(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

using Model = std::map<int64_t, Row>;

// Text that every collation treats alike: ASCII letters and digits only.
bool plain(const std::optional<std::string>& s, size_t maxLength) {
    return !s || (s->size() <= maxLength && std::all_of(s->begin(), s->end(), [](char c) {
                      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                             (c >= 'A' && c <= 'Z');
                  }));
}

// A unique text column can only refuse `v` when another row's value folds
// to it or is not plain (its collation weights are not modelled).
bool mayCollide(const Model& model, int64_t self, const std::optional<std::string> Row::*field,
                const std::optional<std::string>& v) {
    if (!v) return false;
    for (const auto& [id, r] : model) {
        const auto& other = r.*field;
        if (id == self || !other) continue;
        if (!plain(other, 255) || folded(*other) == folded(*v)) return true;
    }
    return false;
}

// A refused row must break a rule: an internal error, or a refusal of a row
// whose values are plain, fit and duplicate nothing, is a fault.
void expectRefusal(const Error& e, const Model& model, int64_t self, const Row& r, bool nameUnique,
                   const std::string& when) {
    if (e.code() == Errc::Internal || e.code() == Errc::Corrupt || e.code() == Errc::Io)
        broken(when + ": " + e.message());
    if (!plain(r.code, 10) || !plain(r.name, 50)) return;
    if (mayCollide(model, self, &Row::code, r.code)) return;
    if (nameUnique && mayCollide(model, self, &Row::name, r.name)) return;
    broken(when + ": a valid row was refused: " + e.message());
}

// Two rows whose codes any collation must call equal.
void checkCodesUnique(const Model& model, const std::string& when) {
    std::set<std::string> seen;
    for (const auto& [id, r] : model)
        if (r.code && ascii(*r.code) && !seen.insert(folded(*r.code)).second)
            broken(when + ": duplicate code '" + *r.code + "' accepted");
}

struct Scan {
    Model rows;
    std::map<int64_t, RowId> ids;
    std::map<RowId, std::vector<Value>> values;
};

Scan scan(Database& db, const std::string& when) {
    auto def = db.table("Items");
    if (!def.ok()) broken(when + ": table: " + def.error().message());
    Scan s;
    TableCursor cur(db, *def);
    while (true) {
        auto more = cur.next();
        if (!more.ok()) broken(when + ": scan: " + more.error().message());
        if (!*more) break;
        const auto& v = cur.values();
        if (v.size() != kColumns) broken(when + ": column count");
        const int64_t id = v[kId].asInt();
        Row r{textOf(v[kCode]), textOf(v[kName]),  textOf(v[kNote]),
              longOf(v[kQty]),  longOf(v[kScore]), v[kFlag].asBool()};
        if (!s.rows.emplace(id, std::move(r)).second)
            broken(when + ": ID " + std::to_string(id) + " twice");
        s.ids[id] = cur.rowId();
        s.values[cur.rowId()] = v;
    }
    if ((*def)->rowCount != s.rows.size()) broken(when + ": row count differs from the scan");
    return s;
}

void expectModel(const Scan& s, const Model& model, const std::string& when) {
    if (s.rows.size() != model.size())
        broken(when + ": " + std::to_string(s.rows.size()) + " rows, model has " +
               std::to_string(model.size()));
    for (const auto& [id, r] : model) {
        auto it = s.rows.find(id);
        if (it == s.rows.end()) broken(when + ": ID " + std::to_string(id) + " missing");
        if (!(it->second == r)) broken(when + ": ID " + std::to_string(id) + " differs");
    }
}

size_t position(const TableDef& def, uint16_t number) {
    for (size_t i = 0; i < def.columns.size(); ++i)
        if (def.columns[i].number == number) return i;
    broken("index column not in the table");
}

// Entries in `range`; nullopt when the bounds cannot be encoded.
std::optional<std::vector<RowId>> lookup(Database& db, const TableDef& def, const RealIndex& index,
                                         std::vector<Value> equal, std::optional<ValueBound> lower,
                                         std::optional<ValueBound> upper, const std::string& when) {
    auto range = columnRange(index, std::move(equal), std::move(lower), std::move(upper));
    if (!range.ok()) {
        if (range.error().code() == Errc::Unsupported) return std::nullopt;
        broken(when + ": columnRange: " + range.error().message());
    }
    auto cur = IndexCursor::open(db, def, index, *range);
    if (!cur.ok()) {
        if (cur.error().code() == Errc::Unsupported) return std::nullopt;
        broken(when + ": index open: " + cur.error().message());
    }
    std::vector<RowId> out;
    while (true) {
        auto more = cur->next();
        if (!more.ok()) broken(when + ": index walk: " + more.error().message());
        if (!*more) break;
        out.push_back(cur->rowId());
    }
    return out;
}

bool sameValue(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull()) return a.isNull() == b.isNull();
    return a.asInt() == b.asInt();
}

void expectIndexes(Database& db, const Scan& s, const std::string& when) {
    auto def = db.table("Items");
    if (!def.ok()) broken(when + ": table: " + def.error().message());
    const TableDef& t = **def;
    for (size_t x = 0; x < t.realIndexes.size(); ++x) {
        const RealIndex& index = t.realIndexes[x];
        const std::string at = when + ": index " + std::to_string(x);
        auto all = lookup(db, t, index, {}, std::nullopt, std::nullopt, at);
        if (!all) broken(at + ": full walk unsupported");
        std::set<RowId> seen;
        for (RowId id : *all) {
            if (!s.values.count(id)) broken(at + ": entry for a row that is not there");
            if (!seen.insert(id).second) broken(at + ": row indexed twice");
        }
        if (!index.ignoreNulls() && seen.size() != s.values.size())
            broken(at + ": " + std::to_string(seen.size()) + " entries for " +
                   std::to_string(s.values.size()) + " rows");
        if (index.columns.empty()) continue;
        const size_t first = position(t, index.columns[0].columnNumber);
        const bool textual = first == kCode || first == kName;
        // Equality on every column: the row is among the hits; exact for numbers.
        size_t probes = 0;
        for (const auto& [rowId, v] : s.values) {
            if (probes++ == 12) break;
            std::vector<Value> equal;
            for (const auto& ic : index.columns) equal.push_back(v[position(t, ic.columnNumber)]);
            auto hits = lookup(db, t, index, equal, std::nullopt, std::nullopt, at);
            if (!hits) continue;
            if (std::find(hits->begin(), hits->end(), rowId) == hits->end())
                broken(at + ": lookup misses its row");
            if (!textual && index.columns.size() == 1) {
                size_t expected = 0;
                for (const auto& [r2, v2] : s.values) expected += sameValue(v2[first], v[first]);
                if (hits->size() != expected) broken(at + ": equality count differs");
            }
        }
        // A value range on a number column.
        if (first == kQty || first == kScore) {
            auto hits = lookup(db, t, index, {}, ValueBound{Value::integer(0), true},
                               ValueBound{Value::integer(12), false}, at);
            if (!hits) broken(at + ": range unsupported");
            size_t expected = 0;
            for (const auto& [r2, v2] : s.values)
                expected += !v2[first].isNull() && v2[first].asInt() >= 0 && v2[first].asInt() < 12;
            if (hits->size() != expected) broken(at + ": range count differs");
        }
    }
}

void verify(Database& db, const Model& model, std::map<int64_t, RowId>& ids,
            const std::string& when, bool full) {
    if (full) {
        const CheckReport report = checkDatabase(db);
        for (const auto& p : report.problems)
            if (p.severity == CheckProblem::Severity::Error) broken(when + ": check: " + p.message);
    }
    Scan s = scan(db, when);
    expectModel(s, model, when);
    if (full) expectIndexes(db, s, when);
    ids = s.ids;
}

struct Extra {
    const char* name;
    IndexSpec spec;
};

const Extra kExtras[] = {
    {"ByName", IndexSpec{"ByName", {{"Name", true}}, false, false, false, false}},
    {"NameUnique", IndexSpec{"NameUnique", {{"Name", false}}, false, true, false, false}},
    {"FlagScore",
     IndexSpec{"FlagScore", {{"Flag", true}, {"Score", false}}, false, false, false, false}},
    {"QtyNotes",
     IndexSpec{"QtyNotes", {{"Qty", false}, {"Code", true}}, false, false, false, true}},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto db = Database::openMemory(image());
    if (!db.ok()) broken("openMemory: " + db.error().message());
    Database& d = **db;
    Model committed, model;
    std::map<int64_t, RowId> committedIds, ids;
    {
        Scan s = scan(d, "start");
        committed = s.rows;
        committedIds = s.ids;
    }
    model = committed;
    ids = committedIds;
    std::set<std::string> committedExtras, extras;

    std::unique_ptr<Change> change;
    size_t table = 0;
    auto open = [&] {
        auto c = Change::begin(d);
        if (!c.ok()) broken("begin: " + c.error().message());
        change = std::move(*c);
        auto t = change->table("Items");
        if (!t.ok()) broken("table: " + t.error().message());
        table = *t;
    };
    auto rollback = [&](const std::string& when) {
        change->rollback();
        change.reset();
        model = committed;
        extras = committedExtras;
        verify(d, model, ids, when + " (rolled back)", false);
        open();
    };
    auto commit = [&](const std::string& when) {
        auto st = change->commit();
        if (!st.ok()) broken(when + ": commit: " + st.error().message());
        change.reset();
        checkCodesUnique(model, when);
        verify(d, model, ids, when, true);
        committed = model;
        committedIds = ids;
        committedExtras = extras;
        open();
    };
    open();

    Reader in(data, size);
    for (size_t op = 0; op < kMaxOps && !in.done(); ++op) {
        const std::string when = "op " + std::to_string(op);
        const uint8_t kind = in.byte() % 16;
        if (kind < 5 || (kind < 9 && model.empty())) {
            Row r{optText(in, 12), optText(in, 52), std::nullopt,
                  optLong(in),     optLong(in),     (in.byte() & 1) != 0};
            if (in.byte() % 3) r.note = memoValue(in);
            std::vector<Value> v;
            for (size_t c = 0; c < kColumns; ++c) v.push_back(columnValue(r, c, 0));
            v[kId] = Value::null();
            auto rowId = change->insert(table, v);
            if (!rowId.ok()) {
                expectRefusal(rowId.error(), model, -1, r, extras.count("NameUnique") != 0,
                              when + " insert");
                rollback(when + " insert refused");
                continue;
            }
            auto id = change->lastIdentity();
            if (!id) broken(when + ": insert without an identity");
            if (model.count(*id)) broken(when + ": identity reused");
            model[*id] = r;
            ids[*id] = *rowId;
        } else if (kind < 11) {
            auto it = model.begin();
            std::advance(it, static_cast<long>(in.word() % model.size()));
            if (kind >= 9) {
                auto st = change->remove(table, ids.at(it->first));
                if (!st.ok()) broken(when + ": remove: " + st.error().message());
                ids.erase(it->first);
                model.erase(it);
                continue;
            }
            Row r = it->second;
            const uint8_t which = in.byte();
            std::vector<std::pair<size_t, Value>> changes;
            if (which & 0x01) r.code = optText(in, 12), changes.emplace_back(kCode, value(r.code));
            if (which & 0x02) r.qty = optLong(in), changes.emplace_back(kQty, value(r.qty));
            if (which & 0x04) r.score = optLong(in), changes.emplace_back(kScore, value(r.score));
            if (which & 0x08) r.name = optText(in, 52), changes.emplace_back(kName, value(r.name));
            if (which & 0x10) {
                r.note = in.byte() % 4 ? std::optional<std::string>(memoValue(in)) : std::nullopt;
                changes.emplace_back(kNote, value(r.note));
            }
            if (which & 0x20) r.flag = !r.flag, changes.emplace_back(kFlag, Value::boolean(r.flag));
            auto st = change->update(table, ids.at(it->first), changes);
            if (!st.ok()) {
                expectRefusal(st.error(), model, it->first, r, extras.count("NameUnique") != 0,
                              when + " update");
                rollback(when + " update refused");
                continue;
            }
            it->second = r;
        } else if (kind == 11 || kind == 15) {
            commit(when + " commit");
        } else if (kind == 12) {
            rollback(when + " rollback");
        } else {
            const Extra& e = kExtras[in.byte() % std::size(kExtras)];
            if (kind == 13 && !extras.count(e.name)) {
                auto st = change->createIndex("Items", e.spec);
                if (!st.ok()) {
                    if (st.error().code() == Errc::Internal || st.error().code() == Errc::Corrupt)
                        broken(when + ": createIndex: " + st.error().message());
                    rollback(when + " createIndex refused");
                    continue;
                }
                extras.insert(e.name);
            } else if (kind == 14 && extras.count(e.name)) {
                auto st = change->dropIndex("Items", e.name);
                if (!st.ok()) broken(when + ": dropIndex: " + st.error().message());
                extras.erase(e.name);
            } else {
                continue;
            }
            // Definitions changed: the table handle is looked up again.
            auto t = change->table("Items");
            if (!t.ok()) broken(when + ": table after index change: " + t.error().message());
            table = *t;
        }
    }
    commit("end");
    return 0;
}
