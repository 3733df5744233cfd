// The translator's state and the steps its files share. Access SQL syntax
// tree -> one SQLite SELECT. Names are resolved level by level (select-list
// aliases, then the level's sources, then enclosing levels); whatever stays
// unresolved is a parameter. Every expression is emitted together with its
// static Access type, which decides conversions, collations and the text
// form of values.
//
//   translator.cpp             entry points, statements, errors, saved queries
//   translate_select.cpp       one SELECT clause by clause, UNION, grouping rules
//   translate_crosstab.cpp     TRANSFORM ... PIVOT cells and their headings
//   translate_from.cpp         FROM: tables, saved queries, derived tables, joins
//   translate_names.cpp        aliases, columns, tables, parameters
//   translate_expressions.cpp  literals, operators, predicates, conversions
//   translate_functions.cpp    VBA function calls and aggregates
//   translate_write.cpp        INSERT, UPDATE, DELETE, SELECT ... INTO as write plans
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tabulary/accsql/ast.h"
#include "tabulary/accsql/translate.h"

namespace tab::accsql {
struct FunctionSpec;
}

namespace tab::accsql::translation {

// Thrown by every step; translate() turns it into the result's error.
struct Failure {
    Error error;
};

std::string lower(std::string_view s);
// Access compares names without regard to case.
bool sameName(std::string_view a, std::string_view b);

// A translated expression.
struct Tx {
    std::string sql;
    Type type = Type::Variant;
    bool pred = false;    // sql is an SQLite truth value (1/0/NULL); as a value it is -(sql)
    bool column = false;  // a plain column reference (carries the column's collation)
    bool agg = false;     // contains an aggregate of the current level
    bool constant = false;
    uint32_t size = 0;
    bool uniqueKey = false;  // column: SourceColumn::uniqueKey
    std::string columnName;  // column: the stored name
    std::string sourceName;  // column: the exposed name of its source
    const void* level = nullptr;
    bool local = false;  // uses a column of its own query level
    bool outer = false;  // uses a column of an enclosing level
    char chain = 0;      // sql is "(a op b op ...)", a left-to-right chain of op
};

inline std::string val(const Tx& t) {
    return t.pred ? "(-" + t.sql + ")" : t.sql;
}
inline std::string cond(const Tx& t) {
    return t.sql;
}

// Expression pieces that need no translator state.
Tx lit(std::string sql, Type type);
void merge(Tx& into, const Tx& from);
// A numeric operand: Yes/No as -1/0, exact decimals and Currency as REAL,
// text converted.
std::string num(const Tx& t);
// t's value held as type `to` holds it: Currency is held in ten-thousandths
// (an exact integer), every other number as itself.
std::string as(const Tx& t, Type to);
// An operand of a function that takes any value: Currency in its own units.
std::string plain(const Tx& t);
std::string textOf(const Tx& t);
// Both sides of a comparison in a form SQLite compares as Access does.
std::pair<std::string, std::string> comparable(const Tx& a, const Tx& b);
// Keys that make text sort and group as Access does.
std::string sortSql(const Tx& t);

struct Col {
    std::string name;
    Type type = Type::Variant;
    uint32_t size = 0;
    std::string sql;  // name within the source
    bool uniqueKey = false;
};

struct Source {
    std::string exposed;  // alias, or the table's stored name
    std::string alias;    // private SQL alias
    std::vector<Col> cols;
    bool rowid = false;
    std::string object;    // the stored name of the table or saved query read; empty: derived
    std::string database;  // IN 'file': read from that file, never changed
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
    // Indices into `sources` of every column resolved here, in order, so a
    // JOIN can see what its ON used; and the sources an outer join below
    // may fill with Nulls.
    mutable std::vector<size_t> referenced;
    std::vector<bool> nullable;
};

struct QOut {
    std::string sql;
    std::vector<ResultColumn> cols;
    bool simple = true;  // usable as one part of a compound SELECT
};

// One output column of a SELECT.
struct Item {
    Tx tx;
    std::string name;
    bool qualifyOnClash = false;
};

struct SortKey {
    std::string sql;
    bool desc;
    bool unique = false;  // no two result rows tie on it
};

// What one SELECT gathers clause by clause before its SQL is put together.
struct SelectParts {
    SelectParts(const SelectCore& c, const std::vector<OrderItem>* o, const Transform* tr)
        : core(c), order(o), transform(tr) {}

    const SelectCore& core;
    const std::vector<OrderItem>* order;
    const Transform* transform;
    Level level;
    bool grouped = false;
    std::vector<std::string> from;
    std::string where;
    std::vector<Tx> groups;
    std::vector<Item> items;
    std::string having;
    std::vector<SortKey> keys;
};

class Translator {
public:
    Translator(std::string_view text, const Catalog& catalog, const TranslateOptions& options)
        : m_text(text), m_catalog(catalog), m_options(options) {}

    Translation statement(const Statement& s);
    WritePlan write(const Statement& s);

private:
    // translator.cpp: errors, parameters left over, saved queries
    [[noreturn]] void fail(Span span, const std::string& message,
                           Errc code = Errc::InvalidArgument) const;
    std::string source(Span span) const;
    [[noreturn]] void missingParameters(int markers);
    QOut executeSaved(const ExecuteStmt& ex);
    QOut view(const CatalogEntry& entry, Span span);
    std::string newAlias() { return "s" + std::to_string(++m_aliasCounter); }

