// Columns added, dropped and changed inside a change. Rows are not rewritten
// to add or drop a column: a row records how many columns it was written
// with, so a column added later reads as Null, and the bytes of a dropped
// column stay in old rows unread until the row is next written. A change of
// type rewrites every row into a new column that takes the old one's place.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>

#include "edit/change_impl.h"
#include "edit/space.h"
#include "internal.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/base/text_codec.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value_text.h"
#include "write/page_file.h"
#include "write/properties_writer.h"
#include "write/row_encoder.h"
#include "write/table_layout.h"

namespace tab::jet {

namespace {

using TableState = change_detail::TableState;

constexpr size_t kMaxColumns = 255;

Error invalid(const std::string& what) {
    return Error(Errc::InvalidArgument, what);
}

bool isLong(const Column& c) {
    return c.type == ColumnType::Memo || c.type == ColumnType::Ole;
}

std::string quoted(const TableDef& t, const std::string& column) {
    return "'" + t.name + "." + column + "'";
}

// --- property blobs -----------------------------------------------------------
// An "MR2" blob kept as its pieces so that it can be written again byte for
// byte with one column's properties changed: the name pool, the object and
// column blocks with their entries, and anything else as it was.

struct PropEntry {
    uint8_t ddl = 0, type = 0;
    uint16_t name = 0;
    std::string data, pad;
};

struct PropChunk {
    uint16_t kind = 0;
    bool block = false;  // an object (0x0000) or column (0x0001/0x0002) block
    std::string head;    // block: its name block (length, target length, target, extra)
    std::string target;  // block: the target's name
    std::vector<PropEntry> entries;
    std::string rest;  // bytes after the last entry or name, or an unknown chunk
};

struct PropBlob {
    std::vector<std::string> names;  // the pool, UTF-16LE
    std::vector<PropChunk> chunks;   // the pool's place is marked by kind 0x0080
};

Result<PropBlob> parseBlob(const std::string& s) {
    auto bad = [](const char* what) {
        return Error(Errc::Corrupt, std::string("the table's property blob is damaged: ") + what);
    };
    const auto* b = reinterpret_cast<const uint8_t*>(s.data());
    PropBlob out;
    if (s.size() < 4 || std::memcmp(b, "MR2\0", 4) != 0) return bad("unknown signature");
    size_t pos = 4;
    bool pool = false;
    while (pos < s.size()) {
        if (pos + 6 > s.size()) return bad("a chunk is cut short");
        const uint32_t len = u32At(b + pos);
        if (len < 6 || len > s.size() - pos) return bad("a chunk length is out of range");
        PropChunk ch;
        ch.kind = u16At(b + pos + 4);
        const std::string body = s.substr(pos + 6, len - 6);
        const auto* c = reinterpret_cast<const uint8_t*>(body.data());
        pos += len;
        if (ch.kind == 0x0080) {
            if (pool) return bad("two name pools");
            pool = true;
            size_t q = 0;
            while (q + 2 <= body.size()) {
                const uint16_t n = u16At(c + q);
                if (n > body.size() - q - 2) return bad("a property name outside its chunk");
                out.names.push_back(body.substr(q + 2, n));
                q += 2 + size_t{n};
            }
            ch.rest = body.substr(q);
        } else if (ch.kind <= 0x0002) {
            ch.block = true;
            if (body.size() < 6) return bad("a block is too short");
            const uint32_t nameBlock = u32At(c);
            const uint16_t targetLen = u16At(c + 4);
            if (nameBlock < 6 || nameBlock > body.size() || targetLen > nameBlock - 6)
                return bad("a block's name is out of range");
            ch.head = body.substr(0, nameBlock);
            ch.target = utf16LeToUtf8({c + 6, targetLen});
            size_t q = nameBlock;
            while (q + 8 <= body.size()) {
                const uint16_t elen = u16At(c + q);
                const uint16_t vlen = u16At(c + q + 6);
                if (elen < 8 || elen > body.size() - q || vlen > elen - 8u)
                    return bad("a property entry is out of range");
                PropEntry e;
                e.ddl = c[q + 2];
                e.type = c[q + 3];
                e.name = u16At(c + q + 4);
                e.data = body.substr(q + 8, vlen);
                e.pad = body.substr(q + 8 + vlen, elen - 8u - vlen);
                ch.entries.push_back(std::move(e));
                q += elen;
            }
            ch.rest = body.substr(q);
        } else {
            ch.rest = body;
        }
        out.chunks.push_back(std::move(ch));
    }
    return out;
}

std::string serializeBlob(const PropBlob& blob) {
    std::string out("MR2\0", 4);
    for (const PropChunk& ch : blob.chunks) {
        std::string body;
        if (ch.kind == 0x0080) {
            for (const std::string& n : blob.names) {
                write::append16(body, static_cast<uint32_t>(n.size()));
                body += n;
            }
        } else if (ch.block) {
            body = ch.head;
            for (const PropEntry& e : ch.entries) {
                write::append16(body, static_cast<uint32_t>(8 + e.data.size() + e.pad.size()));
                body.push_back(static_cast<char>(e.ddl));
                body.push_back(static_cast<char>(e.type));
                write::append16(body, e.name);
                write::append16(body, static_cast<uint32_t>(e.data.size()));
                body += e.data + e.pad;
            }
        }
        body += ch.rest;
        write::append32(out, static_cast<uint32_t>(6 + body.size()));
        write::append16(out, ch.kind);
        out += body;
    }
    return out;
}

std::string utf16(const std::string& utf8) {
    std::string s;
    for (char16_t ch : utf8ToUtf16(utf8)) write::append16(s, ch);
    return s;
}

bool isColumnBlock(const PropChunk& ch, const std::string& column) {
    return ch.block && ch.kind != 0x0000 && equalsIgnoringCase(ch.target, column);
}

void removeColumnProps(PropBlob& blob, const std::string& column) {
    std::erase_if(blob.chunks, [&](const PropChunk& ch) { return isColumnBlock(ch, column); });
}

// The column's Required, AllowZeroLength and DefaultValue replaced by `props`;
// its other properties (captions, formats) stay.
void setColumnProps(PropBlob& blob, const std::string& column,
                    const std::vector<write::Property>& props) {
    auto it = std::find_if(blob.chunks.begin(), blob.chunks.end(),
                           [&](const PropChunk& ch) { return isColumnBlock(ch, column); });
    if (it == blob.chunks.end() && props.empty()) return;
    auto lookup = [&](const std::string& name) -> int {
        for (size_t i = 0; i < blob.names.size(); ++i)
            if (asciiLowered(utf16LeToUtf8({reinterpret_cast<const uint8_t*>(blob.names[i].data()),
                                            blob.names[i].size()})) == asciiLowered(name))
                return static_cast<int>(i);
        return -1;
    };
    std::vector<int> ours;
    for (const char* n : {"Required", "AllowZeroLength", "DefaultValue"}) ours.push_back(lookup(n));
    if (it != blob.chunks.end())
        std::erase_if(it->entries, [&](const PropEntry& e) {
            return std::find(ours.begin(), ours.end(), int{e.name}) != ours.end();
        });
    if (props.empty()) return;
    if (std::none_of(blob.chunks.begin(), blob.chunks.end(),
                     [](const PropChunk& ch) { return ch.kind == 0x0080; })) {
        PropChunk pool;
        pool.kind = 0x0080;
        PropChunk object;
        object.kind = 0x0000;
        object.block = true;
        write::append32(object.head, 6);
        write::append16(object.head, 0);
        blob.chunks.insert(blob.chunks.begin(), {pool, object});
    }
    it = std::find_if(blob.chunks.begin(), blob.chunks.end(),
                      [&](const PropChunk& ch) { return isColumnBlock(ch, column); });
    if (it == blob.chunks.end()) {
        PropChunk ch;
        ch.kind = 0x0001;
        ch.block = true;
        ch.target = column;
        const std::string name = utf16(column);
        write::append32(ch.head, static_cast<uint32_t>(6 + name.size()));
        write::append16(ch.head, static_cast<uint32_t>(name.size()));
        ch.head += name;
        blob.chunks.push_back(std::move(ch));
        it = blob.chunks.end() - 1;
    }
    for (const write::Property& p : props) {
        int index = lookup(p.name);
        if (index < 0) {
            blob.names.push_back(utf16(p.name));
            index = static_cast<int>(blob.names.size() - 1);
        }
        PropEntry e;
        e.ddl = p.ddl ? 1 : 0;
        e.type = p.type;
        e.name = static_cast<uint16_t>(index);
        e.data = p.data;
        it->entries.push_back(std::move(e));
    }
}

std::vector<write::Property> columnProps(const Column& c) {
    std::vector<write::Property> p;
    if (c.required) p.push_back(write::boolProperty("Required", true, true));
    if ((c.type == ColumnType::Text || c.type == ColumnType::Memo) && !c.allowZeroLength)
        p.push_back(write::boolProperty("AllowZeroLength", false, true));
    if (!c.defaultValue.empty())
        p.push_back(write::textProperty("DefaultValue", c.defaultValue, true));
    return p;
}

// --- values -------------------------------------------------------------------

bool isNumeric(ColumnType t) {
    switch (t) {
        case ColumnType::Byte:
        case ColumnType::Integer:
        case ColumnType::Long:
        case ColumnType::Currency:
        case ColumnType::Single:
        case ColumnType::Double:
        case ColumnType::Decimal:
            return true;
        default:
            return false;
    }
}

bool isWhole(ColumnType t) {
    return t == ColumnType::Byte || t == ColumnType::Integer || t == ColumnType::Long;
}

// Text that reads as a number: an integer if it is one, else a Double.
std::optional<Value> numberFromText(const std::string& text) {
    std::string s = text;
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    while (!s.empty() && s.back() == ' ') s.pop_back();
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long i = std::strtoll(s.c_str(), &end, 10);
    if (errno == 0 && end && *end == '\0') return Value::integer(i);
    errno = 0;
    const double d = std::strtod(s.c_str(), &end);
    if (errno == 0 && end && *end == '\0' && std::isfinite(d)) return Value::real(d);
    return std::nullopt;
}

// A stored value as the new type of its column: text and numbers convert
// into each other as Access converts them, the rest as a write would.
Result<Value> convertValue(const Column& to, const Value& v) {
    if (v.isNull()) return v;
    Value x = v;
    const bool toText = to.type == ColumnType::Text || to.type == ColumnType::Memo;
    if (toText && v.kind() != Value::Kind::Text) {
        x = Value::text(v.kind() == Value::Kind::Boolean ? (v.asBool() ? "Yes" : "No")
                                                         : valueToText(v));
    } else if (isNumeric(to.type) && v.kind() == Value::Kind::Text) {
        auto n = numberFromText(v.bytes());
        if (!n) return Error(Errc::InvalidArgument, "it is not a number");
        x = *n;
    }
    if (isWhole(to.type) && (x.kind() == Value::Kind::Double || x.kind() == Value::Kind::Single)) {
        const double r = std::nearbyint(x.asDouble());
        if (!(std::fabs(r) < 9.2e18)) return Error(Errc::InvalidArgument, "it is out of range");
        x = Value::integer(static_cast<int64_t>(r));
    }
    return write::coerceValue(to, x);
}

// The value of a simple DefaultValue (a number, quoted text, Yes/No), to give
// existing rows; nullopt for an expression.
std::optional<Value> literalDefault(const std::string& expr) {
    std::string s = expr;
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    while (!s.empty() && s.back() == ' ') s.pop_back();
    if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"') && s.back() == s.front()) {
        const char q = s.front();
        std::string out;
        for (size_t i = 1; i + 1 < s.size(); ++i) {
            if (s[i] == q) {
                if (i + 2 < s.size() && s[i + 1] == q) {
                    out.push_back(q);
                    ++i;
                    continue;
                }
                return std::nullopt;
            }
            out.push_back(s[i]);
        }
        return Value::text(out);
    }
    const std::string l = asciiLowered(s);
    if (l == "true" || l == "yes" || l == "on") return Value::boolean(true);
    if (l == "false" || l == "no" || l == "off") return Value::boolean(false);
    return numberFromText(s);
}

// --- layout ---------------------------------------------------------------------

// The column as a new table would have it, its rules from the description.
Result<Column> describeColumn(const TableDef& def, const ColumnSpec& spec, uint8_t sortVersion) {
    TableSpec one;
    one.name = def.name;
    one.columns.push_back(spec);
    TAB_ASSIGN_OR_RETURN(write::TableLayout layout, write::layoutTable(one, sortVersion));
    Column c = layout.def.columns.at(0);
    c.required = spec.required;
    c.allowZeroLength = spec.allowZeroLength;
    c.defaultValue = spec.defaultValue;
    return c;
}

// Gives a new column the next number, its fixed offset or variable slot, and
// its long-value maps; the definition's counts follow.
Status placeColumn(Change::Impl& impl, TableDef& def, Column& c) {
    c.number = def.maxColumns;
    if (c.fixed) {
        uint16_t end = 0, vars = 0;
        for (const Column& o : def.columns) {
            if (o.fixed && o.storedType != 0x01)
                end = std::max<uint16_t>(end, static_cast<uint16_t>(o.fixedOffset + o.length));
            if (!o.fixed) ++vars;
        }
        if (c.type != ColumnType::Boolean) c.fixedOffset = end;
        c.varIndex = vars;
    } else {
        c.varIndex = def.varColumns;
        ++def.varColumns;
    }
    if (isLong(c)) {
        std::vector<uint32_t> hosts{def.ownedPages >> 8};
        TableDef::LongValueMaps m;
        m.columnNumber = c.number;
        TAB_ASSIGN_OR_RETURN(m.owned, edit::newUsageMap(*impl.pager, def.tdefPage, hosts));
        TAB_ASSIGN_OR_RETURN(m.free, edit::newUsageMap(*impl.pager, def.tdefPage, hosts));
        def.longValueMaps.push_back(m);
    }
    ++def.maxColumns;
    return Status::success();
}

// Takes the column at `pos` out of the definition; a Memo/OLE column's
// long-value pages and maps are freed (old rows keep references nobody reads).
Status removeColumn(Change::Impl& impl, TableDef& def, size_t pos) {
    const Column c = def.columns[pos];
    edit::Pager& pager = *impl.pager;
    std::set<uint32_t> hosts;
    for (auto it = def.longValueMaps.begin(); it != def.longValueMaps.end();) {
        if (it->columnNumber != c.number) {
            ++it;
            continue;
        }
        if (it->owned) {
            TAB_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, edit::mapPages(pager, it->owned));
            for (uint32_t p : pages) TAB_TRY(edit::freePage(pager, p));
            hosts.insert(it->owned >> 8);
            TAB_TRY(edit::deleteSlot(pager, it->owned));
        }
        if (it->free) {
            hosts.insert(it->free >> 8);
            TAB_TRY(edit::deleteSlot(pager, it->free));
        }
        it = def.longValueMaps.erase(it);
    }
    for (uint32_t host : hosts) {
        if (host == def.tdefPage) continue;
        TAB_ASSIGN_OR_RETURN(uint32_t live, edit::liveRows(pager, host));
        if (live == 0) TAB_TRY(edit::freePage(pager, host));
    }
    def.columns.erase(def.columns.begin() + static_cast<std::ptrdiff_t>(pos));
    return Status::success();
}

