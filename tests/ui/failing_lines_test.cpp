// Every numbered line of every guarded procedure of the start-up and the
// workspace made to fail in turn: the box names the procedure and the line,
// and the procedure goes on as its table says (a failing test enters its
// branch).
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <set>

#include "app/application.h"
#include "app/procedure_error.h"
#include "app/product.h"
#include "app/start_window.h"
#include "app/theme.h"
#include "templating/template_window.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/results_grid.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::items;
using testing::TestWorld;
using testing::writeDatabase;

std::vector<int> lines(const char* text) {
    std::vector<int> out;
    for (const QString& part : QString::fromLatin1(text).split(u' ', Qt::SkipEmptyParts))
        out.push_back(part.toInt());
    return out;
}

QString str(const std::vector<int>& v) {
    QStringList parts;
    for (int n : v) parts << QString::number(n);
    return parts.join(u' ');
}

struct Scenario {
    const char* name;
    const char* procedure;
    // Prepares the world (files, settings) before the program starts.
    std::function<void(TestWorld&, const QString& db)> prepare;
    // Runs the procedure; false when the start-up already ends the program.
    std::function<void(Application&, TestWorld&)> act;
    const char* normal;  // the lines started when nothing fails
    // Where a failure changes what runs next: the failing position (0-based
    // in `normal`) and the lines started then.
    std::map<int, const char*> changed;
    // Extra boxes (after the injected one) for some positions.
    std::map<int, int> extraBoxes;
    // A check of the outcome after a failure at a position.
    std::function<void(Application&, TestWorld&, int position)> outcome;
};

const std::string kTwoTables =
    "CREATE TABLE Beta (B1 LONG, B2 TEXT(10));\n"
    "CREATE TABLE alpha (A1 LONG);\n"
    "INSERT INTO alpha VALUES (1);\n"
    "INSERT INTO alpha VALUES (2);\n";

void startUp(Application& app, TestWorld&) {
    app.start();
}

Form2& workspaceOf(Application& app) {
    Form2* f2 = app.loadedWorkspace();
    EXPECT_NE(f2, nullptr);
    return *f2;
}

// Starts the program, then clicks a button of one of its windows.
std::function<void(Application&, TestWorld&)> clickOnStartWindow(const char* button) {
    return [button](Application& app, TestWorld&) {
        app.start();
        QTest::mouseClick(child<QPushButton>(app.startWindow(), button), Qt::LeftButton);
    };
}
const char* const kNoRowsBranch =
    "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 128 132 134 142 144 146 148 150";

const char* const kFailedCommand =
    "100 102 104 106 108 110 112 114 116 118 138 142 144 146 148 150";

// Starts with the database open, types a statement and presses "Execute".
std::function<void(Application&, TestWorld&)> execute(const char* text) {
    return [text](Application& app, TestWorld&) {
        app.start();
        child<QueryBox>(workspaceOf(app), "Text1")->setText(QString::fromLatin1(text));
        QTest::mouseClick(child<QPushButton>(workspaceOf(app), "PushButton1"), Qt::LeftButton);
    };
}

