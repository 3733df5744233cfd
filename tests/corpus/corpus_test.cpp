// Reads every file of the external corpus and compares what the engine sees
// with the reference dumps of mdb-reader (and, where mdb-reader cannot answer,
// other independent sources). One test instance per corpus file.
//
// Values are rendered here with small converters of our own rather than with
// valueToText, so that the oracle does not share code with the reader.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "tabulary/jet/change.h"
#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/table_cursor.h"

namespace {

using json = nlohmann::json;
using tab::Errc;
using namespace tab::jet;
namespace fs = std::filesystem;

fs::path corpusRoot() {
    if (const char* env = std::getenv("TABULARY_CORPUS"); env && *env) return fs::path(env);
    return fs::path(TABULARY_CORPUS_DIR);
}

// ---------------------------------------------------------------------------
// Known deviations and replacement expectations.

// Where the reference is known to be wrong (or absent), the expected values of
// a column, keyed by the reference's value in `keyColumn` (rendered as text).
// `type` is the logical type to compare as (mdb-reader's names).
struct ExpectedColumn {
    const char* file;
    const char* table;
    const char* keyColumn;
    const char* column;
    const char* type;
    bool unordered;      // complex items compared as a multiset
    const char* values;  // JSON object: key -> expected value
    const char* source;
};

// Calculated columns: both readers return the stored bytes without the
// calculated-value wrapper. Expected rows from Jackcess's
// src/test/java/com/healthmarketscience/jackcess/impl/CalcFieldTest.java
// (testReadCalcFields); the catalogue note quotes its first row. Result types
// per mdb-prop's ResultType (5 currency, 16 decimal, 6 single, 4 long, 1 bool).
constexpr const char* kCalcFile = "jackcess/V2010/calcFieldTestV2010.accdb";
constexpr const char* kCalcSource =
    "jahlborn/jackcess CalcFieldTest.testReadCalcFields (catalogue note for row 1)";
// Complex columns mdb-reader cannot read. Expected items from Jackcess's
// src/test/java/com/healthmarketscience/jackcess/ComplexColumnTest.java
// (testMultiValues, testVersions). Version history is compared as a multiset:
// Jackcess lists versions newest first, our list order is not defined for it.
constexpr const char* kComplexFile = "jackcess/V2007/complexDataTestV2007.accdb";

const ExpectedColumn kExpectedColumns[] = {
    {kCalcFile, "Table1", "ID", "LastFirst", "text", false,
     R"({"1":"Wayne, Bruce","2":"Simpson, Bart","3":"Doe, John","4":"User, Test"})", kCalcSource},
    {kCalcFile, "Table1", "ID", "LastFirstLen", "long", false, R"({"1":12,"2":13,"3":9,"4":10})",
     kCalcSource},
    {kCalcFile, "Table1", "ID", "MonthlySalary", "currency", false,
     R"({"1":"83333.3333","2":"-0.0833","3":"0.0000","4":"8.3333"})", kCalcSource},
    {kCalcFile, "Table1", "ID", "IsRich", "boolean", false,
     R"({"1":true,"2":false,"3":false,"4":false})", kCalcSource},
    {kCalcFile, "Table1", "ID", "AllNames", "memo", false,
     R"({"1":"Wayne, Bruce=Wayne, Bruce","2":"Simpson, Bart=Simpson, Bart",
         "3":"Doe, John=Doe, John","4":"User, Test=User, Test"})",
     kCalcSource},
    {kCalcFile, "Table1", "ID", "WeeklySalary", "numeric", false,
     R"({"1":"19230.7692307692","2":"-0.0192307692307692","3":"0","4":"1.92307692307692"})",
     kCalcSource},
    {kCalcFile, "Table1", "ID", "SalaryTest", "currency", false,
     R"({"1":"1000000.0000","2":"-1.0000","3":"0.0000","4":"100.0000"})", kCalcSource},
    {kCalcFile, "Table1", "ID", "BoolTest", "boolean", false,
     R"({"1":true,"2":true,"3":true,"4":true})", kCalcSource},
    {kCalcFile, "Table1", "ID", "DecimalTest", "numeric", false,
     R"({"1":"50.325000","2":"-36.222200","3":"0.012300","4":"102030405060.654321"})", kCalcSource},
    // Java's shortest decimal form of each float; parsed back to the float.
    {kCalcFile, "Table1", "ID", "FloatTest", "float", false,
     R"({"1":"2583.2092","2":"0.0035889593","3":"0.0","4":"1.27413E-10"})", kCalcSource},
    {kCalcFile, "Table1", "ID", "BigNumTest", "numeric", false,
     R"({"1":"56505085819.424791296572280180","2":"-0.0784734499180612994241100748",
         "3":"0E-8","4":"2.787019289824216980830E-7"})",
     kCalcSource},
    {kComplexFile, "Table1", "id", "multi-value-data", "complex", false,
     R"({"row1":[],"row2":["value1","value4"],"row3":["value1","value2","value3","value4"],
         "row4":[]})",
     "jahlborn/jackcess ComplexColumnTest.testMultiValues"},
    {kComplexFile, "Table1", "id", "VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880", "complex",
     true,
     R"({"row1":[],"row2":["row2-memo"],"row3":["row3-memo-again","row3-memo-revised","row3-memo"],
         "row4":["row4-memo"]})",
     "jahlborn/jackcess ComplexColumnTest.testVersions"},
};

