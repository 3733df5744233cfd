// The "Save Results As" commands that write a file, through the real
// workspace: the dialog each shows, the name it remembers, and the bytes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include "app/application.h"
#include "app/theme.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/results_grid.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::TestWorld;
using testing::writeDatabase;

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

TEST(SaveResults, DialogsNamesAndDocumentsThroughTheWindow) {
    TestWorld world;
    world.installFixedFiles();
    const QString db = world.path(QStringLiteral("shop.mdb"));
    writeDatabase(db,
                  "CREATE TABLE People (ID LONG, [Full Name] TEXT(40), Note MEMO);\n"
                  "INSERT INTO People VALUES (1, 'Ann \"A\" Lee', 'a,b');\n"
                  "INSERT INTO People VALUES (2, 'Bob & <Co>', NULL);\n");
    world.writeSettings(db, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    auto* text1 = child<QueryBox>(*f2, "Text1");
    const QString dir = world.path(QStringLiteral("out"));
    QDir().mkpath(dir);
    const QString existing = dir + QStringLiteral("/old.txt");
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(300, 'x'));
    }

    const QByteArray people =
        "\"ID\",\"Full Name\",\"Note\"\r\n\"1\",\"Ann \"\"A\"\" Lee\",\"a,b\"\r\n"
        "\"2\",\"Bob & <Co>\",\"\"\r\n";
    const struct Step {
        const char* what;
        const char* query;   // executed first when set
        const char* item;    // the menu item
        const char* answer;  // the file chosen; "" cancels
        const char* filter;  // the dialog's filter
        const char* shown;   // the name the dialog opened with
        QByteArray bytes;    // what the file holds afterwards; "<missing>": none
        const char* error;   // the failing line's report, if any
    } steps[] = {
        {"before any SELECT: header-only text", nullptr, "TXT", "/pre.txt",
         "Text Files (*.txt)|*.txt", "", "\r\n", nullptr},
        {"before any SELECT: header-only CSV", nullptr, "CSV", "/pre.csv",
         "CSV Files (*.csv)|*.csv", "/pre.txt", "\r\n", nullptr},
        {"before any SELECT: empty XML", nullptr, "XML", "/pre.xml", "XML Files (*.xml)|*.xml",
         "/pre.csv", "<xml>\r\n</xml>", nullptr},
        {"no extension added", "SELECT * FROM People", "CSV", "/people", "CSV Files (*.csv)|*.csv",
         "/pre.xml", people, nullptr},
        {"cancel writes nothing", nullptr, "XML", "", "XML Files (*.xml)|*.xml", "/people",
         "<missing>", nullptr},
        {"an existing file is replaced", nullptr, "TXT", "/old.txt", "Text Files (*.txt)|*.txt",
         "/people", "ID\tFull Name\tNote\t\r\n1\tAnn \"A\" Lee\ta,b\t\r\n2\tBob & <Co>\t\t\r\n",
         nullptr},
        {"XML names and values", nullptr, "XML", "/p.xml", "XML Files (*.xml)|*.xml", "/old.txt",
         "<xml>\r\n<row>\r\n<ID>1</ID>\r\n<Full_x0020_Name>Ann \"A\" "
         "Lee</Full_x0020_Name>\r\n<Note>a,b</Note>\r\n</row>\r\n"
         "<row>\r\n<ID>2</ID>\r\n<Full_x0020_Name>Bob &amp; "
         "&lt;Co&gt;</Full_x0020_Name>\r\n<Note></Note>\r\n</row>\r\n</xml>",
         nullptr},
        {"a missing folder is reported", nullptr, "TXT", "/none/r.txt", "Text Files (*.txt)|*.txt",
         "/p.xml", "<missing>", "Form2.mnuTXT_Click "},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.query) {
            text1->setText(QString::fromUtf8(s.query));
            QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
        }
        const size_t dialogsBefore = world.dialogs->fileDialogs.size();
        const qsizetype errorsBefore = world.dialogs->errorTexts().size();
        const QString answer = *s.answer ? dir + QString::fromUtf8(s.answer) : QString();
        world.dialogs->files.push_back(answer);
        world.dialogs->menuChoices.push_back(QString::fromLatin1(s.item));
        // The button is disabled before a SELECT; the menu works all the same.
        if (s.query)
            QTest::mouseClick(child<QPushButton>(*f2, "PushButton6"), Qt::LeftButton);
        else
            f2->PushButton6_Click();
        ASSERT_EQ(world.dialogs->fileDialogs.size(), dialogsBefore + 1);
        const FileDialog& shown = world.dialogs->fileDialogs.back();
        EXPECT_EQ(shown.title, QStringLiteral("Save"));
        EXPECT_EQ(shown.filter, QString::fromLatin1(s.filter));
        EXPECT_EQ(shown.fileName, *s.shown ? dir + QString::fromLatin1(s.shown) : QString());
        if (!answer.isEmpty()) {
            EXPECT_EQ(bytesOf(answer), s.bytes);
        }
        const QStringList errors = world.dialogs->errorTexts().mid(errorsBefore);
        if (s.error) {
            ASSERT_EQ(errors.size(), 1);
            EXPECT_TRUE(
                errors[0].contains(QString::fromLatin1(s.error) + QStringLiteral("at line 110")))
                << errors[0].toStdString();
        } else {
            EXPECT_EQ(errors, QStringList());
        }
        EXPECT_EQ(f2->pointer().value(), kPointerDefault);
    }
    // Only the files chosen, no temporary ones beside them.
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"old.txt", "p.xml", "people", "pre.csv", "pre.txt", "pre.xml"}));
    EXPECT_FALSE(QFile::exists(dir + QStringLiteral("/people.csv")));

    // The query text as it stands: several lines with CR LF and no line end
    // after the last; an empty box gives an empty file.
    for (const auto& [query, bytes] :
         {std::pair<const char*, QByteArray>{"SELECT *\nFROM People\nWHERE ID = 1",
                                             "SELECT *\r\nFROM People\r\nWHERE ID = 1"},
          {"", ""}}) {
        text1->setText(QString::fromUtf8(query));
        const QString path = dir + QStringLiteral("/q.sql");
        world.dialogs->files.push_back(path);
        f2->mnuSQL_Click();
        EXPECT_EQ(world.dialogs->fileDialogs.back().filter,
                  QStringLiteral("SQL Files (*.sql)|*.sql"));
        EXPECT_EQ(bytesOf(path), bytes) << query;
    }
}

