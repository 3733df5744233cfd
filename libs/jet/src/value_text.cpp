#include "tabulary/jet/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tabulary/base/calendar.h"

namespace tab::jet {

namespace {

__extension__ typedef unsigned __int128 u128;

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kTicksPerDay = kSecondsPerDay * kTicksPerSecond;

// Day 0001-01-01, where extended date/time counts from, relative to 1899-12-30.
constexpr int64_t kExtEpoch = -693593;
constexpr int64_t kExtMaxDay = 3652058;  // 9999-12-31 counted from 0001-01-01

const char kHexDigits[] = "0123456789ABCDEF";

void appendInt(std::string& out, int64_t v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

// Zero-padded to at least `width` digits; v must be non-negative.
void appendPadded(std::string& out, int64_t v, int width) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    for (int n = static_cast<int>(res.ptr - buf); n < width; ++n) out.push_back('0');
    out.append(buf, res.ptr);
}

void appendHex(std::string& out, unsigned char b) {
    out.push_back(kHexDigits[b >> 4]);
    out.push_back(kHexDigits[b & 0x0F]);
}

// "00".."99", for the fixed-width fields of dates and times.
constexpr char kTwoDigits[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* putTwo(char* p, int64_t v) {
    std::memcpy(p, kTwoDigits + 2 * v, 2);
    return p + 2;
}

// Years 1..9999 (both date kinds are limited to them before they get here).
void appendDate(std::string& out, int64_t y, int m, int d) {
    char buf[10];
    char* p = putTwo(buf, y / 100);
    p = putTwo(p, y % 100);
    *p++ = '-';
    p = putTwo(p, m);
    *p++ = '-';
    putTwo(p, d);
    out.append(buf, sizeof buf);
}

// Seconds within one day.
void appendTime(std::string& out, int64_t seconds) {
    char buf[8];
    char* p = putTwo(buf, seconds / 3600);
    *p++ = ':';
    p = putTwo(p, seconds / 60 % 60);
    *p++ = ':';
    putTwo(p, seconds % 60);
    out.append(buf, sizeof buf);
}

void appendCurrency(std::string& out, int64_t scaled) {
    // Unsigned magnitude so INT64_MIN does not overflow on negation.
    const uint64_t mag =
        scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    if (scaled < 0) out.push_back('-');
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, mag / 10000);
    out.append(buf, res.ptr);
    uint64_t frac = mag % 10000;
    if (frac == 0) return;
    char f[4];
    for (int i = 3; i >= 0; --i) {
        f[i] = static_cast<char>('0' + frac % 10);
        frac /= 10;
    }
    int len = 4;
    while (f[len - 1] == '0') --len;
    out.push_back('.');
    out.append(f, f + len);
}

void appendDouble(std::string& out, double d, int digits) {
    if (std::isnan(d)) {
        out += "NaN";
        return;
    }
    if (std::isinf(d)) {
        out += d < 0 ? "-Infinity" : "Infinity";
        return;
    }
    if (d == 0) {  // also -0.0, which Windows prints without a sign
        out.push_back('0');
        return;
    }
    if (digits < 1) digits = 1;
    if (digits > 17) digits = 17;

    // %E does the correct rounding and tells us the exponent after rounding,
    // which decides between fixed and exponent form (999999999999999.9 -> 1E+15).
    // to_chars rounds correctly like %E but is several times faster.
    //
    // Faster still is the shortest form that reads back as the same double:
    // when it has at most 15 digits, rounding the exact value to 15 digits
    // gives those digits, since a double's half-ulp (under 2^-53 relative)
    // is below half a unit in the 15th digit. Normal numbers only: the ulp
    // of a subnormal is not relative.
    // Most stored doubles are short decimals (prices, measures). When a
    // whole number of ten-thousandths reads back as exactly this double, it
    // is a round-trip form of at most 15 digits and so, by the rule below,
    // the 15-digit rounding itself: it prints like a Currency value.
    if (digits == 15 && std::fabs(d) < 1e10) {
        const double scaled = std::nearbyint(d * 10000.0);
        if (scaled / 10000.0 == d) {
            appendCurrency(out, static_cast<int64_t>(scaled));
            return;
        }
    }
    char buf[48];
    const double mag = std::fabs(d);
    std::to_chars_result conv{buf, std::errc()};
    bool shortest = false;
    if (digits == 15 && mag >= 1e-300) {
        conv = std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::scientific);
        int count = 0;
        for (const char* q = buf; q < conv.ptr && *q != 'e'; ++q) count += *q != '.';
        shortest = count <= digits;
    }
    if (!shortest)
        conv = std::to_chars(buf, buf + sizeof buf, mag, std::chars_format::scientific, digits - 1);
    char mant[20];
    int n = 0;
    const char* p = buf;
    for (; p < conv.ptr && *p != 'e'; ++p) {
        if (*p != '.') mant[n++] = *p;
    }
    ++p;
    const bool expNegative = *p == '-';
    int exp = 0;
    std::from_chars(p + 1, conv.ptr, exp);
    if (expNegative) exp = -exp;
    while (n > 1 && mant[n - 1] == '0') --n;

