#include "tabulary/ado/recordset.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

#include "tabulary/jet/value_text.h"

namespace tab::ado {
namespace detail {
namespace {

using jet::Value;
using Kind = jet::Value::Kind;

// How a column keeps its values, chosen from the field's type.
enum class Layout : uint8_t {
    Bool,
    U8,
    I16,
    I32,
    I64,
    F32,
    F64,
    Date,
    Money,
    Guid,
    Dec,
    DateExt,
    Text,
    Binary,
};

Layout layoutOf(jet::ColumnType t) {
    using T = jet::ColumnType;
    switch (t) {
        case T::Boolean:
            return Layout::Bool;
        case T::Byte:
            return Layout::U8;
        case T::Integer:
            return Layout::I16;
        case T::Long:
            return Layout::I32;
        case T::BigInt:
            return Layout::I64;
        case T::Single:
            return Layout::F32;
        case T::Double:
            return Layout::F64;
        case T::DateTime:
            return Layout::Date;
        case T::Currency:
            return Layout::Money;
        case T::Guid:
            return Layout::Guid;
        case T::Decimal:
            return Layout::Dec;
        case T::DateTimeExt:
            return Layout::DateExt;
        case T::Binary:
        case T::Ole:
            return Layout::Binary;
        case T::Text:
        case T::Memo:
        case T::Complex:
            return Layout::Text;
    }
    return Layout::Text;
}

size_t widthOf(Layout l) {
    switch (l) {
        case Layout::Bool:
        case Layout::U8:
            return 1;
        case Layout::I16:
            return 2;
        case Layout::I32:
        case Layout::F32:
            return 4;
        case Layout::I64:
        case Layout::F64:
        case Layout::Date:
        case Layout::Money:
            return 8;
        case Layout::Guid:
        case Layout::DateExt:
            return 16;
        case Layout::Dec:
            return 18;  // hi, lo, scale, sign
        case Layout::Text:
        case Layout::Binary:
            return 0;
    }
    return 0;
}

// Rows per arena block: a row's end is a 32-bit offset from its block's base.
constexpr size_t kBlockRows = size_t{1} << 14;
constexpr uint64_t kMaxRel = std::numeric_limits<uint32_t>::max();

bool sameBits(double a, double b) {
    uint64_t x = 0, y = 0;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

template <class T>
void putRaw(std::vector<char>& out, T v) {
    char b[sizeof v];
    std::memcpy(b, &v, sizeof v);
    out.insert(out.end(), b, b + sizeof v);
}

template <class T>
T getRaw(const char*& p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
    return v;
}

void putCount(std::vector<char>& out, uint64_t n) {
    while (n >= 0x80) {
        out.push_back(static_cast<char>((n & 0x7F) | 0x80));
        n >>= 7;
    }
    out.push_back(static_cast<char>(n));
}

uint64_t getCount(const char*& p) {
    uint64_t n = 0;
    for (int shift = 0;; shift += 7) {
        const auto b = static_cast<unsigned char>(*p++);
        n |= static_cast<uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return n;
    }
}

// A value of any kind as bytes: its kind, then its payload.
void serialise(const Value& v, std::vector<char>& out) {
    out.push_back(static_cast<char>(v.kind()));
    switch (v.kind()) {
        case Kind::Null:
            return;
        case Kind::Boolean:
            out.push_back(v.asBool() ? 1 : 0);
            return;
        case Kind::Integer:
        case Kind::Currency:
            putRaw(out, v.asInt());
            return;
        case Kind::Single:
        case Kind::Double:
        case Kind::DateTime:
            putRaw(out, v.asDouble());
            return;
        case Kind::Decimal:
            putRaw(out, v.asDecimal().hi);
            putRaw(out, v.asDecimal().lo);
            out.push_back(static_cast<char>(v.asDecimal().scale));
            out.push_back(v.asDecimal().negative ? 1 : 0);
            return;
        case Kind::DateTimeExt:
            putRaw(out, v.asInt());
            putRaw(out, v.asInt2());
            return;
        case Kind::Text:
        case Kind::Binary:
        case Kind::Guid:
            putCount(out, v.bytes().size());
            out.insert(out.end(), v.bytes().begin(), v.bytes().end());
            return;
        case Kind::List:
            putCount(out, v.items().size());
            for (const Value& item : v.items()) serialise(item, out);
            return;
    }
}

Value deserialise(const char*& p) {
    const auto kind = static_cast<Kind>(static_cast<unsigned char>(*p++));
    switch (kind) {
        case Kind::Null:
            return Value::null();
        case Kind::Boolean:
            return Value::boolean(*p++ != 0);
        case Kind::Integer:
            return Value::integer(getRaw<int64_t>(p));
        case Kind::Currency:
            return Value::currency(getRaw<int64_t>(p));
        case Kind::Single:
            // A Single's double always came from a float, so this is exact.
            return Value::single(static_cast<float>(getRaw<double>(p)));
        case Kind::Double:
            return Value::real(getRaw<double>(p));
        case Kind::DateTime:
            return Value::dateTime(getRaw<double>(p));
        case Kind::Decimal: {
            jet::Decimal d;
            d.hi = getRaw<uint64_t>(p);
            d.lo = getRaw<uint64_t>(p);
            d.scale = static_cast<uint8_t>(*p++);
            d.negative = *p++ != 0;
            return Value::decimal(d);
        }
        case Kind::DateTimeExt: {
            const auto days = getRaw<int64_t>(p);
            return Value::dateTimeExt(days, getRaw<int64_t>(p));
        }
        case Kind::Text:
        case Kind::Binary:
        case Kind::Guid: {
            const auto n = static_cast<size_t>(getCount(p));
            std::string bytes(p, n);
            p += n;
            if (kind == Kind::Text) return Value::text(std::move(bytes));
            if (kind == Kind::Binary) return Value::binary(std::move(bytes));
            return Value::guid(std::move(bytes));
        }
        case Kind::List: {
            const auto n = static_cast<size_t>(getCount(p));
            std::vector<Value> items;
            items.reserve(n);
            for (size_t i = 0; i < n; ++i) items.push_back(deserialise(p));
            return Value::list(std::move(items));
        }
    }
    return Value::null();
}

template <class T>
size_t capacityBytes(const std::vector<T>& v) {
    return v.capacity() * sizeof(T);
}

size_t capacityBytes(const std::string& s) {
    return s.capacity();
}

// Gives back what growth left over, unless that is little: shrinking
// copies the whole array.
template <class C>
void trim(C& v) {
    if (v.capacity() - v.size() > v.size() / 8) v.shrink_to_fit();
}

}  // namespace

// One field's values. Every row has a slot in the layout (zero bytes or an
// empty span when it is Null or spilled); Nulls are a bitmap, and values the
// layout cannot hold exactly go serialised into the spill area, found by
// their row.
class Column {
public:
    explicit Column(Layout layout) : m_layout(layout), m_width(widthOf(layout)) {}

