// Relationships that enforce referential integrity, kept as Access keeps
// them: one MSysRelationships row per column pair, and a logical index of
// type "relationship" on each side pointing at the other (the many side's
// over the foreign-key columns, the one side's sharing the referenced key).
#include <algorithm>

#include "edit/change_impl.h"
#include "internal.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/jet/index_reader.h"
#include "tabulary/jet/table_cursor.h"
#include "write/table_layout.h"

namespace tab::jet {
namespace {

constexpr int32_t kCascadeUpdates = 0x100;
constexpr int32_t kCascadeDeletes = 0x1000;
constexpr int32_t kCascadeNull = 0x2000;

// Names that differ only in case, in any script, are one name.
std::string nameKey(std::string_view s) {
    return foldedCase(s);
}

Error invalid(const std::string& what) {
    return Error(Errc::InvalidArgument, what);
}

// Types whose values can refer to each other (an AutoNumber is a Long).
bool compatible(const Column& a, const Column& b) {
    if (a.type != b.type) return false;
    if (a.type == ColumnType::Decimal) return a.precision == b.precision && a.scale == b.scale;
    return true;
}

}  // namespace

Status Change::Impl::createRelationship(const Change::Relationship& r) {
    if (!db.catalog().findTable("MSysRelationships"))
        return Error(Errc::Unsupported, "The database has no MSysRelationships table");
    TAB_TRY(write::checkObjectName(r.name, "relationship"));
    TAB_ASSIGN_OR_RETURN(size_t manyIndex, open(r.table));
    TAB_ASSIGN_OR_RETURN(size_t oneIndex, open(r.referencedTable));
    if (manyIndex == oneIndex)
        return Error(Errc::Unsupported,
                     "A relationship of the table '" + r.table + "' with itself is not supported");
    for (size_t i : {manyIndex, oneIndex})
        if (!tables[i].refusal.empty()) return Error(Errc::Unsupported, tables[i].refusal);
    const TableDef& many = *tables[manyIndex].def;
    const TableDef& one = *tables[oneIndex].def;

    // The one side's key: the columns named, or its primary key.
    std::vector<uint16_t> oneColumns;
    if (r.referencedColumns.empty()) {
        for (const Index& ix : one.indexes)
            if (ix.primaryKey() && ix.realIndex < one.realIndexes.size())
                for (const IndexColumn& ic : one.realIndexes[ix.realIndex].columns)
                    oneColumns.push_back(ic.columnNumber);
        if (oneColumns.empty())
            return invalid("The table '" + one.name +
                           "' has no primary key for the relationship to refer to");
    } else {
        for (const std::string& name : r.referencedColumns) {
            const int p = one.findColumn(name);
            if (p < 0)
                return invalid("The table '" + one.name + "' has no field named '" + name + "'");
            oneColumns.push_back(one.columns[static_cast<size_t>(p)].number);
        }
    }
    if (oneColumns.size() != r.columns.size())
        return invalid("The relationship '" + r.name + "' names " +
                       std::to_string(r.columns.size()) + " fields of '" + many.name + "' for " +
                       std::to_string(oneColumns.size()) + " of '" + one.name + "'");
    int oneReal = -1;
    for (size_t k = 0; k < one.realIndexes.size() && oneReal < 0; ++k) {
        const RealIndex& ri = one.realIndexes[k];
        bool unique = ri.unique();
        for (const Index& ix : one.indexes)
            if (ix.realIndex == k && ix.primaryKey()) unique = true;
        if (!unique || ri.columns.size() != oneColumns.size()) continue;
        bool same = true;
        for (size_t c = 0; c < oneColumns.size(); ++c)
            same = same && ri.columns[c].columnNumber == oneColumns[c];
        if (same) oneReal = static_cast<int>(k);
    }
    if (oneReal < 0)
        return invalid("No unique index found for the referenced fields of the table '" + one.name +
                       "'");
    std::vector<size_t> manyPositions;
    for (size_t c = 0; c < r.columns.size(); ++c) {
        const int p = many.findColumn(r.columns[c]);
        if (p < 0)
            return invalid("The table '" + many.name + "' has no field named '" + r.columns[c] +
                           "'");
        const Column& mc = many.columns[static_cast<size_t>(p)];
        const Column* oc = one.columnByNumber(oneColumns[c]);
        if (!oc || !compatible(mc, *oc))
            return invalid("The field '" + many.name + "." + mc.name +
                           "' has another type than the field it refers to in '" + one.name + "'");
        manyPositions.push_back(static_cast<size_t>(p));
    }
    for (const Index& ix : many.indexes)
        if (nameKey(ix.name) == nameKey(r.name))
            return invalid("The table '" + many.name + "' already has an index named '" + r.name +
                           "'");

    // Every row of the many side must already have its match.
    {
        std::vector<int> wanted(manyPositions.begin(), manyPositions.end());
        TableCursor cur(db, tables[manyIndex].def, wanted);
        TAB_ASSIGN_OR_RETURN(edit::IndexTree * tr,
                             tree(tables[oneIndex], static_cast<size_t>(oneReal)));
        while (true) {
            TAB_ASSIGN_OR_RETURN(bool more, cur.next());
            if (!more) break;
            std::vector<Value> key;
            bool anyNull = false;
            for (size_t p : manyPositions) {
                key.push_back(cur.values()[p]);
                anyNull = anyNull || cur.values()[p].isNull();
            }
            if (anyNull) continue;
            auto bytes =
                encodeIndexKey(db, one, one.realIndexes[static_cast<size_t>(oneReal)], key);
            if (!bytes.ok()) return bytes.error();
            TAB_ASSIGN_OR_RETURN(bool exists, tr->containsKey(*bytes));
            if (!exists)
                return invalid("Data in the table '" + many.name +
                               "' violates referential integrity rules: a record refers to a "
                               "record of '" +
                               one.name + "' that does not exist");
        }
    }

    // The many side's index over the foreign key (filled from its rows).
    IndexSpec fk;
    fk.name = r.name;
    for (size_t p : manyPositions) fk.columns.push_back({many.columns[p].name, true});
    const std::string manyName = many.name, oneName = one.name;
    const uint32_t manyPage = many.tdefPage, onePage = one.tdefPage;
    TAB_TRY(createIndex(manyName, fk));

    // Logical numbers of the two new indexes, each pointing at the other.
    TableDef manyDef = *tables[manyIndex].def;
    TableDef oneDef = *tables[oneIndex].def;
    uint32_t oneNumber = 0;
    for (const Index& ix : oneDef.indexes) oneNumber = std::max(oneNumber, ix.number + 1);
    auto manyIt = std::find_if(manyDef.indexes.begin(), manyDef.indexes.end(),
                               [&](const Index& ix) { return ix.name == r.name; });
    if (manyIt == manyDef.indexes.end()) return Error(Errc::Internal, "the new index is missing");
    auto link = [&](Index& ix, uint8_t side, uint32_t relatedIndex, uint32_t relatedTable) {
        ix.indexType = 2;
        ix.relationSide = side;
        ix.relatedIndex = relatedIndex;
        ix.relatedTable = relatedTable;
        ix.cascadeUpdates = r.cascadeUpdates;
        ix.cascadeDeletes = r.cascadeDeletes;
        ix.cascadeNull = r.cascadeNull;
    };
    link(*manyIt, 2, oneNumber, onePage);
    Index oneIx;
    // Access gives the one side's index a generated name starting with '.'.
    for (char c = 'A';; ++c) {
        oneIx.name = std::string(".r") + c;
        const bool taken = std::any_of(oneDef.indexes.begin(), oneDef.indexes.end(),
                                       [&](const Index& ix) { return ix.name == oneIx.name; });
        if (!taken) break;
        if (c == 'Z') {
            oneIx.name = ".r" + std::to_string(oneNumber);
            break;
        }
    }
    oneIx.number = oneNumber;
    oneIx.realIndex = static_cast<uint32_t>(oneReal);
    link(oneIx, 1, manyIt->number, manyPage);
    oneDef.indexes.push_back(oneIx);
    if (oneDef.indexes.size() > 32) return invalid("The table '" + oneName + "' has 32 indexes");
    TAB_TRY(writeDefinition(tables[manyIndex], manyDef, true));
    TAB_TRY(writeDefinition(tables[oneIndex], oneDef, true));
    tables[manyIndex].touched = tables[oneIndex].touched = true;

    // One MSysRelationships row per pair of columns.
    TAB_ASSIGN_OR_RETURN(size_t rel, catalogTable("MSysRelationships"));
    auto relDef = tables[rel].def;
    {
        const int cName = relDef->findColumn("szRelationship");
        TableCursor cur(db, relDef, {cName});
        while (true) {
            TAB_ASSIGN_OR_RETURN(bool more, cur.next());
            if (!more) break;
            if (nameKey(cur.values()[static_cast<size_t>(cName)].bytes()) == nameKey(r.name))
                return invalid("A relationship named '" + r.name + "' already exists");
        }
    }
    int32_t grbit = 0;
    if (r.cascadeUpdates) grbit |= kCascadeUpdates;
    if (r.cascadeDeletes) grbit |= kCascadeDeletes;
    if (r.cascadeNull) grbit |= kCascadeNull;
    for (size_t c = 0; c < manyPositions.size(); ++c) {
        std::vector<Value> row(relDef->columns.size());
        auto set = [&](const char* column, Value v) {
            const int k = relDef->findColumn(column);
            if (k >= 0) row[static_cast<size_t>(k)] = std::move(v);
        };
        set("ccolumn", Value::integer(static_cast<int64_t>(manyPositions.size())));
        set("grbit", Value::integer(grbit));
        set("icolumn", Value::integer(static_cast<int64_t>(c)));
        set("szColumn", Value::text(manyDef.columns[manyPositions[c]].name));
        set("szObject", Value::text(manyName));
        set("szReferencedColumn", Value::text(oneDef.columnByNumber(oneColumns[c])->name));
        set("szReferencedObject", Value::text(oneName));
        set("szRelationship", Value::text(r.name));
        auto added = insert(rel, row);
        if (!added.ok()) return added.error();
    }
    return Status::success();
}

Status Change::Impl::dropRelationship(std::string_view table, std::string_view name) {
    if (!db.catalog().findTable("MSysRelationships"))
        return Error(Errc::NotFound, "The database has no relationships");
    TAB_ASSIGN_OR_RETURN(size_t rel, catalogTable("MSysRelationships"));
    auto relDef = tables[rel].def;
    const int cName = relDef->findColumn("szRelationship"),
              cObject = relDef->findColumn("szObject"),
              cRef = relDef->findColumn("szReferencedObject");
    if (cName < 0 || cObject < 0 || cRef < 0)
        return corrupt(relDef->tdefPage, "MSysRelationships lacks its name columns");
    std::vector<RowId> rows;
    std::string manyName, oneName;
    {
        TableCursor cur(db, relDef, {cName, cObject, cRef});
        while (true) {
            TAB_ASSIGN_OR_RETURN(bool more, cur.next());
            if (!more) break;
            const auto& v = cur.values();
            if (nameKey(v[static_cast<size_t>(cName)].bytes()) != nameKey(name)) continue;
            const std::string object = v[static_cast<size_t>(cObject)].bytes();
            const std::string ref = v[static_cast<size_t>(cRef)].bytes();
            if (nameKey(object) != nameKey(table) && nameKey(ref) != nameKey(table)) continue;
            rows.push_back(cur.rowId());
            manyName = object;
            oneName = ref;
        }
    }
    if (rows.empty())
        return Error(Errc::NotFound, "The table '" + std::string(table) +
                                         "' has no relationship named '" + std::string(name) + "'");
    for (RowId id : rows) TAB_TRY(remove(rel, id));
    // The relationship's logical indexes, found through each other.
    TAB_ASSIGN_OR_RETURN(size_t manyIndex, open(manyName));
    TAB_ASSIGN_OR_RETURN(size_t oneIndex, open(oneName));
    const uint32_t onePage = tables[oneIndex].def->tdefPage;
    const uint32_t manyPage = tables[manyIndex].def->tdefPage;
    uint32_t oneNumber = 0xFFFFFFFF;
    {
        const TableDef& d = *tables[manyIndex].def;
        for (size_t i = 0; i < d.indexes.size(); ++i)
            if (d.indexes[i].foreignKey() && d.indexes[i].relatedTable == onePage &&
                nameKey(d.indexes[i].name) == nameKey(name)) {
                oneNumber = d.indexes[i].relatedIndex;
                TAB_TRY(dropLogicalIndex(tables[manyIndex], i));
                break;
            }
    }
    const TableDef& d = *tables[oneIndex].def;
    for (size_t i = 0; i < d.indexes.size(); ++i)
        if (d.indexes[i].foreignKey() && d.indexes[i].relatedTable == manyPage &&
            d.indexes[i].number == oneNumber)
            return dropLogicalIndex(tables[oneIndex], i);
    return Status::success();
}

}  // namespace tab::jet
