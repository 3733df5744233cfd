// Queries: UNION, one SELECT clause by clause, and the rules of grouped
// queries.
#include <memory>

#include "function_table.h"
#include "translator_internal.h"
#include "types_internal.h"

namespace tab::accsql::translation {
namespace {

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

// A column keeps its collation for the queries around it (and a union's
// ORDER BY): text in Access's order, Decimal in numeric order.
std::string itemSql(const Tx& t) {
    std::string s = val(t);
    if (isText(t.type) && !t.column) s += " COLLATE ACC_TEXT";
    if (t.type == Type::Decimal && !t.column) s += " COLLATE ACC_DECIMAL";
    return s;
}

// An aggregate anywhere in the select list or ORDER BY, GROUP BY or HAVING
// makes the query grouped.
bool isGrouped(const SelectCore& c, const std::vector<OrderItem>* order) {
    bool grouped = !c.groupBy.empty() || (c.having != nullptr);
    for (const SelectItem& it : c.items)
        if (it.kind == SelectItem::Kind::Expr && containsAggregate(*it.expr)) grouped = true;
    if (order)
        for (const OrderItem& o : *order)
            if (containsAggregate(*o.expr)) grouped = true;
    return grouped;
}

// Where Access removes duplicates or forms groups, a Memo value counts, and
// shows, by its first 255 characters.
Tx memoKey(const Tx& t) {
    if (t.type != Type::Memo) return t;
    Tx k = t;
    k.sql = "substr(" + val(t) + ", 1, 255)";
    k.pred = false;
    k.column = false;
    k.uniqueKey = false;
    return k;
}

bool isMemoGroup(const Tx& t, const std::vector<Tx>& groups) {
    for (const Tx& g : groups)
        if (g.type == Type::Memo && g.sql == t.sql) return true;
    return false;
}

std::string columnRef(char prefix, size_t index) {
    return std::string("\"") + prefix + std::to_string(index + 1) + "\"";
}

// A union part as the union holds its columns: a part whose column type
// holds values differently (Currency in ten-thousandths) is converted, and
// a Memo column of a part whose duplicates go is cut to its key.
std::string unionPartSql(const QOut& part, const std::vector<ResultColumn>& cols, bool distinct) {
    std::string select;
    bool converted = false;
    for (size_t c = 0; c < cols.size(); ++c) {
        Tx x;
        x.sql = columnRef('c', c);
        x.type = part.cols[c].type;
        std::string s = as(x, cols[c].type);
        if (distinct && cols[c].type == Type::Memo)
            s = "substr(" + s + ", 1, 255) COLLATE ACC_TEXT";
        converted = converted || s != x.sql;
        select += (c ? ", " : "") + s + " AS " + x.sql;
    }
    if (converted) return "SELECT " + select + " FROM (" + part.sql + ")";
    return part.simple ? part.sql : "SELECT * FROM (" + part.sql + ")";
}

std::string orderBySql(const std::vector<SortKey>& keys) {
    if (keys.empty()) return "";
    std::string sql = " ORDER BY ";
    for (size_t k = 0; k < keys.size(); ++k)
        sql += (k ? ", " : "") + keys[k].sql + (keys[k].desc ? " DESC" : "");
    return sql;
}

}  // namespace

std::string sortSql(const Tx& t) {
    // A bare integer in GROUP BY or ORDER BY would be a column position to SQLite.
    std::string s = t.constant ? "coalesce(" + val(t) + ", NULL)" : val(t);
    if (isText(t.type) && !t.column) s += " COLLATE ACC_TEXT";
    if (t.type == Type::Decimal) s += " COLLATE ACC_DECIMAL";
    return s;
}

// ---- queries ------------------------------------------------------------

QOut Translator::query(const Query& q, Level* outer) {
    if (q.transform) {
        const SelectCore& c = *q.terms[0].select;
        if (c.groupBy.empty()) fail(c.span, "A crosstab query needs a GROUP BY clause");
        if (c.having) fail(c.having->span, "A crosstab query cannot have a HAVING clause");
        return core(c, outer, &q.orderBy, &*q.transform);
    }
    if (q.terms.size() == 1) return term(q.terms[0], outer, &q.orderBy);
    return unionQuery(q, outer);
}

// The parts' column types widen to a common type; ORDER BY applies to the
// whole union and names columns of its first part.
QOut Translator::unionQuery(const Query& q, Level* outer) {
    std::vector<QOut> parts;
    for (const QueryTerm& t : q.terms) {
        if (t.kind == QueryTerm::Kind::Select && t.select->from.empty())
            fail(t.span, "A union query must read from at least one table or query");
        parts.push_back(term(t, outer, nullptr));
    }
    QOut out;
    out.cols = parts[0].cols;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].cols.size() != out.cols.size())
            fail(q.terms[i].span,
                 "The number of columns in the parts of the union query do not match");
        for (size_t c = 0; i && c < out.cols.size(); ++c)
            out.cols[c].type = commonType(out.cols[c].type, parts[i].cols[c].type);
    }
    // A UNION removes the duplicates of every part before it, too.
    size_t lastDistinct = 0;
    for (size_t i = 1; i < parts.size(); ++i)
        if (!q.unionAll[i - 1]) lastDistinct = i;
    std::string sql;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) sql += q.unionAll[i - 1] ? " UNION ALL " : " UNION ";
        sql += unionPartSql(parts[i], out.cols, lastDistinct > 0 && i <= lastDistinct);
    }
    if (!q.orderBy.empty()) {
        std::string order;
        for (const OrderItem& o : q.orderBy) {
            size_t k = unionOrderColumn(o, out.cols);
            if (!order.empty()) order += ", ";
            order += columnRef('c', k);
            if (isText(out.cols[k].type)) order += " COLLATE ACC_TEXT";
            if (o.descending) order += " DESC";
        }
        sql = "SELECT * FROM (" + sql + ") ORDER BY " + order;
        out.simple = false;
    }
    out.sql = sql;
    return out;
}

