#include "write/row_encoder.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "tabulary/base/text_codec.h"
#include "tabulary/jet/value_text.h"
#include "write/page_file.h"

namespace tab::jet::write {

namespace {

__extension__ typedef unsigned __int128 U128;
__extension__ typedef __int128 I128;

U128 toU128(const Decimal& d) {
    return (U128(d.hi) << 64) | d.lo;
}

U128 pow10(int n) {
    U128 r = 1;
    for (int i = 0; i < n; ++i) r *= 10;
    return r;
}

int digitCount(U128 v) {
    int n = 0;
    while (v) {
        v /= 10;
        ++n;
    }
    return n;
}

const U128 kMaxMagnitude = pow10(28);  // Jet decimals hold at most 28 digits

// Rescales an exact decimal to `scale` digits after the point; false when
// digits would be lost or it overflows.
bool rescale(const Decimal& d, int scale, U128& out) {
    U128 v = toU128(d);
    if (d.scale <= scale) {
        for (int i = d.scale; i < scale; ++i) {
            if (v > kMaxMagnitude) return false;
            v *= 10;
        }
    } else {
        U128 div = pow10(d.scale - scale);
        if (v % div != 0) return false;
        v /= div;
    }
    out = v;
    return true;
}

// Exact decimal from the shortest text that round-trips a double.
bool decimalFromDouble(double x, Decimal& out) {
    if (!std::isfinite(x)) return false;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", x);
    if (std::strtod(buf, nullptr) != x) std::snprintf(buf, sizeof buf, "%.17g", x);
    const char* p = buf;
    Decimal d;
    if (*p == '-') {
        d.negative = true;
        ++p;
    }
    U128 v = 0;
    int scale = 0, exp = 0;
    bool point = false;
    for (; *p; ++p) {
        if (*p == '.') {
            point = true;
        } else if (*p >= '0' && *p <= '9') {
            if (v > kMaxMagnitude) return false;
            v = v * 10 + static_cast<unsigned>(*p - '0');
            if (point) ++scale;
        } else if (*p == 'e' || *p == 'E') {
            exp = std::atoi(p + 1);
            break;
        } else {
            return false;
        }
    }
    scale -= exp;
    while (scale < 0) {
        if (v > kMaxMagnitude) return false;
        v *= 10;
        ++scale;
    }
    if (scale > 28) return false;
    d.hi = static_cast<uint64_t>(v >> 64);
    d.lo = static_cast<uint64_t>(v);
    d.scale = static_cast<uint8_t>(scale);
    out = d;
    return true;
}

double decimalToDouble(const Decimal& d) {
    return std::strtod(decimalToText(d).c_str(), nullptr);
}

Error bad(const Column& c, const std::string& what) {
    return Error(Errc::InvalidArgument, "column \"" + c.name + "\": " + what);
}

const char* kindName(const Value& v) {
    switch (v.kind()) {
        case Value::Kind::Boolean:
            return "a Yes/No value";
        case Value::Kind::Integer:
            return "an integer";
        case Value::Kind::Single:
        case Value::Kind::Double:
            return "a number";
        case Value::Kind::Currency:
            return "a currency value";
        case Value::Kind::Decimal:
            return "a decimal number";
        case Value::Kind::DateTime:
        case Value::Kind::DateTimeExt:
            return "a date";
        case Value::Kind::Text:
            return "text";
        case Value::Kind::Binary:
            return "binary data";
        case Value::Kind::Guid:
            return "a GUID";
        case Value::Kind::List:
            return "a list";
        case Value::Kind::Null:
            return "Null";
    }
    return "a value";
}

Error mismatch(const Column& c, const Value& v) {
    return bad(c, std::string("cannot store ") + kindName(v) + " in a " + columnTypeName(c.type) +
                      " column");
}

Result<int64_t> integerIn(const Column& c, const Value& v, int64_t lo, int64_t hi) {
    int64_t x;
    if (v.kind() == Value::Kind::Integer || v.kind() == Value::Kind::Boolean) {
        x = v.asInt();
        if (v.kind() == Value::Kind::Boolean && x) x = -1;  // Yes is -1 in Access
    } else if (v.kind() == Value::Kind::Decimal) {
        U128 m;
        if (!rescale(v.asDecimal(), 0, m) || m > U128(std::numeric_limits<int64_t>::max()))
            return bad(c,
                       "value " + decimalToText(v.asDecimal()) + " is not a whole number in range");
        x = static_cast<int64_t>(m);
        if (v.asDecimal().negative) x = -x;
    } else {
        return mismatch(c, v);
    }
    if (x < lo || x > hi)
        return bad(c,
                   "value " + std::to_string(x) + " is out of range for " + columnTypeName(c.type));
    return x;
}

void putLe(std::string& s, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

Result<Value> coerceValue(const Column& c, const Value& v) {
    if (v.isNull()) return v;
    switch (c.type) {
        case ColumnType::Boolean:
            if (v.kind() == Value::Kind::Boolean) return v;
            if (v.kind() == Value::Kind::Integer) return Value::boolean(v.asInt() != 0);
            return mismatch(c, v);
        case ColumnType::Byte: {
            TAB_ASSIGN_OR_RETURN(int64_t x, integerIn(c, v, 0, 255));
            return Value::integer(x);
        }
        case ColumnType::Integer: {
            TAB_ASSIGN_OR_RETURN(int64_t x, integerIn(c, v, INT16_MIN, INT16_MAX));
            return Value::integer(x);
        }
        case ColumnType::Long: {
            TAB_ASSIGN_OR_RETURN(int64_t x, integerIn(c, v, INT32_MIN, INT32_MAX));
            return Value::integer(x);
        }
        case ColumnType::Currency: {
            constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
            switch (v.kind()) {
                case Value::Kind::Currency:
                    return v;
                case Value::Kind::Integer:
                    if (v.asInt() > kMax / 10000 || v.asInt() < -(kMax / 10000))
                        return bad(c, "value out of range for Currency");
                    return Value::currency(v.asInt() * 10000);
                case Value::Kind::Decimal: {
                    U128 m;
                    if (!rescale(v.asDecimal(), 4, m))
                        return bad(c, "Currency holds at most 4 decimal places: " +
                                          decimalToText(v.asDecimal()));
                    const bool negative = v.asDecimal().negative;
                    if (m > U128(kMax) + (negative ? 1 : 0))
                        return bad(c, "value out of range for Currency");
                    return Value::currency(negative ? static_cast<int64_t>(-m)
                                                    : static_cast<int64_t>(m));
                }
                case Value::Kind::Double:
                case Value::Kind::Single: {
                    // Half to even at the fourth decimal; the whole part
                    // scaled exactly.
                    const double d = v.asDouble();
                    if (!(std::fabs(d) < 1e15)) return bad(c, "value out of range for Currency");
                    const double whole = std::trunc(d);
                    // nearbyint in the default mode rounds ties to even.
                    const I128 x = static_cast<I128>(static_cast<int64_t>(whole)) * 10000 +
                                   static_cast<int64_t>(std::nearbyint((d - whole) * 10000.0));
                    if (x > kMax || x < -I128(kMax) - 1)
                        return bad(c, "value out of range for Currency");
                    return Value::currency(static_cast<int64_t>(x));
                }
                default:
                    return mismatch(c, v);
            }
        }
        case ColumnType::Single:
        case ColumnType::Double: {
            double x;
            switch (v.kind()) {
                case Value::Kind::Double:
                case Value::Kind::Single:
                    x = v.asDouble();
                    break;
                case Value::Kind::Integer:
                    x = static_cast<double>(v.asInt());
                    break;
                case Value::Kind::Currency:
                    x = static_cast<double>(v.asInt()) / 10000.0;
                    break;
                case Value::Kind::Decimal:
                    x = decimalToDouble(v.asDecimal());
                    break;
                default:
                    return mismatch(c, v);
            }
            if (c.type == ColumnType::Single) {
                if (std::isfinite(x) && std::fabs(x) > std::numeric_limits<float>::max())
                    return bad(c, "value out of range for Single");
                return Value::single(static_cast<float>(x));
            }
            return Value::real(x);
        }
        case ColumnType::DateTime:
            if (v.kind() == Value::Kind::DateTime) return v;
            if (v.kind() == Value::Kind::Double) return Value::dateTime(v.asDouble());
            return mismatch(c, v);
        case ColumnType::Decimal: {
            Decimal d;
            if (v.kind() == Value::Kind::Decimal) {
                d = v.asDecimal();
            } else if (v.kind() == Value::Kind::Integer) {
                int64_t x = v.asInt();
                d.negative = x < 0;
                d.lo = x < 0 ? 0 - static_cast<uint64_t>(x) : static_cast<uint64_t>(x);
            } else if (v.kind() == Value::Kind::Double || v.kind() == Value::Kind::Single) {
                if (!decimalFromDouble(v.asDouble(), d))
                    return bad(c, "value out of range for Decimal");
            } else if (v.kind() == Value::Kind::Currency) {
                int64_t x = v.asInt();
                d.negative = x < 0;
                d.lo = x < 0 ? 0 - static_cast<uint64_t>(x) : static_cast<uint64_t>(x);
                d.scale = 4;
            } else {
                return mismatch(c, v);
            }
            U128 m;
            const bool fits = rescale(d, c.scale, m);
            if (!fits && d.scale > c.scale)
                return bad(c, "value " + decimalToText(d) + " has more than " +
                                  std::to_string(c.scale) + " decimal places");
            if (!fits || digitCount(m) > c.precision)
                return bad(c, "value " + decimalToText(d) + " has more than " +
                                  std::to_string(c.precision) + " digits");
            Decimal out;
            out.hi = static_cast<uint64_t>(m >> 64);
            out.lo = static_cast<uint64_t>(m);
            out.scale = c.scale;
            out.negative = d.negative && m != 0;
            return Value::decimal(out);
        }
        case ColumnType::Text:
        case ColumnType::Memo: {
            if (v.kind() != Value::Kind::Text) return mismatch(c, v);
            if (!isValidUtf8(v.bytes())) return bad(c, "text is not valid UTF-8");
            if (c.type == ColumnType::Text) {
                size_t units = utf8ToUtf16(v.bytes()).size();
                if (units > c.size)
                    return bad(c, "text of " + std::to_string(units) +
                                      " characters is longer than the " + std::to_string(c.size) +
                                      " the column holds");
            }
            return v;
        }
        case ColumnType::Binary:
        case ColumnType::Ole:
            if (v.kind() != Value::Kind::Binary) return mismatch(c, v);
            if (c.type == ColumnType::Binary && v.bytes().size() > c.length)
                return bad(c, "binary value longer than the column holds");
            return v;
        case ColumnType::Guid:
            if (v.kind() != Value::Kind::Guid || v.bytes().size() != 16) return mismatch(c, v);
            return v;
        default:
            return bad(
                c, std::string("writing ") + columnTypeName(c.type) + " columns is not supported");
    }
}

Result<std::string> encodeValue(const Column& c, const Value& v) {
    std::string s;
    switch (c.type) {
        case ColumnType::Byte:
            putLe(s, static_cast<uint64_t>(v.asInt()), 1);
            break;
        case ColumnType::Integer:
            putLe(s, static_cast<uint64_t>(v.asInt()), 2);
            break;
        case ColumnType::Long:
            putLe(s, static_cast<uint64_t>(v.asInt()), 4);
            break;
        case ColumnType::Currency:
            putLe(s, static_cast<uint64_t>(v.asInt()), 8);
            break;
        case ColumnType::Single: {
            float f = static_cast<float>(v.asDouble());
            uint32_t u;
            std::memcpy(&u, &f, 4);
            putLe(s, u, 4);
            break;
        }
        case ColumnType::Double:
        case ColumnType::DateTime: {
            double d = v.asDouble();
            uint64_t u;
            std::memcpy(&u, &d, 8);
            putLe(s, u, 8);
            break;
        }
        case ColumnType::Guid:
            s = v.bytes();
            break;
        case ColumnType::Decimal: {
            const Decimal& d = v.asDecimal();
            s.push_back(static_cast<char>(d.negative ? 0x80 : 0x00));
            putLe(s, d.hi >> 32, 4);
            putLe(s, d.hi & 0xFFFFFFFFu, 4);
            putLe(s, d.lo >> 32, 4);
            putLe(s, d.lo & 0xFFFFFFFFu, 4);
            break;
        }
        case ColumnType::Text:
        case ColumnType::Memo: {
            std::u16string u = utf8ToUtf16(v.bytes());
            bool compress = c.compressedUnicode && u.size() > 2 && u.size() <= 1024;
            for (char16_t ch : u)
                if (ch == 0 || ch > 0xFF) compress = false;
            if (compress) {
                s.reserve(2 + u.size());
                s.push_back(static_cast<char>(0xFF));
                s.push_back(static_cast<char>(0xFE));
                for (char16_t ch : u) s.push_back(static_cast<char>(ch));
            } else {
                s.reserve(2 * u.size());
                for (char16_t ch : u) putLe(s, ch, 2);
            }
            break;
        }
        case ColumnType::Binary:
        case ColumnType::Ole:
            s = v.bytes();
            break;
        default:
            return bad(
                c, std::string("writing ") + columnTypeName(c.type) + " columns is not supported");
    }
    return s;
}

std::string inlineLongRef(const std::string& data) {
    std::string r;
    append32(r, static_cast<uint32_t>(data.size()) | 0x80000000u);
    append32(r, 0);
    append32(r, 0);
    r += data;
    return r;
}

std::string externalLongRef(uint32_t length, bool singleRow, uint32_t firstRowPointer) {
    std::string r;
    append32(r, length | (singleRow ? 0x40000000u : 0u));
    append32(r, firstRowPointer);
    append32(r, 0);
    return r;
}

Result<RowPlan> planRow(const TableDef& t, std::span<const Value> values) {
    const size_t n = t.columns.size();
    if (values.size() != n)
        return Error(Errc::InvalidArgument, "table \"" + t.name + "\" has " + std::to_string(n) +
                                                " columns, the row gives " +
                                                std::to_string(values.size()));
    RowPlan plan;
    plan.bytes.resize(n);
    plan.present.assign(n, false);
    plan.inlineLong.assign(n, false);
    size_t fixedEnd = 0;
    size_t varBytes = 0;
    std::vector<size_t> longs;
    for (size_t i = 0; i < n; ++i) {
        const Column& c = t.columns[i];
        if (c.fixed && c.type != ColumnType::Boolean)
            fixedEnd = std::max<size_t>(fixedEnd, c.fixedOffset + c.length);
        const Value& v = values[i];
        if (c.type == ColumnType::Boolean) {
            plan.present[i] = !v.isNull() && v.asBool();
            continue;
        }
        if (v.isNull()) continue;
        plan.present[i] = true;
        TAB_ASSIGN_OR_RETURN(plan.bytes[i], encodeValue(c, v));
        if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) {
            longs.push_back(i);
            varBytes += 12;
        } else if (!c.fixed) {
            varBytes += plan.bytes[i].size();
        }
    }
    size_t nullMask = (t.maxColumns + 7) / 8;
    size_t trailer = t.varColumns ? 2 + 2 * t.varColumns + 2 : 0;
    size_t size = 2 + fixedEnd + varBytes + trailer + nullMask;
    if (size > kMaxRowSize)
        return Error(Errc::InvalidArgument, "row of table \"" + t.name + "\" is " +
                                                std::to_string(size) + " bytes, more than the " +
                                                std::to_string(kMaxRowSize) + " a row can hold");
    // Short long values stay in the row while there is room, first come first.
    for (size_t i : longs) {
        size_t len = plan.bytes[i].size();
        if (len <= kInlineLongValue && size + len <= kMaxRowSize) {
            plan.inlineLong[i] = true;
            size += len;
        }
    }
    plan.fixedEnd = fixedEnd;
    plan.size = size;
    return plan;
}

Result<std::string> packRow(const TableDef& t, const RowPlan& plan, LongValueStore& store) {
    const size_t n = t.columns.size();
    std::string row(2 + plan.fixedEnd, '\0');
    row.reserve(plan.size);
    put16(reinterpret_cast<uint8_t*>(row.data()), t.maxColumns);
    std::vector<uint8_t> mask((t.maxColumns + 7) / 8, 0);
    std::vector<int> bySlot(t.varColumns, -1);
    for (size_t i = 0; i < n; ++i) {
        const Column& c = t.columns[i];
        if (plan.present[i]) mask[c.number / 8] |= static_cast<uint8_t>(1u << (c.number % 8));
        if (c.fixed) {
            if (plan.present[i] && c.type != ColumnType::Boolean)
                std::memcpy(row.data() + 2 + c.fixedOffset, plan.bytes[i].data(),
                            plan.bytes[i].size());
        } else if (c.varIndex < bySlot.size()) {
            bySlot[c.varIndex] = static_cast<int>(i);
        }
    }
    if (t.varColumns) {
        std::vector<uint16_t> offsets(t.varColumns);
        for (size_t s = 0; s < t.varColumns; ++s) {
            offsets[s] = static_cast<uint16_t>(row.size());
            int i = bySlot[s];
            if (i < 0 || !plan.present[i]) continue;
            const Column& c = t.columns[i];
            if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) {
                if (plan.inlineLong[i]) {
                    row += inlineLongRef(plan.bytes[i]);
                } else {
                    TAB_ASSIGN_OR_RETURN(std::string ref, store.store(c, plan.bytes[i]));
                    row += ref;
                }
            } else {
                row += plan.bytes[i];
            }
        }
        append16(row, static_cast<uint32_t>(row.size()));  // end of the variable data
        for (size_t s = t.varColumns; s-- > 0;) append16(row, offsets[s]);
        append16(row, t.varColumns);
    }
    row.append(reinterpret_cast<const char*>(mask.data()), mask.size());
    if (row.size() != plan.size)
        return Error(Errc::Internal, "row of table \"" + t.name + "\" packed to an unplanned size");
    return row;
}

}  // namespace tab::jet::write