    size_t rows() const { return m_rows; }

    void null() {
        const size_t word = m_rows / 64;
        if (m_nulls.size() <= word) m_nulls.resize(word + 1, 0);
        m_nulls[word] |= uint64_t{1} << (m_rows % 64);
        pushEmpty();
    }

    void boolean(bool b) {
        if (m_layout == Layout::Bool) return pushFixed(static_cast<uint8_t>(b ? 1 : 0));
        spill(Value::boolean(b));
    }

    void integer(int64_t v) {
        switch (m_layout) {
            case Layout::U8:
                if (v >= 0 && v <= 255) return pushFixed(static_cast<uint8_t>(v));
                break;
            case Layout::I16:
                if (v >= INT16_MIN && v <= INT16_MAX) return pushFixed(static_cast<int16_t>(v));
                break;
            case Layout::I32:
                if (v >= INT32_MIN && v <= INT32_MAX) return pushFixed(static_cast<int32_t>(v));
                break;
            case Layout::I64:
                return pushFixed(v);
            default:
                break;
        }
        spill(Value::integer(v));
    }

    void single(float f) {
        if (m_layout == Layout::F32) return pushFixed(f);
        spill(Value::single(f));
    }

    void real(double d) {
        if (m_layout == Layout::F64) return pushFixed(d);
        spill(Value::real(d));
    }

