#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tabulary/base/byte_reader.h"
#include "tabulary/base/calendar.h"
#include "tabulary/base/rc4.h"
#include "tabulary/base/text_codec.h"

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<uint8_t> out;
    for (int b : list) out.push_back(static_cast<uint8_t>(b));
    return out;
}

TEST(Rc4, MatchesKnownKeystreams) {
    struct Case {
        std::vector<uint8_t> key;
        std::vector<uint8_t> expectedKeystream;
    };
    const Case cases[] = {
        // Classic published vector: key "Key".
        {bytes({'K', 'e', 'y'}), bytes({0xEB, 0x9F, 0x77, 0x81, 0xB7, 0x34, 0xCA, 0x72, 0xA7})},
        // The fixed key Jet uses to mask its header; its keystream is listed in the format notes.
        {bytes({0xC7, 0xDA, 0x39, 0x6B}), bytes({0xB5, 0x6F, 0x03, 0x62, 0x61, 0x08, 0xC2, 0x55,
                                                 0xEB, 0xA9, 0x67, 0x72, 0x43, 0x3F, 0x00, 0x9C})},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> data(c.expectedKeystream.size(), 0);
        tab::Rc4 rc4(c.key);
        rc4.apply(data);
        EXPECT_EQ(data, c.expectedKeystream);
    }
}

TEST(Rc4, ApplyingTwiceRestoresTheData) {
    std::vector<uint8_t> data = bytes({1, 2, 3, 4, 5, 250, 0, 7});
    const auto original = data;
    const auto key = bytes({0xE2, 0x73, 0xB7, 0xA7});
    tab::Rc4(key).apply(data);
    EXPECT_NE(data, original);
    tab::Rc4(key).apply(data);
    EXPECT_EQ(data, original);
}

