// The workspace: its load, the query box, the field listing, the history it
// loads, and "< Back".
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QAbstractScrollArea>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "app/application.h"
#include "app/file_helpers.h"
#include "app/start_window.h"
#include "app/theme.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/table_list.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::items;
using testing::TestWorld;
using testing::writeDatabase;

class WorkspaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.installFixedFiles();
        db = world.path(QStringLiteral("shop.mdb"));
        writeDatabase(db,
                      "CREATE TABLE orders (OrderID LONG, Amount CURRENCY, [Ship Date] DATETIME);\n"
                      "CREATE TABLE Customers (ID LONG, Name TEXT(40));\n"
                      "CREATE TABLE archive (Year LONG);\n");
    }
    Form2& open() {
        world.writeSettings(db, QString());
        EXPECT_TRUE(app.start());
        EXPECT_NE(app.loadedWorkspace(), nullptr);
        return *app.loadedWorkspace();
    }
    void writeHistory(const QByteArray& bytes) {
        QFile f(world.tempFolder() + QStringLiteral("/LogFile.log"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    TestWorld world;
    QString db;
    Application app;
};

TEST_F(WorkspaceTest, ButtonsStartEnabledAndFollowTheQueryText) {
    Form2& f2 = open();
    EXPECT_EQ(f2.windowTitle(), QStringLiteral("Tabulary"));
    for (const char* name : {"PushButton1", "PushButton2", "PushButton3", "PushButton4",
                             "PushButton5", "PushButton6", "PushButton7"})
        EXPECT_TRUE(child<QPushButton>(f2, name)->isEnabled()) << name;
    auto* text1 = child<QueryBox>(f2, "Text1");
    EXPECT_EQ(text1->text(), QString());
    QTest::keyClicks(text1, QStringLiteral("s"));
    EXPECT_TRUE(child<QPushButton>(f2, "PushButton1")->isEnabled());
    QTest::keyClick(text1, Qt::Key_Backspace);
    EXPECT_FALSE(child<QPushButton>(f2, "PushButton1")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(f2, "PushButton2")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(f2, "PushButton6")->isEnabled());
    QTest::keyClicks(text1, QStringLiteral("select *"));
    QTest::keyClick(text1, Qt::Key_Return);
    QTest::keyClicks(text1, QStringLiteral("from t"));
    EXPECT_EQ(text1->text(), QStringLiteral("select *\r\nfrom t"));
    EXPECT_TRUE(child<QPushButton>(f2, "PushButton2")->isEnabled());
}

TEST_F(WorkspaceTest, ClickingATableListsItsFieldsInTableOrder) {
    Form2& f2 = open();
    auto* list1 = child<QListWidget>(f2, "List1");
    auto* list2 = child<QListWidget>(f2, "List2");
    auto* text1 = child<QueryBox>(f2, "Text1");
    text1->setText(QStringLiteral("kept"));
    list1->setCurrentRow(2);
    EXPECT_EQ(list1->currentItem()->text(), QStringLiteral("orders"));
    EXPECT_EQ(items(list2), (QStringList{"OrderID", "Amount", "Ship Date"}));
    EXPECT_EQ(f2.pointer().value(), kPointerDefault);
    EXPECT_EQ(text1->text(), QStringLiteral("kept"));
    list2->item(0)->setSelected(true);
    list1->setCurrentRow(1);
    EXPECT_EQ(items(list2), (QStringList{"ID", "Name"}));
    EXPECT_TRUE(list2->selectedItems().isEmpty());
    EXPECT_EQ(list2->selectionMode(), QAbstractItemView::MultiSelection);
    EXPECT_TRUE(world.dialogs->boxes.empty());
}

TEST_F(WorkspaceTest, TheFieldListingShowsTheBusyPointerWhileItRuns) {
    Form2& f2 = open();
    std::vector<int> pointerAt;
    world.hooks.onStarted = [&](const QString& procedure, int line) {
        if (procedure == QStringLiteral("Form2.List1_Click") && line == 108)
            pointerAt.push_back(f2.pointer().value());
    };
    child<QListWidget>(f2, "List1")->setCurrentRow(2);
    EXPECT_EQ(pointerAt, (std::vector<int>{kPointerBusy, kPointerBusy, kPointerBusy}));
    EXPECT_EQ(f2.pointer().value(), kPointerDefault);
}

TEST_F(WorkspaceTest, PointerFollowsTheMouseOverEveryControl) {
    Form2& f2 = open();
    ulong time = 1000;
    auto move = [&](QWidget* target) {
        QMouseEvent e(QEvent::MouseMove, QPointF(3, 3), target->mapToGlobal(QPointF(3, 3)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        e.setTimestamp(++time);
        QCoreApplication::sendEvent(target, &e);
    };
    const struct {
        const char* control;
        bool viewport;  // the moves of a list or box arrive at its viewport
        int after;
    } cases[] = {
        {"PushButton1", false, 99}, {"PushButton2", false, 99}, {"PushButton3", false, 99},
        {"PushButton4", false, 99}, {"PushButton5", false, 99}, {"PushButton6", false, 99},
        {"PushButton7", false, 99}, {"Frame1", false, 0},       {"Frame2", false, 0},
        {"Frame3", false, 0},       {"Frame4", false, 0},       {"Frame5", false, 0},
        {"List1", true, 0},         {"List2", true, 0},         {"ListView1", true, 0},
        {"Text1", true, 0},         {"DataGrid1", true, 0},
    };
    for (const auto& c : cases) {
        for (int before : {kPointerDefault, kPointerCustom, kPointerBusy}) {
            f2.pointer().set(before);
            QWidget* w = child<QWidget>(f2, c.control);
            if (c.viewport) w = static_cast<QAbstractScrollArea*>(w)->viewport();
            move(w);
            EXPECT_EQ(f2.pointer().value(), before == kPointerBusy ? kPointerBusy : c.after)
                << c.control << " from " << before;
        }
    }
    // Over the window itself.
    f2.pointer().set(kPointerCustom);
    move(&f2);
    EXPECT_EQ(f2.pointer().value(), kPointerDefault);
}

TEST_F(WorkspaceTest, AFailingFieldListingIsReportedOnceAndLeavesNoOtherTablesFields) {
    const struct {
        const char* how;
        int line;
    } cases[] = {{"file gone", 102}, {"table unreadable", 104}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        TestWorld w;
        w.installFixedFiles();
        const QString file = w.path(QStringLiteral("shop.mdb"));
        ASSERT_TRUE(QFile::copy(db, file));
        w.writeSettings(file, QString());
        Application a;
        ASSERT_TRUE(a.start());
        Form2& f2 = *a.loadedWorkspace();
        auto* list1 = child<QListWidget>(f2, "List1");
        auto* list2 = child<QListWidget>(f2, "List2");
        auto* text1 = child<QueryBox>(f2, "Text1");
        list1->setCurrentRow(2);
        ASSERT_EQ(items(list2), (QStringList{"OrderID", "Amount", "Ship Date"}));
        text1->setText(QStringLiteral("kept"));
        if (c.line == 102) {
            ASSERT_TRUE(QFile::remove(file));
        } else {
            w.hooks.failProcedure = QStringLiteral("Form2.List1_Click");
            w.hooks.failOrdinal = 2;  // 100, 102, then 104
        }
        list1->setCurrentRow(1);
        const QStringList errors = w.dialogs->errorTexts();
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(
            QStringLiteral("\r\nin Ravelin2021/08/31.Form2.List1_Click at line ") +
            QString::number(c.line) + QStringLiteral("\r\r")))
            << errors[0].toStdString();
        EXPECT_EQ(f2.pointer().value(), kPointerDefault);
        // "Tables" shows the new table; "Fields" holds nothing of the old one,
        // so a field click cannot compose over the wrong table.
        EXPECT_EQ(list1->currentItem()->text(), QStringLiteral("Customers"));
        EXPECT_TRUE(items(list2).isEmpty());
        EXPECT_EQ(text1->text(), QStringLiteral("kept"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(WorkspaceTest, HistoryIsLoadedNewestFirst) {
    const struct {
        std::optional<QByteArray> file;
        QStringList shown;
    } cases[] = {
        {std::nullopt, {}},
        {QByteArray(), {"00000 empty file"}},
        {"select 1\r\nselect 2\r\n", {"00001 select 2", "00000 select 1"}},
        {"a\r\n\r\nb\r\n", {"00002 b", "00000 a"}},
        // Bytes that are not UTF-8 read as Windows-1252.
        {"caf\xe9\r\n", {QString::fromUtf8("00000 caf\u00e9")}},
    };
    for (const auto& c : cases) {
        TestWorld w;
        w.installFixedFiles();
        w.writeSettings(db, QString());
        if (c.file) {
            QFile f(w.tempFolder() + QStringLiteral("/LogFile.log"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(*c.file);
        }
        Application a;
        ASSERT_TRUE(a.start());
        auto* list = child<QTreeWidget>(*a.loadedWorkspace(), "ListView1");
        EXPECT_EQ(testing::listedEntries(list), c.shown);
        EXPECT_EQ(list->columnCount(), 2);
        EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("ID"));
        EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("Query Command"));
        EXPECT_EQ(list->columnWidth(1), 453);
        EXPECT_LE(list->columnWidth(0), 1);
        EXPECT_TRUE(list->toolTip().startsWith(QStringLiteral("Double-click item to remove it.")));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(WorkspaceTest, BackThenNextGivesAFreshWorkspace) {
    writeHistory("one\r\ntwo\r\n");
    Form2* first = &open();
    child<QueryBox>(*first, "Text1")->setText(QStringLiteral("typed"));
    child<QListWidget>(*first, "List1")->setCurrentRow(2);
    QTest::mouseClick(child<QPushButton>(*first, "PushButton4"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(services().programEnded());
    EXPECT_EQ(app.loadedWorkspace(), nullptr);
    Form1& f1 = app.startWindow();
    EXPECT_TRUE(f1.isVisible());
    EXPECT_EQ(f1.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), db);

    QTest::mouseClick(child<QPushButton>(f1, "PushButton3"), Qt::LeftButton);
    Form2* second = app.loadedWorkspace();
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->returningToStart());
    EXPECT_EQ(child<QListWidget>(*second, "List1")->currentRow(), 0);
    EXPECT_EQ(items(child<QListWidget>(*second, "List2")), (QStringList{"Year"}));
    EXPECT_EQ(child<QueryBox>(*second, "Text1")->text(), QString());
    auto* history = child<QTreeWidget>(*second, "ListView1");
    EXPECT_EQ(history->columnCount(), 2);
    EXPECT_EQ(testing::listedEntries(history), (QStringList{"00001 two", "00000 one"}));
    second->close();
    EXPECT_TRUE(services().programEnded());
}

TEST_F(WorkspaceTest, WithoutTempTheHistoryLivesInAPrivateStateFolder) {
    for (const char* temp : std::initializer_list<const char*>{"", nullptr}) {
        TestWorld w;
        w.installFixedFiles();
        w.writeSettings(db, QString());
        if (temp)
            qputenv("TEMP", temp);
        else
            qunsetenv("TEMP");
        Application a;
        ASSERT_TRUE(a.start());
        const QString folder = w.home() + QStringLiteral("/state/tabulary");
        EXPECT_EQ(a.loadedWorkspace()->historyFilePath(), folder + QStringLiteral("/LogFile.log"));
        struct stat st {};
        ASSERT_EQ(::stat(folder.toUtf8().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(WorkspaceTest, ManyTablesAreAllListedInOrder) {
    // Past the old 16-bit list bound, through the list the catalogue fills.
    Form2& f2 = open();
    TableList& list = f2.List1();
    list.clearNames();
    for (int i = 40000; i > 0; --i)
        list.addName(QStringLiteral("T%1").arg(i, 5, 10, QLatin1Char('0')));
    EXPECT_EQ(list.count(), 40000);
    EXPECT_EQ(list.item(0)->text(), QStringLiteral("T00001"));
    EXPECT_EQ(list.item(39999)->text(), QStringLiteral("T40000"));
}

}  // namespace
}  // namespace tab::gui
