#include "tabulary/script/create_script.h"

#include <cctype>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "tabulary/base/case_fold.h"

namespace tab::script {

using jet::ColumnSpec;
using jet::ColumnType;
using jet::IndexSpec;
using jet::TableSpec;
using jet::Value;

namespace {

__extension__ typedef unsigned __int128 U128;

enum class Tok { End, Name, Quoted, Number, String, Date, Hex, Guid, Punct };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // name, literal body or punctuation
    int line = 1;
    size_t offset = 0;  // where it starts in the script
};

class Lexer {
public:
    explicit Lexer(std::string_view s) : m_s(s) {}

    Result<Token> next() {
        skipSpace();
        Token t;
        t.line = m_line;
        t.offset = m_pos;
        if (m_pos >= m_s.size()) return t;
        char c = m_s[m_pos];
        if (c == '[') return delimited(']', Tok::Quoted, "name in brackets");
        if (c == '\'') return quoted();
        if (c == '#') return delimited('#', Tok::Date, "date literal");
        if (c == '{') return delimited('}', Tok::Guid, "GUID literal");
        if (c == '0' && m_pos + 1 < m_s.size() &&
            (m_s[m_pos + 1] == 'x' || m_s[m_pos + 1] == 'X')) {
            m_pos += 2;
            t.kind = Tok::Hex;
            while (m_pos < m_s.size() && std::isxdigit(static_cast<unsigned char>(m_s[m_pos])))
                t.text += m_s[m_pos++];
            return t;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            ((c == '-' || c == '+') && m_pos + 1 < m_s.size() &&
             (std::isdigit(static_cast<unsigned char>(m_s[m_pos + 1])) || m_s[m_pos + 1] == '.'))) {
            t.kind = Tok::Number;
            t.text += m_s[m_pos++];
            while (m_pos < m_s.size() &&
                   (std::isdigit(static_cast<unsigned char>(m_s[m_pos])) || m_s[m_pos] == '.'))
                t.text += m_s[m_pos++];
            return t;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            t.kind = Tok::Name;
            while (m_pos < m_s.size() &&
                   (std::isalnum(static_cast<unsigned char>(m_s[m_pos])) || m_s[m_pos] == '_'))
                t.text += m_s[m_pos++];
            return t;
        }
        if (c == '(' || c == ')' || c == ',' || c == ';') {
            t.kind = Tok::Punct;
            t.text = std::string(1, c);
            ++m_pos;
            return t;
        }
        return fail("unexpected character '" + std::string(1, c) + "'");
    }

    int line() const { return m_line; }

    // Moves on to `pos` (forward only), counting the lines passed.
    void seek(size_t pos) {
        for (; m_pos < pos && m_pos < m_s.size(); ++m_pos)
            if (m_s[m_pos] == '\n') ++m_line;
    }

private:
    Error fail(const std::string& what) const {
        return Error(Errc::InvalidArgument, "line " + std::to_string(m_line) + ": " + what);
    }

    void skipSpace() {
        while (m_pos < m_s.size()) {
            char c = m_s[m_pos];
            if (c == '\n') {
                ++m_line;
                ++m_pos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++m_pos;
            } else if (c == '-' && m_pos + 1 < m_s.size() && m_s[m_pos + 1] == '-') {
                while (m_pos < m_s.size() && m_s[m_pos] != '\n') ++m_pos;
            } else {
                break;
            }
        }
    }

    Result<Token> delimited(char close, Tok kind, const char* what) {
        Token t;
        t.kind = kind;
        t.line = m_line;
        size_t end = m_s.find(close, m_pos + 1);
        size_t nl = m_s.find('\n', m_pos + 1);
        if (end == std::string_view::npos || (nl != std::string_view::npos && nl < end))
            return fail(std::string("unterminated ") + what);
        t.text = std::string(m_s.substr(m_pos + 1, end - m_pos - 1));
        m_pos = end + 1;
        return t;
    }

