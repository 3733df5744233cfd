// A static, client-side recordset: its fields are known when it is opened,
// its rows are read all at once at the first use of EOF, RecordCount, a move
// or a value, and the row source (with the database it reads) is let go
// right after. Listing the fields therefore reads no row at all.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/value.h"

namespace tab::ado {

struct Field {
    std::string name;
    jet::ColumnType type = jet::ColumnType::Text;  // the Access type of the values
    uint32_t size = 0;                             // Text: characters
};

// Where rows come from; owned by the recordset until it has read them all.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual const std::vector<Field>& fields() const = 0;
    // Fills `row` (one value per field); false at the end.
    virtual Result<bool> next(std::vector<jet::Value>& row) = 0;
};

class Recordset {
public:
    explicit Recordset(std::unique_ptr<RowSource> source);

    const std::vector<Field>& fields() const { return m_fields; }

    // Each of these reads the rows first if that has not happened; a failure
    // while reading is reported by whichever is used first, and again after.
    Result<bool> eof();
    Result<int64_t> recordCount();
    Status moveFirst();
    Status moveNext();
    Result<jet::Value> value(size_t field);

    // The rows, once read (for the grid and the exporters).
    Result<const std::vector<std::vector<jet::Value>>*> rows();
    bool filled() const { return m_filled; }

private:
    Status fill();

    std::unique_ptr<RowSource> m_source;
    std::vector<Field> m_fields;
    std::vector<std::vector<jet::Value>> m_rows;
    size_t m_position = 0;
    bool m_filled = false;
    std::optional<Error> m_error;
};

}  // namespace tab::ado