size_t Translator::unionOrderColumn(const OrderItem& o, const std::vector<ResultColumn>& cols) {
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

QOut Translator::term(const QueryTerm& t, Level* outer, const std::vector<OrderItem>* order) {
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
            // TABLE t is SELECT * FROM t.
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

// ---- one SELECT -----------------------------------------------------------

// The clauses are translated in the order their names become known: FROM
// first, then the select list's aliases are available to every clause.
QOut Translator::core(const SelectCore& c, Level* outer, const std::vector<OrderItem>* order,
                      const Transform* tr) {
    SelectParts s(c, order, tr);
    s.level.outer = outer;
    fromClause(s);
    for (const SelectItem& it : c.items)
        if (it.kind == SelectItem::Kind::Expr && it.alias) s.level.slots.push_back({&it, 0, {}});
    s.grouped = isGrouped(c, order);
    whereClause(s);
    groupByClause(s);
    selectList(s);
    for (Item& it : s.items)
        if (s.core.quantifier == SetQuantifier::Distinct || isMemoGroup(it.tx, s.groups))
            it.tx = memoKey(it.tx);
    if (tr) pivotCells(*tr, c, s.level, s.from, s.where, s.items);
    if (s.items.size() > 255) fail(c.span, "A query can have at most 255 output columns");
    havingClause(s);
    orderByClause(s);

    QOut out;
    out.cols = outputColumns(s.items);
    // Decided before a crosstab adds its group keys: those never make TOP rank.
    const bool topWithOrder = c.top && !s.keys.empty();
    const std::string sql = selectSql(s, topWithOrder) + groupByHavingSql(s);
    // A crosstab lists its rows in group order unless told otherwise.
    if (tr && s.keys.empty())
        for (const Tx& g : s.groups) s.keys.push_back({sortSql(memoKey(g)), false});
    if (c.top) {
        out.sql = topSql(*c.top, sql, s, topWithOrder);
        out.simple = false;
    } else {
        out.sql = sql + orderBySql(s.keys);
        out.simple = s.keys.empty();
    }
    return out;
}

void Translator::fromClause(SelectParts& s) {
    for (const auto& f : s.core.from) s.from.push_back(fromItem(*f, s.level));
}

void Translator::whereClause(SelectParts& s) {
    const Expr* where = s.core.where.get();
    if (!where) return;
    s.level.clause = "the WHERE clause";
    s.level.aggAllowed = false;
    Tx w = expr(*where, s.level);
    if (w.agg) fail(where->span, "Cannot have an aggregate function in the WHERE clause");
    s.where = cond(w);
}

void Translator::groupByClause(SelectParts& s) {
    for (const auto& g : s.core.groupBy) {
        s.level.clause = "the GROUP BY clause";
        s.level.aggAllowed = false;
        Tx t = expr(*g, s.level);
        if (t.agg) fail(g->span, "Cannot have an aggregate function in the GROUP BY clause");
        if (t.type == Type::LongBinary) fail(g->span, "Cannot group on an OLE Object field");
        s.groups.push_back(std::move(t));
    }
}

// Unnamed expressions are called Expr1000, Expr1001, ... in list order.
void Translator::selectList(SelectParts& s) {
    s.level.aggAllowed = true;
    s.level.clause = "the SELECT list";
    int exprCounter = 1000;
    size_t slot = 0;
    for (const SelectItem& it : s.core.items) {
        if (it.kind != SelectItem::Kind::Expr) {
            starItems(it, s);
            continue;
        }
        Item item = exprItem(it, s, slot, exprCounter);
        if (s.grouped) checkGroupedExpr(*it.expr, s.level, s.groups);
        s.items.push_back(std::move(item));
    }
}

// * and Table.*: every column of the sources named, in FROM order.
void Translator::starItems(const SelectItem& it, SelectParts& s) {
    if (s.core.from.empty())
        fail(it.span, "A query that selects '*' must read from at least one table or query");
    bool any = false;
    for (const Source& src : s.level.sources) {
        if (it.kind == SelectItem::Kind::TableStar &&
            !sameName(src.exposed, it.table.parts.back().text))
            continue;
        any = true;
        for (const Col& col : src.cols) {
            Item item;
            item.tx = columnTx(src, col, s.level);
            item.name = col.name;
            item.qualifyOnClash = true;
            if (s.grouped) checkGrouped(item.tx, s.groups, it.span, col.name);
            s.items.push_back(std::move(item));
        }
    }
    if (!any)
        fail(it.span, "Cannot find the source '" + it.table.parts.back().text + "' of '" +
                          source(it.span) + "' in the FROM clause");
}

Item Translator::exprItem(const SelectItem& it, SelectParts& s, size_t& slot, int& exprCounter) {
    Item item;
    if (it.alias) {
        item.tx = slotTx(s.level, static_cast<int>(slot++), it.span);
        item.name = it.alias->text;
    } else {
        item.tx = expr(*it.expr, s.level);
        if (item.tx.column) {
            item.name = item.tx.columnName;
            item.qualifyOnClash = true;
        } else {
            item.name = "Expr" + std::to_string(exprCounter++);
        }
    }
    return item;
}

void Translator::havingClause(SelectParts& s) {
    const Expr* having = s.core.having.get();
    if (!having) return;
    s.level.clause = "the HAVING clause";
    s.level.aggAllowed = true;
    Tx h = expr(*having, s.level);
    checkGroupedExpr(*having, s.level, s.groups);
    s.having = cond(h);
}

void Translator::orderByClause(SelectParts& s) {
    if (!s.order) return;
    for (const OrderItem& o : *s.order) s.keys.push_back(orderKey(o, s));
}

SortKey Translator::orderKey(const OrderItem& o, SelectParts& s) {
    s.level.clause = "the ORDER BY clause";
    s.level.aggAllowed = s.grouped;
    Tx t;
    const Expr& e = *o.expr;
    if (e.kind == ExprKind::Number && e.number.intValue) {
        int64_t k = *e.number.intValue;
        if (k < 1 || k > static_cast<int64_t>(s.items.size()))
            fail(e.span, "The ORDER BY position " + e.number.text + " is not a column");
        t = s.items[static_cast<size_t>(k - 1)].tx;
    } else {
        t = expr(e, s.level);
        if (t.agg && !s.grouped)
            fail(e.span, "Cannot have an aggregate function in the ORDER BY clause");
        if (s.grouped) checkGroupedExpr(e, s.level, s.groups);
        if (s.core.quantifier == SetQuantifier::Distinct || isMemoGroup(t, s.groups))
            t = memoKey(t);
    }
    if (t.type == Type::LongBinary) fail(e.span, "Cannot sort on an OLE Object field");
    if (s.core.quantifier == SetQuantifier::Distinct) {
        bool found = false;
        for (const Item& i : s.items) found = found || i.tx.sql == t.sql;
        if (!found)
            fail(e.span, "The ORDER BY clause conflicts with DISTINCT: '" + source(e.span) +
                             "' is not selected");
    }
    // A key column of the only source, read ungrouped, never ties.
    const bool unique = t.column && t.uniqueKey && t.level == &s.level && !t.outer &&
                        s.level.sources.size() == 1 && !s.grouped && !s.transform;
    return {sortSql(t), o.descending, unique};
}

// Output names: a column name that two sources give is qualified.
std::vector<ResultColumn> Translator::outputColumns(const std::vector<Item>& items) const {
    std::vector<ResultColumn> cols;
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
        cols.push_back({name, items[i].tx.type == Type::Null ? Type::Variant : items[i].tx.type,
                        items[i].tx.size});
    }
    return cols;
}

// SELECT ... FROM ... WHERE ...; the result columns are c1, c2, ... and, for
// TOP with ORDER BY, the sort keys ride along as k1, k2, ...
std::string Translator::selectSql(const SelectParts& s, bool withKeys) const {
    std::string sql = "SELECT ";
    if (s.core.quantifier == SetQuantifier::Distinct) sql += "DISTINCT ";
    for (size_t i = 0; i < s.items.size(); ++i) {
        if (i) sql += ", ";
        sql += itemSql(s.items[i].tx) + " AS " + columnRef('c', i);
    }
    if (withKeys)
        for (size_t k = 0; k < s.keys.size(); ++k)
            sql += ", " + s.keys[k].sql + " AS " + columnRef('k', k);
    if (!s.from.empty()) {
        sql += " FROM ";
        for (size_t i = 0; i < s.from.size(); ++i) sql += (i ? ", " : "") + s.from[i];
    }
    if (!s.where.empty()) sql += " WHERE " + s.where;
    return sql;
}

std::string Translator::groupByHavingSql(SelectParts& s) {
    std::string sql;
    std::string groupSql;
    for (const Tx& g : s.groups) groupSql += (groupSql.empty() ? "" : ", ") + sortSql(memoKey(g));
    if (groupSql.empty() && s.core.quantifier == SetQuantifier::DistinctRow && !s.grouped)
        groupSql = distinctRowGroups(s.level, s.items);
    if (!groupSql.empty()) sql += " GROUP BY " + groupSql;
    // HAVING alone makes the whole table one group; SQLite needs an aggregate
    // in the select list for that, so a list without one groups on a constant.
    if (!s.having.empty() && groupSql.empty()) {
        bool aggregated = false;
        for (const Item& it : s.items) aggregated = aggregated || it.tx.agg;
        if (!aggregated) sql += " GROUP BY NULL";
    }
    if (!s.having.empty()) sql += " HAVING " + s.having;
    return sql;
}

// TOP n [PERCENT]: rows tied with the last one on every ORDER BY key come too.
std::string Translator::topSql(const Top& top, const std::string& sql, const SelectParts& s,
                               bool withOrder) const {
    if (!top.count.intValue || *top.count.intValue <= 0 ||
        (top.percent && *top.count.intValue > 100))
        fail(top.span, "The TOP clause's argument '" + top.count.text + "' is invalid");
    const std::string n = std::to_string(*top.count.intValue);
    std::string cols;
    for (size_t i = 0; i < s.items.size(); ++i) cols += (i ? ", " : "") + columnRef('c', i);
    if (!withOrder) {
        if (top.percent)
            return "SELECT " + cols +
                   " FROM (SELECT *, ROW_NUMBER() OVER () AS acc_row, COUNT(*) OVER () AS "
                   "acc_count FROM (" +
                   sql + ")) WHERE acc_row <= (acc_count * " + n + " + 99) / 100";
        return sql + " LIMIT " + n;
    }
    std::string over;
    for (size_t k = 0; k < s.keys.size(); ++k) {
        std::string key = columnRef('k', k);
        if (s.keys[k].sql.find("COLLATE ACC_TEXT") != std::string::npos) key += " COLLATE ACC_TEXT";
        if (s.keys[k].desc) key += " DESC";
        over += (k ? ", " : "") + key;
    }
    // Without ties TOP n is the first n rows, which SQLite can stop after.
    bool untied = false;
    for (const SortKey& k : s.keys) untied = untied || k.unique;
    if (untied && !top.percent)
        return "SELECT " + cols + " FROM (" + sql + ") ORDER BY " + over + " LIMIT " + n;
    std::string ranked = "SELECT *, RANK() OVER (ORDER BY " + over + ") AS acc_rank";
    if (top.percent) ranked += ", COUNT(*) OVER () AS acc_count";
    ranked += " FROM (" + sql + ")";
    return "SELECT " + cols + " FROM (" + ranked +
           ") WHERE acc_rank <= " + (top.percent ? "(acc_count * " + n + " + 99) / 100" : n) +
           " ORDER BY " + over;
}

// ---- grouping rules -------------------------------------------------------

// DISTINCTROW: one result row per combination of the source rows that
// contribute columns, which matters only when some source contributes none.
std::string Translator::distinctRowGroups(const Level& L, const std::vector<Item>& items) {
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
void Translator::checkGrouped(const Tx& t, const std::vector<Tx>& groups, Span span,
                              const std::string& text) {
    if (t.agg || t.constant) return;
    for (const Tx& g : groups)
        if (g.sql == t.sql) return;
    fail(span, "The query does not include the specified expression '" + text +
                   "' as part of an aggregate function or grouping");
}

void Translator::checkGroupedExpr(const Expr& e, Level& L, const std::vector<Tx>& groups) {
    if (e.kind == ExprKind::Call && !e.name.parts.empty() && isAggregateName(e.name.parts[0].text))
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
            if (s >= 0) checkGroupedExpr(*L.slots[static_cast<size_t>(s)].item->expr, L, groups);
        }
        return;
    }
    for (const auto& op : e.operands)
        if (op) checkGroupedExpr(*op, L, groups);
}

}  // namespace tab::accsql::translation