// The documents make each row current in turn, so afterwards the grid's
// last row is current, whichever the user had clicked; a cancelled dialog or
// a grid without rows leaves the current row where it was.
TEST(SaveResults, TheDocumentsLeaveTheLastRowCurrent) {
    TestWorld world;
    world.installFixedFiles();
    const QString db = world.path(QStringLiteral("shop.mdb"));
    writeDatabase(db,
                  "CREATE TABLE People (ID LONG, Name TEXT(40));\n"
                  "INSERT INTO People VALUES (1, 'Ann');\n"
                  "INSERT INTO People VALUES (2, 'Bob');\n"
                  "INSERT INTO People VALUES (3, 'Cy');\n"
                  "INSERT INTO People VALUES (4, 'Di');\n");
    world.writeSettings(db, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    ResultsGrid& grid = f2->grid();
    const struct {
        const char* item;
        const char* sql;
        const char* answer;  // the file dialog's; "" cancels
        int clicked;         // the row clicked before; -1: none
        int current;         // afterwards
    } cases[] = {
        {"TXT", "SELECT * FROM People", "r.txt", 1, 3},
        {"CSV", nullptr, "r.csv", 2, 3},
        {"XML", nullptr, "r.xml", 0, 3},
        {"XLS", nullptr, "", 1, 3},
        {"PDF", nullptr, "r.pdf", 0, 3},
        {"TXT", nullptr, "", 1, 1},
        // The document is built before the file fails.
        {"CSV", nullptr, "none/r.csv", 0, 3},
        {"TXT", "SELECT * FROM People WHERE ID = 3", "one.txt", 0, 0},
        {"XLS", "SELECT * FROM People WHERE ID = 0", "", -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.item) + " " + c.answer);
        if (c.sql) {
            child<QueryBox>(*f2, "Text1")->setText(QString::fromLatin1(c.sql));
            QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
        }
        if (c.clicked >= 0) {
            const QModelIndex cell = grid.model()->index(c.clicked, 1);
            testing::sendClick(grid.viewport(), grid.visualRect(cell).center());
        }
        ASSERT_EQ(grid.currentRow(), c.clicked);
        world.dialogs->files = {*c.answer ? world.path(QString::fromLatin1(c.answer)) : QString()};
        world.dialogs->menuChoices = {QString::fromLatin1(c.item)};
        f2->PushButton6_Click();
        EXPECT_EQ(grid.currentRow(), c.current);
        EXPECT_EQ(grid.currentIndex().column(), c.current >= 0 ? 1 : -1);
    }
}

