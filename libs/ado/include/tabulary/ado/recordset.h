// A static, client-side recordset: its fields are known when it is opened,
// its rows are read all at once at the first use of EOF, RecordCount, a move
// or a value, and the row source (with the database it reads) is let go
// right after. Listing the fields therefore reads no row at all.
//
// The rows are kept by column, each value at the width its field's type
// needs (text and binary in one byte arena per column), and become
// jet::Values only when a cell is read.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/value.h"

namespace tab::ado {

struct Field {
    std::string name;
    jet::ColumnType type = jet::ColumnType::Text;  // the Access type of the values
    uint32_t size = 0;                             // Text: characters
};

namespace detail {
class ColumnStore;
}

// Takes one row's values, field by field, straight into the recordset's
// columns. Every field of a row gets exactly one call.
class RowWriter {
public:
    explicit RowWriter(detail::ColumnStore& store) : m_store(store) {}

    void null(size_t field);
    void boolean(size_t field, bool b);
    void integer(size_t field, int64_t v);
    void single(size_t field, float f);
    void real(size_t field, double d);
    void currency(size_t field, int64_t scaled);
    void dateTime(size_t field, double serial);
    void text(size_t field, std::string_view utf8);
    void binary(size_t field, std::string_view bytes);
    void value(size_t field, const jet::Value& v);

    // A row buffer for sources that only hand out whole jet::Value rows.
    std::vector<jet::Value>& scratch() { return m_scratch; }

private:
    detail::ColumnStore& m_store;
    std::vector<jet::Value> m_scratch;
};

// Where rows come from; owned by the recordset until it has read them all.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual const std::vector<Field>& fields() const = 0;
    // Fills `row` (one value per field); false at the end.
    virtual Result<bool> next(std::vector<jet::Value>& row) = 0;
    // The next row handed to `out`; false at the end. The default goes
    // through next(); a source that can do without a jet::Value per cell
    // overrides it.
    virtual Result<bool> nextInto(RowWriter& out);
};

// Bounds on reading a result's rows. Reaching one keeps the rows read so
// far and lets the source go, as the end of the rows does.
struct FillLimits {
    size_t maxBytes = SIZE_MAX;  // heldBytes() at most about this
    size_t maxRows = SIZE_MAX;
    // Set from another thread to stop; a source failing because of it
    // counts as stopped, not failed.
    const std::atomic<bool>* stop = nullptr;
};

enum class FillEnd { Complete, Cut, Stopped };

class Recordset {
public:
    explicit Recordset(std::unique_ptr<RowSource> source);
    ~Recordset();
    Recordset(Recordset&&) noexcept;
    Recordset& operator=(Recordset&&) noexcept;

    const std::vector<Field>& fields() const { return m_fields; }

    // Each of these reads the rows first if that has not happened; a failure
    // while reading is reported by whichever is used first, and again after.
    Result<bool> eof();
    Result<int64_t> recordCount();
    Status moveFirst();
    Status moveNext();
    Result<jet::Value> value(size_t field);

    // Reads the rows if not yet (the grid and the exporters call it once,
    // then read cells). The cell accessors below see no rows before a
    // successful fill; row and field must be in range.
    Status fill();
    // The same within limits; how the reading ended.
    Result<FillEnd> fill(const FillLimits& limits);
    bool filled() const { return m_filled; }
    FillEnd fillEnd() const { return m_end; }

    size_t rowCount() const;
    jet::Value cell(size_t row, size_t field) const;
    bool isNull(size_t row, size_t field) const;
    // The cell's display text (as ado::appendValueText writes it), appended.
    void appendCellText(size_t row, size_t field, std::string& out) const;

    // Bytes held for the rows: the capacity of every array, arena, bitmap
    // and spill area.
    size_t heldBytes() const;

private:
    std::unique_ptr<RowSource> m_source;
    std::vector<Field> m_fields;
    std::unique_ptr<detail::ColumnStore> m_store;
    size_t m_position = 0;
    bool m_filled = false;
    FillEnd m_end = FillEnd::Complete;
    std::optional<Error> m_error;
};

}  // namespace tab::ado
