// The SQL text of a saved query, rebuilt from its MSysQueries rows (Access
// keeps no SQL text for most kinds, only the parts of the design grid).
#pragma once

#include <string>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/catalog.h"

namespace tab::jet {

struct QueryParameter {
    std::string name;      // as stored, without brackets
    std::string typeName;  // "Long", "DateTime", "Text (255)", ...
};

struct SavedQuery {
    std::string name;
    QueryKind kind = QueryKind::Unknown;
    std::vector<QueryParameter> parameters;
    // Clauses on separate lines joined by '\n' (Access shows CR LF), ending
    // in ';' except for pass-through and data-definition text, which is
    // returned as stored. Starts with a PARAMETERS line when there are any.
    std::string sql;
};

// Rebuilds the statement from the object's MSysQueries rows. Corrupt when
// the rows contradict each other or the object's kind (duplicate single
// rows, a join type or TOP value that cannot be, a missing union part, ...),
// Unsupported for query type or parameter type codes we do not know.
Result<SavedQuery> rebuildSavedQuery(const CatalogObject& query);

}  // namespace tab::jet
