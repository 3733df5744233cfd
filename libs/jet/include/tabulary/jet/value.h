// The typed value that the engine hands to every later layer: one cell of a
// row, decoded from its Jet encoding into a plain C++ form.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tab::jet {

// Column type codes as stored in the table definition.
enum class ColumnType : uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Binary = 0x09,
    Text = 0x0A,
    Ole = 0x0B,
    Memo = 0x0C,
    Guid = 0x0F,
    Decimal = 0x10,
    Complex = 0x12,
    BigInt = 0x13,
    DateTimeExt = 0x14,
};

const char* columnTypeName(ColumnType type);  // Access's name, e.g. "Long Integer"

// Exact decimal: (negative ? -1 : 1) * (hi * 2^64 + lo) / 10^scale.
struct Decimal {
    uint64_t hi = 0;
    uint64_t lo = 0;
    uint8_t scale = 0;
    bool negative = false;
};

class Value {
public:
    enum class Kind : uint8_t {
        Null,
        Boolean,  // m_int 0 or 1
        Integer,  // Byte, Integer, Long, Large Number
        Single,   // m_double holds the float's value
        Double,
        Currency,     // m_int = value * 10000
        Decimal,      // m_decimal
        DateTime,     // m_double = days since 1899-12-30, Access's sign rule
        DateTimeExt,  // m_int = days since 0001-01-01, m_int2 = 100 ns units since midnight
        Text,         // m_bytes holds UTF-8
        Binary,       // m_bytes holds the raw bytes (Binary, OLE Object)
        Guid,         // m_bytes holds 16 bytes in stored (Windows GUID) order
        List,         // multi-valued field or attachments: m_items
    };

    Value() = default;
    static Value null() { return Value(); }
    static Value boolean(bool b) { return make(Kind::Boolean, b ? 1 : 0); }
    static Value integer(int64_t v) { return make(Kind::Integer, v); }
    static Value single(float f);
    static Value real(double d);
    static Value currency(int64_t scaled) { return make(Kind::Currency, scaled); }
    static Value decimal(const Decimal& d);
    static Value dateTime(double serial);
    static Value dateTimeExt(int64_t days, int64_t ticks);
    static Value text(std::string utf8);
    static Value binary(std::string bytes);
    static Value guid(std::string bytes16);
    // `key`: the row's complex value key, which links it to its items.
    static Value list(std::vector<Value> items, int32_t key = 0);

    Kind kind() const { return m_kind; }
    bool isNull() const { return m_kind == Kind::Null; }

    bool asBool() const { return m_int != 0; }
    int64_t asInt() const { return m_int; }               // Integer, Boolean, Currency (scaled)
    int64_t asInt2() const { return m_int2; }             // DateTimeExt ticks
    double asDouble() const { return m_double; }          // Single, Double, DateTime
    const std::string& bytes() const { return m_bytes; }  // Text (UTF-8), Binary, Guid
    const Decimal& asDecimal() const { return m_decimal; }
    const std::vector<Value>& items() const;
    int32_t complexKey() const { return static_cast<int32_t>(m_int); }  // List

    bool operator==(const Value& other) const;

    // In-place refills for decoders that reuse one Value per column from row
    // to row: the byte buffer keeps its capacity, so a scan allocates nothing
    // per value. Each leaves the Value as the matching factory would.
    void setNull() { reset(Kind::Null); }
    void setInteger(int64_t v) { resetInt(Kind::Integer, v); }
    void setBoolean(bool b) { resetInt(Kind::Boolean, b ? 1 : 0); }
    void setCurrency(int64_t scaled) { resetInt(Kind::Currency, scaled); }
    void setReal(double d) { resetDouble(Kind::Double, d); }
    void setSingle(float f) { resetDouble(Kind::Single, static_cast<double>(f)); }
    void setDateTime(double serial) { resetDouble(Kind::DateTime, serial); }
    // Text (UTF-8), Binary or Guid: the emptied buffer, to be filled by the caller.
    std::string& setBytes(Kind k) {
        reset(k);
        return m_bytes;
    }

private:
    void reset(Kind k) {
        m_kind = k;
        m_int = 0;
        m_int2 = 0;
        m_double = 0;
        m_decimal = Decimal();
        m_bytes.clear();
        if (m_items) m_items.reset();
    }
    void resetInt(Kind k, int64_t v) {
        reset(k);
        m_int = v;
    }
    void resetDouble(Kind k, double d) {
        reset(k);
        m_double = d;
    }

    static Value make(Kind k, int64_t i) {
        Value v;
        v.m_kind = k;
        v.m_int = i;
        return v;
    }

    Kind m_kind = Kind::Null;
    int64_t m_int = 0;
    int64_t m_int2 = 0;
    double m_double = 0;
    Decimal m_decimal;
    std::string m_bytes;
    std::shared_ptr<const std::vector<Value>> m_items;
};

}  // namespace tab::jet
