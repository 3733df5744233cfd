// Tokenizer. Access SQL has no comments and no escapes other than doubled
// quotes; names may hold any non-ASCII character.
#include "tabulary/accsql/lexer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tab::accsql {

namespace {

struct KeywordEntry {
    std::string_view spelling;
    Keyword keyword;
    bool reserved;
};

constexpr KeywordEntry kKeywords[] = {
#define TAB_ACCSQL_KEYWORD(id, spelling, reserved) {spelling, Keyword::id, reserved},
#include "tabulary/accsql/keywords.def"
#undef TAB_ACCSQL_KEYWORD
};

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
// Bytes of multi-byte UTF-8 sequences count as letters: names may be in any script.
bool isWordStart(unsigned char c) {
    return isAsciiLetter(c) || c == '_' || c >= 0x80;
}
bool isWordChar(unsigned char c) {
    return isWordStart(c) || isDigit(c);
}

class Lexer {
public:
    Lexer(std::string_view sql, size_t begin, size_t end)
        : m_s(sql), m_begin(begin), m_pos(begin), m_end(end) {}

    std::vector<Token> run() {
        std::vector<Token> out;
        for (;;) {
            Token t = next();
            out.push_back(t);
            if (t.kind == TokenKind::End || t.kind == TokenKind::Invalid) break;
        }
        return out;
    }

private:
    unsigned char at(size_t i) const { return i < m_end ? static_cast<unsigned char>(m_s[i]) : 0; }
    bool more(size_t i) const { return i < m_end; }

    Token make(TokenKind k, size_t start) {
        Token t;
        t.kind = k;
        t.offset = static_cast<uint32_t>(start);
        t.length = static_cast<uint32_t>(m_pos - start);
        return t;
    }
    Token invalid(size_t start, const char* why) {
        Token t = make(TokenKind::Invalid, start);
        if (t.length == 0) t.length = more(start) ? 1 : 0;
        t.error = why;
        return t;
    }

    Token next() {
        while (more(m_pos) &&
               (at(m_pos) == ' ' || at(m_pos) == '\t' || at(m_pos) == '\r' || at(m_pos) == '\n'))
            ++m_pos;
        const size_t start = m_pos;
        if (!more(m_pos)) return make(TokenKind::End, start);
        const unsigned char c = at(m_pos);
        // ".5" is a number, but "t.2ndQtr" is a qualified name: a period
        // right after a name is the separator.
        if (isDigit(c) || (c == '.' && isDigit(at(m_pos + 1)) && !afterName(m_pos)))
            return number(start);
        if (isWordStart(c)) {
            while (more(m_pos) && isWordChar(at(m_pos))) ++m_pos;
            // VBA's text-returning forms: Left$( ... ).
            if (at(m_pos) == '$' && at(m_pos + 1) == '(') ++m_pos;
            Token t = make(TokenKind::Word, start);
            t.keyword = lookupKeyword(m_s.substr(start, m_pos - start));
            return t;
        }
        switch (c) {
            case '\'':
            case '"':
                return quoted(start, static_cast<char>(c));
            case '[':
                return delimitedName(start, ']', TokenKind::Bracketed);
            case '`':
                return delimitedName(start, '`', TokenKind::Backquoted);
            case '#':
                return dateLiteral(start);
            case '{':
                return guid(start);
            case '?':
                ++m_pos;
                return make(TokenKind::Param, start);
            case '@':
                if (at(m_pos + 1) == '@' && isWordStart(at(m_pos + 2))) {
                    m_pos += 2;
                    while (more(m_pos) && isWordChar(at(m_pos))) ++m_pos;
                    return make(TokenKind::SysVar, start);
                }
                ++m_pos;
                return invalid(start, "unexpected character '@'");
            case '+':
                return single(TokenKind::Plus, start);
            case '-':
                return single(TokenKind::Minus, start);
            case '*':
                return single(TokenKind::Star, start);
            case '\\':
                return single(TokenKind::Backslash, start);
            case '^':
                return single(TokenKind::Caret, start);
            case '&':
                return single(TokenKind::Amp, start);
            case '(':
                return single(TokenKind::LParen, start);
            case ')':
                return single(TokenKind::RParen, start);
            case ',':
                return single(TokenKind::Comma, start);
            case '.':
                return single(TokenKind::Dot, start);
            case ';':
                return single(TokenKind::Semicolon, start);
            case '/':
                if (at(m_pos + 1) == '*') {
                    m_pos += 2;
                    return invalid(start, "comments are not allowed in Access SQL");
                }
                return single(TokenKind::Slash, start);
            case '=':
                if (at(m_pos + 1) == '=') {
                    m_pos += 2;
                    return invalid(start, "'==' is not an Access SQL operator; use =");
                }
                return single(TokenKind::Eq, start);
            case '<':
                ++m_pos;
                if (at(m_pos) == '>') return ++m_pos, make(TokenKind::Ne, start);
                if (at(m_pos) == '=') return ++m_pos, make(TokenKind::Le, start);
                return make(TokenKind::Lt, start);
            case '>':
                ++m_pos;
                if (at(m_pos) == '=') return ++m_pos, make(TokenKind::Ge, start);
                return make(TokenKind::Gt, start);
            case '!':
                if (at(m_pos + 1) == '=') {
                    m_pos += 2;
                    return invalid(start, "'!=' is not an Access SQL operator; use <>");
                }
                return single(TokenKind::Bang, start);
            case '|':
                if (at(m_pos + 1) == '|') {
                    m_pos += 2;
                    return invalid(start, "'||' is not an Access SQL operator; use & to join text");
                }
                ++m_pos;
                return invalid(start, "unexpected character '|'");
            case ':':
                if (at(m_pos + 1) == ':') {
                    m_pos += 2;
                    return invalid(
                        start, "'::' casts are not Access SQL; use CStr, CLng, CDbl, CDate, ...");
                }
                ++m_pos;
                return invalid(start, "unexpected character ':'");
            case '%':
                ++m_pos;
                return invalid(start, "'%' is not an Access SQL operator; use Mod for remainders");
            default:
                ++m_pos;
                return invalid(start, "unexpected character");
        }
    }

