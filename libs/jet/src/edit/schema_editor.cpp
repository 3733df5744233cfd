// Tables and indexes created and dropped inside a change. A new table is
// written completely (maps, index roots, definition) before its catalogue
// row makes it visible; a dropped table disappears from the catalogue
// before its pages are freed.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "edit/change_impl.h"
#include "edit/space.h"
#include "internal.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/jet/index_reader.h"
#include "tabulary/jet/table_cursor.h"
#include "write/table_definition.h"
#include "write/table_layout.h"

namespace tab::jet {

using edit::allocatePage;
using edit::freePage;
using edit::mapAdd;
using edit::mapPages;
using edit::newUsageMap;

namespace {

constexpr int32_t kTablesContainer = 0x0F000001;
constexpr uint32_t kFullRights = 1048575;
constexpr uint16_t kEmptyLeafFree = 3616;

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Names that differ only in case, in any script, are one name.
std::string nameKey(std::string_view s) {
    return foldedCase(s);
}

double nowAsAccessDate() {
    using namespace std::chrono;
    const double secs =
        static_cast<double>(
            duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count()) /
        1000.0;
    return secs / 86400.0 + 25569.0;
}

Error invalid(const std::string& what) {
    return Error(Errc::InvalidArgument, what);
}

// An empty leaf: what a new index's root is.
Status writeEmptyLeaf(edit::Pager& pager, uint32_t page, uint32_t owner) {
    TAB_ASSIGN_OR_RETURN(uint8_t * p, pager.modify(page));
    std::memset(p, 0, 4096);
    p[0] = 0x04;
    p[1] = 0x01;
    put16(p + 2, kEmptyLeafFree);
    put32(p + 4, owner);
    return Status::success();
}

}  // namespace

Result<size_t> Change::Impl::catalogTable(const char* name) {
    TAB_ASSIGN_OR_RETURN(size_t i, open(name));
    if (!tables[i].refusal.empty()) return Error(Errc::Unsupported, tables[i].refusal);
    return i;
}

// The row of a system table whose Long column `column` holds `id`.
Result<std::optional<RowId>> Change::Impl::catalogRow(const char* table, const char* column,
                                                      int64_t id) {
    TAB_ASSIGN_OR_RETURN(size_t i, catalogTable(table));
    auto def = tables[i].def;
    const int c = def->findColumn(column);
    if (c < 0) return corrupt(def->tdefPage, std::string(table) + " has no column " + column);
    TableCursor cur(db, def, {c});
    while (true) {
        TAB_ASSIGN_OR_RETURN(bool more, cur.next());
        if (!more) return std::optional<RowId>();
        if (!cur.values()[static_cast<size_t>(c)].isNull() &&
            cur.values()[static_cast<size_t>(c)].asInt() == id)
            return std::optional<RowId>(cur.rowId());
    }
}

// Writes the definition over the table's TDEF chain (growing or shrinking
// it) and takes it as the table's new state.
Status Change::Impl::writeDefinition(TableState& t, const TableDef& def, bool ordinals) {
    if (t.def) TAB_TRY(settleCounts(t));
    for (auto& tr : t.trees)
        if (tr) TAB_TRY(tr->flush());
    write::TdefContent content;
    TableDef copy = def;
    copy.rowCount = static_cast<uint32_t>(std::max<int64_t>(0, int64_t{def.rowCount}));
    content.table = &copy;
    content.uniqueCounts = t.uniqueCounts;
    content.uniqueCounts.resize(def.realIndexes.size(), 0);
    for (const auto& m : def.longValueMaps)
        content.longValueMaps.push_back({m.columnNumber, m.owned, m.free});
    content.columnOrdinals = ordinals;
    const std::string tdef = write::buildTdef(content);

    std::vector<uint32_t> chain;
    for (uint32_t next = def.tdefPage; next && chain.size() < 64;) {
        if (next >= pager->pageCount()) break;
        chain.push_back(next);
        TAB_ASSIGN_OR_RETURN(PageRef p, pager->read(next));
        if ((*p)[0] != 0x02) break;
        next = u32At(p->data() + 4);
        if (std::find(chain.begin(), chain.end(), next) != chain.end()) break;
    }
    if (chain.empty()) chain.push_back(def.tdefPage);
    const size_t needed = write::tdefPageCount(tdef.size());
    while (chain.size() < needed) {
        TAB_ASSIGN_OR_RETURN(uint32_t p, allocatePage(*pager));
        chain.push_back(p);
    }
    while (chain.size() > needed) {
        TAB_TRY(freePage(*pager, chain.back()));
        chain.pop_back();
    }
    const auto pages = write::splitTdef(tdef, chain);
    for (size_t i = 0; i < chain.size(); ++i) {
        TAB_ASSIGN_OR_RETURN(uint8_t * p, pager->modify(chain[i]));
        std::memcpy(p, pages[i].data(), std::min<size_t>(pages[i].size(), 4096));
    }
    db.forgetDecoded();

    // The state follows the new definition; counts carry over.
    const int64_t delta = t.rowDelta;
    // A new table starts from its definition's counter (its seed).
    const uint32_t autoNumber = t.def ? t.lastAutoNumber : copy.lastAutoNumber;
    std::vector<uint32_t> counts = content.uniqueCounts;
    const bool touched = t.touched;
    TableState fresh;
    fresh.def = std::make_shared<const TableDef>(std::move(copy));
    TAB_TRY(prepare(fresh));
    fresh.rowDelta = delta;
    fresh.lastAutoNumber = autoNumber;
    fresh.uniqueCounts = counts;
    fresh.touched = touched;
    fresh.home.current = t.home.current;
    t = std::move(fresh);
    return Status::success();
}

Status Change::Impl::createTable(const TableSpec& spec) {
    if (now == 0) now = nowAsAccessDate();
    TAB_ASSIGN_OR_RETURN(write::TableLayout layout,
                         write::layoutTable(spec, db.header().sortVersion));
    for (const auto& o : db.catalog().objects)
        if ((o.parentId == kTablesContainer || o.kind == ObjectKind::Query) &&
            nameKey(o.name) == nameKey(spec.name))
            return invalid("The table '" + spec.name + "' already exists");
    if (createdNames.count(nameKey(spec.name)))
        return invalid("The table '" + spec.name + "' already exists");
    TableDef def = std::move(layout.def);

    TAB_ASSIGN_OR_RETURN(def.tdefPage, allocatePage(*pager));
    TAB_ASSIGN_OR_RETURN(def.ownedPages, newUsageMap(*pager, def.tdefPage));
    std::vector<uint32_t> hosts{def.ownedPages >> 8};
    TAB_ASSIGN_OR_RETURN(def.freePages, newUsageMap(*pager, def.tdefPage, hosts));
    for (RealIndex& ri : def.realIndexes) {
        TAB_ASSIGN_OR_RETURN(ri.rootPage, allocatePage(*pager));
        TAB_TRY(writeEmptyLeaf(*pager, ri.rootPage, def.tdefPage));
        TAB_ASSIGN_OR_RETURN(ri.usageMap, newUsageMap(*pager, ri.rootPage, hosts));
        TAB_TRY(mapAdd(*pager, ri.usageMap, ri.rootPage));
    }
    for (const Column& c : def.columns) {
        if (c.type != ColumnType::Memo && c.type != ColumnType::Ole) continue;
        TableDef::LongValueMaps m;
        m.columnNumber = c.number;
        TAB_ASSIGN_OR_RETURN(m.owned, newUsageMap(*pager, def.tdefPage, hosts));
        TAB_ASSIGN_OR_RETURN(m.free, newUsageMap(*pager, def.tdefPage, hosts));
        def.longValueMaps.push_back(m);
    }
    TableState t;
    t.uniqueCounts.assign(def.realIndexes.size(), 0);
    TAB_TRY(writeDefinition(t, def, true));

    // The catalogue row makes the table visible; its permissions follow.
    TAB_TRY(addObject(static_cast<int32_t>(def.tdefPage), kTablesContainer, spec.name, 1, 0,
                      layout.properties));
    TAB_TRY(addPermissions(static_cast<int32_t>(def.tdefPage)));
    t.touched = true;
    createdNames.insert(nameKey(spec.name));
    tables.push_back(std::move(t));
    return Status::success();
}

Result<std::string> Change::Impl::ownerSid() {
    TAB_ASSIGN_OR_RETURN(size_t objects, catalogTable("MSysObjects"));
    auto def = tables[objects].def;
    const int cName = def->findColumn("Name"), cOwner = def->findColumn("Owner");
    if (cName < 0 || cOwner < 0) return std::string("\xA6\x33", 2);
    TableCursor cur(db, def, {cName, cOwner});
    while (true) {
        TAB_ASSIGN_OR_RETURN(bool more, cur.next());
        if (!more) break;
        if (cur.values()[static_cast<size_t>(cName)].bytes() == "MSysDb" &&
            !cur.values()[static_cast<size_t>(cOwner)].isNull())
            return cur.values()[static_cast<size_t>(cOwner)].bytes();
    }
    return std::string("\xA6\x33", 2);  // what Jet writes when MSysDb has none
}

Status Change::Impl::addObject(int32_t id, int32_t parent, const std::string& name, int16_t type,
                               uint32_t flags, const std::string& properties) {
    if (now == 0) now = nowAsAccessDate();
    TAB_ASSIGN_OR_RETURN(std::string owner, ownerSid());
    TAB_ASSIGN_OR_RETURN(size_t objects, catalogTable("MSysObjects"));
    auto def = tables[objects].def;
    std::vector<Value> row(def->columns.size());
    auto set = [&](const char* column, Value v) {
        const int c = def->findColumn(column);
        if (c >= 0) row[static_cast<size_t>(c)] = std::move(v);
    };
    set("Id", Value::integer(id));
    set("ParentId", Value::integer(parent));
    set("Name", Value::text(name));
    set("Type", Value::integer(type));
    set("DateCreate", Value::dateTime(now));
    set("DateUpdate", Value::dateTime(now));
    set("Owner", Value::binary(owner));
    set("Flags", Value::integer(static_cast<int32_t>(flags)));
    if (!properties.empty()) set("LvProp", Value::binary(properties));
    auto added = insert(objects, row);
    if (!added.ok()) return added.error();
    return Status::success();
}

// The new object gets the rights every user has on the Tables container.
Status Change::Impl::addPermissions(int32_t id) {
    if (!db.catalog().findTable("MSysACEs")) return Status::success();
    TAB_ASSIGN_OR_RETURN(size_t aces, catalogTable("MSysACEs"));
    auto def = tables[aces].def;
    const int cObject = def->findColumn("ObjectId"), cSid = def->findColumn("SID");
    if (cObject < 0 || cSid < 0) return Status::success();
    std::vector<std::string> sids;
    TableCursor cur(db, def, {cObject, cSid});
    while (true) {
        TAB_ASSIGN_OR_RETURN(bool more, cur.next());
        if (!more) break;
        const Value& object = cur.values()[static_cast<size_t>(cObject)];
        const Value& sid = cur.values()[static_cast<size_t>(cSid)];
        if (!object.isNull() && object.asInt() == kTablesContainer && !sid.isNull() &&
            std::find(sids.begin(), sids.end(), sid.bytes()) == sids.end())
            sids.push_back(sid.bytes());
    }
    for (const std::string& sid : sids) {
        std::vector<Value> ace(def->columns.size());
        auto put = [&](const char* column, Value v) {
            const int c = def->findColumn(column);
            if (c >= 0) ace[static_cast<size_t>(c)] = std::move(v);
        };
        put("ObjectId", Value::integer(id));
        put("SID", Value::binary(sid));
        put("ACM", Value::integer(kFullRights));
        put("FInheritable", Value::boolean(false));
        auto added = insert(aces, ace);
        if (!added.ok()) return added.error();
    }
    return Status::success();
}

// The object's catalogue row, then its permissions and query rows.
Status Change::Impl::removeObjectRows(int32_t id) {
    TAB_ASSIGN_OR_RETURN(size_t objects, catalogTable("MSysObjects"));
    TAB_ASSIGN_OR_RETURN(auto row, catalogRow("MSysObjects", "Id", id));
    if (!row) return corrupt(2, "a catalogue row is missing");
    TAB_TRY(remove(objects, *row));
    for (const char* table : {"MSysACEs", "MSysQueries"}) {
        if (!db.catalog().findTable(table)) continue;
        TAB_ASSIGN_OR_RETURN(size_t t, catalogTable(table));
        while (true) {
            TAB_ASSIGN_OR_RETURN(auto r, catalogRow(table, "ObjectId", id));
            if (!r) break;
            TAB_TRY(remove(t, *r));
        }
    }
    return Status::success();
}

Status Change::Impl::createQuery(const std::string& name, uint32_t flags,
                                 const std::vector<QueryRow>& rows) {
    TAB_TRY(write::checkObjectName(name, "query"));
    for (const auto& o : db.catalog().objects)
        if ((o.parentId == kTablesContainer || o.kind == ObjectKind::Query) &&
            nameKey(o.name) == nameKey(name))
            return invalid("The name '" + name + "' is already used by a table or query");
    if (createdNames.count(nameKey(name)))
        return invalid("The name '" + name + "' is already used by a table or query");
    // Objects without pages count up from 0x80000000.
    int64_t id = lastSyntheticId ? int64_t{lastSyntheticId} + 1 : int64_t{INT32_MIN};
    if (!lastSyntheticId)
        for (const auto& o : db.catalog().objects)
            if (o.id < 0) id = std::max<int64_t>(id, int64_t{o.id} + 1);
    if (id >= 0) return invalid("The database has no room for more objects");
    lastSyntheticId = static_cast<int32_t>(id);
    TAB_TRY(addObject(lastSyntheticId, kTablesContainer, name, 5, flags, {}));
    TAB_TRY(addPermissions(lastSyntheticId));
    TAB_ASSIGN_OR_RETURN(size_t queries, catalogTable("MSysQueries"));
    auto def = tables[queries].def;
    for (const QueryRow& q : rows) {
        std::vector<Value> row(def->columns.size());
        auto set = [&](const char* column, Value v) {
            const int c = def->findColumn(column);
            if (c >= 0) row[static_cast<size_t>(c)] = std::move(v);
        };
        set("ObjectId", Value::integer(lastSyntheticId));
        set("Attribute", Value::integer(q.attribute));
        set("Order", Value::binary(q.order));
        if (q.name1) set("Name1", Value::text(*q.name1));
        if (q.name2) set("Name2", Value::text(*q.name2));
        if (q.expression) set("Expression", Value::text(*q.expression));
        set("Flag", Value::integer(q.flag));
        if (q.lvExtra) set("LvExtra", Value::integer(*q.lvExtra));
        auto added = insert(queries, row);
        if (!added.ok()) return added.error();
    }
    createdNames.insert(nameKey(name));
    return Status::success();
}

Status Change::Impl::dropQuery(std::string_view name) {
    const CatalogObject* o = db.catalog().find(name, ObjectKind::Query);
    if (!o) return Error(Errc::NotFound, "The query '" + std::string(name) + "' does not exist");
    return removeObjectRows(o->id);
}

Status Change::Impl::dropTable(std::string_view name) {
    const CatalogObject* o = db.catalog().findTable(name);
    if (!o || o->kind == ObjectKind::SystemTable)
        return Error(Errc::NotFound, "The table '" + std::string(name) + "' does not exist" +
                                         (o ? " as a table that can be dropped" : ""));
    const std::string tableName = o->name;
    const int32_t id = o->id;
    const bool local = o->kind == ObjectKind::UserTable;
    if (db.catalog().findTable("MSysRelationships")) {
        TAB_ASSIGN_OR_RETURN(size_t rel, catalogTable("MSysRelationships"));
        auto relDef = tables[rel].def;
        const int a = relDef->findColumn("szObject"), b = relDef->findColumn("szReferencedObject");
        TableCursor cur(db, relDef, {a, b});
        while (true) {
            TAB_ASSIGN_OR_RETURN(bool more, cur.next());
            if (!more) break;
            for (int c : {a, b})
                if (c >= 0 &&
                    nameKey(cur.values()[static_cast<size_t>(c)].bytes()) == nameKey(tableName))
                    return invalid("The table '" + tableName +
                                   "' is part of one or more relationships; delete its "
                                   "relationships first");
        }
    }
    std::optional<size_t> state;
    if (local) {
        TAB_ASSIGN_OR_RETURN(size_t s, openAtPage(o->tdefPage()));
        for (const Column& c : tables[s].def->columns)
            if (c.type == ColumnType::Complex)
                return Error(Errc::Unsupported,
                             "The table '" + tableName +
                                 "' has attachment or multi-value columns; this program cannot "
                                 "drop it yet");
        state = s;
    }
    // Out of the catalogue first: from here on the table is gone.
    TAB_TRY(removeObjectRows(id));
    if (!state) return Status::success();

    TableState& t = tables[*state];
    const TableDef& d = *t.def;
    for (auto& tr : t.trees) tr.reset();
    std::set<uint32_t> mapHosts;
    auto dropMap = [&](uint32_t map) -> Status {
        if (!map) return Status::success();
        TAB_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, mapPages(*pager, map));
        for (uint32_t p : pages) TAB_TRY(freePage(*pager, p));
        mapHosts.insert(map >> 8);
        return edit::deleteSlot(*pager, map);
    };
    TAB_TRY(dropMap(d.ownedPages));
    if (d.freePages) {
        mapHosts.insert(d.freePages >> 8);
        TAB_TRY(edit::deleteSlot(*pager, d.freePages));
    }
    std::set<uint32_t> indexMaps;
    for (const RealIndex& ri : d.realIndexes) indexMaps.insert(ri.usageMap);
    for (uint32_t m : indexMaps) TAB_TRY(dropMap(m));
    for (const auto& lv : d.longValueMaps) {
        TAB_TRY(dropMap(lv.owned));
        if (lv.free) {
            mapHosts.insert(lv.free >> 8);
            TAB_TRY(edit::deleteSlot(*pager, lv.free));
        }
    }
    for (uint32_t next = d.tdefPage, hops = 0; next && hops < 64; ++hops) {
        TAB_ASSIGN_OR_RETURN(PageRef p, pager->read(next));
        if ((*p)[0] != 0x02) break;
        const uint32_t following = u32At(p->data() + 4);
        TAB_TRY(freePage(*pager, next));
        next = following;
    }
    for (uint32_t host : mapHosts) {
        TAB_ASSIGN_OR_RETURN(uint32_t live, edit::liveRows(*pager, host));
        if (live == 0) TAB_TRY(freePage(*pager, host));
    }
    t.refusal = "The table '" + tableName + "' was dropped";
    t.touched = false;
    db.forgetDecoded();
    return Status::success();
}

