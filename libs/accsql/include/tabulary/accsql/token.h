// Tokens of Access SQL. A token is a kind plus a byte range of the statement;
// the text is never copied.
#pragma once

#include <cstdint>
#include <string_view>

namespace tab::accsql {

enum class Keyword : uint8_t {
    None,
#define TAB_ACCSQL_KEYWORD(id, spelling, reserved) id,
#include "tabulary/accsql/keywords.def"
#undef TAB_ACCSQL_KEYWORD
};

enum class TokenKind : uint8_t {
    End,
    Invalid,     // a lexical error; Token::error says why
    Word,        // regular identifier or keyword (see Token::keyword)
    Bracketed,   // [name]
    Backquoted,  // `name`
    String,      // '...' or "..."
    Number,
    Date,    // #...#
    Guid,    // {guid {...}}
    Param,   // ?
    SysVar,  // @@IDENTITY
    Plus,
    Minus,
    Star,
    Slash,
    Backslash,
    Caret,
    Amp,
    Eq,
    Ne,
    Lt,
    Gt,
    Le,
    Ge,
    LParen,
    RParen,
    Comma,
    Dot,
    Semicolon,
    Bang,
};

struct Token {
    TokenKind kind = TokenKind::End;
    Keyword keyword = Keyword::None;
    uint32_t offset = 0;
    uint32_t length = 0;
    const char* error = nullptr;  // static text, only for Invalid
};

// Keyword of a word (case-insensitive), Keyword::None if it is not one.
Keyword lookupKeyword(std::string_view word);
std::string_view keywordSpelling(Keyword k);
bool isReserved(Keyword k);
// Every keyword spelling, for the fuzz dictionary and tests.
std::string_view keywordSpellingAt(size_t index);
size_t keywordCount();

}  // namespace tab::accsql
