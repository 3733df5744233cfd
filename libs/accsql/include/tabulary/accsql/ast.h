// The syntax tree: what the statement says, names exactly as written and
// nothing resolved. The binder works on this and builds its own bound tree.
// Every node has the source span it came from.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tab::accsql {

struct Span {
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t end() const { return offset + length; }
};

enum class Delimiter : uint8_t { None, Bracket, Backquote };

// One name as written: the text between the delimiters, no case folding.
struct Name {
    std::string text;
    Delimiter delimiter = Delimiter::None;
    Span span;
    bool delimited() const { return delimiter != Delimiter::None; }
};

// table.column, Forms!frm!ctl: the names and the separator before each name
// after the first ('.' or '!').
struct QualifiedName {
    std::vector<Name> parts;
    std::vector<char> separators;  // parts.size() - 1 entries
};

struct NumberLiteral {
    std::string text;  // as written
    double value = 0;
    bool integral = false;            // no point, no exponent
    std::optional<int64_t> intValue;  // integral and within int64
};

struct DateLiteral {
    std::string text;  // between the # signs, as written
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
    bool hasDate = false;
    bool hasTime = false;
};

struct Query;
using QueryPtr = std::unique_ptr<Query>;
struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

enum class ExprKind : uint8_t {
    Number,
    String,
    Date,
    Guid,
    Boolean,  // True/False; Yes/No/On/Off (soft: a column of that name wins)
    Null,
    Name,    // a (qualified) name: column, alias or, unresolved, a parameter
    Param,   // ?
    SysVar,  // @@IDENTITY
    Call,    // f(args), Count(*)
    Unary,
    Binary,
    Between,
    InList,
    InQuery,
    IsNull,
    Like,
    Quantified,  // x op ANY/SOME/ALL (subquery)
    Exists,
    Subquery,  // scalar (SELECT ...)
};

enum class UnaryOp : uint8_t { Neg, Plus, Not, BNot };
enum class BinaryOp : uint8_t {
    Imp,
    Eqv,
    Xor,
    Or,
    And,
    BAnd,
    BOr,
    BXor,
    Eq,
    Ne,
    Lt,
    Gt,
    Le,
    Ge,
    Concat,
    Add,
    Sub,
    Mod,
    IntDiv,
    Mul,
    Div,
    Pow,
};
enum class Quantifier : uint8_t { Any, Some, All };

struct Expr {
    ExprKind kind;
    Span span;
    uint32_t height = 1;  // longest path to a leaf, bounded by Limits::maxDepth

    // Literals
    NumberLiteral number;
    std::string text;   // String value (quotes removed); Guid text; SysVar name; Boolean spelling
    char quote = '\'';  // String delimiter as written
    DateLiteral date;
    bool boolValue = false;
    bool softKeyword = false;  // Yes/No/On/Off: may be a column name

    QualifiedName name;       // Name; Call: the function name (a single name)
    uint32_t paramIndex = 0;  // Param: 1-based position among the ? markers
    bool star = false;        // Call: Count(*)

    UnaryOp unaryOp = UnaryOp::Neg;
    BinaryOp binaryOp = BinaryOp::Add;  // Binary; Quantified: the comparison
    Quantifier quantifier = Quantifier::Any;
    bool negated = false;  // Not Between / Not In / Is Not Null / Not Like
    bool alike = false;    // Like: ALike

    // Unary: [0]; Binary: [0] op [1]; Between: [0] between [1] and [2];
    // InList: [0] in ([1]...); InQuery/Quantified: [0]; IsNull/Like: [0] ([1]);
    // Call: the arguments.
    std::vector<ExprPtr> operands;
    QueryPtr query;  // InQuery, Quantified, Exists, Subquery

    explicit Expr(ExprKind k) : kind(k) {}
};

enum class SetQuantifier : uint8_t { Default, All, Distinct, DistinctRow };

