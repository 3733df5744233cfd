// The FROM clause: tables, saved queries and derived tables become sources
// of the query level, joins nest as SQLite writes them.
#include "translator_internal.h"

namespace tab::accsql::translation {
namespace {

std::string quoteId(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

void Translator::addSource(Level& L, Source s, Span span) {
    for (const Source& o : L.sources)
        if (sameName(o.exposed, s.exposed))
            fail(span, "The name '" + s.exposed +
                           "' is used for two sources of the FROM clause; give one of them an "
                           "alias");
    L.sources.push_back(std::move(s));
}

// A query used as a source exposes its result columns c1, c2, ... under
// their Access names.
Source Translator::derivedSource(const QOut& q, std::string exposed) {
    Source s;
    s.exposed = std::move(exposed);
    s.alias = newAlias();
    for (size_t i = 0; i < q.cols.size(); ++i)
        s.cols.push_back(
            {q.cols[i].name, q.cols[i].type, q.cols[i].size, "\"c" + std::to_string(i + 1) + "\""});
    return s;
}

std::string Translator::fromItem(const FromItem& f, Level& L) {
    switch (f.kind) {
        case FromItem::Kind::Table:
            return tableSource(f, L);
        case FromItem::Kind::Derived:
            return derivedTable(f, L);
        case FromItem::Kind::Join:
            return join(f, L);
    }
    throw Failure{Error(Errc::Internal, "unknown FROM item")};
}

// A name in FROM: a table's virtual table, or a saved query translated in place.
std::string Translator::tableSource(const FromItem& f, Level& L) {
    auto entry = f.database.empty() ? m_catalog.find(f.table.text)
                                    : m_catalog.findIn(f.database, f.table.text);
    if (!entry)
        fail(f.table.span, "Cannot find the input table or query '" + f.table.text +
                               "'; make sure it exists and its name is spelled correctly");
    std::string exposed = f.alias ? f.alias->text : entry->name;
    if (entry->kind == CatalogEntry::Kind::Other)
        fail(f.table.span, entry->reason, Errc::Unsupported);
    if (entry->kind == CatalogEntry::Kind::View) {
        QOut q = view(*entry, f.table.span);
        Source s = derivedSource(q, exposed);
        s.object = entry->name;
        std::string sql = "(" + q.sql + ") AS " + s.alias;
        addSource(L, std::move(s), f.span);
        return sql;
    }
    Source s;
    s.exposed = exposed;
    s.alias = newAlias();
    s.rowid = true;
    s.object = entry->name;
    s.database = f.database;
    for (const SourceColumn& c : entry->columns)
        s.cols.push_back({c.name, c.type, c.size, quoteId(c.name), c.uniqueKey});
    std::string sql = quoteId(entry->sqliteName) + " AS " + s.alias;
    addSource(L, std::move(s), f.span);
    return sql;
}

std::string Translator::derivedTable(const FromItem& f, Level& L) {
    QOut q = query(*f.query, nullptr);
    // Access's own name for a derived table written without an alias.
    Source s = derivedSource(q, f.alias ? f.alias->text : "%$##@_Alias");
    std::string sql = "(" + q.sql + ") AS " + s.alias;
    addSource(L, std::move(s), f.span);
    return sql;
}

// Both sides become sources first, so ON sees the columns of either. Jet
// joins two operands at a time: ON may use only their sources, and an inner
// join may not use a source an outer join below it fills with Nulls, since
// the result would depend on which join runs first.
std::string Translator::join(const FromItem& f, Level& L) {
    const size_t begin = L.sources.size();
    std::string left = fromItem(*f.left, L);
    const size_t middle = L.sources.size();
    std::string right = fromItem(*f.right, L);
    const size_t end = L.sources.size();
    L.nullable.resize(end, false);
    const char* saved = L.clause;
    L.clause = "a JOIN's ON";
    L.aggAllowed = false;
    const size_t mark = L.referenced.size();
    Tx on = expr(*f.on, L);
    L.clause = saved;
    if (on.agg) fail(f.on->span, "Cannot have an aggregate function in a JOIN's ON");
    for (size_t k = mark; k < L.referenced.size(); ++k) {
        const size_t i = L.referenced[k];
        if (i < begin || i >= end) fail(f.on->span, "JOIN expression not supported.");
        if (f.join == JoinType::Inner && L.nullable[i])
            fail(f.span,
                 "The SQL statement could not be executed because it contains ambiguous outer "
                 "joins. To force one of the joins to be performed first, create a separate "
                 "query that performs the first join and then include that query in your SQL "
                 "statement.");
    }
    if (f.join != JoinType::Inner) {
        const size_t from = f.join == JoinType::Left ? middle : begin;
        const size_t to = f.join == JoinType::Left ? end : middle;
        for (size_t i = from; i < to; ++i) L.nullable[i] = true;
    }
    const char* kind = f.join == JoinType::Inner  ? " INNER JOIN "
                       : f.join == JoinType::Left ? " LEFT JOIN "
                                                  : " RIGHT JOIN ";
    return "(" + left + kind + right + " ON " + cond(on) + ")";
}

}  // namespace tab::accsql::translation