Result<size_t> userTable(Change::Impl& impl, std::string_view name) {
    TAB_ASSIGN_OR_RETURN(size_t ti, impl.open(name));
    const TableState& t = impl.tables[ti];
    if (!t.refusal.empty()) return Error(Errc::Unsupported, t.refusal);
    if (t.def->tableType != 0x4E)
        return invalid("The table '" + t.def->name + "' is a system table; its fields stay");
    return ti;
}

// The logical index that uses the column, if any.
const Index* indexOver(const TableDef& def, const Column& c) {
    for (const Index& ix : def.indexes) {
        if (ix.realIndex >= def.realIndexes.size()) continue;
        for (const IndexColumn& ic : def.realIndexes[ix.realIndex].columns)
            if (ic.columnNumber == c.number) return &ix;
    }
    return nullptr;
}

// The relationship that names the column on either side, if any.
Result<std::string> relationshipOver(Change::Impl& impl, const TableDef& def,
                                     const std::string& column) {
    if (!impl.db.catalog().findTable("MSysRelationships")) return std::string();
    TAB_ASSIGN_OR_RETURN(size_t rel, impl.catalogTable("MSysRelationships"));
    auto relDef = impl.tables[rel].def;
    const int name = relDef->findColumn("szRelationship");
    const int pairs[2][2] = {
        {relDef->findColumn("szObject"), relDef->findColumn("szColumn")},
        {relDef->findColumn("szReferencedObject"), relDef->findColumn("szReferencedColumn")}};
    TableCursor cur(impl.db, relDef);
    auto text = [&](int c) {
        if (c < 0) return std::string();
        const Value& v = cur.values()[static_cast<size_t>(c)];
        return v.kind() == Value::Kind::Text ? v.bytes() : std::string();
    };
    while (true) {
        TAB_ASSIGN_OR_RETURN(bool more, cur.next());
        if (!more) return std::string();
        for (const auto& p : pairs)
            if (equalsIgnoringCase(text(p[0]), def.name) &&
                equalsIgnoringCase(text(p[1]), column)) {
                const std::string n = text(name);
                return n.empty() ? std::string("(unnamed)") : n;
            }
    }
}

