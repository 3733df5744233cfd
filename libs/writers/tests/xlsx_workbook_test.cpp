// Workbooks written here and read back by openpyxl (tests/tools/xlsx_cells.py):
// text cells only, sheets continued with the header, cells cut to what a
// cell holds with the note after the last row, fitted widths, failures
// reported once, and whole documents put in place or not at all.
#include "tabulary/writers/xlsx_workbook.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace tab::writers {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string run(const std::string& command, int& status) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        status = -1;
        return out;
    }
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;) out.append(chunk, n);
    status = ::pclose(p);
    return out;
}

bool readerAvailable() {
    int status = 0;
    run(quoted(TABULARY_XLSX_PYTHON) + " -c 'import openpyxl' 2>/dev/null", status);
    return status == 0;
}

// The reader's dump of a workbook.
std::string dump(const fs::path& file) {
    int status = 0;
    std::string out = run(quoted(TABULARY_XLSX_PYTHON) + " " + quoted(TABULARY_XLSX_READER) + " " +
                              quoted(file.string()),
                          status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

// The dump's form of one sheet: rows as text cells, empty strings empty.
std::string sheetDump(const std::string& name, const Rows& rows, const std::string& widths = "") {
    std::string out = "sheet " + name + "\nwidths" + widths + "\n";
    size_t columns = 0;
    for (const auto& r : rows) columns = std::max(columns, r.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        out += std::to_string(i + 1);
        for (size_t c = 0; c < columns; ++c) {
            const std::string v = c < rows[i].size() ? rows[i][c] : std::string();
            out += "\t" + (v.empty() ? v : "s:" + v);
        }
        out += "\n";
    }
    return out;
}

class XlsxWorkbookTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!readerAvailable()) GTEST_SKIP() << "openpyxl is not available to read workbooks";
        std::string pattern = (fs::temp_directory_path() / "xlsx-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        if (!folder.empty()) fs::remove_all(folder);
    }
    std::vector<std::string> entries() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path folder;
};

std::string repeated(const std::string& piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// The widths each sheet's columns were given, by column letter.
using Widths = std::vector<std::pair<std::string, double>>;
std::vector<Widths> widthsIn(const std::string& dump) {
    std::vector<Widths> sheets;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("widths", 0) != 0) continue;
        sheets.emplace_back();
        std::istringstream items(line.substr(6));
        for (std::string item; items >> item;) {
            const size_t eq = item.find('=');
            sheets.back().emplace_back(item.substr(0, eq), std::stod(item.substr(eq + 1)));
        }
    }
    return sheets;
}

// Fitted widths compared in character cells. The library adds the cell's
// padding to a width and rounds it to whole pixels.
void expectWidths(const std::string& dump,
                  const std::vector<std::vector<std::pair<std::string, uint32_t>>>& cells) {
    const std::vector<Widths> actual = widthsIn(dump);
    ASSERT_EQ(actual.size(), cells.size());
    for (size_t s = 0; s < cells.size(); ++s) {
        ASSERT_EQ(actual[s].size(), cells[s].size()) << "sheet " << s + 1;
        for (size_t c = 0; c < cells[s].size(); ++c) {
            EXPECT_EQ(actual[s][c].first, cells[s][c].first);
            EXPECT_NEAR(actual[s][c].second,
                        XlsxWorkbook::columnWidth(cells[s][c].second) + 0.7109375, 0.1)
                << "sheet " << s + 1 << " column " << cells[s][c].first;
        }
    }
}

std::string withoutWidths(const std::string& dump) {
    std::string out;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("widths", 0) != 0) out += line + "\n";
    return out;
}

const std::string kGrin = "\xF0\x9F\x98\x80";  // U+1F600, two UTF-16 units

