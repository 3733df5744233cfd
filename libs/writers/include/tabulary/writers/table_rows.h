// What every document writer reads: the column captions, then the rows one
// after the other, each cell as display text. A forward-only query result
// serves as well as a grid that holds all its rows.
#pragma once

#include <cstddef>
#include <string>

#include "tabulary/base/error.h"

namespace tab::writers {

class TableRows {
public:
    virtual ~TableRows() = default;
    // Read before each line, as the grid's writers do.
    virtual size_t columnCount() = 0;
    // Appends the UTF-8 caption of a column.
    virtual void appendCaption(size_t column, std::string& out) = 0;
    // Moves to the next row (the first at the first call); false at the end.
    virtual Result<bool> nextRow() = 0;
    // Appends the UTF-8 text of a cell of the current row; "" for Null.
    virtual void appendCell(size_t column, std::string& out) = 0;
};

}  // namespace tab::writers