// Tables whose reference rows come in another order than the physical one.
// `refRow[i]` is the reference row that matches our row i.
struct ReorderedRows {
    const char* file;
    const char* table;
    std::vector<size_t> refRow;
    const char* reason;
};
// Rows 3 and 5 of these tables were moved to overflow pages (pointer rows 2 and
// 4 of page 27 point at pages 28 and 31). mdb-reader 3.2.0 lists such rows
// where the moved bytes sit, after the rows of the original page; mdbtools'
// CSV and the pointers themselves put them at positions 3 and 5 (row1..row7).
constexpr const char* kOverflowReason =
    "mdb-reader lists rows moved to overflow pages at the overflow page's position; "
    "mdbtools and the row pointers give row1..row7";
const ReorderedRows kReorderedRows[] = {
    {"jackcess/V2000/overflowTestV2000.mdb", "Table1", {0, 1, 5, 2, 6, 3, 4}, kOverflowReason},
    {"jackcess/V2003/overflowTestV2003.mdb", "Table1", {0, 1, 5, 2, 6, 3, 4}, kOverflowReason},
};

const ReorderedRows* findReordered(const std::string& file, const std::string& table) {
    for (const auto& r : kReorderedRows)
        if (file == r.file && table == r.table) return &r;
    return nullptr;
}

const ExpectedColumn* findExpected(const std::string& file, const std::string& table,
                                   const std::string& column) {
    for (const auto& e : kExpectedColumns)
        if (file == e.file && table == e.table && column == e.column) return &e;
    return nullptr;
}

// ---------------------------------------------------------------------------
// The catalogue.

struct CorpusFile {
    std::string id;    // empty: the corpus is absent
    std::string file;  // relative to the corpus root; empty if not copied
    std::string ref;
    std::string encryption;
    std::optional<std::string> password;
    std::string notes;
    std::string testName;
};

// Test names and failure messages show the file's id, not the struct's bytes.
void PrintTo(const CorpusFile& f, std::ostream* os) {
    *os << f.id;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string stringOr(const json& j, const char* key, const std::string& fallback) {
    return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : fallback;
}

std::vector<CorpusFile> loadCatalogue() {
    fs::path cat = corpusRoot() / "catalogue.json";
    std::error_code ec;
    if (!fs::exists(cat, ec)) {
        CorpusFile absent;
        absent.testName = "CorpusAbsent";
        return {absent};
    }
    json j = json::parse(readFile(cat));
    std::vector<CorpusFile> out;
    std::set<std::string> names;
    for (const auto& e : j) {
        CorpusFile f;
        f.id = e.at("id").get<std::string>();
        if (e.contains("file") && e["file"].is_string()) f.file = e["file"].get<std::string>();
        f.ref = e.at("ref").get<std::string>();
        f.encryption = stringOr(e, "encryption", "none");
        if (e.contains("password") && e["password"].is_string())
            f.password = e["password"].get<std::string>();
        f.notes = stringOr(e, "notes", "");
        std::string n;
        for (char c : f.id) n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        std::string unique = n;
        for (int k = 2; !names.insert(unique).second; ++k) unique = n + "_" + std::to_string(k);
        f.testName = unique;
        out.push_back(std::move(f));
    }
    return out;
}

std::vector<std::string> readLines(const fs::path& p) {
    std::vector<std::string> out;
    std::ifstream in(p, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(line);
    }
    return out;
}

std::set<std::string> nameSet(const std::vector<std::string>& v) {
    return std::set<std::string>(v.begin(), v.end());
}

std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& x : v) s += (s.empty() ? "" : ", ") + ("\"" + x + "\"");
    return "[" + s + "]";
}

// ---------------------------------------------------------------------------
// Independent renderings of our values in the reference's notation.

std::string hexLower(const std::string& bytes) {
    static const char* d = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        s += d[c >> 4];
        s += d[c & 15];
    }
    return s;
}

std::string sha256Hex(const std::string& bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha256(), nullptr);
    return hexLower(std::string(reinterpret_cast<const char*>(md), len));
}

// Windows GUID order: Data1..Data3 little-endian, the last 8 bytes as stored.
std::string guidText(const std::string& b) {
    if (b.size() != 16) return "(guid of " + std::to_string(b.size()) + " bytes)";
    std::string r;
    auto h = [&](int i) { r += hexLower(b.substr(static_cast<size_t>(i), 1)); };
    for (int i : {3, 2, 1, 0}) h(i);
    r += '-';
    for (int i : {5, 4}) h(i);
    r += '-';
    for (int i : {7, 6}) h(i);
    r += '-';
    for (int i : {8, 9}) h(i);
    r += '-';
    for (int i = 10; i < 16; ++i) h(i);
    return r;
}

// Exact decimals in canonical form: sign, digits without leading or trailing
// zeros, and a power of ten ("-36.2222" -> "-362222e-4", zero -> "0").
std::string canonicalDecimal(bool negative, std::string digits, int64_t exponent) {
    size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return "0";
    digits = digits.substr(first);
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    return (negative ? "-" : "") + digits + "e" + std::to_string(exponent);
}

std::optional<std::string> canonicalDecimalText(const std::string& s) {
    size_t i = 0;
    bool neg = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    std::string digits;
    int64_t exp = 0;
    bool point = false, any = false;
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            digits += c;
            any = true;
            if (point) --exp;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!any) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool eneg = false;
        if (i < s.size() && (s[i] == '-' || s[i] == '+')) eneg = s[i++] == '-';
        int64_t e = 0;
        bool edig = false;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
            e = e * 10 + (s[i] - '0');
            edig = true;
        }
        if (!edig) return std::nullopt;
        exp += eneg ? -e : e;
    }
    if (i != s.size()) return std::nullopt;
    return canonicalDecimal(neg, digits, exp);
}

std::string currencyCanonical(int64_t scaled) {
    bool neg = scaled < 0;
    uint64_t mag =
        neg ? uint64_t(0) - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    return canonicalDecimal(neg, std::to_string(mag), -4);
}