Status refuseIfUsed(Change::Impl& impl, const TableDef& def, const Column& c, const char* what) {
    if (const Index* ix = indexOver(def, c))
        return invalid("Cannot " + std::string(what) + " the field " + quoted(def, c.name) +
                       ": it is part of the index '" + ix->name +
                       "'; delete the index (or its relationship) first");
    TAB_ASSIGN_OR_RETURN(std::string rel, relationshipOver(impl, def, c.name));
    if (!rel.empty())
        return invalid("Cannot " + std::string(what) + " the field " + quoted(def, c.name) +
                       ": it is part of the relationship '" + rel +
                       "'; delete the relationship first");
    return Status::success();
}

// Edits the column properties in the table's catalogue row.
template <typename Edit>
Status editProperties(Change::Impl& impl, const TableDef& def, Edit edit) {
    TAB_ASSIGN_OR_RETURN(size_t objects, impl.catalogTable("MSysObjects"));
    auto odef = impl.tables[objects].def;
    const int cId = odef->findColumn("Id"), cProp = odef->findColumn("LvProp");
    if (cId < 0 || cProp < 0) return corrupt(odef->tdefPage, "MSysObjects has no LvProp column");
    TableCursor cur(impl.db, odef, {cId, cProp});
    std::optional<RowId> row;
    std::string old;
    while (true) {
        TAB_ASSIGN_OR_RETURN(bool more, cur.next());
        if (!more) break;
        const Value& id = cur.values()[static_cast<size_t>(cId)];
        if (!id.isNull() && id.asInt() == int64_t{def.tdefPage}) {
            row = cur.rowId();
            const Value& p = cur.values()[static_cast<size_t>(cProp)];
            if (!p.isNull()) old = p.bytes();
            break;
        }
    }
    if (!row) return corrupt(def.tdefPage, "the table '" + def.name + "' has no catalogue row");
    PropBlob blob;
    if (!old.empty()) {
        auto parsed = parseBlob(old);
        if (!parsed.ok() || serializeBlob(*parsed) != old)
            return Error(Errc::Unsupported,
                         "The properties of the table '" + def.name +
                             "' are stored in a form this program cannot rewrite without losing "
                             "some; the field's properties were not changed");
        blob = std::move(*parsed);
    }
    edit(blob);
    const std::string fresh = blob.chunks.empty() ? std::string() : serializeBlob(blob);
    if (fresh == old) return Status::success();
    const std::pair<size_t, Value> change{static_cast<size_t>(cProp),
                                          fresh.empty() ? Value::null() : Value::binary(fresh)};
    return impl.update(objects, *row, {&change, 1});
}