    Result<Token> quoted() {
        Token t;
        t.kind = Tok::String;
        t.line = m_line;
        ++m_pos;
        while (true) {
            if (m_pos >= m_s.size()) return fail("unterminated string");
            char c = m_s[m_pos++];
            if (c == '\'') {
                if (m_pos < m_s.size() && m_s[m_pos] == '\'') {
                    t.text += '\'';
                    ++m_pos;
                    continue;
                }
                return t;
            }
            if (c == '\n') ++m_line;
            t.text += c;
        }
    }

    std::string_view m_s;
    size_t m_pos = 0;
    int m_line = 1;
};

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A table described by the script, added to the writer at its first row.
struct PendingTable {
    TableSpec spec;
    std::optional<size_t> handle;
};

class Runner {
public:
    Runner(jet::DatabaseWriter& w, std::string_view text)
        : m_writer(w), m_text(text), m_lex(text) {}

    Result<ScriptStats> run() {
        TAB_TRY(advance());
        while (m_tok.kind != Tok::End) {
            if (isPunct(";")) {
                TAB_TRY(advance());
                continue;
            }
            TAB_TRY(statement());
        }
        for (const std::string& key : m_order) TAB_TRY(ensureAdded(m_tables.at(key)));
        m_stats.tables = m_tables.size();
        return m_stats;
    }

private:
    Error fail(const std::string& what) const {
        return Error(Errc::InvalidArgument, "line " + std::to_string(m_tok.line) + ": " + what);
    }
    Status advance() {
        TAB_ASSIGN_OR_RETURN(m_tok, m_lex.next());
        return {};
    }
    bool isPunct(const char* p) const { return m_tok.kind == Tok::Punct && m_tok.text == p; }
    bool isKeyword(const char* k) const {
        return m_tok.kind == Tok::Name && upper(m_tok.text) == k;
    }
    Status expectPunct(const char* p) {
        if (!isPunct(p)) return fail(std::string("expected '") + p + "'" + found());
        return advance();
    }
    Status expectKeyword(const char* k) {
        if (!isKeyword(k)) return fail(std::string("expected ") + k + found());
        return advance();
    }
    std::string found() const {
        if (m_tok.kind == Tok::End) return ", found the end of the script";
        return ", found '" + m_tok.text + "'";
    }
    Result<std::string> name(const char* what) {
        if (m_tok.kind != Tok::Name && m_tok.kind != Tok::Quoted)
            return fail(std::string("expected ") + what + found());
        std::string n = m_tok.text;
        TAB_TRY(advance());
        return n;
    }
    Result<uint32_t> number(uint32_t max) {
        if (m_tok.kind != Tok::Number ||
            m_tok.text.find_first_not_of("0123456789") != std::string::npos ||
            m_tok.text.size() > 9)
            return fail("expected a whole number" + found());
        auto v = static_cast<uint32_t>(std::stoul(m_tok.text));
        if (v > max) return fail("number " + m_tok.text + " is too large");
        TAB_TRY(advance());
        return v;
    }

    Status statement() {
        if (isKeyword("CREATE")) {
            const size_t start = m_tok.offset;
            TAB_TRY(advance());
            if (isKeyword("TABLE")) return createTable();
            if (isKeyword("VIEW") || isKeyword("PROCEDURE")) return deferred(start);
            bool unique = false;
            if (isKeyword("UNIQUE")) {
                unique = true;
                TAB_TRY(advance());
            }
            if (isKeyword("INDEX")) return createIndex(unique);
            return fail("expected TABLE or INDEX after CREATE" + found());
        }
        if (isKeyword("INSERT")) return insert();
        return fail("expected CREATE TABLE, CREATE INDEX or INSERT INTO" + found());
    }

