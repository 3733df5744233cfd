// Names and text compared without regard to case over full Unicode folding.
#include "tabulary/base/case_fold.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CaseFold, ComparesNamePairs) {
    struct Case {
        const char* a;
        const char* b;
        bool sameName;  // equalsIgnoringCase, and equal keys from foldedCase
        bool sameText;  // compareIgnoringCase() == 0
    };
    const Case cases[] = {
        // ASCII
        {"Orders", "ORDERS", true, true},
        {"Order", "Orders", false, false},
        {"a_b", "A_B", true, true},
        {"@", "`", false, false},  // 0x40 and 0x60 are not a case pair
        {"[", "{", false, false},
        {"", "", true, true},
        {"", "a", false, false},
        // Latin-1
        {"\xC3\x84nderung", "\xC3\x84NDERUNG", true, true},  // Änderung
        {"\xC3\x9C"
         "bersicht",
         "\xC3\x9C"
         "BERSICHT",
         true, true},                          // Übersicht
        {"\xC3\x84", "\xC3\xA4", true, true},  // Ä ä
        {"\xC3\x84", "A", false, false},       // accents count
        {"\xC3\xA9", "\xC3\x89", true, true},  // é É
        {"\xC3\xA9", "e", false, false},
        {"\xC3\xA9", "\xC3\xA8", false, false},  // é è
        {"\xC3\x9E", "\xC3\xBE", true, true},    // Þ þ
        {"\xC3\x97", "\xC3\xB7", false, false},  // × ÷ are not letters
        {"\xC3\xBF", "\xC5\xB8", true, true},    // ÿ Ÿ, upper case beyond Latin-1
        {"\xC2\xB5", "\xCE\x9C", true, true},    // micro sign, Greek Mu
        // Latin Extended and compatibility letters
        {"\xC5\x81\xC3\xB3"
         "d\xC5\xBA",
         "\xC5\x81\xC3\x93"
         "D\xC5\xB9",
         true, true},  // Łódź
        {"\xC5\x81", "L", false, false},
        {"\xC4\x8C"
         "aj",
         "\xC4\x8D"
         "AJ",
         true, true},                              // Čaj
        {"\xC7\x85", "\xC7\x84", true, true},      // Dž titlecase, DŽ
        {"\xC3\x85", "\xE2\x84\xAB", true, true},  // Å, angstrom sign
        {"k", "\xE2\x84\xAA", true, true},         // Kelvin sign
        {"S", "\xC5\xBF", true, true},             // long s
        // Greek: tonos is part of the letter, final sigma is sigma
        {"\xCE\xA0\xCE\x95\xCE\x9B\xCE\x86\xCE\xA4\xCE\x95\xCE\xA3",
         "\xCF\x80\xCE\xB5\xCE\xBB\xCE\xAC\xCF\x84\xCE\xB5\xCF\x82", true,
         true},  // ΠΕΛΆΤΕΣ πελάτες
        {"\xCE\xA0\xCE\x95\xCE\x9B\xCE\x91\xCE\xA4\xCE\x95\xCE\xA3",
         "\xCF\x80\xCE\xB5\xCE\xBB\xCE\xAC\xCF\x84\xCE\xB5\xCF\x82", false, false},  // ΠΕΛΑΤΕΣ
        {"\xCE\xAC", "\xCE\xB1", false, false},                                      // ά α
        {"\xCF\x83", "\xCF\x82", true, true},                                        // σ ς
        {"\xCE\x90", "\xE1\xBF\x93", true, true},  // ΐ in two encodings fold alike
        // Cyrillic
        {"\xD0\x9A\xD0\x9B\xD0\x98\xD0\x95\xD0\x9D\xD0\xA2\xD0\xAB",
         "\xD0\xBA\xD0\xBB\xD0\xB8\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B", true,
         true},                                  // КЛИЕНТЫ клиенты
        {"\xD0\x81", "\xD1\x91", true, true},    // Ё ё
        {"\xD0\x81", "\xD0\x95", false, false},  // Ё Е
        {"\xD0\xB9", "\xD0\xB8", false, false},  // й и
        {"A", "\xD0\x90", false, false},         // Latin A, Cyrillic А
        // sharp s folds to "ss"
        {"Stra\xC3\x9F"
         "e",
         "STRASSE", true, true},
        {"\xC3\x9F", "\xE1\xBA\x9E", true, true},  // ß ẞ
        {"\xC3\x9F"
         "a",
         "ssA", true, true},
        {"\xC3\x9F", "s", false, false},
        {"\xC3\x9F", "sss", false, false},
        // Turkish dotted and dotless i under the default folding
        {"I", "i", true, true},
        {"\xC4\xB1", "i", false, false},  // ı
        {"\xC4\xB1", "I", false, false},
        {"\xC4\xB0", "i", false, false},        // İ
        {"\xC4\xB0", "i\xCC\x87", true, true},  // İ, i with combining dot above
        // bad UTF-8: a name's stray byte matches only itself, text reads U+FFFD
        {"a\xFF", "A\xFF", true, true},
        {"\xFF", "\xFE", false, true},
        {"a\xFF", "a\xEF\xBF\xBD", false, true},
        {"\xC3", "\xC3\x84", false, false},  // cut short
        {"\xC3\x84\xFF", "\xC3\xA4\xFF", true, true},
        {"\x80", "\xED\xB2\x80", false, false},  // a stray byte, a surrogate's bytes
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.a) + " vs " + c.b;
        EXPECT_EQ(tab::equalsIgnoringCase(c.a, c.b), c.sameName) << what;
        EXPECT_EQ(tab::equalsIgnoringCase(c.b, c.a), c.sameName) << what;
        EXPECT_EQ(tab::foldedCase(c.a) == tab::foldedCase(c.b), c.sameName) << what;
        EXPECT_EQ(tab::compareIgnoringCase(c.a, c.b) == 0, c.sameText) << what;
        EXPECT_EQ(tab::compareIgnoringCaseByFolding(c.a, c.b) == 0, c.sameText) << what;
    }
}