struct Top {
    NumberLiteral count;
    bool percent = false;
    Span span;
};

struct SelectItem {
    enum class Kind : uint8_t { Star, TableStar, Expr } kind = Kind::Expr;
    QualifiedName table;  // TableStar
    ExprPtr expr;         // Expr
    std::optional<Name> alias;
    Span span;
};

enum class JoinType : uint8_t { Inner, Left, Right };

struct FromItem;
using FromItemPtr = std::unique_ptr<FromItem>;

struct FromItem {
    enum class Kind : uint8_t { Table, Derived, Join } kind = Kind::Table;
    Name table;  // Table
    // Table: the Access file named by IN after the table or the FROM list
    // (as written, relative to the open database's folder); empty: this one.
    std::string database;
    QueryPtr query;             // Derived
    std::optional<Name> alias;  // Table (optional), Derived (required)
    bool aliasWithAs = false;
    JoinType join = JoinType::Inner;  // Join
    bool outerKeyword = false;        // LEFT OUTER JOIN as written
    FromItemPtr left, right;          // Join
    ExprPtr on;                       // Join
    Span span;
};

struct OrderItem {
    ExprPtr expr;
    bool descending = false;
    bool explicitDirection = false;  // ASC or DESC written
    Span span;
};

struct SelectCore {
    SetQuantifier quantifier = SetQuantifier::Default;
    std::optional<Top> top;
    std::vector<SelectItem> items;
    std::optional<Name> into;  // SELECT ... INTO name (make-table)
    std::vector<FromItemPtr> from;
    ExprPtr where;
    std::vector<ExprPtr> groupBy;
    ExprPtr having;
    Span span;
};

// One operand of a union: a SELECT, TABLE name, or a parenthesised union.
struct QueryTerm {
    enum class Kind : uint8_t { Select, Table, Nested } kind = Kind::Select;
    std::unique_ptr<SelectCore> select;
    Name table;
    QueryPtr nested;
    Span span;
};

struct Transform {
    ExprPtr aggregate;
    std::optional<Name> alias;
    ExprPtr pivot;
    bool hasInList = false;
    std::vector<ExprPtr> inList;
    Span span;
};

struct Query {
    std::vector<QueryTerm> terms;  // at least one
    std::vector<bool> unionAll;    // terms.size() - 1 entries
    std::vector<OrderItem> orderBy;
    bool ownerAccess = false;            // WITH OWNERACCESS OPTION
    std::optional<Transform> transform;  // then terms is one Select
    uint32_t height = 1;
    Span span;
};

// Type names of DDL and PARAMETERS, normalised to upper-case words with single
// spaces ("DOUBLE PRECISION"), the arguments as written.
struct TypeName {
    std::string name;
    std::vector<int64_t> args;  // TEXT(50), DECIMAL(10, 2), COUNTER(1, 1)
    Span span;
};

struct ParamDecl {
    Name name;
    TypeName type;
    Span span;
};

enum class RefAction : uint8_t { None, Cascade, SetNull, NoAction };

struct References {
    Name table;
    std::vector<Name> columns;
    RefAction onUpdate = RefAction::None;
    RefAction onDelete = RefAction::None;
};

struct Constraint {
    enum class Kind : uint8_t { PrimaryKey, Unique, NotNull, ForeignKey, Check } kind;
    std::optional<Name> name;
    std::vector<Name> columns;  // table constraints; empty for column constraints
    bool noIndex = false;       // FOREIGN KEY NO INDEX
    References references;      // ForeignKey (also REFERENCES on a column)
    ExprPtr check;
    Span span;
};

struct ColumnDef {
    Name name;
    TypeName type;
    std::optional<bool> notNull;  // NOT NULL / NULL written
    ExprPtr defaultValue;
    bool compression = false;  // WITH COMPRESSION / WITH COMP
    std::vector<Constraint> constraints;
    Span span;
};