    // Saved queries need the finished file: their text is kept for later.
    // The statement runs up to the first ';' outside quotes, brackets and dates.
    Status deferred(size_t start) {
        size_t end = m_tok.offset;
        char quote = 0;
        for (; end < m_text.size(); ++end) {
            const char c = m_text[end];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '\'' || c == '"' || c == '#' || c == '`') {
                quote = c;
            } else if (c == '[') {
                quote = ']';
            } else if (c == ';') {
                break;
            }
        }
        if (quote) return fail("the saved query does not end: a quote or bracket is open");
        std::string_view sql = m_text.substr(start, end - start);
        while (!sql.empty() && std::isspace(static_cast<unsigned char>(sql.back())))
            sql.remove_suffix(1);
        m_stats.deferred.emplace_back(sql);
        m_lex.seek(end);
        return advance();
    }

    Result<ColumnSpec> columnType(ColumnSpec c) {
        if (m_tok.kind != Tok::Name) return fail("expected a column type" + found());
        std::string t = upper(m_tok.text);
        TAB_TRY(advance());
        static const std::map<std::string, ColumnType> kTypes = {
            {"YESNO", ColumnType::Boolean},     {"BIT", ColumnType::Boolean},
            {"BYTE", ColumnType::Byte},         {"SHORT", ColumnType::Integer},
            {"SMALLINT", ColumnType::Integer},  {"LONG", ColumnType::Long},
            {"INTEGER", ColumnType::Long},      {"INT", ColumnType::Long},
            {"COUNTER", ColumnType::Long},      {"AUTOINCREMENT", ColumnType::Long},
            {"CURRENCY", ColumnType::Currency}, {"MONEY", ColumnType::Currency},
            {"SINGLE", ColumnType::Single},     {"REAL", ColumnType::Single},
            {"DOUBLE", ColumnType::Double},     {"FLOAT", ColumnType::Double},
            {"DATETIME", ColumnType::DateTime}, {"DATE", ColumnType::DateTime},
            {"TEXT", ColumnType::Text},         {"VARCHAR", ColumnType::Text},
            {"CHAR", ColumnType::Text},         {"MEMO", ColumnType::Memo},
            {"LONGTEXT", ColumnType::Memo},     {"OLEOBJECT", ColumnType::Ole},
            {"LONGBINARY", ColumnType::Ole},    {"GUID", ColumnType::Guid},
            {"DECIMAL", ColumnType::Decimal},   {"NUMERIC", ColumnType::Decimal},
        };
        auto it = kTypes.find(t);
        if (it == kTypes.end()) return fail("unknown column type " + t);
        c.type = it->second;
        c.autoNumber = t == "COUNTER" || t == "AUTOINCREMENT";
        if (c.type == ColumnType::Text) {
            c.size = 255;
            if (isPunct("(")) {
                TAB_TRY(advance());
                TAB_ASSIGN_OR_RETURN(c.size, number(255));
                TAB_TRY(expectPunct(")"));
            }
        } else if (c.type == ColumnType::Decimal && isPunct("(")) {
            TAB_TRY(advance());
            TAB_ASSIGN_OR_RETURN(uint32_t p, number(28));
            c.precision = static_cast<uint8_t>(p);
            c.scale = 0;
            if (isPunct(",")) {
                TAB_TRY(advance());
                TAB_ASSIGN_OR_RETURN(uint32_t s, number(28));
                c.scale = static_cast<uint8_t>(s);
            }
            TAB_TRY(expectPunct(")"));
        }
        return c;
    }

    Result<std::vector<jet::IndexColumnSpec>> indexColumns() {
        std::vector<jet::IndexColumnSpec> cols;
        TAB_TRY(expectPunct("("));
        while (true) {
            jet::IndexColumnSpec ic;
            TAB_ASSIGN_OR_RETURN(ic.column, name("a column name"));
            if (isKeyword("ASC") || isKeyword("DESC")) {
                ic.ascending = isKeyword("ASC");
                TAB_TRY(advance());
            }
            cols.push_back(ic);
            if (isPunct(")")) break;
            TAB_TRY(expectPunct(","));
        }
        TAB_TRY(advance());
        return cols;
    }