// Every row's id with the value of one column.
Result<std::vector<std::pair<RowId, Value>>> columnValues(Change::Impl& impl, TableState& t,
                                                          size_t pos) {
    std::vector<std::pair<RowId, Value>> out;
    TableCursor cur(impl.db, t.def, {static_cast<int>(pos)});
    while (true) {
        TAB_ASSIGN_OR_RETURN(bool more, cur.next());
        if (!more) return out;
        out.emplace_back(cur.rowId(), cur.values()[pos]);
    }
}

Result<bool> hasRows(Change::Impl& impl, TableState& t) {
    TableCursor cur(impl.db, t.def, {});
    return cur.next();
}

}  // namespace

Status Change::Impl::addColumn(std::string_view tableName, const ColumnSpec& spec) {
    TAB_ASSIGN_OR_RETURN(size_t ti, userTable(*this, tableName));
    TableState& t = tables[ti];
    TableDef def = *t.def;
    TAB_TRY(write::checkObjectName(spec.name, "column"));
    if (def.findColumn(spec.name) >= 0)
        return invalid("The table '" + def.name + "' already has a field named '" + spec.name +
                       "'");
    if (def.columns.size() >= kMaxColumns)
        return invalid("The table '" + def.name + "' has 255 fields, the most a table can have");
    if (def.maxColumns >= kMaxColumns)
        return invalid("The table '" + def.name +
                       "' has used up its 255 field numbers (deleted fields count until the "
                       "database is compacted)");
    TAB_ASSIGN_OR_RETURN(Column c, describeColumn(def, spec, db.header().sortVersion));
    if (c.autoNumber)
        for (const Column& o : def.columns)
            if (o.autoNumber)
                return invalid("The table '" + def.name + "' already has an AutoNumber field ('" +
                               o.name + "')");
    TAB_ASSIGN_OR_RETURN(bool rows, hasRows(*this, t));
    if (rows && (c.autoNumber || c.autoGuid))
        return Error(Errc::Unsupported, "An AutoNumber field can be added to the table '" +
                                            def.name + "' only while it has no rows");
    // A required field needs a value in the rows there are: its default.
    std::optional<Value> fill;
    if (rows && c.required && c.type != ColumnType::Boolean) {
        fill = literalDefault(c.defaultValue);
        if (!fill)
            return invalid("The field " + quoted(def, c.name) +
                           " cannot be added as required (NOT NULL): the table has rows, which "
                           "would have no value; give it a DEFAULT that is a constant, or add it "
                           "without NOT NULL");
        auto v = convertValue(c, *fill);
        if (!v.ok())
            return invalid("The default value of the field " + quoted(def, c.name) +
                           " does not fit its type: " + v.error().message());
        fill = std::move(*v);
    }
    TAB_TRY(placeColumn(*this, def, c));
    if (c.autoNumber) {
        def.lastAutoNumber = spec.autoNumberSeed > 0 ? spec.autoNumberSeed - 1 : 0;
        t.lastAutoNumber = def.lastAutoNumber;
    }
    def.columns.push_back(c);
    TAB_TRY(writeDefinition(t, def, true));
    const std::vector<write::Property> props = columnProps(c);
    if (!props.empty())
        TAB_TRY(editProperties(*this, def, [&](PropBlob& b) { setColumnProps(b, c.name, props); }));
    if (fill) {
        TAB_ASSIGN_OR_RETURN(auto all, columnValues(*this, t, 0));
        const std::pair<size_t, Value> change{t.def->columns.size() - 1, *fill};
        for (const auto& [id, ignored] : all) TAB_TRY(update(ti, id, {&change, 1}));
    }
    t.touched = true;
    return Status::success();
}

