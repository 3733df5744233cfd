// The pieces every part of the parser stands on: errors that point at a
// token, the other dialects' constructs named in messages, the depth bound
// and names.
#include <string>

#include "parser_internal.h"

namespace tab::accsql::detail {

void Parser::fail(const Token& t, std::string message, DiagnosticKind kind) const {
    if (t.kind == TokenKind::Invalid) {
        message = t.error;
        kind = DiagnosticKind::Syntax;
    }
    const bool atEnd = t.kind == TokenKind::End;
    throw ParseFailure{
        makeDiagnostic(m_sql, kind, Span{t.offset, t.length}, atEnd, std::move(message))};
}

void Parser::unsupported(const Token& t, const std::string& what) const {
    fail(t, what + " is not supported by this program", DiagnosticKind::Unsupported);
}

// Constructs of other SQL dialects, named so the message can say so.
const char* Parser::foreignConstruct(size_t i) const {
    const Token& t = m_tok[std::min(i, m_tok.size() - 1)];
    const Token& n = m_tok[std::min(i + 1, m_tok.size() - 1)];
    if (t.kind != TokenKind::Word) return nullptr;
    switch (t.keyword) {
        case Keyword::Limit:
        case Keyword::Offset:
            if (n.kind == TokenKind::Number || n.kind == TokenKind::Param)
                return "LIMIT and OFFSET are not Access SQL; use SELECT TOP n";
            return nullptr;
        case Keyword::Fetch:
            return n.kind == TokenKind::Word ? "FETCH FIRST is not Access SQL; use SELECT TOP n"
                                             : nullptr;
        case Keyword::Full:
            return isKw(n, Keyword::Join) || isKw(n, Keyword::Outer)
                       ? "FULL OUTER JOIN is not supported by Access; combine a LEFT JOIN "
                         "and a RIGHT JOIN with UNION"
                       : nullptr;
        case Keyword::Cross:
            return isKw(n, Keyword::Join)
                       ? "CROSS JOIN is not Access SQL; list the tables separated by commas"
                       : nullptr;
        case Keyword::Natural:
            return isKw(n, Keyword::Join) || isKw(n, Keyword::Inner) || isKw(n, Keyword::Left) ||
                           isKw(n, Keyword::Right)
                       ? "NATURAL JOIN is not Access SQL; use INNER JOIN ... ON"
                       : nullptr;
        case Keyword::Using:
            return n.kind == TokenKind::LParen
                       ? "USING is not Access SQL; write the join condition with ON"
                       : nullptr;
        case Keyword::Intersect:
        case Keyword::Except:
            return isKw(n, Keyword::Select) || isKw(n, Keyword::All) || n.kind == TokenKind::LParen
                       ? "INTERSECT and EXCEPT are not Access SQL; use IN or EXISTS subqueries"
                       : nullptr;
        case Keyword::Window:
            return "window functions are not Access SQL";
        default:
            return nullptr;
    }
}

void Parser::tooDeep(const Token& t) const {
    fail(t,
         "nested too deeply (more than " + std::to_string(m_limits.maxDepth) +
             " levels of parentheses, subqueries or operators)",
         DiagnosticKind::Limit);
}

void Parser::checkHeight(uint32_t h, const Token& t) const {
    if (h > m_limits.maxDepth) tooDeep(t);
}

Name Parser::nameFrom(const Token& t) const {
    Name n;
    n.span = Span{t.offset, t.length};
    if (t.kind == TokenKind::Word) {
        n.text = std::string(text(t));
    } else {
        n.text = std::string(m_sql.substr(t.offset + 1, t.length - 2));
        n.delimiter = t.kind == TokenKind::Bracketed ? Delimiter::Bracket : Delimiter::Backquote;
    }
    return n;
}

Name Parser::name(const char* what) {
    const Token& t = cur();
    if (!isNameToken(t)) {
        if (t.kind == TokenKind::Word)
            fail(t, std::string("expected ") + what + "; '" + std::string(text(t)) +
                        "' is a reserved word (write it in brackets to use it as a name)");
        fail(t, std::string("expected ") + what);
    }
    advance();
    return nameFrom(t);
}

// A table or other object name: a single name, no schema.
Name Parser::objectName(const char* what) {
    Name n = name(what);
    if (cur().kind == TokenKind::Dot || cur().kind == TokenKind::Bang)
        fail(cur(), "Access has no schemas: an object name is a single name");
    return n;
}

std::vector<Name> Parser::nameList(const char* what) {
    expect(TokenKind::LParen, "'('");
    std::vector<Name> out;
    do {
        out.push_back(name(what));
    } while (accept(TokenKind::Comma));
    expect(TokenKind::RParen, "')'");
    return out;
}

QualifiedName Parser::qualifiedName() {
    QualifiedName q;
    q.parts.push_back(name("a name"));
    bool bang = false;
    while ((cur().kind == TokenKind::Dot || cur().kind == TokenKind::Bang) && isNameToken(peek())) {
        const char sep = cur().kind == TokenKind::Dot ? '.' : '!';
        bang = bang || sep == '!';
        advance();
        q.separators.push_back(sep);
        q.parts.push_back(nameFrom(cur()));
        advance();
    }
    if (q.parts.size() > 2 && !bang)
        fail(m_tok[m_pos - 1],
             "a column reference has at most two parts (table.column); Access has no schemas");
    return q;
}

}  // namespace tab::accsql::detail