Status Change::Impl::createIndex(std::string_view tableName, const IndexSpec& spec) {
    TAB_ASSIGN_OR_RETURN(size_t ti, open(tableName));
    TableState& t = tables[ti];
    if (!t.refusal.empty()) return Error(Errc::Unsupported, t.refusal);
    TableDef def = *t.def;
    TAB_TRY(write::checkObjectName(spec.name, "index"));
    for (const Index& ix : def.indexes)
        if (nameKey(ix.name) == nameKey(spec.name))
            return invalid("The table '" + def.name + "' already has an index named '" + spec.name +
                           "'");
    if (spec.primaryKey)
        for (const Index& ix : def.indexes)
            if (ix.primaryKey())
                return invalid("The table '" + def.name + "' already has a primary key ('" +
                               ix.name + "')");
    if (spec.columns.empty() || spec.columns.size() > 10)
        return invalid("An index has 1 to 10 fields");
    if (def.indexes.size() >= 32) return invalid("The table '" + def.name + "' has 32 indexes");
    RealIndex ri;
    for (const IndexColumnSpec& ic : spec.columns) {
        const int pos = def.findColumn(ic.column);
        if (pos < 0)
            return invalid("The table '" + def.name + "' has no field named '" + ic.column + "'");
        const Column& c = def.columns[static_cast<size_t>(pos)];
        if (c.type == ColumnType::Ole || c.type == ColumnType::Complex)
            return invalid("The field '" + def.name + "." + c.name + "' cannot be indexed");
        ri.columns.push_back({c.number, ic.ascending});
    }
    ri.flags = 0x80;
    if (spec.unique || spec.primaryKey) ri.flags |= 0x01;
    if (spec.ignoreNulls) ri.flags |= 0x02;
    if (spec.required || spec.primaryKey) ri.flags |= 0x08;
    uint32_t real = 0;
    for (; real < def.realIndexes.size(); ++real) {
        const RealIndex& o = def.realIndexes[real];
        bool same = o.flags == ri.flags && o.columns.size() == ri.columns.size();
        for (size_t k = 0; same && k < ri.columns.size(); ++k)
            same = o.columns[k].columnNumber == ri.columns[k].columnNumber &&
                   o.columns[k].ascending == ri.columns[k].ascending;
        if (same) break;
    }
    const bool fresh = real == def.realIndexes.size();
    if (fresh) {
        TAB_ASSIGN_OR_RETURN(ri.rootPage, allocatePage(*pager));
        TAB_TRY(writeEmptyLeaf(*pager, ri.rootPage, def.tdefPage));
        TAB_ASSIGN_OR_RETURN(ri.usageMap, newUsageMap(*pager, ri.rootPage, {def.ownedPages >> 8}));
        TAB_TRY(mapAdd(*pager, ri.usageMap, ri.rootPage));
        def.realIndexes.push_back(ri);
    }
    Index ix;
    ix.name = spec.name;
    ix.realIndex = real;
    ix.indexType = spec.primaryKey ? 1 : 0;
    for (const Index& o : def.indexes) ix.number = std::max(ix.number, o.number + 1);
    def.indexes.push_back(ix);
    t.uniqueCounts.resize(def.realIndexes.size(), 0);
    TAB_TRY(writeDefinition(t, def, true));
    if (!fresh) return Status::success();

    // Filled from the rows there are, every rule checked as for an insert.
    TableCursor cur(db, t.def);
    std::vector<Value> row;
    while (true) {
        TAB_ASSIGN_OR_RETURN(bool more, cur.next());
        if (!more) break;
        row = cur.values();
        std::vector<bool> only(def.columns.size(), false);
        for (size_t p : t.uses[real].positions) only[p] = true;
        TAB_TRY(checkKeys(t, row, cur.rowId(), &only));
        bool allNull = false;
        TAB_ASSIGN_OR_RETURN(std::string key, keyOf(t, real, row, allNull));
        if (allNull && t.uses[real].ignoreNulls) continue;
        TAB_ASSIGN_OR_RETURN(edit::IndexTree * tr, tree(t, real));
        TAB_ASSIGN_OR_RETURN(bool seen, tr->containsKey(key));
        if (!seen) ++t.uniqueCounts[real];
        TAB_TRY(tr->insert(key, cur.rowId()));
    }
    t.touched = true;
    return Status::success();
}