    void currency(int64_t scaled) {
        if (m_layout == Layout::Money) return pushFixed(scaled);
        spill(Value::currency(scaled));
    }

    void dateTime(double serial) {
        if (m_layout == Layout::Date) return pushFixed(serial);
        spill(Value::dateTime(serial));
    }

    void text(std::string_view s) {
        if (m_layout == Layout::Text && pushBytes(s)) return;
        spill(Value::text(std::string(s)));
    }

    void binary(std::string_view s) {
        if (m_layout == Layout::Binary && pushBytes(s)) return;
        spill(Value::binary(std::string(s)));
    }

    void value(const Value& v) {
        switch (v.kind()) {
            case Kind::Null:
                return null();
            case Kind::Boolean:
                return boolean(v.asBool());
            case Kind::Integer:
                return integer(v.asInt());
            case Kind::Single: {
                const auto f = static_cast<float>(v.asDouble());
                if (sameBits(static_cast<double>(f), v.asDouble())) return single(f);
                break;
            }
            case Kind::Double:
                return real(v.asDouble());
            case Kind::Currency:
                return currency(v.asInt());
            case Kind::DateTime:
                return dateTime(v.asDouble());
            case Kind::Decimal:
                if (m_layout == Layout::Dec) {
                    const jet::Decimal& d = v.asDecimal();
                    char b[18];
                    std::memcpy(b, &d.hi, 8);
                    std::memcpy(b + 8, &d.lo, 8);
                    b[16] = static_cast<char>(d.scale);
                    b[17] = d.negative ? 1 : 0;
                    return pushWidth(b);
                }
                break;
            case Kind::DateTimeExt:
                if (m_layout == Layout::DateExt) {
                    char b[16];
                    const int64_t days = v.asInt(), ticks = v.asInt2();
                    std::memcpy(b, &days, 8);
                    std::memcpy(b + 8, &ticks, 8);
                    return pushWidth(b);
                }
                break;
            case Kind::Text:
                return text(v.bytes());
            case Kind::Binary:
                return binary(v.bytes());
            case Kind::Guid:
                if (m_layout == Layout::Guid && v.bytes().size() == 16)
                    return pushWidth(v.bytes().data());
                break;
            case Kind::List:
                break;
        }
        spill(v);
    }

    bool isNull(size_t row) const { return nullBit(row); }

    Value cell(size_t row) const {
        if (const char* p = spillData(row)) return deserialise(p);
        if (nullBit(row)) return Value::null();
        const auto* p = reinterpret_cast<const unsigned char*>(m_blocks[row / kBlockRows].data()) +
                        row % kBlockRows * m_width;
        switch (m_layout) {
            case Layout::Bool:
                return Value::boolean(*p != 0);
            case Layout::U8:
                return Value::integer(*p);
            case Layout::I16:
                return Value::integer(read<int16_t>(p));
            case Layout::I32:
                return Value::integer(read<int32_t>(p));
            case Layout::I64:
                return Value::integer(read<int64_t>(p));
            case Layout::F32:
                return Value::single(read<float>(p));
            case Layout::F64:
                return Value::real(read<double>(p));
            case Layout::Date:
                return Value::dateTime(read<double>(p));
            case Layout::Money:
                return Value::currency(read<int64_t>(p));
            case Layout::Guid:
                return Value::guid(std::string(reinterpret_cast<const char*>(p), 16));
            case Layout::Dec: {
                jet::Decimal d;
                d.hi = read<uint64_t>(p);
                d.lo = read<uint64_t>(p + 8);
                d.scale = p[16];
                d.negative = p[17] != 0;
                return Value::decimal(d);
            }
            case Layout::DateExt:
                return Value::dateTimeExt(read<int64_t>(p), read<int64_t>(p + 8));
            case Layout::Text:
                return Value::text(std::string(span(row)));
            case Layout::Binary:
                return Value::binary(std::string(span(row)));
        }
        return Value::null();
    }

