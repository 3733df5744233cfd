// Index key encoding: the byte strings whose unsigned order is the index
// order. Every segment starts with a flag byte telling null from value and
// ascending from descending.
#include <array>
#include <cmath>
#include <cstring>

#include "tabulary/jet/database.h"
#include "tabulary/jet/index_reader.h"

namespace tab::jet {

namespace {

constexpr uint8_t kNullAsc = 0x00, kNullDesc = 0xFF;
constexpr uint8_t kValueAsc = 0x7F, kValueDesc = 0x80;

// Text is cut to this many characters before encoding.
constexpr size_t kMaxKeyChars = 255;

void putBigEndian(std::string& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void invert(std::string& s, size_t from) {
    for (size_t i = from; i < s.size(); ++i) s[i] = static_cast<char>(~static_cast<uint8_t>(s[i]));
}

// Two's complement with the sign bit flipped sorts like the signed value.
void putSigned(std::string& out, int64_t v, int bytes) {
    uint64_t u = static_cast<uint64_t>(v) ^ (uint64_t{1} << (8 * bytes - 1));
    putBigEndian(out, u, bytes);
}

// IEEE bits made to sort like the number: negatives reversed, positives
// above them.
void putFloatBits(std::string& out, uint64_t bits, int bytes) {
    uint64_t sign = uint64_t{1} << (8 * bytes - 1);
    uint64_t mask = bytes == 8 ? ~uint64_t{0} : (sign << 1) - 1;
    bits = (bits & sign) ? (~bits & mask) : (bits | sign);
    putBigEndian(out, bits, bytes);
}

// Binary and GUID bytes: 8-byte groups, each followed by 0x09 while more
// follow, the last one zero-padded and followed by its length.
void putBinary(std::string& out, std::string_view bytes, bool ascending) {
    size_t i = 0;
    do {
        size_t n = std::min<size_t>(8, bytes.size() - i);
        bool more = i + n < bytes.size();
        size_t groupStart = out.size();
        out.append(bytes.substr(i, n));
        out.append(8 - n, '\0');
        if (!more) out.push_back(static_cast<char>(n));
        if (!ascending) invert(out, groupStart);
        if (more) out.push_back('\x09');
        i += n;
    } while (i < bytes.size());
}

// 128-bit magnitude as two halves; x10 and /10 without a wider type.
bool times10(uint64_t& hi, uint64_t& lo) {
    if (hi > UINT64_MAX / 10) return false;
    uint64_t loHigh = lo >> 32, loLow = lo & 0xFFFFFFFFu;
    uint64_t a = loLow * 10, b = loHigh * 10 + (a >> 32);
    uint64_t carry = b >> 32;
    uint64_t newHi = hi * 10;
    if (newHi > UINT64_MAX - carry) return false;
    hi = newHi + carry;
    lo = (b << 32) | (a & 0xFFFFFFFFu);
    return true;
}

// Divides by 10 in place; returns the remainder.
unsigned divide10(uint64_t& hi, uint64_t& lo) {
    uint64_t words[4] = {hi >> 32, hi & 0xFFFFFFFFu, lo >> 32, lo & 0xFFFFFFFFu};
    uint64_t rem = 0;
    for (uint64_t& w : words) {
        uint64_t cur = (rem << 32) | w;
        w = cur / 10;
        rem = cur % 10;
    }
    hi = (words[0] << 32) | words[1];
    lo = (words[2] << 32) | words[3];
    return static_cast<unsigned>(rem);
}

Status putDecimal(std::string& out, const Column& column, const Decimal& d, bool ascending,
                  bool ace) {
    uint64_t hi = d.hi, lo = d.lo;
    // Keys hold the unscaled value at the column's scale; only exact values fit.
    for (int s = d.scale; s > column.scale; --s) {
        uint64_t h = hi, l = lo;
        if (divide10(h, l) != 0)
            return unsupported("decimal value has more digits than the column");
        hi = h, lo = l;
    }
    for (int s = d.scale; s < column.scale; ++s)
        if (!times10(hi, lo)) return unsupported("decimal value too large for the column");
    bool negative = d.negative && (hi || lo);
    size_t start = out.size();
    out.push_back(static_cast<char>(negative ? 0x80 : 0x00));
    putBigEndian(out, hi, 8);
    putBigEndian(out, lo, 8);
    if (ace) {
        out[start] = '\xFF';
        if (negative == ascending) invert(out, start);
    } else {
        if (negative == ascending) invert(out, start);
        out[start] = static_cast<char>(negative ? 0x00 : 0xFF);
    }
    return Status::success();
}

// ---- Text keys ------------------------------------------------------------

enum class CharClass : uint8_t { Simple, International, Unprintable, Ignored };

struct CharCode {
    CharClass cls = CharClass::Ignored;
    uint8_t count = 0;  // inline bytes
    std::array<uint8_t, 4> bytes{};
    uint8_t extra = 0;  // International: accent byte; Unprintable: its code
};

using CodeTable = std::array<CharCode, 256>;

CharCode simple(std::initializer_list<uint8_t> bytes) {
    CharCode c;
    c.cls = CharClass::Simple;
    for (uint8_t b : bytes) c.bytes[c.count++] = b;
    return c;
}
CharCode intl(std::initializer_list<uint8_t> bytes, uint8_t extra) {
    CharCode c = simple(bytes);
    c.cls = CharClass::International;
    c.extra = extra;
    return c;
}
CharCode unprintable(uint8_t code) {
    CharCode c;
    c.cls = CharClass::Unprintable;
    c.extra = code;
    return c;
}

// Punctuation and symbols of U+0020-U+007E and U+00A0-U+00BF, in both
// tables; letters, digits and U+00C0-U+00FF are filled in by rule below.
struct SymbolRow {
    uint8_t ch;
    CharCode legacy, general;
};

CodeTable buildTable(bool legacy) {
    CodeTable t;
    // Control characters.
    for (unsigned c = 0x01; c <= 0x08; ++c)
        t[c] = unprintable(static_cast<uint8_t>(0x03 + c - 0x01));
    for (unsigned c = 0x09; c <= 0x0D; ++c)
        t[c] = legacy ? simple({0x08, static_cast<uint8_t>(0x03 + c - 0x09)})
                      : simple({0x07, static_cast<uint8_t>(0x05 + c - 0x09)});
    for (unsigned c = 0x0E; c <= 0x1F; ++c)
        t[c] = unprintable(static_cast<uint8_t>(0x0B + c - 0x0E));
    if (legacy) {
        for (unsigned c = 0x7F; c <= 0x9F; ++c)
            t[c] = unprintable(static_cast<uint8_t>(0x1D + c - 0x7F));
    } else {
        t[0x7F] = unprintable(0x1D);
        for (unsigned c = 0x80; c <= 0x9F; ++c)
            t[c] = intl({0x0C, 0xFA}, static_cast<uint8_t>(0x1D + c - 0x80));
    }

    // Letters: one code per letter, upper and lower case alike.
    static constexpr uint8_t kLegacyLetters[26] = {
        0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0x5B, 0x5C, 0x5E, 0x60,
        0x62, 0x64, 0x66, 0x68, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0x73, 0x75, 0x76, 0x78};
    static constexpr uint8_t kGeneralLetters[26] = {
        0x02, 0x09, 0x0A, 0x1A, 0x21, 0x23, 0x25, 0x2C, 0x32, 0x35, 0x36, 0x48, 0x51,
        0x70, 0x7C, 0x7E, 0x89, 0x8A, 0x91, 0x99, 0x9F, 0xA2, 0xA4, 0xA6, 0xA7, 0xA9};
    auto letter = [&](char ch) {
        int i = ch - 'A';
        return legacy ? std::vector<uint8_t>{kLegacyLetters[i]}
                      : std::vector<uint8_t>{0x0E, kGeneralLetters[i]};
    };
    auto fromVector = [](const std::vector<uint8_t>& v, const std::vector<uint8_t>& more = {}) {
        CharCode c;
        c.cls = CharClass::Simple;
        for (uint8_t b : v) c.bytes[c.count++] = b;
        for (uint8_t b : more) c.bytes[c.count++] = b;
        return c;
    };
    for (char ch = 'A'; ch <= 'Z'; ++ch) {
        t[static_cast<uint8_t>(ch)] = fromVector(letter(ch));
        t[static_cast<uint8_t>(ch - 'A' + 'a')] = fromVector(letter(ch));
    }
    for (int d = 0; d <= 9; ++d) {
        static constexpr uint8_t kGeneralDigits[10] = {0x17, 0x19, 0x1A, 0x1B, 0x1C,
                                                       0x1D, 0x1E, 0x1F, 0x20, 0x21};
        t['0' + d] = legacy ? simple({static_cast<uint8_t>(0x36 + 2 * d)})
                            : simple({0x0D, kGeneralDigits[d]});
    }

    static const SymbolRow kSymbols[] = {
        {0x20, simple({0x07}), simple({0x07, 0x02})},
        {0x21, simple({0x09}), simple({0x07, 0x1C})},
        {0x22, simple({0x0A}), simple({0x07, 0x1D})},
        {0x23, simple({0x0C}), simple({0x07, 0x1F})},
        {0x24, simple({0x0E}), simple({0x07, 0x21})},
        {0x25, simple({0x10}), simple({0x07, 0x23})},
        {0x26, simple({0x12}), simple({0x07, 0x25})},
        {0x27, unprintable(0x80), unprintable(0x80)},
        {0x28, simple({0x14}), simple({0x07, 0x27})},
        {0x29, simple({0x16}), simple({0x07, 0x2A})},
        {0x2A, simple({0x18}), simple({0x07, 0x2D})},
        {0x2B, simple({0x2C}), simple({0x08, 0x03})},
        {0x2C, simple({0x1A}), simple({0x07, 0x2F})},
        {0x2D, unprintable(0x82), unprintable(0x82)},
        {0x2E, simple({0x1C}), simple({0x07, 0x33})},
        {0x2F, simple({0x1E}), simple({0x07, 0x35})},
        {0x3A, simple({0x20}), simple({0x07, 0x37})},
        {0x3B, simple({0x22}), simple({0x07, 0x3A})},
        {0x3C, simple({0x2E}), simple({0x08, 0x0E})},
        {0x3D, simple({0x30}), simple({0x08, 0x12})},
        {0x3E, simple({0x32}), simple({0x08, 0x14})},
        {0x3F, simple({0x24}), simple({0x07, 0x3C})},
        {0x40, simple({0x26}), simple({0x07, 0x3E})},
        {0x5B, simple({0x27}), simple({0x07, 0x3F})},
        {0x5C, simple({0x29}), simple({0x07, 0x41})},
        {0x5D, simple({0x2A}), simple({0x07, 0x42})},
        {0x5E, simple({0x2B, 0x02}), simple({0x07, 0x43})},
        {0x5F, simple({0x2B, 0x03}), simple({0x07, 0x44})},
        {0x60, simple({0x2B, 0x07}), simple({0x07, 0x48})},
        {0x7B, simple({0x2B, 0x09}), simple({0x07, 0x4A})},
        {0x7C, simple({0x2B, 0x0B}), simple({0x07, 0x4C})},
        {0x7D, simple({0x2B, 0x0D}), simple({0x07, 0x4E})},
        {0x7E, simple({0x2B, 0x0F}), simple({0x07, 0x50})},
        {0xA0, simple({0x08, 0x02}), simple({0x07, 0x04})},
        {0xA1, simple({0x2B, 0x10}), simple({0x07, 0x51})},
        {0xA2, simple({0x34, 0xA6}), simple({0x07, 0x97})},
        {0xA3, simple({0x34, 0xA7}), simple({0x07, 0x98})},
        {0xA4, simple({0x34, 0xA8}), simple({0x07, 0x99})},
        {0xA5, simple({0x34, 0xA9}), simple({0x07, 0x9A})},
        {0xA6, simple({0x2B, 0x11}), simple({0x07, 0x52})},
        {0xA7, simple({0x34, 0xAA}), simple({0x0A, 0x06})},
        {0xA8, simple({0x2B, 0x12}), simple({0x07, 0x53})},
        {0xA9, simple({0x34, 0xAB}), simple({0x0A, 0x07})},
        {0xAA, intl({0x4A}, 0x03), intl({0x0E, 0x02}, 0x03)},
        {0xAB, simple({0x33, 0x05}), simple({0x08, 0x18})},
        {0xAC, simple({0x34, 0xAC}), simple({0x0A, 0x08})},
        {0xAD, unprintable(0x83), CharCode{}},
        {0xAE, simple({0x34, 0xAD}), simple({0x0A, 0x09})},
        {0xAF, simple({0x2B, 0x13}), simple({0x07, 0x54})},
        {0xB0, simple({0x34, 0xAE}), simple({0x0A, 0x0A})},
        {0xB1, simple({0x33, 0x04}), simple({0x08, 0x17})},
        {0xB2, simple({0x3A}), simple({0x0D, 0x1A})},
        {0xB3, simple({0x3C}), simple({0x0D, 0x1B})},
        {0xB4, simple({0x2B, 0x14}), simple({0x07, 0x55})},
        {0xB5, simple({0x34, 0xAF}), simple({0x0A, 0x0B})},
        {0xB6, simple({0x34, 0xB0}), simple({0x0A, 0x0C})},
        {0xB7, simple({0x34, 0xB1}), simple({0x0A, 0x0D})},
        {0xB8, simple({0x2B, 0x15}), simple({0x07, 0x56})},
        {0xB9, simple({0x38}), simple({0x0D, 0x19})},
        {0xBA, intl({0x64}, 0x03), intl({0x0E, 0x7C}, 0x03)},
        {0xBB, simple({0x33, 0x07}), simple({0x08, 0x1A})},
        {0xBC, simple({0x37, 0x12}), intl({0x0D, 0x18}, 0xCE)},
        {0xBD, simple({0x37, 0x16}), intl({0x0D, 0x18}, 0xD6)},
        {0xBE, simple({0x37, 0x1A}), intl({0x0D, 0x1B}, 0xDE)},
        {0xBF, simple({0x2B, 0x16}), simple({0x07, 0x57})},
        {0xD7, simple({0x33, 0x09}), simple({0x08, 0x1C})},
        {0xF7, simple({0x33, 0x0A}), simple({0x08, 0x1D})},
    };
    for (const SymbolRow& r : kSymbols) t[r.ch] = legacy ? r.legacy : r.general;

    // U+00C0-U+00FF: base letter plus an accent byte; upper and lower case
    // alike (U+00E0-U+00FE mirror U+00C0-U+00DE).
    struct Accented {
        uint8_t ch;
        char base;  // 0: a two-letter expansion, see below
        uint8_t accent;
    };
    static constexpr Accented kAccented[] = {
        {0xC0, 'A', 0x0F}, {0xC1, 'A', 0x0E}, {0xC2, 'A', 0x12}, {0xC3, 'A', 0x19},
        {0xC4, 'A', 0x13}, {0xC5, 'A', 0x1A}, {0xC7, 'C', 0x1C}, {0xC8, 'E', 0x0F},
        {0xC9, 'E', 0x0E}, {0xCA, 'E', 0x12}, {0xCB, 'E', 0x13}, {0xCC, 'I', 0x0F},
        {0xCD, 'I', 0x0E}, {0xCE, 'I', 0x12}, {0xCF, 'I', 0x13}, {0xD0, 'D', 0x68},
        {0xD1, 'N', 0x19}, {0xD2, 'O', 0x0F}, {0xD3, 'O', 0x0E}, {0xD4, 'O', 0x12},
        {0xD5, 'O', 0x19}, {0xD6, 'O', 0x13}, {0xD8, 'O', 0x21}, {0xD9, 'U', 0x0F},
        {0xDA, 'U', 0x0E}, {0xDB, 'U', 0x12}, {0xDC, 'U', 0x13}, {0xDD, 'Y', 0x0E},
    };
    for (const Accented& a : kAccented) {
        std::vector<uint8_t> base = letter(a.base);
        CharCode c = fromVector(base);
        c.cls = CharClass::International;
        c.extra = a.accent;
        t[a.ch] = c;
        t[a.ch + 0x20] = c;
    }
    // Expansions into two letters.
    t[0xC6] = t[0xE6] = fromVector(letter('A'), letter('E'));
    t[0xDE] = t[0xFE] = fromVector(letter('T'), letter('H'));
    t[0xDF] = fromVector(letter('S'), letter('S'));
    // In General 2010 U+00DC/U+00FC expand to "ue".
    if (!legacy) t[0xDC] = t[0xFC] = fromVector(letter('U'), letter('E'));
    {
        CharCode c = fromVector(letter('Y'));
        c.cls = CharClass::International;
        c.extra = 0x13;
        t[0xFF] = c;
    }
    return t;
}

const CodeTable& codeTable(TextCollation collation) {
    static const CodeTable legacy = buildTable(true);
    static const CodeTable general = buildTable(false);
    return collation == TextCollation::GeneralLegacy ? legacy : general;
}

// UTF-8 to code units, each of which must lie in U+0000-U+00FF.
Result<std::vector<uint8_t>> latin1Units(std::string_view utf8) {
    std::vector<uint8_t> out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        auto b = static_cast<uint8_t>(utf8[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
        } else if ((b & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            uint32_t cp = ((b & 0x1Fu) << 6) | (static_cast<uint8_t>(utf8[i + 1]) & 0x3Fu);
            if (cp > 0xFF) return unsupported("text key beyond Latin-1");
            out.push_back(static_cast<uint8_t>(cp));
            i += 2;
        } else {
            return unsupported("text key beyond Latin-1");
        }
        // Only the first characters take part in the key.
        if (out.size() == kMaxKeyChars) break;
    }
    return out;
}

Status putText(std::string& out, std::string_view utf8, bool ascending, TextCollation collation) {
    if (collation == TextCollation::Unknown)
        return unsupported("text keys of this sort order are not known");
    TAB_ASSIGN_OR_RETURN(std::vector<uint8_t> units, latin1Units(utf8));
    while (!units.empty() && units.back() == ' ') units.pop_back();

    const CodeTable& table = codeTable(collation);
    size_t start = out.size();
    std::string extra, unprintables;
    size_t counted = 0;      // characters with inline bytes so far
    size_t represented = 0;  // characters accounted for in `extra`
    for (uint8_t u : units) {
        const CharCode& c = table[u];
        switch (c.cls) {
            case CharClass::Ignored:
                break;
            case CharClass::Simple:
                out.append(reinterpret_cast<const char*>(c.bytes.data()), c.count);
                ++counted;
                break;
            case CharClass::International:
                out.append(reinterpret_cast<const char*>(c.bytes.data()), c.count);
                if (represented < counted) extra.append(counted - represented, '\x02');
                extra.push_back(static_cast<char>(c.extra));
                represented = counted + 1;
                ++counted;
                break;
            case CharClass::Unprintable: {
                // Positions count the characters with inline bytes before it
                // (each accent in `extra` stands for one of them).
                uint32_t v = 0x8000u | static_cast<uint32_t>(7 + 4 * counted);
                unprintables.push_back(static_cast<char>((v >> 8) & 0xFF));
                unprintables.push_back(static_cast<char>(v & 0xFF));
                unprintables.push_back('\x06');
                unprintables.push_back(static_cast<char>(c.extra));
                break;
            }
        }
    }
    out.push_back('\x01');
    while (!extra.empty() && static_cast<uint8_t>(extra.back()) <= 0x02) extra.pop_back();
    if (!extra.empty() || !unprintables.empty()) {
        out += extra;
        if (!unprintables.empty()) {
            out += "\x01\x01\x01";
            out += unprintables;
        }
    }
    out.push_back('\0');
    if (!ascending) {
        invert(out, start);
        out.push_back('\0');
    }
    return Status::success();
}

bool isIntegerKind(const Value& v) {
    return v.kind() == Value::Kind::Integer;
}

Status checkRange(int64_t v, int64_t lo, int64_t hi) {
    if (v < lo || v > hi) return unsupported("value outside the column's range");
    return Status::success();
}

}  // namespace

TextCollation textCollation(const Database& db, const Column& column) {
    if (db.format().jet3) return TextCollation::Unknown;
    // Only the General tables (LCID 1033) are known.
    if (column.sortOrder != 0x0409) return TextCollation::Unknown;
    // The header's sort version matched every text column's own in the samples.
    return db.header().sortVersion == 0 ? TextCollation::GeneralLegacy : TextCollation::General2010;
}

Result<std::string> encodeKeySegment(const Column& column, const Value& value, bool ascending,
                                     JetVersion version, TextCollation collation) {
    std::string out;
    const ColumnType type = column.type;
    // Yes/No has no null: a missing value is false.
    if (value.isNull() && type != ColumnType::Boolean) {
        out.push_back(static_cast<char>(ascending ? kNullAsc : kNullDesc));
        return out;
    }
    out.push_back(static_cast<char>(ascending ? kValueAsc : kValueDesc));
    const size_t body = out.size();
    auto mismatch = [&] {
        return unsupported(std::string("value does not fit a ") + columnTypeName(type) + " key");
    };
    switch (type) {
        case ColumnType::Boolean:
            if (!value.isNull() && value.kind() != Value::Kind::Boolean && !isIntegerKind(value))
                return mismatch();
            // Yes (-1) sorts before No.
            out.push_back(static_cast<char>(!value.isNull() && value.asInt() != 0 ? 0x00 : 0xFF));
            break;
        case ColumnType::Byte:
            if (!isIntegerKind(value)) return mismatch();
            TAB_TRY(checkRange(value.asInt(), 0, 255));
            out.push_back(static_cast<char>(value.asInt()));
            break;
        case ColumnType::Integer:
            if (!isIntegerKind(value)) return mismatch();
            TAB_TRY(checkRange(value.asInt(), INT16_MIN, INT16_MAX));
            putSigned(out, value.asInt(), 2);
            break;
        case ColumnType::Long:
            if (!isIntegerKind(value)) return mismatch();
            TAB_TRY(checkRange(value.asInt(), INT32_MIN, INT32_MAX));
            putSigned(out, value.asInt(), 4);
            break;
        case ColumnType::BigInt:
            if (!isIntegerKind(value)) return mismatch();
            putSigned(out, value.asInt(), 8);
            break;
        case ColumnType::Currency:
            if (value.kind() == Value::Kind::Currency) {
                putSigned(out, value.asInt(), 8);
            } else if (isIntegerKind(value)) {
                TAB_TRY(checkRange(value.asInt(), INT64_MIN / 10000, INT64_MAX / 10000));
                putSigned(out, value.asInt() * 10000, 8);
            } else {
                return mismatch();
            }
            break;
        case ColumnType::Single: {
            float f;
            if (value.kind() == Value::Kind::Single || value.kind() == Value::Kind::Double) {
                f = static_cast<float>(value.asDouble());
                // Only values a Single column can hold exactly.
                if (static_cast<double>(f) != value.asDouble() && !std::isnan(value.asDouble()))
                    return unsupported("value is not exactly a Single");
            } else if (isIntegerKind(value)) {
                f = static_cast<float>(value.asInt());
                if (static_cast<int64_t>(f) != value.asInt())
                    return unsupported("value is not exactly a Single");
            } else {
                return mismatch();
            }
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            putFloatBits(out, bits, 4);
            break;
        }
        case ColumnType::Double:
        case ColumnType::DateTime: {
            double d;
            auto k = value.kind();
            if (k == Value::Kind::Double || k == Value::Kind::Single ||
                (k == Value::Kind::DateTime && type == ColumnType::DateTime)) {
                d = value.asDouble();
            } else if (isIntegerKind(value) && type == ColumnType::Double) {
                d = static_cast<double>(value.asInt());
                if (static_cast<int64_t>(d) != value.asInt())
                    return unsupported("value is not exactly a Double");
            } else {
                return mismatch();
            }
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            putFloatBits(out, bits, 8);
            break;
        }
        case ColumnType::Guid: {
            if (value.kind() != Value::Kind::Guid || value.bytes().size() != 16) return mismatch();
            // The first three groups are stored little-endian; keys use text order.
            const std::string& g = value.bytes();
            std::string ordered = {g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6]};
            ordered.append(g, 8, 8);
            putBinary(out, ordered, ascending);
            return out;
        }
        case ColumnType::Binary:
            if (value.kind() != Value::Kind::Binary || value.bytes().empty()) return mismatch();
            putBinary(out, value.bytes(), ascending);
            return out;
        case ColumnType::Decimal:
            if (value.kind() != Value::Kind::Decimal) return mismatch();
            TAB_TRY(putDecimal(out, column, value.asDecimal(), ascending,
                               version != JetVersion::Jet3 && version != JetVersion::Jet4));
            return out;
        case ColumnType::Text:
        case ColumnType::Memo:
            if (value.kind() != Value::Kind::Text) return mismatch();
            TAB_TRY(putText(out, value.bytes(), ascending, collation));
            return out;
        default:
            return unsupported(std::string("no index keys for ") + columnTypeName(type) +
                               " columns");
    }
    if (!ascending) invert(out, body);
    return out;
}

Result<std::string> encodeIndexKey(const Database& db, const TableDef& table,
                                   const RealIndex& index, std::span<const Value> values) {
    if (values.size() > index.columns.size())
        return Error(Errc::InvalidArgument, "more key values than index columns");
    std::string key;
    for (size_t i = 0; i < values.size(); ++i) {
        const IndexColumn& ic = index.columns[i];
        const Column* column = table.columnByNumber(ic.columnNumber);
        if (!column) return corrupt(table.tdefPage, "index refers to a missing column");
        TAB_ASSIGN_OR_RETURN(std::string segment,
                             encodeKeySegment(*column, values[i], ic.ascending, db.header().version,
                                              textCollation(db, *column)));
        key += segment;
    }
    return key;
}

}  // namespace tab::jet
