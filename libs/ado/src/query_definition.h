// A saved query as Access stores it: MSysQueries rows and the MSysObjects
// flags, built from a parsed statement. Jet keeps every expression in the text
// it was written in, so the rows carry slices of the statement's SQL; names of
// tables, aliases and targets go in the name columns without brackets.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "tabulary/accsql/ast.h"
#include "tabulary/base/error.h"
#include "tabulary/jet/catalog.h"

namespace tab::ado {

struct QueryDefinition {
    jet::QueryKind kind = jet::QueryKind::Select;
    uint32_t objectFlags = 0;  // MSysObjects Flags of the query: its kind in bits 4-7
    // Sorted by attribute, then Order (4 big-endian bytes from 1); framed by
    // the attribute-0 and attribute-255 rows Access writes for every query.
    // Select queries from CREATE VIEW or CREATE PROCEDURE have no type row
    // (attribute 1), as in Access-made files; every other query has one.
    std::vector<jet::QueryRow> rows;
};

// `statement` is CREATE VIEW (a select; its column list becomes the aliases),
// CREATE PROCEDURE (its parameters and statement), or a statement saved as it
// is: SELECT, UNION, TRANSFORM, SELECT ... INTO, INSERT, UPDATE, DELETE, or
// data definition. `sqlText` is the text it was parsed from. Unsupported when
// the stored form would read back as a different statement; InvalidArgument
// when the statement does not belong to the text or cannot be a saved query.
Result<QueryDefinition> buildQueryDefinition(const accsql::Statement& statement,
                                             std::string_view sqlText);

}  // namespace tab::ado
