// Queries: SELECT and its clauses, FROM with derived tables and joins,
// UNION, TRANSFORM ... PIVOT, and the tree height of what they hold.
#include <algorithm>
#include <string>

#include "parser_internal.h"
#include "tabulary/accsql/lexer.h"

namespace tab::accsql::detail {

QueryPtr Parser::subquery() {
    QueryPtr q = query(false, false);
    return q;
}

// union_query | transform_query
QueryPtr Parser::query(bool allowUnion, bool topLevel) {
    DepthGuard guard(*this);
    const Token& start = cur();
    auto q = std::make_unique<Query>();
    if (isKw(start, Keyword::Transform)) {
        transformQuery(*q, topLevel);
    } else {
        q->terms.push_back(term(topLevel));
        while (isKw(cur(), Keyword::Union)) {
            if (!allowUnion) fail(cur(), "unions are not allowed in a subquery");
            advance();
            q->unionAll.push_back(acceptKw(Keyword::All));
            q->terms.push_back(term(false));
        }
        if (isKw(cur(), Keyword::Order)) q->orderBy = orderBy();
        ownerAccess(*q);
    }
    q->span = spanFrom(start.offset);
    q->height = heightOf(*q);
    checkHeight(q->height, start);
    return q;
}

void Parser::ownerAccess(Query& q) {
    if (!isKw(cur(), Keyword::With)) return;
    advance();
    expectKw(Keyword::OwnerAccess, "OWNERACCESS OPTION after WITH");
    expectKw(Keyword::Option, "OPTION after WITH OWNERACCESS");
    q.ownerAccess = true;
}

QueryTerm Parser::term(bool allowInto) {
    QueryTerm t;
    const Token& start = cur();
    if (isKw(start, Keyword::Select)) {
        t.kind = QueryTerm::Kind::Select;
        t.select = selectCore(allowInto);
    } else if (isKw(start, Keyword::Table)) {
        advance();
        t.kind = QueryTerm::Kind::Table;
        t.table = objectName("a table name after TABLE");
    } else if (start.kind == TokenKind::LParen) {
        advance();
        t.kind = QueryTerm::Kind::Nested;
        if (!startsQuery(cur()) && !isKw(cur(), Keyword::Table) && cur().kind != TokenKind::LParen)
            fail(cur(), "expected SELECT");
        t.nested = query(true, false);
        expect(TokenKind::RParen, "')'");
    } else {
        fail(start, "expected SELECT");
    }
    t.span = spanFrom(start.offset);
    return t;
}

void Parser::transformQuery(Query& q, bool topLevel) {
    const Token& start = cur();
    advance();
    Transform tr;
    tr.aggregate = expr();
    if (acceptKw(Keyword::As)) tr.alias = name("an alias after AS");
    if (!isKw(cur(), Keyword::Select)) fail(cur(), "expected SELECT after TRANSFORM's value");
    QueryTerm t;
    const Token& selStart = cur();
    t.select = selectCore(topLevel);
    t.span = spanFrom(selStart.offset);
    if (t.select->groupBy.empty())
        fail(cur(), "a TRANSFORM query needs GROUP BY for its row headings");
    if (t.select->having) fail(cur(), "cannot use HAVING clause in TRANSFORM statement");
    q.terms.push_back(std::move(t));
    if (isKw(cur(), Keyword::Order)) q.orderBy = orderBy();
    if (isKw(cur(), Keyword::Union)) fail(cur(), "a TRANSFORM query cannot be combined with UNION");
    expectKw(Keyword::Pivot, "PIVOT in the TRANSFORM query");
    // The pivot expression stops before IN, which belongs to PIVOT.
    tr.pivot = expr(kCompare);
    if (acceptKw(Keyword::In)) {
        tr.hasInList = true;
        expect(TokenKind::LParen, "'(' after PIVOT ... IN");
        do {
            tr.inList.push_back(expr());
        } while (accept(TokenKind::Comma));
        expect(TokenKind::RParen, "')' or ',' in the PIVOT IN list");
    }
    tr.span = spanFrom(start.offset);
    q.transform = std::move(tr);
    ownerAccess(q);
}

std::vector<OrderItem> Parser::orderBy() {
    advance();
    expectKw(Keyword::By, "BY after ORDER");
    std::vector<OrderItem> out;
    do {
        OrderItem o;
        const uint32_t start = cur().offset;
        o.expr = expr();
        if (acceptKw(Keyword::Desc)) {
            o.descending = true;
            o.explicitDirection = true;
        } else if (acceptKw(Keyword::Asc)) {
            o.explicitDirection = true;
        }
        o.span = spanFrom(start);
        out.push_back(std::move(o));
    } while (accept(TokenKind::Comma));
    return out;
}

Top Parser::top() {
    Top t;
    const Token& kw = cur();
    advance();
    const Token& n = cur();
    if (n.kind != TokenKind::Number)
        fail(n, "invalid TOP argument: TOP needs a whole number, not an expression or parameter");
    t.count = numberFrom(n);
    if (!t.count.integral || !t.count.intValue || *t.count.intValue <= 0)
        fail(n, "invalid TOP argument: TOP needs a whole number greater than 0");
    advance();
    if (acceptKw(Keyword::Percent)) {
        t.percent = true;
        if (*t.count.intValue > 100) fail(n, "invalid TOP argument: TOP n PERCENT needs n <= 100");
    }
    t.span = spanFrom(kw.offset);
    return t;
}

SetQuantifier Parser::setQuantifier() {
    if (acceptKw(Keyword::All)) return SetQuantifier::All;
    if (acceptKw(Keyword::Distinct)) return SetQuantifier::Distinct;
    if (acceptKw(Keyword::DistinctRow)) return SetQuantifier::DistinctRow;
    return SetQuantifier::Default;
}

// name (. name)* . *  — a table.* item.
bool Parser::atTableStar() const {
    size_t i = m_pos;
    if (!isNameToken(m_tok[i])) return false;
    ++i;
    while (i + 1 < m_tok.size() &&
           (m_tok[i].kind == TokenKind::Dot || m_tok[i].kind == TokenKind::Bang)) {
        if (m_tok[i + 1].kind == TokenKind::Star) return true;
        if (!isNameToken(m_tok[i + 1])) return false;
        i += 2;
    }
    return false;
}

std::unique_ptr<SelectCore> Parser::selectCore(bool allowInto) {
    auto s = std::make_unique<SelectCore>();
    const Token& start = cur();
    advance();  // SELECT
    s->quantifier = setQuantifier();
    if (isKw(cur(), Keyword::Top)) s->top = top();
    if (cur().kind == TokenKind::End) fail(cur(), "expected the select list");
    do {
        s->items.push_back(selectItem());
    } while (accept(TokenKind::Comma));
    if (isKw(cur(), Keyword::Into)) {
        if (!allowInto)
            fail(cur(),
                 "SELECT ... INTO is only allowed as a statement of its own, not in a "
                 "subquery or after UNION");
        advance();
        s->into = objectName("a table name after INTO");
        if (isKw(cur(), Keyword::In)) unsupported(cur(), "IN with an external database");
    }
    if (acceptKw(Keyword::From)) {
        do {
            s->from.push_back(fromItem());
        } while (accept(TokenKind::Comma));
        if (isKw(cur(), Keyword::In)) {
            const std::string database = externalDatabase();
            for (auto& f : s->from) readFrom(*f, database);
        }
    }
    if (acceptKw(Keyword::Where)) s->where = expr();
    if (isKw(cur(), Keyword::Group)) {
        advance();
        expectKw(Keyword::By, "BY after GROUP");
        do {
            s->groupBy.push_back(expr());
        } while (accept(TokenKind::Comma));
    }
    if (acceptKw(Keyword::Having)) s->having = expr();
    s->span = spanFrom(start.offset);
    return s;
}

SelectItem Parser::selectItem() {
    SelectItem it;
    const uint32_t start = cur().offset;
    if (cur().kind == TokenKind::Star) {
        advance();
        it.kind = SelectItem::Kind::Star;
    } else if (atTableStar()) {
        it.kind = SelectItem::Kind::TableStar;
        it.table.parts.push_back(nameFrom(cur()));
        advance();
        while (cur().kind == TokenKind::Dot || cur().kind == TokenKind::Bang) {
            const char sep = cur().kind == TokenKind::Dot ? '.' : '!';
            advance();
            if (cur().kind == TokenKind::Star) {
                if (sep != '.') fail(cur(), "write table.* with a period");
                advance();
                break;
            }
            it.table.separators.push_back(sep);
            it.table.parts.push_back(nameFrom(cur()));
            advance();
        }
        if (it.table.parts.size() > 1)
            fail(m_tok[m_pos - 1], "Access has no schemas: write table.*");
    } else {
        it.kind = SelectItem::Kind::Expr;
        it.expr = expr();
        if (acceptKw(Keyword::As)) {
            it.alias = name("an alias after AS");
        } else if (const char* f = foreignConstruct(m_pos)) {
            fail(cur(), f);
        } else if (isNameToken(cur())) {
            fail(cur(), "a column alias needs AS (write expression AS alias)");
        }
    }
    it.span = spanFrom(start);
    return it;
}

// from_primary [join_type JOIN from_primary ON condition]
FromItemPtr Parser::fromItem() {
    DepthGuard guard(*this);
    const uint32_t start = cur().offset;
    FromItemPtr left = fromPrimary();
    if (!atJoin()) return left;
    FromItemPtr j = join(std::move(left), start);
    if (atJoin())
        fail(cur(),
             "joining more than two tables needs parentheses in Access: "
             "(A INNER JOIN B ON ...) INNER JOIN C ON ...");
    return j;
}

bool Parser::atJoin() const {
    const Token& t = cur();
    return isKw(t, Keyword::Inner) || isKw(t, Keyword::Left) || isKw(t, Keyword::Right) ||
           isKw(t, Keyword::Join) || isKw(t, Keyword::Outer) ||
           (foreignConstruct(m_pos) &&
            (isKw(t, Keyword::Full) || isKw(t, Keyword::Cross) || isKw(t, Keyword::Natural)));
}

FromItemPtr Parser::join(FromItemPtr left, uint32_t start) {
    auto j = std::make_unique<FromItem>();
    j->kind = FromItem::Kind::Join;
    const Token& t = cur();
    if (const char* f = foreignConstruct(m_pos)) fail(t, f);
    if (isKw(t, Keyword::Join)) fail(t, "Access needs INNER, LEFT or RIGHT before JOIN");
    if (isKw(t, Keyword::Outer)) fail(t, "write LEFT OUTER JOIN or RIGHT OUTER JOIN");
    advance();
    if (t.keyword == Keyword::Inner) {
        j->join = JoinType::Inner;
    } else {
        j->join = t.keyword == Keyword::Left ? JoinType::Left : JoinType::Right;
        j->outerKeyword = acceptKw(Keyword::Outer);
    }
    expectKw(Keyword::Join, "JOIN");
    j->left = std::move(left);
    j->right = fromPrimary();
    if (const char* f = foreignConstruct(m_pos)) fail(cur(), f);
    if (!acceptKw(Keyword::On)) fail(cur(), "a join needs ON and a condition");
    j->on = expr();
    j->span = spanFrom(start);
    return j;
}

bool Parser::startsWithSelect(std::string_view body) const {
    size_t i = 0;
    while (i < body.size() &&
           (body[i] == ' ' || body[i] == '\t' || body[i] == '\r' || body[i] == '\n'))
        ++i;
    return body.size() - i > 6 && upperAscii(body.substr(i, 6)) == "SELECT" &&
           (body[i + 6] == ' ' || body[i + 6] == '\t' || body[i + 6] == '\r' ||
            body[i + 6] == '\n');
}

void Parser::tableAlias(FromItem& f, bool required) {
    if (acceptKw(Keyword::As)) {
        f.aliasWithAs = true;
        f.alias = name("an alias after AS");
        return;
    }
    if (isNameToken(cur()) && !foreignConstruct(m_pos)) {
        f.alias = name("an alias");
        return;
    }
    if (required) fail(cur(), "a derived table needs an alias: (SELECT ...) AS name");
}

FromItemPtr Parser::fromPrimary() {
    const Token& t = cur();
    if (t.kind == TokenKind::LParen) {
        if (startsQuery(peek())) {
            advance();
            auto f = std::make_unique<FromItem>();
            f->kind = FromItem::Kind::Derived;
            f->query = query(true, false);
            expect(TokenKind::RParen, "')' after the derived table's query");
            // Access names a derived table without an alias itself.
            tableAlias(*f, false);
            f->span = spanFrom(t.offset);
            return f;
        }
        advance();
        FromItemPtr inner = fromItem();
        expect(TokenKind::RParen, "')'");
        inner->span = spanFrom(t.offset);
        return inner;
    }
    // The form Access itself writes for derived tables: [SELECT ...]. AS x
    if (t.kind == TokenKind::Bracketed && peek().kind == TokenKind::Dot &&
        startsWithSelect(m_sql.substr(t.offset + 1, t.length - 2))) {
        auto f = std::make_unique<FromItem>();
        f->kind = FromItem::Kind::Derived;
        f->query = legacyDerived(t);
        advance();
        advance();  // the period
        tableAlias(*f, true);
        f->span = spanFrom(t.offset);
        return f;
    }
    if (isKw(t, Keyword::Select)) fail(t, "a derived table must be in parentheses");
    auto f = std::make_unique<FromItem>();
    f->kind = FromItem::Kind::Table;
    f->table = objectName("a table name");
    // IN may come before or after the alias.
    if (isKw(cur(), Keyword::In)) f->database = externalDatabase();
    tableAlias(*f, false);
    if (f->database.empty() && isKw(cur(), Keyword::In)) f->database = externalDatabase();
    f->span = spanFrom(t.offset);
    return f;
}

// IN 'file', IN '' [;DATABASE=file] or IN [;DATABASE=file]: another Access
// file. Other sources ([dBASE IV;DATABASE=...], ODBC) are refused.
std::string Parser::externalDatabase() {
    const Token in = cur();
    advance();
    std::string path;
    bool named = false;
    if (cur().kind == TokenKind::String) {
        path = stringValue(cur());
        advance();
        named = true;
    }
    if (cur().kind == TokenKind::Bracketed) {
        const Token& b = cur();
        const std::string_view connect = m_sql.substr(b.offset + 1, b.length - 2);
        const size_t semi = connect.find(';');
        const std::string_view type = connect.substr(0, semi);
        std::string upperType = upperAscii(type);
        while (!upperType.empty() && upperType.back() == ' ') upperType.pop_back();
        if (!upperType.empty() && upperType != "MS ACCESS")
            unsupported(b, "IN with a " + std::string(type) + " source");
        for (size_t pos = semi; pos != std::string_view::npos && pos < connect.size();) {
            const size_t next = connect.find(';', pos + 1);
            const std::string_view item = connect.substr(
                pos + 1, next == std::string_view::npos ? std::string_view::npos : next - pos - 1);
            if (upperAscii(item.substr(0, 9)) == "DATABASE=") path = std::string(item.substr(9));
            pos = next;
        }
        advance();
        named = true;
    }
    if (!named) fail(cur(), "expected the database after IN: 'file' or [;DATABASE=file]");
    if (path.empty()) fail(in, "IN names no database file");
    return path;
}

// The tables of a FROM item read from `database`, unless they name their own.
void Parser::readFrom(FromItem& f, const std::string& database) {
    if (f.kind == FromItem::Kind::Table && f.database.empty()) f.database = database;
    if (f.kind == FromItem::Kind::Join) {
        readFrom(*f.left, database);
        readFrom(*f.right, database);
    }
}

QueryPtr Parser::legacyDerived(const Token& t) {
    Parser sub(m_sql, m_limits, tokenize(m_sql, t.offset + 1, t.offset + t.length - 1));
    sub.m_depth = m_depth;
    sub.m_params = m_params;
    QueryPtr q = sub.query(true, false);
    if (sub.cur().kind != TokenKind::End) sub.fail(sub.cur(), "expected ']' after the query");
    m_params = sub.m_params;
    return q;
}

uint32_t Parser::heightOf(const FromItem& f) {
    switch (f.kind) {
        case FromItem::Kind::Table:
            return 1;
        case FromItem::Kind::Derived:
            return f.query->height + 1;
        case FromItem::Kind::Join:
            return 1 + std::max({heightOf(*f.left), heightOf(*f.right), f.on->height});
    }
    return 1;
}

uint32_t Parser::heightOf(const Query& q) {
    uint32_t h = 0;
    auto e = [&h](const ExprPtr& x) {
        if (x) h = std::max(h, x->height);
    };
    for (const auto& t : q.terms) {
        if (t.nested) h = std::max(h, t.nested->height);
        if (!t.select) continue;
        for (const auto& it : t.select->items) e(it.expr);
        for (const auto& f : t.select->from) h = std::max(h, heightOf(*f));
        e(t.select->where);
        for (const auto& g : t.select->groupBy) e(g);
        e(t.select->having);
    }
    for (const auto& o : q.orderBy) e(o.expr);
    if (q.transform) {
        e(q.transform->aggregate);
        e(q.transform->pivot);
        for (const auto& x : q.transform->inList) e(x);
    }
    return h + 1;
}

}  // namespace tab::accsql::detail