QString historyText(TestWorld& w) {
    QFile f(w.tempFolder() + QStringLiteral("/LogFile.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll())
                                       : QStringLiteral("<missing>");
}

// The last box that is not an error report.
QString lastMessage(TestWorld& w) {
    QString text;
    for (const MessageBox& b : w.dialogs->boxes)
        if (b.title != QStringLiteral("Application Error")) text = b.text;
    return text;
}

std::function<void(Application&, TestWorld&)> clickOnWorkspace(const char* button) {
    return [button](Application& app, TestWorld&) {
        app.start();
        QTest::mouseClick(child<QPushButton>(workspaceOf(app), button), Qt::LeftButton);
    };
}

// What the template window showed while it was open.
struct TemplateProbe {
    int templates = -1;
    int fragments = -1;
    QString box;
    bool openAfterClick = false;
};
TemplateProbe g_probe;

// One template in each folder.
void templateFiles(TestWorld& w, const QString& db) {
    w.writeSettings(db, QString());
    const QString root = w.appFolder() + QStringLiteral("/templates/");
    testing::writeFile(root + QStringLiteral("queries/select/A.txt"), "SELECT * FROM {table}");
    testing::writeFile(root + QStringLiteral("queries/B.txt"), "DELETE FROM {table}");
    testing::writeFile(root + QStringLiteral("fragments/W.txt"), " AND");
}

// Starts with the database open and acts inside the template window.
std::function<void(Application&, TestWorld&)> inTemplateWindow(std::function<void(Form3&)> act) {
    return [act](Application& app, TestWorld&) {
        g_probe = {};
        app.start();
        testing::withTemplateWindow(workspaceOf(app), [&](Form3& f3) {
            g_probe.templates = child<QComboBox>(f3, "Combo1")->count();
            g_probe.fragments = child<QComboBox>(f3, "Combo2")->count();
            act(f3);
            g_probe.box = child<QueryBox>(f3, "Text1")->text();
        });
    };
}

// Puts "abc" in the template box with the caret at `caret` and inserts the fragment.
std::function<void(Form3&)> insertFragmentAt(int caret) {
    return [caret](Form3& f3) {
        auto* box = child<QueryBox>(f3, "Text1");
        box->setText(QStringLiteral("abc"));
        box->setCaretPosition(caret);
        child<QComboBox>(f3, "Combo2")->setCurrentIndex(0);
        QTest::mouseClick(child<QPushButton>(f3, "PushButton3"), Qt::LeftButton);
    };
}

// Chooses the template, then presses a button of the window.
std::function<void(Form3&)> chooseThenPress(const char* button) {
    return [button](Form3& f3) {
        testing::chooseItem(child<QComboBox>(f3, "Combo1"), 0);
        QTest::mouseClick(child<QPushButton>(f3, button), Qt::LeftButton);
        g_probe.openAfterClick = f3.isVisible();
    };
}

const char* const kTemplateLoad =
    "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 130 132 134 136 138 140 142 "
    "144 146 148 150 152 154 156";

std::vector<Scenario> scenarios() {
    auto remembered = [](TestWorld& w, const QString& db) { w.writeSettings(db, QString()); };
    auto noSettings = [](TestWorld&, const QString&) {};
    return {
        {"start-up, first run",
         "Form1.Form_Load",
         noSettings,
         startUp,
         "100 104 106 108 110 130 132 140 134 138",
         // 140 entered: the program ends there; 134 entered: the path test follows.
         {{7, "100 104 106 108 110 130 132 140"},
          {8, "100 104 106 108 110 130 132 140 134 136 138"}},
         {},
         [](Application& app, TestWorld&, int position) {
             EXPECT_EQ(services().programEnded(), position == 7);
             EXPECT_EQ(app.startWindow().isVisible(), position != 7);
         }},
        {"start-up, remembered file",
         "Form1.Form_Load",
         remembered,
         startUp,
         "100 104 106 108 110 130 132 140 134 136 138 138",
         // Without the path read at 130 the path test fails and the start window shows.
         {{5, "100 104 106 108 110 130 132 140 134 138"}, {7, "100 104 106 108 110 130 132 140"}},
         {},
         [](Application& app, TestWorld&, int position) {
             // The workspace opens unless the path or the step that opens it failed.
             const bool opened = position != 5 && position != 7 && position != 10;
             EXPECT_EQ(app.loadedWorkspace() != nullptr, opened) << position;
         }},
        {"start-up, no cursor file",
         "Form1.Form_Load",
         [](TestWorld& w, const QString&) {
             QFile::remove(w.appFolder() + QStringLiteral("/HAND-M.CUR"));
         },
         startUp,
         "100 104 108 110 130 132 140 134 138",
         // Entering 106 tries the missing file: a second box, from 106.
         {{1, "100 104 106 108 110 130 132 140 134 138"},
          {6, "100 104 108 110 130 132 140"},
          {7, "100 104 108 110 130 132 140 134 136 138"}},
         {{1, 1}},
         nullptr},
        {"Next >",
         "Form1.PushButton3_Click",
         noSettings,
         [](Application& app, [[maybe_unused]] TestWorld& w) {
             app.start();
             child<QLineEdit>(app.startWindow(), "Text1")
                 ->setText(w.path(QStringLiteral("two.mdb")));
             QTest::mouseClick(child<QPushButton>(app.startWindow(), "PushButton3"),
                               Qt::LeftButton);
         },
         "100 102 104 106",
         {},
         {},
         [](Application& app, TestWorld&, int position) {
             EXPECT_EQ(app.startWindow().isVisible(), position == 3);
             if (position != 1) {
                 EXPECT_EQ(child<QListWidget>(workspaceOf(app), "List1")->count(), 2);
             }
             EXPECT_EQ(app.loadedWorkspace()->isVisible(), position != 2);
         }},
        {"Next > with a missing file",
         "Form1.PushButton3_Click",
         [](TestWorld&, const QString&) {},
         [](Application& app, [[maybe_unused]] TestWorld& w) {
             app.start();
             child<QLineEdit>(app.startWindow(), "Text1")->setText(QStringLiteral("/no/such.mdb"));
             QTest::mouseClick(child<QPushButton>(app.startWindow(), "PushButton3"),
                               Qt::LeftButton);
         },
         // Entered anyway: the catalogue then reports the missing file itself.
         "100",
         {{0, "100 102 104 106"}},
         {{0, 1}},
         nullptr},
        {"catalogue",
         "Access1.AddTablesToAccessListbox",
         remembered,
         startUp,
         "100 102 104 108 110 112 114 112 114 116 118",
         {{1, "100 102 104 108 110 116 118"},
          {2, "100 102 104 106"},
          {4, "100 102 104 108 110 116 118"}},
         {},
         [](Application& app, TestWorld&, int position) {
             auto* list1 = child<QListWidget>(workspaceOf(app), "List1");
             const int expected = (position == 1 || position == 2 || position == 4) ? 0
                                  : (position == 5 || position == 7)                ? 1
                                                                                    : 2;
             EXPECT_EQ(list1->count(), expected) << position;
             EXPECT_EQ(list1->currentRow() == 0, expected > 0 && position != 10) << position;
         }},
        {"Sample",
         "Form1.PushButton1_Click",
         noSettings,
         clickOnStartWindow("PushButton1"),
         "100",
         {},
         {},
         [](Application& app, TestWorld&, int) {
             EXPECT_EQ(child<QLineEdit>(app.startWindow(), "Text1")->text(), QString());
         }},
        {"browse",
         "Form1.PushButton6_Click",
         noSettings,
         clickOnStartWindow("PushButton6"),
         // Without the dialog there is no file name, so the test stops it.
         "100 104 106 108 110 112",
         {{3, "100 104 106 108 110"}},
         {},
         [](Application& app, TestWorld&, int position) {
             // The dialog's answer is the chosen file unless showing it failed.
             const QString expected =
                 position == 5 || position == 3 ? QString() : QStringLiteral("/picked.mdb");
             EXPECT_EQ(child<QLineEdit>(app.startWindow(), "Text1")->text(), expected) << position;
         }},
        {"browse cancelled",
         "Form1.PushButton6_Click",
         [](TestWorld& w, const QString&) { w.dialogs->files.clear(); },
         clickOnStartWindow("PushButton6"),
         "100 104 106 108 110",
         {{4, "100 104 106 108 110 112"}},
         {},
         nullptr},
        {"workspace load",
         "Form2.Form_Load",
         remembered,
         startUp,
         "100 102 106 108 110 112 114 116 118 120 122 124 126 128 130 132 134",
         {},
         {},
         [](Application& app, TestWorld&, int position) {
             auto* history = child<QTreeWidget>(workspaceOf(app), "ListView1");
             const int columns = (position == 8 || position == 9) ? 1 : 2;
             EXPECT_EQ(history->columnCount(), columns) << position;
         }},
        {"workspace closed",
         "Form2.Form_QueryUnload",
         remembered,
         [](Application& app, [[maybe_unused]] TestWorld& w) {
             app.start();
             workspaceOf(app).close();
         },
         "100 102",
         {{1, "100 102 104 106"}},
         {},
         [](Application&, TestWorld&, int position) {
             EXPECT_EQ(services().programEnded(), position != 1);
         }},
        {"< Back",
         "Form2.PushButton4_Click",
         remembered,
         clickOnWorkspace("PushButton4"),
         "100 102 104",
         {},
         {},
         [](Application& app, TestWorld&, int position) {
             // Without ReturningToStart the unload ends the program.
             EXPECT_EQ(services().programEnded(), position == 0);
             EXPECT_EQ(app.startWindow().isVisible(), position == 2);
             EXPECT_EQ(app.loadedWorkspace() == nullptr, position != 2);
         }},
        {"unload after < Back",
         "Form2.Form_QueryUnload",
         remembered,
         clickOnWorkspace("PushButton4"),
         "100 104 106",
         {{0, "100 102"}},
         {},
         [](Application&, TestWorld&, int position) {
             EXPECT_EQ(services().programEnded(), position == 0);
         }},
        {"field listing",
         "Form2.List1_Click",
         remembered,
         startUp,
         "100 102 104 106 108 110",
         {{0, "100"},
          {1, "100 102"},
          {2, "100 102 104"},
          {3, "100 102 104 106"},
          {4, "100 102 104 106 108"}},
         {},
         [](Application& app, TestWorld&, int position) {
             Form2& f2 = workspaceOf(app);
             EXPECT_EQ(f2.pointer().value(), kPointerDefault);
             // alpha, listed first, has one field.
             const int fields = position == 5 ? 1 : 0;
             EXPECT_EQ(child<QListWidget>(f2, "List2")->count(), fields) << position;
         }},
        {"Execute, rows",
         "Form2.PushButton1_Click",
         remembered,
         execute("select * from alpha"),
         "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 128 132 134 142 144 146 148 "
         "150",
         {},
         // What fails after: without a connection 112 114 120 124 126 128 128; without the
         // recordset object 122 124 126 128 128; without the open 124 126 128 128; after a
         // failed open 126 128 128; without the open history file 144 146.
         {{0, 7}, {1, 5}, {7, 4}, {12, 3}, {18, 2}},
         [](Application& app, TestWorld& w, int position) {
             Form2& f2 = workspaceOf(app);
             EXPECT_EQ(f2.pointer().value(), position == 22 ? kPointerBusy : kPointerDefault);
             const bool bound = position != 0 && position != 1 && position != 7 && position != 12 &&
                                position != 13;
             EXPECT_EQ(f2.grid().isBound(), bound) << position;
             const bool counted = position != 0 && position != 1 && position != 7 &&
                                  position != 12 && position != 15;
             EXPECT_EQ(child<QGroupBox>(f2, "Frame1")->title(),
                       counted ? QStringLiteral("Results - Number of Records: 2")
                               : QStringLiteral("Results - Number of Records: 0"))
                 << position;
             const bool appended = position != 18 && position != 19;
             EXPECT_EQ(historyText(w).contains(QStringLiteral("select * from alpha\r\n")),
                       appended);
         }},
        {"Execute, no rows",
         "Form2.PushButton1_Click",
         remembered,
         execute("select * from Beta"),
         "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 136 142 144 146 148 150",
         // The failing test enters its branch: the caption, the pump, Save enabled.
         // So does a test that fails because an earlier step did.
         {{0, kNoRowsBranch},
          {1, kNoRowsBranch},
          {7, kNoRowsBranch},
          {12, kNoRowsBranch},
          {14, kNoRowsBranch}},
         {{0, 7}, {1, 5}, {7, 4}, {12, 3}, {16, 2}},
         [](Application& app, TestWorld&, int position) {
             Form2& f2 = workspaceOf(app);
             const std::set<int> enabled{0, 1, 7, 12, 14, 15};
             EXPECT_EQ(child<QPushButton>(f2, "PushButton6")->isEnabled(),
                       enabled.count(position) == 1)
                 << position;
         }},
        {"Execute, a command",
         "Form2.PushButton1_Click",
         remembered,
         execute(" select * from alpha"),
         "100 102 104 106 108 110 112 114 116 118 138 140 142 144 146 148 150",
         // Entering the row-returning branch runs the text as a query. A
         // command that failed (no connection object, not opened, or the
         // statement itself) reports no count.
         {{9,
           "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 128 132 134 142 144 146 "
           "148 150"},
          {0, kFailedCommand},
          {7, kFailedCommand},
          {10, kFailedCommand}},
         {{0, 3}, {7, 1}, {12, 2}},
         [](Application&, TestWorld& w, int position) {
             const QString expected =
                 position == 9 || position == 11 || position == 0 || position == 7 || position == 10
                     ? QString()
                     : QStringLiteral("-1 record(s) affected.");
             EXPECT_EQ(lastMessage(w), expected) << position;
         }},
        {"Execute, too short",
         "Form2.PushButton1_Click",
         remembered,
         execute("abc"),
         "100 102 104 106 108 110 150",
         // Entered anyway: the engine refuses "abc" at 138, and no count follows.
         {{5, kFailedCommand}},
         {{5, 1}},
         [](Application&, TestWorld& w, int position) {
             EXPECT_EQ(historyText(w).contains(QStringLiteral("abc\r\n")), position == 5);
         }},
        {"Clear Query",
         "Form2.PushButton2_Click",
         remembered,
         clickOnWorkspace("PushButton2"),
         "100",
         {},
         {},
         nullptr},
        {"Help",
         "Form2.PushButton5_Click",
         remembered,
         clickOnWorkspace("PushButton5"),
         "100",
         {},
         {},
         [](Application&, TestWorld& w, int) { EXPECT_EQ(lastMessage(w), QString()); }},
        {"Clear History",
         "Form2.PushButton3_Click",
         [](TestWorld& w, const QString& db) {
             w.writeSettings(db, QString());
             QFile f(w.tempFolder() + QStringLiteral("/LogFile.log"));
             if (f.open(QIODevice::WriteOnly)) f.write("one\r\ntwo\r\n");
         },
         clickOnWorkspace("PushButton3"),
         "102 104",
         {},
         {},
         [](Application& app, TestWorld& w, int position) {
             EXPECT_EQ(historyText(w) == QStringLiteral("<missing>"), position != 0);
             EXPECT_EQ(child<QTreeWidget>(workspaceOf(app), "ListView1")->topLevelItemCount(),
                       position == 1 ? 2 : 0);
         }},
        {"Save Results As",
         "Form2.PushButton6_Click",
         remembered,
         clickOnWorkspace("PushButton6"),
         "106",
         {},
         {},
         [](Application&, TestWorld& w, int) { EXPECT_TRUE(w.dialogs->menus.empty()); }},
        // Printing the results to PDF: the PDF printer is the default only
        // for the job; a work file left behind only when deleting it fails.
        {"Save Results As PDF",
         "Form2.mnuPDF_Click",
         remembered,
         [](Application& app, TestWorld& w) {
             execute("SELECT * FROM alpha")(app, w);
             w.dialogs->files = {w.path(QStringLiteral("alpha.pdf"))};
             workspaceOf(app).mnuPDF_Click();
         },
         "100 102 104 106 108 110 112 114 116",
         {{0, "100 102 104"}, {1, "100 102 104"}},
         {{0, 1}},
         [](Application&, TestWorld& w, int position) {
             const std::set<int> noPdf{0, 1, 4, 5, 6};
             EXPECT_EQ(QFile::exists(w.path(QStringLiteral("alpha.pdf"))), !noPdf.count(position));
             EXPECT_EQ(QFile::exists(w.tempFolder() + QStringLiteral("/tmp.txt")), position == 7);
             EXPECT_EQ(w.printers->programDefault.value_or(QString()),
                       position == 3 || position == 8 ? kPdfPrinterName
                       : position < 2                 ? QString()
                                                      : QStringLiteral("Office Laser"));
             // The default not changed: the job goes to the system's printer.
             EXPECT_EQ(w.printers->printed.size(), position == 4 ? 1u : 0u);
         }},
        // Save Results As > XLS on two rows of one column. A failing bound
        // runs no turn of its loop; a cell reference left at 0 (110, 120) is
        // refused by its cell; without the application object (106) the steps
        // on it fail, those on the workbook do nothing.
        {"Save Results As XLS",
         "Form2.mnuXLS_Click",
         remembered,
         [](Application& app, TestWorld& w) {
             execute("select * from alpha")(app, w);
             workspaceOf(app).mnuXLS_Click();
         },
         "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 130 132 134 136 138 "
         "124 126 128 130 132 134 136 138 140 142 144",
         {{6,
           "100 102 104 106 108 110 112 120 122 124 126 128 130 132 134 136 138 124 126 128 "
           "130 132 134 136 138 140 142 144"},
          {11, "100 102 104 106 108 110 112 114 116 118 120 122 140 142 144"},
          {14,
           "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 136 138 124 126 128 "
           "130 132 134 136 138 140 142 144"},
          {22,
           "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 130 132 134 136 138 "
           "124 126 128 136 138 140 142 144"}},
         {{3, 2}, {5, 1}, {10, 1}},
         [](Application& app, TestWorld& w, int position) {
             const bool shown = position != 3 && position != 4 && position != 29;
             EXPECT_EQ(w.spreadsheets->copies.size(), shown ? 1 : 0);
             // Only a workbook the program got stays in the work folder.
             EXPECT_EQ(QDir(w.tempFolder())
                           .entryList({QStringLiteral("tabulary-results-*.xlsx")}, QDir::Files)
                           .size(),
                       shown ? 1 : 0);
             // ExcelIsInstalled asks, then the application object's creation.
             EXPECT_EQ(w.spreadsheets->queries, position == 1 || position == 3 ? 1 : 2);
             EXPECT_EQ(workspaceOf(app).pointer().value(),
                       position == 30 ? kPointerBusy : kPointerDefault);
         }},
        // The Save commands share their steps: a dialog that fails shows
        // nothing chosen, so the test stops the command; a failing write
        // leaves no file; a failing last step leaves the hourglass.
        {"Save Results As TXT",
         "Form2.mnuTXT_Click",
         remembered,
         [](Application& app, TestWorld& w) {
             execute("select * from alpha")(app, w);
             w.dialogs->files = {w.path(QStringLiteral("alpha.txt"))};
             workspaceOf(app).mnuTXT_Click();
         },
         "100 102 104 106 108 110 112",
         {{2, "100 102 104 106"}},
         {},
         [](Application& app, TestWorld& w, int position) {
             QFile f(w.path(QStringLiteral("alpha.txt")));
             const bool written = position != 2 && position != 5;
             EXPECT_EQ(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(),
                       written ? QByteArray("A1\t\r\n1\t\r\n2\t\r\n") : QByteArray());
             EXPECT_EQ(workspaceOf(app).pointer().value(),
                       position == 6 ? kPointerBusy : kPointerDefault);
         }},
        {"Save Results As SQL",
         "Form2.mnuSQL_Click",
         remembered,
         [](Application& app, TestWorld& w) {
             app.start();
             child<QueryBox>(workspaceOf(app), "Text1")->setText(QStringLiteral("select\nA1"));
             w.dialogs->files = {w.path(QStringLiteral("q.sql"))};
             workspaceOf(app).mnuSQL_Click();
         },
         "100 102 104 106 108 110 112",
         {{2, "100 102 104 106"}},
         {},
         [](Application&, TestWorld& w, int position) {
             QFile f(w.path(QStringLiteral("q.sql")));
             EXPECT_EQ(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>"),
                       position != 2 && position != 5 ? QByteArray("select\r\nA1")
                                                      : QByteArray("<none>"));
         }},
        {"Insert Query From Template",
         "Form2.PushButton7_Click",
         templateFiles,
         inTemplateWindow([](Form3&) {}),
         "100",
         {},
         {},
         [](Application&, TestWorld& w, int) {
             EXPECT_TRUE(w.hooks.linesOf(QStringLiteral("Form3.Form_Load")).empty());
         }},
        {"template window load",
         "Form3.Form_Load",
         templateFiles,
         inTemplateWindow([](Form3&) {}),
         kTemplateLoad,
         // A folder not listed (its shipped files, or the merged list, missing)
         // adds nothing; an item not added to the list gets no entry.
         {{6,
           "100 102 104 106 108 110 112 114 116 126 128 130 132 134 136 138 140 142 144 146 "
           "148 150 152 154 156"},
          {8,
           "100 102 104 106 108 110 112 114 116 126 128 130 132 134 136 138 140 142 144 146 "
           "148 150 152 154 156"},
          {11,
           "100 102 104 106 108 110 112 114 116 118 120 122 126 128 130 132 134 136 138 140 "
           "142 144 146 148 150 152 154 156"},
          {13,
           "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 130 140 142 144 146 "
           "148 150 152 154 156"},
          {15,
           "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 130 140 142 144 146 "
           "148 150 152 154 156"},
          {18,
           "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 130 132 134 136 140 "
           "142 144 146 148 150 152 154 156"},
          {22,
           "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 130 132 134 136 138 "
           "140 142 144 146 148"},
          {24,
           "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 130 132 134 136 138 "
           "140 142 144 146 148"},
          {27,
           "100 102 104 106 108 110 112 114 116 118 120 122 124 126 128 130 132 134 136 138 "
           "140 142 144 146 148 150 152 154"}},
         {},
         [](Application&, TestWorld&, int position) {
             const std::set<int> oneTemplate{6, 8, 11, 12, 13, 15, 18, 19};
             const std::set<int> noFragment{22, 24, 27, 28};
             EXPECT_EQ(g_probe.templates, oneTemplate.count(position) ? 1 : 2) << position;
             EXPECT_EQ(g_probe.fragments, noFragment.count(position) ? 0 : 1) << position;
         }},
        {"template chosen",
         "Form3.Combo1_Click",
         templateFiles,
         inTemplateWindow([](Form3& f3) {
             child<QueryBox>(f3, "Text1")->setText(QStringLiteral("keep"));
             testing::chooseItem(child<QComboBox>(f3, "Combo1"), 0);
         }),
         "100 102 104 106",
         // A template that cannot be read leaves the box as it was.
         {{0, "100"}, {1, "100 102"}},
         {},
         [](Application&, TestWorld&, int position) {
             EXPECT_EQ(g_probe.box, position == 3 ? QStringLiteral("SELECT * FROM alpha")
                                                  : QStringLiteral("keep"))
                 << position;
         }},
        {"template filled",
         "Form3.Text1_Change",
         templateFiles,
         inTemplateWindow(
             [](Form3& f3) { testing::chooseItem(child<QComboBox>(f3, "Combo1"), 0); }),
         "100",
         {},
         {},
         [](Application&, TestWorld&, int) {
             EXPECT_EQ(g_probe.box, QStringLiteral("SELECT * FROM {table}"));
         }},
        {"fragment at the end",
         "Form3.PushButton3_Click",
         templateFiles,
         inTemplateWindow(insertFragmentAt(3)),
         "100 102 104 106 110 110",
         // Without the caret's position it goes in at the start.
         {{0, "100"}, {2, "100 102 104 106 110 112 112"}, {3, "100 102 104 106 108"}},
         {},
         [](Application&, TestWorld&, int position) {
             const QString expected = position == 0 || position == 1 || position == 5
                                          ? QStringLiteral("abc")
                                      : position == 2 ? QStringLiteral(" ANDabc")
                                                      : QStringLiteral("abc AND");
             EXPECT_EQ(g_probe.box, expected) << position;
         }},
        {"fragment in the middle",
         "Form3.PushButton3_Click",
         templateFiles,
         inTemplateWindow(insertFragmentAt(1)),
         "100 102 104 106 108",
         {{0, "100"}, {2, "100 102 104 106 110 112 112"}},
         {},
         nullptr},
        {"fragment at the start",
         "Form3.PushButton3_Click",
         templateFiles,
         inTemplateWindow(insertFragmentAt(0)),
         "100 102 104 106 110 112 112",
         {{0, "100"}, {3, "100 102 104 106 108"}, {4, "100 102 104 106 110 110"}},
         {},
         nullptr},
        {"Insert Template",
         "Form3.PushButton1_Click",
         templateFiles,
         inTemplateWindow(chooseThenPress("PushButton1")),
         "100 102",
         {},
         {},
         [](Application& app, TestWorld&, int position) {
             // The window closes even when the query could not be set.
             EXPECT_EQ(g_probe.openAfterClick, position == 1);
             EXPECT_EQ(child<QueryBox>(workspaceOf(app), "Text1")->text(),
                       position == 0 ? QString() : QStringLiteral("SELECT * FROM alpha"));
         }},
        {"Cancel",
         "Form3.PushButton2_Click",
         templateFiles,
         inTemplateWindow(chooseThenPress("PushButton2")),
         "100",
         {},
         {},
         [](Application& app, TestWorld&, int) {
             EXPECT_TRUE(g_probe.openAfterClick);
             EXPECT_EQ(child<QueryBox>(workspaceOf(app), "Text1")->text(), QString());
         }},
    };
}

// The fixed files, the database, a file the browse dialog will choose, then
// the scenario's own preparation.
void prepareWorld(TestWorld& world, const Scenario& s) {
    world.installFixedFiles();
    const QString db = world.path(QStringLiteral("two.mdb"));
    writeDatabase(db, kTwoTables);
    world.dialogs->files.push_back(QStringLiteral("/picked.mdb"));
    s.prepare(world, db);
}

TEST(FailingLines, EveryNumberedLineFailsInTurn) {
    for (const Scenario& s : scenarios()) {
        const std::vector<int> normal = lines(s.normal);
        // Nothing failing: the lines of the table and no box.
        {
            TestWorld world;
            prepareWorld(world, s);
            Application app;
            s.act(app, world);
            EXPECT_EQ(str(world.hooks.linesOf(QString::fromLatin1(s.procedure))), str(normal))
                << s.name;
            EXPECT_TRUE(world.dialogs->errorTexts().isEmpty()) << s.name;
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        for (int position = 0; position < static_cast<int>(normal.size()); ++position) {
            SCOPED_TRACE(std::string(s.name) + ", failing position " + std::to_string(position) +
                         " (line " + std::to_string(normal[position]) + ")");
            TestWorld world;
            prepareWorld(world, s);
            world.hooks.failProcedure = QString::fromLatin1(s.procedure);
            world.hooks.failOrdinal = position;
            Application app;
            s.act(app, world);

            const auto changed = s.changed.find(position);
            const std::vector<int> expected =
                changed != s.changed.end() ? lines(changed->second) : normal;
            EXPECT_EQ(str(world.hooks.linesOf(QString::fromLatin1(s.procedure))), str(expected));

            const QStringList errors = world.dialogs->errorTexts();
            const auto extra = s.extraBoxes.find(position);
            ASSERT_EQ(errors.size(), 1 + (extra != s.extraBoxes.end() ? extra->second : 0));
            EXPECT_EQ(errors[0], procedureErrorText(QStringLiteral("Injected failure"),
                                                    QStringLiteral("in Ravelin2021/08/31.") +
                                                        QString::fromLatin1(s.procedure) + u' ',
                                                    normal[position]));
            if (s.outcome) s.outcome(app, world, position);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
}

}  // namespace
}  // namespace tab::gui