    Status createTable() {
        TAB_TRY(advance());
        PendingTable t;
        TAB_ASSIGN_OR_RETURN(t.spec.name, name("a table name"));
        if (m_tables.count(foldedCase(t.spec.name)))
            return fail("table " + t.spec.name + " is created twice");
        TAB_TRY(expectPunct("("));
        int unnamed = 0;
        while (true) {
            if (isKeyword("CONSTRAINT") || isKeyword("PRIMARY") || isKeyword("UNIQUE")) {
                std::string cname;
                if (isKeyword("CONSTRAINT")) {
                    TAB_TRY(advance());
                    TAB_ASSIGN_OR_RETURN(cname, name("a constraint name"));
                }
                IndexSpec ix;
                if (isKeyword("PRIMARY")) {
                    TAB_TRY(advance());
                    TAB_TRY(expectKeyword("KEY"));
                    ix.primaryKey = true;
                    ix.name = cname.empty() ? "PrimaryKey" : cname;
                } else {
                    TAB_TRY(expectKeyword("UNIQUE"));
                    ix.unique = true;
                    ix.name = cname.empty() ? "Unique" + std::to_string(++unnamed) : cname;
                }
                TAB_ASSIGN_OR_RETURN(ix.columns, indexColumns());
                t.spec.indexes.push_back(ix);
            } else {
                ColumnSpec c;
                TAB_ASSIGN_OR_RETURN(c.name, name("a column name"));
                TAB_ASSIGN_OR_RETURN(c, columnType(c));
                while (true) {
                    if (isKeyword("NOT")) {
                        TAB_TRY(advance());
                        TAB_TRY(expectKeyword("NULL"));
                        c.required = true;
                    } else if (isKeyword("DEFAULT")) {
                        TAB_TRY(advance());
                        TAB_ASSIGN_OR_RETURN(c.defaultValue, defaultText());
                    } else if (isKeyword("PRIMARY")) {
                        TAB_TRY(advance());
                        TAB_TRY(expectKeyword("KEY"));
                        t.spec.indexes.push_back(
                            {"PrimaryKey", {{c.name, true}}, true, false, false, false});
                    } else if (isKeyword("UNIQUE")) {
                        TAB_TRY(advance());
                        t.spec.indexes.push_back(
                            {c.name, {{c.name, true}}, false, true, false, false});
                    } else if (isKeyword("UNCOMPRESSED")) {
                        TAB_TRY(advance());
                        c.compressedUnicode = false;
                    } else {
                        break;
                    }
                }
                t.spec.columns.push_back(c);
            }
            if (isPunct(")")) break;
            TAB_TRY(expectPunct(","));
        }
        TAB_TRY(advance());
        m_order.push_back(foldedCase(t.spec.name));
        m_tables.emplace(foldedCase(t.spec.name), std::move(t));
        return {};
    }

    // A DEFAULT is kept as the Access expression text the property stores.
    Result<std::string> defaultText() {
        std::string s;
        switch (m_tok.kind) {
            case Tok::Number:
                s = m_tok.text;
                break;
            case Tok::String: {
                s = "\"";
                for (char ch : m_tok.text)
                    s += ch == '"' ? std::string("\"\"") : std::string(1, ch);
                s += "\"";
                break;
            }
            case Tok::Date:
                s = "#" + m_tok.text + "#";
                break;
            case Tok::Name: {
                std::string u = upper(m_tok.text);
                if (u == "TRUE" || u == "YES")
                    s = "Yes";
                else if (u == "FALSE" || u == "NO")
                    s = "No";
                else if (u == "NULL")
                    s = "Null";
                else
                    s = m_tok.text;  // a function such as Now or Date
                TAB_TRY(advance());
                if (isPunct("(")) {
                    TAB_TRY(advance());
                    TAB_TRY(expectPunct(")"));
                    s += "()";
                }
                return s;
            }
            default:
                return fail("expected a default value" + found());
        }
        TAB_TRY(advance());
        return s;
    }

