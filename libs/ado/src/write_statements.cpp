// INSERT, UPDATE and DELETE: the statement's SELECT runs first and its rows
// are kept, then they are applied through one change of the file, which
// commits all of them or none. Reading everything before the first write
// keeps a statement from seeing its own changes (a row moved by an update
// is never updated twice).
#include <algorithm>
#include <map>
#include <optional>

#include "session.h"
#include "tabulary/jet/change.h"

namespace tab::ado::detail {
namespace {

struct Rows {
    std::vector<std::vector<jet::Value>> rows;
};

Result<Rows> runSelect(Session& s, const accsql::WritePlan& plan) {
    auto st = sqlbridge::Statement::prepare(s.conn, plan.sql);
    if (!st.ok()) return prepareError(st.error());
    Rows out;
    const int n = static_cast<int>(plan.columns.size());
    while (true) {
        auto more = st->step();
        if (!more.ok()) return runError(more.error());
        if (!*more) break;
        std::vector<jet::Value> row(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            row[static_cast<size_t>(i)] = convert(st->handle(), i, plan.columns[i].type);
        out.rows.push_back(std::move(row));
    }
    return out;
}

// A column's default value: its DefaultValue expression, evaluated once.
Result<jet::Value> evaluateDefault(Session& s, const jet::TableDef& table, const jet::Column& c) {
    std::string expr = c.defaultValue;
    while (!expr.empty() && (expr.front() == ' ' || expr.front() == '=')) expr.erase(0, 1);
    if (expr.empty()) return jet::Value::null();
    auto fail = [&](const std::string& why) {
        return Error(Errc::InvalidArgument, "The default value of the field '" + table.name + "." +
                                                c.name + "' (" + c.defaultValue +
                                                ") cannot be used: " + why);
    };
    auto tr = translateIn(s, "SELECT (" + expr + ")");
    if (!tr.ok()) return fail(tr.error().message());
    auto st = sqlbridge::Statement::prepare(s.conn, tr->sql);
    if (!st.ok()) return fail(st.error().message());
    auto more = st->step();
    if (!more.ok()) return fail(more.error().message());
    if (!*more) return jet::Value::null();
    return convert(st->handle(), 0,
                   tr->columns.empty() ? accsql::Type::Variant : tr->columns[0].type);
}

Result<size_t> position(const jet::TableDef& t, const std::string& column) {
    int i = t.findColumn(column);
    if (i < 0)
        return Error(Errc::NotFound,
                     "The table '" + t.name + "' has no field named '" + column + "'");
    return static_cast<size_t>(i);
}

Result<int64_t> rowIdOf(const jet::Value& v) {
    if (v.kind() != jet::Value::Kind::Integer || v.asInt() < 0 || v.asInt() > 0xFFFFFFFFLL)
        return Error(Errc::Internal, "the statement gave no row id for a row to change");
    return v.asInt();
}

Result<int32_t> applyInsert(Session& s, jet::Change& change, const accsql::WritePlan& plan,
                            const Rows& rows) {
    const accsql::WriteTarget& target = plan.targets.at(0);
    TAB_ASSIGN_OR_RETURN(size_t t, change.table(target.table));
    const jet::TableDef& def = change.definition(t);
    std::vector<jet::Value> base(def.columns.size());
    std::vector<bool> given(def.columns.size(), false);
    std::vector<std::pair<size_t, int>> assigned;
    for (const auto& a : target.columns) {
        TAB_ASSIGN_OR_RETURN(size_t p, position(def, a.column));
        given[p] = true;
        assigned.emplace_back(p, a.selectColumn);
    }
    for (size_t i = 0; i < def.columns.size(); ++i) {
        if (given[i] || def.columns[i].autoNumber) continue;
        TAB_ASSIGN_OR_RETURN(base[i], evaluateDefault(s, def, def.columns[i]));
    }
    int32_t count = 0;
    std::vector<jet::Value> values;
    for (const auto& row : rows.rows) {
        values = base;
        for (const auto& [p, sc] : assigned) values[p] = row.at(static_cast<size_t>(sc));
        auto id = change.insert(t, values);
        if (!id.ok()) return id.error();
        ++count;
    }
    return count;
}

Result<int32_t> applyUpdate(jet::Change& change, const accsql::WritePlan& plan, const Rows& rows) {
    struct Target {
        size_t table;
        int rowid;
        std::vector<std::pair<size_t, int>> columns;
    };
    std::vector<Target> targets;
    for (const auto& wt : plan.targets) {
        TAB_ASSIGN_OR_RETURN(size_t t, change.table(wt.table));
        Target x{t, wt.rowidColumn, {}};
        for (const auto& a : wt.columns) {
            TAB_ASSIGN_OR_RETURN(size_t p, position(change.definition(t), a.column));
            x.columns.emplace_back(p, a.selectColumn);
        }
        targets.push_back(std::move(x));
    }
    int32_t count = 0;
    std::vector<std::pair<size_t, jet::Value>> changes;
    for (const auto& row : rows.rows) {
        bool counted = false;
        for (const Target& x : targets) {
            const jet::Value& rid = row.at(static_cast<size_t>(x.rowid));
            if (rid.isNull()) continue;  // the unmatched side of an outer join
            TAB_ASSIGN_OR_RETURN(int64_t id, rowIdOf(rid));
            changes.clear();
            for (const auto& [p, sc] : x.columns)
                changes.emplace_back(p, row.at(static_cast<size_t>(sc)));
            TAB_TRY(change.update(x.table, static_cast<jet::RowId>(id), changes));
            if (!counted) ++count;
            counted = true;
        }
    }
    return count;
}

Result<int32_t> applyDelete(jet::Change& change, const accsql::WritePlan& plan, const Rows& rows) {
    int32_t count = 0;
    for (size_t k = 0; k < plan.targets.size(); ++k) {
        const auto& wt = plan.targets[k];
        TAB_ASSIGN_OR_RETURN(size_t t, change.table(wt.table));
        std::vector<jet::RowId> ids;
        ids.reserve(rows.rows.size());
        for (const auto& row : rows.rows) {
            const jet::Value& rid = row.at(static_cast<size_t>(wt.rowidColumn));
            if (rid.isNull()) continue;
            TAB_ASSIGN_OR_RETURN(int64_t id, rowIdOf(rid));
            ids.push_back(static_cast<jet::RowId>(id));
        }
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        for (jet::RowId id : ids) TAB_TRY(change.remove(t, id));
        if (k == 0) count = static_cast<int32_t>(ids.size());
    }
    return count;
}

Result<int32_t> applyMakeTable(jet::Change& change, const accsql::WritePlan& plan,
                               const Rows& rows) {
    TAB_ASSIGN_OR_RETURN(jet::TableSpec spec, makeTableSpec(plan));
    TAB_TRY(change.createTable(spec));
    TAB_ASSIGN_OR_RETURN(size_t t, change.table(spec.name));
    int32_t count = 0;
    for (const auto& row : rows.rows) {
        auto id = change.insert(t, row);
        if (!id.ok()) return id.error();
        ++count;
    }
    return count;
}

// A literal as the value it stands for; nullopt for anything else.
std::optional<jet::Value> literalValue(const accsql::Expr& e) {
    using accsql::ExprKind;
    switch (e.kind) {
        case ExprKind::Number:
            if (e.number.integral && e.number.intValue)
                return jet::Value::integer(*e.number.intValue);
            return jet::Value::real(e.number.value);
        case ExprKind::String:
            return jet::Value::text(e.text);
        case ExprKind::Boolean:
            if (e.softKeyword) return std::nullopt;
            return jet::Value::boolean(e.boolValue);
        case ExprKind::Null:
            return jet::Value::null();
        case ExprKind::Date: {
            const auto& d = e.date;
            return jet::Value::dateTime(
                jet::accessDate(d.year, d.month, d.day, d.hour, d.minute, d.second));
        }
        case ExprKind::Unary:
            if (e.unaryOp == accsql::UnaryOp::Neg && e.operands.size() == 1 &&
                e.operands[0]->kind == ExprKind::Number) {
                const auto& n = e.operands[0]->number;
                if (n.integral && n.intValue) return jet::Value::integer(-*n.intValue);
                return jet::Value::real(-n.value);
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

// INSERT ... VALUES of literals into a table whose other columns have no
// default: the values need no SQL session, which is most of the cost of a
// single-row insert.
std::optional<Result<int32_t>> insertLiterals(Connection& connection,
                                              const accsql::Statement& statement,
                                              const QueryOptions& options) {
    if (statement.kind != accsql::StatementKind::Insert || statement.hasParameters ||
        statement.paramMarkers)
        return std::nullopt;
    const auto& ins = std::get<accsql::InsertStmt>(statement.body);
    if (ins.query || !ins.hasColumnList || ins.values.size() != ins.columns.size())
        return std::nullopt;
    std::vector<jet::Value> literals;
    for (const auto& v : ins.values) {
        auto lit = literalValue(*v);
        if (!lit) return std::nullopt;
        literals.push_back(std::move(*lit));
    }
    const jet::CatalogObject* o = connection.database()->catalog().findTable(ins.table.text);
    if (!o || o->kind != jet::ObjectKind::UserTable) return std::nullopt;
    jet::ChangeOptions co;
    co.durable = options.durable;
    if (options.now) co.objectDate = options.now();
    auto change = jet::Change::begin(*connection.database(), co);
    if (!change.ok()) return Result<int32_t>(change.error());
    auto t = (*change)->table(o->name);
    if (!t.ok()) return Result<int32_t>(t.error());
    const jet::TableDef& def = (*change)->definition(*t);
    std::vector<jet::Value> row(def.columns.size());
    std::vector<bool> given(def.columns.size(), false);
    for (size_t i = 0; i < ins.columns.size(); ++i) {
        const int p = def.findColumn(ins.columns[i].text);
        if (p < 0 || given[static_cast<size_t>(p)]) return std::nullopt;  // the full path says why
        given[static_cast<size_t>(p)] = true;
        row[static_cast<size_t>(p)] = std::move(literals[i]);
    }
    for (size_t i = 0; i < def.columns.size(); ++i)
        if (!given[i] && !def.columns[i].defaultValue.empty()) return std::nullopt;
    auto id = (*change)->insert(*t, row);
    if (!id.ok()) return Result<int32_t>(id.error());
    if (Status st = (*change)->commit(); !st.ok()) return Result<int32_t>(st.error());
    if (options.onCommit) options.onCommit((*change)->stats());
    if (auto identity = (*change)->lastIdentity()) connection.setLastIdentity(*identity);
    return Result<int32_t>(1);
}

// The file a statement changes: the open database, or the back-end behind
// every linked table it changes, whose tables then go by their names there.
// One statement changes one file, so that it is all or nothing.
Result<jet::Database*> changedFile(Session& s, accsql::WritePlan& plan) {
    jet::Database* file = nullptr;
    std::string fileName;
    for (accsql::WriteTarget& t : plan.targets) {
        const sqlbridge::JetTables::Table* linked = nullptr;
        if (plan.kind != accsql::StatementKind::SelectInto)
            if (const auto* found = s.tables->find(t.table); found && found->linkedDb)
                linked = found;
        jet::Database* here = linked ? linked->linkedDb.get() : s.db.get();
        const std::string hereName = linked ? linked->linkedPath : s.db->path();
        if (file && file != here)
            return Error(Errc::Unsupported, "This statement would change tables of two files (" +
                                                fileName + " and " + hereName +
                                                "); change each file in a statement of its own");
        file = here;
        fileName = hereName;
        if (linked) t.table = linked->def->name;
    }
    return file ? file : s.db.get();
}

}  // namespace

Result<int32_t> executeWrite(Connection& connection, const accsql::Statement& statement,
                             std::string_view sql, const QueryOptions& options) {
    if (connection.isOpen())
        if (auto done = insertLiterals(connection, statement, options)) return std::move(*done);
    TAB_ASSIGN_OR_RETURN(auto session, openSession(connection, options));
    TAB_ASSIGN_OR_RETURN(accsql::WritePlan plan, translateWriteIn(*session, statement, sql));
    jet::ChangeOptions co;
    co.durable = options.durable;
    if (options.now) co.objectDate = options.now();
    TAB_ASSIGN_OR_RETURN(jet::Database * file, changedFile(*session, plan));
    TAB_ASSIGN_OR_RETURN(auto change, jet::Change::begin(*file, co));
    auto read = runSelect(*session, plan);
    if (stopRequested(options)) return stoppedError();
    if (!read.ok()) return read.error();
    const Rows& rows = *read;
    Result<int32_t> affected = 0;
    switch (plan.kind) {
        case accsql::StatementKind::SelectInto:
            affected = applyMakeTable(*change, plan, rows);
            break;
        case accsql::StatementKind::Insert:
            affected = applyInsert(*session, *change, plan, rows);
            break;
        case accsql::StatementKind::Update:
            affected = applyUpdate(*change, plan, rows);
            break;
        case accsql::StatementKind::Delete:
            affected = applyDelete(*change, plan, rows);
            break;
        default:
            return Error(Errc::Internal, "not a statement that changes rows");
    }
    if (!affected.ok()) return affected.error();
    // The last moment a stop can still leave the file as it was.
    if (stopRequested(options)) return stoppedError();
    TAB_TRY(change->commit());
    if (options.onCommit) options.onCommit(change->stats());
    if (auto id = change->lastIdentity()) connection.setLastIdentity(*id);
    return affected;
}

}  // namespace tab::ado::detail