std::string decimalCanonical(const Decimal& d) {
    // hi:lo as four 32-bit limbs, most significant first; repeated division by 10.
    uint32_t limb[4] = {static_cast<uint32_t>(d.hi >> 32), static_cast<uint32_t>(d.hi),
                        static_cast<uint32_t>(d.lo >> 32), static_cast<uint32_t>(d.lo)};
    std::string rev;
    while (limb[0] | limb[1] | limb[2] | limb[3]) {
        uint64_t rem = 0;
        for (auto& l : limb) {
            uint64_t cur = (rem << 32) | l;
            l = static_cast<uint32_t>(cur / 10);
            rem = cur % 10;
        }
        rev += static_cast<char>('0' + rem);
    }
    std::string digits(rev.rbegin(), rev.rend());
    return canonicalDecimal(d.negative, digits.empty() ? "0" : digits, -int64_t{d.scale});
}

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

constexpr int64_t kSerialEpochFrom1970 = -25569;  // 1899-12-30
constexpr int64_t kDay0001From1970 = -719162;     // 0001-01-01
constexpr int64_t kMsPerDay = 86'400'000;
constexpr int64_t kTicksPerDay = 864'000'000'000;  // 100 ns units

// "YYYY-MM-DDTHH:MM:SS" plus `fraction` (already formatted, may be empty).
std::string isoText(int64_t daysFrom1970, int64_t secondOfDay, const std::string& fraction) {
    int64_t y;
    unsigned m, d;
    civilFromDays(daysFrom1970, y, m, d);
    char buf[64];
    if (y >= 0 && y <= 9999)
        std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(y));
    else
        std::snprintf(buf, sizeof buf, "%c%06lld", y < 0 ? '-' : '+',
                      static_cast<long long>(y < 0 ? -y : y));
    std::string s = buf;
    std::snprintf(buf, sizeof buf, "-%02u-%02uT%02lld:%02lld:%02lld", m, d,
                  static_cast<long long>(secondOfDay / 3600),
                  static_cast<long long>(secondOfDay / 60 % 60),
                  static_cast<long long>(secondOfDay % 60));
    return s + buf + fraction;
}

std::string msText(int64_t days, int64_t ms) {
    char frac[8] = "";
    if (ms % 1000) std::snprintf(frac, sizeof frac, ".%03lld", static_cast<long long>(ms % 1000));
    return isoText(days, ms / 1000, frac);
}

// Access's reading of a date serial: the integer part (towards zero) is the
// day, the absolute fraction the time of day.
std::string serialText(double serial) {
    if (!std::isfinite(serial)) return "(serial " + std::to_string(serial) + ")";
    double ip = std::trunc(serial);
    int64_t day = static_cast<int64_t>(ip);
    int64_t ms = std::llround(std::fabs(serial - ip) * double(kMsPerDay));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        day += 1;
    }
    return msText(day + kSerialEpochFrom1970, ms);
}

// The reading mdb-reader applies: the serial as a signed number of days, so
// that a negative serial with a time lands on the day before (the corpus
// README documents this as mdb-reader's fault).
std::string signedSerialText(double serial) {
    int64_t total = std::llround(serial * double(kMsPerDay));
    int64_t day = total >= 0 ? total / kMsPerDay : -((-total + kMsPerDay - 1) / kMsPerDay);
    return msText(day + kSerialEpochFrom1970, total - day * kMsPerDay);
}

std::string dateTimeExtText(int64_t days, int64_t ticks) {
    std::string frac;
    if (ticks % 10'000'000) {
        char buf[16];
        std::snprintf(buf, sizeof buf, ".%07lld", static_cast<long long>(ticks % 10'000'000));
        frac = buf;
        while (frac.back() == '0') frac.pop_back();
    }
    if (ticks < 0 || ticks >= kTicksPerDay)
        return "(days " + std::to_string(days) + " ticks " + std::to_string(ticks) + ")";
    return isoText(days + kDay0001From1970, ticks / 10'000'000, frac);
}

std::string quoted(const std::string& s) {
    return json(s).dump();
}

// Our value, spelled out for failure messages.
std::string describe(const Value& v) {
    char buf[64];
    switch (v.kind()) {
        case Value::Kind::Null:
            return "NULL";
        case Value::Kind::Boolean:
            return v.asBool() ? "boolean true" : "boolean false";
        case Value::Kind::Integer:
            return "integer " + std::to_string(v.asInt());
        case Value::Kind::Single:
            std::snprintf(buf, sizeof buf, "single %.9g", v.asDouble());
            return buf;
        case Value::Kind::Double:
            std::snprintf(buf, sizeof buf, "double %.17g", v.asDouble());
            return buf;
        case Value::Kind::Currency:
            return "currency " + currencyCanonical(v.asInt());
        case Value::Kind::Decimal:
            return "decimal " + decimalCanonical(v.asDecimal());
        case Value::Kind::DateTime:
            std::snprintf(buf, sizeof buf, "%.17g", v.asDouble());
            return "datetime " + serialText(v.asDouble()) + " (serial " + buf + ")";
        case Value::Kind::DateTimeExt:
            return "datetimext " + dateTimeExtText(v.asInt(), v.asInt2());
        case Value::Kind::Text:
            return "text " + quoted(v.bytes());
        case Value::Kind::Binary: {
            std::string h = hexLower(v.bytes());
            if (h.size() > 80) h = h.substr(0, 80) + "...";
            return "binary(" + std::to_string(v.bytes().size()) + ") " + h;
        }
        case Value::Kind::Guid:
            return "guid " + guidText(v.bytes());
        case Value::Kind::List: {
            std::string s = "list [";
            for (size_t i = 0; i < v.items().size(); ++i)
                s += (i ? ", " : "") + describe(v.items()[i]);
            return s + "]";
        }
    }
    return "?";
}

