// CREATE TABLE, CREATE INDEX, DROP TABLE, DROP INDEX and the constraint forms
// of ALTER TABLE: the statement becomes a table or index description for the
// change engine, which writes it in one change.
#include <algorithm>

#include "query_definition.h"
#include "session.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/jet/change.h"

namespace tab::ado::detail {
namespace {

using accsql::Constraint;

Error unsupported(const std::string& what) {
    return Error(Errc::Unsupported, what);
}

Error invalid(const std::string& what) {
    return Error(Errc::InvalidArgument, what);
}

bool sameName(std::string_view a, std::string_view b) {
    return equalsIgnoringCase(a, b);
}

// A column type as Jet SQL names it (TEXT(50), COUNTER(1, 1), DECIMAL(10, 2), ...).
Status applyType(const accsql::TypeName& t, jet::ColumnSpec& c) {
    const std::string& n = t.name;
    auto arg = [&](size_t i, int64_t fallback) { return i < t.args.size() ? t.args[i] : fallback; };
    auto noArgs = [&]() -> Status {
        if (!t.args.empty()) return invalid("The type " + n + " takes no size");
        return Status::success();
    };
    using jet::ColumnType;
    if (n == "BIT" || n == "YESNO" || n == "LOGICAL" || n == "LOGICAL1" || n == "BOOLEAN") {
        c.type = ColumnType::Boolean;
        return noArgs();
    }
    if (n == "BYTE" || n == "TINYINT" || n == "INTEGER1") {
        c.type = ColumnType::Byte;
        return noArgs();
    }
    if (n == "SHORT" || n == "SMALLINT" || n == "INTEGER2") {
        c.type = ColumnType::Integer;
        return noArgs();
    }
    if (n == "LONG" || n == "INTEGER" || n == "INT" || n == "INTEGER4") {
        c.type = ColumnType::Long;
        return noArgs();
    }
    if (n == "SINGLE" || n == "REAL" || n == "FLOAT4" || n == "IEEESINGLE") {
        c.type = ColumnType::Single;
        return noArgs();
    }
    if (n == "DOUBLE" || n == "DOUBLE PRECISION" || n == "FLOAT" || n == "FLOAT8" ||
        n == "IEEEDOUBLE" || n == "NUMBER") {
        c.type = ColumnType::Double;
        return noArgs();
    }
    if (n == "CURRENCY" || n == "MONEY") {
        c.type = ColumnType::Currency;
        return noArgs();
    }
    if (n == "DATETIME" || n == "DATE" || n == "TIME") {
        c.type = ColumnType::DateTime;
        return noArgs();
    }
    if (n == "GUID" || n == "UNIQUEIDENTIFIER") {
        c.type = ColumnType::Guid;
        return noArgs();
    }
    if (n == "COUNTER" || n == "AUTOINCREMENT" || n == "IDENTITY") {
        c.type = ColumnType::Long;
        c.autoNumber = true;
        if (t.args.size() == 1) return invalid("An AutoNumber takes a seed and an increment");
        if (arg(1, 1) != 1)
            return unsupported("AutoNumber increments other than 1 are not supported");
        if (arg(0, 1) < 1) return invalid("The AutoNumber seed must be at least 1");
        c.autoNumberSeed = static_cast<uint32_t>(arg(0, 1));
        return Status::success();
    }
    if (n == "DECIMAL" || n == "NUMERIC" || n == "DEC") {
        c.type = ColumnType::Decimal;
        c.precision = static_cast<uint8_t>(std::clamp<int64_t>(arg(0, 18), 0, 255));
        c.scale = static_cast<uint8_t>(std::clamp<int64_t>(arg(1, 0), 0, 255));
        return Status::success();
    }
    if (n == "LONGTEXT" || n == "MEMO" || n == "LONGCHAR" || n == "NOTE" || n == "NTEXT" ||
        ((n == "TEXT") && t.args.empty())) {
        c.type = ColumnType::Memo;
        return noArgs();
    }
    if (n == "TEXT" || n == "CHAR" || n == "VARCHAR" || n == "CHARACTER" ||
        n == "CHARACTER VARYING" || n == "CHAR VARYING" || n == "NCHAR" || n == "NVARCHAR" ||
        n == "NATIONAL CHAR" || n == "NATIONAL CHARACTER" || n == "ALPHANUMERIC" || n == "STRING") {
        c.type = ColumnType::Text;
        const int64_t size = arg(0, 255);
        if (size < 1 || size > 255)
            return invalid("The size of a TEXT field is 1 to 255 characters, not " +
                           std::to_string(size));
        c.size = static_cast<uint32_t>(size);
        return Status::success();
    }
    if (n == "BINARY" || n == "VARBINARY" || n == "BINARY VARYING" || n == "BIT VARYING") {
        c.type = ColumnType::Binary;
        const int64_t size = arg(0, 255);
        if (size < 1 || size > 510)
            return invalid("The size of a BINARY field is 1 to 510 bytes, not " +
                           std::to_string(size));
        c.size = static_cast<uint32_t>(size);
        return Status::success();
    }
    if (n == "LONGBINARY" || n == "OLEOBJECT" || n == "GENERAL" || n == "IMAGE") {
        c.type = ColumnType::Ole;
        return noArgs();
    }
    if (n == "BIGINT") {
        c.type = ColumnType::BigInt;
        return noArgs();
    }
    return unsupported("Fields of type " + n + " cannot be created");
}

std::vector<jet::IndexColumnSpec> columnsOf(const std::vector<accsql::Name>& names) {
    std::vector<jet::IndexColumnSpec> out;
    for (const auto& n : names) out.push_back({n.text, true});
    return out;
}

// A constraint that is an index (PRIMARY KEY, UNIQUE); NOT NULL marks
// columns required; relationships and CHECK are refused for now.
Status applyConstraint(const Constraint& k, std::vector<accsql::Name> columns, jet::TableSpec& spec,
                       bool columnLevel, std::vector<jet::Change::Relationship>& relationships) {
    switch (k.kind) {
        case Constraint::Kind::PrimaryKey:
        case Constraint::Kind::Unique: {
            jet::IndexSpec ix;
            const bool primary = k.kind == Constraint::Kind::PrimaryKey;
            ix.name =
                k.name
                    ? k.name->text
                    : (primary ? std::string("PrimaryKey")
                               : "Index_" + (columns.empty() ? std::string("") : columns[0].text));
            ix.columns = columnsOf(columns);
            ix.primaryKey = primary;
            ix.unique = !primary;
            for (const auto& ex : spec.indexes)
                if (sameName(ex.name, ix.name))
                    ix.name += "_" + std::to_string(spec.indexes.size());
            if (primary) {
                for (const auto& ex : spec.indexes)
                    if (ex.primaryKey)
                        return invalid("The table '" + spec.name + "' already has a primary key");
                for (auto& c : spec.columns)
                    for (const auto& n : columns)
                        if (sameName(c.name, n.text)) c.required = true;
            }
            spec.indexes.push_back(std::move(ix));
            return Status::success();
        }
        case Constraint::Kind::NotNull:
            for (auto& c : spec.columns)
                for (const auto& n : columns)
                    if (sameName(c.name, n.text)) c.required = true;
            return Status::success();
        case Constraint::Kind::ForeignKey: {
            (void)columnLevel;
            jet::Change::Relationship r;
            r.table = spec.name;
            for (const auto& n : columns) r.columns.push_back(n.text);
            r.referencedTable = k.references.table.text;
            for (const auto& n : k.references.columns) r.referencedColumns.push_back(n.text);
            using RA = accsql::RefAction;
            r.cascadeUpdates = k.references.onUpdate == RA::Cascade;
            r.cascadeDeletes = k.references.onDelete == RA::Cascade;
            r.cascadeNull = k.references.onDelete == RA::SetNull;
            if (k.references.onUpdate == RA::SetNull)
                return unsupported("ON UPDATE SET NULL is not supported; use CASCADE");
            r.name = k.name ? k.name->text : r.referencedTable + r.table;
            relationships.push_back(std::move(r));
            return Status::success();
        }
        case Constraint::Kind::Check:
            return unsupported("CHECK constraints are not supported");
    }
    return Status::success();
}

Result<jet::ColumnSpec> columnSpec(const accsql::ColumnDef& d, std::string_view sql) {
    jet::ColumnSpec c;
    c.name = d.name.text;
    c.compressedUnicode = d.compression;
    TAB_TRY(applyType(d.type, c));
    if (d.notNull) c.required = *d.notNull;
    if (d.defaultValue) {
        if (c.autoNumber) return invalid("An AutoNumber field cannot have a default value");
        const accsql::Span s = d.defaultValue->span;
        if (s.end() <= sql.size() && s.length > 0)
            c.defaultValue = std::string(sql.substr(s.offset, s.length));
    }
    return c;
}

Result<jet::TableSpec> tableSpec(const accsql::CreateTableStmt& st, std::string_view sql,
                                 std::vector<jet::Change::Relationship>& relationships) {
    jet::TableSpec spec;
    spec.name = st.table.text;
    for (const auto& d : st.columns) {
        TAB_ASSIGN_OR_RETURN(jet::ColumnSpec c, columnSpec(d, sql));
        spec.columns.push_back(std::move(c));
    }
    for (const auto& d : st.columns)
        for (const auto& k : d.constraints)
            TAB_TRY(applyConstraint(k, {d.name}, spec, true, relationships));
    for (const auto& k : st.constraints)
        TAB_TRY(applyConstraint(k, k.columns, spec, false, relationships));
    return spec;
}

}  // namespace

Result<jet::TableSpec> makeTableSpec(const accsql::WritePlan& plan) {
    jet::TableSpec spec;
    spec.name = plan.targets.at(0).table;
    for (const auto& rc : plan.columns) {
        jet::ColumnSpec c;
        c.name = rc.name;
        for (const auto& o : spec.columns)
            if (sameName(o.name, c.name))
                return invalid("The new table '" + spec.name + "' would have the field '" + c.name +
                               "' twice; give one of them another name with AS");
        c.type = columnTypeOf(rc.type);
        if (c.type == jet::ColumnType::Text) {
            if (rc.type == accsql::Type::Text && rc.size > 0 && rc.size <= 255)
                c.size = rc.size;
            else
                c.size = 255;
        }
        if (c.type == jet::ColumnType::Decimal) {
            c.precision = 28;
            c.scale = 10;
        }
        spec.columns.push_back(std::move(c));
    }
    return spec;
}

Result<int32_t> executeDdl(Connection& connection, const accsql::Statement& statement,
                           std::string_view sql, const QueryOptions& options) {
    if (!connection.isOpen())
        return Error(Errc::InvalidArgument,
                     "The connection is closed; open it before running a statement");
    jet::Database& db = *connection.database();
    jet::ChangeOptions co;
    co.durable = options.durable;
    if (options.now) co.objectDate = options.now();
    TAB_ASSIGN_OR_RETURN(auto change, jet::Change::begin(db, co));
    using K = accsql::StatementKind;
    switch (statement.kind) {
        case K::CreateTable: {
            const auto& st = std::get<accsql::CreateTableStmt>(statement.body);
            std::vector<jet::Change::Relationship> relationships;
            TAB_ASSIGN_OR_RETURN(jet::TableSpec spec, tableSpec(st, sql, relationships));
            TAB_TRY(change->createTable(spec));
            for (const auto& r : relationships) TAB_TRY(change->createRelationship(r));
            break;
        }
        case K::DropTable:
            TAB_TRY(change->dropTable(std::get<accsql::DropStmt>(statement.body).name.text));
            break;
        case K::CreateIndex: {
            const auto& st = std::get<accsql::CreateIndexStmt>(statement.body);
            jet::IndexSpec ix;
            ix.name = st.index.text;
            for (const auto& c : st.columns) ix.columns.push_back({c.name.text, !c.descending});
            ix.primaryKey = st.primary;
            ix.unique = st.unique;
            ix.required = st.disallowNull;
            ix.ignoreNulls = st.ignoreNull;
            TAB_TRY(change->createIndex(st.table.text, ix));
            break;
        }
        case K::DropIndex: {
            const auto& st = std::get<accsql::DropStmt>(statement.body);
            TAB_TRY(change->dropIndex(st.table.text, st.name.text));
            break;
        }
        case K::AlterTable: {
            const auto& st = std::get<accsql::AlterTableStmt>(statement.body);
            using A = accsql::AlterTableStmt::Action;
            // A table constraint, or the column's own constraints after it was added.
            auto constrain = [&](const Constraint& k, std::vector<accsql::Name> columns) -> Status {
                jet::TableSpec scratch;
                scratch.name = st.table.text;
                std::vector<jet::Change::Relationship> relationships;
                if (k.kind == Constraint::Kind::NotNull)
                    return unsupported("NOT NULL is given with the column (ALTER COLUMN)");
                TAB_TRY(applyConstraint(k, std::move(columns), scratch, false, relationships));
                for (const auto& ix : scratch.indexes)
                    TAB_TRY(change->createIndex(st.table.text, ix));
                for (const auto& r : relationships) TAB_TRY(change->createRelationship(r));
                return Status::success();
            };
            switch (st.action) {
                case A::AddColumn:
                case A::AlterColumn: {
                    TAB_ASSIGN_OR_RETURN(jet::ColumnSpec c, columnSpec(st.column, sql));
                    if (st.action == A::AddColumn)
                        TAB_TRY(change->addColumn(st.table.text, c));
                    else
                        TAB_TRY(change->alterColumn(st.table.text, c));
                    for (const auto& k : st.column.constraints)
                        if (k.kind != Constraint::Kind::NotNull)
                            TAB_TRY(constrain(k, {st.column.name}));
                    break;
                }
                case A::DropColumn:
                    TAB_TRY(change->dropColumn(st.table.text, st.name.text));
                    break;
                case A::AddConstraint:
                    TAB_TRY(constrain(st.constraint, st.constraint.columns));
                    break;
                case A::DropConstraint: {
                    // A relationship of that name, else an index.
                    Status st2 = change->dropRelationship(st.table.text, st.name.text);
                    if (!st2.ok() && st2.error().code() == Errc::NotFound)
                        st2 = change->dropIndex(st.table.text, st.name.text);
                    TAB_TRY(st2);
                    break;
                }
            }
            break;
        }
        case K::CreateView:
        case K::CreateProcedure: {
            const std::string name =
                statement.kind == K::CreateView
                    ? std::get<accsql::CreateViewStmt>(statement.body).view.text
                    : std::get<accsql::CreateProcedureStmt>(statement.body).procedure.text;
            TAB_ASSIGN_OR_RETURN(QueryDefinition q, buildQueryDefinition(statement, sql));
            TAB_TRY(change->createQuery(name, q.objectFlags, q.rows));
            break;
        }
        case K::DropView:
        case K::DropProcedure:
            TAB_TRY(change->dropQuery(std::get<accsql::DropStmt>(statement.body).name.text));
            break;
        default:
            return unsupported(std::string(accsql::statementKindName(statement.kind)) +
                               " statements are not supported yet");
    }
    TAB_TRY(change->commit());
    if (options.onCommit) options.onCommit(change->stats());
    return 0;
}

}  // namespace tab::ado::detail
