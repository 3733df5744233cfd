// The text printer: reading the tab-separated document, and the PDF it
// makes, read back with poppler's pdftotext.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>

#include "printing/text_printer.h"

using tab::printing::parseTabSeparated;
using tab::printing::PrintedLayout;
using tab::printing::TextTable;

namespace {

const QChar kBreak(QChar::LineSeparator);

struct ParseCase {
    const char* name;
    QByteArray document;
    QStringList header;
    std::vector<QStringList> rows;
};

TEST(TextPrinterParse, DocumentsWellFormedOrNot) {
    const QString longCell(100000, u'x');
    const ParseCase cases[] = {
        {"empty", "", {}, {}},
        {"header only", "ID\tName\t\r\n", {"ID", "Name"}, {}},
        {"rows",
         "ID\tName\t\r\n1\tAnn\t\r\n2\tBob\t\r\n",
         {"ID", "Name"},
         {{"1", "Ann"}, {"2", "Bob"}}},
        {"empty values", "A\tB\t\r\n\t\t\r\n", {"A", "B"}, {{"", ""}}},
        {"no final CR LF", "A\tB\t\r\n1\t2\t", {"A", "B"}, {{"1", "2"}}},
        {"no final TAB either", "A\tB\t\r\n1\t2", {"A", "B"}, {{"1", "2"}}},
        {"short row padded", "A\tB\tC\t\r\n1\t\r\n", {"A", "B", "C"}, {{"1", "", ""}}},
        {"TAB in a value widens",
         "A\tB\t\r\n1\tx\ty\t\r\n2\tz\t\r\n",
         {"A", "B", ""},
         {{"1", "x", "y"}, {"2", "z", ""}}},
        {"lone CR and LF break the cell",
         "A\t\r\n1\r2\t\r\nx\ny\r\t\r\n",
         {"A"},
         {{QStringLiteral("1") + kBreak + u'2'}, {QStringLiteral("x") + kBreak + u'y' + kBreak}}},
        {"CR LF in a value splits the row",
         "A\tB\t\r\nfoo\r\nbar\tz\t\r\n",
         {"A", "B"},
         {{"foo", ""}, {"bar", "z"}}},
        {"invalid UTF-8",
         "A\t\r\n\xff\xfe ok\xc3\t\r\n",
         {"A"},
         {{QStringLiteral("\uFFFD\uFFFD ok\uFFFD")}}},
        {"byte-order mark and controls",
         "\xef\xbb\xbf"
         "A\x01"
         "B\t\r\n\x7f\t\r\n",
         {"A B"},
         {{" "}}},
        {"UTF-8 text",
         "N\t\r\n\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d \xe5\xa4\xa7\t\r\n",
         {"N"},
         {{QStringLiteral(u"שלום 大")}}},
        {"blank lines without columns", "\r\n\r\n\r\n", {}, {}},
        {"very long cell", "A\t\r\n" + longCell.toLatin1() + "\t\r\n", {"A"}, {{longCell}}},
    };
    for (const ParseCase& c : cases) {
        const TextTable t = parseTabSeparated(c.document);
        EXPECT_EQ(t.header, c.header) << c.name;
        EXPECT_EQ(t.rows, c.rows) << c.name;
        for (const QStringList& row : t.rows) EXPECT_EQ(row.size(), t.columnCount()) << c.name;
    }
}

// Every prefix of a document with everything awkward in it parses into
// rectangular rows (the sanitizer build watches the bounds).
TEST(TextPrinterParse, EveryTruncationIsRectangular) {
    const QByteArray doc = "ID\tN\xc3\xa4me\t\r\n1\ta\tb\r\nc\n\t\r\n\xe5\xa4\t\t\t\r";
    for (qsizetype n = 0; n <= doc.size(); ++n) {
        const TextTable t = parseTabSeparated(doc.left(n));
        for (const QStringList& row : t.rows) ASSERT_EQ(row.size(), t.columnCount()) << n;
    }
}

QString pdftotext() {
#ifdef TABULARY_PDFTOTEXT
    return QStringLiteral(TABULARY_PDFTOTEXT);
#else
    return {};
#endif
}

// The pages' text, as pdftotext -layout gives it; bidi controls dropped.
QStringList pageTexts(const QByteArray& pdf, const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("read.pdf"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(pdf);
    f.close();
    QProcess p;
    p.start(pdftotext(), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    EXPECT_TRUE(p.waitForFinished(120000));
    QString text = QString::fromUtf8(p.readAllStandardOutput());
    text.remove(QRegularExpression(QStringLiteral("[\u200e\u200f\u202a-\u202e]")));
    QStringList pages = text.split(u'\f');
    if (!pages.isEmpty() && pages.back().trimmed().isEmpty()) pages.removeLast();
    return pages;
}

TextTable numbered(int rows, int columns, const std::function<QString(int, int)>& cell,
                   const QStringList& header = {}) {
    TextTable t;
    for (int c = 0; c < columns; ++c)
        t.header << (c < header.size() ? header[c] : QStringLiteral("Head%1").arg(c));
    for (int r = 0; r < rows; ++r) {
        QStringList row;
        for (int c = 0; c < columns; ++c) row << cell(r, c);
        t.rows.push_back(row);
    }
    return t;
}

struct LayoutCase {
    const char* name;
    TextTable table;
    bool landscape;
    int bands;
    int minPages, maxPages;
    QStringList texts;   // each found in the text, in this order
    QString everyPage;   // found on every page
    QStringList absent;  // patterns matching nowhere
    bool smallerType;    // printed below 9 pt (not below 7), else in 9 pt
};

TEST(TextPrinterPdf, LayoutAndText) {
    if (pdftotext().isEmpty()) GTEST_SKIP() << "pdftotext is not installed";
    const QTemporaryDir dir;
    const QString words = QStringLiteral("lorem ipsum dolor sit amet ").repeated(800);
    const auto id = [](int r, int c) { return QStringLiteral("r%1c%2").arg(r).arg(c); };
    const LayoutCase cases[] = {
        {"empty document", TextTable{}, false, 1, 1, 1, {"Page 1 of 1"}, "Page", {}, false},
        {"header only",
         numbered(0, 2, id),
         false,
         1,
         1,
         1,
         {"Head0", "Head1", "Page 1 of 1"},
         "Head1",
         {},
         false},
        {"narrow",
         numbered(5, 3, id),
         false,
         1,
         1,
         1,
         {"Head0", "Head2", "r0c0", "r4c2"},
         "r4c2",
         {},
         false},
        {"wide: landscape",
         numbered(5, 9,
                  [](int r, int c) { return QStringLiteral("value %1 in %2").arg(r).arg(c); }),
         true,
         1,
         1,
         1,
         {"Head0", "Head8", "value 0 in 0", "value 4 in 8"},
         "Head8",
         {},
         false},
        // Smaller type before anything wraps.
        {"wider: smaller type",
         numbered(
             2, 9,
             [](int r, int c) { return QStringLiteral("value %1 of column %2").arg(r).arg(c); }),
         true,
         1,
         1,
         1,
         {"Head8", "value 1 of column 8"},
         "Head8",
         {},
         true},
        // Smaller type, the headings wrapping at words, rather than bands.
        {"many columns: smaller type, narrowed",
         numbered(3, 18, id, QStringList(17, QStringLiteral("QuantityPerUnit"))),
         true,
         1,
         1,
         1,
         {"Quantity", "Head17", "r0c0", "r2c17"},
         "Head17",
         {"QuantityPerUnit", "Quanti(?!ty)"},
         true},
        // Narrowed headings wrap between the words of their CamelCase names.
        {"headings wrap at words",
         numbered(3, 9,
                  [&](int r, int c) {
                      return c == 1 || c == 8 ? words.left(300 + r) : QString::number(r * c);
                  },
                  {"ProductID", "ProductName", "SupplierID", "UnitPrice", "UnitsInStock",
                   "ReorderLevel", "Discontinued", "Weight_Kg"}),
         true,
         1,
         1,
         1,
         {"Product", "Supplier", "Discontinued", "ID", "ID", "Price"},
         "Head8",
         {"ProductID", "Produ(?!ct)", "Suppl(?!ier)", "Disc(?!ontinued)", "Reord(?!er)",
          "We(?!ight_)"},
         false},
        // A word wider than the page is all the heading has: broken anywhere.
        {"heading wider than the page",
         numbered(1, 1, id, {QStringLiteral("Head") + QStringLiteral("wide").repeated(40) + u'.'}),
         true,
         1,
         1,
         1,
         {"Headwidewide", "wide.", "r0c0"},
         "r0c0",
         {},
         false},
        // Every band starts with the first column.
        {"very wide: bands",
         numbered(3, 40, id),
         true,
         3,
         3,
         3,
         {"Head0", "r0c0", "r2c39"},
         "r2c0",
         {},
         false},
        {"long cell across pages",
         numbered(1, 2, [&](int, int c) { return c ? words : QStringLiteral("one"); }),
         false,
         1,
         2,
         30,
         {"Head1", "one", "lorem ipsum", "Page 2 of"},
         "lorem ipsum",
         {},
         false},
        {"scripts",
         numbered(1, 7,
                  [](int, int c) {
                      const char16_t* scripts[] = {u"Ελληνικά",    u"Москва",
                                                   u"שלום עולם",   u"大阪 日本 文",
                                                   u"서울 종로구", u"Göteborg – «Nuit»",
                                                   u"墨韵"};
                      return QString::fromUtf16(scripts[c]);
                  }),
         false,
         1,
         1,
         1,
         {"Ελληνικά", "Москва", "שלום עולם", "大阪 日本 文", "서울 종로구", "Göteborg – «Nuit»",
          "墨韵"},
         "墨韵",
         {},
         false},
    };
    for (const LayoutCase& c : cases) {
        QByteArray pdf;
        QString error;
        PrintedLayout layout;
        ASSERT_TRUE(tab::printing::renderTableToPdf(c.table, pdf, error, &layout)) << c.name;
        EXPECT_EQ(layout.landscape, c.landscape) << c.name;
        EXPECT_EQ(layout.bands, c.bands) << c.name;
        EXPECT_GE(layout.pages, c.minPages) << c.name;
        EXPECT_LE(layout.pages, c.maxPages) << c.name;
        const QStringList pages = pageTexts(pdf, dir);
        ASSERT_EQ(pages.size(), layout.pages) << c.name;
        if (c.smallerType) {
            EXPECT_LT(layout.pointSize, 9) << c.name;
            EXPECT_GE(layout.pointSize, 7) << c.name;
        } else {
            EXPECT_EQ(layout.pointSize, 9) << c.name;
        }
        const QString all = pages.join(u'\n');
        for (const QString& pattern : c.absent)
            EXPECT_FALSE(all.contains(QRegularExpression(pattern)))
                << c.name << ": " << pattern.toStdString();
        qsizetype at = 0;
        for (const QString& t : c.texts) {
            const qsizetype found = all.indexOf(t, at);
            EXPECT_GE(found, 0) << c.name << ": " << t.toStdString();
            if (found >= 0) at = found;
        }
        for (int p = 0; p < static_cast<int>(pages.size()); ++p) {
            EXPECT_TRUE(
                pages[p].contains(QStringLiteral("Page %1 of %2").arg(p + 1).arg(pages.size())))
                << c.name << " page " << p + 1;
            EXPECT_TRUE(pages[p].contains(c.everyPage)) << c.name << " page " << p + 1;
            if (c.table.columnCount() > 0) {
                EXPECT_TRUE(pages[p].contains(QStringLiteral("Head")))
                    << c.name << " page " << p + 1;
            }
        }
    }
}

// Many rows: the header and the page number on every page, every row once,
// in order, and the layout's first rows agreeing with the text.
TEST(TextPrinterPdf, RowsSpreadOverPages) {
    if (pdftotext().isEmpty()) GTEST_SKIP() << "pdftotext is not installed";
    const QTemporaryDir dir;
    const int rows = 400;
    const TextTable table = numbered(rows, 3, [](int r, int c) {
        return c == 0 ? QStringLiteral("row%1.").arg(r, 4, 10, QChar(u'0'))
                      : QStringLiteral("text %1").arg(r * c);
    });
    QByteArray pdf;
    QString error;
    PrintedLayout layout;
    ASSERT_TRUE(tab::printing::renderTableToPdf(table, pdf, error, &layout));
    const QStringList pages = pageTexts(pdf, dir);
    ASSERT_EQ(pages.size(), layout.pages);
    ASSERT_GT(layout.pages, 3);
    int next = 0;
    for (int p = 0; p < layout.pages; ++p) {
        EXPECT_EQ(pages[p].count(QStringLiteral("Head0")), 1) << p;
        EXPECT_TRUE(
            pages[p].contains(QStringLiteral("Page %1 of %2").arg(p + 1).arg(layout.pages)));
        EXPECT_EQ(layout.firstRowOfPage[p], next) << p;
        const QRegularExpression id(QStringLiteral("row(\\d{4})\\."));
        for (auto m = id.globalMatch(pages[p]); m.hasNext();)
            EXPECT_EQ(m.next().captured(1).toInt(), next++);
    }
    EXPECT_EQ(next, rows);
}

// The file appears whole or not at all, and replaces one that was there.
TEST(TextPrinterPdf, WritesInPlaceOrNothing) {
    const QTemporaryDir dir;
    const QByteArray doc = "ID\tName\t\r\n1\tAnn\t\r\n";
    struct Case {
        const char* name;
        QString path;
        bool written;
    } cases[] = {
        {"new file", dir.filePath(QStringLiteral("a.pdf")), true},
        {"replaced", dir.filePath(QStringLiteral("a.pdf")), true},
        {"missing folder", dir.filePath(QStringLiteral("none/b.pdf")), false},
        {"a folder in the way", dir.path(), false},
    };
    for (const Case& c : cases) {
        QString error;
        EXPECT_EQ(tab::printing::printTabSeparatedToPdf(doc, c.path, error), c.written) << c.name;
        EXPECT_EQ(error.isEmpty(), c.written) << c.name;
        if (c.written) {
            QFile f(c.path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << c.name;
            const QByteArray pdf = f.readAll();
            EXPECT_TRUE(pdf.startsWith("%PDF-")) << c.name;
            EXPECT_TRUE(pdf.trimmed().endsWith("%%EOF")) << c.name;
        }
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("a.pdf")})
            << c.name;
    }
}

// The ToUnicode repair touches the codes of radicals only, in both kinds of
// list, and leaves glyph numbers and everything else as it was.
TEST(TextPrinterPdf, ToUnicodeRepair) {
    const struct {
        QByteArray before, after;
    } cases[] = {
        {"begincmap\n1 beginbfchar\n<2F24> <2F24>\nendbfchar\nendcmap",
         "begincmap\n1 beginbfchar\n<2F24> <5927>\nendbfchar\nendcmap"},
        {"begincmap\n2 beginbfrange\n<0000> <0000> <0000>\n<2F00> <2F02> [<2F47> <672C> <2F42>]\n"
         "<2F05> <2F05> <2F08>\n<0007> <0009> <2F08>\nendbfrange\nendcmap",
         "begincmap\n2 beginbfrange\n<0000> <0000> <0000>\n<2F00> <2F02> [<65E5> <672C> <6587>]\n"
         "<2F05> <2F05> <4EBA>\n<0007> <0009> <2F08>\nendbfrange\nendcmap"},
        {"<2F47> outside any map begincmap <2F47", "<2F47> outside any map begincmap <2F47"},
        {"begincmap\nbeginbfchar\n<0001> <2E80>\n<0002> <D840DC00>\nendbfchar\nendcmap",
         "begincmap\nbeginbfchar\n<0001> <2E80>\n<0002> <D840DC00>\nendbfchar\nendcmap"},
    };
    for (const auto& c : cases) {
        QByteArray pdf = c.before;
        tab::printing::repairToUnicodeMaps(pdf);
        EXPECT_EQ(pdf, c.after);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