    Status createIndex(bool unique) {
        TAB_TRY(advance());
        IndexSpec ix;
        ix.unique = unique;
        TAB_ASSIGN_OR_RETURN(ix.name, name("an index name"));
        TAB_TRY(expectKeyword("ON"));
        TAB_ASSIGN_OR_RETURN(std::string table, name("a table name"));
        auto it = m_tables.find(foldedCase(table));
        if (it == m_tables.end()) return fail("no table " + table);
        if (it->second.handle)
            return fail("indexes of " + table + " must be created before its rows are inserted");
        TAB_ASSIGN_OR_RETURN(ix.columns, indexColumns());
        if (isKeyword("WITH")) {
            TAB_TRY(advance());
            while (m_tok.kind == Tok::Name) {
                if (isKeyword("PRIMARY")) {
                    ix.primaryKey = true;
                } else if (isKeyword("DISALLOW")) {
                    TAB_TRY(advance());
                    if (!isKeyword("NULL")) return fail("expected NULL after DISALLOW" + found());
                    ix.required = true;
                } else if (isKeyword("IGNORE")) {
                    TAB_TRY(advance());
                    if (!isKeyword("NULL")) return fail("expected NULL after IGNORE" + found());
                    ix.ignoreNulls = true;
                } else {
                    return fail("unknown index option " + m_tok.text);
                }
                TAB_TRY(advance());
            }
        }
        it->second.spec.indexes.push_back(ix);
        return {};
    }

    Status ensureAdded(PendingTable& t) {
        if (t.handle) return {};
        TAB_ASSIGN_OR_RETURN(size_t h, m_writer.addTable(t.spec));
        t.handle = h;
        return {};
    }

    Result<Value> literal(const ColumnSpec& column) {
        int line = m_tok.line;
        auto bad = [&](const std::string& what) {
            return Error(Errc::InvalidArgument, "line " + std::to_string(line) + ": " + what);
        };
        Value v;
        switch (m_tok.kind) {
            case Tok::Number: {
                TAB_ASSIGN_OR_RETURN(v, parseNumber(m_tok.text));
                break;
            }
            case Tok::String:
                v = Value::text(m_tok.text);
                break;
            case Tok::Date: {
                int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
                char tail = 0;
                int n = std::sscanf(m_tok.text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d,
                                    &h, &mi, &s, &tail);
                if (n < 3 || n == 4 || n == 7 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 ||
                    mi > 59 || s > 59 || y < 100 || y > 9999)
                    return bad("bad date #" + m_tok.text +
                               "# (write #YYYY-MM-DD# or #YYYY-MM-DD HH:MM:SS#)");
                v = Value::dateTime(jet::accessDate(y, mo, d, h, mi, s));
                break;
            }
            case Tok::Hex: {
                if (m_tok.text.size() % 2)
                    return bad("binary literal with an odd number of digits");
                std::string bytes;
                for (size_t i = 0; i < m_tok.text.size(); i += 2)
                    bytes.push_back(
                        static_cast<char>(std::stoi(m_tok.text.substr(i, 2), nullptr, 16)));
                v = Value::binary(bytes);
                break;
            }
            case Tok::Guid: {
                std::string hex;
                for (char ch : m_tok.text)
                    if (ch != '-') hex += ch;
                if (hex.size() != 32 ||
                    hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                    return bad("bad GUID {" + m_tok.text + "}");
                std::string b;
                for (size_t i = 0; i < 32; i += 2)
                    b.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
                // The first three groups are stored little-endian.
                std::string g = {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6]};
                g.append(b, 8, 8);
                v = Value::guid(g);
                break;
            }
            case Tok::Name: {
                std::string u = upper(m_tok.text);
                if (u == "NULL")
                    v = Value::null();
                else if (u == "TRUE" || u == "YES")
                    v = Value::boolean(true);
                else if (u == "FALSE" || u == "NO")
                    v = Value::boolean(false);
                else
                    return bad("unknown value " + m_tok.text);
                break;
            }
            default:
                return bad("expected a value for column " + column.name + found());
        }
        TAB_TRY(advance());
        return v;
    }

