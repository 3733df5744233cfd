// A new table's definition from its description: columns numbered and laid
// out (fixed offsets, variable slots, long values last), logical indexes
// grouped into real ones, and the column properties for the catalogue row.
// Pages (TDEF, maps, roots) are the caller's to assign.
#pragma once

#include <cstdint>
#include <string>

#include "tabulary/base/error.h"
#include "tabulary/jet/table_def.h"
#include "tabulary/jet/writer.h"

namespace tab::jet::write {

struct TableLayout {
    TableDef def;
    std::string properties;  // LvProp blob: Required, DefaultValue, AllowZeroLength
};

// Access's rules for the names of tables, columns and indexes.
Status checkObjectName(const std::string& name, const char* what);

// `sortVersion`: the text sort order of the database (0 General legacy, 1 General).
Result<TableLayout> layoutTable(const TableSpec& spec, uint8_t sortVersion = 0);

}  // namespace tab::jet::write
