// The system catalogue (MSysObjects): which tables, linked tables and saved
// queries the database holds, and the raw MSysQueries rows of the queries.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tab::jet {

enum class ObjectKind {
    UserTable,
    SystemTable,
    LinkedTable,  // Type 6: Access, Excel, text, ...
    LinkedOdbc,   // Type 4
    Query,
    Other,
};

enum class QueryKind {
    Select,
    Crosstab,
    Delete,
    Update,
    Append,
    MakeTable,
    DataDefinition,
    PassThrough,
    Union,
    Unknown,
};

const char* objectKindName(ObjectKind kind);  // "table", "system table", ...
const char* queryKindName(QueryKind kind);    // "select", "crosstab", ...

// One row of MSysQueries, as stored.
struct QueryRow {
    uint8_t attribute = 0;
    std::string order;  // raw bytes; compare lexicographically
    std::optional<std::string> name1, name2, expression;
    int16_t flag = 0;
    std::optional<int32_t> lvExtra;
};

struct CatalogObject {
    std::string name;
    int32_t id = 0;
    int32_t parentId = 0;
    int16_t type = 0;
    uint32_t flags = 0;
    ObjectKind kind = ObjectKind::Other;
    double dateCreate = 0, dateUpdate = 0;
    std::string database, connect, foreignName;  // linked tables
    std::string lvProp;                          // property blob

    // Queries only.
    QueryKind queryKind = QueryKind::Unknown;
    bool hasParameters = false;
    std::vector<QueryRow> queryRows;  // grouped by attribute, sorted by Order

    bool hidden() const { return (flags & 0x08) != 0; }
    uint32_t tdefPage() const { return static_cast<uint32_t>(id) & 0x00FFFFFF; }
};

struct Catalog {
    std::vector<CatalogObject> objects;  // catalogue order

    const CatalogObject* find(std::string_view name, ObjectKind kind) const;
    // A user, system or linked table (case-insensitive name).
    const CatalogObject* findTable(std::string_view name) const;
    std::vector<const CatalogObject*> ofKind(ObjectKind kind) const;
};

}  // namespace tab::jet