TEST(TextCodec, DecodesJetText) {
    struct Case {
        const char* what;
        std::vector<uint8_t> in;
        std::string expected;
    };
    const Case cases[] = {
        {"compressed ASCII", bytes({0xFF, 0xFE, 'a', 'b', 'c', 'd', 'e', 'f', 'g'}), "abcdefg"},
        {"compressed Latin-1", bytes({0xFF, 0xFE, 0xE4, 0xE4, 0x6B, 0x6B, 0xF6, 0x73, 0x69, 0xE4}),
         "\xC3\xA4\xC3\xA4kk\xC3\xB6si\xC3\xA4"},
        {"plain UTF-16", bytes({0x1C, 0x04, 0x38, 0x04, 0x40, 0x04}), "\xD0\x9C\xD0\xB8\xD1\x80"},
        {"mode switches", bytes({0xFF, 0xFE, 'a', 0x00, 0x1C, 0x04, 0x00, 'b'}),
         "a\xD0\x9C"
         "b"},
        {"ends uncompressed", bytes({0xFF, 0xFE, 'x', 0x00, 0x41, 0x00}), "xA"},
        {"surrogate pair", bytes({0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80"},
        {"unpaired high surrogate", bytes({0x3D, 0xD8, 0x41, 0x00}),
         "\xEF\xBF\xBD"
         "A"},
        {"lone low surrogate", bytes({0x00, 0xDE}), "\xEF\xBF\xBD"},
        {"odd final byte dropped", bytes({0x41, 0x00, 0x42}), "A"},
        {"compressed odd tail dropped", bytes({0xFF, 0xFE, 'a', 0x00, 0x41}), "a"},
        {"empty", {}, ""},
        {"marker only", bytes({0xFF, 0xFE}), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(tab::decodeJetText(c.in), c.expected) << c.what;
}

// The decoder's fast paths against a plain model: the bytes expanded to
// UTF-16 code units, converted by ICU with U+FFFD for what does not pair.
// ASCII runs, mode switches, surrogate pairs split across them, stray
// surrogates and odd trailing bytes, then random bytes of both forms.
TEST(TextCodec, JetTextMatchesAPlainModel) {
    const std::vector<std::vector<uint8_t>> cases = {
        {},
        {0xFF},
        {0xFF, 0xFE},
        {0xFF, 0xFE, 'a', 'b', 'c'},
        {0xFF, 0xFE, 'a', 0xE9, 'z'},                            // Latin-1 byte
        {0xFF, 0xFE, 'a', 0x00, 0x2C, 0x6C, 0x00, 'b'},          // a, U+6C2C, b
        {0xFF, 0xFE, 0x00, 0x3D, 0xD8, 0x00, 0x00, 0x00, 0xDE},  // pair split by switches
        {0xFF, 0xFE, 0x00, 0x3D, 0xD8, 0x00, 'x'},               // high surrogate, then ASCII
        {0xFF, 0xFE, 0x00, 0x00, 0xDC, 'q'},                     // lone low surrogate
        {0xFF, 0xFE, 0x00, 0x41},                                // odd byte while uncompressed
        {'h', 0, 'i', 0},
        {'h', 0, 0xE9, 0, 0x2C, 0x6C, '!'},  // odd final byte dropped
        {0x3D, 0xD8, 0x00, 0xDE, 'a', 0},    // U+1F600
        {0x3D, 0xD8, 'a', 0},                // unpaired high
        {0x00, 0xDE, 0x3D, 0xD8},            // low, then high at the end
        {0x7F, 0, 0x80, 0, 0xFF, 0x07, 0x00, 0x08},
    };
    auto model = [](const std::vector<uint8_t>& b) {
        std::u16string units;
        if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
            bool compressed = true;
            for (size_t i = 2; i < b.size();) {
                if (b[i] == 0) {
                    compressed = !compressed;
                    ++i;
                } else if (compressed) {
                    units.push_back(b[i++]);
                } else if (i + 1 < b.size()) {
                    units.push_back(static_cast<char16_t>(b[i] | b[i + 1] << 8));
                    i += 2;
                } else {
                    break;
                }
            }
        } else {
            for (size_t i = 0; i + 1 < b.size(); i += 2)
                units.push_back(static_cast<char16_t>(b[i] | b[i + 1] << 8));
        }
        std::string utf8(units.size() * 3, '\0');
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8WithSub(utf8.data(), static_cast<int32_t>(utf8.size()), &length,
                           reinterpret_cast<const UChar*>(units.data()),
                           static_cast<int32_t>(units.size()), 0xFFFD, nullptr, &status);
        EXPECT_TRUE(U_SUCCESS(status));
        utf8.resize(static_cast<size_t>(length));
        return utf8;
    };
    auto check = [&](const std::vector<uint8_t>& bytes) {
        std::string ours = "prefix";
        tab::appendJetText(ours, bytes);
        EXPECT_EQ(ours, "prefix" + model(bytes)) << "input of " << bytes.size() << " bytes";
        if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
            EXPECT_EQ(tab::utf16LeToUtf8(bytes), model(bytes));
        }
    };
    for (const auto& c : cases) check(c);
    std::mt19937 rng(7);
    // Bytes from a small alphabet, so that zeros, ASCII and surrogate halves are frequent.
    const uint8_t alphabet[] = {0x00, 'a',  'Z',  ',',  0x7F, 0x80,
                                0xE9, 0xD8, 0xDB, 0xDC, 0xDF, 0xFF};
    for (int i = 0; i < 20000; ++i) {
        std::vector<uint8_t> bytes;
        if (i % 2 == 0) bytes = {0xFF, 0xFE};
        const size_t n = rng() % 24;
        for (size_t k = 0; k < n; ++k) bytes.push_back(alphabet[rng() % sizeof alphabet]);
        check(bytes);
    }
}

TEST(TextCodec, DecodesCodePages) {
    struct Case {
        int codePage;
        std::vector<uint8_t> in;
        std::string expected;
    };
    const Case cases[] = {
        {1252, bytes({'A', 0x80, 0xE9}), "A\xE2\x82\xAC\xC3\xA9"},
        {0, bytes({0x9F}), "\xC5\xB8"},     // 0 means the default, 1252
        {1252, bytes({0x81}), "\xC2\x81"},  // undefined in 1252: the C1 control
        {1251, bytes({0xC0, 0xFF}), "\xD0\x90\xD1\x8F"},
        {1253, bytes({0xC1}), "\xCE\x91"},
        {932, bytes({0x82, 0xA0}), "\xE3\x81\x82"},  // double-byte: HIRAGANA A
    };
    for (const auto& c : cases)
        EXPECT_EQ(tab::codePageToUtf8(c.in, c.codePage), c.expected) << "code page " << c.codePage;
}

TEST(TextCodec, Utf8ToUtf16RoundTripsAndRepairs) {
    EXPECT_EQ(tab::utf8ToUtf16("A\xC3\xA9\xF0\x9F\x98\x80"),
              (std::u16string{u'A', u'\u00E9', 0xD83D, 0xDE00}));
    EXPECT_EQ(tab::utf8ToUtf16("\xC3"), std::u16string(1, u'\uFFFD'));  // truncated sequence
    EXPECT_EQ(tab::utf8ToUtf16("\x80z"), (std::u16string{u'\uFFFD', u'z'}));
}

TEST(TextCodec, ValidatesUtf8) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"plain ASCII", true},
        {"M\xC3\xBCller \xCE\xB1 \xE6\x9D\xB1 \xF0\x9F\x98\x80", true},  // ü, alpha, CJK, emoji
        {"\xC3", false},                                                 // truncated
        {"\xC3\x59", false},                                             // continuation missing
        {"\x80", false},                                                 // stray continuation
        {"\xC0\xAF", false},                                             // overlong '/'
        {"\xE0\x80\xAF", false},                                         // overlong, three bytes
        {"\xED\xA0\x80", false},                                         // surrogate
        {"\xF4\x90\x80\x80", false},                                     // above U+10FFFF
        {"\xF8\x88\x80\x80\x80", false},
    };
    for (const auto& [text, valid] : cases)
        EXPECT_EQ(tab::isValidUtf8(text), valid) << testing::PrintToString(text);
}

