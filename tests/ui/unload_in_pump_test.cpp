// Windows unloaded from inside a message pump of one of their own handlers:
// "< Back" and the close box pressed while Execute or the field listing
// waits, "Next >" while the workspace's unload waits. The handler that
// waits must find its window alive and do nothing harmful with what it has
// left; the window is deleted after it returns. Each press also runs the
// deferred deletions at once, as an inner event loop would.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "app/application.h"
#include "app/start_window.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::items;
using testing::TestWorld;
using testing::writeDatabase;

enum class Press { Back, CloseBox, Next };

struct Case {
    const char* name;
    bool startAtWorkspace;  // the remembered file opens it; else "Next >" is pressed
    const char* procedure;  // the handler whose pump the press lands in
    int line;
    const char* statement;  // executed when not null
    Press press;
    // Expected afterwards.
    bool programEnded;
    bool startWindowShown;
    bool workspaceLoaded;  // a (fresh) workspace is loaded
    const char* history;   // the history file's bytes
};

const Case kCases[] = {
    {"< Back while Execute waits before the statement", true, "Form2.PushButton1_Click", 108,
     "select * from Customers", Press::Back, false, true, false, ""},
    {"< Back while Execute waits after the rows", true, "Form2.PushButton1_Click", 132,
     "select * from Customers", Press::Back, false, true, false, "select * from Customers\r\n"},
    {"close box while Execute waits before the statement", true, "Form2.PushButton1_Click", 108,
     "select * from Customers", Press::CloseBox, true, false, false, ""},
    {"close box while Execute waits after the rows", true, "Form2.PushButton1_Click", 132,
     "select * from Customers", Press::CloseBox, true, false, false, ""},
    {"< Back while a table's fields are listed", true, "Form2.List1_Click", 108, nullptr,
     Press::Back, false, true, false, ""},
    {"< Back while the first table's fields are listed by Next >", false, "Form2.List1_Click", 108,
     nullptr, Press::Back, false, true, false, ""},
    {"close box while a table's fields are listed", true, "Form2.List1_Click", 108, nullptr,
     Press::CloseBox, true, false, false, ""},
    {"Next > while the unload lets messages run (104)", true, "Form2.Form_QueryUnload", 104,
     nullptr, Press::Next, false, false, true, ""},
    {"Next > while the unload lets messages run again (106)", true, "Form2.Form_QueryUnload", 106,
     nullptr, Press::Next, false, false, true, ""},
};

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(UnloadInsideAPump, TheWaitingHandlerFindsItsWindowAndLeavesNoHarm) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TestWorld world;
        world.installFixedFiles();
        const QString db = world.path(QStringLiteral("shop.mdb"));
        writeDatabase(db,
                      "CREATE TABLE Customers (ID LONG, Name TEXT(40), City TEXT(40));\n"
                      "INSERT INTO Customers VALUES (1, 'Ann', 'Oslo'), (2, 'Bo', NULL);\n"
                      "CREATE TABLE Orders (OrderID LONG, Qty LONG);\n");
        if (c.startAtWorkspace) world.writeSettings(db, QString());
        const QString historyFile = world.tempFolder() + QStringLiteral("/LogFile.log");

        Application app;
        ASSERT_TRUE(app.start());
        Form1& f1 = app.startWindow();
        if (!c.startAtWorkspace) child<QLineEdit>(f1, "Text1")->setText(db);
        QPointer<Form2> first = app.loadedWorkspace();

        bool pressed = false;
        world.hooks.onStarted = [&](const QString& procedure, int line) {
            if (pressed || procedure != QString::fromLatin1(c.procedure) || line != c.line) return;
            pressed = true;
            // Queued, so that the pump of this very step handles it.
            QMetaObject::invokeMethod(
                qApp,
                [&] {
                    if (!first) first = app.loadedWorkspace();
                    Form2* ws = first.data();
                    ASSERT_NE(ws, nullptr);
                    switch (c.press) {
                        case Press::Back:
                            QTest::mouseClick(child<QPushButton>(*ws, "PushButton4"),
                                              Qt::LeftButton);
                            break;
                        case Press::CloseBox:
                            ws->close();
                            break;
                        case Press::Next:
                            QTest::mouseClick(child<QPushButton>(f1, "PushButton3"),
                                              Qt::LeftButton);
                            break;
                    }
                    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                },
                Qt::QueuedConnection);
        };

        if (!c.startAtWorkspace) {
            QTest::mouseClick(child<QPushButton>(f1, "PushButton3"), Qt::LeftButton);
        } else if (c.statement) {
            ASSERT_NE(first, nullptr);
            child<QueryBox>(*first, "Text1")->setText(QString::fromLatin1(c.statement));
            QTest::mouseClick(child<QPushButton>(*first, "PushButton1"), Qt::LeftButton);
        } else if (QString::fromLatin1(c.procedure) == QStringLiteral("Form2.List1_Click")) {
            ASSERT_NE(first, nullptr);
            child<QListWidget>(*first, "List1")->setCurrentRow(1);
        } else {
            ASSERT_NE(first, nullptr);
            QTest::mouseClick(child<QPushButton>(*first, "PushButton4"), Qt::LeftButton);
        }
        ASSERT_TRUE(pressed);

        EXPECT_TRUE(world.dialogs->boxes.empty())
            << world.dialogs->boxes.front().title.toStdString() << ": "
            << world.dialogs->boxes.front().text.toStdString();
        EXPECT_EQ(services().programEnded(), c.programEnded);
        EXPECT_EQ(f1.isVisible(), c.startWindowShown);
        Form2* now = app.loadedWorkspace();
        EXPECT_EQ(now != nullptr, c.workspaceLoaded);
        if (c.workspaceLoaded && now) {
            EXPECT_TRUE(now->isVisible());
            EXPECT_EQ(items(child<QListWidget>(*now, "List1")),
                      (QStringList{"Customers", "Orders"}));
            EXPECT_EQ(items(child<QListWidget>(*now, "List2")),
                      (QStringList{"ID", "Name", "City"}));
        }
        EXPECT_EQ(fileBytes(historyFile), QByteArray(c.history));

        // The unloaded window goes once nothing of it runs.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(first.isNull());
        world.hooks.onStarted = nullptr;
    }
}

}  // namespace
}  // namespace tab::gui
