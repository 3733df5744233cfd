// The translator: a parsed row-returning statement, with its names resolved
// against a catalogue, becomes one SQLite SELECT over the tables' virtual
// tables plus the Access name and type of every result column.
//
// Conventions of the emitted SQL (the functions and the collation are the
// ones registered by the SQLite bridge):
// - every source gets a private alias, every column reference is qualified;
// - Yes/No values and comparison results used as values are -1/0;
// - text operands that are not plain columns compare with COLLATE ACC_TEXT;
// - operators and VBA functions become acc_* calls where SQLite differs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/accsql/ast.h"
#include "tabulary/base/error.h"

namespace tab::accsql {

// Static Access types of expressions (Variant: decided per value at run time).
enum class Type : uint8_t {
    Null,
    Boolean,
    Byte,
    Integer,
    Long,
    BigInt,
    Single,
    Double,
    Currency,
    Decimal,
    Date,
    Text,
    Memo,
    Binary,
    LongBinary,
    Guid,
    Variant,
};

// The type tag the acc_* text functions take ('bool', 'date', ...).
const char* typeTag(Type type);
const char* typeName(Type type);

struct SourceColumn {
    std::string name;  // as stored
    Type type = Type::Text;
    uint32_t size = 0;  // Text: characters
    // No two rows share a value and none is Null (integers only, so that
    // SQLite's equality is the index's).
    bool uniqueKey = false;
};

// What a name in FROM stands for.
struct CatalogEntry {
    enum class Kind : uint8_t {
        Table,  // a table attached as a virtual table
        View,   // a saved select or union query without parameters
        Other,  // any other saved query or object: not usable as a source
    };
    Kind kind = Kind::Table;
    std::string name;  // as stored
    // Table
    std::string sqliteName;
    std::vector<SourceColumn> columns;
    // View: the saved query's SQL
    std::string sql;
    // Other: why it cannot be read, e.g. "'Add Orders' is an append query"
    std::string reason;
};

class Catalog {
public:
    virtual ~Catalog() = default;
    // Case-insensitive lookup; nullopt when the database has no such object.
    virtual std::optional<CatalogEntry> find(std::string_view name) const = 0;
    // A table of another Access file (IN 'file'); Other with the reason when
    // the file or the table cannot be read.
    virtual std::optional<CatalogEntry> findIn(std::string_view database,
                                               std::string_view name) const {
        CatalogEntry e;
        e.kind = CatalogEntry::Kind::Other;
        e.name = std::string(name);
        e.reason =
            "Tables of another database (IN '" + std::string(database) + "') cannot be read here";
        return e;
    }
};

struct ResultColumn {
    std::string name;  // the caption: alias, field name, Expr1000, Table.Field
    Type type = Type::Variant;
    uint32_t size = 0;
};

// Crosstab column values found by running a probe query of two columns:
// the value as an SQLite literal (quote()) and its heading text.
struct PivotValue {
    std::string literal;
    std::string heading;  // Null gives "<>"
    bool null = false;
};
using PivotProbe = std::function<Result<std::vector<PivotValue>>(const std::string& sqliteSql)>;

struct TranslateOptions {
    PivotProbe pivotProbe;       // needed for TRANSFORM without IN (...)
    uint32_t maxViewDepth = 50;  // saved queries inside saved queries
};

struct Translation {
    std::string sql;
    std::vector<ResultColumn> columns;
};

// Errors name the statement position ("at line L, column C") or the object.
// Statements that change the database are refused with an Unsupported error.
Result<Translation> translate(const Statement& statement, std::string_view sqlText,
                              const Catalog& catalog, const TranslateOptions& options = {});

// Parses and translates.
Result<Translation> translateSql(std::string_view sqlText, const Catalog& catalog,
                                 const TranslateOptions& options = {});

// The refusal for statements that change the file when they are to be read
// as rows.
Error writeNotSupported(StatementKind kind);

// A statement that changes rows (INSERT, UPDATE, DELETE, SELECT ... INTO),
// as one SQLite SELECT over the virtual tables whose rows say what to do:
// - Insert: each row is one new row; column j goes to targets[0].columns[j].
// - Update: each row names, per target, the row to change (its rowid column)
//   and the new values of the assigned columns (the old values of every
//   column are what the expressions see, as in Access). A joined UPDATE may
//   assign columns of several tables: one target each.
// - Delete: each row names the rows to delete (one rowid column per table
//   deleted from); a row may be named more than once.
// - Update, Delete: across an outer join a target's rowid is Null where that
//   side has no row; such a row changes nothing in that table.
// - SelectInto: each row is one row of the new table, whose columns are the
//   result columns (names and types as a SELECT would give them).
struct WriteTarget {
    std::string table;     // as stored; SelectInto: the new table's name as written
    int rowidColumn = -1;  // Update, Delete: the SELECT column holding the rowid
    struct Assigned {
        std::string column;  // as stored
        int selectColumn = 0;
    };
    std::vector<Assigned> columns;  // Insert, Update
};

struct WritePlan {
    StatementKind kind = StatementKind::Insert;
    std::string sql;                    // the SQLite SELECT
    std::vector<ResultColumn> columns;  // every SELECT column, typed as for a SELECT
    std::vector<WriteTarget> targets;
};

// Errors as translate() gives them; names that are not tables (a saved query,
// a linked table) cannot be written to and say so.
Result<WritePlan> translateWrite(const Statement& statement, std::string_view sqlText,
                                 const Catalog& catalog, const TranslateOptions& options = {});

}  // namespace tab::accsql