    void appendText(size_t row, std::string& out) const {
        // Stored text is its own display text: no Value in between.
        if (m_layout == Layout::Text && !spilled(row)) {
            out += span(row);
            return;
        }
        if (nullBit(row)) return;
        jet::appendValueText(out, cell(row));
    }

    void finish() {
        if (m_width && m_rows % kBlockRows) m_blocks.back().resize(m_rows % kBlockRows * m_width);
        if (!m_blocks.empty()) trim(m_blocks.back());
        trim(m_blocks);
        trim(m_ends);
        trim(m_nulls);
        trim(m_spillRows);
        trim(m_spillStarts);
        trim(m_spillBlocks);
        trim(m_spillBytes);
    }

    size_t heldBytes() const {
        size_t arena = capacityBytes(m_blocks);
        for (const auto& b : m_blocks) arena += capacityBytes(b);
        return arena + capacityBytes(m_ends) + capacityBytes(m_nulls) + capacityBytes(m_spillRows) +
               capacityBytes(m_spillStarts) + capacityBytes(m_spillBlocks) +
               capacityBytes(m_spillBytes);
    }

private:
    struct SpillBlock {
        size_t firstEntry;
        uint64_t base;  // offset in m_spillBytes of the block's first entry
    };

    // A spilled row's bit is never set: spill() sets none.
    bool nullBit(size_t row) const {
        return row / 64 < m_nulls.size() && (m_nulls[row / 64] >> (row % 64)) & 1;
    }

    template <class T>
    static T read(const unsigned char* p) {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }

    template <class T>
    void pushFixed(T v) {
        static_assert(std::is_trivially_copyable_v<T>);
        char b[sizeof v];
        std::memcpy(b, &v, sizeof v);
        pushWidth(b);
    }

    // A fixed-width block takes a whole block's room at once, so no array
    // is copied to grow.
    void pushWidth(const char* bytes) {
        const size_t slot = m_rows % kBlockRows;
        if (slot == 0) m_blocks.emplace_back(kBlockRows * m_width, '\0');
        std::memcpy(m_blocks.back().data() + slot * m_width, bytes, m_width);
        ++m_rows;
    }

    uint64_t relStart() const { return m_rows % kBlockRows == 0 ? 0 : m_ends.back(); }

    // False when the bytes would take the block's offsets past 32 bits.
    bool pushBytes(std::string_view s) {
        const uint64_t start = relStart();
        if (s.size() > kMaxRel - start) return false;
        if (m_rows % kBlockRows == 0) {
            // Each block has its own bytes, so the arena never moves as a
            // whole; the next block expects about as many as the last.
            size_t expect = 0;
            if (!m_blocks.empty()) {
                trim(m_blocks.back());
                expect = m_blocks.back().size() + m_blocks.back().size() / 16;
            }
            m_blocks.emplace_back().reserve(expect);
        }
        m_blocks.back().append(s);
        m_ends.push_back(static_cast<uint32_t>(start + s.size()));
        ++m_rows;
        return true;
    }

    void pushEmpty() {
        if (m_width) {
            static constexpr char kZero[18] = {};
            pushWidth(kZero);
        } else {
            pushBytes({});
        }
    }

    std::string_view span(size_t row) const {
        const uint32_t start = row % kBlockRows == 0 ? 0 : m_ends[row - 1];
        return {m_blocks[row / kBlockRows].data() + start, m_ends[row] - start};
    }

