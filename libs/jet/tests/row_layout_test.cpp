// Row trailers and the header, checked against the worked examples of the
// format notes (independent of any file we wrote).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../src/internal.h"
#include "tabulary/base/text_codec.h"
#include "tabulary/jet/header.h"

namespace {

using tab::jet::readVarOffsets;

TEST(VarOffsets, DecodesJet4AndJet3Trailers) {
    struct Case {
        const char* what;
        bool jet3;
        std::vector<uint8_t> row;
        size_t nullMaskBytes;
        std::vector<uint32_t> expected;  // off[0..nv]
    };
    // Jet4: ID Long then one compressed text, 31 bytes (verified example).
    std::vector<uint8_t> jet4 = {0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xFE, 'o', 'n', 'l',
                                 'y',  ' ',  'a',  's',  'c',  'i',  'i',  ' ',  'c', 'h', 'a',
                                 'r',  's',  0x18, 0x00, 0x06, 0x00, 0x01, 0x00, 0x03};
    // Jet3 without a jump table: 9 columns, two text values at 32 and 39, eod 48.
    std::vector<uint8_t> jet3(54, 0);
    jet3[0] = 9;
    const uint8_t tail3[] = {0x30, 0x27, 0x20, 0x02, 0xFF, 0x01};
    std::memcpy(jet3.data() + 48, tail3, sizeof tail3);
    // Jet3 with a real jump entry: L = 360, values at 20, 150, 300, eod 353.
    std::vector<uint8_t> jump(360, 0);
    const uint8_t tailJ[] = {0x61, 0x2C, 0x96, 0x14, 0x02, 0x03, 0x01};
    std::memcpy(jump.data() + 353, tailJ, sizeof tailJ);
    // Jet3 whose only jump entry is a dummy: 290 bytes, 22 entries, data ends at 255.
    std::vector<uint8_t> dummy(290, 0);
    const uint8_t offs[] = {0xFF, 0xF3, 0xF3, 0xF3, 0xF2, 0xF1, 0xF0, 0xEF, 0xDB, 0xDB, 0xDB, 0xDB,
                            0xC7, 0xC7, 0xB3, 0xB3, 0xB3, 0xB3, 0xB2, 0xA5, 0xA5, 0x99, 0x91};
    std::memcpy(dummy.data() + 255, offs, sizeof offs);
    dummy[278] = 0xFF;  // dummy jump entry
    dummy[279] = 22;
    std::vector<uint32_t> dummyExpected;
    for (int i = 22; i >= 0; --i) dummyExpected.push_back(offs[i]);

    const Case cases[] = {
        {"jet4", false, jet4, 1, {6, 24}},
        {"jet3 plain", true, jet3, 2, {32, 39, 48}},
        {"jet3 jump", true, jump, 1, {20, 150, 300, 353}},
        {"jet3 dummy jump", true, dummy, 10, dummyExpected},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> got;
        size_t trailer = 0;
        const char* err = readVarOffsets(c.row, c.jet3, c.nullMaskBytes, got, trailer);
        ASSERT_EQ(err, nullptr) << c.what;
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_LE(got.back(), trailer) << c.what;
    }
}

TEST(VarOffsets, RejectsImpossibleTables) {
    struct Case {
        const char* what;
        bool jet3;
        std::vector<uint8_t> row;
    };
    const Case cases[] = {
        {"jet4 count beyond row", false, {0x01, 0x00, 0xFF, 0x7F, 0x01}},
        {"jet4 offsets decrease",
         false,
         {0x01, 0x00, 0x00, 0x00, 0x05, 0x00, 0x06, 0x00, 0x01, 0x00, 0x01}},
        {"jet4 offset past trailer", false, {0x01, 0x00, 0x40, 0x00, 0x02, 0x00, 0x01, 0x00, 0x01}},
        {"jet3 count beyond row", true, {0x01, 0x02, 0xF0, 0x01}},
        {"too short", false, {0x01}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> got;
        size_t trailer = 0;
        EXPECT_NE(readVarOffsets(c.row, c.jet3, 1, got, trailer), nullptr) << c.what;
    }
}

// Builds a Jet4 header page with the given plain fields, then masks it as Access does.
std::vector<uint8_t> jet4HeaderPage(const char* engine, uint8_t version, double created,
                                    const std::u16string& password) {
    std::vector<uint8_t> page(4096, 0);
    page[1] = 0x01;
    std::memcpy(page.data() + 4, engine, 15);
    page[0x14] = version;
    page[0x3C] = 0xE4;
    page[0x3D] = 0x04;
    std::memcpy(page.data() + 0x72, &created, 8);
    auto day = static_cast<uint32_t>(static_cast<int32_t>(created));
    for (size_t i = 0; i < 40; ++i) {
        uint8_t plain = 0;
        if (i / 2 < password.size()) plain = static_cast<uint8_t>(password[i / 2] >> (8 * (i % 2)));
        page[0x42 + i] = plain ^ static_cast<uint8_t>(day >> (8 * (i % 4)));
    }
    tab::jet::unmaskHeader(page, false);  // XOR: masking and unmasking are the same
    return page;
}

TEST(Header, DecodesVersionCodePageAndPassword) {
    struct Case {
        const char* engine;
        uint8_t version;
        std::u16string password;
        tab::jet::JetVersion expectedVersion;
        const char* expectedPassword;
    };
    const Case cases[] = {
        {"Standard Jet DB", 1, u"password", tab::jet::JetVersion::Jet4, "password"},
        {"Standard Jet DB", 1, u"", tab::jet::JetVersion::Jet4, ""},
        {"Standard Jet DB", 1, u"\u00E9t\u00E9 2020!", tab::jet::JetVersion::Jet4,
         "\xC3\xA9t\xC3\xA9 2020!"},
        {"Standard ACE DB", 2, u"", tab::jet::JetVersion::Ace12, ""},
        {"Standard ACE DB", 6, u"", tab::jet::JetVersion::Ace17, ""},
    };
    for (const auto& c : cases) {
        auto page = jet4HeaderPage(c.engine, c.version, 44568.67692172454, c.password);
        auto h = tab::jet::decodeHeader(page);
        ASSERT_TRUE(h.ok()) << h.error().message();
        EXPECT_EQ(h->version, c.expectedVersion);
        EXPECT_EQ(h->codePage, 1252);
        EXPECT_DOUBLE_EQ(h->creationDate, 44568.67692172454);
        if (c.expectedVersion == tab::jet::JetVersion::Jet4) {
            EXPECT_EQ(h->storedPassword, c.expectedPassword);
        }
        EXPECT_EQ(h->encoding, tab::jet::PageEncoding::None);
    }
}

TEST(Header, RejectsWhatIsNotASupportedAccessFile) {
    struct Case {
        const char* what;
        const char* engine;
        uint8_t version;
        tab::Errc expected;
        const char* messagePart;
    };
    const Case cases[] = {
        {"unknown version", "Standard ACE DB", 9, tab::Errc::Unsupported, "version"},
        {"foreign engine", "SQLite format 3", 1, tab::Errc::Unsupported, "not an Access database"},
        {"money file", "MSISAM Database", 1, tab::Errc::Unsupported, "MSISAM"},
    };
    for (const auto& c : cases) {
        auto page = jet4HeaderPage(c.engine, c.version, 1.0, u"");
        auto h = tab::jet::decodeHeader(page);
        ASSERT_FALSE(h.ok()) << c.what;
        EXPECT_EQ(h.error().code(), c.expected) << c.what;
        EXPECT_NE(h.error().message().find(c.messagePart), std::string::npos)
            << h.error().message();
    }
    std::vector<uint8_t> tiny(100, 0);
    EXPECT_FALSE(tab::jet::decodeHeader(tiny).ok());
}

}  // namespace