    bool afterName(size_t i) const {
        if (i <= m_begin) return false;
        const auto p = static_cast<unsigned char>(m_s[i - 1]);
        return isWordChar(p) || p == ']' || p == '`';
    }

    Token single(TokenKind k, size_t start) {
        ++m_pos;
        return make(k, start);
    }

    // 123, 1.5, .5, 5., 1E10, 2e+5. A digit-led word with other letters
    // (2ndQtr) is a name.
    Token number(size_t start) {
        size_t p = m_pos;
        while (isDigit(at(p))) ++p;
        bool fraction = false;
        if (at(p) == '.') {
            fraction = true;
            ++p;
            while (isDigit(at(p))) ++p;
        }
        if (at(p) == 'e' || at(p) == 'E') {
            size_t q = p + 1;
            if (at(q) == '+' || at(q) == '-') ++q;
            if (isDigit(at(q))) {
                while (isDigit(at(q))) ++q;
                p = q;
            }
        }
        if (!fraction && isWordChar(at(p))) {
            // Not a number after all: a name that starts with digits.
            while (more(p) && isWordChar(at(p))) ++p;
            m_pos = p;
            Token t = make(TokenKind::Word, start);
            return t;
        }
        if (isWordChar(at(p))) {
            m_pos = p + 1;
            return invalid(start, "malformed number");
        }
        m_pos = p;
        return make(TokenKind::Number, start);
    }

    Token quoted(size_t start, char q) {
        size_t p = m_pos + 1;
        for (;;) {
            if (!more(p)) {
                m_pos = p;
                return invalid(start, "unterminated string literal");
            }
            if (at(p) == static_cast<unsigned char>(q)) {
                if (at(p + 1) == static_cast<unsigned char>(q) && more(p + 1)) {
                    p += 2;
                    continue;
                }
                m_pos = p + 1;
                return make(TokenKind::String, start);
            }
            ++p;
        }
    }

