// Statements that change rows become one SELECT over the same sources, with
// the same names, expressions and types as a query; its rows say what to
// write and the executor applies them (see WritePlan). Only tables are
// written to: saved queries, derived tables and linked tables are refused.
#include <new>

#include "tabulary/accsql/translate.h"
#include "translator_internal.h"

namespace tab::accsql {
namespace translation {
namespace {

constexpr const char* kCountMismatch =
    "Number of query values and destination fields are not the same";

std::string columnRef(size_t index) {
    return "\"c" + std::to_string(index + 1) + "\"";
}

Type valueType(const Tx& t) {
    return t.type == Type::Null ? Type::Variant : t.type;
}

Span nameSpan(const QualifiedName& q) {
    Span s = q.parts.front().span;
    s.length = q.parts.back().span.end() - s.offset;
    return s;
}

// SELECT <items> FROM <sources> WHERE <where>.
std::string rowsSql(const std::vector<std::string>& items, const std::string& from,
                    const std::string& where) {
    std::string sql = "SELECT ";
    for (size_t i = 0; i < items.size(); ++i)
        sql += (i ? ", " : "") + items[i] + " AS " + columnRef(i);
    if (!from.empty()) sql += " FROM " + from;
    if (!where.empty()) sql += " WHERE " + where;
    return sql;
}

const SourceColumn* findDestination(const CatalogEntry& table, std::string_view name) {
    for (const SourceColumn& c : table.columns)
        if (sameName(c.name, name)) return &c;
    return nullptr;
}

}  // namespace

WritePlan Translator::write(const Statement& s) {
    for (const ParamDecl& p : s.parameters) addParameter(p.name.text, p.name.text);
    WritePlan plan;
    plan.kind = s.kind;
    switch (s.kind) {
        case StatementKind::Insert:
            insertPlan(std::get<InsertStmt>(s.body), plan);
            break;
        case StatementKind::Update:
            updatePlan(std::get<UpdateStmt>(s.body), plan);
            break;
        case StatementKind::Delete:
            deletePlan(std::get<DeleteStmt>(s.body), plan);
            break;
        case StatementKind::SelectInto:
            selectIntoPlan(*s.query, plan);
            break;
        case StatementKind::Select:
        case StatementKind::Execute:
            throw Failure{Error(Errc::InvalidArgument,
                                "This statement does not change rows; only INSERT INTO, UPDATE, "
                                "DELETE and SELECT ... INTO do")};
        default:
            throw Failure{Error(Errc::InvalidArgument,
                                std::string(statementKindName(s.kind)) +
                                    " is carried out by the engine itself, not as rows to "
                                    "change")};
    }
    if (s.paramMarkers > 0 || !m_params.empty()) missingParameters(s.paramMarkers);
    return plan;
}

// ---- targets ------------------------------------------------------------

CatalogEntry Translator::outputTable(const Name& table) {
    auto entry = m_catalog.find(table.text);
    if (!entry) fail(table.span, "Cannot find the output table '" + table.text + "'");
    refuseNonTable(table, "append to");
    return *entry;
}

// A name written as the table to change must be a table; the lookup runs
// again where the name becomes a source, this only gives the clearer text.
void Translator::refuseNonTable(const Name& name, const char* verb) {
    auto entry = m_catalog.find(name.text);
    if (!entry || entry->kind == CatalogEntry::Kind::Table) return;
    if (entry->kind == CatalogEntry::Kind::View)
        fail(name.span,
             std::string("Cannot ") + verb + " '" + entry->name +
                 "'; it is a saved query, and only tables can be changed",
             Errc::Unsupported);
    fail(name.span,
         std::string("Cannot ") + verb + " '" + entry->name + "'" +
             (entry->reason.empty() ? "; it is not a table" : ": " + entry->reason),
         Errc::Unsupported);
}

void Translator::checkWritable(const Source& s, Span span, const char* verb) {
    // Changes go to the open database by table name: a table read from
    // another file must never be taken for one of its own.
    if (!s.database.empty())
        fail(span,
             std::string("Cannot ") + verb + " '" + s.object + "' of the database '" + s.database +
                 "'; tables named with IN are read only",
             Errc::Unsupported);
    if (s.rowid) return;
    if (!s.object.empty())
        fail(span,
             std::string("Cannot ") + verb + " '" + s.object +
                 "'; it is a saved query, and only tables can be changed",
             Errc::Unsupported);
    fail(span,
         std::string("Cannot ") + verb + " the derived table '" + s.exposed +
             "'; only tables can be changed",
         Errc::Unsupported);
}

std::string Translator::writeWhere(const Expr* where, Level& L) {
    if (!where) return "";
    L.clause = "the WHERE clause";
    L.aggAllowed = false;
    Tx w = expr(*where, L);
    if (w.agg) fail(where->span, "Cannot have an aggregate function in the WHERE clause");
    return cond(w);
}

// ---- INSERT INTO ----------------------------------------------------------

// With a column list the values go to the columns in order; VALUES without
// one fills every column in table order, and a query without one fills the
// columns named like its result columns.
void Translator::insertPlan(const InsertStmt& ins, WritePlan& plan) {
    const CatalogEntry table = outputTable(ins.table);
    WriteTarget target;
    target.table = table.name;
    std::vector<const SourceColumn*> dest;
    auto addDestination = [&](std::string_view name, Span span) {
        const SourceColumn* c = findDestination(table, name);
        if (!c)
            fail(span, "The INSERT INTO statement contains the unknown field name '" +
                           std::string(name) + "'; the table '" + table.name +
                           "' has no such field");
        for (const SourceColumn* d : dest)
            if (d == c) fail(span, "Duplicate output destination '" + c->name + "'");
        dest.push_back(c);
    };
    for (const Name& n : ins.columns) addDestination(n.text, n.span);

    if (ins.query) {
        QOut q = query(*ins.query, nullptr);
        if (ins.hasColumnList) {
            if (q.cols.size() != dest.size()) fail(ins.query->span, kCountMismatch);
        } else {
            for (const ResultColumn& c : q.cols) {
                // A name a join qualified ("o.OrderID") still names its field.
                std::string_view name = c.name;
                auto dot = name.rfind('.');
                if (!findDestination(table, name) && dot != std::string_view::npos)
                    name = name.substr(dot + 1);
                addDestination(name, ins.query->span);
            }
        }
        plan.sql = std::move(q.sql);
        plan.columns = std::move(q.cols);
    } else {
        if (!ins.hasColumnList)
            for (const SourceColumn& c : table.columns) dest.push_back(&c);
        if (ins.values.size() != dest.size()) fail(ins.values.front()->span, kCountMismatch);
        Level L;
        L.clause = "the VALUES list";
        L.aggAllowed = false;
        std::vector<std::string> items;
        for (size_t i = 0; i < ins.values.size(); ++i) {
            const Expr& v = *ins.values[i];
            Tx t = expr(v, L);
            if (t.agg) fail(v.span, "Cannot have an aggregate function in the VALUES list");
            items.push_back(val(t));
            plan.columns.push_back({dest[i]->name, valueType(t), t.size});
        }
        plan.sql = rowsSql(items, "", "");
    }
    for (size_t j = 0; j < dest.size(); ++j)
        target.columns.push_back({dest[j]->name, static_cast<int>(j)});
    plan.targets.push_back(std::move(target));
}

// ---- UPDATE ---------------------------------------------------------------

// The source and column a SET names; unqualified names resolve like any
// column of the level.
size_t Translator::setTarget(const Assignment& a, Level& L, const Col*& col) {
    const QualifiedName& q = a.column;
    const Span span = nameSpan(q);
    const std::string& field = q.parts.back().text;
    if (q.parts.size() > 2) fail(span, "'" + source(span) + "' is not a field that can be set");
    if (q.parts.size() == 2) {
        for (size_t i = 0; i < L.sources.size(); ++i) {
            if (!sameName(L.sources[i].exposed, q.parts[0].text)) continue;
            col = findColumn(L.sources[i], field);
            if (!col)
                fail(span, "'" + L.sources[i].exposed + "' has no field '" + field + "' to update");
            return i;
        }
        fail(span, "Cannot find the table '" + q.parts[0].text + "' of '" + source(span) +
                       "' in the UPDATE clause");
    }
    size_t found = L.sources.size();
    for (size_t i = 0; i < L.sources.size(); ++i) {
        if (const Col* c = findColumn(L.sources[i], field)) {
            if (found != L.sources.size())
                fail(span, "The field '" + field +
                               "' could refer to more than one table listed in the UPDATE "
                               "clause");
            found = i;
            col = c;
        }
    }
    if (found == L.sources.size())
        fail(span, L.sources.size() == 1
                       ? "'" + L.sources[0].exposed + "' has no field '" + field + "' to update"
                       : "No table of the UPDATE clause has a field '" + field + "'");
    return found;
}

// SELECT <rowid of each target>..., <new value>... FROM <sources> WHERE ...;
// the targets in the order the SET list first names them.
void Translator::updatePlan(const UpdateStmt& u, WritePlan& plan) {
    if (u.target->kind == FromItem::Kind::Table) refuseNonTable(u.target->table, "update");
    Level L;
    const std::string from = fromItem(*u.target, L);
    const std::string where = writeWhere(u.where.get(), L);

    struct Set {
        size_t source;
        const Col* col;
        Tx value;
    };
    std::vector<Set> sets;
    std::vector<size_t> targets;
    L.clause = "the SET clause";
    L.aggAllowed = false;
    for (const Assignment& a : u.assignments) {
        const Col* col = nullptr;
        size_t src = setTarget(a, L, col);
        checkWritable(L.sources[src], nameSpan(a.column), "update");
        for (const Set& s : sets)
            if (s.source == src && s.col == col)
                fail(nameSpan(a.column), "Duplicate output destination '" + col->name + "'");
        Tx v = expr(*a.value, L);
        if (v.agg) fail(a.value->span, "Cannot have an aggregate function in the SET clause");
        bool known = false;
        for (size_t t : targets) known = known || t == src;
        if (!known) targets.push_back(src);
        sets.push_back({src, col, std::move(v)});
    }

    std::vector<std::string> items;
    for (size_t t : targets) {
        const Source& s = L.sources[t];
        WriteTarget target;
        target.table = s.object;
        target.rowidColumn = static_cast<int>(items.size());
        items.push_back(s.alias + ".rowid");
        plan.columns.push_back({s.exposed + ".rowid", Type::BigInt, 0});
        plan.targets.push_back(std::move(target));
    }
    for (const Set& s : sets) {
        size_t t = 0;
        while (targets[t] != s.source) ++t;
        plan.targets[t].columns.push_back({s.col->name, static_cast<int>(items.size())});
        items.push_back(val(s.value));
        std::string name = s.col->name;
        if (targets.size() > 1) name = L.sources[s.source].exposed + "." + name;
        plan.columns.push_back({name, valueType(s.value), s.value.size});
    }
    plan.sql = rowsSql(items, from, where);
}

// ---- DELETE ---------------------------------------------------------------

// SELECT <rowid of each table deleted from>... FROM <sources> WHERE ...;
// a joined row names the rows of the tables listed as table.*.
void Translator::deletePlan(const DeleteStmt& d, WritePlan& plan) {
    if (d.tables.empty() && d.from.size() == 1 && d.from[0]->kind == FromItem::Kind::Table)
        refuseNonTable(d.from[0]->table, "delete from");
    Level L;
    std::string from;
    for (size_t i = 0; i < d.from.size(); ++i) from += (i ? ", " : "") + fromItem(*d.from[i], L);
    const std::string where = writeWhere(d.where.get(), L);

    std::vector<size_t> targets;
    if (d.tables.empty()) {
        if (L.sources.size() != 1)
            fail(d.from.front()->span,
                 "Specify the table containing the records you want to delete (DELETE "
                 "table.* FROM ...)");
        checkWritable(L.sources[0], d.from.front()->span, "delete from");
        targets.push_back(0);
    }
    for (const QualifiedName& q : d.tables) {
        const Name& n = q.parts.back();
        size_t i = 0;
        while (i < L.sources.size() && !sameName(L.sources[i].exposed, n.text)) ++i;
        if (i == L.sources.size())
            fail(n.span,
                 "Cannot find the table '" + n.text + "' of '" + n.text + ".*' in the FROM clause");
        checkWritable(L.sources[i], n.span, "delete from");
        bool known = false;
        for (size_t t : targets) known = known || t == i;
        if (!known) targets.push_back(i);
    }
    std::vector<std::string> items;
    for (size_t t : targets) {
        const Source& s = L.sources[t];
        WriteTarget target;
        target.table = s.object;
        target.rowidColumn = static_cast<int>(items.size());
        items.push_back(s.alias + ".rowid");
        plan.columns.push_back({s.exposed + ".rowid", Type::BigInt, 0});
        plan.targets.push_back(std::move(target));
    }
    plan.sql = rowsSql(items, from, where);
}

// ---- SELECT ... INTO ------------------------------------------------------

// The query as a SELECT gives it; the new table must not exist yet, which
// also keeps it from being one of the query's sources.
void Translator::selectIntoPlan(const Query& q, WritePlan& plan) {
    const Name& into = *q.terms.front().select->into;
    if (auto entry = m_catalog.find(into.text)) {
        if (entry->kind == CatalogEntry::Kind::Table)
            fail(into.span, "Table '" + entry->name + "' already exists");
        fail(into.span,
             "The name '" + into.text + "' is already used by " +
                 (entry->kind == CatalogEntry::Kind::View ? "the saved query '" : "the object '") +
                 entry->name + "'");
    }
    QOut out = query(q, nullptr);
    for (size_t i = 0; i < out.cols.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (sameName(out.cols[i].name, out.cols[j].name))
                fail(q.terms.front().select->span,
                     "Duplicate output destination '" + out.cols[i].name +
                         "': the new table would have that field twice; give one of them "
                         "another name with AS");
    WriteTarget target;
    target.table = into.text;
    plan.sql = std::move(out.sql);
    plan.columns = std::move(out.cols);
    plan.targets.push_back(std::move(target));
}

}  // namespace translation

Result<WritePlan> translateWrite(const Statement& statement, std::string_view sqlText,
                                 const Catalog& catalog, const TranslateOptions& options) {
    try {
        translation::Translator t(sqlText, catalog, options);
        return t.write(statement);
    } catch (const translation::Failure& f) {
        return f.error;
    } catch (const std::bad_alloc&) {
        return Error(Errc::InvalidArgument, "The statement is too complex to run");
    }
}

}  // namespace tab::accsql