TEST_F(XlsxWorkbookTest, CellsSheetsAndCutsAsTheReaderSeesThem) {
    const std::string longX = repeated("x", 40000);
    const struct {
        const char* name;
        uint64_t sheetRows;
        size_t cellCharacters;
        Rows written;  // row 0 the header
        std::string expected;
    } cases[] = {
        {"every value a text",
         XlsxWorkbook::kSheetRows,
         XlsxWorkbook::kCellCharacters,
         {{"ID", "Unit Price", "When"},
          {"007", "1e3", "2024-01-05"},
          {"=1+1", "TRUE", ""},
          {"-12.50", "", "#N/A"}},
         sheetDump("Sheet1", {{"ID", "Unit Price", "When"},
                              {"007", "1e3", "2024-01-05"},
                              {"=1+1", "TRUE", ""},
                              {"-12.50", "", "#N/A"}})},
        {"text the file format escapes",
         XlsxWorkbook::kSheetRows,
         XlsxWorkbook::kCellCharacters,
         {{"_x0041_", "a\x01z"}, {"<&>\"'", "two\nlines"}, {"  blanks  ", "bad \xFF byte"}},
         sheetDump("Sheet1", {{"_x0041_", "a\\x01z"},
                              {"<&>\"'", "two\\nlines"},
                              {"  blanks  ", "bad \xEF\xBF\xBD byte"}})},
        {"Greek, CJK and beyond the BMP",
         XlsxWorkbook::kSheetRows,
         XlsxWorkbook::kCellCharacters,
         {{"Όνομα", "名前"}, {"Καλημέρα", "漢字テスト" + kGrin}},
         sheetDump("Sheet1", {{"Όνομα", "名前"}, {"Καλημέρα", "漢字テスト" + kGrin}})},
        {"a full sheet needs no second",
         3,
         XlsxWorkbook::kCellCharacters,
         {{"H"}, {"1"}, {"2"}},
         sheetDump("Sheet1", {{"H"}, {"1"}, {"2"}})},
        {"rows beyond a sheet continue with the header",
         3,
         XlsxWorkbook::kCellCharacters,
         {{"H", "K"}, {"1", "a"}, {"2", "b"}, {"3", "c"}, {"4", "d"}, {"5", "e"}},
         sheetDump("Sheet1", {{"H", "K"}, {"1", "a"}, {"2", "b"}}) +
             sheetDump("Sheet2", {{"H", "K"}, {"3", "c"}, {"4", "d"}}) +
             sheetDump("Sheet3", {{"H", "K"}, {"5", "e"}})},
        {"cut in UTF-16 units, never inside a character",
         5,
         5,
         {{"abcdefg"}, {"ab" + kGrin + "cd"}, {"abcd" + kGrin}, {"abcde"}},
         sheetDump("Sheet1", {{"abcde"},
                              {"ab" + kGrin + "c"},
                              {"abcd"},
                              {"abcde"},
                              {"Note: 3 cells held more than 5 characters and were shortened "
                               "to that length."}})},
        {"the note on a full last sheet starts another",
         2,
         3,
         {{"Head"}, {"1"}},
         sheetDump("Sheet1", {{"Hea"}, {"1"}}) +
             sheetDump("Sheet2", {{"Hea"},
                                  {"Note: 1 cell held more than 3 characters and was shortened "
                                   "to that length."}})},
        {"Excel's own limit",
         XlsxWorkbook::kSheetRows,
         XlsxWorkbook::kCellCharacters,
         {{"T"}, {longX}, {repeated("y", 32767)}, {repeated(kGrin, 16384)}},
         sheetDump("Sheet1", {{"T"},
                              {repeated("x", 32767)},
                              {repeated("y", 32767)},
                              {repeated(kGrin, 16383)},
                              {"Note: 2 cells held more than 32,767 characters and were "
                               "shortened to that length."}})},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = folder / ("case" + std::to_string(n++) + ".xlsx");
        XlsxWorkbook book({folder.string(), c.sheetRows, c.cellCharacters});
        ASSERT_TRUE(book.create(file).ok());
        for (size_t r = 0; r < c.written.size(); ++r)
            for (size_t col = 0; col < c.written[r].size(); ++col)
                ASSERT_TRUE(book.write(r, static_cast<uint32_t>(col), c.written[r][col]).ok());
        const Status closed = book.close();
        ASSERT_TRUE(closed.ok()) << closed.error().message();
        EXPECT_EQ(dump(file), c.expected);
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
    }
    // The library's row files went into the folder given and were removed.
    EXPECT_EQ(entries().size(), std::size(cases));
}

TEST_F(XlsxWorkbookTest, FittedWidthsFollowTheWidestTextOfEachSheet) {
    const fs::path file = folder / "widths.xlsx";
    XlsxWorkbook book({folder.string(), 3, XlsxWorkbook::kCellCharacters});
    ASSERT_TRUE(book.create(file).ok());
    const Rows rows = {{"ID", "", "漢字テスト", "Name"},
                       {"1", "", "x", "two\nlines and more"},
                       {"22", "", "y", repeated("w", 300)},
                       {"333333", "", "z", "Καλημέρα"}};
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c)
            ASSERT_TRUE(book.write(r, static_cast<uint32_t>(c), rows[r][c]).ok());
    book.fitColumns();
    ASSERT_TRUE(book.close().ok());
    // Two columns per CJK character, the longest line, the cap; B stays empty.
    expectWidths(dump(file), {{{"A", 2}, {"C", 10}, {"D", 300}}, {{"A", 6}, {"C", 10}, {"D", 8}}});
    EXPECT_EQ(XlsxWorkbook::columnWidth(300), 255.0);
}

