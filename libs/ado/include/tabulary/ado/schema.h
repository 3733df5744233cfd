// The TABLES schema rowset: the database's tables, views and links with the
// type names the Access providers report.
#pragma once

#include <string>
#include <vector>

#include "tabulary/jet/catalog.h"

namespace tab::ado {

struct TableSchemaRow {
    std::string tableName;
    std::string
        tableType;  // "TABLE", "VIEW", "SYSTEM TABLE", "ACCESS TABLE", "LINK", "PASS-THROUGH"
    double dateCreated = 0, dateModified = 0;  // Access date serials
};

// The type a catalogue object is reported as; empty when the provider does
// not list it among the tables (action and parameter queries, forms, ...).
std::string tableType(const jet::CatalogObject& object);

// One row per listed object, ordered by type, then name, as the providers sort.
std::vector<TableSchemaRow> tablesSchema(const jet::Catalog& catalog);

}  // namespace tab::ado