Status Change::Impl::dropIndex(std::string_view tableName, std::string_view indexName) {
    TAB_ASSIGN_OR_RETURN(size_t ti, open(tableName));
    TableState& t = tables[ti];
    if (!t.refusal.empty()) return Error(Errc::Unsupported, t.refusal);
    TableDef def = *t.def;
    auto it = std::find_if(def.indexes.begin(), def.indexes.end(),
                           [&](const Index& ix) { return nameKey(ix.name) == nameKey(indexName); });
    if (it == def.indexes.end())
        return invalid("The table '" + def.name + "' has no index named '" +
                       std::string(indexName) + "'");
    if (it->foreignKey())
        return invalid("The index '" + it->name +
                       "' belongs to a relationship; delete the relationship instead");
    // An index that the other side of a relationship points to stays.
    for (const Index& o : def.indexes)
        if (o.foreignKey() && o.realIndex == it->realIndex)
            return invalid("The index '" + it->name + "' is used by the relationship '" + o.name +
                           "'; delete the relationship first");
    return dropLogicalIndex(t, static_cast<size_t>(it - def.indexes.begin()));
}

// Takes one logical index out of the definition; its real index (pages,
// usage map) goes too when no other logical index uses it.
Status Change::Impl::dropLogicalIndex(TableState& t, size_t position) {
    TAB_TRY(settleCounts(t));
    TableDef def = *t.def;
    auto it = def.indexes.begin() + static_cast<std::ptrdiff_t>(position);
    const uint32_t real = it->realIndex;
    def.indexes.erase(it);
    const bool shared = std::any_of(def.indexes.begin(), def.indexes.end(),
                                    [&](const Index& ix) { return ix.realIndex == real; });
    if (!shared && real < def.realIndexes.size()) {
        for (auto& tr : t.trees)
            if (tr) TAB_TRY(tr->flush());
        t.trees.clear();
        const RealIndex& ri = def.realIndexes[real];
        TAB_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, mapPages(*pager, ri.usageMap));
        for (uint32_t p : pages) TAB_TRY(freePage(*pager, p));
        TAB_TRY(edit::deleteSlot(*pager, ri.usageMap));
        def.realIndexes.erase(def.realIndexes.begin() + real);
        if (real < t.uniqueCounts.size()) t.uniqueCounts.erase(t.uniqueCounts.begin() + real);
        for (Index& ix : def.indexes)
            if (ix.realIndex > real) --ix.realIndex;
    }
    TAB_TRY(writeDefinition(t, def, true));
    t.touched = true;
    return Status::success();
}

}  // namespace tab::jet