    if (d < 0) out.push_back('-');
    if (exp >= digits || exp < -4) {
        out.push_back(mant[0]);
        if (n > 1) {
            out.push_back('.');
            out.append(mant + 1, mant + n);
        }
        out.push_back('E');
        out.push_back(expNegative ? '-' : '+');
        appendPadded(out, expNegative ? -exp : exp, 2);
    } else if (exp >= 0) {
        const int intDigits = exp + 1;
        if (n <= intDigits) {
            out.append(mant, mant + n);
            out.append(static_cast<size_t>(intDigits - n), '0');
        } else {
            out.append(mant, mant + intDigits);
            out.push_back('.');
            out.append(mant + intDigits, mant + n);
        }
    } else {
        out += "0.";
        out.append(static_cast<size_t>(-exp - 1), '0');
        out.append(mant, mant + n);
    }
}

void appendDecimal(std::string& out, const Decimal& dec) {
    u128 v = (static_cast<u128>(dec.hi) << 64) | dec.lo;
    if (v == 0) {
        out.push_back('0');
        return;
    }
    // 2^128 has 39 digits; fill from the right in chunks of 19 so the
    // 128-bit division runs at most twice.
    char buf[40];
    char* end = buf + sizeof buf;
    char* p = end;
    constexpr uint64_t kChunk = 10'000'000'000'000'000'000ull;
    while (v >= kChunk) {
        uint64_t part = static_cast<uint64_t>(v % kChunk);
        v /= kChunk;
        for (int i = 0; i < 19; ++i) {
            *--p = static_cast<char>('0' + part % 10);
            part /= 10;
        }
    }
    for (uint64_t rest = static_cast<uint64_t>(v); rest != 0; rest /= 10) {
        *--p = static_cast<char>('0' + rest % 10);
    }
    int scale = dec.scale;
    while (scale > 0 && end[-1] == '0') {  // drop trailing fraction zeros
        --end;
        --scale;
    }
    const int digits = static_cast<int>(end - p);

    if (dec.negative) out.push_back('-');
    if (scale == 0) {
        out.append(p, end);
    } else if (digits > scale) {
        out.append(p, end - scale);
        out.push_back('.');
        out.append(end - scale, end);
    } else {
        out += "0.";
        out.append(static_cast<size_t>(scale - digits), '0');
        out.append(p, end);
    }
}

// Splits a serial into whole days from 1899-12-30 and seconds since midnight,
// rounded to the second. False when out of the representable range.
bool splitSerial(double serial, int64_t& days, int64_t& seconds) {
    if (!std::isfinite(serial) || std::fabs(serial) > 1e8) return false;
    const double whole = std::trunc(serial);
    days = static_cast<int64_t>(whole);
    seconds = std::llround(std::fabs(serial - whole) * kSecondsPerDay);
    if (seconds >= kSecondsPerDay) {  // rounded up to midnight of the next calendar day
        seconds -= kSecondsPerDay;
        ++days;
    }
    return true;
}

void appendDateTime(std::string& out, double serial) {
    int64_t days = 0;
    int64_t seconds = 0;
    int64_t y = 0;
    int m = 0;
    int d = 0;
    if (splitSerial(serial, days, seconds)) civilFromDays(days, y, m, d);
    if (y < 100 || y > 9999) {
        appendDouble(out, serial, 15);
        return;
    }
    // Day zero is "no date": VB shows such values as a bare time.
    if (days == 0) {
        appendTime(out, seconds);
        return;
    }
    appendDate(out, y, m, d);
    if (seconds != 0) {
        out.push_back(' ');
        appendTime(out, seconds);
    }
}

void appendDateTimeExt(std::string& out, int64_t days, int64_t ticks) {
    if (days < 0 || days > kExtMaxDay || ticks < 0 || ticks >= kTicksPerDay) {
        appendInt(out, days);
        out.push_back(':');
        appendInt(out, ticks);
        return;
    }
    int64_t y = 0;
    int m = 0;
    int d = 0;
    civilFromDays(days + kExtEpoch, y, m, d);
    appendDate(out, y, m, d);
    if (ticks == 0) return;
    out.push_back(' ');
    appendTime(out, ticks / kTicksPerSecond);
    const int64_t frac = ticks % kTicksPerSecond;
    if (frac != 0) {
        out.push_back('.');
        appendPadded(out, frac, 7);
    }
}

void appendBinary(std::string& out, const std::string& bytes) {
    out += "0x";
    for (char c : bytes) appendHex(out, static_cast<unsigned char>(c));
}

void appendGuid(std::string& out, const std::string& bytes) {
    if (bytes.size() != 16) {
        appendBinary(out, bytes);
        return;
    }
    auto b = [&](int i) { return static_cast<unsigned char>(bytes[static_cast<size_t>(i)]); };
    // The first three groups are little-endian integers; the last eight bytes print in order.
    static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    out.push_back('{');
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
        appendHex(out, b(kOrder[i]));
    }
    out.push_back('}');
}

}  // namespace

