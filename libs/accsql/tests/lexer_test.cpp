// Tokens: one table of inputs and the token kinds the lexical rules of
// Access SQL give them.
#include <gtest/gtest.h>

#include <string>

#include "tabulary/accsql/lexer.h"

using namespace tab::accsql;

namespace {

const char* kindName(TokenKind k) {
    switch (k) {
        case TokenKind::End:
            return "end";
        case TokenKind::Invalid:
            return "INVALID";
        case TokenKind::Word:
            return "word";
        case TokenKind::Bracketed:
            return "bracketed";
        case TokenKind::Backquoted:
            return "backquoted";
        case TokenKind::String:
            return "string";
        case TokenKind::Number:
            return "number";
        case TokenKind::Date:
            return "date";
        case TokenKind::Guid:
            return "guid";
        case TokenKind::Param:
            return "?";
        case TokenKind::SysVar:
            return "sysvar";
        case TokenKind::Plus:
            return "+";
        case TokenKind::Minus:
            return "-";
        case TokenKind::Star:
            return "*";
        case TokenKind::Slash:
            return "/";
        case TokenKind::Backslash:
            return "\\";
        case TokenKind::Caret:
            return "^";
        case TokenKind::Amp:
            return "&";
        case TokenKind::Eq:
            return "=";
        case TokenKind::Ne:
            return "<>";
        case TokenKind::Lt:
            return "<";
        case TokenKind::Gt:
            return ">";
        case TokenKind::Le:
            return "<=";
        case TokenKind::Ge:
            return ">=";
        case TokenKind::LParen:
            return "(";
        case TokenKind::RParen:
            return ")";
        case TokenKind::Comma:
            return ",";
        case TokenKind::Dot:
            return ".";
        case TokenKind::Semicolon:
            return ";";
        case TokenKind::Bang:
            return "!";
    }
    return "?";
}

// Kinds with the token text in braces, e.g. "word{SELECT} number{1} end".
std::string lex(const std::string& sql) {
    std::string out;
    for (const Token& t : tokenize(sql)) {
        if (!out.empty()) out += ' ';
        out += kindName(t.kind);
        if (t.kind != TokenKind::End) out += "{" + sql.substr(t.offset, t.length) + "}";
    }
    return out;
}

struct LexCase {
    const char* sql;
    const char* tokens;
};

const LexCase kCases[] = {
    {"SELECT 1", "word{SELECT} number{1} end"},
    {"  \t\r\n x", "word{x} end"},
    {"123 123.45 .5 5. 1E10 1.5E-3 2e+5",
     "number{123} number{123.45} number{.5} number{5.} "
     "number{1E10} number{1.5E-3} number{2e+5} end"},
    // A digit-led word that is no number is a name.
    {"2ndQtr", "word{2ndQtr} end"},
    {"1e5x", "word{1e5x} end"},
    {"1.5x", "INVALID{1.5x}"},
    {"'O''Malley' \"say \"\"hi\"\"\" 'a\"b'",
     "string{'O''Malley'} string{\"say \"\"hi\"\"\"} "
     "string{'a\"b'} end"},
    {"'line\nbreak'", "string{'line\nbreak'} end"},
    {"'open", "INVALID{'open}"},
    {"[Order Details] `x y`", "bracketed{[Order Details]} backquoted{`x y`} end"},
    {"[a[b]", "INVALID{[a[}"},
    {"[open", "INVALID{[open}"},
    {"#5/10/1996#", "date{#5/10/1996#} end"},
    {"#5/10", "INVALID{#5/10}"},
    {"{guid {12345678-ABCD-ef01-2345-6789abcdef01}}",
     "guid{{guid {12345678-ABCD-ef01-2345-6789abcdef01}}} end"},
    {"? @@IDENTITY", "?{?} sysvar{@@IDENTITY} end"},
    {"a<>b<=c>=d<e>f=g",
     "word{a} <>{<>} word{b} <={<=} word{c} >={>=} word{d} <{<} word{e} "
     ">{>} word{f} ={=} word{g} end"},
    {"+-*/\\^&(),.;!", "+{+} -{-} *{*} /{/} \\{\\} ^{^} &{&} ({(} ){)} ,{,} .{.} ;{;} !{!} end"},
    // No comments: "--" is two minus signs.
    {"1--2", "number{1} -{-} -{-} number{2} end"},
    {"/* c */", "INVALID{/*}"},
    {"a || b", "word{a} INVALID{||}"},
    {"a != b", "word{a} INVALID{!=}"},
    {"a == b", "word{a} INVALID{==}"},
    {"x::int", "word{x} INVALID{::}"},
    {"7 % 2", "number{7} INVALID{%}"},
    // A period right after a name separates; elsewhere it may start a number.
    {"t.2ndQtr [a].5b", "word{t} .{.} word{2ndQtr} bracketed{[a]} .{.} word{5b} end"},
    {"a+.5, .5", "word{a} +{+} number{.5} ,{,} number{.5} end"},
    {"Forms!frm!ctl", "word{Forms} !{!} word{frm} !{!} word{ctl} end"},
    {"Größe", "word{Größe} end"},
};

TEST(Lexer, Table) {
    for (const auto& c : kCases) EXPECT_EQ(lex(c.sql), c.tokens) << c.sql;
}

TEST(Lexer, KeywordsAreCaseInsensitiveAndSoftOnesAreNotReserved) {
    EXPECT_EQ(lookupKeyword("select"), Keyword::Select);
    EXPECT_EQ(lookupKeyword("SeLeCt"), Keyword::Select);
    EXPECT_EQ(lookupKeyword("selects"), Keyword::None);
    EXPECT_TRUE(isReserved(Keyword::From));
    EXPECT_FALSE(isReserved(Keyword::Yes));
    EXPECT_FALSE(isReserved(Keyword::Limit));
    // The table is sorted, which the binary search relies on.
    for (size_t i = 1; i < keywordCount(); ++i)
        EXPECT_LT(keywordSpellingAt(i - 1), keywordSpellingAt(i));
    for (size_t i = 0; i < keywordCount(); ++i)
        EXPECT_NE(lookupKeyword(keywordSpellingAt(i)), Keyword::None) << keywordSpellingAt(i);
}

TEST(Lexer, RegularIdentifiers) {
    EXPECT_TRUE(isRegularIdentifier("Orders"));
    EXPECT_TRUE(isRegularIdentifier("Date"));  // soft keyword
    EXPECT_TRUE(isRegularIdentifier("2ndQtr"));
    EXPECT_FALSE(isRegularIdentifier("Order"));  // structural keyword
    EXPECT_FALSE(isRegularIdentifier("a b"));
    EXPECT_FALSE(isRegularIdentifier("1E5"));
    EXPECT_FALSE(isRegularIdentifier("12"));
    EXPECT_FALSE(isRegularIdentifier(""));
}

}  // namespace