    void spill(const Value& v) {
        const uint64_t at = m_spillBytes.size();
        if (m_spillBlocks.empty() || at - m_spillBlocks.back().base > kMaxRel)
            m_spillBlocks.push_back({m_spillRows.size(), at});
        m_spillRows.push_back(static_cast<uint32_t>(m_rows));
        m_spillStarts.push_back(static_cast<uint32_t>(at - m_spillBlocks.back().base));
        serialise(v, m_spillBytes);
        pushEmpty();
    }

    bool spilled(size_t row) const {
        return !m_spillRows.empty() &&
               std::binary_search(m_spillRows.begin(), m_spillRows.end(), row);
    }

    // The serialised value of a spilled row, else nullptr.
    const char* spillData(size_t row) const {
        if (m_spillRows.empty()) return nullptr;
        auto it = std::lower_bound(m_spillRows.begin(), m_spillRows.end(), row);
        if (it == m_spillRows.end() || *it != row) return nullptr;
        const auto entry = static_cast<size_t>(it - m_spillRows.begin());
        auto block =
            std::upper_bound(m_spillBlocks.begin(), m_spillBlocks.end(), entry,
                             [](size_t e, const SpillBlock& b) { return e < b.firstEntry; });
        --block;
        return m_spillBytes.data() + block->base + m_spillStarts[entry];
    }

    Layout m_layout;
    size_t m_width;
    size_t m_rows = 0;
    std::vector<std::string> m_blocks;    // each block's rows: m_width bytes a row, or
                                          // (Text, Binary) the rows' bytes
    std::vector<uint32_t> m_ends;         // each row's end in its block
    std::vector<uint64_t> m_nulls;        // bit per row, as far as the last Null
    std::vector<uint32_t> m_spillRows;    // ascending
    std::vector<uint32_t> m_spillStarts;  // from the entry's block base
    std::vector<SpillBlock> m_spillBlocks;
    std::vector<char> m_spillBytes;
};

class ColumnStore {
public:
    explicit ColumnStore(const std::vector<Field>& fields) {
        m_columns.reserve(fields.size());
        for (const Field& f : fields) m_columns.emplace_back(layoutOf(f.type));
    }

    Column& column(size_t i) { return m_columns[i]; }
    const Column& column(size_t i) const { return m_columns[i]; }
    size_t rows() const { return m_rows; }

    // After a row's values: every column must have taken exactly one.
    Status endRow() {
        ++m_rows;
        if (m_rows >= std::numeric_limits<uint32_t>::max())
            return Error(Errc::Unsupported, "The result has too many records to hold");
        return {};
    }

    Status finish() {
        for (Column& c : m_columns) {
            if (c.rows() != m_rows)
                return Error(Errc::Internal, "A row source gave a row without every field");
            c.finish();
        }
        return {};
    }

