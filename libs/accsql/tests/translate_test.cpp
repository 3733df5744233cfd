// The translator against a catalogue of our own: result names and types,
// saved queries as views (nesting, cycles, unreadable ones), and the errors
// Access gives before any row is read. Execution is tested in libs/ado.
#include <gtest/gtest.h>

#include <map>

#include "../src/function_table.h"
#include "tabulary/accsql/translate.h"

using namespace tab;
using namespace tab::accsql;

namespace {

class FakeCatalog : public Catalog {
public:
    FakeCatalog() {
        table("Orders", {{"OrderID", Type::Long},
                         {"CustomerID", Type::Long},
                         {"OrderDate", Type::Date},
                         {"Freight", Type::Currency},
                         {"Note", Type::Memo},
                         {"Shipped", Type::Boolean}});
        table("Customers", {{"CustomerID", Type::Long},
                            {"Name", Type::Text, 40},
                            {"Weight", Type::Decimal},
                            {"Photo", Type::LongBinary}});
        view("Recent",
             "SELECT OrderID, OrderDate + 1 AS Due FROM Orders WHERE OrderDate > #2024-01-01#");
        view("RecentCount", "SELECT Count(*) AS N FROM Recent");
        view("LoopA", "SELECT * FROM LoopB");
        view("LoopB", "SELECT * FROM LoopA");
        view("Broken", "SELECT FROM WHERE");
        view("Prompting", "SELECT OrderID FROM Orders WHERE OrderDate > [Start date]");
        CatalogEntry other;
        other.kind = CatalogEntry::Kind::Other;
        other.name = "Add orders";
        other.reason = "'Add orders' is an append query";
        m_entries["add orders"] = other;
    }

    std::optional<CatalogEntry> find(std::string_view name) const override {
        std::string key(name);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto it = m_entries.find(key);
        if (it == m_entries.end()) return std::nullopt;
        return it->second;
    }

private:
    void table(const std::string& name, std::vector<SourceColumn> cols) {
        CatalogEntry e;
        e.name = e.sqliteName = name;
        e.columns = std::move(cols);
        add(std::move(e));
    }
    void view(const std::string& name, const std::string& sql) {
        CatalogEntry e;
        e.kind = CatalogEntry::Kind::View;
        e.name = name;
        e.sql = sql;
        add(std::move(e));
    }
    void add(CatalogEntry e) {
        std::string key = e.name;
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        m_entries[key] = std::move(e);
    }
    std::map<std::string, CatalogEntry> m_entries;
};

std::string describe(const Translation& t) {
    std::string s;
    for (const auto& c : t.columns) s += (s.empty() ? "" : ", ") + c.name + ":" + typeName(c.type);
    return s;
}

}  // namespace

TEST(Translate, ResultColumns) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT * FROM Recent", "OrderID:Long Integer, Due:Date/Time"},
        {"SELECT N, N * 2 FROM RecentCount", "N:Long Integer, Expr1000:Long Integer"},
        {"SELECT orderid, Freight * 2, Freight / 2, Freight \\ 2, CustomerID Mod 2 FROM Orders",
         "OrderID:Long Integer, Expr1000:Currency, Expr1001:Double, Expr1002:Long Integer, "
         "Expr1003:Long Integer"},
        {"SELECT OrderDate - OrderDate, OrderDate - 1, Year(OrderDate), Now() FROM Orders",
         "Expr1000:Double, Expr1001:Date/Time, Expr1002:Integer, Expr1003:Date/Time"},
        {"SELECT Shipped, Not Shipped, -Shipped, OrderID = 1, Note & 1 FROM Orders",
         "Shipped:Yes/No, Expr1000:Yes/No, Expr1001:Integer, Expr1002:Yes/No, Expr1003:Text"},
        {"SELECT IIf(Shipped, Freight, Null), IIf(Shipped, 1, 'x'), Nz(Freight, 0) FROM Orders",
         "Expr1000:Currency, Expr1001:Variant, Expr1002:Currency"},
        {"SELECT Sum(Freight), Avg(CustomerID), Sum(CustomerID), Min(OrderDate), StDev(Freight), "
         "Count(Note), First(Note) FROM Orders",
         "Expr1000:Currency, Expr1001:Double, Expr1002:Long Integer, Expr1003:Date/Time, "
         "Expr1004:Double, Expr1005:Long Integer, Expr1006:Memo"},
        {"SELECT o.CustomerID, c.CustomerID, Name FROM Orders AS o INNER JOIN Customers AS c ON "
         "o.CustomerID = c.CustomerID",
         "o.CustomerID:Long Integer, c.CustomerID:Long Integer, Name:Text"},
        {"SELECT Name FROM Customers UNION SELECT Note FROM Orders", "Name:Memo"},
        {"SELECT CustomerID FROM Customers UNION ALL SELECT Freight FROM Orders",
         "CustomerID:Currency"},
        // Multiplication ranks Double above Currency, addition below.
        {"SELECT Freight * 1.5 AS F, F + 1 AS G, Freight + 1.5 AS H, Freight * 2 AS I FROM Orders",
         "F:Double, G:Double, H:Currency, I:Currency"},
        {"SELECT Price AS Price FROM (SELECT Freight AS Price FROM Orders) AS d", "Price:Currency"},
        {"SELECT 1, 2147483648, 1.5, 'a', #2024-05-06#, True, Null",
         "Expr1000:Long Integer, Expr1001:Double, Expr1002:Double, Expr1003:Text, "
         "Expr1004:Date/Time, Expr1005:Yes/No, Expr1006:Variant"},
        {"EXECUTE Recent", "OrderID:Long Integer, Due:Date/Time"},
        {"SELECT * FROM (SELECT OrderID FROM Orders)", "OrderID:Long Integer"},
        {"TRANSFORM Sum(Freight) SELECT CustomerID FROM Orders GROUP BY CustomerID PIVOT "
         "Shipped IN (True, False)",
         "CustomerID:Long Integer, True:Currency, False:Currency"},
    };
    FakeCatalog cat;
    for (const auto& [sql, expected] : cases) {
        auto t = translateSql(sql, cat);
        ASSERT_TRUE(t.ok()) << sql << ": " << t.error().message();
        EXPECT_EQ(describe(*t), expected) << sql;
    }
}

