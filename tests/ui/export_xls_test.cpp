// Save Results As > XLS through the real workspace: the workbook handed to
// the (recording) spreadsheet program, read back by openpyxl
// (tests/tools/xlsx_cells.py); the messages, the pointer and the work files.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include "app/application.h"
#include "app/procedure_error.h"
#include "app/product.h"
#include "app/theme.h"
#include "export/spreadsheet_application.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/results_grid.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::TestWorld;

const char* const kProducts =
    "CREATE TABLE Products ([Product ID] LONG, [Unit Price] CURRENCY, Name TEXT(50), "
    "Added DATETIME, Notes MEMO);\n"
    "INSERT INTO Products VALUES (1, 12.5, 'Καλημέρα κόσμε', #2024-01-05#, '漢字テスト');\n"
    "INSERT INTO Products VALUES (2, 0, '007', #2023-12-31#, NULL);\n"
    "INSERT INTO Products VALUES (3, -4.25, '1e3', #2024-02-29 13:45:00#, 'a <b> & \"c\"');\n"
    "CREATE TABLE Empty (X LONG);\n";

const QString kNotInstalled = QStringLiteral(
    "Excel is not installed on this computer. You need to have it installed to use this "
    "feature.");

bool readerAvailable() {
    QProcess p;
    p.start(QStringLiteral(TABULARY_XLSX_PYTHON),
            {QStringLiteral("-c"), QStringLiteral("import openpyxl")});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// The reader's dump without the widths lines, and the widths lines apart.
struct Dump {
    QStringList cells;
    QStringList widths;
};

Dump readWorkbook(const QString& path) {
    QProcess p;
    p.start(QStringLiteral(TABULARY_XLSX_PYTHON), {QStringLiteral(TABULARY_XLSX_READER), path});
    EXPECT_TRUE(p.waitForFinished(120000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    Dump d;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(QStringLiteral("widths")))
            d.widths << line;
        else if (!line.isEmpty())
            d.cells << line;
    }
    return d;
}

// What the sheet should hold: the grid's captions and texts as the reader
// shows text cells.
QStringList gridDump(ResultsGrid& grid) {
    const auto cell = [](const QString& text) {
        QString shown = text;
        shown.replace(u'\\', QStringLiteral("\\\\")).replace(u'\n', QStringLiteral("\\n"));
        shown.replace(u'\r', QStringLiteral("\\r")).replace(u'\t', QStringLiteral("\\t"));
        return text.isEmpty() ? QString() : QStringLiteral("s:") + shown;
    };
    QStringList out{QStringLiteral("sheet Sheet1")};
    QStringList header{QStringLiteral("1")};
    for (int c = 0; c < grid.columnCount(); ++c) header << cell(grid.columnCaption(c));
    out << header.join(u'\t');
    for (qsizetype r = 0; r < grid.rowCount(); ++r) {
        QStringList row{QString::number(r + 2)};
        for (int c = 0; c < grid.columnCount(); ++c) row << cell(grid.cellText(r, c));
        out << row.join(u'\t');
    }
    return out;
}

QStringList workFiles(TestWorld& w) {
    return QDir(w.tempFolder())
        .entryList({QStringLiteral("tabulary-results-*.xlsx")}, QDir::Files, QDir::Name);
}

class ExportXlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.installFixedFiles();
        const QString db = world.path(QStringLiteral("shop.mdb"));
        testing::writeDatabase(db, kProducts);
        world.writeSettings(db, QString());
        ASSERT_TRUE(app.start());
        f2 = app.loadedWorkspace();
        ASSERT_NE(f2, nullptr);
    }
    void execute(const QString& sql) {
        child<QueryBox>(*f2, "Text1")->setText(sql);
        QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
        world.dialogs->boxes.clear();
    }
    // The command as the user reaches it: Save Results As, then XLS.
    void saveAsXls() {
        world.dialogs->menuChoices = {QStringLiteral("XLS")};
        f2->PushButton6_Click();
    }

    TestWorld world;
    Application app;
    Form2* f2 = nullptr;
};