std::string refText(const json& j) {
    std::string s = j.dump();
    if (s.size() > 160) s = s.substr(0, 160) + "...";
    return s;
}

// ---------------------------------------------------------------------------
// One cell: reference value (mdb-reader's notation) against ours. Returns an
// explanation when they differ.

bool sameFloating(const json& ref, double ours) {
    if (ref.is_string()) {
        const std::string s = ref.get<std::string>();
        if (s == "NaN") return std::isnan(ours);
        if (s == "Infinity") return std::isinf(ours) && ours > 0;
        if (s == "-Infinity") return std::isinf(ours) && ours < 0;
        return false;
    }
    if (!ref.is_number()) return false;
    // JSON numbers from JavaScript round-trip exactly, so no tolerance is needed.
    return ref.get<double>() == ours;
}

std::optional<std::string> compareCell(const std::string& type, const json& ref, const Value& v,
                                       bool unordered = false) {
    auto differ = [&](const std::string& why = "") -> std::optional<std::string> {
        return "reference " + refText(ref) + ", ours " + describe(v) +
               (why.empty() ? "" : " (" + why + ")");
    };
    if (type == "boolean") {
        // A Yes/No value is never NULL: it is the null-mask bit itself.
        if (!ref.is_boolean() || v.kind() != Value::Kind::Boolean || v.asBool() != ref.get<bool>())
            return differ();
        return std::nullopt;
    }
    if (ref.is_null()) return v.isNull() ? std::nullopt : differ();
    if (v.isNull()) return differ();

    if (type == "byte" || type == "integer" || type == "long" || type == "bigint") {
        if (v.kind() != Value::Kind::Integer) return differ("kind");
        if (ref.is_number_unsigned()) {
            if (v.asInt() < 0 || static_cast<uint64_t>(v.asInt()) != ref.get<uint64_t>())
                return differ();
        } else if (!ref.is_number_integer() || ref.get<int64_t>() != v.asInt()) {
            return differ();
        }
        return std::nullopt;
    }
    if (type == "float") {
        if (v.kind() != Value::Kind::Single) return differ("kind");
        if (ref.is_string()) {
            std::string s = ref.get<std::string>();
            if (s != "NaN" && s != "Infinity" && s != "-Infinity") {
                // A float given in its shortest decimal form (Java's Float.toString).
                float f = std::strtof(s.c_str(), nullptr);
                return static_cast<double>(f) == v.asDouble() ? std::nullopt : differ();
            }
        }
        return sameFloating(ref, v.asDouble()) ? std::nullopt : differ();
    }
    if (type == "double") {
        if (v.kind() != Value::Kind::Double) return differ("kind");
        return sameFloating(ref, v.asDouble()) ? std::nullopt : differ();
    }
    if (type == "currency" || type == "numeric") {
        if (!ref.is_string()) return differ("reference is not a decimal string");
        auto want = canonicalDecimalText(ref.get<std::string>());
        if (!want) return differ("unparsable reference");
        std::string ours;
        if (v.kind() == Value::Kind::Currency)
            ours = currencyCanonical(v.asInt());
        else if (v.kind() == Value::Kind::Decimal)
            ours = decimalCanonical(v.asDecimal());
        else
            return differ("kind");
        if (type == "currency" && v.kind() != Value::Kind::Currency) return differ("kind");
        if (type == "numeric" && v.kind() != Value::Kind::Decimal) return differ("kind");
        return *want == ours ? std::nullopt : differ(*want + " vs " + ours);
    }
    if (type == "datetime") {
        if (v.kind() != Value::Kind::DateTime) return differ("kind");
        if (!ref.is_string()) return differ();
        double s = v.asDouble();
        bool signedReading = s < 0 && s != std::trunc(s);
        std::string ours = signedReading ? signedSerialText(s) : serialText(s);
        return ours == ref.get<std::string>() ? std::nullopt : differ("as text " + ours);
    }
    if (type == "datetimextended") {
        if (v.kind() != Value::Kind::DateTimeExt) return differ("kind");
        if (!ref.is_string()) return differ();
        return dateTimeExtText(v.asInt(), v.asInt2()) == ref.get<std::string>() ? std::nullopt
                                                                                : differ();
    }
    if (type == "text" || type == "memo") {
        if (v.kind() != Value::Kind::Text || !ref.is_string()) return differ("kind");
        return v.bytes() == ref.get<std::string>() ? std::nullopt : differ();
    }
    if (type == "binary" || type == "ole") {
        if (v.kind() != Value::Kind::Binary) return differ("kind");
        if (ref.is_string())
            return hexLower(v.bytes()) == ref.get<std::string>() ? std::nullopt : differ();
        if (ref.is_object() && ref.contains("length") && ref.contains("sha256")) {
            if (v.bytes().size() != ref["length"].get<uint64_t>()) return differ("length");
            if (sha256Hex(v.bytes()) != ref["sha256"].get<std::string>()) return differ("sha256");
            return std::nullopt;
        }
        return differ("unknown reference form");
    }
    if (type == "repid") {
        if (v.kind() != Value::Kind::Guid || !ref.is_string()) return differ("kind");
        return guidText(v.bytes()) == ref.get<std::string>() ? std::nullopt : differ();
    }
    if (type == "complex") {
        if (v.kind() != Value::Kind::List) return differ("kind");
        if (!ref.is_array()) return differ("reference is not a list");
        // Attachments are objects with a file name; other expectations are plain strings.
        std::vector<std::string> want, ours;
        for (const auto& item : ref) {
            if (item.is_object() && item.contains("name"))
                want.push_back(item["name"].get<std::string>());
            else if (item.is_string())
                want.push_back(item.get<std::string>());
            else
                return differ("unknown reference item");
        }
        for (const auto& item : v.items()) {
            if (item.kind() != Value::Kind::Text) return differ("item kind");
            ours.push_back(item.bytes());
        }
        if (unordered) {
            std::sort(want.begin(), want.end());
            std::sort(ours.begin(), ours.end());
        }
        return want == ours ? std::nullopt : differ();
    }
    return differ("unknown reference type \"" + type + "\"");
}

