// Connection strings built and parsed the providers' way, and connections
// opened from them.
#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

#include "tabulary/ado/connection.h"
#include "tabulary/jet/writer.h"
#include "tabulary/script/create_script.h"

using namespace tab;
using namespace tab::ado;
namespace fs = std::filesystem;

TEST(ConnectionString, BuiltFromPathAndPassword) {
    const std::string jet = "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=";
    const std::string ace = "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=";
    const std::string pw = ";JET OLEDB:Database Password=";
    struct Case {
        const char* path;
        const char* password;
        std::string expected;
    };
    const Case cases[] = {
        {"/data/shop.accdb", "s3cret", ace + "/data/shop.accdb" + pw + "s3cret"},
        {"/data/shop.mdb", "", jet + "/data/shop.mdb" + pw},
        {"/DATA/SHOP.ACCDB", "", ace + "/DATA/SHOP.ACCDB" + pw},
        {"/data/shopaccdb", "", ace + "/data/shopaccdb" + pw},  // no dot needed
        {"/data/shop.accde", "", jet + "/data/shop.accde" + pw},
        {"/data/shop.mde", "", jet + "/data/shop.mde" + pw},
        {"accdb", "", ace + "accdb" + pw},  // exactly five characters
        {"ccdb", "", jet + "ccdb" + pw},    // shorter: compared whole
        {"", "", jet + pw},
        {" /a b/c.mdb ", " x ", jet + " /a b/c.mdb " + pw + " x "},  // nothing trimmed
    };
    for (const auto& c : cases)
        EXPECT_EQ(buildConnectionString(c.path, c.password), c.expected) << c.path;
}

TEST(ConnectionString, ParsedPieceByPiece) {
    struct Case {
        std::string text;
        bool ok;
        Provider provider;
        std::string dataSource, password, error;
    };
    const std::vector<Case> cases = {
        {buildConnectionString("/d/a.mdb", "pw"), true, Provider::Jet4, "/d/a.mdb", "pw", ""},
        {buildConnectionString("/d/a.accdb", ""), true, Provider::Ace12, "/d/a.accdb", "", ""},
        // Keys trimmed and case-insensitive, values kept as written, unknown keys ignored.
        {"  provider = microsoft.jet.oledb.4.0 ; DATA SOURCE= /x y.mdb ;Persist Security "
         "Info=False;"
         "jet oledb:database password= a b ",
         true, Provider::Jet4, " /x y.mdb ", " a b ", ""},
        {"Provider=Microsoft.Jet.OLEDB.4.0;;Data Source=/a.mdb;", true, Provider::Jet4, "/a.mdb",
         "", ""},
        // The last of a repeated key wins.
        {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/a.mdb;Data Source=/b.mdb", true,
         Provider::Jet4, "/b.mdb", "", ""},
        // A ';' in the password: what follows becomes a piece of its own.
        {buildConnectionString("/a.mdb", "x;y=z"), true, Provider::Jet4, "/a.mdb", "x", ""},
        {buildConnectionString("/a.mdb", "x;y"), false, Provider::Jet4, "", "",
         "\"y\" is not of the form key=value"},
        {buildConnectionString("/dir;old/a.mdb", ""), false, Provider::Jet4, "", "",
         "\"old/a.mdb\" is not of the form key=value"},
        {"Provider=SQLOLEDB;Data Source=x", false, Provider::Jet4, "", "",
         "Provider cannot be found"},
        {"Data Source=/a.mdb", false, Provider::Jet4, "", "", "names no provider"},
        {"Provider=Microsoft.ACE.OLEDB.12.0", false, Provider::Jet4, "", "",
         "names no Data Source"},
        {"Provider=Microsoft.ACE.OLEDB.12.0;=x;Data Source=/a", false, Provider::Jet4, "", "",
         "without a key"},
    };
    for (const auto& c : cases) {
        auto r = parseConnectionString(c.text);
        ASSERT_EQ(r.ok(), c.ok) << c.text << (r.ok() ? "" : ": " + r.error().message());
        if (!c.ok) {
            EXPECT_NE(r.error().message().find(c.error), std::string::npos)
                << c.text << ": " << r.error().message();
            continue;
        }
        EXPECT_EQ(r->provider, c.provider) << c.text;
        EXPECT_EQ(r->dataSource, c.dataSource) << c.text;
        EXPECT_EQ(r->password, c.password) << c.text;
    }
}

TEST(Connection, OpensTheNamedDatabaseWithItsPassword) {
    std::string path =
        (fs::temp_directory_path() / ("tabulary-ado-" + std::to_string(::getpid()) + ".mdb"))
            .string();
    {
        jet::CreateOptions o;
        o.password = "Zugang";
        auto w = jet::DatabaseWriter::create(path, o);
        ASSERT_TRUE(w.ok());
        ASSERT_TRUE(
            script::runCreateScript(**w, "CREATE TABLE t (a LONG); INSERT INTO t VALUES (1);")
                .ok());
        ASSERT_TRUE((*w)->finish().ok());
    }
    Connection c;
    c.setCursorLocation(kCursorClient);
    ASSERT_TRUE(c.open(buildConnectionString(path, "Zugang")).ok());
    ASSERT_TRUE(c.isOpen());
    EXPECT_TRUE(c.database()->table("t").ok());
    EXPECT_FALSE(c.open(buildConnectionString(path, "Zugang")).ok()) << "already open";
    c.close();
    EXPECT_FALSE(c.isOpen());

    struct Bad {
        std::string text;
        Errc code;
    };
    const Bad bad[] = {
        {buildConnectionString(path, "wrong"), Errc::WrongPassword},
        {buildConnectionString(path, ""), Errc::WrongPassword},
        {buildConnectionString(path + ".missing", "Zugang"), Errc::Io},
        {"Provider=Microsoft.Jet.OLEDB.4.0", Errc::InvalidArgument},
    };
    for (const auto& b : bad) {
        Connection d;
        Status st = d.open(b.text);
        ASSERT_FALSE(st.ok()) << b.text;
        EXPECT_EQ(st.error().code(), b.code) << b.text << ": " << st.error().message();
        EXPECT_FALSE(d.isOpen());
    }
    fs::remove(path);
}

// The file and the notice of its open come from the database itself, so
// the program needs nothing but the connection to show them.
TEST(Connection, NamesItsFileAndTheNoticeOfItsOpen) {
    std::string path =
        (fs::temp_directory_path() / ("tabulary-ado-notice-" + std::to_string(::getpid()) + ".mdb"))
            .string();
    {
        auto w = jet::DatabaseWriter::create(path, {});
        ASSERT_TRUE(w.ok());
        ASSERT_TRUE(script::runCreateScript(**w, "CREATE TABLE t (a LONG);").ok());
        ASSERT_TRUE((*w)->finish().ok());
    }
    Connection c;
    EXPECT_EQ(c.filePath(), "");
    EXPECT_EQ(c.openNotice(), "");
    ASSERT_TRUE(c.openFile(path, "").ok());
    EXPECT_EQ(c.filePath(), path);
    EXPECT_EQ(c.openNotice(), "");
    c.database()->showBeforeChange(nullptr, "Shown as it was before the change.");
    EXPECT_EQ(c.openNotice(), "Shown as it was before the change.");
    c.close();
    EXPECT_EQ(c.filePath(), "");
    EXPECT_EQ(c.openNotice(), "");
    fs::remove(path);
}
