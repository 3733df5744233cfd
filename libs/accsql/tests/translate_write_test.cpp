// Write plans against a catalogue of our own: the shape of each plan (what
// goes where), then the plan run on SQLite tables of the same names with the
// Access functions registered, applied row by row the way the executor
// applies them, and the tables read back. Refusals come last.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <memory>

#include "tabulary/accsql/parser.h"
#include "tabulary/accsql/translate.h"
#include "tabulary/sqlbridge/functions.h"
#include "tabulary/sqlbridge/sqlite.h"

using namespace tab;
using namespace tab::accsql;

namespace {

std::string folded(std::string_view name) {
    std::string key(name);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

class WriteCatalog : public Catalog {
public:
    WriteCatalog() {
        table("Orders", {{"OrderID", Type::Long},
                         {"CustomerID", Type::Long},
                         {"OrderDate", Type::Date},
                         {"Freight", Type::Currency},
                         {"Note", Type::Memo},
                         {"Shipped", Type::Boolean}});
        table("Customers", {{"CustomerID", Type::Long},
                            {"Name", Type::Text, 40},
                            {"Country", Type::Text, 20},
                            {"LastOrder", Type::Date}});
        table("Archive",
              {{"OrderID", Type::Long}, {"OrderDate", Type::Date}, {"Freight", Type::Currency}});
        CatalogEntry v;
        v.kind = CatalogEntry::Kind::View;
        v.name = "Recent";
        v.sql = "SELECT OrderID, OrderDate + 1 AS Due FROM Orders WHERE OrderDate > 45005";
        add(std::move(v));
        other("Add orders", "'Add orders' is an append query");
        other("Linked", "'Linked' is a linked table");
    }

    std::optional<CatalogEntry> find(std::string_view name) const override {
        auto it = m_entries.find(folded(name));
        if (it == m_entries.end()) return std::nullopt;
        return it->second;
    }

    const std::map<std::string, CatalogEntry>& entries() const { return m_entries; }

private:
    void table(const std::string& name, std::vector<SourceColumn> cols) {
        CatalogEntry e;
        e.name = e.sqliteName = name;
        e.columns = std::move(cols);
        add(std::move(e));
    }
    void other(const std::string& name, const std::string& reason) {
        CatalogEntry e;
        e.kind = CatalogEntry::Kind::Other;
        e.name = name;
        e.reason = reason;
        add(std::move(e));
    }
    void add(CatalogEntry e) { m_entries[folded(e.name)] = std::move(e); }
    std::map<std::string, CatalogEntry> m_entries;
};

Result<WritePlan> plan(std::string_view sql, const Catalog& catalog) {
    ParseResult parsed = parse(sql);
    if (!parsed.ok()) return parsed.diagnostics.front().toError();
    return translateWrite(*parsed.statement, sql, catalog);
}

// "Update Orders@0{Freight=1} | Orders.rowid:Large Number, Freight:Currency"
std::string shape(const WritePlan& p) {
    static const char* kinds[] = {"Select", "SelectInto", "Insert", "Update", "Delete"};
    const auto k = static_cast<size_t>(p.kind);
    std::string s = k < std::size(kinds) ? kinds[k] : "?";
    for (const WriteTarget& t : p.targets) {
        s += " " + t.table;
        if (t.rowidColumn >= 0) s += "@" + std::to_string(t.rowidColumn);
        if (t.columns.empty()) continue;
        s += "{";
        for (size_t i = 0; i < t.columns.size(); ++i)
            s += (i ? "," : "") + t.columns[i].column + "=" +
                 std::to_string(t.columns[i].selectColumn);
        s += "}";
    }
    s += " |";
    for (size_t i = 0; i < p.columns.size(); ++i)
        s += std::string(i ? ", " : " ") + p.columns[i].name + ":" + typeName(p.columns[i].type);
    return s;
}

// ---- a small executor over ordinary SQLite tables -------------------------

// The column types the virtual tables declare.
std::string declared(Type t) {
    switch (t) {
        case Type::Boolean:
        case Type::Long:
        case Type::Currency:  // in ten-thousandths
            return "INTEGER";
        case Type::Date:
            return "REAL";
        default:
            return "TEXT COLLATE ACC_TEXT";
    }
}

using ValuePtr = std::unique_ptr<sqlite3_value, decltype(&sqlite3_value_free)>;

class Db {
public:
    explicit Db(const WriteCatalog& catalog) {
        auto c = sqlbridge::Connection::openMemory();
        EXPECT_TRUE(c.ok());
        m_conn = std::make_unique<sqlbridge::Connection>(std::move(*c));
        EXPECT_TRUE(sqlbridge::registerAccessFunctions(m_conn->handle()).ok());
        for (const auto& [key, e] : catalog.entries()) {
            if (e.kind != CatalogEntry::Kind::Table) continue;
            std::string cols;
            for (const SourceColumn& col : e.columns)
                cols += (cols.empty() ? "" : ", ") + sqlbridge::quoteIdentifier(col.name) + " " +
                        declared(col.type);
            run("CREATE TABLE " + sqlbridge::quoteIdentifier(e.sqliteName) + " (" + cols + ")");
        }
        run("INSERT INTO Customers VALUES (1, 'Ann', 'UK', NULL), (2, 'Bob', 'DE', NULL), "
            "(3, 'Cy', 'UK', NULL)");
        run("INSERT INTO Orders VALUES (10, 1, 45000.0, 50000, 'a', 0), (11, 1, 45010.0, 70000, "
            "NULL, -1), "
            "(12, 2, 45020.0, 90000, 'c', 0), (13, 4, 45030.0, 20000, NULL, 0)");
    }

    void run(const std::string& sql) {
        auto s = m_conn->exec(sql);
        ASSERT_TRUE(s.ok()) << sql << ": " << s.error().message();
    }

    // Rows as "a,b c,d"; Null as "null".
    std::string dump(const std::string& sql) {
        auto st = sqlbridge::Statement::prepare(*m_conn, sql);
        if (!st.ok()) return "error: " + st.error().message();
        std::string out;
        while (true) {
            auto more = st->step();
            if (!more.ok()) return "error: " + more.error().message();
            if (!*more) break;
            out += out.empty() ? "" : " ";
            for (int i = 0; i < st->columnCount(); ++i)
                out += (i ? "," : "") + (st->isNull(i) ? std::string("null") : st->columnText(i));
        }
        return out;
    }

    // Every row is read before any is applied, as the executor does.
    Status apply(const WritePlan& p) {
        auto st = sqlbridge::Statement::prepare(*m_conn, p.sql);
        if (!st.ok()) return st.error();
        if (st->columnCount() != static_cast<int>(p.columns.size()))
            return Error(Errc::Internal, "column count differs from the plan");
        std::vector<std::vector<ValuePtr>> rows;
        while (true) {
            auto more = st->step();
            if (!more.ok()) return more.error();
            if (!*more) break;
            auto& row = rows.emplace_back();
            for (int i = 0; i < st->columnCount(); ++i)
                row.emplace_back(sqlite3_value_dup(sqlite3_column_value(st->handle(), i)),
                                 &sqlite3_value_free);
        }
        for (const WriteTarget& t : p.targets) {
            const std::string table = sqlbridge::quoteIdentifier(t.table);
            std::string sql;
            std::vector<int> binds;
            if (p.kind == StatementKind::SelectInto) {
                std::string cols, marks;
                for (size_t i = 0; i < p.columns.size(); ++i) {
                    cols += (i ? ", " : "") + sqlbridge::quoteIdentifier(p.columns[i].name);
                    marks += i ? ", ?" : "?";
                    binds.push_back(static_cast<int>(i));
                }
                TAB_TRY(m_conn->exec("CREATE TABLE " + table + " (" + cols + ")"));
                sql = "INSERT INTO " + table + " VALUES (" + marks + ")";
            } else if (p.kind == StatementKind::Insert) {
                std::string cols, marks;
                for (const auto& a : t.columns) {
                    cols += (binds.empty() ? "" : ", ") + sqlbridge::quoteIdentifier(a.column);
                    marks += binds.empty() ? "?" : ", ?";
                    binds.push_back(a.selectColumn);
                }
                sql = "INSERT INTO " + table + " (" + cols + ") VALUES (" + marks + ")";
            } else if (p.kind == StatementKind::Update) {
                for (const auto& a : t.columns) {
                    sql +=
                        (binds.empty() ? "" : ", ") + sqlbridge::quoteIdentifier(a.column) + " = ?";
                    binds.push_back(a.selectColumn);
                }
                sql = "UPDATE " + table + " SET " + sql + " WHERE rowid = ?";
                binds.push_back(t.rowidColumn);
            } else {
                sql = "DELETE FROM " + table + " WHERE rowid = ?";
                binds.push_back(t.rowidColumn);
            }
            auto w = sqlbridge::Statement::prepare(*m_conn, sql);
            if (!w.ok()) return w.error();
            for (const auto& row : rows) {
                if (t.rowidColumn >= 0 &&
                    sqlite3_value_type(row[static_cast<size_t>(t.rowidColumn)].get()) ==
                        SQLITE_NULL)
                    continue;  // the unmatched side of an outer join
                for (size_t b = 0; b < binds.size(); ++b)
                    sqlite3_bind_value(w->handle(), static_cast<int>(b + 1),
                                       row[static_cast<size_t>(binds[b])].get());
                auto done = w->step();
                if (!done.ok()) return done.error();
                TAB_TRY(w->reset());
            }
        }
        return Status::success();
    }

private:
    std::unique_ptr<sqlbridge::Connection> m_conn;
};

}  // namespace

// Each statement: the plan's shape, then the plan run on the sample rows and
// the table it changed read back.
TEST(TranslateWrite, PlansRunAsTheStatementSays) {
    struct Case {
        const char* sql;
        const char* shape;
        const char* check;  // SQLite, over the tables after the plan ran
        const char* rows;
    };
    const Case cases[] = {
        {"INSERT INTO Customers (Name, CustomerID) VALUES ('Dee' & 'n', 2 + 2)",
         "Insert Customers{Name=0,CustomerID=1} | Name:Text, CustomerID:Long Integer",
         "SELECT CustomerID, Name, Country FROM Customers ORDER BY CustomerID",
         "1,Ann,UK 2,Bob,DE 3,Cy,UK 4,Deen,null"},
        {"INSERT INTO Customers VALUES (5, 'Eve', Null, #2024-01-02#)",
         "Insert Customers{CustomerID=0,Name=1,Country=2,LastOrder=3} | CustomerID:Long Integer, "
         "Name:Text, Country:Variant, LastOrder:Date/Time",
         "SELECT CustomerID, Name, Country, LastOrder FROM Customers WHERE CustomerID > 3",
         "5,Eve,null,45293.0"},
        {"INSERT INTO Archive (Freight, OrderID) SELECT Freight * 2, OrderID FROM Orders WHERE "
         "Shipped Or OrderID = 12",
         "Insert Archive{Freight=0,OrderID=1} | Expr1000:Currency, OrderID:Long Integer",
         "SELECT OrderID, OrderDate, Freight FROM Archive ORDER BY OrderID",
         "11,null,140000 12,null,180000"},
        // Without a column list a query's columns go to the fields of their names.
        {"INSERT INTO Archive SELECT Freight, OrderID AS OrderDate FROM Orders WHERE OrderID < 12",
         "Insert Archive{Freight=0,OrderDate=1} | Freight:Currency, OrderDate:Long Integer",
         "SELECT OrderID, OrderDate, Freight FROM Archive ORDER BY OrderDate",
         "null,10.0,50000 null,11.0,70000"},
        {"INSERT INTO Archive (OrderID) SELECT OrderID FROM Orders WHERE Note Is Null UNION "
         "SELECT CustomerID + 100 FROM Customers WHERE Country = 'de'",
         "Insert Archive{OrderID=0} | OrderID:Long Integer",
         "SELECT OrderID FROM Archive ORDER BY OrderID", "11 13 102"},
        {"INSERT INTO Archive SELECT o.OrderID, o.OrderDate, c.CustomerID AS Freight FROM Orders "
         "AS o INNER JOIN Customers AS c ON o.CustomerID = c.CustomerID WHERE c.Name = 'BOB'",
         "Insert Archive{OrderID=0,OrderDate=1,Freight=2} | OrderID:Long Integer, "
         "OrderDate:Date/Time, Freight:Long Integer",
         "SELECT OrderID, OrderDate, Freight FROM Archive", "12,45020.0,2"},
        {"INSERT INTO Archive TABLE Archive",
         "Insert Archive{OrderID=0,OrderDate=1,Freight=2} | "
         "OrderID:Long Integer, OrderDate:Date/Time, Freight:Currency",
         "SELECT count(*) FROM Archive", "0"},
        // The new values come from the old row.
        {"UPDATE Orders SET Freight = Freight + OrderID, OrderID = OrderID * 10, Note = Note & "
         "OrderID WHERE CustomerID = 1",
         "Update Orders@0{Freight=1,OrderID=2,Note=3} | Orders.rowid:Large Number, "
         "Freight:Currency, OrderID:Long Integer, Note:Text",
         "SELECT OrderID, Freight, Note FROM Orders ORDER BY rowid",
         "100,150000,a10 110,180000,11 12,90000,c 13,20000,null"},
        {"UPDATE Orders SET Shipped = Not Shipped, Note = Null",
         "Update Orders@0{Shipped=1,Note=2} | Orders.rowid:Large Number, Shipped:Yes/No, "
         "Note:Variant",
         "SELECT OrderID, Shipped, Note FROM Orders ORDER BY OrderID",
         "10,-1,null 11,0,null 12,-1,null 13,-1,null"},
        // A joined update assigns both sides; each target has its own rowid column.
        {"UPDATE Orders AS o INNER JOIN Customers AS c ON o.CustomerID = c.CustomerID SET "
         "o.Note = c.Name, c.LastOrder = o.OrderDate WHERE c.Country = 'UK' AND o.Shipped",
         "Update Orders@0{Note=2} Customers@1{LastOrder=3} | o.rowid:Large Number, "
         "c.rowid:Large Number, o.Note:Text, c.LastOrder:Date/Time",
         "SELECT (SELECT group_concat(OrderID || '=' || Note) FROM Orders), (SELECT "
         "group_concat(CustomerID || '=' || LastOrder) FROM Customers)",
         "10=a,11=Ann,12=c,1=45010.0"},
        // Unqualified names resolve to the one table that has them; the
        // unmatched side of an outer join is left alone.
        {"UPDATE DISTINCTROW Orders LEFT JOIN Customers ON Orders.CustomerID = "
         "Customers.CustomerID SET Note = Nz(Name, 'none'), LastOrder = OrderDate",
         "Update Orders@0{Note=2} Customers@1{LastOrder=3} | Orders.rowid:Large Number, "
         "Customers.rowid:Large Number, Orders.Note:Text, Customers.LastOrder:Date/Time",
         "SELECT (SELECT group_concat(OrderID || '=' || Note) FROM Orders), (SELECT "
         "group_concat(CustomerID || '=' || coalesce(LastOrder, '-')) FROM Customers)",
         "10=Ann,11=Ann,12=Bob,13=none,1=45010.0,2=45020.0,3=-"},
        {"UPDATE Customers RIGHT JOIN Orders ON Customers.CustomerID = Orders.CustomerID SET "
         "Customers.Country = 'XX' WHERE Orders.Freight > 6",
         "Update Customers@0{Country=1} | Customers.rowid:Large Number, Country:Text",
         "SELECT CustomerID, Country FROM Customers ORDER BY CustomerID", "1,XX 2,XX 3,UK"},
        {"UPDATE Orders SET Freight = (SELECT Max(Freight) FROM Orders) WHERE OrderID IN (SELECT "
         "OrderID FROM Recent)",
         "Update Orders@0{Freight=1} | Orders.rowid:Large Number, Freight:Currency",
         "SELECT OrderID, Freight FROM Orders ORDER BY OrderID",
         "10,50000 11,90000 12,90000 13,90000"},
        {"UPDATE Orders INNER JOIN Recent ON Orders.OrderID = Recent.OrderID SET Freight = Due",
         "Update Orders@0{Freight=1} | Orders.rowid:Large Number, Freight:Date/Time",
         "SELECT OrderID, Freight FROM Orders ORDER BY OrderID",
         "10,50000 11,45011 12,45021 13,45031"},
        {"DELETE FROM Orders WHERE Freight > 5 AND Note Is Not Null",
         "Delete Orders@0 | Orders.rowid:Large Number", "SELECT group_concat(OrderID) FROM Orders",
         "10,11,13"},
        {"DELETE * FROM Orders AS o", "Delete Orders@0 | o.rowid:Large Number",
         "SELECT count(*) FROM Orders", "0"},
        {"DELETE Orders.* FROM Orders INNER JOIN Customers ON Orders.CustomerID = "
         "Customers.CustomerID WHERE Country = 'UK'",
         "Delete Orders@0 | Orders.rowid:Large Number", "SELECT group_concat(OrderID) FROM Orders",
         "12,13"},
        {"DELETE DISTINCTROW c.*, o.*, c.* FROM Customers AS c INNER JOIN Orders AS o ON "
         "o.CustomerID = c.CustomerID WHERE o.OrderID = 11",
         "Delete Customers@0 Orders@1 | c.rowid:Large Number, o.rowid:Large Number",
         "SELECT (SELECT group_concat(CustomerID) FROM Customers), (SELECT group_concat(OrderID) "
         "FROM Orders)",
         "2,3,10,12,13"},
        {"DELETE c.* FROM Customers AS c LEFT JOIN Orders AS o ON o.CustomerID = c.CustomerID "
         "WHERE o.OrderID Is Null",
         "Delete Customers@0 | c.rowid:Large Number",
         "SELECT group_concat(CustomerID) FROM Customers", "1,2"},
        {"DELETE FROM Customers WHERE CustomerID NOT IN (SELECT CustomerID FROM Orders WHERE "
         "Orders.CustomerID = Customers.CustomerID AND Freight > 6)",
         "Delete Customers@0 | Customers.rowid:Large Number",
         "SELECT group_concat(CustomerID) FROM Customers", "1,2"},
        {"SELECT OrderID, Freight * 2 AS Twice, Shipped INTO [Big orders] FROM Orders WHERE "
         "Freight > 5 ORDER BY OrderID DESC",
         "SelectInto Big orders | OrderID:Long Integer, Twice:Currency, Shipped:Yes/No",
         "SELECT * FROM \"Big orders\"", "12,180000,0 11,140000,-1"},
        {"SELECT TOP 1 c.*, o.Freight INTO Copy FROM Customers AS c INNER JOIN Orders AS o ON "
         "c.CustomerID = o.CustomerID ORDER BY o.Freight",
         "SelectInto Copy | CustomerID:Long Integer, Name:Text, Country:Text, "
         "LastOrder:Date/Time, Freight:Currency",
         "SELECT * FROM Copy", "1,Ann,UK,null,50000"},
        {"SELECT CustomerID, Count(*) INTO Counts FROM Orders GROUP BY CustomerID",
         "SelectInto Counts | CustomerID:Long Integer, Expr1000:Long Integer",
         "SELECT * FROM Counts ORDER BY CustomerID", "1,2 2,1 4,1"},
    };
    WriteCatalog catalog;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        // translate() keeps refusing statements that change the file.
        auto refused = translateSql(c.sql, catalog);
        ASSERT_FALSE(refused.ok());
        EXPECT_NE(refused.error().message().find("returns no rows to read"), std::string::npos);

        auto p = plan(c.sql, catalog);
        ASSERT_TRUE(p.ok()) << p.error().message();
        EXPECT_EQ(shape(*p), c.shape) << p->sql;
        for (const WriteTarget& t : p->targets) {
            if (t.rowidColumn < 0) continue;
            EXPECT_NE(p->sql.find(".rowid AS \"c" + std::to_string(t.rowidColumn + 1) + "\""),
                      std::string::npos)
                << p->sql;
        }
        Db db(catalog);
        auto applied = db.apply(*p);
        ASSERT_TRUE(applied.ok()) << applied.error().message() << "\n" << p->sql;
        EXPECT_EQ(db.dump(c.check), c.rows) << p->sql;
    }
}