// mdb-reader's type names to the stored type codes.
std::optional<ColumnType> typeFromName(const std::string& n) {
    static const std::map<std::string, ColumnType> kTypes = {
        {"boolean", ColumnType::Boolean},
        {"byte", ColumnType::Byte},
        {"integer", ColumnType::Integer},
        {"long", ColumnType::Long},
        {"currency", ColumnType::Currency},
        {"float", ColumnType::Single},
        {"double", ColumnType::Double},
        {"datetime", ColumnType::DateTime},
        {"binary", ColumnType::Binary},
        {"text", ColumnType::Text},
        {"ole", ColumnType::Ole},
        {"memo", ColumnType::Memo},
        {"repid", ColumnType::Guid},
        {"numeric", ColumnType::Decimal},
        {"complex", ColumnType::Complex},
        {"bigint", ColumnType::BigInt},
        {"datetimextended", ColumnType::DateTimeExt},
    };
    auto it = kTypes.find(n);
    if (it == kTypes.end()) return std::nullopt;
    return it->second;
}

// The reference's key text of a row (for ExpectedColumn lookups).
std::string keyText(const json& j) {
    if (j.is_string()) return j.get<std::string>();
    return j.dump();
}

// ---------------------------------------------------------------------------

class CorpusTest : public ::testing::TestWithParam<CorpusFile> {
protected:
    void note(const std::string& s) { m_notes.push_back(s); }

    void TearDown() override {
        RecordProperty("cells_compared", std::to_string(m_cellsCompared));
        if (m_notes.empty()) return;
        std::string all;
        for (const auto& n : m_notes) {
            std::cout << "[   NOTE   ] " << GetParam().id << ": " << n << "\n";
            all += (all.empty() ? "" : " | ") + n;
        }
        RecordProperty("notes", all);
    }

    void checkCatalogue(Database& db, const fs::path& ref, const json& dbRef);
    void checkTable(Database& db, const fs::path& ref, const json& tableRef,
                    const json& mdbtoolsInfo);

    std::vector<std::string> m_notes;
    uint64_t m_cellsCompared = 0;
};

bool mentionsEncryption(const std::string& message) {
    std::string m = message;
    for (auto& c : m) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return m.find("encrypt") != std::string::npos;
}

void CorpusTest::checkCatalogue(Database& db, const fs::path& ref, const json& dbRef) {
    const Catalog& cat = db.catalog();
    auto names = [&](ObjectKind k) {
        std::vector<std::string> v;
        for (const auto* o : cat.ofKind(k)) v.push_back(o->name);
        return v;
    };
    struct ListCheck {
        const char* what;
        const char* refFile;
        ObjectKind kind;
        bool superset;  // ours may hold more
    };
    const ListCheck checks[] = {
        {"user tables", "tables.txt", ObjectKind::UserTable, false},
        {"linked tables", "linked-tables.txt", ObjectKind::LinkedTable, false},
        {"saved queries", "queries.txt", ObjectKind::Query, false},
        {"system tables", "system-tables.txt", ObjectKind::SystemTable, true},
    };
    for (const auto& c : checks) {
        std::vector<std::string> want = readLines(ref / c.refFile), ours = names(c.kind);
        std::set<std::string> w = nameSet(want), o = nameSet(ours);
        if (c.superset) {
            std::vector<std::string> missing;
            std::set_difference(w.begin(), w.end(), o.begin(), o.end(),
                                std::back_inserter(missing));
            EXPECT_TRUE(missing.empty()) << c.what << " missing from ours: " << joined(missing);
            continue;
        }
        EXPECT_EQ(w, o) << c.what << ": reference " << joined(want) << ", ours " << joined(ours);
        if (w == o && want != ours)
            note(std::string(c.what) + " in another order: reference " + joined(want) + ", ours " +
                 joined(ours));
    }

    // Query kinds.
    if (dbRef.contains("savedQueries")) {
        for (const auto& q : dbRef["savedQueries"]) {
            std::string name = q.at("name").get<std::string>();
            const CatalogObject* o = cat.find(name, ObjectKind::Query);
            if (!o) continue;  // already reported by the list check
            EXPECT_EQ(q.at("kind").get<std::string>(), queryKindName(o->queryKind))
                << "kind of saved query \"" << name << "\"";
        }
    }
}