Status Change::Impl::dropColumn(std::string_view tableName, std::string_view columnName) {
    TAB_ASSIGN_OR_RETURN(size_t ti, userTable(*this, tableName));
    TableState& t = tables[ti];
    TableDef def = *t.def;
    const int pos = def.findColumn(columnName);
    if (pos < 0)
        return Error(Errc::NotFound, "The table '" + def.name + "' has no field named '" +
                                         std::string(columnName) + "'");
    const Column c = def.columns[static_cast<size_t>(pos)];
    TAB_TRY(refuseIfUsed(*this, def, c, "delete"));
    if (def.columns.size() == 1)
        return invalid("The field " + quoted(def, c.name) +
                       " is the table's only field; drop the table instead");
    TAB_TRY(removeColumn(*this, def, static_cast<size_t>(pos)));
    TAB_TRY(writeDefinition(t, def, true));
    TAB_TRY(editProperties(*this, def, [&](PropBlob& b) { removeColumnProps(b, c.name); }));
    t.touched = true;
    return Status::success();
}

Status Change::Impl::alterColumn(std::string_view tableName, const ColumnSpec& spec) {
    TAB_ASSIGN_OR_RETURN(size_t ti, userTable(*this, tableName));
    TableState& t = tables[ti];
    TableDef def = *t.def;
    const int found = def.findColumn(spec.name);
    if (found < 0)
        return Error(Errc::NotFound,
                     "The table '" + def.name + "' has no field named '" + spec.name + "'");
    const size_t pos = static_cast<size_t>(found);
    const Column old = def.columns[pos];
    TAB_ASSIGN_OR_RETURN(Column nc, describeColumn(def, spec, db.header().sortVersion));
    nc.name = old.name;
    if (old.autoNumber != nc.autoNumber || old.autoGuid != nc.autoGuid)
        return Error(Errc::Unsupported, "The field " + quoted(def, old.name) +
                                            " cannot be changed to or from an AutoNumber");
    const bool text = old.type == ColumnType::Text && nc.type == ColumnType::Text;
    const bool sameStorage = old.type == nc.type &&
                             (text ? nc.length >= old.length : old.length == nc.length) &&
                             old.precision == nc.precision && old.scale == nc.scale;
    if (old.type == ColumnType::Complex || old.calculated)
        return Error(Errc::Unsupported,
                     "The field " + quoted(def, old.name) + " cannot be changed by this program");

    // The rows must keep the new rules.
    TAB_ASSIGN_OR_RETURN(auto values, columnValues(*this, t, pos));
    std::vector<Value> converted(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const Value& v = values[i].second;
        if (v.isNull()) {
            if (nc.required && nc.type != ColumnType::Boolean)
                return invalid("The field " + quoted(def, old.name) +
                               " cannot be made required: some rows have no value in it");
            continue;
        }
        auto x = sameStorage ? Result<Value>(v) : convertValue(nc, v);
        if (!x.ok())
            return invalid("The value '" + valueToText(v) + "' of the field " +
                           quoted(def, old.name) + " cannot be converted to " +
                           columnTypeName(nc.type) + ": " + x.error().message());
        if ((nc.type == ColumnType::Text || nc.type == ColumnType::Memo) && !nc.allowZeroLength &&
            x->kind() == Value::Kind::Text && x->bytes().empty())
            return invalid("The field " + quoted(def, old.name) +
                           " cannot refuse zero-length strings: some rows hold one");
        converted[i] = std::move(*x);
    }

    if (sameStorage) {
        // Only the rules or the most characters change: the rows stay.
        Column c = old;
        c.length = nc.length;
        c.size = nc.size;
        c.required = nc.required;
        c.allowZeroLength = nc.allowZeroLength;
        c.defaultValue = nc.defaultValue;
        def.columns[pos] = c;
        TAB_TRY(writeDefinition(t, def, true));
        const auto props = columnProps(c);
        TAB_TRY(editProperties(*this, def, [&](PropBlob& b) { setColumnProps(b, c.name, props); }));
        t.touched = true;
        return Status::success();
    }

    // A new type: the values go into a new column with the old one's name.
    // It has a new number, and readers order columns by number, so it becomes
    // the last column. Its indexes are built again over the new values; a
    // relationship's other side would change too, so that is refused.
    TAB_ASSIGN_OR_RETURN(std::string rel, relationshipOver(*this, def, old.name));
    if (!rel.empty())
        return invalid("Cannot change the type or size of the field " + quoted(def, old.name) +
                       ": it is part of the relationship '" + rel +
                       "'; delete the relationship first");
    if (def.maxColumns >= kMaxColumns)
        return invalid("The table '" + def.name +
                       "' has used up its 255 field numbers (deleted fields count until the "
                       "database is compacted)");
    std::vector<IndexSpec> rebuilt;
    for (const Index& ix : def.indexes) {
        if (ix.realIndex >= def.realIndexes.size()) continue;
        const RealIndex& ri = def.realIndexes[ix.realIndex];
        if (std::none_of(ri.columns.begin(), ri.columns.end(),
                         [&](const IndexColumn& ic) { return ic.columnNumber == old.number; }))
            continue;
        IndexSpec is;
        is.name = ix.name;
        is.primaryKey = ix.primaryKey();
        is.unique = ri.unique();
        is.required = ri.required();
        is.ignoreNulls = ri.ignoreNulls();
        for (const IndexColumn& ic : ri.columns)
            for (const Column& c : def.columns)
                if (c.number == ic.columnNumber) is.columns.push_back({c.name, ic.ascending});
        rebuilt.push_back(std::move(is));
    }
    for (const IndexSpec& is : rebuilt) TAB_TRY(dropIndex(def.name, is.name));
    def = *t.def;
    Column target = nc;
    target.required = false;  // checked above; set once the values are in
    target.allowZeroLength = true;
    target.defaultValue.clear();
    TAB_TRY(placeColumn(*this, def, target));
    def.columns.push_back(target);
    TAB_TRY(writeDefinition(t, def, true));
    const size_t last = def.columns.size() - 1;
    for (size_t i = 0; i < values.size(); ++i) {
        if (converted[i].isNull()) continue;
        const std::pair<size_t, Value> change{last, converted[i]};
        TAB_TRY(update(ti, values[i].first, {&change, 1}));
    }
    def = *t.def;
    TAB_TRY(removeColumn(*this, def, pos));
    Column& placed = def.columns.back();
    placed.required = nc.required;
    placed.allowZeroLength = nc.allowZeroLength;
    placed.defaultValue = nc.defaultValue;
    TAB_TRY(writeDefinition(t, def, true));
    const auto props = columnProps(placed);
    TAB_TRY(editProperties(*this, def, [&](PropBlob& b) { setColumnProps(b, old.name, props); }));
    for (const IndexSpec& is : rebuilt) TAB_TRY(createIndex(def.name, is));
    t.touched = true;
    return Status::success();
}

}  // namespace tab::jet
