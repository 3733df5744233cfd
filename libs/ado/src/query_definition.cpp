#include "query_definition.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>

#include "tabulary/accsql/lexer.h"
#include "tabulary/base/case_fold.h"

namespace tab::ado {
namespace {

using accsql::Expr;
using accsql::ExprKind;
using accsql::FromItem;
using accsql::Name;
using accsql::Query;
using accsql::QueryTerm;
using accsql::SelectCore;
using accsql::SelectItem;
using accsql::Span;
using accsql::Statement;
using accsql::StatementKind;
using jet::QueryKind;
using jet::QueryRow;
using Text = std::optional<std::string>;

// MSysQueries attributes.
constexpr uint8_t kAttrStart = 0, kAttrType = 1, kAttrParameter = 2, kAttrOptions = 3,
                  kAttrTable = 5, kAttrColumn = 6, kAttrJoin = 7, kAttrWhere = 8, kAttrGroupBy = 9,
                  kAttrHaving = 10, kAttrOrderBy = 11, kAttrEnd = 255;

// Flag bits of the attribute-3 row.
constexpr int kOptAllFields = 0x01, kOptDistinct = 0x02, kOptOwnerAccess = 0x04,
              kOptDistinctRow = 0x08, kOptTop = 0x10, kOptPercent = 0x20;
// Union queries: the reader takes 0x02 for UNION; Access-made files hold 0x01
// for UNION ALL.
constexpr int kOptUnion = 0x02, kOptUnionAll = 0x01;
// Attribute 6 and 9 in crosstab queries.
constexpr int16_t kCrosstabPivot = 0x01, kCrosstabRowHeading = 0x02;
// Attribute 6 in append queries: the row is a VALUES item.
constexpr int16_t kAppendValue = -0x8000;

constexpr std::string_view kUnionPart1 = "X7YZ_____1", kUnionPart2 = "X7YZ_____2";
// Name1 and Name2 are Text (255) columns.
constexpr size_t kMaxNameUnits = 255;

int16_t typeCode(QueryKind k) {
    switch (k) {
        case QueryKind::Select:
            return 1;
        case QueryKind::MakeTable:
            return 2;
        case QueryKind::Append:
            return 3;
        case QueryKind::Update:
            return 4;
        case QueryKind::Delete:
            return 5;
        case QueryKind::Crosstab:
            return 6;
        case QueryKind::DataDefinition:
            return 7;
        case QueryKind::PassThrough:
            return 8;
        case QueryKind::Union:
            return 9;
        case QueryKind::Unknown:
            break;
    }
    return 0;
}

// MSysObjects Flags & 0xF0.
uint32_t objectFlagsOf(QueryKind k) {
    switch (k) {
        case QueryKind::Crosstab:
            return 0x10;
        case QueryKind::Delete:
            return 0x20;
        case QueryKind::Update:
            return 0x30;
        case QueryKind::Append:
            return 0x40;
        case QueryKind::MakeTable:
            return 0x50;
        case QueryKind::DataDefinition:
            return 0x60;
        case QueryKind::PassThrough:
            return 0x70;
        case QueryKind::Union:
            return 0x80;
        default:
            return 0;
    }
}

// Parameter types by their SQL names (as the parser normalises them) and the
// column type code Access keeps in the Flag of the parameter row.
struct ParameterType {
    std::string_view name;
    int16_t code;
};
constexpr ParameterType kParameterTypes[] = {
    {"BIT", 1},
    {"YESNO", 1},
    {"LOGICAL", 1},
    {"LOGICAL1", 1},
    {"BOOLEAN", 1},
    {"BYTE", 2},
    {"TINYINT", 2},
    {"INTEGER1", 2},
    {"SHORT", 3},
    {"SMALLINT", 3},
    {"INTEGER2", 3},
    {"LONG", 4},
    {"INTEGER", 4},
    {"INT", 4},
    {"INTEGER4", 4},
    {"CURRENCY", 5},
    {"MONEY", 5},
    {"SINGLE", 6},
    {"REAL", 6},
    {"FLOAT4", 6},
    {"IEEESINGLE", 6},
    {"DOUBLE", 7},
    {"DOUBLE PRECISION", 7},
    {"FLOAT", 7},
    {"FLOAT8", 7},
    {"IEEEDOUBLE", 7},
    {"NUMBER", 7},
    {"DATETIME", 8},
    {"DATE", 8},
    {"TIME", 8},
    {"BINARY", 9},
    {"VARBINARY", 9},
    {"BINARY VARYING", 9},
    {"BIT VARYING", 9},
    {"TEXT", 10},
    {"CHAR", 10},
    {"CHARACTER", 10},
    {"VARCHAR", 10},
    {"CHAR VARYING", 10},
    {"CHARACTER VARYING", 10},
    {"NCHAR", 10},
    {"NVARCHAR", 10},
    {"NATIONAL CHAR", 10},
    {"NATIONAL CHARACTER", 10},
    {"NATIONAL CHAR VARYING", 10},
    {"NATIONAL CHARACTER VARYING", 10},
    {"ALPHANUMERIC", 10},
    {"STRING", 10},
    {"LONGBINARY", 11},
    {"OLEOBJECT", 11},
    {"GENERAL", 11},
    {"IMAGE", 11},
    {"LONGTEXT", 12},
    {"MEMO", 12},
    {"LONGCHAR", 12},
    {"NOTE", 12},
    {"NTEXT", 12},
    {"GUID", 15},
    {"UNIQUEIDENTIFIER", 15},
    {"DECIMAL", 16},
    {"NUMERIC", 16},
    {"DEC", 16},
};
constexpr int16_t kTextParameter = 10;

Error refuse(const std::string& what) {
    return Error(Errc::Unsupported, what);
}
Error invalid(const std::string& what) {
    return Error(Errc::InvalidArgument, what);
}

std::string quoted(std::string_view s) {
    return "\"" + std::string(s) + "\"";
}

bool sameName(std::string_view a, std::string_view b) {
    return equalsIgnoringCase(a, b);
}

// The characters the reader leaves unbracketed when it writes a name back.
bool isPlainNameChar(unsigned char c) {
    return c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z') || c == '_';
}

size_t utf16Units(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) ++n;
        if (c >= 0xF0) ++n;  // outside the BMP: a surrogate pair
    }
    return n;
}