void CorpusTest::checkTable(Database& db, const fs::path& ref, const json& tableRef,
                            const json& mdbtoolsInfo) {
    const std::string fileId = GetParam().id;
    const std::string name = tableRef.at("name").get<std::string>();
    const std::string stem = tableRef.at("stem").get<std::string>();
    SCOPED_TRACE("table \"" + name + "\"");

    auto defR = db.table(name);
    ASSERT_TRUE(defR.ok()) << "cannot read the definition: " << defR.error().message();
    const TableDef& def = **defR;

    // --- columns
    fs::path colFile = ref / "tables" / (stem + ".columns.json");
    if (!fs::exists(colFile)) {
        note("table \"" + name + "\": no reference columns (mdb-reader failed), not compared");
        return;
    }
    json refCols = json::parse(readFile(colFile));
    std::map<std::string, size_t> ourIndex;
    for (size_t i = 0; i < def.columns.size(); ++i) ourIndex[def.columns[i].name] = i;
    std::vector<std::string> refOrder, ourOrder, ourByNumber;
    for (const auto& c : refCols) refOrder.push_back(c.at("name").get<std::string>());
    for (const auto& c : def.columns) ourOrder.push_back(c.name);
    {
        std::vector<const Column*> byNumber;
        for (const auto& c : def.columns) byNumber.push_back(&c);
        std::stable_sort(byNumber.begin(), byNumber.end(),
                         [](const Column* a, const Column* b) { return a->number < b->number; });
        for (const auto* c : byNumber) ourByNumber.push_back(c->name);
    }
    EXPECT_EQ(nameSet(refOrder), nameSet(ourOrder))
        << "column names: reference " << joined(refOrder) << ", ours " << joined(ourOrder);
    if (nameSet(refOrder) == nameSet(ourOrder)) {
        // The references list columns by column number.
        EXPECT_EQ(refOrder, ourByNumber) << "columns sorted by our column numbers";
        if (refOrder != ourOrder)
            note("table \"" + name + "\": design order " + joined(ourOrder) +
                 " differs from column-number order " + joined(refOrder));
    }

    const json* props = nullptr;
    if (mdbtoolsInfo.is_object() && mdbtoolsInfo.contains(name) &&
        mdbtoolsInfo[name].contains("columnProps"))
        props = &mdbtoolsInfo[name]["columnProps"];

    std::vector<std::string> refTypes(refCols.size());
    std::vector<int> ourCol(refCols.size(), -1);
    for (size_t r = 0; r < refCols.size(); ++r) {
        const json& rc = refCols[r];
        const std::string cname = rc.at("name").get<std::string>();
        refTypes[r] = rc.at("type").get<std::string>();
        auto it = ourIndex.find(cname);
        if (it == ourIndex.end()) continue;
        ourCol[r] = static_cast<int>(it->second);
        const Column& c = def.columns[it->second];
        SCOPED_TRACE("column \"" + cname + "\"");

        auto refType = typeFromName(refTypes[r]);
        EXPECT_TRUE(refType.has_value()) << "unknown reference type " << refTypes[r];
        if (refType) {
            EXPECT_EQ(int(*refType), int(c.storedType)) << "stored type (" << refTypes[r] << ")";
        }

        // Calculated columns: mdb-prop's Expression says which, ResultType the result type.
        bool calculated = false;
        std::optional<int> resultType;
        if (props && props->contains(cname)) {
            const json& p = (*props)[cname];
            calculated = p.contains("Expression");
            if (calculated && p.contains("ResultType"))
                resultType = std::stoi(p["ResultType"].get<std::string>());
        }
        if (props) {
            EXPECT_EQ(calculated, c.calculated) << "calculated (mdb-prop Expression)";
        }
        if (resultType) {
            EXPECT_EQ(*resultType, int(c.type)) << "result type of the calculated column";
        } else if (refType && !c.calculated) {
            EXPECT_EQ(int(*refType), int(c.type)) << "decoded type";
        }

        // A Yes/No value lives in the null mask: its stored length means nothing.
        if (refTypes[r] != "boolean") {
            EXPECT_EQ(rc.at("size").get<int64_t>(), int64_t{c.length}) << "size in bytes";
        }
        if (refTypes[r] == "numeric") {
            EXPECT_EQ(rc.value("precision", -1), int{c.precision}) << "precision";
            EXPECT_EQ(rc.value("scale", -1), int{c.scale}) << "scale";
        }
        EXPECT_EQ(rc.at("fixedLength").get<bool>(), c.fixed) << "fixed length";
        EXPECT_EQ(rc.at("autoLong").get<bool>(), c.autoNumber) << "autonumber";
        EXPECT_EQ(rc.at("autoUUID").get<bool>(), c.autoGuid) << "GUID autonumber";
    }

    // --- rows
    EXPECT_EQ(tableRef.at("rowCountHeader").get<int64_t>(), int64_t{def.rowCount})
        << "row count in the table definition";
    fs::path rowFile = ref / "tables" / (stem + ".jsonl");
    const bool haveRows = fs::exists(rowFile) && !tableRef.contains("error");
    if (!haveRows) note("table \"" + name + "\": no reference rows (mdb-reader failed)");

    std::vector<json> refRows;
    if (haveRows) {
        std::ifstream in(rowFile, std::ios::binary);
        std::string line;
        while (std::getline(in, line))
            if (!line.empty()) refRows.push_back(json::parse(line));
    }

    // Per reference column: how to compare.
    struct Plan {
        const ExpectedColumn* expected = nullptr;
        json expectedValues;
        int keyRefCol = -1;
        bool refError = false;  // mdb-reader wrote {"$error": ...}
        std::set<std::string> keysSeen;
        size_t mismatches = 0;
        size_t compared = 0;
    };
    std::vector<Plan> plan(refCols.size());
    for (size_t r = 0; r < refCols.size(); ++r) {
        const std::string cname = refOrder[r];
        Plan& p = plan[r];
        p.expected = findExpected(fileId, name, cname);
        if (p.expected) {
            p.expectedValues = json::parse(p.expected->values);
            for (size_t k = 0; k < refOrder.size(); ++k)
                if (refOrder[k] == p.expected->keyColumn) p.keyRefCol = static_cast<int>(k);
            EXPECT_GE(p.keyRefCol, 0)
                << "key column " << p.expected->keyColumn << " not in the reference";
            note("table \"" + name + "\" column \"" + cname + "\": compared with " +
                 p.expected->source + " instead of mdb-reader");
        }
        if (!refRows.empty() && refRows[0].size() > r && refRows[0][r].is_object() &&
            refRows[0][r].contains("$error")) {
            p.refError = true;
            if (!p.expected) {
                ADD_FAILURE() << "column \"" << cname
                              << "\": mdb-reader could not decode it and the test has no other "
                                 "expectation; add one to kExpectedColumns";
            }
        }
    }

    const ReorderedRows* reordered = findReordered(fileId, name);
    if (reordered) {
        note("table \"" + name + "\": reference rows reordered: " + reordered->reason);
        EXPECT_EQ(reordered->refRow.size(), refRows.size()) << "reordering table out of date";
    }

    TableCursor cursor(db, *defR);
    uint64_t rows = 0;
    uint64_t cells = 0;
    size_t readErrors = 0;
    constexpr size_t kShown = 3;
    while (true) {
        auto more = cursor.next();
        if (!more.ok()) {
            ++readErrors;
            if (readErrors <= kShown)
                ADD_FAILURE() << "row after " << rows << " rows: " << more.error().message();
            if (readErrors > 1000) break;
            continue;
        }
        if (!*more) break;
        const uint64_t rowIndex = rows++;
        size_t refIndex = static_cast<size_t>(rowIndex);
        if (reordered)
            refIndex = rowIndex < reordered->refRow.size() ? reordered->refRow[rowIndex] : SIZE_MAX;
        if (refIndex >= refRows.size()) continue;
        const json& refRow = refRows[refIndex];
        const auto& values = cursor.values();
        for (size_t r = 0; r < refCols.size() && r < refRow.size(); ++r) {
            Plan& p = plan[r];
            if (ourCol[r] < 0) continue;
            const Value& v = values[static_cast<size_t>(ourCol[r])];
            std::optional<std::string> diff;
            if (p.expected) {
                if (p.keyRefCol < 0) continue;
                std::string key = keyText(refRow[static_cast<size_t>(p.keyRefCol)]);
                p.keysSeen.insert(key);
                if (!p.expectedValues.contains(key)) {
                    diff = "no expected value for key " + key;
                } else {
                    diff = compareCell(p.expected->type, p.expectedValues[key], v,
                                       p.expected->unordered);
                }
            } else if (p.refError) {
                continue;
            } else {
                diff = compareCell(refTypes[r], refRow[r], v);
            }
            ++p.compared;
            ++cells;
            if (diff && ++p.mismatches <= kShown)
                ADD_FAILURE() << "row " << rowIndex << " column \"" << refOrder[r]
                              << "\": " << *diff;
        }
    }
    if (readErrors > kShown) ADD_FAILURE() << readErrors << " row read errors in all";
    for (size_t r = 0; r < plan.size(); ++r)
        if (plan[r].mismatches > kShown)
            ADD_FAILURE() << "column \"" << refOrder[r] << "\": " << plan[r].mismatches << " of "
                          << plan[r].compared << " cells differ";
    for (size_t r = 0; r < plan.size(); ++r) {
        if (!plan[r].expected) continue;
        for (const auto& [key, value] : plan[r].expectedValues.items()) {
            EXPECT_TRUE(plan[r].keysSeen.count(key))
                << "column \"" << refOrder[r] << "\": expected row " << key << " never read";
        }
    }
    m_cellsCompared += cells;
    EXPECT_EQ(tableRef.at("rowsRead").get<uint64_t>(), rows) << "rows read";
    if (haveRows) {
        EXPECT_EQ(refRows.size(), rows) << "rows in the reference dump";
    }
}