TEST(Calendar, DayNumbersFromAccessDayZero) {
    struct Case {
        int64_t y;
        int m, d;
        int64_t day;
    };
    // Day numbers from an independent calendar implementation.
    const Case cases[] = {{1899, 12, 30, 0},      {1899, 12, 31, 1},    {1900, 1, 1, 2},
                          {1900, 3, 1, 61},       {2000, 2, 29, 36585}, {2000, 3, 1, 36586},
                          {1600, 2, 29, -109512}, {1, 1, 1, -693593},   {9999, 12, 31, 2958465},
                          {1752, 9, 14, -53797}};
    for (const auto& c : cases) {
        EXPECT_EQ(tab::daysFromCivil(c.y, c.m, c.d), c.day) << c.y << "-" << c.m << "-" << c.d;
        int64_t y = 0;
        int m = 0, d = 0;
        tab::civilFromDays(c.day, y, m, d);
        EXPECT_EQ(std::make_tuple(y, m, d), std::make_tuple(c.y, c.m, c.d)) << c.day;
    }
    // Consecutive days walk the calendar without gaps across four centuries.
    int64_t py = 0;
    int pm = 0, pd = 0;
    tab::civilFromDays(-109600, py, pm, pd);
    for (int64_t day = -109599; day < 40000; ++day) {
        int64_t y = 0;
        int m = 0, d = 0;
        tab::civilFromDays(day, y, m, d);
        bool next = (y == py && m == pm && d == pd + 1) || (y == py && m == pm + 1 && d == 1) ||
                    (y == py + 1 && m == 1 && d == 1 && pm == 12);
        ASSERT_TRUE(next) << day;
        ASSERT_EQ(tab::daysFromCivil(y, m, d), day);
        py = y, pm = m, pd = d;
    }
}

TEST(ByteReader, RejectsReadsPastTheEnd) {
    const auto buf = bytes({1, 2, 3, 4, 5});
    tab::Bytes b(buf);
    EXPECT_EQ(tab::readU32Le(b, 1).value(), 0x05040302u);
    EXPECT_FALSE(tab::readU32Le(b, 2).has_value());
    EXPECT_FALSE(tab::readU16Le(b, SIZE_MAX).has_value());
    EXPECT_FALSE(tab::subspan(b, 4, 2).has_value());
    EXPECT_FALSE(tab::subspan(b, 6, 0).has_value());
    EXPECT_TRUE(tab::subspan(b, 5, 0).has_value());
    EXPECT_FALSE(tab::inBounds(10, 4, SIZE_MAX));
}

}  // namespace
