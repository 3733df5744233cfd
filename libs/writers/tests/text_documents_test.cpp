// The documents byte for byte, read back by independent parsers, and the
// all-or-nothing file writing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "tabulary/writers/text_documents.h"

namespace tab::writers {
namespace {

namespace fs = std::filesystem;
using Table = std::vector<std::vector<std::string>>;  // captions first

class VectorRows : public TableRows {
public:
    explicit VectorRows(Table t, std::optional<size_t> failAt = {})
        : m_t(std::move(t)), m_failAt(failAt) {}
    size_t columnCount() override { return m_t.empty() ? 0 : m_t[0].size(); }
    void appendCaption(size_t c, std::string& out) override { out += m_t[0][c]; }
    Result<bool> nextRow() override {
        ++m_row;
        if (m_failAt && m_row == *m_failAt) return Error(Errc::Io, "the rows broke off");
        return m_row < m_t.size();
    }
    void appendCell(size_t c, std::string& out) override { out += m_t[m_row][c]; }

private:
    Table m_t;
    std::optional<size_t> m_failAt;
    size_t m_row = 0;
};

std::string render(DocumentKind kind, const Table& t) {
    const fs::path p = fs::temp_directory_path() / ("writers_render_" + std::to_string(getpid()));
    VectorRows rows(t);
    EXPECT_TRUE(writeDocumentFile(kind, rows, p.string()).ok());
    std::ifstream in(p, std::ios::binary);
    std::string s((std::istreambuf_iterator<char>(in)), {});
    fs::remove(p);
    return s;
}

const Table kExample = {{"ID", "Name"}, {"1", "Ann"}, {"2", "Bob"}};

TEST(Documents, ByteForByte) {
    using K = DocumentKind;
    struct Case {
        const char* what;
        K kind;
        Table table;
        std::string bytes;
    };
    const Case cases[] = {
        {"worked example", K::GridCsv, kExample,
         "\"ID\",\"Name\"\r\n\"1\",\"Ann\"\r\n\"2\",\"Bob\"\r\n"},
        {"worked example", K::GridText, kExample, "ID\tName\t\r\n1\tAnn\t\r\n2\tBob\t\r\n"},
        {"worked example", K::GridXml, kExample,
         "<xml>\r\n<row>\r\n<ID>1</ID>\r\n<Name>Ann</Name>\r\n</row>\r\n<row>\r\n<ID>2</ID>\r\n"
         "<Name>Bob</Name>\r\n</row>\r\n</xml>"},
        {"one column", K::GridCsv, {{"A"}, {"x"}}, "\"A\"\r\n\"x\"\r\n"},
        {"one column", K::GridText, {{"A"}, {"x"}}, "A\t\r\nx\t\r\n"},
        {"no rows", K::GridCsv, {{"A", "B"}}, "\"A\",\"B\"\r\n"},
        {"no rows", K::GridText, {{"A", "B"}}, "A\tB\t\r\n"},
        {"no rows", K::GridXml, {{"A", "B"}}, "<xml>\r\n</xml>"},
        {"no columns", K::GridCsv, {}, "\r\n"},
        {"no columns", K::GridText, {}, "\r\n"},
        {"quotes doubled, commas and breaks kept",
         K::GridCsv,
         {{"Say \"hi\"", "B"}, {"a,\"b\"", "l1\r\nl2\n"}},
         "\"Say \"\"hi\"\"\",\"B\"\r\n\"a,\"\"b\"\"\",\"l1\r\nl2\n\"\r\n"},
        {"Null is empty", K::GridCsv, {{"A", "B"}, {"", "x"}}, "\"A\",\"B\"\r\n\"\",\"x\"\r\n"},
        {"Null is empty", K::GridText, {{"A", "B"}, {"", "x"}}, "A\tB\t\r\n\tx\t\r\n"},
        {"Null is empty",
         K::GridXml,
         {{"A"}, {""}},
         "<xml>\r\n<row>\r\n<A></A>\r\n</row>\r\n</xml>"},
        {"text unescaped", K::GridText, {{"A\tB"}, {"x\r\ny\"z"}}, "A\tB\t\r\nx\r\ny\"z\t\r\n"},
        {"names encoded",
         K::GridXml,
         {{"Order Date", "1st", "a:b", "Größe", "_x0041_ x"}, {"d", "f", "c", "g", "u"}},
         "<xml>\r\n<row>\r\n<Order_x0020_Date>d</Order_x0020_Date>\r\n<_x0031_st>f</_x0031_st>\r\n"
         "<a_x003A_b>c</a_x003A_b>\r\n<Größe>g</Größe>\r\n<_x005F_x0041__x0020_x>u</"
         "_x005F_x0041__x0020_x>\r\n"
         "</row>\r\n</xml>"},
        {"values escaped",
         K::GridXml,
         {{"V"},
          {"a & b < c > d"},
          {"l1\r\nl2\tt"},
          {"bell\x07"
           "nul\x01"},
          {"bad\xFF"
           "x\xEF\xBF\xBE"}},
         "<xml>\r\n<row>\r\n<V>a &amp; b &lt; c &gt; "
         "d</V>\r\n</row>\r\n<row>\r\n<V>l1&#13;\nl2\tt</V>\r\n</row>\r\n"
         "<row>\r\n<V>bell\xEF\xBF\xBDnul\xEF\xBF\xBD</V>\r\n</"
         "row>\r\n<row>\r\n<V>bad\xEF\xBF\xBDx\xEF\xBF\xBD</V>\r\n</row>\r\n</xml>"},
        {"minimal CSV",
         K::MinimalCsv,
         {{"A", "B c"}, {"1", "x,y"}, {"q\"", ""}},
         "A,B c\r\n1,\"x,y\"\r\n\"q\"\"\",\r\n"},
        {"escaped tabs",
         K::EscapedTabs,
         {{"A", "B"}, {"t\tn\nr\rb\\", "2"}},
         "A\tB\nt\\tn\\nr\\rb\\\\\t2\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(render(c.kind, c.table), c.bytes)
            << c.what << " (" << static_cast<int>(c.kind) << ")";
}

// Cells that trip naive writers, read back by Python's csv module and XML
// parser: each must give exactly the table.
TEST(Documents, IndependentParsersReadBackTheCells) {
    if (std::system("python3 -c 'import csv, xml.etree.ElementTree' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 not available";
    const Table t = {{"ID", "Order Date", "2nd", "Text"},
                     {"1", "a,b", "\"quoted\"", "line1\r\nline2"},
                     {"2", "", "x & <y>", "tab\there\rcr"},
                     {"3", "Ωμέγα 日本語", "עברית", "한국어"}};
    const fs::path dir = fs::temp_directory_path() / ("writers_parse_" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (DocumentKind k : {DocumentKind::GridCsv, DocumentKind::GridXml}) {
        VectorRows rows(t);
        ASSERT_TRUE(writeDocumentFile(
                        k, rows, (dir / (k == DocumentKind::GridCsv ? "t.csv" : "t.xml")).string())
                        .ok());
    }
    // Both parsers print the same form: one line per row, cells as Python
    // literals, so the expectations need no escaping rules of their own.
    const std::string script =
        "import csv, sys, xml.etree.ElementTree as ET\n"
        "d = sys.argv[1]\n"
        "rows = list(csv.reader(open(d + '/t.csv', newline='', encoding='utf-8')))\n"
        "print('csv', repr(rows))\n"
        "root = ET.parse(d + '/t.xml').getroot()\n"
        "print('xml', repr([[c.tag, c.text or ''] for r in root for c in r]))\n";
    std::ofstream(dir / "read.py") << script;
    const std::string cmd = "python3 " + (dir / "read.py").string() + " " + dir.string();
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ASSERT_EQ(pclose(p), 0) << out;
    fs::remove_all(dir);
    std::string csvRows = "csv [", xmlCells = "xml [";
    auto lit = [](const std::string& s) {
        std::string r = "'";
        for (char ch : s) {
            if (ch == '\r')
                r += "\\r";
            else if (ch == '\n')
                r += "\\n";
            else if (ch == '\t')
                r += "\\t";
            else if (ch == '\'' || ch == '\\')
                r += std::string("\\") + ch;
            else
                r += ch;
        }
        return r + "'";
    };
    const char* tags[] = {"ID", "Order_x0020_Date", "_x0032_nd", "Text"};
    for (size_t r = 0; r < t.size(); ++r) {
        csvRows += std::string(r ? ", " : "") + "[";
        for (size_t c = 0; c < t[r].size(); ++c) {
            csvRows += std::string(c ? ", " : "") + lit(t[r][c]);
            if (r > 0)
                xmlCells += std::string(r == 1 && c == 0 ? "" : ", ") + "[" + lit(tags[c]) + ", " +
                            lit(t[r][c]) + "]";
        }
        csvRows += "]";
    }
    EXPECT_EQ(out, csvRows + "]\n" + xmlCells + "]\n");
}

struct Dir {
    fs::path path = fs::temp_directory_path() / ("writers_files_" + std::to_string(getpid()));
    Dir() { fs::create_directories(path); }
    ~Dir() { fs::remove_all(path); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(OutputFiles, AllOrNothingAndWhatTheNameStandsFor) {
    Dir d;
    const fs::path target = d.path / "out.csv";
    // A longer file is replaced by exactly the new document, its mode kept.
    std::ofstream(target) << std::string(500, 'x');
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    VectorRows rows(kExample);
    ASSERT_TRUE(writeDocumentFile(DocumentKind::GridText, rows, target.string()).ok());
    EXPECT_EQ(slurp(target), "ID\tName\t\r\n1\tAnn\t\r\n2\tBob\t\r\n");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(d.names(), std::vector<std::string>{"out.csv"});

    // A source failing half-way leaves the old file and no temporary one.
    VectorRows broken(Table{{"A"}, {"1"}, {"2"}}, 2);
    const Status st = writeDocumentFile(DocumentKind::GridCsv, broken, target.string());
    EXPECT_FALSE(st.ok());
    EXPECT_EQ(slurp(target), "ID\tName\t\r\n1\tAnn\t\r\n2\tBob\t\r\n");
    EXPECT_EQ(d.names(), std::vector<std::string>{"out.csv"});

    // A missing folder is an error naming the path; nothing appears.
    const Status missing = writeTextFile("x", (d.path / "no" / "such.sql").string());
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().message().find("such.sql"), std::string::npos);

    // A device is written in place; a full one is an error, not silence.
    EXPECT_FALSE(writeTextFile("x", "/dev/full").ok());

    // A symbolic link and a hard-linked file are written through, so the
    // link still points at the document and the other name sees it too.
    std::ofstream(d.path / "real.txt") << "old old old";
    fs::create_symlink("real.txt", d.path / "link.txt");
    fs::create_hard_link(d.path / "real.txt", d.path / "hard.txt");
    ASSERT_TRUE(writeTextFile("new", (d.path / "link.txt").string()).ok());
    EXPECT_TRUE(fs::is_symlink(d.path / "link.txt"));
    EXPECT_EQ(slurp(d.path / "real.txt"), "new");
    ASSERT_TRUE(writeTextFile("newer", (d.path / "hard.txt").string()).ok());
    EXPECT_EQ(slurp(d.path / "real.txt"), "newer");

    // A new file gets the requested mode less the umask.
    ASSERT_TRUE(writeTextFile("", (d.path / "work.txt").string(), 0600).ok());
    EXPECT_EQ(fs::status(d.path / "work.txt").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::file_size(d.path / "work.txt"), 0u);
    EXPECT_EQ(d.names(), (std::vector<std::string>{"hard.txt", "link.txt", "out.csv", "real.txt",
                                                   "work.txt"}));
}

}  // namespace
}  // namespace tab::writers