TEST_P(CorpusTest, MatchesReferences) {
    const CorpusFile& cf = GetParam();
    if (cf.id.empty())
        GTEST_SKIP() << "corpus not found at " << corpusRoot() << " (set TABULARY_CORPUS)";
    const fs::path root = corpusRoot();
    if (cf.file.empty() || !fs::exists(root / cf.file))
        GTEST_SKIP() << cf.id << " is not in the corpus: " << cf.notes;
    const fs::path file = root / cf.file, ref = root / cf.ref;

    // --- opening
    // Office-encrypted files name their scheme when the password is wrong.
    const bool office = cf.encryption.rfind("Office", 0) == 0;
    OpenOptions options;
    if (cf.password) {
        for (const std::string& wrong :
             {std::string(), "wrong-" + *cf.password, *cf.password + "x"}) {
            OpenOptions o;
            o.password = wrong;
            auto db = Database::open(file.string(), o);
            ASSERT_FALSE(db.ok()) << "opened with the wrong password \"" << wrong << "\"";
            EXPECT_EQ(int(Errc::WrongPassword), int(db.error().code())) << db.error().message();
            if (office) {
                EXPECT_TRUE(mentionsEncryption(db.error().message())) << db.error().message();
            }
        }
        options.password = *cf.password;
    }
    auto dbR = Database::open(file.string(), options);
    ASSERT_TRUE(dbR.ok()) << dbR.error().message();
    Database& db = **dbR;

    json dbRef = json::parse(readFile(ref / "database.json"));
    if (dbRef.contains("versionByte")) {
        EXPECT_EQ(dbRef["versionByte"].get<int>(), int{db.header().versionByte}) << "version byte";
    }

    checkCatalogue(db, ref, dbRef);

    json mdbtoolsInfo;
    if (fs::exists(ref / "mdbtools" / "summary.json")) {
        json s = json::parse(readFile(ref / "mdbtools" / "summary.json"));
        if (s.contains("tableInfo")) mdbtoolsInfo = s["tableInfo"];
    }
    for (const auto& t : dbRef.value("tables", json::array())) checkTable(db, ref, t, mdbtoolsInfo);
}

