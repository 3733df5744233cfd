// Row changes with the rules of their tables: each table's rows, long values
// and indexes are kept together per table, relationships are followed to the
// tables on their other side, and the definitions' counts are written when
// the change commits.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "edit/change_impl.h"
#include "edit/index_tree.h"
#include "edit/long_values.h"
#include "edit/pager.h"
#include "edit/rows.h"
#include "edit/space.h"
#include "internal.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/base/text_codec.h"
#include "tabulary/jet/change.h"
#include "tabulary/jet/index_reader.h"
#include "write/row_encoder.h"

namespace tab::jet {

using edit::IndexTree;
using edit::Pager;
using edit::RowFields;
using edit::RowHome;
using edit::StoredRow;

namespace {

constexpr uint32_t kRowCountAt = 0x10;
constexpr uint32_t kAutoNumberAt = 0x14;
constexpr uint32_t kIndexCountsAt = 0x3F;  // 12 bytes per real index, the count at +4

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string quoted(const TableDef& t, const Column& c) {
    return "'" + t.name + "." + c.name + "'";
}

bool isLong(const Column& c) {
    return c.type == ColumnType::Memo || c.type == ColumnType::Ole;
}

}  // namespace

Change::Change(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
Change::~Change() = default;

Result<std::unique_ptr<Change>> Change::begin(Database& db, const ChangeOptions& options) {
    edit::PagerOptions po;
    po.durable = options.durable;
    po.spillBytes = options.spillBytes;
    po.io = options.io;
    auto impl = std::make_unique<Impl>(db);
    impl->now = options.objectDate;
    TAB_ASSIGN_OR_RETURN(impl->pager, Pager::begin(db, po));
    return std::unique_ptr<Change>(new Change(std::move(impl)));
}

Result<size_t> Change::table(std::string_view name) {
    TAB_ASSIGN_OR_RETURN(size_t i, m_impl->open(name));
    if (!m_impl->tables[i].refusal.empty())
        return Error(Errc::Unsupported, m_impl->tables[i].refusal);
    return i;
}

const TableDef& Change::definition(size_t table) const {
    return *m_impl->tables.at(table).def;
}

Result<RowId> Change::insert(size_t table, std::span<const Value> values) {
    return m_impl->insert(table, values);
}

Status Change::update(size_t table, RowId row, std::span<const std::pair<size_t, Value>> changes) {
    return m_impl->update(table, row, changes);
}

Status Change::remove(size_t table, RowId row) {
    return m_impl->remove(table, row);
}

Status Change::createTable(const TableSpec& spec) {
    return m_impl->createTable(spec);
}

Status Change::dropTable(std::string_view name) {
    return m_impl->dropTable(name);
}

Status Change::createIndex(std::string_view table, const IndexSpec& index) {
    return m_impl->createIndex(table, index);
}

Status Change::dropIndex(std::string_view table, std::string_view index) {
    return m_impl->dropIndex(table, index);
}

Status Change::addColumn(std::string_view table, const ColumnSpec& column) {
    return m_impl->addColumn(table, column);
}

Status Change::dropColumn(std::string_view table, std::string_view column) {
    return m_impl->dropColumn(table, column);
}

Status Change::alterColumn(std::string_view table, const ColumnSpec& column) {
    return m_impl->alterColumn(table, column);
}

Status Change::createRelationship(const Relationship& relationship) {
    return m_impl->createRelationship(relationship);
}

Status Change::dropRelationship(std::string_view table, std::string_view name) {
    return m_impl->dropRelationship(table, name);
}

Status Change::createQuery(const std::string& name, uint32_t flags,
                           const std::vector<QueryRow>& rows) {
    return m_impl->createQuery(name, flags, rows);
}

Status Change::dropQuery(std::string_view name) {
    return m_impl->dropQuery(name);
}

std::optional<int64_t> Change::lastIdentity() const {
    return m_impl->identity;
}

Status Change::commit() {
    Status st = m_impl->finish();
    if (!st.ok()) {
        m_impl->pager->rollback();
        return st;
    }
    // Only rows of system tables (the catalogue's) make it worth reading again.
    bool catalog = false;
    for (const auto& t : m_impl->tables)
        catalog =
            catalog || (t.touched && t.def->tableType != 0x4E) || !m_impl->createdNames.empty();
    if (!catalog) m_impl->pager->catalogUnchanged();
    return m_impl->pager->commit();
}

ChangeStats Change::stats() const {
    const edit::Pager::Stats s = m_impl->pager->stats();
    return {s.pagesWritten, s.journalBytes};
}

void Change::rollback() {
    if (m_impl->pager->active()) m_impl->pager->rollback();
}

// --- tables -----------------------------------------------------------------

Result<size_t> Change::Impl::open(std::string_view name) {
    // Tables this change created are not in the catalogue yet.
    const std::string wanted = foldedCase(name);
    if (createdNames.count(wanted))
        for (size_t i = 0; i < tables.size(); ++i)
            if (foldedCase(tables[i].def->name) == wanted && tables[i].refusal.empty()) return i;
    const CatalogObject* o = db.catalog().findTable(name);
    if (!o) return Error(Errc::NotFound, "The table '" + std::string(name) + "' does not exist");
    if (o->kind == ObjectKind::LinkedTable || o->kind == ObjectKind::LinkedOdbc)
        return Error(Errc::Unsupported,
                     "'" + o->name + "' is a linked table; its rows are in another file");
    return openAtPage(o->tdefPage());
}

Result<size_t> Change::Impl::openAtPage(uint32_t page) {
    for (size_t i = 0; i < tables.size(); ++i)
        if (tables[i].def->tdefPage == page) return i;
    std::string name;
    for (const auto& o : db.catalog().objects)
        if ((o.kind == ObjectKind::UserTable || o.kind == ObjectKind::SystemTable) &&
            o.tdefPage() == page)
            name = o.name;
    if (name.empty()) return corrupt(page, "no table has this definition page");
    TAB_ASSIGN_OR_RETURN(auto def, db.tableAtPage(page, name));
    TableState t;
    t.def = def;
    TAB_TRY(prepare(t));
    tables.push_back(std::move(t));
    return tables.size() - 1;
}

Status Change::Impl::prepare(TableState& t) {
    const TableDef& d = *t.def;
    t.home.owner = d.tdefPage;
    t.home.ownedMap = d.ownedPages;
    t.home.freeMap = d.freePages;
    t.lastAutoNumber = d.lastAutoNumber;
    t.indexed.assign(d.columns.size(), false);
    auto refuse = [&](const std::string& why) {
        if (t.refusal.empty()) t.refusal = "The table '" + d.name + "' cannot be changed: " + why;
    };
    for (size_t i = 0; i < d.columns.size(); ++i) {
        const Column& c = d.columns[i];
        if (c.type == ColumnType::Complex)
            refuse("its column '" + c.name +
                   "' holds attachments or multiple values, which this program does not write "
                   "yet");
        if (c.calculated)
            refuse("its column '" + c.name +
                   "' is calculated, which this program does not write yet");
        if (c.type == ColumnType::DateTimeExt)
            refuse("its column '" + c.name +
                   "' has the extended date/time type, which this program does not write yet");
        if (isLong(c)) {
            RowHome h;
            h.owner = edit::kLvalOwner;
            for (const auto& m : d.longValueMaps)
                if (m.columnNumber == c.number) {
                    h.ownedMap = m.owned;
                    h.freeMap = m.free;
                }
            t.longHomes[i] = h;
        }
    }
    t.uses.resize(d.realIndexes.size());
    t.trees.resize(d.realIndexes.size());
    t.uniqueCounts.resize(d.realIndexes.size());
    for (size_t r = 0; r < d.realIndexes.size(); ++r) {
        const RealIndex& ri = d.realIndexes[r];
        IndexUse& u = t.uses[r];
        t.uniqueCounts[r] = ri.uniqueCount;
        u.unique = ri.unique();
        u.required = ri.required();
        u.ignoreNulls = ri.ignoreNulls();
        for (const Index& ix : d.indexes)
            if (ix.realIndex == r) {
                if (ix.primaryKey()) u.primary = u.unique = u.required = true;
                if (u.name.empty() || ix.primaryKey()) u.name = ix.name;
            }
        for (const IndexColumn& ic : ri.columns) {
            int pos = -1;
            for (size_t i = 0; i < d.columns.size(); ++i)
                if (d.columns[i].number == ic.columnNumber) pos = static_cast<int>(i);
            if (pos < 0) return corrupt(d.tdefPage, "index of a column that does not exist");
            u.positions.push_back(static_cast<size_t>(pos));
            t.indexed[static_cast<size_t>(pos)] = true;
            const Column& c = d.columns[static_cast<size_t>(pos)];
            if ((c.type == ColumnType::Text || c.type == ColumnType::Memo) &&
                textCollation(db, c) == TextCollation::Unknown)
                refuse("the column '" + c.name +
                       "' is indexed in a sort order whose keys this program does not know");
        }
    }
    return Status::success();
}

Result<IndexTree*> Change::Impl::tree(TableState& t, size_t real) {
    if (!t.trees[real]) {
        const RealIndex& ri = t.def->realIndexes[real];
        t.trees[real] = std::make_unique<IndexTree>(
            *pager, db.format(), edit::IndexTreeRef{ri.rootPage, t.def->tdefPage, ri.usageMap});
    }
    return t.trees[real].get();
}

// --- values and keys ----------------------------------------------------------

Result<Value> Change::Impl::checkValue(TableState& t, size_t column, Value v, bool inserting) {
    const TableDef& d = *t.def;
    const Column& c = d.columns[column];
    if (c.autoNumber && c.type == ColumnType::Long) {
        if (!inserting)
            return Error(Errc::InvalidArgument, "The field " + quoted(d, c) +
                                                    " is an AutoNumber and cannot be "
                                                    "changed");
        if (v.isNull()) {
            if (t.lastAutoNumber >= 0x7FFFFFFFu)
                return Error(Errc::InvalidArgument,
                             "The AutoNumber field " + quoted(d, c) + " has run out of numbers");
            v = Value::integer(static_cast<int64_t>(++t.lastAutoNumber));
            identity = v.asInt();
        }
    } else if (c.autoGuid && v.isNull() && inserting) {
        std::string g(16, '\0');
        for (size_t i = 0; i < 16; i += 8) {
            uint64_t r = rng();
            std::memcpy(g.data() + i, &r, 8);
        }
        g[7] = static_cast<char>((g[7] & 0x0F) | 0x40);  // a version 4 GUID
        g[8] = static_cast<char>((g[8] & 0x3F) | 0x80);
        v = Value::guid(g);
    }
    if (c.type == ColumnType::Boolean && v.isNull()) v = Value::boolean(false);
    if (v.isNull()) {
        if (c.required)
            return Error(Errc::InvalidArgument,
                         "The field " + quoted(d, c) +
                             " cannot contain a Null value because its Required property is "
                             "set to Yes");
        return v;
    }
    auto coerced = write::coerceValue(c, v);
    if (!coerced.ok())
        return Error(Errc::InvalidArgument, "The value for the field " + quoted(d, c) +
                                                " is not valid: " + coerced.error().message());
    if ((c.type == ColumnType::Text || c.type == ColumnType::Memo) && !c.allowZeroLength &&
        coerced->kind() == Value::Kind::Text && coerced->bytes().empty())
        return Error(Errc::InvalidArgument,
                     "The field " + quoted(d, c) +
                         " cannot be a zero-length string because its AllowZeroLength property "
                         "is set to No");
    if (c.autoNumber && c.type == ColumnType::Long && inserting) {
        const int64_t n = coerced->asInt();
        if (n > 0 && static_cast<uint64_t>(n) > t.lastAutoNumber)
            t.lastAutoNumber = static_cast<uint32_t>(n);
        identity = n;
    }
    return std::move(*coerced);
}

Result<std::string> Change::Impl::keyOf(TableState& t, size_t real, const std::vector<Value>& row,
                                        bool& allNull) {
    const IndexUse& u = t.uses[real];
    std::vector<Value> values;
    values.reserve(u.positions.size());
    allNull = true;
    for (size_t p : u.positions) {
        values.push_back(row[p]);
        if (!row[p].isNull() || t.def->columns[p].type == ColumnType::Boolean) allNull = false;
    }
    auto key = encodeIndexKey(db, *t.def, t.def->realIndexes[real], values);
    if (!key.ok())
        return Error(Errc::Unsupported, "The index '" + u.name + "' of the table '" + t.def->name +
                                            "' cannot hold this value (" + key.error().message() +
                                            "); nothing was changed");
    return std::move(*key);
}

// Unique and required rules of every index the row (or its changed columns) touches.
Status Change::Impl::checkKeys(TableState& t, const std::vector<Value>& row, RowId self,
                               const std::vector<bool>* changed) {
    (void)self;
    for (size_t r = 0; r < t.uses.size(); ++r) {
        const IndexUse& u = t.uses[r];
        if (changed) {
            bool any = false;
            for (size_t p : u.positions) any = any || (*changed)[p];
            if (!any) continue;
        }
        bool anyNull = false;
        for (size_t p : u.positions)
            anyNull = anyNull || (row[p].isNull() && t.def->columns[p].type != ColumnType::Boolean);
        if (anyNull && (u.required || u.primary))
            return Error(Errc::InvalidArgument, "The index '" + u.name + "' of the table '" +
                                                    t.def->name + "' cannot contain a Null value" +
                                                    (u.primary ? " (it is the primary key)" : ""));
        if (!u.unique) continue;
        bool allNull = false;
        TAB_ASSIGN_OR_RETURN(std::string key, keyOf(t, r, row, allNull));
        if (allNull) continue;
        TAB_ASSIGN_OR_RETURN(IndexTree * tr, tree(t, r));
        TAB_ASSIGN_OR_RETURN(bool exists, tr->containsKey(key));
        if (exists) {
            std::string cols;
            for (size_t p : u.positions)
                cols += (cols.empty() ? "" : ", ") + t.def->columns[p].name;
            return Error(Errc::InvalidArgument,
                         "The change would create duplicate values in the " +
                             std::string(u.primary ? "primary key" : "unique index") + " '" +
                             u.name + "' of the table '" + t.def->name + "' (" + cols + ")");
        }
    }
    return Status::success();
}

// The rows a relationship's many side points to must exist on its one side.
Status Change::Impl::checkReferences(TableState& t, const std::vector<Value>& row,
                                     const std::vector<bool>* changed) {
    const TableDef& d = *t.def;
    for (const Index& ix : d.indexes) {
        if (!ix.foreignKey() || ix.relationSide != 2 || ix.realIndex >= t.uses.size()) continue;
        const IndexUse& u = t.uses[ix.realIndex];
        if (changed) {
            bool any = false;
            for (size_t p : u.positions) any = any || (*changed)[p];
            if (!any) continue;
        }
        std::vector<Value> values;
        bool anyNull = false;
        for (size_t p : u.positions) {
            values.push_back(row[p]);
            anyNull = anyNull || row[p].isNull();
        }
        if (anyNull) continue;  // a row without a reference needs no match
        TAB_ASSIGN_OR_RETURN(size_t oi, openAtPage(ix.relatedTable));
        TableState& other = tables[oi];
        const Index* related = nullptr;
        for (const Index& o : other.def->indexes)
            if (o.number == ix.relatedIndex) related = &o;
        if (!related || related->realIndex >= other.def->realIndexes.size())
            return corrupt(d.tdefPage, "a relationship points to an index that does not exist");
        auto key =
            encodeIndexKey(db, *other.def, other.def->realIndexes[related->realIndex], values);
        if (!key.ok()) return key.error();
        TAB_ASSIGN_OR_RETURN(IndexTree * tr, tree(other, related->realIndex));
        TAB_ASSIGN_OR_RETURN(bool exists, tr->containsKey(*key));
        if (!exists)
            return Error(Errc::InvalidArgument,
                         "The table '" + other.def->name + "' has no record that the record in '" +
                             d.name + "' refers to through the relationship '" + ix.name +
                             "'; a related record is required");
    }
    return Status::success();
}

// Rows on the many side of relationships where this table is the one side:
// cascaded, set to Null, or the change refused.
Status Change::Impl::followRelations(TableState& t, const std::vector<Value>& oldRow,
                                     const std::vector<Value>* newRow) {
    const TableDef& d = *t.def;
    for (const Index& ix : d.indexes) {
        if (!ix.foreignKey() || ix.relationSide != 1 || ix.realIndex >= t.uses.size()) continue;
        const std::vector<size_t> positions = t.uses[ix.realIndex].positions;
        std::vector<Value> oldKey, newKey;
        bool changed = newRow == nullptr, anyNull = false;
        for (size_t p : positions) {
            oldKey.push_back(oldRow[p]);
            anyNull = anyNull || oldRow[p].isNull();
            if (newRow) {
                newKey.push_back((*newRow)[p]);
                if (!(oldRow[p] == (*newRow)[p])) changed = true;
            }
        }
        if (!changed || anyNull) continue;
        TAB_ASSIGN_OR_RETURN(size_t oi, openAtPage(ix.relatedTable));
        const Index* related = nullptr;
        for (const Index& o : tables[oi].def->indexes)
            if (o.number == ix.relatedIndex) related = &o;
        if (!related || related->realIndex >= tables[oi].def->realIndexes.size())
            return corrupt(d.tdefPage, "a relationship points to an index that does not exist");
        const size_t relatedReal = related->realIndex;
        auto key =
            encodeIndexKey(db, *tables[oi].def, tables[oi].def->realIndexes[relatedReal], oldKey);
        if (!key.ok()) return key.error();
        TAB_ASSIGN_OR_RETURN(IndexTree * tr, tree(tables[oi], relatedReal));
        TAB_ASSIGN_OR_RETURN(std::vector<uint32_t> rows, tr->rowsWithKey(*key));
        if (rows.empty()) continue;
        // The many side's flags say what the relationship does.
        const bool cascade = newRow ? related->cascadeUpdates || ix.cascadeUpdates
                                    : related->cascadeDeletes || ix.cascadeDeletes;
        const bool setNull = !newRow && (related->cascadeNull || ix.cascadeNull);
        if (!cascade && !setNull)
            return Error(Errc::InvalidArgument,
                         "The record cannot be " + std::string(newRow ? "changed" : "deleted") +
                             " because the table '" + tables[oi].def->name +
                             "' includes related records (relationship '" + ix.name + "')");
        if (++cascadeDepth > 64) {
            --cascadeDepth;
            return Error(Errc::InvalidArgument, "Cascading changes go more than 64 tables deep");
        }
        const std::vector<size_t> manyPositions = tables[oi].uses[relatedReal].positions;
        Status st;
        for (uint32_t rowId : rows) {
            if (!newRow && !setNull) {
                st = remove(oi, rowId);
            } else {
                std::vector<std::pair<size_t, Value>> changes;
                for (size_t k = 0; k < manyPositions.size(); ++k)
                    changes.emplace_back(manyPositions[k], newRow ? newKey[k] : Value::null());
                st = update(oi, rowId, changes);
            }
            if (!st.ok()) break;
        }
        --cascadeDepth;
        TAB_TRY(st);
    }
    return Status::success();
}

Result<std::string> Change::Impl::storeField(TableState& t, size_t column, const Value& v,
                                             size_t& budget) {
    const Column& c = t.def->columns[column];
    TAB_ASSIGN_OR_RETURN(std::string bytes, write::encodeValue(c, v));
    if (!isLong(c)) return bytes;
    if (bytes.size() <= write::kInlineLongValue && bytes.size() <= budget) {
        budget -= bytes.size();
        return write::inlineLongRef(bytes);
    }
    RowHome& home = t.longHomes[column];
    if (!home.ownedMap)
        return Error(Errc::Unsupported, "The column " + quoted(*t.def, c) +
                                            " has no pages of its own for long values; "
                                            "this program cannot store them");
    return edit::storeLongValue(*pager, home, bytes);
}

Result<std::vector<Value>> Change::Impl::decode(TableState& t, const std::string& bytes,
                                                uint32_t page) {
    std::vector<Value> out(t.def->columns.size());
    TAB_TRY(decodeRow(db, *t.def,
                      Bytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), {}, out,
                      page));
    return out;
}

// The row's header slot and its data (following an overflow pointer).
Result<std::pair<StoredRow, uint32_t>> Change::Impl::readRow(TableState& t, RowId id) {
    TAB_ASSIGN_OR_RETURN(PageRef page, pager->read(id >> 8));
    if ((*page)[0] != 0x01 || u32At(page->data() + 4) != t.def->tdefPage)
        return corrupt(id >> 8, "row id does not belong to table \"" + t.def->name + "\"");
    TAB_ASSIGN_OR_RETURN(StoredRow head, edit::readSlot(*pager, id));
    if (head.flags & edit::kSlotOverflowTarget) return std::make_pair(head, uint32_t{0});
    if (head.flags & edit::kSlotOverflowHeader) {
        if (head.bytes.size() < 4) return corrupt(id >> 8, "overflow row too short");
        const uint32_t target = u32At(reinterpret_cast<const uint8_t*>(head.bytes.data()));
        TAB_ASSIGN_OR_RETURN(StoredRow data, edit::readSlot(*pager, target));
        return std::make_pair(std::move(data), target);
    }
    return std::make_pair(std::move(head), id);
}

// --- row operations -------------------------------------------------------------

Result<RowId> Change::Impl::insert(size_t table, std::span<const Value> values) {
    TableState& t = tables.at(table);
    const TableDef& d = *t.def;
    if (!t.refusal.empty()) return Error(Errc::Unsupported, t.refusal);
    if (values.size() != d.columns.size())
        return Error(Errc::InvalidArgument, "The table '" + d.name + "' has " +
                                                std::to_string(d.columns.size()) + " columns");
    std::vector<Value> row(values.begin(), values.end());
    for (size_t i = 0; i < row.size(); ++i) {
        TAB_ASSIGN_OR_RETURN(row[i], checkValue(t, i, row[i], true));
    }
    TAB_TRY(checkKeys(t, row, 0, nullptr));
    TAB_TRY(checkReferences(t, row, nullptr));

    RowFields fields;
    fields.present.assign(row.size(), false);
    fields.bytes.resize(row.size());
    size_t budget = write::kMaxRowSize;
    for (size_t i = 0; i < row.size(); ++i) {
        if (d.columns[i].type == ColumnType::Boolean) {
            fields.present[i] = row[i].asBool();
        } else if (!row[i].isNull()) {
            TAB_ASSIGN_OR_RETURN(fields.bytes[i], storeField(t, i, row[i], budget));
            fields.present[i] = true;
        }
    }
    TAB_ASSIGN_OR_RETURN(std::string bytes, edit::joinRow(d, fields));
    if (bytes.size() > write::kMaxRowSize)
        return Error(Errc::InvalidArgument,
                     "The record is too large: " + std::to_string(bytes.size()) +
                         " bytes, a record of '" + d.name + "' holds at most " +
                         std::to_string(write::kMaxRowSize));
    TAB_ASSIGN_OR_RETURN(uint32_t id, edit::addRow(*pager, t.home, bytes));
    for (size_t r = 0; r < t.uses.size(); ++r) {
        bool allNull = false;
        TAB_ASSIGN_OR_RETURN(std::string key, keyOf(t, r, row, allNull));
        if (allNull && t.uses[r].ignoreNulls) continue;
        TAB_ASSIGN_OR_RETURN(IndexTree * tr, tree(t, r));
        TAB_ASSIGN_OR_RETURN(bool seen, tr->containsKey(key));
        keyAdded(t, r, key, seen);
        TAB_TRY(tr->insert(key, id));
    }
    ++t.rowDelta;
    t.touched = true;
    return id;
}

Status Change::Impl::update(size_t table, RowId id,
                            std::span<const std::pair<size_t, Value>> changes) {
    TableState& t = tables.at(table);
    const TableDef& d = *t.def;
    if (!t.refusal.empty()) return Error(Errc::Unsupported, t.refusal);
    TAB_ASSIGN_OR_RETURN(auto stored, readRow(t, id));
    auto& [data, dataAt] = stored;
    if (!dataAt) return Status::success();  // deleted meanwhile (a cascade)
    TAB_ASSIGN_OR_RETURN(RowFields fields, edit::splitRow(d, data.bytes, id >> 8));
    TAB_ASSIGN_OR_RETURN(std::vector<Value> oldRow, decode(t, data.bytes, dataAt >> 8));
    std::vector<Value> newRow = oldRow;
    std::vector<bool> changed(d.columns.size(), false);
    for (const auto& [pos, value] : changes) {
        if (pos >= d.columns.size()) return Error(Errc::Internal, "column out of range");
        TAB_ASSIGN_OR_RETURN(Value v, checkValue(t, pos, value, false));
        if (v == oldRow[pos] && v.kind() == oldRow[pos].kind()) continue;
        newRow[pos] = std::move(v);
        changed[pos] = true;
    }
    if (std::none_of(changed.begin(), changed.end(), [](bool b) { return b; }))
        return Status::success();
    TAB_TRY(checkKeys(t, newRow, id, &changed));
    TAB_TRY(checkReferences(t, newRow, &changed));

    // Unchanged columns keep their stored bytes (long values their pages).
    size_t budget = write::kMaxRowSize;
    for (size_t i = 0; i < d.columns.size(); ++i)
        if (!changed[i] && fields.present[i]) budget -= std::min(budget, fields.bytes[i].size());
    std::vector<std::pair<size_t, std::string>> freed;
    for (size_t i = 0; i < d.columns.size(); ++i) {
        if (!changed[i]) continue;
        if (isLong(d.columns[i]) && fields.present[i]) freed.emplace_back(i, fields.bytes[i]);
        if (d.columns[i].type == ColumnType::Boolean) {
            fields.present[i] = newRow[i].asBool();
        } else if (newRow[i].isNull()) {
            fields.present[i] = false;
            fields.bytes[i].clear();
        } else {
            TAB_ASSIGN_OR_RETURN(fields.bytes[i], storeField(t, i, newRow[i], budget));
            fields.present[i] = true;
        }
    }
    TAB_ASSIGN_OR_RETURN(std::string bytes, edit::joinRow(d, fields));
    if (bytes.size() > write::kMaxRowSize)
        return Error(Errc::InvalidArgument,
                     "The record is too large: " + std::to_string(bytes.size()) +
                         " bytes, a record of '" + d.name + "' holds at most " +
                         std::to_string(write::kMaxRowSize));

    // Index entries first out, then in again with the new keys.
    for (size_t r = 0; r < t.uses.size(); ++r) {
        bool any = false;
        for (size_t p : t.uses[r].positions) any = any || changed[p];
        if (!any) continue;
        bool oldNull = false, newNull = false;
        TAB_ASSIGN_OR_RETURN(std::string oldKey, keyOf(t, r, oldRow, oldNull));
        TAB_ASSIGN_OR_RETURN(std::string newKey, keyOf(t, r, newRow, newNull));
        if (oldKey == newKey) continue;
        TAB_ASSIGN_OR_RETURN(IndexTree * tr, tree(t, r));
        if (!(oldNull && t.uses[r].ignoreNulls)) {
            TAB_TRY(tr->remove(oldKey, id));
            keyRemoved(t, r, oldKey, oldRow);
        }
        if (!(newNull && t.uses[r].ignoreNulls)) {
            TAB_ASSIGN_OR_RETURN(bool seen, tr->containsKey(newKey));
            keyAdded(t, r, newKey, seen);
            TAB_TRY(tr->insert(newKey, id));
        }
    }

    // Related rows follow once the new key is in the index they check against.
    TAB_TRY(followRelations(t, oldRow, &newRow));

    // The new bytes: in place, else moved to another page behind a pointer.
    const uint16_t flags = dataAt == id ? 0 : edit::kSlotOverflowTarget;
    TAB_ASSIGN_OR_RETURN(bool placed, edit::replaceSlot(*pager, dataAt, bytes, flags));
    if (!placed) {
        if (dataAt != id) TAB_TRY(edit::deleteSlot(*pager, dataAt));
        TAB_ASSIGN_OR_RETURN(uint32_t target,
                             edit::addRow(*pager, t.home, bytes, edit::kSlotOverflowTarget));
        TAB_ASSIGN_OR_RETURN(StoredRow head, edit::readSlot(*pager, id));
        std::string pointer(std::max<size_t>(head.bytes.size(), 4), '\0');
        put32(reinterpret_cast<uint8_t*>(pointer.data()), target);
        TAB_ASSIGN_OR_RETURN(bool ok,
                             edit::replaceSlot(*pager, id, pointer, edit::kSlotOverflowHeader));
        if (!ok) return Error(Errc::Internal, "an overflow pointer did not fit its page");
    }
    for (const auto& [pos, field] : freed)
        TAB_TRY(edit::freeLongValue(*pager, t.longHomes[pos], field));
    t.touched = true;
    return Status::success();
}

Status Change::Impl::remove(size_t table, RowId id) {
    TableState& t = tables.at(table);
    const TableDef& d = *t.def;
    if (!t.refusal.empty()) return Error(Errc::Unsupported, t.refusal);
    TAB_ASSIGN_OR_RETURN(StoredRow head, edit::readSlot(*pager, id));
    if ((head.flags & edit::kSlotDeleted) == edit::kSlotDeleted) return Status::success();
    TAB_ASSIGN_OR_RETURN(auto stored, readRow(t, id));
    auto& [data, dataAt] = stored;
    if (!dataAt) return corrupt(id >> 8, "row id names the moved part of a row");
    TAB_ASSIGN_OR_RETURN(std::vector<Value> oldRow, decode(t, data.bytes, dataAt >> 8));
    TAB_TRY(followRelations(t, oldRow, nullptr));
    for (size_t r = 0; r < t.uses.size(); ++r) {
        bool allNull = false;
        TAB_ASSIGN_OR_RETURN(std::string key, keyOf(t, r, oldRow, allNull));
        if (allNull && t.uses[r].ignoreNulls) continue;
        TAB_ASSIGN_OR_RETURN(IndexTree * tr, tree(t, r));
        TAB_TRY(tr->remove(key, id));
        keyRemoved(t, r, key, oldRow);
    }
    TAB_ASSIGN_OR_RETURN(RowFields fields, edit::splitRow(d, data.bytes, dataAt >> 8));
    TAB_TRY(edit::deleteSlot(*pager, id));
    if (dataAt != id) TAB_TRY(edit::deleteSlot(*pager, dataAt));
    for (uint32_t page : {id >> 8, dataAt >> 8})
        if (t.home.freeMap && t.pagesWithRoom.insert(page).second)
            TAB_TRY(edit::mapAdd(*pager, t.home.freeMap, page));
    for (auto& [pos, home] : t.longHomes)
        if (fields.present[pos]) TAB_TRY(edit::freeLongValue(*pager, home, fields.bytes[pos]));
    --t.rowDelta;
    t.touched = true;
    return Status::success();
}

// A unique key without Null has one entry: once removed it is gone. Other
// keys may have more entries; whether one is left is looked up at the end.
void Change::Impl::keyRemoved(TableState& t, size_t r, const std::string& key,
                              const std::vector<Value>& row) {
    constexpr size_t kMostLookups = 10000;  // beyond that one walk of the index is cheaper
    if (t.removedKeys.size() <= r) t.removedKeys.resize(t.uses.size());
    if (t.recount.size() <= r) t.recount.resize(t.uses.size(), false);
    if (t.recount[r]) return;
    bool anyNull = false;
    for (size_t p : t.uses[r].positions)
        anyNull = anyNull || (row[p].isNull() && t.def->columns[p].type != ColumnType::Boolean);
    if (t.uses[r].unique && !anyNull) {
        if (t.uniqueCounts[r] > 0) --t.uniqueCounts[r];
        return;
    }
    t.removedKeys[r].insert(key);
    if (t.removedKeys[r].size() > kMostLookups) {
        t.recount[r] = true;
        t.removedKeys[r].clear();
    }
}

// `seen`: the index already holds the key. A key that went out earlier in
// this change and comes back cancels that removal instead of counting twice.
void Change::Impl::keyAdded(TableState& t, size_t r, const std::string& key, bool seen) {
    if (seen) return;
    if (r < t.removedKeys.size() && t.removedKeys[r].erase(key)) return;
    ++t.uniqueCounts[r];
}

Status Change::Impl::settleCounts(TableState& t) {
    for (size_t r = 0; r < t.removedKeys.size() && r < t.uniqueCounts.size(); ++r) {
        const bool again = r < t.recount.size() && t.recount[r];
        if (!again && t.removedKeys[r].empty()) continue;
        TAB_ASSIGN_OR_RETURN(IndexTree * tr, tree(t, r));
        if (again) {
            TAB_ASSIGN_OR_RETURN(t.uniqueCounts[r], tr->distinctKeys());
        } else {
            for (const std::string& key : t.removedKeys[r]) {
                TAB_ASSIGN_OR_RETURN(bool left, tr->containsKey(key));
                if (!left && t.uniqueCounts[r] > 0) --t.uniqueCounts[r];
            }
        }
    }
    t.removedKeys.clear();
    t.recount.clear();
    return Status::success();
}

// Index pages and the definitions' counts, before the pager commits.
Status Change::Impl::finish() {
    for (TableState& t : tables) {
        TAB_TRY(settleCounts(t));
        for (auto& tr : t.trees)
            if (tr) TAB_TRY(tr->flush());
        if (!t.touched) continue;
        TAB_ASSIGN_OR_RETURN(uint8_t * p, pager->modify(t.def->tdefPage));
        const int64_t rows = std::max<int64_t>(0, int64_t{t.def->rowCount} + t.rowDelta);
        put32(p + kRowCountAt, static_cast<uint32_t>(std::min<int64_t>(rows, 0xFFFFFFFF)));
        put32(p + kAutoNumberAt, t.lastAutoNumber);
        for (size_t r = 0; r < t.uniqueCounts.size(); ++r) {
            const size_t at = kIndexCountsAt + 12 * r + 4;
            if (at + 4 <= 4096) put32(p + at, t.uniqueCounts[r]);
        }
    }
    return Status::success();
}

}  // namespace tab::jet
