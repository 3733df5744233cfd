// The lists and combos of the windows driven as a person drives them: mouse
// presses and key strokes at the item's place, never a row set directly.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QStyleHints>
#include <QTest>
#include <QTreeWidget>
#include <functional>

#include "app/application.h"
#include "templating/template_window.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::items;
using testing::TestWorld;
using testing::writeDatabase;
using testing::writeFile;

QPoint centreOf(QListWidget* list, int row) {
    return list->visualItemRect(list->item(row)).center();
}

void clickRow(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centreOf(list, row));
}

class UserInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.installFixedFiles();
        const QString db = world.path(QStringLiteral("shop.mdb"));
        writeDatabase(db,
                      "CREATE TABLE orders (OrderID LONG, Amount CURRENCY, [Ship Date] DATETIME);\n"
                      "CREATE TABLE Customers (ID LONG, Name TEXT(40));\n"
                      "CREATE TABLE archive (Year LONG);\n");
        writeFile(world.appFolder() + QStringLiteral("/templates/queries/select/All rows.txt"),
                  "SELECT * FROM {table}");
        writeFile(world.appFolder() + QStringLiteral("/templates/fragments/WHERE.txt"), " WHERE ");
        writeFile(world.tempFolder() + QStringLiteral("/LogFile.log"),
                  "select * from archive\r\nselect ID from Customers\r\n");
        world.writeSettings(db, QString());
        world.hooks.onStarted = [this](const QString& procedure, int line) {
            if (procedure == QStringLiteral("Form2.List1_Click") && line == 100) ++listings;
        };
        ASSERT_TRUE(app.start());
        f2 = app.loadedWorkspace();
        ASSERT_NE(f2, nullptr);
        list1 = child<QListWidget>(*f2, "List1");
        list2 = child<QListWidget>(*f2, "List2");
        text1 = child<QueryBox>(*f2, "Text1");
    }

    TestWorld world;
    Application app;
    Form2* f2 = nullptr;
    QListWidget* list1 = nullptr;
    QListWidget* list2 = nullptr;
    QueryBox* text1 = nullptr;
    int listings = 0;
};

// However the selection of "Tables" changes, the fields listed are those of
// the table now selected, listed once per change; a press on the selected
// table is no change.
TEST_F(UserInputTest, EveryWayOfChoosingATableListsItsFields) {
    const struct {
        const char* name;
        std::function<void(QListWidget*)> act;
        const char* table;
        QStringList fields;
        int listings;
    } cases[] = {
        {"click",
         [](QListWidget* l) { clickRow(l, 2); },
         "orders",
         {"OrderID", "Amount", "Ship Date"},
         1},
        {"slow click",
         [](QListWidget* l) {
             QTest::mousePress(l->viewport(), Qt::LeftButton, {}, centreOf(l, 1));
             QTest::qWait(QApplication::styleHints()->mouseDoubleClickInterval() + 100);
             QTest::mouseRelease(l->viewport(), Qt::LeftButton, {}, centreOf(l, 1));
         },
         "Customers",
         {"ID", "Name"},
         1},
        {"double click",
         [](QListWidget* l) { testing::sendDoubleClick(l->viewport(), centreOf(l, 1)); },
         "Customers",
         {"ID", "Name"},
         1},
        {"arrow key",
         [](QListWidget* l) {
             l->setFocus();
             QTest::keyClick(l, Qt::Key_Down);
         },
         "Customers",
         {"ID", "Name"},
         1},
        {"drag across two tables",
         [](QListWidget* l) {
             QTest::mousePress(l->viewport(), Qt::LeftButton, {}, centreOf(l, 0));
             QTest::mouseMove(l->viewport(), centreOf(l, 1));
             QTest::mouseMove(l->viewport(), centreOf(l, 2));
             QTest::mouseRelease(l->viewport(), Qt::LeftButton, {}, centreOf(l, 2));
         },
         "orders",
         {"OrderID", "Amount", "Ship Date"},
         2},
        {"click on the selected table",
         [](QListWidget* l) { clickRow(l, 0); },
         "archive",
         {"Year"},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clickRow(list1, 0);  // archive, as the workspace opened
        ASSERT_EQ(items(list2), QStringList{QStringLiteral("Year")});
        listings = 0;
        c.act(list1);
        EXPECT_EQ(list1->selectedItems().value(0) ? list1->selectedItems()[0]->text() : QString(),
                  QString::fromLatin1(c.table));
        EXPECT_EQ(items(list2), c.fields);
        EXPECT_EQ(listings, c.listings);
        EXPECT_TRUE(world.dialogs->boxes.empty())
            << world.dialogs->errorTexts().join(u'\n').toStdString();
        world.dialogs->boxes.clear();
    }
}

// Field clicks compose over the table clicked; a history entry double-clicked
// goes to the query box; the Insert Template window fills the clicked table
// into the template chosen in its list with the mouse.
TEST_F(UserInputTest, FieldsHistoryAndTemplatesFollowTheMouse) {
    clickRow(list1, 1);
    clickRow(list2, 1);
    EXPECT_EQ(text1->text(), QStringLiteral("select Name from Customers"));
    clickRow(list2, 0);
    EXPECT_EQ(text1->text(), QStringLiteral("select ID, Name from Customers"));
    clickRow(list2, 1);
    EXPECT_EQ(text1->text(), QStringLiteral("select ID from Customers"));

    auto* history = child<QTreeWidget>(*f2, "ListView1");
    ASSERT_EQ(history->topLevelItemCount(), 2);
    for (int row : {1, 0}) {
        QTreeWidgetItem* entry = history->topLevelItem(row);
        testing::sendDoubleClick(history->viewport(), history->visualItemRect(entry).center());
        EXPECT_EQ(text1->text(), entry->text(1));
    }

    clickRow(list1, 2);
    QString filled, withFragment;
    ASSERT_TRUE(testing::withTemplateWindow(*f2, [&](Form3& f3) {
        // The choice from the open list, as a click there makes it.
        const auto choose = [](QComboBox* combo, int index) {
            QTest::mouseClick(combo, Qt::LeftButton);
            QAbstractItemView* view = combo->view();
            EXPECT_TRUE(view->isVisible());
            // The release of the press that opened the list is ignored for a while.
            QTest::qWait(QApplication::styleHints()->mouseDoubleClickInterval() + 100);
            const QPoint at = view->visualRect(combo->model()->index(index, 0)).center();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        };
        choose(child<QComboBox>(f3, "Combo1"), 0);
        auto* box = child<QueryBox>(f3, "Text1");
        filled = box->text();
        choose(child<QComboBox>(f3, "Combo2"), 0);
        QTest::mouseClick(child<QWidget>(f3, "PushButton3"), Qt::LeftButton);
        withFragment = box->text();
    }));
    EXPECT_EQ(filled, QStringLiteral("SELECT * FROM orders"));
    EXPECT_EQ(withFragment, QStringLiteral("SELECT * FROM orders WHERE "));
    EXPECT_TRUE(world.dialogs->boxes.empty())
        << world.dialogs->errorTexts().join(u'\n').toStdString();
}

}  // namespace
}  // namespace tab::gui