TEST_F(XlsxWorkbookTest, AFailureIsReturnedOnceAndLeavesNoFile) {
    // Each case: what goes wrong; the workbook is never written.
    const struct {
        const char* name;
        bool missingFolder;
        std::vector<std::pair<uint64_t, uint32_t>> cells;  // written in turn
        size_t failingCell;                                // index in cells, or npos at create
        const char* message;
    } cases[] = {
        {"a folder that is not there", true, {}, std::string::npos, "No such file"},
        {"a row after a later one", false, {{0, 0}, {2, 0}, {1, 0}, {3, 0}}, 2, "in order"},
        {"a column a sheet cannot hold",
         false,
         {{0, 0}, {0, XlsxWorkbook::kSheetColumns}, {1, 0}},
         1,
         "16,384 columns"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = (c.missingFolder ? folder / "missing" : folder) / "book.xlsx";
        XlsxWorkbook book;
        const Status created = book.create(file);
        if (c.failingCell == std::string::npos) {
            ASSERT_FALSE(created.ok());
            EXPECT_NE(created.error().message().find(c.message), std::string::npos)
                << created.error().message();
            EXPECT_NE(created.error().message().find(file.string()), std::string::npos);
            EXPECT_FALSE(book.close().ok());
        } else {
            ASSERT_TRUE(created.ok());
            for (size_t i = 0; i < c.cells.size(); ++i) {
                const Status st = book.write(c.cells[i].first, c.cells[i].second, "v");
                EXPECT_EQ(st.ok(), i != c.failingCell) << i;
                if (i == c.failingCell) {
                    EXPECT_NE(st.error().message().find(c.message), std::string::npos)
                        << st.error().message();
                }
            }
            EXPECT_TRUE(book.failed());
            const Status closed = book.close();
            ASSERT_FALSE(closed.ok());
            EXPECT_NE(closed.error().message().find(c.message), std::string::npos);
        }
        EXPECT_FALSE(fs::exists(file));
    }
    EXPECT_TRUE(entries().empty());
}

class VectorRows : public TableRows {
public:
    VectorRows(Rows rows, size_t failAt) : m_rows(std::move(rows)), m_failAt(failAt) {}
    size_t columnCount() override { return m_rows[0].size(); }
    void appendCaption(size_t column, std::string& out) override { out += m_rows[0][column]; }
    Result<bool> nextRow() override {
        if (++m_at == m_failAt) return Error(Errc::Io, "the result broke off");
        return m_at < m_rows.size();
    }
    void appendCell(size_t column, std::string& out) override { out += m_rows[m_at][column]; }

private:
    Rows m_rows;
    size_t m_at = 0;
    size_t m_failAt;
};

TEST_F(XlsxWorkbookTest, AWholeDocumentReplacesTheTargetOrLeavesIt) {
    const Rows rows = {{"ID", "Name"}, {"1", "Ann"}, {"2", "Bo"}};
    const fs::path target = folder / "out.xlsx";
    { std::ofstream(target) << "old"; }
    for (const size_t failAt : {size_t{2}, size_t{0}}) {
        SCOPED_TRACE(failAt);
        VectorRows source(rows, failAt);
        const Status st = writeXlsxDocument(source, target.string());
        EXPECT_EQ(st.ok(), failAt == 0);
        if (failAt != 0) {
            std::ifstream in(target);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
        } else {
            const std::string read = dump(target);
            EXPECT_EQ(withoutWidths(read), withoutWidths(sheetDump("Sheet1", rows)));
            expectWidths(read, {{{"A", 2}, {"B", 4}}});
        }
        // Nothing of the attempt is left beside the target.
        EXPECT_EQ(entries(), std::vector<std::string>{"out.xlsx"});
    }
    VectorRows source(rows, 0);
    EXPECT_FALSE(writeXlsxDocument(source, (folder / "no" / "out.xlsx").string()).ok());
}

}  // namespace
}  // namespace tab::writers
