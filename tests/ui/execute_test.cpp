// "Execute", the results grid, composing a SELECT by clicking fields, and
// the history the executions leave.
#include <gtest/gtest.h>

#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "app/application.h"
#include "app/start_window.h"
#include "app/theme.h"
#include "tabulary/jet/writer.h"
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

std::string customersScript() {
    std::string s =
        "CREATE TABLE Customers (ID LONG, Name TEXT(40), Joined DATETIME);\n"
        "CREATE TABLE Empty (X LONG);\n"
        "CREATE TABLE Tags (Tag TEXT(10) PRIMARY KEY);\n"
        "INSERT INTO Tags VALUES ('red');\n"
        "CREATE TABLE [Order Details] ([Unit Price] CURRENCY, Qty LONG, [2nd] LONG, [Select] "
        "TEXT(5));\n";
    for (int i = 1; i <= 25; ++i)
        s += "INSERT INTO Customers VALUES (" + std::to_string(i) + ", 'Name " + std::to_string(i) +
             "', #2024-01-" + (i < 10 ? "0" : "") + std::to_string(i) + "#);\n";
    return s;
}

class ExecuteTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.installFixedFiles();
        db = world.path(QStringLiteral("shop.mdb"));
        writeDatabase(db, customersScript());
        world.writeSettings(db, QString());
        ASSERT_TRUE(app.start());
        f2 = app.loadedWorkspace();
        ASSERT_NE(f2, nullptr);
        text1 = child<QueryBox>(*f2, "Text1");
    }
    void execute(const QString& text) {
        text1->setText(text);
        QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
    }
    QString caption() { return child<QGroupBox>(*f2, "Frame1")->title(); }
    bool saveEnabled() { return child<QPushButton>(*f2, "PushButton6")->isEnabled(); }
    QByteArray historyBytes() {
        QFile f(world.tempFolder() + QStringLiteral("/LogFile.log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList history() { return testing::listedEntries(child<QTreeWidget>(*f2, "ListView1")); }

    TestWorld world;
    QString db;
    Application app;
    Form2* f2 = nullptr;
    QueryBox* text1 = nullptr;
};

TEST_F(ExecuteTest, TheLengthAndSelectTestsDecideThePath) {
    const struct {
        const char* text;
        const char* path;  // "none", "rows", "command"
        const char* caption;
        qsizetype rows;
        QStringList boxes;  // box texts after the run, error boxes by their line
    } cases[] = {
        {"abcd", "none", "Results - Number of Records: 0", -1, {}},
        {"select ", "none", "Results - Number of Records: 0", -1, {}},
        {"SELECT * FROM Customers", "rows", "Results - Number of Records: 25", 25, {}},
        {"sElEcT ID FROM Customers WHERE ID < 4", "rows", "Results - Number of Records: 3", 3, {}},
        {"select * from Empty", "rows", "Results - Number of Records: 0", 0, {}},
        // A blank before the keyword, or a line break after it: a command.
        {" select * from Customers",
         "command",
         "Results - Number of Records: 0",
         -1,
         {"-1 record(s) affected."}},
        {"select\r\n* from Customers",
         "command",
         "Results - Number of Records: 0",
         -1,
         {"-1 record(s) affected."}},
        {"DELETE FROM Customers WHERE ID = 0",
         "command",
         "Results - Number of Records: 0",
         -1,
         {"0 record(s) affected."}},
        // Refused by the engine, or not even read: line 138 and no count after it.
        {"INSERT INTO Tags (Tag) VALUES ('red')",
         "command",
         "Results - Number of Records: 0",
         -1,
         {"line 138"}},
        {"UPDATE Customers SET WHERE",
         "command",
         "Results - Number of Records: 0",
         -1,
         {"line 138"}},
        // Eight characters, rejected: line 124, then the steps that read the closed recordset.
        {"select *",
         "rows",
         "Results - Number of Records: 0",
         -1,
         {"line 124", "line 126", "line 128", "line 128"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        // Something in the grid first, to see what each path does with it.
        execute(QStringLiteral("select ID from Customers where ID = 1"));
        ASSERT_EQ(f2->grid().rowCount(), 1);
        child<QPushButton>(*f2, "PushButton6")->setEnabled(false);
        world.dialogs->boxes.clear();
        const QByteArray before = historyBytes();

        execute(QString::fromLatin1(c.text));
        EXPECT_EQ(caption(), QString::fromLatin1(c.caption));
        const QString path = QString::fromLatin1(c.path);
        if (path == QStringLiteral("none")) {
            EXPECT_EQ(f2->grid().rowCount(), 1);  // the previous results stay
            EXPECT_EQ(historyBytes(), before);
        } else {
            EXPECT_EQ(historyBytes(), before + QByteArray(c.text) + "\r\n");
        }
        if (path == QStringLiteral("command")) {
            EXPECT_FALSE(f2->grid().isBound());
            EXPECT_FALSE(saveEnabled());  // left as it was
        }
        if (c.rows >= 0) {
            EXPECT_TRUE(f2->grid().isBound());
            EXPECT_EQ(f2->grid().rowCount(), c.rows);
            EXPECT_EQ(saveEnabled(), c.rows > 0);
        }
        if (QByteArray(c.text) == "select *") {
            EXPECT_TRUE(saveEnabled());
        }
        ASSERT_EQ(world.dialogs->boxes.size(), static_cast<size_t>(c.boxes.size()));
        for (qsizetype i = 0; i < c.boxes.size(); ++i) {
            const MessageBox& b = world.dialogs->boxes[static_cast<size_t>(i)];
            if (c.boxes[i].startsWith(QStringLiteral("line "))) {
                EXPECT_EQ(b.title, QStringLiteral("Application Error"));
                EXPECT_TRUE(b.text.contains(QStringLiteral("Form2.PushButton1_Click at ") +
                                            c.boxes[i] + u'\r'))
                    << b.text.toStdString();
            } else {
                EXPECT_EQ(b.title, QStringLiteral("Tabulary"));
                EXPECT_EQ(b.icon, BoxIcon::None);
                EXPECT_EQ(b.text, c.boxes[i]);
            }
        }
        EXPECT_EQ(f2->pointer().value(), kPointerDefault);
    }
}

// A change through the window: its count, the rows the next SELECT shows,
// a statement that breaks a key refused at line 138 with nothing changed,
// and both in the history.
TEST_F(ExecuteTest, ChangesShowTheirCountAndRefusalsChangeNothing) {
    execute(QStringLiteral("UPDATE Customers SET Name = 'Renamed' WHERE ID <= 3"));
    ASSERT_EQ(world.dialogs->boxes.size(), 1u);
    EXPECT_EQ(world.dialogs->boxes[0].text, QStringLiteral("3 record(s) affected."));
    execute(QStringLiteral("SELECT ID FROM Customers WHERE Name = 'Renamed' ORDER BY ID"));
    ASSERT_EQ(f2->grid().rowCount(), 3);
    EXPECT_EQ(f2->grid().cellText(2, 0), QStringLiteral("3"));

    world.dialogs->boxes.clear();
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    execute(QStringLiteral("INSERT INTO Tags (Tag) VALUES ('RED')"));
    ASSERT_EQ(world.dialogs->boxes.size(), 1u);
    EXPECT_EQ(world.dialogs->boxes[0].title, QStringLiteral("Application Error"));
    EXPECT_TRUE(world.dialogs->boxes[0].text.contains(
        QStringLiteral("Form2.PushButton1_Click at line 138\r")))
        << world.dialogs->boxes[0].text.toStdString();
    EXPECT_TRUE(world.dialogs->boxes[0].text.contains(QStringLiteral("duplicate values")))
        << world.dialogs->boxes[0].text.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == before);
    EXPECT_EQ(historyBytes(),
              QByteArray("UPDATE Customers SET Name = 'Renamed' WHERE ID <= 3\r\n"
                         "SELECT ID FROM Customers WHERE Name = 'Renamed' ORDER BY ID\r\n"
                         "INSERT INTO Tags (Tag) VALUES ('RED')\r\n"));
}

// A split database: the front-end's link carries the path of the machine
// that made it, and the back-end sits beside the front-end.
TEST(ExecuteSplit, LinkedTablesExecuteAloneAndJoinedToLocalOnes) {
    TestWorld world;
    world.installFixedFiles();
    writeDatabase(world.path(QStringLiteral("back.mdb")), customersScript());
    const QString front = world.path(QStringLiteral("front.mdb"));
    {
        jet::CreateOptions options;
        options.durable = false;
        auto w = jet::DatabaseWriter::create(front.toStdString(), options);
        ASSERT_TRUE(w.ok()) << w.error().message();
        jet::TableSpec spec;
        spec.name = "Visits";
        jet::ColumnSpec id;
        id.name = "CustomerID";
        id.type = jet::ColumnType::Long;
        spec.columns = {id};
        auto h = (*w)->addTable(spec);
        ASSERT_TRUE(h.ok());
        for (int c : {2, 5, 5, 30}) {
            const jet::Value v[] = {jet::Value::integer(c)};
            ASSERT_TRUE((*w)->appendRow(*h, v).ok());
        }
        jet::LinkSpec link;
        link.name = "Clients";
        link.database = "C:\\Users\\someone\\Shop\\BACK.MDB";
        link.foreignName = "Customers";
        ASSERT_TRUE((*w)->addLink(link).ok());
        ASSERT_TRUE((*w)->finish().ok());
    }
    world.writeSettings(front, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    // Only tables and views are listed, the link's rows read all the same.
    EXPECT_EQ(items(child<QListWidget>(*f2, "List1")), QStringList{QStringLiteral("Visits")});
    auto execute = [&](const char* sql) {
        child<QueryBox>(*f2, "Text1")->setText(QString::fromLatin1(sql));
        QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
    };
    execute("SELECT * FROM Clients WHERE ID > 20");
    EXPECT_EQ(child<QGroupBox>(*f2, "Frame1")->title(),
              QStringLiteral("Results - Number of Records: 5"));
    ASSERT_EQ(f2->grid().rowCount(), 5);
    EXPECT_EQ(f2->grid().cellText(0, 1), QStringLiteral("Name 21"));
    execute(
        "SELECT v.CustomerID, c.Name FROM Visits AS v INNER JOIN Clients AS c ON c.ID = "
        "v.CustomerID ORDER BY v.CustomerID");
    ASSERT_EQ(f2->grid().rowCount(), 3);  // customer 30 has no row
    EXPECT_EQ(f2->grid().cellText(2, 1), QStringLiteral("Name 5"));
    EXPECT_TRUE(world.dialogs->boxes.empty());
}

TEST_F(ExecuteTest, ClearQueryAndHelp) {
    execute(QStringLiteral("select * from Customers"));
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton2"), Qt::LeftButton);
    EXPECT_EQ(text1->text(), QString());
    EXPECT_FALSE(child<QPushButton>(*f2, "PushButton1")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(*f2, "PushButton2")->isEnabled());
    EXPECT_EQ(f2->grid().rowCount(), 25);  // the results stay
    QTest::keyClicks(text1, QStringLiteral("x"));
    EXPECT_TRUE(child<QPushButton>(*f2, "PushButton2")->isEnabled());
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(child<QPushButton>(*f2, "PushButton5"), Qt::LeftButton);
    ASSERT_EQ(world.dialogs->boxes.size(), 2u);
    for (const MessageBox& b : world.dialogs->boxes) {
        EXPECT_EQ(b.title, QStringLiteral("Tabulary"));
        EXPECT_EQ(b.icon, BoxIcon::None);
        EXPECT_EQ(b.buttons, BoxButtons::Ok);
        EXPECT_EQ(b.text, QStringLiteral(
                              "Double click on the history above the add to Query Command. Please "
                              "email support@quillmoor.example if you have any questions."));
    }
}

TEST_F(ExecuteTest, EnterAfterTheKeywordMakesItACommand) {
    text1->setText(QString());
    QTest::keyClicks(text1, QStringLiteral("select"));
    QTest::keyClick(text1, Qt::Key_Return);
    QTest::keyClicks(text1, QStringLiteral("* from Customers"));
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
    ASSERT_EQ(world.dialogs->boxes.size(), 1u);
    EXPECT_EQ(world.dialogs->boxes[0].text, QStringLiteral("-1 record(s) affected."));
    EXPECT_FALSE(f2->grid().isBound());
    EXPECT_EQ(historyBytes(), QByteArray("select\r\n* from Customers\r\n"));
}

TEST_F(ExecuteTest, TheGridShowsCaptionsRowsAndTheEnginesText) {
    execute(QStringLiteral("SELECT ID, Name, Joined, ID * 2 FROM Customers ORDER BY ID DESC"));
    ResultsGrid& grid = f2->grid();
    ASSERT_EQ(grid.columnCount(), 4);
    EXPECT_EQ(grid.columnCaption(0), QStringLiteral("ID"));
    EXPECT_EQ(grid.columnCaption(3), QStringLiteral("Expr1000"));
    EXPECT_EQ(grid.rowCount(), 25);
    EXPECT_EQ(grid.currentRow(), 0);
    EXPECT_EQ(grid.cellText(0, 0), QStringLiteral("25"));
    EXPECT_EQ(grid.cellText(0, 1), QStringLiteral("Name 25"));
    EXPECT_EQ(grid.cellText(24, 2), QStringLiteral("2024-01-01"));
    EXPECT_EQ(grid.cellText(24, 3), QStringLiteral("2"));
    EXPECT_EQ(grid.model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("Name"));
    EXPECT_EQ(grid.model()->data(grid.model()->index(1, 1), Qt::DisplayRole).toString(),
              QStringLiteral("Name 24"));
    // Bound until the next execution, whatever happened to the file.
    ASSERT_TRUE(QFile::remove(db));
    EXPECT_EQ(grid.cellText(10, 1), QStringLiteral("Name 15"));
}

TEST_F(ExecuteTest, ClickingFieldsComposesInTableOrder) {
    auto* list1 = child<QListWidget>(*f2, "List1");
    auto* list2 = child<QListWidget>(*f2, "List2");
    const struct {
        const char* table;
        std::vector<int> clicks;  // field rows, in click order (a click toggles)
        const char* text;
    } cases[] = {
        {"Customers", {0, 1}, "select ID, Name from Customers"},
        {"Customers", {1, 0}, "select ID, Name from Customers"},
        {"Customers", {2, 0, 2}, "select ID from Customers"},
        {"Customers", {1, 1}, "select  from Customers"},
        {"Order Details",
         {0, 1, 2, 3},
         "select [Unit Price], Qty, [2nd], [Select] from [Order Details]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto found = list1->findItems(QString::fromLatin1(c.table), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        // Another table first, so that the fields are listed afresh.
        list1->setCurrentItem(list1->findItems(QStringLiteral("Empty"), Qt::MatchExactly).first());
        list1->setCurrentItem(found.first());
        EXPECT_TRUE(list2->selectedItems().isEmpty());
        text1->setText(QStringLiteral("typed before"));
        // A table click lists the fields and leaves the query box alone.
        EXPECT_EQ(text1->text(), QStringLiteral("typed before"));
        for (int row : c.clicks) {
            QListWidgetItem* item = list2->item(row);
            QTest::mouseClick(list2->viewport(), Qt::LeftButton, {},
                              list2->visualItemRect(item).center());
        }
        EXPECT_EQ(text1->text(), QString::fromLatin1(c.text));
        EXPECT_TRUE(child<QPushButton>(*f2, "PushButton1")->isEnabled());
    }
    // The composed statement runs.
    list1->setCurrentRow(0);
    list1->setCurrentItem(
        list1->findItems(QStringLiteral("Order Details"), Qt::MatchExactly).first());
    QTest::mouseClick(list2->viewport(), Qt::LeftButton, {},
                      list2->visualItemRect(list2->item(0)).center());
    execute(text1->text());
    EXPECT_TRUE(world.dialogs->errorTexts().isEmpty());
    EXPECT_EQ(f2->grid().columnCaption(0), QStringLiteral("Unit Price"));
}

TEST_F(ExecuteTest, ComposingWithoutASelectedTableChangesNothing) {
    auto* list1 = child<QListWidget>(*f2, "List1");
    auto* list2 = child<QListWidget>(*f2, "List2");
    ASSERT_GT(list2->count(), 0);
    list1->clearSelection();
    text1->setText(QStringLiteral("kept"));
    list2->item(0)->setSelected(true);
    EXPECT_EQ(text1->text(), QStringLiteral("kept"));
}

TEST_F(ExecuteTest, HistoryKeepsEveryExecutionToTheByte) {
    // Typed with Enter, an empty line inside, the same statement twice.
    text1->setText(QString());
    QTest::keyClicks(text1, QStringLiteral("select ID"));
    QTest::keyClick(text1, Qt::Key_Return);
    QTest::keyClick(text1, Qt::Key_Return);
    QTest::keyClicks(text1, QStringLiteral("from Customers"));
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
    execute(QStringLiteral("select * from Empty"));
    execute(QStringLiteral("select * from Empty"));
    EXPECT_EQ(historyBytes(), QByteArray("select ID\r\n\r\nfrom Customers\r\n"
                                         "select * from Empty\r\nselect * from Empty\r\n"));
    EXPECT_EQ(history(), (QStringList{"00004 select * from Empty", "00003 select * from Empty",
                                      "00002 from Customers", "00000 select ID"}));

    auto* list = child<QTreeWidget>(*f2, "ListView1");
    QCoreApplication::processEvents();  // lays the list out
    // Double-click puts the selected entry's line into the query box.
    for (int entry : {2, 0}) {
        list->scrollToItem(list->topLevelItem(entry));
        testing::sendDoubleClick(list->viewport(),
                                 list->visualItemRect(list->topLevelItem(entry)).center());
        EXPECT_EQ(text1->text(), list->topLevelItem(entry)->text(1));
    }
    EXPECT_EQ(text1->text(), QStringLiteral("select * from Empty"));

    // Delete hides an entry (not while busy); the next execution brings it back.
    list->setCurrentItem(list->topLevelItem(0));
    f2->pointer().set(kPointerBusy);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->topLevelItemCount(), 4);
    f2->pointer().set(kPointerDefault);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(history(), (QStringList{"00003 select * from Empty", "00002 from Customers",
                                      "00000 select ID"}));
    execute(QStringLiteral("select * from Empty"));
    EXPECT_EQ(history().size(), 5);

    // Clear History: file gone, list empty; the next execution starts afresh.
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton3"), Qt::LeftButton);
    EXPECT_EQ(historyBytes(), QByteArray("<missing>"));
    EXPECT_TRUE(history().isEmpty());
    // Nothing selected, nothing listed: neither key nor double-click fails.
    QTest::keyClick(list, Qt::Key_Delete);
    f2->ListView1_DblClick();
    execute(QStringLiteral("select * from Empty"));
    EXPECT_EQ(history(), QStringList{"00000 select * from Empty"});
    EXPECT_TRUE(world.dialogs->errorTexts().isEmpty());
}

TEST_F(ExecuteTest, AnEmptyHistoryFileListsItsMarker) {
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton3"), Qt::LeftButton);
    QFile f(world.tempFolder() + QStringLiteral("/LogFile.log"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    execute(QStringLiteral("abc"));  // too short: no reload
    EXPECT_TRUE(history().isEmpty());
    execute(QStringLiteral("select * from Empty"));
    EXPECT_EQ(history(), QStringList{"00000 select * from Empty"});
}

TEST_F(ExecuteTest, ClicksInsideTheMessagePumpRunAndNothingBreaks) {
    bool nested = false;
    world.hooks.onStarted = [&](const QString& procedure, int line) {
        if (procedure != QStringLiteral("Form2.PushButton1_Click") || line != 108 || nested) return;
        nested = true;
        // A second Execute and a table click while the first waits.
        text1->setText(QStringLiteral("select Name from Customers where ID = 7"));
        QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
        child<QListWidget>(*f2, "List1")->setCurrentRow(0);
        text1->setText(QStringLiteral("select ID from Customers where ID < 3"));
    };
    execute(QStringLiteral("select * from Customers"));
    EXPECT_TRUE(nested);
    // The outer run read the text as it stood at each step.
    EXPECT_EQ(f2->grid().rowCount(), 2);
    EXPECT_EQ(caption(), QStringLiteral("Results - Number of Records: 2"));
    EXPECT_EQ(historyBytes(), QByteArray("select Name from Customers where ID = 7\r\n"
                                         "select ID from Customers where ID < 3\r\n"));
    EXPECT_EQ(f2->pointer().value(), kPointerDefault);
    EXPECT_TRUE(world.dialogs->errorTexts().isEmpty());
}

TEST(MillionRows, ShowScrollAndCount) {
    const QString big = QStringLiteral(TABULARY_BENCH_DIR "/big1m.accdb");
    if (!QFile::exists(big)) GTEST_SKIP() << "benchmark database not present";
    TestWorld world;
    world.installFixedFiles();
    world.writeSettings(big, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    child<QueryBox>(*f2, "Text1")->setText(QStringLiteral("SELECT * FROM Big ORDER BY ID"));
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
    ResultsGrid& grid = f2->grid();
    EXPECT_EQ(grid.rowCount(), 1000000);
    EXPECT_EQ(grid.model()->rowCount(), 1000000);
    EXPECT_EQ(child<QGroupBox>(*f2, "Frame1")->title(),
              QStringLiteral("Results - Number of Records: 1000000"));
    EXPECT_EQ(grid.cellText(999999, 0), QStringLiteral("1000000"));
    grid.scrollToBottom();
    EXPECT_EQ(grid.rowAt(grid.viewport()->height() - 2), 999999);
    EXPECT_TRUE(world.dialogs->errorTexts().isEmpty());
}

}  // namespace
}  // namespace tab::gui
