// The system tables of a new Jet4 database, laid out as Access lays them out
// in its own empty databases, and the catalogue rows Access creates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tabulary/jet/table_def.h"

namespace tab::jet::write {

// Definitions (columns, real and logical indexes; pages left 0) of
// MSysObjects, MSysACEs, MSysQueries, MSysRelationships and MSysAccessObjects,
// in that order.
std::vector<TableDef> systemTableDefs();

// Security ids: fixed per file in Access and tied to the header's creation
// date, which is why a new file keeps the creation date they come with.
extern const double kCreationDate;
std::string sidBytes(int which);  // 0 admin (owner of Access objects), 1 engine, 2-4 others

struct AceRow {
    int32_t objectId;
    int sid;  // index for sidBytes()
    int32_t rights;
    bool inheritable;
};

constexpr int32_t kTablesId = 0x0F000001;
constexpr int32_t kDatabasesId = 0x0F000002;
constexpr int32_t kRelationshipsId = 0x0F000003;
constexpr int32_t kContainersParent = 0x0F000000;
constexpr int32_t kMSysDbId = 0x10000000;

// Access rights of the objects a new database holds, by object.
std::vector<AceRow> containerAces(
    int32_t id);  // Tables, Databases, Relationships, Access containers
std::vector<AceRow> systemTableAces(int32_t id, const std::string& name);
std::vector<AceRow> userTableAces(int32_t id);

}  // namespace tab::jet::write