    size_t heldBytes() const {
        size_t n = sizeof(*this) + m_columns.capacity() * sizeof(Column);
        for (const Column& c : m_columns) n += c.heldBytes();
        return n;
    }

private:
    std::vector<Column> m_columns;
    size_t m_rows = 0;
};

}  // namespace detail

void RowWriter::null(size_t field) {
    m_store.column(field).null();
}
void RowWriter::boolean(size_t field, bool b) {
    m_store.column(field).boolean(b);
}
void RowWriter::integer(size_t field, int64_t v) {
    m_store.column(field).integer(v);
}
void RowWriter::single(size_t field, float f) {
    m_store.column(field).single(f);
}
void RowWriter::real(size_t field, double d) {
    m_store.column(field).real(d);
}
void RowWriter::currency(size_t field, int64_t scaled) {
    m_store.column(field).currency(scaled);
}
void RowWriter::dateTime(size_t field, double serial) {
    m_store.column(field).dateTime(serial);
}
void RowWriter::text(size_t field, std::string_view utf8) {
    m_store.column(field).text(utf8);
}
void RowWriter::binary(size_t field, std::string_view bytes) {
    m_store.column(field).binary(bytes);
}
void RowWriter::value(size_t field, const jet::Value& v) {
    m_store.column(field).value(v);
}

Result<bool> RowSource::nextInto(RowWriter& out) {
    const size_t n = fields().size();
    auto& row = out.scratch();
    row.assign(n, jet::Value());
    TAB_ASSIGN_OR_RETURN(bool more, next(row));
    if (!more) return false;
    for (size_t i = 0; i < n; ++i) {
        if (i < row.size())
            out.value(i, row[i]);
        else
            out.null(i);
    }
    return true;
}

Recordset::Recordset(std::unique_ptr<RowSource> source) : m_source(std::move(source)) {
    if (m_source) m_fields = m_source->fields();
}

Recordset::~Recordset() = default;
Recordset::Recordset(Recordset&&) noexcept = default;
Recordset& Recordset::operator=(Recordset&&) noexcept = default;

Status Recordset::fill() {
    auto end = fill(FillLimits{});
    if (!end.ok()) return end.error();
    return {};
}

Result<FillEnd> Recordset::fill(const FillLimits& limits) {
    if (m_error) return *m_error;
    if (m_filled) return m_end;
    m_filled = true;
    auto store = std::make_unique<detail::ColumnStore>(m_fields);
    const auto stopped = [&] {
        return limits.stop && limits.stop->load(std::memory_order_relaxed);
    };
    // Measuring the store walks its blocks: often enough to stay near the
    // bound, rarely enough to cost nothing per row.
    constexpr size_t kMeasureEvery = 4096;
    if (m_source) {
        RowWriter writer(*store);
        while (true) {
            if (stopped()) {
                m_end = FillEnd::Stopped;
                break;
            }
            if (store->rows() >= limits.maxRows ||
                (store->rows() % kMeasureEvery == 0 && limits.maxBytes != SIZE_MAX &&
                 store->heldBytes() >= limits.maxBytes)) {
                m_end = FillEnd::Cut;
                break;
            }
            auto more = m_source->nextInto(writer);
            if (!more.ok()) {
                if (stopped())
                    m_end = FillEnd::Stopped;
                else
                    m_error = more.error();
                break;
            }
            if (!*more) break;
            if (Status s = store->endRow(); !s.ok()) {
                m_error = s.error();
                break;
            }
        }
    }
    m_source.reset();  // no connection stays open behind a filled recordset
    if (!m_error)
        if (Status s = store->finish(); !s.ok()) m_error = s.error();
    if (m_error) return *m_error;
    m_store = std::move(store);
    return m_end;
}

size_t Recordset::rowCount() const {
    return m_store ? m_store->rows() : 0;
}

jet::Value Recordset::cell(size_t row, size_t field) const {
    return m_store->column(field).cell(row);
}

bool Recordset::isNull(size_t row, size_t field) const {
    return m_store->column(field).isNull(row);
}

void Recordset::appendCellText(size_t row, size_t field, std::string& out) const {
    m_store->column(field).appendText(row, out);
}

size_t Recordset::heldBytes() const {
    return m_store ? m_store->heldBytes() : 0;
}

Result<bool> Recordset::eof() {
    TAB_TRY(fill());
    return m_position >= rowCount();
}

Result<int64_t> Recordset::recordCount() {
    TAB_TRY(fill());
    return static_cast<int64_t>(rowCount());
}

Status Recordset::moveFirst() {
    TAB_TRY(fill());
    m_position = 0;
    return {};
}

Status Recordset::moveNext() {
    TAB_TRY(fill());
    if (m_position >= rowCount())
        return Error(Errc::InvalidArgument,
                     "Either BOF or EOF is True, or the current record has been deleted.");
    ++m_position;
    return {};
}

Result<jet::Value> Recordset::value(size_t field) {
    TAB_TRY(fill());
    if (m_position >= rowCount())
        return Error(Errc::InvalidArgument,
                     "Either BOF or EOF is True, or the current record has been deleted.");
    if (field >= m_fields.size())
        return Error(
            Errc::NotFound,
            "Item cannot be found in the collection corresponding to the requested name or "
            "ordinal.");
    return cell(m_position, field);
}

}  // namespace tab::ado
