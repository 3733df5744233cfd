// The change engine's state, shared by its row and schema halves: per table
// its definition, where its rows and long values go, its index trees and the
// counts to write back when the change commits.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "edit/index_tree.h"
#include "edit/pager.h"
#include "edit/rows.h"
#include "tabulary/jet/change.h"

namespace tab::jet {

namespace change_detail {

// How a real index is used: its rules and the columns it reads.
struct IndexUse {
    std::vector<size_t> positions;  // column positions, index column order
    bool unique = false;            // unique flag or a primary key uses it
    bool primary = false;
    bool required = false;  // no Null in any column
    bool ignoreNulls = false;
    std::string name;  // a logical index's name, for messages
};

struct TableState {
    std::shared_ptr<const TableDef> def;
    std::string refusal;  // why its rows cannot be written; empty: they can
    edit::RowHome home;
    std::map<size_t, edit::RowHome> longHomes;  // by column position
    std::vector<IndexUse> uses;                 // per real index
    std::vector<std::unique_ptr<edit::IndexTree>> trees;
    std::vector<bool> indexed;  // per column position: part of some real index
    std::vector<uint32_t> uniqueCounts;
    // Per real index: keys whose entries were removed and that may be gone
    // from it, settled by settleCounts(); `recount`: too many to look up one
    // by one, the keys are counted again instead.
    std::vector<std::unordered_set<std::string>> removedKeys;
    std::vector<bool> recount;
    int64_t rowDelta = 0;
    uint32_t lastAutoNumber = 0;
    bool touched = false;
    std::set<uint32_t> pagesWithRoom;  // put back into the free map once
};

}  // namespace change_detail

struct Change::Impl {
    using TableState = change_detail::TableState;
    using IndexUse = change_detail::IndexUse;
    Database& db;
    std::unique_ptr<edit::Pager> pager;
    std::deque<TableState> tables;       // references stay valid as tables are opened
    std::set<std::string> createdNames;  // foldedCase keys, tables created by this change
    double now = 0;                      // Access date of the objects created
    std::optional<int64_t> identity;
    std::mt19937_64 rng{std::random_device{}()};
    int cascadeDepth = 0;

    explicit Impl(Database& d) : db(d) {}

    Result<size_t> open(std::string_view name);
    Result<size_t> openAtPage(uint32_t page);
    Status prepare(TableState& t);
    Result<edit::IndexTree*> tree(TableState& t, size_t real);

    Result<Value> checkValue(TableState& t, size_t column, Value v, bool inserting);
    Result<std::string> keyOf(TableState& t, size_t real, const std::vector<Value>& row,
                              bool& allNull);
    Result<std::string> storeField(TableState& t, size_t column, const Value& v, size_t& budget);
    Status checkKeys(TableState& t, const std::vector<Value>& row, RowId self,
                     const std::vector<bool>* changed);
    Status checkReferences(TableState& t, const std::vector<Value>& row,
                           const std::vector<bool>* changed);
    Status followRelations(TableState& t, const std::vector<Value>& oldRow,
                           const std::vector<Value>* newRow);
    Result<std::vector<Value>> decode(TableState& t, const std::string& bytes, uint32_t page);
    Result<std::pair<edit::StoredRow, uint32_t>> readRow(TableState& t, RowId id);

    Result<RowId> insert(size_t table, std::span<const Value> values);
    Status update(size_t table, RowId row, std::span<const std::pair<size_t, Value>> changes);
    Status remove(size_t table, RowId row);
    // Keeps uniqueCounts exact as entries go out of and into real index r.
    void keyRemoved(TableState& t, size_t r, const std::string& key, const std::vector<Value>& row);
    void keyAdded(TableState& t, size_t r, const std::string& key, bool seen);
    Status settleCounts(TableState& t);
    Status finish();

    // Schema (schema_editor.cpp).
    Result<size_t> catalogTable(const char* name);
    Result<std::optional<RowId>> catalogRow(const char* table, const char* column, int64_t id);
    Status writeDefinition(TableState& t, const TableDef& def, bool ordinals);
    Status createTable(const TableSpec& spec);
    Status dropTable(std::string_view name);
    Status createIndex(std::string_view table, const IndexSpec& index);
    Status dropIndex(std::string_view table, std::string_view index);
    Status dropLogicalIndex(TableState& t, size_t position);
    Result<std::string> ownerSid();
    Status addObject(int32_t id, int32_t parent, const std::string& name, int16_t type,
                     uint32_t flags, const std::string& properties);
    Status addPermissions(int32_t id);
    Status removeObjectRows(int32_t id);
    Status createQuery(const std::string& name, uint32_t flags, const std::vector<QueryRow>& rows);
    Status dropQuery(std::string_view name);
    int32_t lastSyntheticId = 0;  // ids handed out by this change

    // Columns (column_editor.cpp).
    Status addColumn(std::string_view table, const ColumnSpec& column);
    Status dropColumn(std::string_view table, std::string_view column);
    Status alterColumn(std::string_view table, const ColumnSpec& column);

    // Relationships (relationships.cpp).
    Status createRelationship(const Change::Relationship& relationship);
    Status dropRelationship(std::string_view table, std::string_view name);
};

}  // namespace tab::jet