TEST(TranslateWrite, Refusals) {
    const std::pair<const char*, const char*> cases[] = {
        {"INSERT INTO Orders (OrderID, Bogus) VALUES (1, 2)",
         "unknown field name 'Bogus'; the table 'Orders' has no such field at line 1, column 30."},
        {"INSERT INTO Orders (OrderID, orderid) VALUES (1, 2)",
         "Duplicate output destination 'OrderID' at line 1, column 30"},
        {"INSERT INTO Orders (OrderID) VALUES (1, 2)",
         "Number of query values and destination fields are not the same at line 1, column 38."},
        {"INSERT INTO Orders VALUES (1, 2)", "Number of query values and destination fields"},
        {"INSERT INTO Orders (OrderID, CustomerID) SELECT OrderID FROM Orders",
         "Number of query values and destination fields"},
        {"INSERT INTO Archive SELECT OrderID, Note FROM Orders", "unknown field name 'Note'"},
        {"INSERT INTO Archive SELECT OrderID, 1 FROM Orders", "unknown field name 'Expr1000'"},
        {"INSERT INTO Archive SELECT OrderID, OrderID FROM Orders",
         "Duplicate output destination 'OrderID'"},
        {"INSERT INTO Orders SELECT o.*, Null AS Unused FROM Orders AS o",
         "unknown field name 'Unused'"},
        {"INSERT INTO Nowhere VALUES (1)", "Cannot find the output table 'Nowhere' at line 1"},
        {"INSERT INTO Recent VALUES (1, 2)",
         "Cannot append to 'Recent'; it is a saved query, and only tables can be changed"},
        {"INSERT INTO Linked VALUES (1)", "Cannot append to 'Linked': 'Linked' is a linked table"},
        {"INSERT INTO Archive (OrderID) VALUES (Count(*))",
         "aggregate function in the VALUES list"},
        {"INSERT INTO Archive (OrderID) VALUES (OrderID)", "required parameters: OrderID"},
        {"UPDATE Recent SET Due = 1", "Cannot update 'Recent'; it is a saved query"},
        {"UPDATE [add orders] SET x = 1", "Cannot update 'Add orders': 'Add orders' is an append"},
        {"UPDATE Linked SET x = 1", "Cannot update 'Linked': 'Linked' is a linked table"},
        {"UPDATE Nowhere SET x = 1", "Cannot find the input table or query 'Nowhere'"},
        {"UPDATE Orders INNER JOIN Recent AS r ON Orders.OrderID = r.OrderID SET r.Due = 1",
         "Cannot update 'Recent'; it is a saved query"},
        {"UPDATE (SELECT OrderID FROM Orders) AS d SET OrderID = 1",
         "Cannot update the derived table 'd'"},
        {"UPDATE Orders SET Bogus = 1",
         "'Orders' has no field 'Bogus' to update at line 1, column 19."},
        {"UPDATE Orders AS o SET o.Bogus = 1", "'o' has no field 'Bogus' to update"},
        {"UPDATE Orders AS o SET Orders.Freight = 1",
         "Cannot find the table 'Orders' of 'Orders.Freight' in the UPDATE clause"},
        {"UPDATE Orders INNER JOIN Customers ON Orders.CustomerID = Customers.CustomerID SET "
         "CustomerID = 1",
         "The field 'CustomerID' could refer to more than one table listed in the UPDATE"},
        {"UPDATE Orders INNER JOIN Customers ON Orders.CustomerID = Customers.CustomerID SET "
         "Bogus = 1",
         "No table of the UPDATE clause has a field 'Bogus'"},
        {"UPDATE Orders SET Freight = 1, orders.freight = 2",
         "Duplicate output destination 'Freight' at line 1, column 32"},
        {"UPDATE Orders SET Freight = Sum(Freight)", "aggregate function in the SET clause"},
        {"UPDATE Orders SET Freight = 0 WHERE Count(*) > 1", "aggregate function in the WHERE"},
        {"UPDATE Orders SET Freight = [New freight]", "required parameters: [New freight]"},
        {"UPDATE Orders SET Freight = ?", "(1 '?' marker)"},
        {"DELETE FROM Orders INNER JOIN Customers ON Orders.CustomerID = Customers.CustomerID",
         "Specify the table containing the records you want to delete"},
        {"DELETE * FROM Orders, Customers", "Specify the table containing the records"},
        {"DELETE x.* FROM Orders", "Cannot find the table 'x' of 'x.*' in the FROM clause"},
        {"DELETE FROM Recent", "Cannot delete from 'Recent'; it is a saved query"},
        {"DELETE Recent.* FROM Orders INNER JOIN Recent ON Orders.OrderID = Recent.OrderID",
         "Cannot delete from 'Recent'; it is a saved query"},
        {"DELETE FROM Linked", "Cannot delete from 'Linked': 'Linked' is a linked table"},
        {"DELETE FROM Nowhere", "Cannot find the input table or query 'Nowhere'"},
        {"DELETE FROM Orders WHERE Sum(Freight) > 1", "aggregate function in the WHERE"},
        {"SELECT * INTO orders FROM Customers", "Table 'Orders' already exists"},
        {"SELECT * INTO Recent FROM Orders", "already used by the saved query 'Recent'"},
        {"SELECT * INTO Linked FROM Orders", "already used by the object 'Linked'"},
        {"SELECT OrderID, orderid INTO Copy FROM Orders", "Duplicate output destination 'OrderID'"},
        {"SELECT OrderID INTO Copy FROM Orders WHERE OrderID = ?", "(1 '?' marker)"},
        {"SELECT * INTO Copy FROM Orders IN 'other.mdb'", "another database"},
        {"SELECT * FROM Orders", "does not change rows"},
        {"CREATE TABLE T (a LONG)", "not as rows to change"},
    };
    WriteCatalog catalog;
    for (const auto& [sql, expected] : cases) {
        auto p = plan(sql, catalog);
        ASSERT_FALSE(p.ok()) << sql << " translated: " << p->sql;
        EXPECT_NE(p.error().message().find(expected), std::string::npos)
            << sql << "\n  got: " << p.error().message();
    }
}
