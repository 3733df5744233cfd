// Values between SQLite and Jet: declared column types, column results,
// and SQLite values as index keys.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "jet_vtab_internal.h"
#include "tabulary/sqlbridge/collation.h"
#include "tabulary/sqlbridge/table_scan.h"

namespace tab::sqlbridge {

namespace vtab {

namespace {

// Characters whose case folding leaves Latin-1, where the Access key and
// ACC_TEXT may disagree about equality: look those up by scanning.
bool textKeySafe(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) continue;
        if (c != 0xC2 && c != 0xC3) return false;  // beyond Latin-1
        if (i + 1 >= s.size()) return false;
        unsigned char d = static_cast<unsigned char>(s[++i]);
        unsigned cp = ((c & 0x1Fu) << 6) | (d & 0x3Fu);
        if (cp == 0xB5 || cp == 0xDF || cp == 0xFF) return false;  // micro, sharp s, y diaeresis
    }
    return true;
}

}  // namespace

void resultValue(sqlite3_context* ctx, const Value& v, std::string& scratch) {
    const SqlCell c = sqlCellOf(v, scratch);
    switch (c.storage) {
        case SQLITE_INTEGER:
            return sqlite3_result_int64(ctx, c.integer);
        case SQLITE_FLOAT:
            return sqlite3_result_double(ctx, c.real);
        case SQLITE_BLOB:
            return sqlite3_result_blob64(ctx, c.bytes.data(), c.bytes.size(), SQLITE_TRANSIENT);
        case SQLITE_TEXT:
            return sqlite3_result_text64(ctx, c.bytes.data(), c.bytes.size(), SQLITE_TRANSIENT,
                                         SQLITE_UTF8);
        default:
            return sqlite3_result_null(ctx);
    }
}

Converted toJet(const jet::Column& col, sqlite3_value* arg) {
    Converted out;
    const int type = sqlite3_value_type(arg);
    if (type == SQLITE_NULL) {
        out.conv = Conv::NoMatch;  // comparisons with Null are never true
        return out;
    }
    const ColumnType t = col.type;
    if (isTextType(t)) {
        if (type != SQLITE_TEXT) return out;
        const unsigned char* p = sqlite3_value_text(arg);
        int n = sqlite3_value_bytes(arg);
        std::string s(p ? reinterpret_cast<const char*>(p) : "", p && n > 0 ? size_t(n) : 0);
        if (!textKeySafe(s)) return out;
        out.value = Value::text(std::move(s));
        out.conv = Conv::Ok;
        return out;
    }
    if (type != SQLITE_INTEGER && type != SQLITE_FLOAT) return out;
    const bool isInt = type == SQLITE_INTEGER;
    const int64_t i = sqlite3_value_int64(arg);
    const double d = sqlite3_value_double(arg);
    if (!isInt && std::isnan(d)) return out;

    auto fromInteger = [&](int64_t lo, int64_t hi) {
        if (isInt) {
            if (i < lo || i > hi) {
                out.conv = Conv::NoMatch;
                return;
            }
            out.value = Value::integer(i);
            out.conv = Conv::Ok;
            return;
        }
        if (d < static_cast<double>(lo) || d > static_cast<double>(hi)) {
            out.conv = Conv::NoMatch;
            return;
        }
        if (std::trunc(d) != d) {
            out.conv = Conv::NoMatch;
            return;
        }
        out.value = Value::integer(static_cast<int64_t>(d));
        out.conv = Conv::Ok;
    };

    switch (t) {
        case ColumnType::Byte:
            fromInteger(0, 255);
            break;
        case ColumnType::Integer:
            fromInteger(INT16_MIN, INT16_MAX);
            break;
        case ColumnType::Long:
            fromInteger(INT32_MIN, INT32_MAX);
            break;
        case ColumnType::BigInt:
            // Past 2^53 a double stands for many integers: let SQLite compare.
            if (!isInt && std::fabs(d) > 9007199254740992.0) {
                out.conv = Conv::Inexact;
                break;
            }
            fromInteger(INT64_MIN, INT64_MAX);
            break;
        case ColumnType::Boolean:
            if (isInt ? (i == -1 || i == 0) : (d == -1.0 || d == 0.0)) {
                out.value = Value::boolean(isInt ? i != 0 : d != 0.0);
                out.conv = Conv::Ok;
            } else {
                out.conv = Conv::NoMatch;
            }
            break;
        case ColumnType::Currency:
            // The column reads in ten-thousandths (an integer).
            if (isInt) {
                out.value = Value::currency(i);
                out.conv = Conv::Ok;
            } else if (std::trunc(d) == d && std::fabs(d) < 9.2e18) {
                out.value = Value::currency(static_cast<int64_t>(d));
                out.conv = Conv::Ok;
            } else {
                out.conv = Conv::Inexact;
            }
            break;
        case ColumnType::Single: {
            double v = isInt ? static_cast<double>(i) : d;
            if (isInt && (v >= 9.2e18 || v <= -9.2e18 || static_cast<int64_t>(v) != i)) {
                out.conv = Conv::Inexact;
                break;
            }
            float f = static_cast<float>(v);
            if (static_cast<double>(f) == v) {
                out.value = Value::real(v);
                out.conv = Conv::Ok;
            } else {
                out.conv = Conv::Inexact;
            }
            break;
        }
        case ColumnType::Double:
        case ColumnType::DateTime: {
            double v = isInt ? static_cast<double>(i) : d;
            if (isInt && (v >= 9.2e18 || v <= -9.2e18 || static_cast<int64_t>(v) != i)) {
                out.conv = Conv::Inexact;
                break;
            }
            out.value = t == ColumnType::DateTime ? Value::dateTime(v) : Value::real(v);
            out.conv = Conv::Ok;
            break;
        }
        default:
            break;
    }
    return out;
}

}  // namespace vtab

using jet::ColumnType;

std::string declaredType(const jet::Column& column) {
    switch (column.type) {
        case ColumnType::Boolean:
        case ColumnType::Byte:
        case ColumnType::Integer:
        case ColumnType::Long:
        case ColumnType::BigInt:
            return "INTEGER";
        case ColumnType::Currency:  // in ten-thousandths
            return "INTEGER";
        case ColumnType::Single:
        case ColumnType::Double:
        case ColumnType::DateTime:
        case ColumnType::DateTimeExt:
            return "REAL";
        case ColumnType::Text:
        case ColumnType::Memo:
            return std::string("TEXT COLLATE ") + kAccessTextCollation;
        case ColumnType::Decimal:  // canonical text, in numeric order
            return std::string("TEXT COLLATE ") + kAccessDecimalCollation;
        case ColumnType::Guid:
        case ColumnType::Complex:
            return "TEXT";
        case ColumnType::Binary:
        case ColumnType::Ole:
            return "BLOB";
    }
    return "";
}

}  // namespace tab::sqlbridge
