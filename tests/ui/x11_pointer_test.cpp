// A table clicked with the X server's own pointer: the press and release
// come from the server as a person's click does, through the window
// system, not as events handed to the widget.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QListWidget>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "app/application.h"
#include "ui_support.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::items;
using testing::TestWorld;
using testing::writeDatabase;

TEST(X11Pointer, AClickOnATableListsItsFields) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xdotool.isEmpty()) GTEST_SKIP() << "xdotool is not installed";
    TestWorld world;
    world.installFixedFiles();
    const QString db = world.path(QStringLiteral("shop.mdb"));
    writeDatabase(db,
                  "CREATE TABLE orders (OrderID LONG, Amount CURRENCY);\n"
                  "CREATE TABLE Customers (ID LONG, Name TEXT(40));\n"
                  "CREATE TABLE archive (Year LONG);\n");
    world.writeSettings(db, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f2));
    auto* list1 = child<QListWidget>(*f2, "List1");
    auto* list2 = child<QListWidget>(*f2, "List2");
    ASSERT_EQ(items(list2), QStringList{QStringLiteral("Year")});

    const struct {
        int row;
        QStringList fields;
    } clicks[] = {{2, {"OrderID", "Amount"}}, {1, {"ID", "Name"}}, {0, {"Year"}}};
    for (const auto& c : clicks) {
        const QPoint at =
            list1->viewport()->mapToGlobal(list1->visualItemRect(list1->item(c.row)).center());
        QProcess click;
        click.start(xdotool,
                    {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()),
                     QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")});
        ASSERT_TRUE(click.waitForFinished(10000));
        ASSERT_EQ(click.exitCode(), 0) << click.readAllStandardError().toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return items(list2) == c.fields; }, 10000))
            << "row " << c.row << ": " << items(list2).join(u',').toStdString();
    }
    EXPECT_TRUE(world.dialogs->boxes.empty())
        << world.dialogs->errorTexts().join(u'\n').toStdString();
}

}  // namespace
}  // namespace tab::gui
