// The TABLES rowset: which catalogue objects are listed and as what.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "tabulary/ado/schema.h"
#include "tabulary/jet/database.h"

using namespace tab;
using namespace tab::ado;
namespace fs = std::filesystem;

TEST(TablesSchema, ClassifiesCatalogueObjects) {
    using jet::QueryKind;
    struct Case {
        const char* name;
        int16_t type;
        uint32_t flags;
        QueryKind kind;
        bool parameters;
        const char* expected;  // "" = not listed
    };
    const Case cases[] = {
        {"Orders", 1, 0, QueryKind::Unknown, false, "TABLE"},
        {"Hidden", 1, 0x8, QueryKind::Unknown, false, "TABLE"},
        {"MSysObjects", 1, 0x80000000u, QueryKind::Unknown, false, "SYSTEM TABLE"},
        {"MSysAccessObjects", 1, 0x2, QueryKind::Unknown, false, "ACCESS TABLE"},
        {"MSysNavPaneGroups", 1, 0, QueryKind::Unknown, false, "ACCESS TABLE"},
        {"Linked", 6, 0, QueryKind::Unknown, false, "LINK"},
        {"Odbc", 4, 0, QueryKind::Unknown, false, "PASS-THROUGH"},
        {"Active customers", 5, 0, QueryKind::Select, false, "VIEW"},
        {"All names", 5, 128, QueryKind::Union, false, "VIEW"},
        {"By date", 5, 0, QueryKind::Select, true, ""},
        {"Raise prices", 5, 48, QueryKind::Update, false, ""},
        {"Add rows", 5, 64, QueryKind::Append, false, ""},
        {"Sales by month", 5, 16, QueryKind::Crosstab, false, ""},
        {"Make copy", 5, 80, QueryKind::MakeTable, false, ""},
        {"~sq_fForm1", 5, 3, QueryKind::Select, false, ""},
        {"~TMPCLP1234", 1, 0, QueryKind::Unknown, false, ""},
        {"Forms", 3, 0, QueryKind::Unknown, false, ""},
        {"Form1", -32768, 0, QueryKind::Unknown, false, ""},
    };
    jet::Catalog catalog;
    for (const auto& c : cases) {
        jet::CatalogObject o;
        o.name = c.name;
        o.type = c.type;
        o.flags = c.flags;
        o.queryKind = c.kind;
        o.hasParameters = c.parameters;
        EXPECT_EQ(tableType(o), c.expected) << c.name;
        catalog.objects.push_back(o);
    }
    auto rows = tablesSchema(catalog);
    ASSERT_EQ(rows.size(), 9u);
    // By type, then by name.
    for (size_t i = 1; i < rows.size(); ++i) {
        bool ordered = rows[i - 1].tableType < rows[i].tableType ||
                       (rows[i - 1].tableType == rows[i].tableType &&
                        rows[i - 1].tableName < rows[i].tableName);
        EXPECT_TRUE(ordered) << rows[i - 1].tableName << " / " << rows[i].tableName;
    }
}

TEST(TablesSchema, AccessMadeQueriesFile) {
    fs::path root = std::getenv("TABULARY_CORPUS") ? fs::path(std::getenv("TABULARY_CORPUS"))
                                                   : fs::path(TABULARY_CORPUS_DIR);
    fs::path file = root / "files/jackcess/V2003/queryTestV2003.mdb";
    if (!fs::exists(file)) GTEST_SKIP() << "corpus not present";
    auto db = jet::Database::open(file.string());
    ASSERT_TRUE(db.ok()) << db.error().message();
    std::map<std::string, std::string> got;
    for (const auto& r : tablesSchema((*db)->catalog())) got[r.tableName] = r.tableType;
    const std::map<std::string, std::string> expected = {
        {"Table1", "TABLE"},
        {"Table2", "TABLE"},
        {"Table3", "TABLE"},
        {"SelectQuery", "VIEW"},
        {"UnionQuery", "VIEW"},
        {"MSysObjects", "SYSTEM TABLE"},
        {"MSysACEs", "SYSTEM TABLE"},
        {"MSysQueries", "SYSTEM TABLE"},
        {"MSysRelationships", "SYSTEM TABLE"},
        {"MSysNavPaneGroups", "ACCESS TABLE"},
        {"MSysAccessStorage", "ACCESS TABLE"},
    };
    for (const auto& [name, type] : expected) {
        ASSERT_TRUE(got.count(name)) << name;
        EXPECT_EQ(got[name], type) << name;
    }
    // Action, crosstab, pass-through and parameter queries are procedures, not tables.
    for (const char* name : {"UpdateQuery", "AppendQuery", "DeleteQuery", "MakeTableQuery",
                             "CrosstabQuery", "PassthroughQuery", "DataDefinitionQuery"})
        EXPECT_FALSE(got.count(name)) << name;
}