// Runs of blanks as one space, none at the ends.
std::string collapsed(std::string_view s) {
    std::string out;
    bool blank = false;
    for (char c : s) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

// A name as written in the statement, brackets kept: the form Access keeps
// in the SET rows of update queries.
std::string writtenName(const Name& n) {
    return n.delimited() ? "[" + n.text + "]" : n.text;
}

// The table qualifiers (t of t.col) an expression refers to, in text order;
// subqueries have their own tables and are left out.
void qualifiers(const Expr& e, std::vector<std::string_view>& out) {
    if (e.kind == ExprKind::Name && e.name.parts.size() >= 2 && !e.name.separators.empty() &&
        e.name.separators[0] == '.')
        out.push_back(e.name.parts[0].text);
    for (const auto& o : e.operands)
        if (o) qualifiers(*o, out);
}

void andOperands(const Expr& e, std::vector<const Expr*>& out) {
    if (e.kind == ExprKind::Binary && e.binaryOp == accsql::BinaryOp::And &&
        e.operands.size() == 2 && e.operands[0] && e.operands[1]) {
        andOperands(*e.operands[0], out);
        andOperands(*e.operands[1], out);
        return;
    }
    out.push_back(&e);
}

struct Condition {
    const Expr* expr;
    std::string text;
};

// What a select list's items become besides their expressions.
struct Outputs {
    const std::vector<Name>* aliases = nullptr;  // a view's column list
    const std::vector<Name>* targets = nullptr;  // an INSERT's column list
    int16_t flag = 0;                            // crosstab row headings
};

class Builder {
public:
    explicit Builder(std::string_view sql) : m_sql(sql) {}

    Result<QueryDefinition> run(const Statement& st) {
        if (st.paramMarkers > 0)
            return refuse(
                "a saved query cannot hold ? parameter markers; declare named parameters "
                "instead");
        m_madeByDdl =
            st.kind == StatementKind::CreateView || st.kind == StatementKind::CreateProcedure;
        if (st.kind == StatementKind::CreateView) {
            const auto* cv = std::get_if<accsql::CreateViewStmt>(&st.body);
            if (!cv || !cv->query) return invalid("CREATE VIEW without its SELECT");
            if (st.hasParameters)
                return invalid("a view cannot have parameters; use CREATE PROCEDURE");
            TAB_TRY(rowQuery(*cv->query, cv->columns));
        } else if (st.kind == StatementKind::CreateProcedure) {
            const auto* cp = std::get_if<accsql::CreateProcedureStmt>(&st.body);
            if (!cp || !cp->body) return invalid("CREATE PROCEDURE without its statement");
            if (st.hasParameters || cp->body->hasParameters)
                return invalid(
                    "declare a procedure's parameters in its own list, not with PARAMETERS");
            TAB_TRY(parameters(cp->params));
            TAB_TRY(statement(*cp->body));
        } else {
            TAB_TRY(parameters(st.parameters));
            TAB_TRY(statement(st));
        }
        return finish();
    }

private:
    void add(uint8_t attribute, Text name1, Text name2, Text expression, int16_t flag = 0,
             std::optional<int32_t> extra = {}) {
        QueryRow r;
        r.attribute = attribute;
        const uint32_t n = ++m_count[attribute];
        r.order = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                   static_cast<char>(n >> 8), static_cast<char>(n)};
        r.name1 = std::move(name1);
        r.name2 = std::move(name2);
        r.expression = std::move(expression);
        r.flag = flag;
        r.lvExtra = extra;
        m_rows.push_back(std::move(r));
    }

    Result<std::string> slice(Span s) const {
        if (s.length == 0 || s.offset > m_sql.size() || s.length > m_sql.size() - s.offset)
            return invalid("the statement's positions do not match its SQL text");
        return std::string(m_sql.substr(s.offset, s.length));
    }
    Result<std::string> text(const Expr* e) const {
        if (!e) return invalid("an expression is missing from the statement");
        return slice(e->span);
    }

    // An expression written as "( ... )", the parentheses matching each other.
    bool parenthesised(Span s) const {
        const auto toks = accsql::tokenize(m_sql, s.offset, s.end());
        if (toks.size() < 3 || toks.back().kind != accsql::TokenKind::End) return false;
        int depth = 0;
        for (size_t i = 0; i + 1 < toks.size(); ++i) {
            if (toks[i].kind == accsql::TokenKind::LParen) ++depth;
            if (toks[i].kind == accsql::TokenKind::RParen) --depth;
            if (depth == 0 && i + 2 < toks.size()) return false;
        }
        return depth == 0 && toks.front().kind == accsql::TokenKind::LParen;
    }

    // ---- names --------------------------------------------------------------

    // Names go in the name columns without brackets; the reader brackets them
    // again only when they hold characters other than letters, digits and _.
    static Status checkName(std::string_view name, const std::string& what) {
        if (name.empty()) return invalid(what + " without a name");
        if (name.find_first_of("[]") != std::string_view::npos)
            return refuse(what + " " + quoted(name) +
                          ": a saved query cannot keep brackets inside a name");
        if (utf16Units(name) > kMaxNameUnits)
            return refuse(what + " " + quoted(name.substr(0, 40)) +
                          "... is longer than the 255 characters a saved query keeps");
        if (std::all_of(name.begin(), name.end(),
                        [](char c) { return isPlainNameChar(static_cast<unsigned char>(c)); }) &&
            !accsql::isRegularIdentifier(name))
            return refuse(what + " " + quoted(name) +
                          " would read back without brackets, as a reserved word or a number");
        return Status::success();
    }
    // Table names: the reader splits stored names at periods.
    static Status checkObjectName(std::string_view name, const std::string& what) {
        TAB_TRY(checkName(name, what));
        if (name.find('.') != std::string_view::npos)
            return refuse(what + " " + quoted(name) +
                          " has a period, which a saved query reads as a qualifier");
        return Status::success();
    }

    // ---- statements -----------------------------------------------------------

    Status parameters(const std::vector<accsql::ParamDecl>& params) {
        std::vector<std::string> seen;
        for (const auto& p : params) {
            TAB_TRY(checkName(p.name.text, "parameter"));
            const std::string key = foldedCase(p.name.text);
            if (std::find(seen.begin(), seen.end(), key) != seen.end())
                return invalid("parameter " + quoted(p.name.text) + " is declared twice");
            seen.push_back(key);
            const ParameterType* type = nullptr;
            for (const auto& t : kParameterTypes)
                if (t.name == p.type.name) type = &t;
            if (!type)
                return refuse("parameter " + quoted(p.name.text) + ": type " + p.type.name +
                              " cannot be declared in a saved query");
            std::optional<int32_t> size;
            if (!p.type.args.empty()) {
                if (type->code != kTextParameter)
                    return refuse("parameter " + quoted(p.name.text) +
                                  ": a saved query keeps no size or precision for " + p.type.name +
                                  " parameters");
                if (p.type.args.size() != 1 || p.type.args[0] < 1 || p.type.args[0] > 255)
                    return invalid("parameter " + quoted(p.name.text) +
                                   ": a text size is a number from 1 to 255");
                size = static_cast<int32_t>(p.type.args[0]);
            }
            add(kAttrParameter, p.name.text, {}, {}, type->code, size);
        }
        m_hasParameters = !params.empty();
        return Status::success();
    }

    Status statement(const Statement& st) {
        switch (st.kind) {
            case StatementKind::Select:
            case StatementKind::SelectInto:
                if (!st.query) return invalid("a query statement without its query");
                return rowQuery(*st.query, {});
            case StatementKind::Insert:
                if (const auto* ins = std::get_if<accsql::InsertStmt>(&st.body))
                    return append(*ins);
                break;
            case StatementKind::Update:
                if (const auto* u = std::get_if<accsql::UpdateStmt>(&st.body)) return update(*u);
                break;
            case StatementKind::Delete:
                if (const auto* d = std::get_if<accsql::DeleteStmt>(&st.body))
                    return deleteQuery(*d);
                break;
            case StatementKind::CreateTable:
            case StatementKind::AlterTable:
            case StatementKind::CreateIndex:
            case StatementKind::DropTable:
            case StatementKind::DropIndex:
                return dataDefinition(st);
            default:
                return invalid(std::string(accsql::statementKindName(st.kind)) +
                               " cannot be kept as a saved query");
        }
        return invalid(std::string(accsql::statementKindName(st.kind)) +
                       " statement without its parts");
    }

    // Select queries made by CREATE VIEW or CREATE PROCEDURE have no type row in
    // Access-made files (their kind is in MSysObjects alone); the others do.
    void setKind(QueryKind k, Text target = {}) {
        m_kind = k;
        if (k != QueryKind::Select || !m_madeByDdl)
            add(kAttrType, std::move(target), {}, {}, typeCode(k));
    }

    // SELECT, SELECT ... INTO, UNION and TRANSFORM.
    Status rowQuery(const Query& q, const std::vector<Name>& viewColumns) {
        if (q.transform) return crosstab(q, viewColumns);
        if (q.terms.size() > 1) return unionQuery(q, viewColumns);
        TAB_ASSIGN_OR_RETURN(const SelectCore* s, onlySelect(q, "a saved query"));
        if (s->into) {
            TAB_TRY(checkObjectName(s->into->text, "target table"));
            setKind(QueryKind::MakeTable, s->into->text);
        } else {
            setKind(QueryKind::Select);
        }
        Outputs out;
        if (!viewColumns.empty()) out.aliases = &viewColumns;
        return select(*s, q, out);
    }

    static Result<const SelectCore*> onlySelect(const Query& q, const std::string& where) {
        if (q.terms.empty()) return invalid("a query without its SELECT");
        if (q.terms.size() != 1) return refuse(where + " cannot be a union");
        const QueryTerm& t = q.terms.front();
        if (t.kind == QueryTerm::Kind::Table)
            return refuse("TABLE " + t.table.text + " is not kept as such in " + where +
                          "; write SELECT * FROM " + t.table.text);
        if (t.kind == QueryTerm::Kind::Nested || !t.select)
            return refuse("a SELECT in parentheses is not kept as such in " + where +
                          "; write it without them");
        return t.select.get();
    }

    Status select(const SelectCore& s, const Query& q, const Outputs& out) {
        quantifier(s);
        if (q.ownerAccess) m_options |= kOptOwnerAccess;
        TAB_TRY(columns(s.items, out));
        std::vector<const FromItem*> from;
        for (const auto& f : s.from) from.push_back(f.get());
        TAB_TRY(inputs(from));
        TAB_TRY(clauses(s, out.flag));
        return orderBy(q);
    }

    void quantifier(const SelectCore& s) {
        if (s.quantifier == accsql::SetQuantifier::Distinct) m_options |= kOptDistinct;
        if (s.quantifier == accsql::SetQuantifier::DistinctRow) m_options |= kOptDistinctRow;
        if (s.top) {
            m_options |= kOptTop | (s.top->percent ? kOptPercent : 0);
            m_top = s.top->count.text;
        }
    }

    Status columns(const std::vector<SelectItem>& items, const Outputs& out) {
        for (size_t i = 0; i < items.size(); ++i) {
            const SelectItem& item = items[i];
            if (item.kind == SelectItem::Kind::Expr) continue;
            const std::string what = item.kind == SelectItem::Kind::Star ? "*" : "table.*";
            if (out.flag == kCrosstabRowHeading)
                return refuse("a crosstab's row headings cannot be " + what);
            if (out.aliases || out.targets)
                return refuse(
                    std::string(out.aliases ? "a view's column list" : "an INSERT column list") +
                    " cannot name the columns of " + what);
            if (item.kind == SelectItem::Kind::Star && i + 1 != items.size())
                return refuse(
                    "a saved query keeps * after the other output columns; move it to the end "
                    "of the select list");
        }
        for (const auto* names : {out.aliases, out.targets})
            if (names && names->size() != items.size())
                return invalid(std::string(names == out.aliases ? "the view's column list"
                                                                : "the INSERT column list") +
                               " names " + std::to_string(names->size()) +
                               " columns, its SELECT has " + std::to_string(items.size()));
        for (size_t i = 0; i < items.size(); ++i) {
            const SelectItem& item = items[i];
            if (item.kind == SelectItem::Kind::Star) {
                m_options |= kOptAllFields;
                continue;
            }
            if (item.kind == SelectItem::Kind::TableStar) {
                TAB_ASSIGN_OR_RETURN(std::string expr, slice(item.span));
                add(kAttrColumn, {}, {}, std::move(expr), out.flag);
                continue;
            }
            TAB_ASSIGN_OR_RETURN(std::string expr, text(item.expr.get()));
            Text alias, target;
            if (out.aliases)
                alias = (*out.aliases)[i].text;
            else if (item.alias)
                alias = item.alias->text;
            if (alias) TAB_TRY(checkName(*alias, "column alias"));
            if (out.targets) {
                target = (*out.targets)[i].text;
                TAB_TRY(checkObjectName(*target, "target column"));
            }
            add(kAttrColumn, std::move(alias), std::move(target), std::move(expr), out.flag);
        }
        return Status::success();
    }

    // ---- FROM -----------------------------------------------------------------

    static std::string keyOf(const FromItem& f) {
        if (f.alias) return f.alias->text;
        return f.kind == FromItem::Kind::Table ? f.table.text : std::string();
    }
    static std::string displayName(const FromItem& f) {
        const std::string key = keyOf(f);
        return key.empty() ? std::string("a derived table") : quoted(key);
    }
    static void leafKeys(const FromItem& f, std::vector<std::string>& out) {
        if (f.kind == FromItem::Kind::Join) {
            leafKeys(*f.left, out);
            leafKeys(*f.right, out);
        } else if (std::string key = keyOf(f); !key.empty()) {
            out.push_back(std::move(key));
        }
    }

    // Tables become attribute-5 rows in the order written; joins become
    // attribute-7 rows, inner joins before the joins holding them. The reader
    // puts single tables before joins, so the statement must too.
    Status inputs(const std::vector<const FromItem*>& from) {
        bool joined = false;
        for (const FromItem* f : from) {
            if (!f) return invalid("a FROM item is missing from the statement");
            if (f->kind == FromItem::Kind::Join)
                joined = true;
            else if (joined)
                return refuse("a saved query lists single tables before joins; move " +
                              displayName(*f) + " before the join in FROM");
        }
        for (const FromItem* f : from) TAB_TRY(tables(*f));
        for (const FromItem* f : from) TAB_TRY(joins(*f));
        return Status::success();
    }

    Status tables(const FromItem& f) {
        if (f.kind == FromItem::Kind::Join) {
            if (!f.left || !f.right || !f.on) return invalid("a join is missing a part");
            TAB_TRY(tables(*f.left));
            return tables(*f.right);
        }
        Text alias;
        if (f.alias) {
            TAB_TRY(checkName(f.alias->text, "alias"));
            alias = f.alias->text;
        }
        if (std::string key = keyOf(f); !key.empty()) {
            for (const std::string& k : m_keys)
                if (sameName(k, key))
                    return invalid("two inputs of the query are called " + quoted(key) +
                                   "; give one of them an alias");
            m_keys.push_back(std::move(key));
        }
        if (f.kind == FromItem::Kind::Derived) {
            if (!f.query) return invalid("a derived table without its query");
            TAB_ASSIGN_OR_RETURN(std::string sql, slice(f.query->span));
            add(kAttrTable, {}, std::move(alias), std::move(sql));
            return Status::success();
        }
        TAB_TRY(checkObjectName(f.table.text, "table"));
        add(kAttrTable, f.table.text, std::move(alias), {});
        return Status::success();
    }

    Status joins(const FromItem& f) {
        if (f.kind != FromItem::Kind::Join) return Status::success();
        TAB_TRY(joins(*f.left));
        TAB_TRY(joins(*f.right));
        std::vector<std::string> left, right;
        leafKeys(*f.left, left);
        leafKeys(*f.right, right);
        if (left.empty() || right.empty())
            return refuse("a derived table in a join of a saved query needs an alias");
        const int16_t type = f.join == accsql::JoinType::Inner  ? 1
                             : f.join == accsql::JoinType::Left ? 2
                                                                : 3;
        TAB_ASSIGN_OR_RETURN(std::vector<Condition> conditions, joinConditions(*f.on));
        // The reader puts each further condition of a join in front of the others.
        for (auto it = conditions.rbegin(); it != conditions.rend(); ++it) {
            std::vector<std::string_view> refs;
            qualifiers(*it->expr, refs);
            add(kAttrJoin, pick(refs, left), pick(refs, right), it->text, type);
        }
        return Status::success();
    }

    // The side's table the condition names first, as Access picks it.
    static std::string pick(const std::vector<std::string_view>& refs,
                            const std::vector<std::string>& keys) {
        for (std::string_view r : refs)
            for (const std::string& k : keys)
                if (sameName(r, k)) return k;
        return keys.front();
    }

    // "(a) AND (b)" is kept as one row per condition, which reads back the
    // same; any other condition as one row.
    Result<std::vector<Condition>> joinConditions(const Expr& on) const {
        TAB_ASSIGN_OR_RETURN(std::string whole, text(&on));
        std::vector<const Expr*> parts;
        andOperands(on, parts);
        if (parts.size() >= 2) {
            std::vector<Condition> out;
            std::string rebuilt;
            for (const Expr* p : parts) {
                if (!parenthesised(p->span)) break;
                TAB_ASSIGN_OR_RETURN(std::string t, text(p));
                out.push_back({p, t.substr(1, t.size() - 2)});
                rebuilt += (rebuilt.empty() ? "(" : ") AND (") + out.back().text;
            }
            if (out.size() == parts.size() && collapsed(rebuilt + ")") == collapsed(whole))
                return out;
        }
        return std::vector<Condition>{{&on, std::move(whole)}};
    }

    // ---- clauses ----------------------------------------------------------------

    Status clauses(const SelectCore& s, int16_t groupFlag) {
        if (s.where) {
            TAB_ASSIGN_OR_RETURN(std::string w, text(s.where.get()));
            add(kAttrWhere, {}, {}, std::move(w));
        }
        for (const auto& g : s.groupBy) {
            TAB_ASSIGN_OR_RETURN(std::string t, text(g.get()));
            add(kAttrGroupBy, {}, {}, std::move(t), groupFlag);
        }
        if (s.having) {
            TAB_ASSIGN_OR_RETURN(std::string h, text(s.having.get()));
            add(kAttrHaving, {}, {}, std::move(h));
        }
        return Status::success();
    }

    Status orderBy(const Query& q) {
        for (const auto& o : q.orderBy) {
            TAB_ASSIGN_OR_RETURN(std::string t, text(o.expr.get()));
            add(kAttrOrderBy, o.descending ? Text("D") : Text(), {}, std::move(t));
        }
        return Status::success();
    }

    // ---- the other kinds ----------------------------------------------------------

    Status unionQuery(const Query& q, const std::vector<Name>& viewColumns) {
        if (!viewColumns.empty())
            return refuse(
                "a saved union query cannot take a view's column list; name the columns with AS "
                "in its first SELECT");
        if (q.unionAll.size() + 1 != q.terms.size())
            return invalid("a union whose parts do not match its operators");
        for (const QueryTerm& t : q.terms)
            if (t.select && t.select->into)
                return refuse("SELECT ... INTO cannot be combined with UNION");
        setKind(QueryKind::Union);
        // Left to right: the first part holds every operand but the last.
        const Span first = q.terms.front().span, last = q.terms[q.terms.size() - 2].span;
        if (last.end() < first.offset) return invalid("union parts out of order");
        TAB_ASSIGN_OR_RETURN(std::string part1, slice({first.offset, last.end() - first.offset}));
        TAB_ASSIGN_OR_RETURN(std::string part2, slice(q.terms.back().span));
        add(kAttrTable, {}, std::string(kUnionPart1), std::move(part1));
        add(kAttrTable, {}, std::string(kUnionPart2), std::move(part2));
        m_options = q.unionAll.back() ? kOptUnionAll : kOptUnion;
        if (q.ownerAccess) m_options |= kOptOwnerAccess;
        return orderBy(q);
    }

    Status crosstab(const Query& q, const std::vector<Name>& viewColumns) {
        const accsql::Transform& tr = *q.transform;
        if (!viewColumns.empty()) return refuse("a crosstab query cannot take a column list");
        if (tr.hasInList)
            return refuse(
                "PIVOT ... IN (...) fixes the column headings in a query property, which is not "
                "written; leave out the IN list");
        TAB_ASSIGN_OR_RETURN(const SelectCore* s, onlySelect(q, "a crosstab query"));
        if (s->into) return refuse("a crosstab query cannot make a table (SELECT ... INTO)");
        setKind(QueryKind::Crosstab);
        TAB_ASSIGN_OR_RETURN(std::string value, text(tr.aggregate.get()));
        TAB_ASSIGN_OR_RETURN(std::string pivot, text(tr.pivot.get()));
        Text alias;
        if (tr.alias) {
            TAB_TRY(checkName(tr.alias->text, "column alias"));
            alias = tr.alias->text;
        }
        add(kAttrColumn, std::move(alias), {}, std::move(value));
        Outputs out;
        out.flag = kCrosstabRowHeading;
        TAB_TRY(select(*s, q, out));
        add(kAttrColumn, {}, {}, pivot, kCrosstabPivot);
        add(kAttrGroupBy, {}, {}, pivot, kCrosstabPivot);
        return Status::success();
    }

    Status append(const accsql::InsertStmt& ins) {
        TAB_TRY(checkObjectName(ins.table.text, "target table"));
        setKind(QueryKind::Append, ins.table.text);
        const std::vector<Name>* targets = ins.hasColumnList ? &ins.columns : nullptr;
        if (!ins.values.empty()) {
            if (targets && targets->size() != ins.values.size())
                return invalid("INSERT INTO " + ins.table.text + " names " +
                               std::to_string(targets->size()) + " columns and " +
                               std::to_string(ins.values.size()) + " values");
            for (size_t i = 0; i < ins.values.size(); ++i) {
                TAB_ASSIGN_OR_RETURN(std::string v, text(ins.values[i].get()));
                Text target;
                if (targets) {
                    target = (*targets)[i].text;
                    TAB_TRY(checkObjectName(*target, "target column"));
                }
                add(kAttrColumn, {}, std::move(target), std::move(v), kAppendValue);
            }
            return Status::success();
        }
        if (!ins.query) return invalid("INSERT without VALUES or SELECT");
        if (ins.query->transform) return refuse("an append query cannot insert a crosstab");
        TAB_ASSIGN_OR_RETURN(const SelectCore* s, onlySelect(*ins.query, "an append query"));
        Outputs out;
        out.targets = targets;
        return select(*s, *ins.query, out);
    }

    // SET rows: Name2 the field as written (brackets kept), Expression the value.
    Status update(const accsql::UpdateStmt& u) {
        setKind(QueryKind::Update);
        if (u.distinctRow) m_options |= kOptDistinctRow;
        TAB_TRY(inputs({u.target.get()}));
        for (const auto& a : u.assignments) {
            if (a.column.parts.empty() || a.column.separators.size() + 1 != a.column.parts.size())
                return invalid("a SET item without its field");
            std::string field;
            for (size_t i = 0; i < a.column.parts.size(); ++i) {
                if (i > 0 && a.column.separators[i - 1] != '.')
                    return refuse("a saved query cannot set a field named with '!'");
                if (i > 0) field += '.';
                field += writtenName(a.column.parts[i]);
            }
            TAB_ASSIGN_OR_RETURN(std::string v, text(a.value.get()));
            add(kAttrColumn, {}, std::move(field), std::move(v));
        }
        if (u.where) {
            TAB_ASSIGN_OR_RETURN(std::string w, text(u.where.get()));
            add(kAttrWhere, {}, {}, std::move(w));
        }
        return Status::success();
    }

    Status deleteQuery(const accsql::DeleteStmt& d) {
        setKind(QueryKind::Delete);
        if (d.distinctRow) m_options |= kOptDistinctRow;
        if (d.star) m_options |= kOptAllFields;
        for (const auto& t : d.tables) {
            if (t.parts.size() != 1) return invalid("DELETE names its table as table.*");
            add(kAttrColumn, {}, {}, writtenName(t.parts[0]) + ".*");
        }
        std::vector<const FromItem*> from;
        for (const auto& f : d.from) from.push_back(f.get());
        TAB_TRY(inputs(from));
        if (d.where) {
            TAB_ASSIGN_OR_RETURN(std::string w, text(d.where.get()));
            add(kAttrWhere, {}, {}, std::move(w));
        }
        return Status::success();
    }

    // The statement's text in the type row, ending in NUL as Access writes it.
    Status dataDefinition(const Statement& st) {
        if (m_hasParameters) return invalid("a data-definition query cannot have parameters");
        TAB_ASSIGN_OR_RETURN(std::string sql, slice(st.span));
        m_kind = QueryKind::DataDefinition;
        add(kAttrType, {}, {}, sql + '\0', typeCode(m_kind));
        return Status::success();
    }

    // The options row, the frame rows, and the order the reader expects.
    Result<QueryDefinition> finish() {
        // Access writes the options row for these kinds even when no option is set.
        const bool always = m_kind == QueryKind::MakeTable || m_kind == QueryKind::Delete ||
                            m_kind == QueryKind::Update || m_kind == QueryKind::Union;
        if (m_kind != QueryKind::DataDefinition && (m_options != 0 || always))
            add(kAttrOptions, m_top, {}, {}, static_cast<int16_t>(m_options));
        add(kAttrStart, {}, {}, {});
        add(kAttrEnd, {}, {}, {});
        std::stable_sort(m_rows.begin(), m_rows.end(), [](const QueryRow& a, const QueryRow& b) {
            return a.attribute < b.attribute;
        });
        QueryDefinition out;
        out.kind = m_kind;
        out.objectFlags = objectFlagsOf(m_kind);
        out.rows = std::move(m_rows);
        return out;
    }

    std::string_view m_sql;
    QueryKind m_kind = QueryKind::Unknown;
    std::vector<QueryRow> m_rows;
    std::array<uint32_t, 256> m_count{};
    std::vector<std::string> m_keys;  // what joins may call the inputs
    int m_options = 0;
    Text m_top;
    bool m_hasParameters = false;
    bool m_madeByDdl = false;
};

}  // namespace

Result<QueryDefinition> buildQueryDefinition(const accsql::Statement& statement,
                                             std::string_view sqlText) {
    return Builder(sqlText).run(statement);
}

}  // namespace tab::ado