TEST(CaseFold, KeysAreTheFoldedNames) {
    struct Case {
        const char* name;
        const char* key;
    };
    const Case cases[] = {
        {"MixedCase_1", "mixedcase_1"},
        {"", ""},
        {"\xC3\x9C"
         "BERSICHT",
         "\xC3\xBC"
         "bersicht"},  // ÜBERSICHT
        {"Stra\xC3\x9F"
         "e",
         "strasse"},                                  // Straße
        {"\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x9F\xCF\x82",  // ΣΟΦΟς
         "\xCF\x83\xCE\xBF\xCF\x86\xCE\xBF\xCF\x83"},
        {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},  // Deseret, beyond the BMP
        {"A\xFF", "a\xED\xB3\xBF"},                // a stray byte keeps its value
    };
    for (const Case& c : cases) EXPECT_EQ(tab::foldedCase(c.name), c.key) << c.name;
}

// The shortcuts for shared prefixes, ASCII and Latin-1 must give the answer
// of folding whole: every pair of strings built from pieces that fold
// simply, fold to more than one letter, fold from beyond Latin-1 or are bad.
TEST(CaseFold, ShortcutsAgreeWithWholeFolding) {
    const std::vector<std::string> pieces = {"a",
                                             "A",
                                             "\xC3\xA4",
                                             "\xC3\x84",
                                             "\xC3\x9F",
                                             "ss",
                                             "SS",
                                             "\xE1\xBA\x9E",
                                             "\xFF",
                                             "\xC3",
                                             "\xCF\x83",
                                             "\xCF\x82",
                                             "\xCE\xA3",
                                             "\xC2\xB5",
                                             "\xCE\xBC",
                                             "k",
                                             "\xE2\x84\xAA",
                                             "\xC4\xB0",
                                             "i\xCC\x87",
                                             "\xF0\x90\x90\x80"};
    std::vector<std::string> strings;
    for (const auto& x : pieces)
        for (const auto& y : pieces) strings.push_back(x + y);
    size_t equalPairs = 0;
    for (const auto& a : strings) {
        const std::string ka = tab::foldedCase(a);
        for (const auto& b : strings) {
            const bool same = tab::equalsIgnoringCase(a, b);
            ASSERT_EQ(same, ka == tab::foldedCase(b)) << a << " vs " << b;
            const int fast = tab::compareIgnoringCase(a, b);
            const int whole = tab::compareIgnoringCaseByFolding(a, b);
            ASSERT_EQ(fast < 0, whole < 0) << a << " vs " << b;
            ASSERT_EQ(fast > 0, whole > 0) << a << " vs " << b;
            equalPairs += same;
        }
    }
    // Beyond each string matching itself, the case pairs among the pieces match.
    EXPECT_GT(equalPairs, strings.size());
}

}  // namespace
