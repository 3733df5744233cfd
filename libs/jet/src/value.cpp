#include "tabulary/jet/value.h"

#include <cstring>
#include <utility>

namespace tab::jet {

namespace {

// Bit pattern comparison: keeps equality reflexive for NaN and tells 0.0 from
// -0.0, so a Value compares equal only to what would decode from the same bytes.
bool sameBits(double a, double b) {
    uint64_t x = 0;
    uint64_t y = 0;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

}  // namespace

const char* columnTypeName(ColumnType type) {
    switch (type) {
        case ColumnType::Boolean:
            return "Yes/No";
        case ColumnType::Byte:
            return "Byte";
        case ColumnType::Integer:
            return "Integer";
        case ColumnType::Long:
            return "Long Integer";
        case ColumnType::Currency:
            return "Currency";
        case ColumnType::Single:
            return "Single";
        case ColumnType::Double:
            return "Double";
        case ColumnType::DateTime:
            return "Date/Time";
        case ColumnType::Binary:
            return "Binary";
        case ColumnType::Text:
            return "Text";
        case ColumnType::Ole:
            return "OLE Object";
        case ColumnType::Memo:
            return "Memo";
        case ColumnType::Guid:
            return "Replication ID";
        case ColumnType::Decimal:
            return "Decimal";
        case ColumnType::Complex:
            return "Complex";
        case ColumnType::BigInt:
            return "Large Number";
        case ColumnType::DateTimeExt:
            return "Date/Time Extended";
    }
    return "Unknown";
}

Value Value::single(float f) {
    Value v;
    v.m_kind = Kind::Single;
    v.m_double = static_cast<double>(f);
    return v;
}

Value Value::real(double d) {
    Value v;
    v.m_kind = Kind::Double;
    v.m_double = d;
    return v;
}

Value Value::decimal(const Decimal& d) {
    Value v;
    v.m_kind = Kind::Decimal;
    v.m_decimal = d;
    return v;
}

Value Value::dateTime(double serial) {
    Value v;
    v.m_kind = Kind::DateTime;
    v.m_double = serial;
    return v;
}

Value Value::dateTimeExt(int64_t days, int64_t ticks) {
    Value v;
    v.m_kind = Kind::DateTimeExt;
    v.m_int = days;
    v.m_int2 = ticks;
    return v;
}

Value Value::text(std::string utf8) {
    Value v;
    v.m_kind = Kind::Text;
    v.m_bytes = std::move(utf8);
    return v;
}

Value Value::binary(std::string bytes) {
    Value v;
    v.m_kind = Kind::Binary;
    v.m_bytes = std::move(bytes);
    return v;
}

Value Value::guid(std::string bytes16) {
    Value v;
    v.m_kind = Kind::Guid;
    v.m_bytes = std::move(bytes16);
    return v;
}

Value Value::list(std::vector<Value> items, int32_t key) {
    Value v;
    v.m_kind = Kind::List;
    v.m_int = key;
    v.m_items = std::make_shared<const std::vector<Value>>(std::move(items));
    return v;
}

const std::vector<Value>& Value::items() const {
    static const std::vector<Value> kEmpty;
    return m_items ? *m_items : kEmpty;
}

// Payload equality of the stored representation: doubles by bit pattern,
// decimals field by field (1.0 at scale 1 differs from 1 at scale 0).
bool Value::operator==(const Value& other) const {
    if (m_kind != other.m_kind) return false;
    switch (m_kind) {
        case Kind::Null:
            return true;
        case Kind::Boolean:
        case Kind::Integer:
        case Kind::Currency:
            return m_int == other.m_int;
        case Kind::Single:
        case Kind::Double:
        case Kind::DateTime:
            return sameBits(m_double, other.m_double);
        case Kind::Decimal:
            return m_decimal.hi == other.m_decimal.hi && m_decimal.lo == other.m_decimal.lo &&
                   m_decimal.scale == other.m_decimal.scale &&
                   m_decimal.negative == other.m_decimal.negative;
        case Kind::DateTimeExt:
            return m_int == other.m_int && m_int2 == other.m_int2;
        case Kind::Text:
        case Kind::Binary:
        case Kind::Guid:
            return m_bytes == other.m_bytes;
        case Kind::List:
            return items() == other.items();
    }
    return false;
}

}  // namespace tab::jet