TEST(Translate, Refusals) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT * FROM LoopA", "Circular reference caused by the saved query 'LoopA'"},
        {"SELECT * FROM Broken", "The saved query 'Broken' cannot be read"},
        {"SELECT * FROM Prompting", "required parameters: [Start date]"},
        {"SELECT * FROM [Add orders]", "'Add orders' is an append query"},
        {"EXECUTE [Add orders]", "'Add orders' is an append query"},
        {"SELECT Min(Freight) AS Freight FROM Orders",
         "Circular reference caused by alias 'Freight'"},
        {"SELECT A + 1 AS B, B + 1 AS A FROM Orders", "Circular reference caused by alias"},
        {"SELECT CustomerID FROM Orders, Customers", "could refer to more than one table"},
        {"SELECT * FROM Orders, Orders", "used for two sources"},
        {"SELECT Name FROM Customers GROUP BY Photo", "Cannot group on an OLE Object field"},
        {"SELECT OrderID FROM Orders ORDER BY Sum(Freight)", "does not include the specified"},
        {"SELECT DISTINCT OrderID FROM Orders ORDER BY Freight", "conflicts with DISTINCT"},
        {"SELECT Sum(Count(*)) FROM Orders", "inside another aggregate"},
        {"SELECT OrderID FROM Orders GROUP BY Sum(Freight)", "in the GROUP BY clause"},
        {"SELECT OrderID FROM Orders UNION SELECT OrderID, Freight FROM Orders",
         "number of columns"},
        {"SELECT OrderID FROM Orders UNION SELECT OrderID FROM Orders ORDER BY Freight",
         "only fields of the first query"},
        {"SELECT OrderID FROM Orders WHERE OrderID IN (SELECT OrderID, Freight FROM Orders)",
         "more than one field"},
        {"SELECT TOP 0 OrderID FROM Orders", "invalid TOP argument"},
        {"SELECT TOP 101 PERCENT OrderID FROM Orders", "invalid TOP argument"},
        {"SELECT OrderID FROM Orders ORDER BY 3", "ORDER BY position 3"},
        {"SELECT Frob(1) FROM Orders", "Undefined function 'Frob'"},
        {"SELECT Left(Note) FROM Orders", "Wrong number of arguments"},
        {"SELECT Photo FROM Customers WHERE Photo = Photo", "OLE Object values cannot be compared"},
        {"SELECT OrderID FROM Orders WHERE OrderID = ? AND CustomerID = ?", "2 '?' markers"},
        {"PARAMETERS [Which] Long; SELECT OrderID FROM Orders WHERE OrderID = [Which]",
         "required parameters: Which."},
        {"TRANSFORM Sum(Freight) SELECT CustomerID FROM Orders GROUP BY CustomerID PIVOT Shipped "
         "IN (1, 1)",
         "given more than once"},
        {"TRANSFORM Sum(Freight) SELECT CustomerID FROM Orders PIVOT Shipped IN (1)",
         "needs GROUP BY"},
        {"UPDATE Orders SET Freight = 0", "returns no rows to read"},
        {"SELECT OrderID INTO Copy FROM Orders", "returns no rows to read"},
    };
    FakeCatalog cat;
    for (const auto& [sql, expected] : cases) {
        auto t = translateSql(sql, cat);
        ASSERT_FALSE(t.ok()) << sql << " translated";
        EXPECT_NE(t.error().message().find(expected), std::string::npos)
            << sql << "\n  got: " << t.error().message();
    }
}

TEST(Translate, EveryFunctionIsFoundByItsName) {
    // The table is searched by bisection: one entry out of order hides others.
    for (const FunctionSpec& f : allFunctions()) {
        std::string upper(f.name);
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(findFunction(upper), &f) << f.name;
    }
    EXPECT_EQ(findFunction("DLookup"), nullptr);  // Access-only: undefined in queries
}