// Scripts get what the window gives: the command-line tool's documents of a
// result are the window's, byte for byte.
TEST(SaveResults, TheCommandLineToolWritesTheWindowsDocuments) {
    TestWorld world;
    world.installFixedFiles();
    const QString sample = world.appFolder() + QStringLiteral("/Samples/sample.mdb");
    world.writeSettings(sample, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    const QString sql = QStringLiteral("SELECT * FROM Products ORDER BY ProductID");
    child<QueryBox>(*f2, "Text1")->setText(sql);
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
    const struct {
        const char* format;
        void (Form2::*command)();
    } formats[] = {{"txt", &Form2::mnuTXT_Click},
                   {"csv", &Form2::mnuCSV_Click},
                   {"xml", &Form2::mnuXML_Click}};
    for (const auto& f : formats) {
        const QString ours = world.path(QStringLiteral("window.") + QLatin1String(f.format));
        const QString theirs = world.path(QStringLiteral("cli.") + QLatin1String(f.format));
        world.dialogs->files.push_back(ours);
        (f2->*f.command)();
        QProcess cli;
        cli.start(QStringLiteral(TABULARY_CLI),
                  {QStringLiteral("query"), sample, sql, QStringLiteral("--format"),
                   QLatin1String(f.format), QStringLiteral("--output"), theirs});
        ASSERT_TRUE(cli.waitForFinished(120000));
        ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        const QByteArray window = bytesOf(ours);
        EXPECT_GT(window.count("\r\n"), 20) << f.format;
        EXPECT_EQ(window, bytesOf(theirs)) << f.format;
    }

    // The other two items on the same result: the workbook the spreadsheet
    // program is handed holds a row per product after the header, and the
    // PDF printer's file holds the products' names.
    const qsizetype products = QString::fromUtf8(bytesOf(world.path(QStringLiteral("window.txt"))))
                                   .count(QStringLiteral("\r\n")) -
                               1;
    f2->mnuXLS_Click();
    ASSERT_EQ(world.spreadsheets->copies.size(), 1);
    QProcess reader;
    reader.start(QStringLiteral(TABULARY_XLSX_PYTHON),
                 {QStringLiteral(TABULARY_XLSX_READER), world.spreadsheets->copies[0]});
    ASSERT_TRUE(reader.waitForFinished(120000));
    if (reader.exitCode() != 77) {  // 77: no openpyxl
        ASSERT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
        const QStringList rows = QString::fromUtf8(reader.readAllStandardOutput())
                                     .split(u'\n', Qt::SkipEmptyParts)
                                     .filter(QRegularExpression(QStringLiteral("^\\d+\t")));
        ASSERT_EQ(rows.size(), products + 1);
        EXPECT_TRUE(rows[0].startsWith(QStringLiteral("1\ts:ProductID\ts:ProductName")))
            << rows[0].toStdString();
        EXPECT_TRUE(rows[1].contains(QStringLiteral("s:Kestrel Fountain Pen, Fine Nib")))
            << rows[1].toStdString();
    }
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty()) GTEST_SKIP() << "pdftotext is not installed";
    const QString pdf = world.path(QStringLiteral("products.pdf"));
    world.dialogs->files.push_back(pdf);
    f2->mnuPDF_Click();
    QProcess text;
    text.start(pdftotext, {pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(120000));
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    for (const char* name :
         {"Kestrel Fountain Pen, Fine Nib", "Morvanelle Ink, Nuit Bleue 50 ml", "Göteborg"})
        EXPECT_TRUE(printed.simplified().contains(QString::fromUtf8(name))) << name;
    EXPECT_FALSE(QFile::exists(world.tempFolder() + QStringLiteral("/tmp.txt")));
    EXPECT_EQ(world.dialogs->errorTexts(), QStringList());

    // The command-line tool prints the same table without any display.
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(name));
    cli.setProcessEnvironment(env);
    const QString cliPdf = world.path(QStringLiteral("cli.pdf"));
    cli.start(QStringLiteral(TABULARY_CLI),
              {QStringLiteral("query"), sample, sql, QStringLiteral("--format"),
               QStringLiteral("pdf"), QStringLiteral("--output"), cliPdf});
    ASSERT_TRUE(cli.waitForFinished(120000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    text.start(pdftotext, {cliPdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(120000));
    EXPECT_EQ(QString::fromUtf8(text.readAllStandardOutput()), printed);
}

}  // namespace
}  // namespace tab::gui