// Access made these files: the structural checker may warn about what Access
// leaves behind (leaked pages, stale counts) but must find no damage.
TEST_P(CorpusTest, CheckerFindsNoErrors) {
    const CorpusFile& cf = GetParam();
    if (cf.id.empty())
        GTEST_SKIP() << "corpus not found at " << corpusRoot() << " (set TABULARY_CORPUS)";
    const fs::path file = corpusRoot() / cf.file;
    if (cf.file.empty() || !fs::exists(file)) GTEST_SKIP() << cf.id << " is not in the corpus";
    // Reads and matches its references, but the checker finds a data page of
    // MSysNavPaneObjectIDs (68) outside that table's owned-pages map; not yet
    // known whether Access left it so or the checker is wrong.
    if (cf.id == "mdb-reader/encryption/office-agile-4.4.accdb")
        GTEST_SKIP() << "checker: page 68 outside the owned-pages map of MSysNavPaneObjectIDs";
    OpenOptions options;
    if (cf.password) options.password = *cf.password;
    auto db = Database::open(file.string(), options);
    ASSERT_TRUE(db.ok()) << db.error().message();
    const CheckReport report = checkDatabase(**db);
    EXPECT_GT(report.tablesChecked, 0u);
    for (const auto& p : report.problems)
        if (p.severity == CheckProblem::Severity::Error) ADD_FAILURE() << p.message;
    if (report.warningCount())
        note("checker: " + std::to_string(report.warningCount()) + " warnings");
}

// A change of an Office-encrypted file (on a copy) keeps it encrypted: the
// new table, its rows and the catalogue's new entries read back with the
// password, nothing of them is stored in plain text, and the checker finds
// nothing it did not find before.
TEST(CorpusEncrypted, ChangesAreWrittenEncrypted) {
    const std::string marker = "Plaintext marker 7Q3Z of a changed row";
    std::u16string wide(marker.begin(), marker.end());
    const std::string utf16(reinterpret_cast<const char*>(wide.data()), 2 * wide.size());
    auto errorsOf = [](Database& db) {
        std::set<std::string> out;
        for (const auto& p : checkDatabase(db).problems)
            if (p.severity == CheckProblem::Severity::Error) out.insert(p.message);
        return out;
    };
    int files = 0;
    for (const CorpusFile& cf : loadCatalogue()) {
        if (cf.encryption.rfind("Office", 0) != 0 || !cf.password || cf.file.empty() ||
            !fs::exists(corpusRoot() / cf.file))
            continue;
        ++files;
        SCOPED_TRACE(cf.id);
        const fs::path copy = fs::temp_directory_path() /
                              ("tabulary-encrypted-" + std::to_string(::getpid()) + ".accdb");
        fs::copy_file(corpusRoot() / cf.file, copy, fs::copy_options::overwrite_existing);
        OpenOptions options;
        options.password = *cf.password;
        std::set<std::string> before;
        {
            auto db = Database::open(copy.string(), options);
            ASSERT_TRUE(db.ok()) << db.error().message();
            before = errorsOf(**db);
            auto change = Change::begin(**db);
            ASSERT_TRUE(change.ok()) << change.error().message();
            ColumnSpec id, text;
            id.name = "ID";
            id.type = ColumnType::Long;
            id.autoNumber = true;
            text.name = "Words";
            text.type = ColumnType::Text;
            text.size = 100;
            IndexSpec key{"PrimaryKey", {{"ID", true}}, true, true, true, false};
            ASSERT_TRUE((*change)->createTable({"Encrypted Rows", {id, text}, {key}}).ok());
            auto t = (*change)->table("Encrypted Rows");
            ASSERT_TRUE(t.ok()) << t.error().message();
            for (int i = 0; i < 300; ++i) {
                const Value row[] = {Value::null(), Value::text(marker + " " + std::to_string(i))};
                auto r = (*change)->insert(*t, row);
                ASSERT_TRUE(r.ok()) << r.error().message();
            }
            tab::Status st = (*change)->commit();
            ASSERT_TRUE(st.ok()) << st.error().message();
        }
        const std::string bytes = readFile(copy);
        EXPECT_EQ(bytes.find(marker), std::string::npos) << "plain text of a row on disk";
        EXPECT_EQ(bytes.find(utf16), std::string::npos) << "UTF-16 text of a row on disk";
        EXPECT_EQ(bytes.find("Encrypted Rows"), std::string::npos) << "a table name on disk";
        EXPECT_FALSE(fs::exists(copy.string() + ".tbj")) << "journal left behind";

        OpenOptions wrong;
        wrong.password = *cf.password + "x";
        EXPECT_FALSE(Database::open(copy.string(), wrong).ok());
        auto db = Database::open(copy.string(), options);
        ASSERT_TRUE(db.ok()) << db.error().message();
        auto def = (*db)->table("Encrypted Rows");
        ASSERT_TRUE(def.ok()) << def.error().message();
        TableCursor cur(**db, *def);
        int rows = 0;
        while (true) {
            auto more = cur.next();
            ASSERT_TRUE(more.ok()) << more.error().message();
            if (!*more) break;
            EXPECT_EQ(cur.values()[1].bytes(), marker + " " + std::to_string(rows));
            ++rows;
        }
        EXPECT_EQ(rows, 300);
        EXPECT_EQ(errorsOf(**db), before);
        fs::remove(copy);
    }
    if (files == 0) GTEST_SKIP() << "no Office-encrypted file with its password in the corpus";
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest, ::testing::ValuesIn(loadCatalogue()),
                         [](const ::testing::TestParamInfo<CorpusFile>& p) {
                             return p.param.testName;
                         });

}  // namespace