TEST_F(ExportXlsTest, TheGridBecomesAWorkbookOfTexts) {
    if (!readerAvailable()) GTEST_SKIP() << "openpyxl is not available to read workbooks";
    const QString big = QString(40000, QChar(0xE9));
    const struct {
        const char* sql;
        QStringList expected;  // empty: the grid's own texts
    } cases[] = {
        // Numbers, dates, Null and markup, all as the grid shows them.
        {"SELECT * FROM Products", {}},
        {"SELECT Name FROM Products WHERE [Product ID] = 2",
         {QStringLiteral("sheet Sheet1"), QStringLiteral("1\ts:Name"), QStringLiteral("2\ts:007")}},
        {"SELECT [Unit Price], Name AS [Product Name], Notes FROM Products WHERE [Product ID] = 1",
         {QStringLiteral("sheet Sheet1"),
          QStringLiteral("1\ts:Unit Price\ts:Product Name\ts:Notes"),
          QStringLiteral("2\ts:12.5\ts:Καλημέρα κόσμε\ts:漢字テスト")}},
        {"SELECT String(40000, 'é') AS Big, 'x' AS Small FROM Products WHERE [Product ID] = 3",
         {QStringLiteral("sheet Sheet1"), QStringLiteral("1\ts:Big\ts:Small"),
          QStringLiteral("2\ts:") + big.left(32767) + QStringLiteral("\ts:x"),
          QStringLiteral("3\ts:Note: 1 cell held more than 32,767 characters and was shortened "
                         "to that length.\t")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        execute(QString::fromUtf8(c.sql));
        ASSERT_GT(f2->grid().rowCount(), 0);
        const qsizetype before = world.spreadsheets->copies.size();
        saveAsXls();

        EXPECT_TRUE(world.dialogs->boxes.empty())
            << world.dialogs->boxes.front().text.toStdString();
        ASSERT_EQ(world.spreadsheets->copies.size(), before + 1);
        const QString opened = world.spreadsheets->opened.back();
        // A new file each time, owner-only, in the work folder.
        EXPECT_EQ(QFileInfo(opened).path(), world.tempFolder());
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther;
        EXPECT_FALSE(QFile::permissions(opened) & others);
        const Dump d = readWorkbook(world.spreadsheets->copies.back());
        EXPECT_EQ(d.cells, c.expected.isEmpty() ? gridDump(f2->grid()) : c.expected);
        // Fitted: every column with text got a width.
        ASSERT_EQ(d.widths.size(), 1);
        EXPECT_EQ(d.widths.front().count(u'='), f2->grid().columnCount())
            << d.widths.front().toStdString();
        EXPECT_EQ(f2->pointer().value(), kPointerDefault);
    }
    // Each export's file stays for the spreadsheet program to read.
    EXPECT_EQ(workFiles(world).size(), qsizetype{std::size(cases)});
}

TEST(ExportXls, WhatStopsTheCommandAndWhatItReports) {
    const struct {
        const char* name;
        const char* sql;
        std::function<void(TestWorld&)> prepare;
        QStringList boxes;  // message texts; error boxes as "line N: description"
        int opened;         // workbooks handed to the program
        int pointer;        // after the command
        int queries;        // calls of installed()
    } cases[] = {
        {"no rows: nothing starts",
         "SELECT * FROM Empty",
         [](TestWorld&) {},
         {},
         0,
         kPointerDefault,
         0},
        {"no spreadsheet program and no file dialog",
         "SELECT * FROM Products",
         [](TestWorld& w) {
             w.spreadsheets->calc = false;
             w.dialogs->fileDialogsShown = false;
         },
         {kNotInstalled},
         0,
         kPointerDefault,
         1},
        {"the program does not start",
         "SELECT * FROM Products",
         [](TestWorld& w) { w.spreadsheets->openFailure = QStringLiteral("It would not start."); },
         {QStringLiteral("line 142: It would not start.")},
         1,
         kPointerDefault,
         2},
        // No work folder: reported once by Workbooks.add, every cell after it nothing.
        {"no work folder",
         "SELECT * FROM Products",
         [](TestWorld& w) {
             testing::writeFile(w.path(QStringLiteral("state")), "a file");
             qputenv("TEMP", "");
             qputenv("XDG_STATE_HOME", w.path(QStringLiteral("state")).toUtf8());
         },
         {QStringLiteral("line 108: The work folder cannot be created.")},
         0,
         kPointerDefault,
         2},
        // The file cannot be written when the workbook is closed to be shown.
        {"the work folder goes away",
         "SELECT * FROM Products",
         [](TestWorld& w) {
             w.hooks.onStarted = [&w](const QString&, int line) {
                 if (line == 140) QDir(w.tempFolder()).removeRecursively();
             };
         },
         {QStringLiteral("line 142: No such file or directory")},
         0,
         kPointerDefault,
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestWorld world;
        world.installFixedFiles();
        const QString db = world.path(QStringLiteral("shop.mdb"));
        testing::writeDatabase(db, kProducts);
        world.writeSettings(db, QString());
        Application app;
        ASSERT_TRUE(app.start());
        Form2& form = *app.loadedWorkspace();
        child<QueryBox>(form, "Text1")->setText(QString::fromLatin1(c.sql));
        QTest::mouseClick(child<QPushButton>(form, "PushButton1"), Qt::LeftButton);
        world.dialogs->boxes.clear();
        c.prepare(world);
        form.mnuXLS_Click();
        world.hooks.onStarted = nullptr;

        QStringList boxes;
        for (const MessageBox& b : world.dialogs->boxes) {
            if (b.title == QStringLiteral("Application Error")) {
                // "description CR LF in ...Form2.mnuXLS_Click at line N ..."
                const QString source = b.text.section(QStringLiteral("\r\n"), 1);
                EXPECT_TRUE(source.startsWith(
                    QStringLiteral("in Ravelin2021/08/31.Form2.mnuXLS_Click at line ")))
                    << b.text.toStdString();
                const QString line =
                    source.section(QStringLiteral("at line "), 1).section(u'\r', 0, 0);
                const QString description = b.text.section(QStringLiteral("\r\n"), 0, 0);
                boxes << QStringLiteral("line ") + line + QStringLiteral(": ") +
                             (description.contains(QStringLiteral("No such file"))
                                  ? QStringLiteral("No such file or directory")
                                  : description);
            } else {
                EXPECT_EQ(b.title, applicationTitle());
                EXPECT_EQ(b.icon, BoxIcon::None);
                EXPECT_EQ(b.buttons, BoxButtons::Ok);
                boxes << b.text;
            }
        }
        EXPECT_EQ(boxes, c.boxes);
        EXPECT_EQ(world.spreadsheets->opened.size(), c.opened);
        EXPECT_EQ(form.pointer().value(), c.pointer);
        EXPECT_EQ(world.spreadsheets->queries, c.queries);
        // Only a workbook the program got stays.
        EXPECT_TRUE(workFiles(world).isEmpty()) << workFiles(world).join(u' ').toStdString();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// What group and others may do with a file.
QFileDevice::Permissions othersMay(const QString& path) {
    return QFile::permissions(path) &
           (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
            QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
}

// Where the workbook goes: Calc takes the work file as a template; the
// desktop's program gets a copy of its own that outlives every clean-up of
// the work folder; without either, the Save dialog offers it.
TEST_F(ExportXlsTest, TheWorkbookGoesTheFirstWayThereIs) {
    const QString kept = world.home() + QStringLiteral("/data/tabulary/workbooks");
    const QString saved = world.path(QStringLiteral("saved.xlsx"));
    int run = 0;
    const auto programs = [&](bool calc, bool desktop, const char* failure) {
        testing::RecordingSpreadsheets& p = *world.spreadsheets;
        p = testing::RecordingSpreadsheets();
        p.copyFolder = world.path(QStringLiteral("opened%1").arg(++run));
        p.calc = calc;
        p.desktop = desktop;
        if (failure) p.openFailure = QString::fromLatin1(failure);
    };
    execute(QStringLiteral("SELECT * FROM Products"));
    const QStringList cells = gridDump(f2->grid());
    const auto holdsTheGrid = [&](const QString& path) {
        if (readerAvailable()) return readWorkbook(path).cells == cells;
        QFile f(path);
        return f.open(QIODevice::ReadOnly) && f.read(4) == "PK\x03\x04";
    };
    const struct {
        const char* what;
        bool calc, desktop;
        const char* failure;  // of the program's start
        QString answer;       // the Save dialog's
        int inCalc, inDesktop, dialogs, workFiles, keptFiles;
    } cases[] = {
        {"Calc", true, true, nullptr, {}, 1, 0, 0, 1, 0},
        {"the desktop's program", false, true, nullptr, {}, 0, 1, 0, 0, 1},
        {"the desktop's program fails", false, true, "It would not start.", {}, 0, 1, 0, 0, 0},
        {"the Save dialog", false, false, nullptr, saved, 0, 0, 1, 0, 0},
        {"the Save dialog cancelled", false, false, nullptr, {}, 0, 0, 1, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const QString& name : workFiles(world))
            QFile::remove(world.tempFolder() + u'/' + name);
        QDir(kept).removeRecursively();
        QFile::remove(saved);
        programs(c.calc, c.desktop, c.failure);
        world.dialogs->files = {c.answer};
        const size_t dialogs = world.dialogs->fileDialogs.size();
        const qsizetype errors = world.dialogs->errorTexts().size();
        saveAsXls();

        EXPECT_EQ(world.spreadsheets->opened.size(), c.inCalc);
        EXPECT_EQ(world.spreadsheets->openedInDesktop.size(), c.inDesktop);
        ASSERT_EQ(world.dialogs->fileDialogs.size(), dialogs + size_t(c.dialogs));
        if (c.dialogs) {
            EXPECT_EQ(world.dialogs->fileDialogs.back().filter,
                      QStringLiteral("Excel Workbook (*.xlsx)|*.xlsx"));
        }
        EXPECT_EQ(workFiles(world).size(), c.workFiles);
        EXPECT_EQ(QDir(kept).entryList(QDir::Files).size(), c.keptFiles);
        if (c.keptFiles) {
            const QString copy = world.spreadsheets->openedInDesktop.front();
            EXPECT_EQ(QFileInfo(copy).path(), kept);
            EXPECT_TRUE(holdsTheGrid(copy));
            EXPECT_EQ(othersMay(copy) | othersMay(kept), QFileDevice::Permissions());
        }
        EXPECT_EQ(QFile::exists(saved), !c.answer.isEmpty());
        if (!c.answer.isEmpty()) {
            EXPECT_TRUE(holdsTheGrid(saved));
        }
        const QStringList reported = world.dialogs->errorTexts().mid(errors);
        EXPECT_EQ(reported.size(), c.failure ? 1 : 0);
        if (c.failure && !reported.isEmpty()) {
            EXPECT_TRUE(reported[0].contains(QStringLiteral("at line 142")));
            EXPECT_TRUE(reported[0].contains(QString::fromLatin1(c.failure)));
        }
        EXPECT_EQ(f2->pointer().value(), kPointerDefault);
    }

    // The kept copy outlives the clean-up of old work files at the next
    // export and the next start, with what the user saved into it.
    programs(false, true, nullptr);
    saveAsXls();
    ASSERT_EQ(world.spreadsheets->openedInDesktop.size(), 1);
    const QString copy = world.spreadsheets->openedInDesktop.front();
    testing::writeFile(copy, "saved by the user");
    QFile file(copy);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addDays(-30),
                                 QFileDevice::FileModificationTime));
    file.close();
    programs(true, false, nullptr);
    saveAsXls();
    removeStaleWorkbooks();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("saved by the user"));
}

TEST_F(ExportXlsTest, EarlierWorkbooksGoOnceTheProgramHasHadTime) {
    const QDateTime longAgo = QDateTime::currentDateTime().addSecs(-3600);
    const struct {
        const char* name;
        bool old;
        bool kept;
    } files[] = {
        {"tabulary-results-Ab12Cd.xlsx", true, false},
        {"tabulary-results-Xy34Zw.xlsx", false, true},  // may still be being opened
        {"tabulary-results-notours.xlsx", true, true},
        {"results.xlsx", true, true},
    };
    for (const auto& f : files) {
        const QString path = world.tempFolder() + u'/' + QString::fromLatin1(f.name);
        testing::writeFile(path, "x");
        if (f.old) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(longAgo, QFileDevice::FileModificationTime));
        }
    }
    execute(QStringLiteral("SELECT * FROM Products"));
    saveAsXls();
    ASSERT_EQ(world.spreadsheets->opened.size(), 1);
    for (const auto& f : files) {
        EXPECT_EQ(QFile::exists(world.tempFolder() + u'/' + QString::fromLatin1(f.name)), f.kept)
            << f.name;
    }
    EXPECT_TRUE(QFile::exists(world.spreadsheets->opened.front()));
}

// Opt-in (TABULARY_LIBREOFFICE_TESTS=1): LibreOffice itself reads the
// workbook, converted to CSV.
TEST_F(ExportXlsTest, LibreOfficeReadsTheWorkbook) {
    if (qEnvironmentVariable("TABULARY_LIBREOFFICE_TESTS") != QStringLiteral("1"))
        GTEST_SKIP() << "set TABULARY_LIBREOFFICE_TESTS=1 to run";
    QString office = QStandardPaths::findExecutable(QStringLiteral("libreoffice"));
    if (office.isEmpty()) office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (office.isEmpty()) GTEST_SKIP() << "LibreOffice is not installed";
    execute(QStringLiteral("SELECT [Product ID], Name, Notes FROM Products ORDER BY [Product ID]"));
    saveAsXls();
    ASSERT_EQ(world.spreadsheets->copies.size(), 1);
    const QString out = world.path(QStringLiteral("csv"));
    QProcess p;
    p.start(office, {QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                     QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76"),
                     QStringLiteral("--outdir"), out, world.spreadsheets->copies.front()});
    ASSERT_TRUE(p.waitForFinished(300000));
    QFile csv(out + QStringLiteral("/opened-1.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromUtf8(csv.readAll()).split(QStringLiteral("\n"), Qt::SkipEmptyParts);
    ResultsGrid& grid = f2->grid();
    ASSERT_EQ(lines.size(), grid.rowCount() + 1);
    const auto csvCell = [](const QString& text) {
        if (!text.contains(u',') && !text.contains(u'"')) return text;
        return u'"' + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
    };
    QStringList header;
    for (int c = 0; c < grid.columnCount(); ++c) header << csvCell(grid.columnCaption(c));
    EXPECT_EQ(lines[0].trimmed(), header.join(u','));
    for (qsizetype r = 0; r < grid.rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < grid.columnCount(); ++c) row << csvCell(grid.cellText(r, c));
        EXPECT_EQ(lines[r + 1].trimmed(), row.join(u','));
    }
}

}  // namespace
}  // namespace tab::gui