    Token delimitedName(size_t start, char close, TokenKind kind) {
        size_t p = m_pos + 1;
        while (more(p) && at(p) != static_cast<unsigned char>(close)) {
            if (close == ']' && at(p) == '[') {
                m_pos = p + 1;
                return invalid(start, "invalid bracketing of name");
            }
            ++p;
        }
        if (!more(p)) {
            m_pos = p;
            return invalid(start, close == ']' ? "invalid bracketing of name: missing ]"
                                               : "unterminated back-quoted name");
        }
        m_pos = p + 1;
        if (p == start + 1) return invalid(start, "empty name between delimiters");
        return make(kind, start);
    }

    Token dateLiteral(size_t start) {
        size_t p = m_pos + 1;
        while (more(p) && at(p) != '#' && at(p) != '\n' && at(p) != '\r') ++p;
        if (!more(p) || at(p) != '#') {
            m_pos = p;
            return invalid(start, "unterminated date literal: missing #");
        }
        m_pos = p + 1;
        return make(TokenKind::Date, start);
    }

    // {guid {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}}
    Token guid(size_t start) {
        static constexpr std::string_view kHead = "{guid {";
        size_t p = m_pos;
        for (char h : kHead) {
            if (upper(static_cast<char>(at(p))) != upper(h)) {
                m_pos = start + 1;
                return invalid(start, "unexpected character '{' (GUIDs are written {guid {...}})");
            }
            ++p;
        }
        static constexpr std::string_view kShape = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
        for (char s : kShape) {
            const unsigned char c = at(p);
            const bool ok = s == '-' ? c == '-'
                                     : (isDigit(c) || (upper(static_cast<char>(c)) >= 'A' &&
                                                       upper(static_cast<char>(c)) <= 'F'));
            if (!ok || !more(p)) {
                m_pos = std::max(p, start + 1);
                return invalid(start, "malformed GUID literal");
            }
            ++p;
        }
        if (at(p) != '}' || at(p + 1) != '}' || !more(p + 1)) {
            m_pos = std::max(p, start + 1);
            return invalid(start, "malformed GUID literal: expected }}");
        }
        m_pos = p + 2;
        return make(TokenKind::Guid, start);
    }

    std::string_view m_s;
    size_t m_begin;
    size_t m_pos;
    size_t m_end;
};

}  // namespace

Keyword lookupKeyword(std::string_view word) {
    if (word.size() > 16) return Keyword::None;
    std::array<char, 16> buf{};
    for (size_t i = 0; i < word.size(); ++i) buf[i] = upper(word[i]);
    const std::string_view up(buf.data(), word.size());
    const auto* it =
        std::lower_bound(std::begin(kKeywords), std::end(kKeywords), up,
                         [](const KeywordEntry& e, std::string_view w) { return e.spelling < w; });
    if (it != std::end(kKeywords) && it->spelling == up) return it->keyword;
    return Keyword::None;
}

std::string_view keywordSpelling(Keyword k) {
    for (const auto& e : kKeywords)
        if (e.keyword == k) return e.spelling;
    return {};
}

bool isReserved(Keyword k) {
    for (const auto& e : kKeywords)
        if (e.keyword == k) return e.reserved;
    return false;
}

std::string_view keywordSpellingAt(size_t index) {
    return index < std::size(kKeywords) ? kKeywords[index].spelling : std::string_view{};
}
size_t keywordCount() {
    return std::size(kKeywords);
}

std::vector<Token> tokenize(std::string_view sql, size_t begin, size_t end) {
    end = std::min(end, sql.size());
    begin = std::min(begin, end);
    return Lexer(sql, begin, end).run();
}

bool isRegularIdentifier(std::string_view name) {
    if (name.empty()) return false;
    bool letter = false;
    for (unsigned char c : name) {
        if (!isWordChar(c)) return false;
        if (!isDigit(c)) letter = true;
    }
    if (!letter) return false;
    // A digit-led word must not read as a number (1E5).
    if (isDigit(static_cast<unsigned char>(name[0]))) {
        auto toks = tokenize(name);
        if (toks.size() != 2 || toks[0].kind != TokenKind::Word) return false;
    }
    const Keyword k = lookupKeyword(name);
    return k == Keyword::None || !isReserved(k);
}

}  // namespace tab::accsql