    Result<Value> parseNumber(const std::string& text) {
        bool negative = text[0] == '-';
        size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
        size_t point = text.find('.');
        std::string digits = text.substr(start);
        if (point != std::string::npos) digits.erase(point - start, 1);
        if (digits.empty() || digits.find('.') != std::string::npos || digits.size() > 28)
            return fail("bad number " + text);
        jet::Decimal d;
        U128 m = 0;
        for (char ch : digits) m = m * 10 + static_cast<unsigned>(ch - '0');
        if (point == std::string::npos) {
            if (m <= static_cast<U128>(INT64_MAX))
                return Value::integer(negative ? -static_cast<int64_t>(m)
                                               : static_cast<int64_t>(m));
        } else {
            d.scale = static_cast<uint8_t>(text.size() - point - 1);
        }
        d.hi = static_cast<uint64_t>(m >> 64);
        d.lo = static_cast<uint64_t>(m);
        d.negative = negative && m != 0;
        return Value::decimal(d);
    }

    Status insert() {
        TAB_TRY(advance());
        TAB_TRY(expectKeyword("INTO"));
        TAB_ASSIGN_OR_RETURN(std::string table, name("a table name"));
        auto it = m_tables.find(foldedCase(table));
        if (it == m_tables.end()) return fail("no table " + table);
        PendingTable& t = it->second;
        const auto& cols = t.spec.columns;
        std::vector<size_t> positions;
        if (isPunct("(")) {
            TAB_TRY(advance());
            while (true) {
                TAB_ASSIGN_OR_RETURN(std::string c, name("a column name"));
                size_t pos = 0;
                while (pos < cols.size() && !equalsIgnoringCase(cols[pos].name, c)) ++pos;
                if (pos == cols.size()) return fail("table " + table + " has no column " + c);
                for (size_t p : positions)
                    if (p == pos) return fail("column " + c + " is named twice");
                positions.push_back(pos);
                if (isPunct(")")) break;
                TAB_TRY(expectPunct(","));
            }
            TAB_TRY(advance());
        } else {
            for (size_t i = 0; i < cols.size(); ++i) positions.push_back(i);
        }
        TAB_TRY(expectKeyword("VALUES"));
        TAB_TRY(ensureAdded(t));
        while (true) {
            int line = m_tok.line;
            TAB_TRY(expectPunct("("));
            std::vector<Value> row(cols.size());
            for (size_t i = 0; i < positions.size(); ++i) {
                if (i > 0) TAB_TRY(expectPunct(","));
                TAB_ASSIGN_OR_RETURN(row[positions[i]], literal(cols[positions[i]]));
            }
            if (!isPunct(")")) return fail("row has more values than columns named" + found());
            TAB_TRY(advance());
            auto st = m_writer.appendRow(*t.handle, row);
            if (!st.ok())
                return Error(st.error().code(),
                             "line " + std::to_string(line) + ": " + st.error().message());
            ++m_stats.rows;
            if (!isPunct(",")) break;
            TAB_TRY(advance());
        }
        return {};
    }

    jet::DatabaseWriter& m_writer;
    std::string_view m_text;
    Lexer m_lex;
    Token m_tok;
    std::map<std::string, PendingTable> m_tables;
    std::vector<std::string> m_order;
    ScriptStats m_stats;
};

}  // namespace

Result<ScriptStats> runCreateScript(jet::DatabaseWriter& writer, std::string_view text) {
    Runner r(writer, text);
    return r.run();
}

Result<ScriptStats> createDatabaseFromScript(const std::string& outPath,
                                             const std::string& scriptPath,
                                             const jet::CreateOptions& options) {
    std::ifstream in(scriptPath, std::ios::binary);
    if (!in) return Error(Errc::Io, "cannot read \"" + scriptPath + "\"");
    std::stringstream ss;
    ss << in.rdbuf();
    TAB_ASSIGN_OR_RETURN(auto writer, jet::DatabaseWriter::create(outPath, options));
    auto stats = runCreateScript(*writer, ss.str());
    if (!stats.ok())
        return Error(stats.error().code(), scriptPath + ": " + stats.error().message());
    TAB_TRY(writer->finish());
    return stats;
}

}  // namespace tab::script
