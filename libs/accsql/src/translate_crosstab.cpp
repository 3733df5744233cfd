// TRANSFORM ... PIVOT: one column per pivot value, each the aggregate over
// the group's rows with that value; a heading without rows is Null.
#include "translator_internal.h"
#include "types_internal.h"

namespace tab::accsql::translation {
namespace {

std::string comparePivot(const Tx& pivot, const std::string& literal) {
    std::string l = val(pivot);
    if (isText(pivot.type) && !pivot.column) l += " COLLATE ACC_TEXT";
    return l + " = " + literal;
}

}  // namespace

void Translator::pivotCells(const Transform& tr, const SelectCore& c, Level& L,
                            const std::vector<std::string>& fromSql, const std::string& where,
                            std::vector<Item>& items) {
    for (const SelectItem& it : c.items)
        if (it.kind != SelectItem::Kind::Expr) fail(it.span, "A crosstab query cannot select '*'");
    std::string from;
    for (size_t i = 0; i < fromSql.size(); ++i) from += (i ? ", " : "") + fromSql[i];
    L.aggAllowed = false;
    L.clause = "the PIVOT clause";
    Tx pivot = expr(*tr.pivot, L);
    if (pivot.agg) fail(tr.pivot->span, "Cannot have an aggregate function in PIVOT");

    std::vector<PivotValue> values =
        tr.hasInList ? fixedHeadings(tr, pivot, L) : probedHeadings(pivot, from, where);
    if (items.size() + values.size() > 255)
        fail(tr.pivot->span, "The crosstab query has too many column headings");

    for (const PivotValue& v : values) {
        std::string match =
            v.null ? "(" + val(pivot) + " IS NULL)" : "(" + comparePivot(pivot, v.literal) + ")";
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

// PIVOT ... IN (...): the headings are the constants listed, in their order.
std::vector<PivotValue> Translator::fixedHeadings(const Transform& tr, const Tx& pivot, Level& L) {
    std::vector<PivotValue> values;
    for (const auto& v : tr.inList) {
        Tx t = expr(*v, L);
        if (!t.constant) fail(v->span, "A fixed column heading must be a constant");
        PivotValue pv;
        pv.null = v->kind == ExprKind::Null;
        pv.literal = pv.null ? "NULL" : comparable(pivot, t).second;
        pv.heading = v->kind == ExprKind::String ? v->text : pv.null ? "<>" : source(v->span);
        for (const PivotValue& o : values)
            if (sameName(o.heading, pv.heading))
                fail(v->span,
                     "The fixed column heading '" + pv.heading + "' is given more than once");
        values.push_back(std::move(pv));
    }
    return values;
}

// Without IN (...) the headings are the pivot values the rows have, sorted,
// which only running a query can tell.
std::vector<PivotValue> Translator::probedHeadings(const Tx& pivot, const std::string& from,
                                                   const std::string& where) {
    if (!m_options.pivotProbe)
        throw Failure{Error(Errc::Internal, "crosstab values cannot be looked up")};
    const std::string p = sortSql(pivot), v = val(pivot);
    std::string probe =
        "SELECT quote(min(" + v + ")), acc_text(min(" + v + "), '" + typeTag(pivot.type) +
        "'), min(" + v + ") IS NULL" + (from.empty() ? "" : " FROM " + from) +
        (where.empty() ? "" : " WHERE " + where) + " GROUP BY " + p + " ORDER BY " + p;
    auto found = m_options.pivotProbe(probe);
    if (!found.ok()) throw Failure{found.error()};
    std::vector<PivotValue> values = std::move(*found);
    for (PivotValue& pv : values)
        if (pv.null) pv.heading = "<>";
    return values;
}

}  // namespace tab::accsql::translation