    // translate_select.cpp: queries, UNION and one SELECT
    QOut query(const Query& q, Level* outer);
    QOut unionQuery(const Query& q, Level* outer);
    size_t unionOrderColumn(const OrderItem& o, const std::vector<ResultColumn>& cols);
    QOut term(const QueryTerm& t, Level* outer, const std::vector<OrderItem>* order);
    QOut core(const SelectCore& c, Level* outer, const std::vector<OrderItem>* order,
              const Transform* tr = nullptr);
    void fromClause(SelectParts& s);
    void whereClause(SelectParts& s);
    void groupByClause(SelectParts& s);
    void selectList(SelectParts& s);
    void starItems(const SelectItem& it, SelectParts& s);
    Item exprItem(const SelectItem& it, SelectParts& s, size_t& slot, int& exprCounter);
    void havingClause(SelectParts& s);
    void orderByClause(SelectParts& s);
    SortKey orderKey(const OrderItem& o, SelectParts& s);
    std::vector<ResultColumn> outputColumns(const std::vector<Item>& items) const;
    std::string selectSql(const SelectParts& s, bool withKeys) const;
    std::string groupByHavingSql(SelectParts& s);
    std::string topSql(const Top& top, const std::string& sql, const SelectParts& s,
                       bool withOrder) const;
    std::string distinctRowGroups(const Level& L, const std::vector<Item>& items);
    void checkGrouped(const Tx& t, const std::vector<Tx>& groups, Span span,
                      const std::string& text);
    void checkGroupedExpr(const Expr& e, Level& L, const std::vector<Tx>& groups);

    // translate_crosstab.cpp
    void pivotCells(const Transform& tr, const SelectCore& c, Level& L,
                    const std::vector<std::string>& fromSql, const std::string& where,
                    std::vector<Item>& items);
    std::vector<PivotValue> fixedHeadings(const Transform& tr, const Tx& pivot, Level& L);
    std::vector<PivotValue> probedHeadings(const Tx& pivot, const std::string& from,
                                           const std::string& where);

    // translate_from.cpp
    std::string fromItem(const FromItem& f, Level& L);
    std::string tableSource(const FromItem& f, Level& L);
    std::string derivedTable(const FromItem& f, Level& L);
    std::string join(const FromItem& f, Level& L);
    void addSource(Level& L, Source s, Span span);
    Source derivedSource(const QOut& q, std::string exposed);

    // translate_names.cpp
    void addParameter(const std::string& key, const std::string& shown,
                      uint32_t offset = UINT32_MAX);
    Tx columnTx(const Source& s, const Col& c, const Level& L, bool outer = false);
    int findSlot(Level& L, const Expr& e);
    Tx slotTx(Level& L, int index, Span useSpan);
    const Col* findColumn(const Source& s, std::string_view name);
    Tx name(const Expr& e, Level& L);
    Tx aliasReference(const Expr& e, Level& L, int slot);
    std::optional<Tx> unqualifiedColumn(const Expr& e, Level& L);
    std::optional<Tx> qualifiedColumn(const Expr& e, Level& L);
    Tx parameter(const Expr& e);

    // translate_expressions.cpp
    Tx expr(const Expr& e, Level& L);
    Tx exprKind(const Expr& e, Level& L);
    Tx softKeyword(const Expr& e, Level& L);
    Tx between(const Expr& e, Level& L);
    Tx inList(const Expr& e, Level& L);
    Tx inQuery(const Expr& e, Level& L);
    Tx quantified(const Expr& e, Level& L);
    Tx scalarSubquery(const Expr& e, Level& L);
    QOut subquery(const Query& q, Level& L, Span span);
    Tx unary(const Expr& e, Level& L);
    void flattenConcat(const Expr& e, Level& L, std::vector<Tx>& out);
    Tx concat(const Expr& e, Level& L);
    Tx binary(const Expr& e, Level& L);
    Tx comparison(const Expr& e, const Tx& a, const Tx& b);

    // translate_functions.cpp
    Tx call(const Expr& e, Level& L);
    std::optional<Tx> specialForm(const std::string& key, const Expr& e,
                                  const std::vector<Tx>& args, Tx t);
    Tx aggregate(const Expr& e, const FunctionSpec& f, Level& L);

    // translate_write.cpp
    void insertPlan(const InsertStmt& ins, WritePlan& plan);
    void updatePlan(const UpdateStmt& u, WritePlan& plan);
    void deletePlan(const DeleteStmt& d, WritePlan& plan);
    void selectIntoPlan(const Query& q, WritePlan& plan);
    CatalogEntry outputTable(const Name& table);
    void refuseNonTable(const Name& name, const char* verb);
    void checkWritable(const Source& s, Span span, const char* verb);
    std::string writeWhere(const Expr* where, Level& L);
    size_t setTarget(const Assignment& a, Level& L, const Col*& col);

    std::string_view m_text;
    const Catalog& m_catalog;
    const TranslateOptions& m_options;
    // Parameters are listed in the order they are written; those of saved
    // queries come after the statement's own.
    std::vector<std::string> m_params;
    std::vector<std::string> m_paramKeys;
    std::vector<uint32_t> m_paramOffsets;
    std::vector<std::string> m_viewStack;
    int m_aliasCounter = 0;
};

}  // namespace tab::accsql::translation