struct IndexColumn {
    Name name;
    bool descending = false;
    bool explicitDirection = false;
};

enum class StatementKind : uint8_t {
    Select,      // row-returning query, also UNION and TRANSFORM
    SelectInto,  // make-table
    Insert,
    Update,
    Delete,
    CreateTable,
    AlterTable,
    CreateIndex,
    DropTable,
    DropIndex,
    DropView,
    DropProcedure,
    CreateView,
    CreateProcedure,
    Execute,
    Transaction,  // BEGIN TRANSACTION, COMMIT, ROLLBACK
};

struct Statement;
using StatementPtr = std::unique_ptr<Statement>;

struct InsertStmt {
    Name table;
    std::vector<Name> columns;
    bool hasColumnList = false;
    std::vector<ExprPtr> values;  // INSERT ... VALUES
    QueryPtr query;               // INSERT ... SELECT
};

struct Assignment {
    QualifiedName column;
    ExprPtr value;
    Span span;
};

struct UpdateStmt {
    bool distinctRow = false;
    FromItemPtr target;
    std::vector<Assignment> assignments;
    ExprPtr where;
};

struct DeleteStmt {
    bool distinctRow = false;
    bool star = false;                  // DELETE * FROM
    std::vector<QualifiedName> tables;  // DELETE t.* , u.* FROM
    std::vector<FromItemPtr> from;
    ExprPtr where;
};

struct CreateTableStmt {
    bool temporary = false;
    Name table;
    std::vector<ColumnDef> columns;
    std::vector<Constraint> constraints;
};

struct AlterTableStmt {
    enum class Action : uint8_t {
        AddColumn,
        AlterColumn,
        DropColumn,
        AddConstraint,
        DropConstraint
    } action;
    Name table;
    bool columnKeyword = false;
    ColumnDef column;       // AddColumn, AlterColumn
    Name name;              // DropColumn, DropConstraint
    Constraint constraint;  // AddConstraint
};

struct CreateIndexStmt {
    bool unique = false;
    Name index;
    Name table;
    std::vector<IndexColumn> columns;
    bool primary = false, disallowNull = false, ignoreNull = false;
};

struct DropStmt {
    Name name;
    Name table;  // DROP INDEX name ON table
};

struct CreateViewStmt {
    Name view;
    std::vector<Name> columns;
    QueryPtr query;
};

struct CreateProcedureStmt {
    Name procedure;
    std::vector<ParamDecl> params;
    bool parenthesised = false;
    StatementPtr body;
};

struct ExecuteStmt {
    bool shortForm = false;  // EXEC
    Name procedure;
    std::vector<ExprPtr> args;
};

struct TransactionStmt {
    enum class Kind : uint8_t { Begin, Commit, Rollback } kind = Kind::Begin;
    std::string trailer;  // TRANSACTION / WORK as written in upper case, or empty
};

struct Statement {
    StatementKind kind = StatementKind::Select;
    std::vector<ParamDecl> parameters;  // PARAMETERS ...;
    bool hasParameters = false;
    QueryPtr query;  // Select, SelectInto
    std::variant<std::monostate, InsertStmt, UpdateStmt, DeleteStmt, CreateTableStmt,
                 AlterTableStmt, CreateIndexStmt, DropStmt, CreateViewStmt, CreateProcedureStmt,
                 ExecuteStmt, TransactionStmt>
        body;
    uint32_t paramMarkers = 0;  // number of ? markers
    Span span;
};

// True for statements that produce a result set (SELECT, UNION, TRANSFORM);
// false for make-table, actions, DDL and transactions. EXECUTE is false here:
// whether it returns rows depends on the saved query, which the caller looks up.
bool returnsRows(const Statement& s);

const char* statementKindName(StatementKind k);
// The operator as Access SQL spells it: "=", "<>", "MOD", "&", ...
const char* binaryOpText(BinaryOp op);

}  // namespace tab::accsql
