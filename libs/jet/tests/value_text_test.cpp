#include "tabulary/jet/value_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tab::jet {
namespace {

std::string bytes(std::initializer_list<unsigned> list) {
    std::string s;
    for (unsigned b : list) s.push_back(static_cast<char>(b));
    return s;
}

TEST(ValueText, DoubleToText) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    struct Case {
        double value;
        int digits;
        const char* expected;
    };
    const Case cases[] = {
        {0.0, 15, "0"},
        {-0.0, 15, "0"},
        {std::nan(""), 15, "NaN"},
        {kInf, 15, "Infinity"},
        {-kInf, 15, "-Infinity"},
        {100.0, 15, "100"},
        {-1.5, 15, "-1.5"},
        {123.456, 15, "123.456"},
        {0.1 + 0.2, 15, "0.3"},
        {112.48, 15, "112.48"},
        {-0.05, 15, "-0.05"},
        {9999999999.9999, 15, "9999999999.9999"},
        {10000000000.0001, 15, "10000000000.0001"},
        {0.12345, 15, "0.12345"},
        {1.0 / 3.0, 15, "0.333333333333333"},
        {2.0 / 3.0, 15, "0.666666666666667"},
        {3.14159265358979323846, 15, "3.14159265358979"},
        // Fixed form reaches down to 1E-04 and up to 15 integer digits.
        {0.0001, 15, "0.0001"},
        {0.00012345, 15, "0.00012345"},
        {0.00001, 15, "1E-05"},
        {0.000015, 15, "1.5E-05"},
        {-2.5e-10, 15, "-2.5E-10"},
        {1e14, 15, "100000000000000"},
        {123456789012345.0, 15, "123456789012345"},
        {999999999999999.0, 15, "999999999999999"},
        {1e15, 15, "1E+15"},
        {1234567890123456.0, 15, "1.23456789012346E+15"},
        // Rounding to 15 digits carries into the next power of ten.
        {999999999999999.9, 15, "1E+15"},
        {1e100, 15, "1E+100"},
        {DBL_MAX, 15, "1.79769313486232E+308"},
        {4.9406564584124654e-324, 15, "4.94065645841247E-324"},
        // Single precision: the float's exact value, shown with 7 digits.
        {static_cast<double>(0.1f), 7, "0.1"},
        {static_cast<double>(3.14159265f), 7, "3.141593"},
        {9999999.0, 7, "9999999"},
        {1e7, 7, "1E+07"},
        {static_cast<double>(16777217.0f), 7, "1.677722E+07"},
        {3.4028234663852886e+38, 7, "3.402823E+38"},
        {static_cast<double>(FLT_MIN), 7, "1.175494E-38"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(doubleToText(c.value, c.digits), c.expected)
            << "value " << c.value << " digits " << c.digits;
    }
}

// A short decimal (up to 15 digits) shows as itself, whichever way the
// double came about; the expected text is built from the integer digits.
TEST(ValueText, ShortDecimalsShowAsThemselves) {
    std::mt19937_64 rng(11);
    const int64_t kLimit[] = {1, 1000, 1000000, 100000000000000};  // magnitudes of the digits
    for (int i = 0; i < 40000; ++i) {
        const int64_t limit = kLimit[i % 4];
        int64_t m = static_cast<int64_t>(rng() % static_cast<uint64_t>(2 * limit + 1)) - limit;
        const int places = static_cast<int>(rng() % 5);
        int64_t pow10 = 1;
        for (int k = 0; k < places; ++k) pow10 *= 10;
        const double d = static_cast<double>(m) / static_cast<double>(pow10);
        // The same decimal in plain form, trailing fraction zeros dropped.
        const uint64_t mag = m < 0 ? static_cast<uint64_t>(-m) : static_cast<uint64_t>(m);
        std::string expected = m < 0 ? "-" : "";
        expected += std::to_string(mag / static_cast<uint64_t>(pow10));
        std::string frac;
        if (places > 0) {
            frac = std::to_string(mag % static_cast<uint64_t>(pow10));
            frac.insert(0, static_cast<size_t>(places) - frac.size(), '0');
        }
        while (!frac.empty() && frac.back() == '0') frac.pop_back();
        if (!frac.empty()) expected += "." + frac;
        if (m == 0) expected = "0";
        ASSERT_EQ(doubleToText(d, 15), expected) << m << " / 10^" << places;
    }
}

TEST(ValueText, CurrencyToText) {
    struct Case {
        int64_t scaled;
        const char* expected;
    };
    const Case cases[] = {
        {0, "0"},
        {35000, "3.5"},
        {140000, "14"},
        {10000, "1"},
        {5, "0.0005"},
        {100, "0.01"},
        {-1, "-0.0001"},
        {-123450, "-12.345"},
        {INT64_MAX, "922337203685477.5807"},
        {INT64_MIN, "-922337203685477.5808"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(currencyToText(c.scaled), c.expected) << "scaled " << c.scaled;
    }
}

TEST(ValueText, DecimalToText) {
    struct Case {
        Decimal value;
        const char* expected;
    };
    const Case cases[] = {
        {{0, 0, 0, false}, "0"},
        {{0, 0, 5, true}, "0"},
        {{0, 50325000, 6, false}, "50.325"},
        {{0, 50325000, 6, true}, "-50.325"},
        {{0, 100, 2, false}, "1"},
        {{0, 1050, 3, true}, "-1.05"},
        {{0, 1, 28, false}, "0.0000000000000000000000000001"},
        // 10^19 sits exactly on the boundary of one 64-bit digit chunk.
        {{0, 10000000000000000000ull, 0, false}, "10000000000000000000"},
        {{0, 10000000000000000000ull, 19, false}, "1"},
        // 2^64, then 2^96 - 1 (the largest 96-bit coefficient), then 2^128 - 1.
        {{1, 0, 0, false}, "18446744073709551616"},
        {{0xFFFFFFFFull, UINT64_MAX, 0, false}, "79228162514264337593543950335"},
        {{0xFFFFFFFFull, UINT64_MAX, 28, true}, "-7.9228162514264337593543950335"},
        {{UINT64_MAX, UINT64_MAX, 0, false}, "340282366920938463463374607431768211455"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decimalToText(c.value), c.expected)
            << "hi " << c.value.hi << " lo " << c.value.lo << " scale " << int(c.value.scale);
    }
}

TEST(ValueText, DateTimeToText) {
    struct Case {
        double serial;
        const char* expected;
    };
    const Case cases[] = {
        {27293.0, "1974-09-21"},
        {36526.0, "2000-01-01"},
        {36585.0, "2000-02-29"},
        {60.0, "1900-02-28"},
        {61.0, "1900-03-01"},  // 1900 is not a leap year
        {44361.53125, "2021-06-14 12:45:00"},
        {1.0, "1899-12-31"},
        {-115858.0, "1582-10-15"},
        {2958465.0, "9999-12-31"},
        {-657434.0, "0100-01-01"},
        {-657434.5, "0100-01-01 12:00:00"},
        // Negative serials: days count back, the fraction is still a time of day.
        {-1.25, "1899-12-29 06:00:00"},
        {-2.75, "1899-12-28 18:00:00"},
        // Day zero shows only the time.
        {0.0, "00:00:00"},
        {0.5, "12:00:00"},
        {-0.5, "12:00:00"},
        {-1e-9, "00:00:00"},
        // Rounding to the second, with carry into the next day.
        {0.5 + 0.4 / 86400, "12:00:00"},
        {0.5 + 0.6 / 86400, "12:00:01"},
        {1.0 - 1e-9, "1899-12-31"},
        {-0.9999999999, "1899-12-31"},
        {44361.0 + 86399.6 / 86400, "2021-06-15"},
        // Out of range: the number itself.
        {2958466.0, "2958466"},
        {2958465.99999999, "2958465.99999999"},
        {-657435.0, "-657435"},
        {1e300, "1E+300"},
        {std::nan(""), "NaN"},
        {-std::numeric_limits<double>::infinity(), "-Infinity"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dateTimeToText(c.serial), c.expected) << "serial " << c.serial;
    }
}

TEST(ValueText, SerialToCivil) {
    struct Case {
        double serial;
        bool ok;
        CivilDateTime expected;
    };
    const Case cases[] = {
        {44361.53125, true, {2021, 6, 14, 12, 45, 0, 0}},
        {-1.25, true, {1899, 12, 29, 6, 0, 0, 0}},
        {0.0, true, {1899, 12, 30, 0, 0, 0, 0}},
        {1.0 - 1e-9, true, {1899, 12, 31, 0, 0, 0, 0}},
        {36526.0 + 3723.4 / 86400, true, {2000, 1, 1, 1, 2, 3, 0}},
        {2958465.0 + 86399.0 / 86400, true, {9999, 12, 31, 23, 59, 59, 0}},
        {-657434.0, true, {100, 1, 1, 0, 0, 0, 0}},
        {-657435.0, false, {}},
        {2958466.0, false, {}},
        {1e20, false, {}},
        {std::nan(""), false, {}},
        {std::numeric_limits<double>::infinity(), false, {}},
    };
    for (const Case& c : cases) {
        CivilDateTime got{-1, -1, -1, -1, -1, -1, -1};
        ASSERT_EQ(serialToCivil(c.serial, got), c.ok) << "serial " << c.serial;
        if (!c.ok) continue;
        const CivilDateTime& e = c.expected;
        EXPECT_EQ(
            std::vector<int>(
                {got.year, got.month, got.day, got.hour, got.minute, got.second, got.millisecond}),
            std::vector<int>({e.year, e.month, e.day, e.hour, e.minute, e.second, e.millisecond}))
            << "serial " << c.serial;
    }
}

TEST(ValueText, DateTimeExtToText) {
    constexpr int64_t kSecond = 10'000'000;
    struct Case {
        int64_t days;
        int64_t ticks;
        const char* expected;
    };
    const Case cases[] = {
        {0, 0, "0001-01-01"},
        {0, 1, "0001-01-01 00:00:00.0000001"},
        {693593, 0, "1899-12-30"},  // the Date/Time epoch still shows its date
        {737954, 45900 * kSecond, "2021-06-14 12:45:00"},
        {737954, 45900 * kSecond + kSecond / 10, "2021-06-14 12:45:00.1000000"},
        {3652058, 86400 * kSecond - 1, "9999-12-31 23:59:59.9999999"},
        {-1, 0, "-1:0"},
        {3652059, 0, "3652059:0"},
        {0, 86400 * kSecond, "0:864000000000"},
        {5, -1, "5:-1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dateTimeExtToText(c.days, c.ticks), c.expected)
            << "days " << c.days << " ticks " << c.ticks;
    }
}

TEST(ValueText, GuidToText) {
    struct Case {
        std::string stored;
        const char* expected;
    };
    const Case cases[] = {
        {bytes({0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD,
                0xEE, 0xFF}),
         "{00112233-4455-6677-8899-AABBCCDDEEFF}"},
        {bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
                0x0F, 0x10}),
         "{04030201-0605-0807-090A-0B0C0D0E0F10}"},
        {bytes({0x01, 0x02}), "0x0102"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(guidToText(c.stored), c.expected);
    }
}

TEST(ValueText, ValueToTextPerKind) {
    struct Case {
        Value value;
        const char* expected;
    };
    const Case cases[] = {
        {Value::null(), ""},
        {Value::boolean(true), "True"},
        {Value::boolean(false), "False"},
        {Value::integer(0), "0"},
        {Value::integer(-42), "-42"},
        {Value::integer(INT64_MIN), "-9223372036854775808"},
        {Value::single(0.1f), "0.1"},
        {Value::single(1e7f), "1E+07"},
        {Value::real(0.1), "0.1"},
        {Value::real(1e7), "10000000"},
        {Value::currency(35000), "3.5"},
        {Value::decimal({0, 50325000, 6, false}), "50.325"},
        {Value::dateTime(44361.53125), "2021-06-14 12:45:00"},
        {Value::dateTimeExt(737954, 0), "2021-06-14"},
        {Value::text("caf\xC3\xA9; x"), "caf\xC3\xA9; x"},
        {Value::binary(""), "0x"},
        {Value::binary(bytes({0x00, 0xAB, 0x7F})), "0x00AB7F"},
        {Value::guid(bytes({0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB,
                            0xCC, 0xDD, 0xEE, 0xFF})),
         "{00112233-4455-6677-8899-AABBCCDDEEFF}"},
        {Value::list({}), ""},
        {Value::list({Value::text("a")}), "a"},
        {Value::list({Value::text("a"), Value::null(), Value::integer(3)}), "a; ; 3"},
        {Value::list({Value::text("a"), Value::list({Value::integer(1), Value::integer(2)})}),
         "a; 1; 2"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(valueToText(c.value), c.expected);
        std::string out = "prefix|";
        appendValueText(out, c.value);
        EXPECT_EQ(out, std::string("prefix|") + c.expected);
    }
}

TEST(Value, FactoriesKeepPayload) {
    EXPECT_EQ(Value::single(0.1f).kind(), Value::Kind::Single);
    EXPECT_EQ(Value::single(0.1f).asDouble(), static_cast<double>(0.1f));
    EXPECT_EQ(Value::real(0.1).asDouble(), 0.1);
    EXPECT_EQ(Value::dateTime(-1.25).kind(), Value::Kind::DateTime);
    EXPECT_EQ(Value::dateTimeExt(7, 9).asInt(), 7);
    EXPECT_EQ(Value::dateTimeExt(7, 9).asInt2(), 9);
    EXPECT_EQ(Value::decimal({1, 2, 3, true}).asDecimal().lo, 2u);
    EXPECT_EQ(Value::binary("xy").bytes(), "xy");
    EXPECT_TRUE(Value::integer(5).items().empty());
    ASSERT_EQ(Value::list({Value::integer(1), Value::integer(2)}).items().size(), 2u);
    EXPECT_EQ(Value::list({Value::integer(1), Value::integer(2)}).items()[1].asInt(), 2);
}

TEST(Value, Equality) {
    const double nan = std::nan("");
    struct Case {
        Value a;
        Value b;
        bool equal;
    };
    const Case cases[] = {
        {Value::null(), Value(), true},
        {Value::null(), Value::text(""), false},
        {Value::integer(1), Value::integer(1), true},
        {Value::integer(1), Value::boolean(true), false},
        {Value::integer(1), Value::currency(1), false},
        {Value::real(1.5), Value::real(1.5), true},
        {Value::real(1.5), Value::single(1.5f), false},
        {Value::real(1.5), Value::dateTime(1.5), false},
        {Value::real(nan), Value::real(nan), true},  // bit-exact: equality stays reflexive
        {Value::real(0.0), Value::real(-0.0), false},
        {Value::decimal({0, 10, 1, false}), Value::decimal({0, 10, 1, false}), true},
        {Value::decimal({0, 10, 1, false}), Value::decimal({0, 1, 0, false}), false},
        {Value::decimal({0, 10, 1, false}), Value::decimal({0, 10, 1, true}), false},
        {Value::decimal({0, 10, 1, false}), Value::decimal({1, 10, 1, false}), false},
        {Value::dateTimeExt(1, 2), Value::dateTimeExt(1, 2), true},
        {Value::dateTimeExt(1, 2), Value::dateTimeExt(1, 3), false},
        {Value::text("a"), Value::text("a"), true},
        {Value::text("a"), Value::binary("a"), false},
        {Value::guid("0123456789abcdef"), Value::guid("0123456789abcdeF"), false},
        {Value::list({Value::integer(1), Value::text("x")}),
         Value::list({Value::integer(1), Value::text("x")}), true},
        {Value::list({Value::integer(1), Value::text("x")}),
         Value::list({Value::text("x"), Value::integer(1)}), false},
        {Value::list({}), Value::list({Value::null()}), false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(c.a == c.b, c.equal) << "case " << i;
        EXPECT_EQ(c.b == c.a, c.equal) << "case " << i << " reversed";
    }
}

TEST(Value, ColumnTypeName) {
    struct Case {
        ColumnType type;
        const char* expected;
    };
    const Case cases[] = {
        {ColumnType::Boolean, "Yes/No"},
        {ColumnType::Byte, "Byte"},
        {ColumnType::Integer, "Integer"},
        {ColumnType::Long, "Long Integer"},
        {ColumnType::Currency, "Currency"},
        {ColumnType::Single, "Single"},
        {ColumnType::Double, "Double"},
        {ColumnType::DateTime, "Date/Time"},
        {ColumnType::Binary, "Binary"},
        {ColumnType::Text, "Text"},
        {ColumnType::Ole, "OLE Object"},
        {ColumnType::Memo, "Memo"},
        {ColumnType::Guid, "Replication ID"},
        {ColumnType::Decimal, "Decimal"},
        {ColumnType::Complex, "Complex"},
        {ColumnType::BigInt, "Large Number"},
        {ColumnType::DateTimeExt, "Date/Time Extended"},
        {static_cast<ColumnType>(0x0D), "Unknown"},
        {static_cast<ColumnType>(0xFF), "Unknown"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(columnTypeName(c.type), c.expected) << "type " << int(c.type);
    }
}

}  // namespace
}  // namespace tab::jet
