// Access SQL syntax tree -> one SQLite SELECT. Names are resolved level by
// level (select-list aliases, then the level's sources, then enclosing
// levels); whatever stays unresolved is a parameter. Every expression is
// emitted together with its static Access type, which decides conversions,
// collations and the text form of values.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <stdexcept>

#include "function_table.h"
#include "tabulary/accsql/diagnostics.h"
#include "tabulary/accsql/parser.h"
#include "tabulary/accsql/translate.h"
#include "tabulary/base/calendar.h"
#include "types_internal.h"

namespace tab::accsql {
namespace {

struct Failure {
    Error error;
};

constexpr size_t kMaxSqlBytes = 8u << 20;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Access compares names without regard to case; ASCII folding covers the
// names SQLite and Jet agree on, and non-ASCII names are compared as written.
bool sameName(std::string_view a, std::string_view b) {
    return lower(a) == lower(b);
}

std::string quoteId(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string quoteText(std::string_view text) {
    if (text.find('\0') != std::string_view::npos) {
        // SQLite's tokenizer stops at NUL; spell such text in hex.
        static const char* hex = "0123456789ABCDEF";
        std::string out = "CAST(X'";
        for (unsigned char c : text) {
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        return out + "' AS TEXT)";
    }
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}

std::string realLiteral(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    std::string s = buf;
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
    return s;
}

// A translated expression.
struct Tx {
    std::string sql;
    Type type = Type::Variant;
    bool pred = false;    // sql is an SQLite truth value (1/0/NULL); as a value it is -(sql)
    bool column = false;  // a plain column reference (carries the column's collation)
    bool agg = false;     // contains an aggregate of the current level
    bool constant = false;
    uint32_t size = 0;
    std::string columnName;  // column: the stored name
    std::string sourceName;  // column: the exposed name of its source
    const void* level = nullptr;
    bool local = false;  // uses a column of its own query level
    bool outer = false;  // uses a column of an enclosing level
    char chain = 0;      // sql is "(a op b op ...)", a left-to-right chain of op
};

std::string val(const Tx& t) {
    return t.pred ? "(-" + t.sql + ")" : t.sql;
}
std::string cond(const Tx& t) {
    return t.sql;
}

struct Col {
    std::string name;
    Type type = Type::Variant;
    uint32_t size = 0;
    std::string sql;  // name within the source
};

struct Source {
    std::string exposed;  // alias, or the table's stored name
    std::string alias;    // private SQL alias
    std::vector<Col> cols;
    bool rowid = false;
};

struct Slot {
    const SelectItem* item = nullptr;
    int state = 0;  // 0 untouched, 1 being translated, 2 done
    Tx tx;
};

struct Level {
    Level* outer = nullptr;
    std::vector<Source> sources;
    std::vector<Slot> slots;  // aliased select items, for alias references
    int currentSlot = -1;
    bool aggAllowed = false;
    int aggDepth = 0;
    const char* clause = "";
    std::string pivotFilter;  // TRANSFORM cells: FILTER for every aggregate
};

struct QOut {
    std::string sql;
    std::vector<ResultColumn> cols;
    bool simple = true;  // usable as one part of a compound SELECT
};

bool isAggregateName(std::string_view name) {
    const FunctionSpec* f = findFunction(name);
    return f && (f->flags & kAggregate);
}

// Aggregates of this level (not inside subqueries).
bool containsAggregate(const Expr& e) {
    if (e.kind == ExprKind::Call && !e.name.parts.empty() && isAggregateName(e.name.parts[0].text))
        return true;
    for (const auto& op : e.operands)
        if (op && containsAggregate(*op)) return true;
    return false;
}

class Translator {
public:
    Translator(std::string_view text, const Catalog& catalog, const TranslateOptions& options)
        : m_text(text), m_catalog(catalog), m_options(options) {}

    Translation statement(const Statement& s) {
        for (const ParamDecl& p : s.parameters) addParameter(p.name.text, p.name.text);
        QOut out;
        switch (s.kind) {
            case StatementKind::Select:
                out = query(*s.query, nullptr);
                break;
            case StatementKind::Execute: {
                const auto& ex = std::get<ExecuteStmt>(s.body);
                auto entry = m_catalog.find(ex.procedure.text);
                if (!entry)
                    fail(ex.procedure.span,
                         "Cannot find the saved query '" + ex.procedure.text + "'");
                if (entry->kind != CatalogEntry::Kind::View)
                    throw Failure{
                        Error(Errc::Unsupported, entry->reason.empty()
                                                     ? "'" + entry->name + "' is not a select query"
                                                     : entry->reason + ".")};
                out = view(*entry, ex.procedure.span);
                break;
            }
            default:
                throw Failure{writeNotSupported(s.kind)};
        }
        if (s.paramMarkers > 0 || !m_params.empty()) {
            std::string msg = "No value given for one or more required parameters";
            if (!m_params.empty()) {
                std::vector<size_t> order(m_params.size());
                for (size_t i = 0; i < order.size(); ++i) order[i] = i;
                std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
                    return m_paramOffsets[a] < m_paramOffsets[b];
                });
                std::vector<std::string> sorted;
                for (size_t i : order) sorted.push_back(m_params[i]);
                m_params = std::move(sorted);
                msg += ": ";
                for (size_t i = 0; i < m_params.size(); ++i) {
                    if (i) msg += ", ";
                    msg += m_params[i];
                }
            }
            if (s.paramMarkers > 0)
                msg += (m_params.empty() ? " (" : " (and ") + std::to_string(s.paramMarkers) +
                       " '?' marker" + (s.paramMarkers > 1 ? "s" : "") + ")";
            throw Failure{Error(Errc::InvalidArgument, msg + ".")};
        }
        return Translation{std::move(out.sql), std::move(out.cols)};
    }

private:
    // ---- errors -------------------------------------------------------
    [[noreturn]] void fail(Span span, const std::string& message,
                           Errc code = Errc::InvalidArgument) const {
        std::string where;
        if (!m_viewStack.empty()) {
            where = " (in the saved query '" + m_viewStack.back() + "')";
        } else if (span.offset <= m_text.size()) {
            LineColumn lc = lineColumn(m_text, span.offset);
            where = " at line " + std::to_string(lc.line) + ", column " + std::to_string(lc.column);
        }
        throw Failure{Error(code, message + where + ".")};
    }

    std::string source(Span span) const {
        if (span.offset > m_text.size()) return "";
        std::string s(m_text.substr(span.offset, span.length));
        if (s.size() > 60) s = s.substr(0, 57) + "...";
        return s;
    }

    // Parameters are listed in the order they are written; those of saved
    // queries come after the statement's own.
    // `key` identifies the parameter (the name without brackets), `shown` is
    // how the message writes it.
    void addParameter(const std::string& key, const std::string& shown,
                      uint32_t offset = UINT32_MAX) {
        if (!m_viewStack.empty()) offset = UINT32_MAX;
        for (size_t i = 0; i < m_params.size(); ++i)
            if (sameName(m_paramKeys[i], key)) {
                m_paramOffsets[i] = std::min(m_paramOffsets[i], offset);
                return;
            }
        m_params.push_back(shown);
        m_paramKeys.push_back(key);
        m_paramOffsets.push_back(offset);
    }

    std::string newAlias() { return "s" + std::to_string(++m_aliasCounter); }

    // ---- queries ------------------------------------------------------
    QOut query(const Query& q, Level* outer) {
        if (q.transform) {
            const SelectCore& c = *q.terms[0].select;
            if (c.groupBy.empty()) fail(c.span, "A crosstab query needs a GROUP BY clause");
            if (c.having) fail(c.having->span, "A crosstab query cannot have a HAVING clause");
            return core(c, outer, &q.orderBy, &*q.transform);
        }
        if (q.terms.size() == 1) return term(q.terms[0], outer, &q.orderBy);
        std::vector<QOut> parts;
        for (const QueryTerm& t : q.terms) {
            if (t.kind == QueryTerm::Kind::Select && t.select->from.empty())
                fail(t.span, "A union query must read from at least one table or query");
            parts.push_back(term(t, outer, nullptr));
        }
        QOut out;
        out.cols = parts[0].cols;
        std::string sql;
        for (size_t i = 0; i < parts.size(); ++i) {
            if (parts[i].cols.size() != out.cols.size())
                fail(q.terms[i].span,
                     "The number of columns in the parts of the union query do not match");
            if (i) {
                sql += q.unionAll[i - 1] ? " UNION ALL " : " UNION ";
                for (size_t c = 0; c < out.cols.size(); ++c)
                    out.cols[c].type = commonType(out.cols[c].type, parts[i].cols[c].type);
            }
            sql += parts[i].simple ? parts[i].sql : "SELECT * FROM (" + parts[i].sql + ")";
        }
        if (!q.orderBy.empty()) {
            std::string order;
            for (const OrderItem& o : q.orderBy) {
                size_t k = unionOrderColumn(o, out.cols);
                if (!order.empty()) order += ", ";
                order += "\"c" + std::to_string(k + 1) + "\"";
                if (isText(out.cols[k].type)) order += " COLLATE ACC_TEXT";
                if (o.descending) order += " DESC";
            }
            sql = "SELECT * FROM (" + sql + ") ORDER BY " + order;
            out.simple = false;
        }
        out.sql = sql;
        return out;
    }

    size_t unionOrderColumn(const OrderItem& o, const std::vector<ResultColumn>& cols) {
        const Expr& e = *o.expr;
        if (e.kind == ExprKind::Number && e.number.intValue) {
            int64_t k = *e.number.intValue;
            if (k < 1 || k > static_cast<int64_t>(cols.size()))
                fail(e.span, "The ORDER BY position " + e.number.text + " is not a column");
            return static_cast<size_t>(k - 1);
        }
        if (e.kind == ExprKind::Name) {
            const std::string& last = e.name.parts.back().text;
            for (size_t i = 0; i < cols.size(); ++i) {
                const std::string& n = cols[i].name;
                auto dot = n.rfind('.');
                if (sameName(n, last) ||
                    (dot != std::string::npos && sameName(n.substr(dot + 1), last)))
                    return i;
            }
        }
        fail(e.span, "The ORDER BY expression '" + source(e.span) +
                         "' includes fields that are not selected by the query; only fields of "
                         "the first query of a union can be used");
    }

    QOut term(const QueryTerm& t, Level* outer, const std::vector<OrderItem>* order) {
        switch (t.kind) {
            case QueryTerm::Kind::Select:
                return core(*t.select, outer, order);
            case QueryTerm::Kind::Nested: {
                QOut inner = query(*t.nested, outer);
                if (!inner.simple) inner.sql = "SELECT * FROM (" + inner.sql + ")";
                inner.simple = true;
                return inner;
            }
            case QueryTerm::Kind::Table: {
                SelectCore c;
                auto from = std::make_unique<FromItem>();
                from->kind = FromItem::Kind::Table;
                from->table = t.table;
                from->span = t.span;
                c.from.push_back(std::move(from));
                SelectItem star;
                star.kind = SelectItem::Kind::Star;
                star.span = t.span;
                c.items.push_back(std::move(star));
                c.span = t.span;
                return core(c, outer, order);
            }
        }
        throw Failure{Error(Errc::Internal, "unknown query term")};
    }

    QOut view(const CatalogEntry& entry, Span span) {
        for (const auto& v : m_viewStack)
            if (sameName(v, entry.name))
                fail(span, "Circular reference caused by the saved query '" + entry.name + "'");
        if (m_viewStack.size() >= m_options.maxViewDepth)
            fail(span, "Saved queries are nested too deeply");
        ParseResult parsed = parse(entry.sql);
        if (!parsed.ok())
            throw Failure{Error(Errc::InvalidArgument,
                                "The saved query '" + entry.name +
                                    "' cannot be read: " + parsed.diagnostics.front().render())};
        if (!returnsRows(*parsed.statement) || !parsed.statement->query)
            throw Failure{Error(Errc::Unsupported,
                                "The saved query '" + entry.name + "' is not a select query")};
        std::string_view savedText = m_text;
        m_viewStack.push_back(entry.name);
        m_text = entry.sql;
        for (const ParamDecl& p : parsed.statement->parameters)
            addParameter(p.name.text, p.name.text);
        QOut out = query(*parsed.statement->query, nullptr);
        m_text = savedText;
        m_viewStack.pop_back();
        return out;
    }

    // ---- FROM ---------------------------------------------------------
    void addSource(Level& L, Source s, Span span) {
        for (const Source& o : L.sources)
            if (sameName(o.exposed, s.exposed))
                fail(span, "The name '" + s.exposed +
                               "' is used for two sources of the FROM clause; give one of them an "
                               "alias");
        L.sources.push_back(std::move(s));
    }

    Source derivedSource(const QOut& q, std::string exposed) {
        Source s;
        s.exposed = std::move(exposed);
        s.alias = newAlias();
        for (size_t i = 0; i < q.cols.size(); ++i)
            s.cols.push_back({q.cols[i].name, q.cols[i].type, q.cols[i].size,
                              "\"c" + std::to_string(i + 1) + "\""});
        return s;
    }

    std::string fromItem(const FromItem& f, Level& L) {
        switch (f.kind) {
            case FromItem::Kind::Table: {
                auto entry = m_catalog.find(f.table.text);
                if (!entry)
                    fail(f.table.span, "Cannot find the input table or query '" + f.table.text +
                                           "'; make sure it exists and its name is spelled "
                                           "correctly");
                std::string exposed = f.alias ? f.alias->text : entry->name;
                if (entry->kind == CatalogEntry::Kind::Other)
                    fail(f.table.span, entry->reason, Errc::Unsupported);
                if (entry->kind == CatalogEntry::Kind::View) {
                    QOut q = view(*entry, f.table.span);
                    Source s = derivedSource(q, exposed);
                    std::string sql = "(" + q.sql + ") AS " + s.alias;
                    addSource(L, std::move(s), f.span);
                    return sql;
                }
                Source s;
                s.exposed = exposed;
                s.alias = newAlias();
                s.rowid = true;
                for (const SourceColumn& c : entry->columns)
                    s.cols.push_back({c.name, c.type, c.size, quoteId(c.name)});
                std::string sql = quoteId(entry->sqliteName) + " AS " + s.alias;
                addSource(L, std::move(s), f.span);
                return sql;
            }
            case FromItem::Kind::Derived: {
                QOut q = query(*f.query, nullptr);
                // Access's own name for a derived table written without an alias.
                Source s = derivedSource(q, f.alias ? f.alias->text : "%$##@_Alias");
                std::string sql = "(" + q.sql + ") AS " + s.alias;
                addSource(L, std::move(s), f.span);
                return sql;
            }
            case FromItem::Kind::Join: {
                std::string left = fromItem(*f.left, L);
                std::string right = fromItem(*f.right, L);
                const char* saved = L.clause;
                L.clause = "a JOIN's ON";
                L.aggAllowed = false;
                Tx on = expr(*f.on, L);
                L.clause = saved;
                if (on.agg) fail(f.on->span, "Cannot have an aggregate function in a JOIN's ON");
                const char* kind = f.join == JoinType::Inner  ? " INNER JOIN "
                                   : f.join == JoinType::Left ? " LEFT JOIN "
                                                              : " RIGHT JOIN ";
                return "(" + left + kind + right + " ON " + cond(on) + ")";
            }
        }
        throw Failure{Error(Errc::Internal, "unknown FROM item")};
    }

    // ---- one SELECT ---------------------------------------------------
    struct Item {
        Tx tx;
        std::string name;
        bool qualifyOnClash = false;
    };

    QOut core(const SelectCore& c, Level* outer, const std::vector<OrderItem>* order,
              const Transform* tr = nullptr) {
        Level L;
        L.outer = outer;
        std::vector<std::string> fromSql;
        for (const auto& f : c.from) fromSql.push_back(fromItem(*f, L));

        for (const SelectItem& it : c.items)
            if (it.kind == SelectItem::Kind::Expr && it.alias) L.slots.push_back({&it, 0, {}});

        bool grouped = !c.groupBy.empty() || (c.having != nullptr);
        for (const SelectItem& it : c.items)
            if (it.kind == SelectItem::Kind::Expr && containsAggregate(*it.expr)) grouped = true;
        if (order)
            for (const OrderItem& o : *order)
                if (containsAggregate(*o.expr)) grouped = true;

        std::string where;
        if (c.where) {
            L.clause = "the WHERE clause";
            L.aggAllowed = false;
            Tx w = expr(*c.where, L);
            if (w.agg) fail(c.where->span, "Cannot have an aggregate function in the WHERE clause");
            where = cond(w);
        }

        std::vector<Tx> groups;
        for (const auto& g : c.groupBy) {
            L.clause = "the GROUP BY clause";
            L.aggAllowed = false;
            Tx t = expr(*g, L);
            if (t.agg) fail(g->span, "Cannot have an aggregate function in the GROUP BY clause");
            if (t.type == Type::LongBinary) fail(g->span, "Cannot group on an OLE Object field");
            groups.push_back(std::move(t));
        }

        // The select list.
        L.aggAllowed = true;
        L.clause = "the SELECT list";
        std::vector<Item> items;
        int exprCounter = 1000;
        size_t slot = 0;
        for (const SelectItem& it : c.items) {
            if (it.kind != SelectItem::Kind::Expr) {
                if (c.from.empty())
                    fail(it.span,
                         "A query that selects '*' must read from at least one table or "
                         "query");
                bool any = false;
                for (const Source& s : L.sources) {
                    if (it.kind == SelectItem::Kind::TableStar &&
                        !sameName(s.exposed, it.table.parts.back().text))
                        continue;
                    any = true;
                    for (const Col& col : s.cols) {
                        Item item;
                        item.tx = columnTx(s, col, L);
                        item.name = col.name;
                        item.qualifyOnClash = true;
                        if (grouped) checkGrouped(item.tx, groups, it.span, col.name);
                        items.push_back(std::move(item));
                    }
                }
                if (!any)
                    fail(it.span, "Cannot find the source '" + it.table.parts.back().text +
                                      "' of '" + source(it.span) + "' in the FROM clause");
                continue;
            }
            Item item;
            if (it.alias) {
                item.tx = slotTx(L, static_cast<int>(slot++), it.span);
                item.name = it.alias->text;
            } else {
                item.tx = expr(*it.expr, L);
                if (item.tx.column) {
                    item.name = item.tx.columnName;
                    item.qualifyOnClash = true;
                } else {
                    item.name = "Expr" + std::to_string(exprCounter++);
                }
            }
            if (grouped) checkGroupedExpr(*it.expr, L, groups);
            items.push_back(std::move(item));
        }
        if (tr) pivotCells(*tr, c, L, fromSql, where, items);
        if (items.size() > 255) fail(c.span, "A query can have at most 255 output columns");

        std::string having;
        if (c.having) {
            L.clause = "the HAVING clause";
            L.aggAllowed = true;
            Tx h = expr(*c.having, L);
            checkGroupedExpr(*c.having, L, groups);
            having = cond(h);
        }

        // ORDER BY keys.
        struct Key {
            std::string sql;
            bool desc;
        };
        std::vector<Key> keys;
        if (order) {
            for (const OrderItem& o : *order) {
                L.clause = "the ORDER BY clause";
                L.aggAllowed = grouped;
                Tx t;
                const Expr& e = *o.expr;
                if (e.kind == ExprKind::Number && e.number.intValue) {
                    int64_t k = *e.number.intValue;
                    if (k < 1 || k > static_cast<int64_t>(items.size()))
                        fail(e.span, "The ORDER BY position " + e.number.text + " is not a column");
                    t = items[static_cast<size_t>(k - 1)].tx;
                } else {
                    t = expr(e, L);
                    if (t.agg && !grouped)
                        fail(e.span, "Cannot have an aggregate function in the ORDER BY clause");
                    if (grouped) checkGroupedExpr(e, L, groups);
                }
                if (t.type == Type::LongBinary) fail(e.span, "Cannot sort on an OLE Object field");
                if (c.quantifier == SetQuantifier::Distinct) {
                    bool found = false;
                    for (const Item& i : items) found = found || i.tx.sql == t.sql;
                    if (!found)
                        fail(e.span, "The ORDER BY clause conflicts with DISTINCT: '" +
                                         source(e.span) + "' is not selected");
                }
                keys.push_back({sortSql(t), o.descending});
            }
        }

        // Output names: a column name that two sources give is qualified.
        QOut out;
        for (size_t i = 0; i < items.size(); ++i) {
            std::string name = items[i].name;
            if (items[i].qualifyOnClash) {
                for (size_t j = 0; j < items.size(); ++j)
                    if (j != i && items[j].qualifyOnClash && sameName(items[j].name, name) &&
                        !sameName(items[j].tx.sourceName, items[i].tx.sourceName)) {
                        name = items[i].tx.sourceName + "." + name;
                        break;
                    }
            }
            out.cols.push_back({name,
                                items[i].tx.type == Type::Null ? Type::Variant : items[i].tx.type,
                                items[i].tx.size});
        }

        std::string sql = "SELECT ";
        if (c.quantifier == SetQuantifier::Distinct) sql += "DISTINCT ";
        for (size_t i = 0; i < items.size(); ++i) {
            if (i) sql += ", ";
            sql += itemSql(items[i].tx) + " AS \"c" + std::to_string(i + 1) + "\"";
        }
        const bool topWithOrder = c.top && !keys.empty();
        if (topWithOrder)
            for (size_t k = 0; k < keys.size(); ++k)
                sql += ", " + keys[k].sql + " AS \"k" + std::to_string(k + 1) + "\"";
        if (!fromSql.empty()) {
            sql += " FROM ";
            for (size_t i = 0; i < fromSql.size(); ++i) sql += (i ? ", " : "") + fromSql[i];
        }
        if (!where.empty()) sql += " WHERE " + where;
        std::string groupSql;
        for (const Tx& g : groups) groupSql += (groupSql.empty() ? "" : ", ") + sortSql(g);
        if (groupSql.empty() && c.quantifier == SetQuantifier::DistinctRow && !grouped)
            groupSql = distinctRowGroups(L, items);
        if (!groupSql.empty()) sql += " GROUP BY " + groupSql;
        // HAVING alone makes the whole table one group; SQLite needs an aggregate
        // in the select list for that, so a list without one groups on a constant.
        if (!having.empty() && groupSql.empty()) {
            bool aggregated = false;
            for (const Item& it : items) aggregated = aggregated || it.tx.agg;
            if (!aggregated) sql += " GROUP BY NULL";
        }
        if (!having.empty()) sql += " HAVING " + having;

        if (tr && keys.empty())
            for (const Tx& g : groups) keys.push_back({sortSql(g), false});
        if (!c.top) {
            if (!keys.empty()) {
                sql += " ORDER BY ";
                for (size_t k = 0; k < keys.size(); ++k)
                    sql += (k ? ", " : "") + keys[k].sql + (keys[k].desc ? " DESC" : "");
                out.simple = false;
            }
            out.sql = sql;
            return out;
        }

        // TOP n [PERCENT]: rows tied with the last one on every ORDER BY key come too.
        const Top& top = *c.top;
        if (!top.count.intValue || *top.count.intValue <= 0 ||
            (top.percent && *top.count.intValue > 100))
            fail(top.span, "The TOP clause's argument '" + top.count.text + "' is invalid");
        const std::string n = std::to_string(*top.count.intValue);
        std::string cols;
        for (size_t i = 0; i < items.size(); ++i)
            cols += (i ? ", " : "") + std::string("\"c") + std::to_string(i + 1) + "\"";
        out.simple = false;
        if (!topWithOrder) {
            if (top.percent)
                out.sql = "SELECT " + cols +
                          " FROM (SELECT *, ROW_NUMBER() OVER () AS acc_row, COUNT(*) OVER () AS "
                          "acc_count FROM (" +
                          sql + ")) WHERE acc_row <= (acc_count * " + n + " + 99) / 100";
            else
                out.sql = sql + " LIMIT " + n;
            return out;
        }
        std::string over, outerOrder;
        for (size_t k = 0; k < keys.size(); ++k) {
            std::string key = "\"k" + std::to_string(k + 1) + "\"";
            if (keys[k].sql.find("COLLATE ACC_TEXT") != std::string::npos)
                key += " COLLATE ACC_TEXT";
            if (keys[k].desc) key += " DESC";
            over += (k ? ", " : "") + key;
        }
        std::string ranked = "SELECT *, RANK() OVER (ORDER BY " + over + ") AS acc_rank";
        if (top.percent) ranked += ", COUNT(*) OVER () AS acc_count";
        ranked += " FROM (" + sql + ")";
        out.sql = "SELECT " + cols + " FROM (" + ranked + ") WHERE acc_rank <= " +
                  (top.percent ? "(acc_count * " + n + " + 99) / 100" : n) + " ORDER BY " + over;
        return out;
    }

    // Keys that make text sort and group as Access does.
    std::string sortSql(const Tx& t) {
        // A bare integer in GROUP BY or ORDER BY would be a column position to SQLite.
        std::string s = t.constant ? "coalesce(" + val(t) + ", NULL)" : val(t);
        if (isText(t.type) && !t.column) s += " COLLATE ACC_TEXT";
        if (t.type == Type::Decimal) s = "CAST(" + s + " AS REAL)";
        return s;
    }

    std::string itemSql(const Tx& t) {
        std::string s = val(t);
        if (isText(t.type) && !t.column) s += " COLLATE ACC_TEXT";
        return s;
    }

    // DISTINCTROW: one result row per combination of the source rows that
    // contribute columns, which matters only when some source contributes none.
    std::string distinctRowGroups(const Level& L, const std::vector<Item>& items) {
        if (L.sources.size() < 2) return "";
        std::vector<const Source*> used;
        for (const Source& s : L.sources) {
            bool contributes = false;
            for (const Item& i : items)
                contributes = contributes || (i.tx.sql.find(s.alias + ".") != std::string::npos);
            if (contributes) used.push_back(&s);
        }
        if (used.size() == L.sources.size() || used.empty()) return "";
        std::string g;
        for (const Source* s : used) {
            if (s->rowid) {
                g += (g.empty() ? "" : ", ") + s->alias + ".rowid";
            } else {
                for (const Col& c : s->cols) g += (g.empty() ? "" : ", ") + s->alias + "." + c.sql;
            }
        }
        return g;
    }

    // Grouped queries: every column outside an aggregate must be grouped on.
    void checkGrouped(const Tx& t, const std::vector<Tx>& groups, Span span,
                      const std::string& text) {
        if (t.agg || t.constant) return;
        for (const Tx& g : groups)
            if (g.sql == t.sql) return;
        fail(span, "The query does not include the specified expression '" + text +
                       "' as part of an aggregate function or grouping");
    }

    void checkGroupedExpr(const Expr& e, Level& L, const std::vector<Tx>& groups) {
        if (e.kind == ExprKind::Call && !e.name.parts.empty() &&
            isAggregateName(e.name.parts[0].text))
            return;
        if (e.kind == ExprKind::Subquery || e.kind == ExprKind::Exists) return;
        Tx t = expr(e, L);
        if (t.constant || !t.agg) {
            for (const Tx& g : groups)
                if (g.sql == t.sql) return;
        }
        if (e.kind == ExprKind::Name) {
            if (t.column && t.level == &L) checkGrouped(t, groups, e.span, source(e.span));
            if (!t.column && !t.constant && t.level == &L && !t.agg) {
                // An alias: its expression must be covered.
                int s = findSlot(L, e);
                if (s >= 0)
                    checkGroupedExpr(*L.slots[static_cast<size_t>(s)].item->expr, L, groups);
            }
            return;
        }
        for (const auto& op : e.operands)
            if (op) checkGroupedExpr(*op, L, groups);
    }

    // TRANSFORM ... PIVOT: one column per pivot value, each the aggregate over
    // the group's rows with that value; a heading without rows is Null.
    void pivotCells(const Transform& tr, const SelectCore& c, Level& L,
                    const std::vector<std::string>& fromSql, const std::string& where,
                    std::vector<Item>& items) {
        for (const SelectItem& it : c.items)
            if (it.kind != SelectItem::Kind::Expr)
                fail(it.span, "A crosstab query cannot select '*'");
        std::string from;
        for (size_t i = 0; i < fromSql.size(); ++i) from += (i ? ", " : "") + fromSql[i];
        L.aggAllowed = false;
        L.clause = "the PIVOT clause";
        Tx pivot = expr(*tr.pivot, L);
        if (pivot.agg) fail(tr.pivot->span, "Cannot have an aggregate function in PIVOT");

        std::vector<PivotValue> values;
        if (tr.hasInList) {
            for (const auto& v : tr.inList) {
                Tx t = expr(*v, L);
                if (!t.constant) fail(v->span, "A fixed column heading must be a constant");
                PivotValue pv;
                pv.null = v->kind == ExprKind::Null;
                pv.literal = pv.null ? "NULL" : comparable(pivot, t).second;
                pv.heading = v->kind == ExprKind::String ? v->text
                             : pv.null                   ? "<>"
                                                         : source(v->span);
                for (const PivotValue& o : values)
                    if (sameName(o.heading, pv.heading))
                        fail(v->span, "The fixed column heading '" + pv.heading +
                                          "' is given more than once");
                values.push_back(std::move(pv));
            }
        } else {
            if (!m_options.pivotProbe)
                throw Failure{Error(Errc::Internal, "crosstab values cannot be looked up")};
            const std::string p = sortSql(pivot), v = val(pivot);
            std::string probe =
                "SELECT quote(min(" + v + ")), acc_text(min(" + v + "), '" + typeTag(pivot.type) +
                "'), min(" + v + ") IS NULL" + (from.empty() ? "" : " FROM " + from) +
                (where.empty() ? "" : " WHERE " + where) + " GROUP BY " + p + " ORDER BY " + p;
            auto found = m_options.pivotProbe(probe);
            if (!found.ok()) throw Failure{found.error()};
            values = std::move(*found);
            for (PivotValue& pv : values)
                if (pv.null) pv.heading = "<>";
        }
        if (items.size() + values.size() > 255)
            fail(tr.pivot->span, "The crosstab query has too many column headings");

        for (const PivotValue& v : values) {
            std::string match = v.null ? "(" + val(pivot) + " IS NULL)"
                                       : "(" + comparePivot(pivot, v.literal) + ")";
            L.pivotFilter = match;
            L.aggAllowed = true;
            L.clause = "TRANSFORM";
            Tx cell = expr(*tr.aggregate, L);
            if (!cell.agg) fail(tr.aggregate->span, "TRANSFORM needs an aggregate function");
            Item item;
            item.tx = cell;
            item.tx.sql = "(CASE WHEN COUNT(*) FILTER (WHERE " + match + ") = 0 THEN NULL ELSE " +
                          val(cell) + " END)";
            item.tx.pred = false;
            item.name = v.heading;
            items.push_back(std::move(item));
        }
        L.pivotFilter.clear();
    }

    std::string comparePivot(const Tx& pivot, const std::string& literal) {
        std::string l = val(pivot);
        if (isText(pivot.type) && !pivot.column) l += " COLLATE ACC_TEXT";
        return l + " = " + literal;
    }

    // ---- names --------------------------------------------------------
    Tx columnTx(const Source& s, const Col& c, const Level& L, bool outer = false) {
        Tx t;
        t.local = !outer;
        t.outer = outer;
        t.sql = s.alias + "." + c.sql;
        t.type = c.type;
        t.size = c.size;
        t.column = true;
        t.columnName = c.name;
        t.sourceName = s.exposed;
        t.level = &L;
        return t;
    }

    int findSlot(Level& L, const Expr& e) {
        if (e.kind != ExprKind::Name || e.name.parts.size() != 1) return -1;
        const std::string& n = e.name.parts[0].text;
        for (size_t i = 0; i < L.slots.size(); ++i) {
            const Slot& s = L.slots[i];
            if (!sameName(s.item->alias->text, n)) continue;
            // "Price AS Price" names the column, not itself.
            if (static_cast<int>(i) == L.currentSlot) {
                const Expr& own = *s.item->expr;
                if (own.kind == ExprKind::Name && own.name.parts.size() == 1 &&
                    sameName(own.name.parts[0].text, n))
                    return -1;
            }
            return static_cast<int>(i);
        }
        return -1;
    }

    Tx slotTx(Level& L, int index, Span useSpan) {
        Slot& s = L.slots[static_cast<size_t>(index)];
        if (s.state == 2) return s.tx;
        if (s.state == 1)
            fail(useSpan, "Circular reference caused by alias '" + s.item->alias->text +
                              "' in the query's SELECT list");
        s.state = 1;
        int saved = L.currentSlot;
        bool savedAgg = L.aggAllowed;
        L.currentSlot = index;
        L.aggAllowed = true;
        Tx t = expr(*s.item->expr, L);
        L.currentSlot = saved;
        L.aggAllowed = savedAgg;
        s.tx = t;
        s.state = 2;
        return t;
    }

    const Col* findColumn(const Source& s, std::string_view name) {
        for (const Col& c : s.cols)
            if (sameName(c.name, name)) return &c;
        return nullptr;
    }

    Tx name(const Expr& e, Level& L) {
        const auto& parts = e.name.parts;
        if (parts.size() == 1) {
            const std::string& n = parts[0].text;
            int s = findSlot(L, e);
            if (s >= 0) {
                Tx t = slotTx(L, s, e.span);
                if (t.agg && !L.aggAllowed)
                    fail(e.span, "Cannot have an aggregate function in " + std::string(L.clause) +
                                     " ('" + n + "' stands for an aggregate)");
                t.column = false;
                t.level = &L;
                return t;
            }
            for (Level* lv = &L; lv; lv = lv->outer) {
                const Source* found = nullptr;
                const Col* col = nullptr;
                for (const Source& src : lv->sources) {
                    if (const Col* c = findColumn(src, n)) {
                        if (found)
                            fail(e.span, "The field '" + n +
                                             "' could refer to more than one table listed in "
                                             "the FROM clause");
                        found = &src;
                        col = c;
                    }
                }
                if (found) return columnTx(*found, *col, *lv, lv != &L);
            }
        } else if (parts.size() == 2) {  // Table.Field or Table!Field
            for (Level* lv = &L; lv; lv = lv->outer)
                for (const Source& src : lv->sources)
                    if (sameName(src.exposed, parts[0].text)) {
                        if (const Col* c = findColumn(src, parts[1].text))
                            return columnTx(src, *c, *lv, lv != &L);
                        goto parameter;
                    }
        }
    parameter:
        std::string key;
        for (size_t i = 0; i < parts.size(); ++i)
            key += (i ? std::string(1, e.name.separators[i - 1]) : "") + parts[i].text;
        addParameter(key, source(e.span).empty() ? key : source(e.span), e.span.offset);
        Tx t;
        t.sql = "NULL";
        t.type = Type::Variant;
        t.constant = true;
        return t;
    }

    // ---- expressions --------------------------------------------------
    Tx lit(std::string sql, Type type) {
        Tx t;
        t.sql = std::move(sql);
        t.type = type;
        t.constant = true;
        return t;
    }

    static void merge(Tx& into, const Tx& from) {
        into.agg = into.agg || from.agg;
        into.constant = into.constant && from.constant;
        into.local = into.local || from.local;
        into.outer = into.outer || from.outer;
    }

    // "(a + b) + c" as "(a + b + c)": SQLite's parser has a small fixed stack,
    // and long chains of OR, AND or + must not nest a parenthesis per term.
    static std::string unchained(const Tx& t, const std::string& form, char op) {
        if (t.chain == op && form == t.sql) return t.sql.substr(1, t.sql.size() - 2);
        return form;
    }

    static Tx chained(Tx t, char op) {
        t.chain = op;
        return t;
    }

    Tx fromOperands(std::string sql, Type type, std::initializer_list<const Tx*> ops,
                    bool pred = false) {
        Tx t;
        t.sql = std::move(sql);
        t.type = type;
        t.pred = pred;
        t.constant = true;
        for (const Tx* o : ops) merge(t, *o);
        return t;
    }

    // A numeric operand: Yes/No as -1/0, exact decimals as REAL, text converted.
    std::string num(const Tx& t) {
        if (t.type == Type::Decimal) return "CAST(" + val(t) + " AS REAL)";
        if (isText(t.type)) return "acc_tonum_strict(" + val(t) + ")";
        return val(t);
    }

    std::string textOf(const Tx& t) {
        if (isText(t.type) || t.type == Type::Null) return val(t);
        return "acc_text(" + val(t) + ", '" + typeTag(t.type) + "')";
    }

    // Aliases paste their expression where they are used, so the text can grow
    // much faster than the statement; refuse before SQLite has to.
    Tx expr(const Expr& e, Level& L) {
        Tx t = exprKind(e, L);
        if (t.sql.size() > kMaxSqlBytes)
            fail(e.span, "The statement is too complex: its expressions expand to more than " +
                             std::to_string(kMaxSqlBytes >> 20) + " MB");
        return t;
    }

    Tx exprKind(const Expr& e, Level& L) {
        switch (e.kind) {
            case ExprKind::Number: {
                const NumberLiteral& n = e.number;
                if (n.integral && n.intValue && *n.intValue >= INT32_MIN &&
                    *n.intValue <= INT32_MAX)
                    return lit(std::to_string(*n.intValue), Type::Long);
                return lit(realLiteral(n.value), Type::Double);
            }
            case ExprKind::String:
                return lit(quoteText(e.text), Type::Text);
            case ExprKind::Date: {
                const DateLiteral& d = e.date;
                double serial = 0;
                if (d.hasDate) serial = static_cast<double>(daysFromCivil(d.year, d.month, d.day));
                double time = (d.hour * 3600 + d.minute * 60 + d.second) / 86400.0;
                serial = serial < 0 ? serial - time : serial + time;
                return lit("(" + realLiteral(serial) + ")", Type::Date);
            }
            case ExprKind::Guid:
                return lit(quoteText(e.text), Type::Guid);
            case ExprKind::Boolean: {
                if (e.softKeyword) {
                    // A column named Yes, No, On or Off wins over the keyword.
                    for (Level* lv = &L; lv; lv = lv->outer)
                        for (const Source& s : lv->sources)
                            if (const Col* c = findColumn(s, e.text))
                                return columnTx(s, *c, *lv, lv != &L);
                }
                return lit(e.boolValue ? "-1" : "0", Type::Boolean);
            }
            case ExprKind::Null:
                return lit("NULL", Type::Null);
            case ExprKind::Name:
                return name(e, L);
            case ExprKind::Param: {
                Tx t = lit("NULL", Type::Variant);
                return t;
            }
            case ExprKind::SysVar:
                return lit("0", Type::Long);
            case ExprKind::Call:
                return call(e, L);
            case ExprKind::Unary:
                return unary(e, L);
            case ExprKind::Binary:
                return binary(e, L);
            case ExprKind::Between: {
                Tx x = expr(*e.operands[0], L), a = expr(*e.operands[1], L),
                   b = expr(*e.operands[2], L);
                auto [xs, as] = comparable(x, a);
                std::string bs = comparable(x, b).second;
                if (a.constant && b.constant && !isText(x.type)) {
                    // Access takes the bounds in either order.
                    std::string lo = "min(" + as + ", " + bs + ")";
                    bs = "max(" + as + ", " + bs + ")";
                    as = lo;
                }
                return fromOperands(
                    "(" + xs + (e.negated ? " NOT" : "") + " BETWEEN " + as + " AND " + bs + ")",
                    Type::Boolean, {&x, &a, &b}, true);
            }
            case ExprKind::InList: {
                Tx x = expr(*e.operands[0], L);
                std::string list;
                Tx t = fromOperands("", Type::Boolean, {&x}, true);
                std::string xs;
                for (size_t i = 1; i < e.operands.size(); ++i) {
                    Tx v = expr(*e.operands[i], L);
                    auto [l, r] = comparable(x, v);
                    xs = l;
                    list += (i > 1 ? ", " : "") + r;
                    merge(t, v);
                }
                t.sql = "(" + xs + (e.negated ? " NOT IN (" : " IN (") + list + "))";
                return t;
            }
            case ExprKind::InQuery: {
                Tx x = expr(*e.operands[0], L);
                QOut q = subquery(*e.query, L, e.span);
                std::string xs = val(x);
                if (isText(x.type) && !x.column) xs += " COLLATE ACC_TEXT";
                Tx t = fromOperands("(" + xs + (e.negated ? " NOT IN (" : " IN (") + q.sql + "))",
                                    Type::Boolean, {&x}, true);
                t.constant = false;
                return t;
            }
            case ExprKind::IsNull: {
                Tx x = expr(*e.operands[0], L);
                return fromOperands("(" + val(x) + (e.negated ? " IS NOT NULL)" : " IS NULL)"),
                                    Type::Boolean, {&x}, true);
            }
            case ExprKind::Like: {
                Tx x = expr(*e.operands[0], L), p = expr(*e.operands[1], L);
                std::string s = "acc_like(" + textOf(x) + ", " + textOf(p) + ")";
                if (e.negated) s = "(~" + s + ")";
                return fromOperands(s, Type::Boolean, {&x, &p});
            }
            case ExprKind::Quantified: {
                Tx x = expr(*e.operands[0], L);
                QOut q = subquery(*e.query, L, e.span);
                std::string op = comparisonOp(e.binaryOp);
                std::string xs = val(x);
                if (isText(x.type) && !x.column) xs += " COLLATE ACC_TEXT";
                std::string cmp = xs + " " + op + " acc_q.\"c1\"";
                std::string s;
                if (e.quantifier == Quantifier::All)
                    s = "(NOT EXISTS (SELECT 1 FROM (" + q.sql + ") AS acc_q WHERE (" + cmp +
                        ") IS NOT 1))";
                else
                    s = "(EXISTS (SELECT 1 FROM (" + q.sql + ") AS acc_q WHERE " + cmp + "))";
                Tx t = fromOperands(s, Type::Boolean, {&x}, true);
                t.constant = false;
                return t;
            }
            case ExprKind::Exists: {
                QOut q = query(*e.query, &L);
                Tx t = lit("(EXISTS (" + q.sql + "))", Type::Boolean);
                t.pred = true;
                t.constant = false;
                return t;
            }
            case ExprKind::Subquery: {
                QOut q = subquery(*e.query, L, e.span);
                Tx t;
                t.sql = "(SELECT acc_scalar(\"c1\") FROM (" + q.sql + "))";
                t.type = q.cols[0].type;
                t.size = q.cols[0].size;
                return t;
            }
        }
        throw Failure{Error(Errc::Internal, "unknown expression")};
    }

    QOut subquery(const Query& q, Level& L, Span span) {
        if (q.terms.size() > 1) fail(span, "A subquery cannot be a union query");
        QOut out = query(q, &L);
        if (out.cols.size() != 1)
            fail(span,
                 "The subquery can return more than one field; only EXISTS may be used with "
                 "such a subquery");
        return out;
    }

    // Comparisons are spelled alike in Access SQL and SQLite.
    static std::string comparisonOp(BinaryOp op) { return binaryOpText(op); }

    // Both sides of a comparison in a form SQLite compares as Access does.
    std::pair<std::string, std::string> comparable(const Tx& a, const Tx& b) {
        std::string l = val(a), r = val(b);
        const bool at = isText(a.type), bt = isText(b.type);
        const bool an = isNumeric(a.type) || a.type == Type::Date;
        const bool bn = isNumeric(b.type) || b.type == Type::Date;
        if (at && bn) {
            l = (b.type == Type::Date ? "acc_todate_strict(" : "acc_tonum_strict(") + l + ")";
        } else if (bt && an) {
            r = (a.type == Type::Date ? "acc_todate_strict(" : "acc_tonum_strict(") + r + ")";
        } else if (at && bt) {
            if (!a.column && !b.column) l += " COLLATE ACC_TEXT";
        } else if (at && !b.column && b.type != Type::Null) {
            if (!a.column) l += " COLLATE ACC_TEXT";
        } else if (bt && !a.column && a.type != Type::Null) {
            r += " COLLATE ACC_TEXT";
        }
        if (a.type == Type::Decimal && bn) l = "CAST(" + l + " AS REAL)";
        if (b.type == Type::Decimal && an) r = "CAST(" + r + " AS REAL)";
        return {l, r};
    }

    static bool bothBoolean(const Tx& a, const Tx& b) {
        auto boolean = [](const Tx& t) {
            return t.pred || t.type == Type::Boolean || t.type == Type::Null;
        };
        return boolean(a) && boolean(b);
    }

    Tx unary(const Expr& e, Level& L) {
        Tx x = expr(*e.operands[0], L);
        switch (e.unaryOp) {
            case UnaryOp::Plus:
                return x;
            case UnaryOp::Neg: {
                Type t = x.type == Type::Boolean ? Type::Integer
                         : isText(x.type)        ? Type::Double
                                                 : x.type;
                // "(- -1)": a "--" would start an SQL comment.
                return fromOperands("(- " + num(x) + ")", t, {&x});
            }
            case UnaryOp::Not:
                if (x.pred) return fromOperands("(NOT " + x.sql + ")", Type::Boolean, {&x}, true);
                return fromOperands("(~" + num(x) + ")",
                                    x.type == Type::Boolean ? Type::Boolean : Type::Long, {&x});
            case UnaryOp::BNot:
                return fromOperands("(~" + num(x) + ")", Type::Long, {&x});
        }
        return x;
    }

    void flattenConcat(const Expr& e, Level& L, std::vector<Tx>& out) {
        if (e.kind == ExprKind::Binary && e.binaryOp == BinaryOp::Concat) {
            flattenConcat(*e.operands[0], L, out);
            flattenConcat(*e.operands[1], L, out);
            return;
        }
        out.push_back(expr(e, L));
    }

    Tx binary(const Expr& e, Level& L) {
        if (e.binaryOp == BinaryOp::Concat) {
            std::vector<Tx> parts;
            flattenConcat(e, L, parts);
            Tx t = lit("", Type::Text);
            // SQLite takes at most 127 arguments: long chains nest, the inner
            // result passed on as text (Null only when all its parts were).
            std::string s;
            for (size_t i = 0; i < parts.size(); ++i) {
                if (i % 60 == 0) s = i == 0 ? "acc_concat(" : "acc_concat(" + s + "), 'text'";
                s += (i % 60 || i ? ", " : "") + val(parts[i]) + ", '" + typeTag(parts[i].type) +
                     "'";
                merge(t, parts[i]);
            }
            t.sql = s + ")";
            return t;
        }
        Tx a = expr(*e.operands[0], L), b = expr(*e.operands[1], L);
        const Type at = a.type, bt = b.type;
        const bool aNull = at == Type::Null, bNull = bt == Type::Null;
        auto numericResult = [&](Type x, Type y) {
            if (x == Type::Null) return y == Type::Null ? Type::Variant : y;
            if (y == Type::Null) return x;
            if (x == Type::Date || y == Type::Date) return Type::Date;
            if (isText(x) || isText(y)) return Type::Double;
            if (x == Type::Variant || y == Type::Variant) return Type::Variant;
            return widerNumeric(x, y);
        };
        switch (e.binaryOp) {
            case BinaryOp::Eq:
            case BinaryOp::Ne:
            case BinaryOp::Lt:
            case BinaryOp::Gt:
            case BinaryOp::Le:
            case BinaryOp::Ge: {
                if ((at == Type::LongBinary || bt == Type::LongBinary) && !aNull && !bNull)
                    fail(e.span, "OLE Object values cannot be compared");
                auto [l, r] = comparable(a, b);
                return fromOperands("(" + l + " " + comparisonOp(e.binaryOp) + " " + r + ")",
                                    Type::Boolean, {&a, &b}, true);
            }
            case BinaryOp::Add: {
                if ((isText(at) || aNull) && (isText(bt) || bNull) && !(aNull && bNull))
                    return fromOperands("(" + val(a) + " || " + val(b) + ")", Type::Text, {&a, &b});
                if (at == Type::Variant || bt == Type::Variant || isText(at) || isText(bt))
                    return fromOperands("acc_plus(" + val(a) + ", " + val(b) + ")",
                                        isText(at) || isText(bt) ? Type::Double : Type::Variant,
                                        {&a, &b});
                return chained(fromOperands("(" + unchained(a, num(a), '+') + " + " + num(b) + ")",
                                            numericResult(at, bt), {&a, &b}),
                               '+');
            }
            case BinaryOp::Sub: {
                Type t = (at == Type::Date && bt == Type::Date) ? Type::Double
                         : at == Type::Date                     ? Type::Date
                                                                : numericResult(at, bt);
                return chained(fromOperands("(" + unchained(a, num(a), '+') + " - " + num(b) + ")",
                                            t, {&a, &b}),
                               '+');
            }
            case BinaryOp::Mul: {
                Type t = numericResult(at == Type::Date ? Type::Double : at,
                                       bt == Type::Date ? Type::Double : bt);
                return chained(fromOperands("(" + unchained(a, num(a), '*') + " * " + num(b) + ")",
                                            t, {&a, &b}),
                               '*');
            }
            case BinaryOp::Div: {
                auto narrow = [](Type t) {
                    return t == Type::Byte || t == Type::Integer || t == Type::Single ||
                           t == Type::Boolean;
                };
                Type t = (at == Type::Decimal || bt == Type::Decimal) ? Type::Decimal
                         : (narrow(at) && narrow(bt))                 ? Type::Single
                                                                      : Type::Double;
                return fromOperands("acc_div(" + num(a) + ", " + num(b) + ")", t, {&a, &b});
            }
            case BinaryOp::IntDiv:
            case BinaryOp::Mod: {
                auto small = [](Type t) {
                    return t == Type::Byte || t == Type::Integer || t == Type::Boolean;
                };
                Type t = (small(at) && small(bt)) ? Type::Integer : Type::Long;
                const char* f = e.binaryOp == BinaryOp::IntDiv ? "acc_idiv(" : "acc_mod(";
                return fromOperands(f + num(a) + ", " + num(b) + ")", t, {&a, &b});
            }
            case BinaryOp::Pow:
                return fromOperands("acc_pow(" + num(a) + ", " + num(b) + ")", Type::Double,
                                    {&a, &b});
            case BinaryOp::And:
            case BinaryOp::Or: {
                const bool bitwise = !a.pred && !b.pred && isIntegral(at) && isIntegral(bt) &&
                                     (at != Type::Boolean || bt != Type::Boolean);
                if (bitwise)
                    return fromOperands(
                        "(" + val(a) + (e.binaryOp == BinaryOp::And ? " & " : " | ") + val(b) + ")",
                        Type::Long, {&a, &b});
                const char op = e.binaryOp == BinaryOp::And ? 'A' : 'O';
                return chained(fromOperands("(" + unchained(a, cond(a), op) +
                                                (op == 'A' ? " AND " : " OR ") + cond(b) + ")",
                                            Type::Boolean, {&a, &b}, true),
                               op);
            }
            case BinaryOp::Xor:
                return fromOperands("acc_xor(" + num(a) + ", " + num(b) + ")",
                                    bothBoolean(a, b) ? Type::Boolean : Type::Long, {&a, &b});
            case BinaryOp::Eqv:
                return fromOperands("acc_eqv(" + num(a) + ", " + num(b) + ")",
                                    bothBoolean(a, b) ? Type::Boolean : Type::Long, {&a, &b});
            case BinaryOp::Imp:
                return fromOperands("acc_imp(" + num(a) + ", " + num(b) + ")",
                                    bothBoolean(a, b) ? Type::Boolean : Type::Long, {&a, &b});
            case BinaryOp::BAnd:
                return fromOperands("(" + num(a) + " & " + num(b) + ")", Type::Long, {&a, &b});
            case BinaryOp::BOr:
                return fromOperands("(" + num(a) + " | " + num(b) + ")", Type::Long, {&a, &b});
            case BinaryOp::BXor:
                return fromOperands(
                    "((" + num(a) + " | " + num(b) + ") - (" + num(a) + " & " + num(b) + "))",
                    Type::Long, {&a, &b});
            case BinaryOp::Concat:
                break;
        }
        throw Failure{Error(Errc::Internal, "unknown operator")};
    }

    Tx call(const Expr& e, Level& L) {
        const std::string& fname = e.name.parts.empty() ? std::string() : e.name.parts[0].text;
        const FunctionSpec* f = findFunction(fname);
        if (!f) fail(e.span, "Undefined function '" + fname + "' in expression");
        const int argc = static_cast<int>(e.operands.size());
        if (!e.star && (argc < f->minArgs || (f->maxArgs >= 0 && argc > f->maxArgs)))
            fail(e.span, "Wrong number of arguments used with function '" + fname +
                             "' in query expression '" + source(e.span) + "'");
        if (f->flags & kAggregate) return aggregate(e, *f, L);
        if (argc > 100)
            fail(e.span, "Too many arguments for function '" + fname + "' (at most 100)");

        std::vector<Tx> args;
        for (const auto& op : e.operands) args.push_back(expr(*op, L));
        const std::string key = lower(fname);

        Tx t = lit("", Type::Variant);
        for (const Tx& a : args) merge(t, a);
        if (f->flags & kVolatile) t.constant = false;

        if (key == "iif") {
            t.type = commonType(args[1].type, args[2].type);
            t.sql = "(CASE WHEN " + cond(args[0]) + " THEN " + val(args[1]) + " ELSE " +
                    val(args[2]) + " END)";
            return t;
        }
        if (key == "switch") {
            if (argc % 2 != 0)
                fail(e.span,
                     "Switch takes pairs of conditions and values in '" + source(e.span) + "'");
            std::string s = "(CASE";
            Type type = Type::Null;
            for (int i = 0; i < argc; i += 2) {
                s += " WHEN " + cond(args[i]) + " THEN " + val(args[i + 1]);
                type = commonType(type, args[i + 1].type);
            }
            t.sql = s + " END)";
            t.type = type;
            return t;
        }
        if (key == "nz") {
            if (argc == 2) {
                t.type = commonType(args[0].type, args[1].type);
                t.sql = "coalesce(" + val(args[0]) + ", " + val(args[1]) + ")";
            } else {
                // In a query, Nz without a default gives a zero-length string.
                t.type = commonType(args[0].type, Type::Text);
                t.sql = "coalesce(" + val(args[0]) + ", '')";
            }
            return t;
        }

        std::string s = std::string(f->sqlite) + "(";
        for (int i = 0; i < argc; ++i) {
            const Tx& a = args[static_cast<size_t>(i)];
            std::string v = (f->flags & kTextArgs) && !isText(a.type) && a.type != Type::Null &&
                                    a.type != Type::Variant && !isIntegral(a.type) &&
                                    a.type != Type::Double
                                ? textOf(a)
                                : val(a);
            if (a.type == Type::Decimal && !(f->flags & kTextArgs)) v = "CAST(" + v + " AS REAL)";
            s += (i ? ", " : "") + v;
            if (i == 0 && (f->flags & kTagArg0)) s += ", '" + std::string(typeTag(a.type)) + "'";
        }
        if ((f->flags & kTagLast) && argc > 0)
            s += ", '" + std::string(typeTag(args[0].type)) + "'";
        t.sql = s + ")";
        switch (f->rule) {
            case ResultRule::Fixed:
                t.type = f->type;
                break;
            case ResultRule::Arg0:
                t.type = args.empty() ? Type::Variant : args[0].type;
                break;
            case ResultRule::Arg0Number:
                t.type = args[0].type == Type::Boolean ? Type::Integer
                         : isText(args[0].type)        ? Type::Double
                         : args[0].type == Type::Null  ? Type::Variant
                                                       : args[0].type;
                break;
            case ResultRule::Common: {
                Type type = Type::Null;
                for (size_t i = f->commonFrom; i < args.size(); ++i)
                    type = commonType(type, args[i].type);
                t.type = type == Type::Null ? Type::Variant : type;
                break;
            }
        }
        return t;
    }

    Tx aggregate(const Expr& e, const FunctionSpec& f, Level& L) {
        const std::string fname = e.name.parts[0].text;
        if (!L.aggAllowed)
            fail(e.span, "Cannot have an aggregate function in " + std::string(L.clause) + " (" +
                             source(e.span) + ")");
        if (L.aggDepth > 0)
            fail(e.span, "Cannot have an aggregate function inside another aggregate ('" +
                             source(e.span) + "')");
        std::string filter = L.pivotFilter.empty() ? "" : " FILTER (WHERE " + L.pivotFilter + ")";
        Tx t;
        t.agg = true;
        t.level = &L;
        if (e.star) {
            if (lower(fname) != "count") fail(e.span, "Only Count can take '*'");
            t.sql = "COUNT(*)" + filter;
            t.type = Type::Long;
            return t;
        }
        ++L.aggDepth;
        Tx x = expr(*e.operands[0], L);
        --L.aggDepth;
        if (x.outer && !x.local)
            fail(e.span, "The aggregate '" + source(e.span) +
                             "' uses only fields of an enclosing query; aggregate them in that "
                             "query instead");
        const std::string key = lower(fname);
        std::string arg = val(x);
        if (key == "min" || key == "max") {
            if (isText(x.type) && !x.column) arg += " COLLATE ACC_TEXT";
            if (x.type == Type::Decimal) arg = "CAST(" + arg + " AS REAL)";
            t.type = x.type == Type::Null ? Type::Variant : x.type;
        } else if (key == "first" || key == "last" || key == "count") {
            t.type = key == "count" ? Type::Long : (x.type == Type::Null ? Type::Variant : x.type);
        } else {
            if (x.type == Type::LongBinary || x.type == Type::Binary)
                fail(e.span, "Cannot use an OLE Object or binary field in " + fname);
            arg = num(x);
            if (key == "sum") {
                t.type = x.type == Type::Currency  ? Type::Currency
                         : x.type == Type::Decimal ? Type::Decimal
                         : (isIntegral(x.type))    ? Type::Long
                                                   : Type::Double;
            } else if (key == "avg") {
                t.type = x.type == Type::Currency  ? Type::Currency
                         : x.type == Type::Decimal ? Type::Decimal
                                                   : Type::Double;
            } else {
                t.type = Type::Double;
            }
        }
        t.sql = std::string(f.sqlite) + "(" + arg + ")" + filter;
        t.size = key == "count" ? 0 : x.size;
        return t;
    }

    std::string_view m_text;
    const Catalog& m_catalog;
    const TranslateOptions& m_options;
    std::vector<std::string> m_params;
    std::vector<std::string> m_paramKeys;
    std::vector<uint32_t> m_paramOffsets;
    std::vector<std::string> m_viewStack;
    int m_aliasCounter = 0;
};

}  // namespace

Result<Translation> translate(const Statement& statement, std::string_view sqlText,
                              const Catalog& catalog, const TranslateOptions& options) {
    try {
        Translator t(sqlText, catalog, options);
        return t.statement(statement);
    } catch (const Failure& f) {
        return f.error;
    } catch (const std::bad_alloc&) {
        return Error(Errc::InvalidArgument, "The statement is too complex to run");
    }
}

Result<Translation> translateSql(std::string_view sqlText, const Catalog& catalog,
                                 const TranslateOptions& options) {
    ParseResult parsed = parse(sqlText);
    if (!parsed.ok()) return parsed.diagnostics.front().toError();
    return translate(*parsed.statement, sqlText, catalog, options);
}

}  // namespace tab::accsql