void appendValueText(std::string& out, const Value& value) {
    switch (value.kind()) {
        case Value::Kind::Null:
            return;
        case Value::Kind::Boolean:
            if (value.asBool())
                out.append("True", 4);
            else
                out.append("False", 5);
            return;
        case Value::Kind::Integer:
            appendInt(out, value.asInt());
            return;
        case Value::Kind::Single:
            appendDouble(out, value.asDouble(), 7);
            return;
        case Value::Kind::Double:
            appendDouble(out, value.asDouble(), 15);
            return;
        case Value::Kind::Currency:
            appendCurrency(out, value.asInt());
            return;
        case Value::Kind::Decimal:
            appendDecimal(out, value.asDecimal());
            return;
        case Value::Kind::DateTime:
            appendDateTime(out, value.asDouble());
            return;
        case Value::Kind::DateTimeExt:
            appendDateTimeExt(out, value.asInt(), value.asInt2());
            return;
        case Value::Kind::Text:
            out += value.bytes();
            return;
        case Value::Kind::Binary:
            appendBinary(out, value.bytes());
            return;
        case Value::Kind::Guid:
            appendGuid(out, value.bytes());
            return;
        case Value::Kind::List: {
            bool first = true;
            for (const Value& item : value.items()) {
                if (!first) out += "; ";
                first = false;
                appendValueText(out, item);
            }
            return;
        }
    }
}

std::string valueToText(const Value& value) {
    std::string out;
    appendValueText(out, value);
    return out;
}

std::string doubleToText(double d, int significantDigits) {
    std::string out;
    appendDouble(out, d, significantDigits);
    return out;
}

std::string currencyToText(int64_t scaled) {
    std::string out;
    appendCurrency(out, scaled);
    return out;
}

std::string decimalToText(const Decimal& d) {
    std::string out;
    appendDecimal(out, d);
    return out;
}

std::string dateTimeToText(double serial) {
    std::string out;
    appendDateTime(out, serial);
    return out;
}

std::string dateTimeExtToText(int64_t days, int64_t ticks) {
    std::string out;
    appendDateTimeExt(out, days, ticks);
    return out;
}

std::string guidToText(const std::string& bytes16) {
    std::string out;
    appendGuid(out, bytes16);
    return out;
}

bool serialToCivil(double serial, CivilDateTime& out) {
    int64_t days = 0;
    int64_t seconds = 0;
    if (!splitSerial(serial, days, seconds)) return false;
    int64_t y = 0;
    int m = 0;
    int d = 0;
    civilFromDays(days, y, m, d);
    if (y < 100 || y > 9999) return false;
    out.year = static_cast<int>(y);
    out.month = m;
    out.day = d;
    out.hour = static_cast<int>(seconds / 3600);
    out.minute = static_cast<int>(seconds / 60 % 60);
    out.second = static_cast<int>(seconds % 60);
    out.millisecond = 0;
    return true;
}

}  // namespace tab::jet
