// Query templates: the placeholder filling and the folder listing as rules,
// then the Insert Template window over a real workspace: its catalogues, the
// filling from the workspace's selection, fragments at the caret, handing the
// text on, and the workspace's two buttons that open the window and the menu.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QComboBox>
#include <QCursor>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/app_paths.h"
#include "app/application.h"
#include "app/theme.h"
#include "templating/placeholder_filling.h"
#include "templating/template_folders.h"
#include "templating/template_window.h"
#include "ui_support.h"
#include "workspace/query_box.h"
#include "workspace/table_list.h"
#include "workspace/workspace_window.h"

namespace tab::gui {
namespace {

using testing::child;
using testing::chooseItem;
using testing::TestWorld;
using testing::withTemplateWindow;
using testing::writeDatabase;
using testing::writeFile;

QString q(const char* text) {
    return QString::fromUtf8(text);
}

QStringList list(std::initializer_list<const char*> names) {
    QStringList out;
    for (const char* n : names) out << q(n);
    return out;
}

TEST(PlaceholderFilling, FollowsTheRulesAndTheirNestedRuns) {
    const QStringList abc = list({"A", "B", "C"});
    QStringList twelve;
    for (char c = 'A'; c <= 'L'; ++c) twelve << QString(QChar(c));
    struct Case {
        const char* text;
        WorkspaceSelection selection;
        const char* filled;
    };
    const Case cases[] = {
        {"SELECT {field} FROM {table}",
         {q("Orders"), q("OrderID"), {}},
         "SELECT OrderID FROM Orders"},
        {"SELECT {field1}, {field2} FROM {table}",
         {q("Orders"), q("A"), abc},
         "SELECT A, B FROM Orders"},
        // Too few selected: the numbered ones stay, the table is filled.
        {"SELECT {field1}, {field2} FROM {table}",
         {q("Orders"), q("A"), list({"A"})},
         "SELECT {field1}, {field2} FROM Orders"},
        {"{TABLE} {Field} {Table1}", {q("Orders"), q("OrderID"), {}}, "Orders OrderID Orders"},
        {"SELECT * FROM x", {q("Orders"), q("OrderID"), abc}, "SELECT * FROM x"},
        // {field} first; the re-run its write starts fills the numbered ones.
        {"{field} and {field1}", {q("T"), q("X"), list({"A"})}, "X and A"},
        // {field12} counts as a {field1}; twelve selected fill it.
        {"{field12}", {q("T"), q("X"), list({"A"})}, "{field12}"},
        {"{field12}", {q("T"), q("X"), twelve}, "L"},
        {"{other} {table}", {q("Orders"), q(""), {}}, "{other} Orders"},
        // Names that are not plain identifiers go in brackets, unless the
        // template encloses the placeholder already.
        {"SELECT * FROM {table}", {q("Order Details"), q(""), {}}, "SELECT * FROM [Order Details]"},
        {"SELECT [{table}].{field}, `{table}`",
         {q("Order Details"), q("Unit Price"), {}},
         "SELECT [Order Details].[Unit Price], `Order Details`"},
        {"SELECT * INTO [{table} copy] FROM {table}",
         {q("Orders"), q(""), {}},
         "SELECT * INTO [Orders copy] FROM Orders"},
        {"SELECT {field} FROM {table}", {q("Ämter"), q("Straße"), {}}, "SELECT Straße FROM Ämter"},
        // A name holding its own placeholder is taken as it is.
        {"SELECT {field} FROM {table}",
         {q("{table}"), q("{field}"), {}},
         "SELECT [{field}] FROM [{table}]"},
        {"SELECT {field}", {q("T"), q("x{field}"), {}}, "SELECT [x{field}]"},
        {"{field1} {field2}", {q("T"), q(""), list({"{field2}", "B"})}, "[{field2}] B"},
        // Lists without a current item give the empty text.
        {"SELECT {field} FROM {table}", {q(""), q(""), {}}, "SELECT  FROM "},
        {"{field}\r\n{field1}", {q("T"), q(""), list({"A"})}, "\r\nA"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FillPlaceholders(q(c.text), c.selection), q(c.filled)) << c.text;

    // The caret keeps its place before the change, else its distance from the end.
    EXPECT_EQ(caretAfterFilling(q("a {table} b"), q("a Orders b"), 9), 8);
    EXPECT_EQ(caretAfterFilling(q("a {table} b"), q("a Orders b"), 1), 1);
    EXPECT_EQ(caretAfterFilling(q("a {table} b"), q("a Orders b"), 11), 10);
}

TEST(TemplateFolders, PatternsIgnoreCaseAndListOnlyFiles) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    const Case cases[] = {
        {"Readme.TXT", "*.txt", true},
        {".txt", "*.txt", true},
        {"a.txt.bak", "*.txt", false},
        {"a.tx", "*.txt", false},
        {"ÄB.TxT", "*.txt", true},
        {"ab", "a?", true},
        {"a", "a?", false},
        {"x.y.txt", "*.*.txt", true},
        {"", "*", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchesFilePattern(q(c.name), q(c.pattern)), c.matches)
            << c.name << ' ' << c.pattern;

    TestWorld world;
    const QString folder = world.path(QStringLiteral("t"));
    for (const char* name : {"b.txt", "A.TXT", ".hidden.txt", "c.sql"})
        writeFile(folder + u'/' + q(name), "x");
    QDir().mkpath(folder + QStringLiteral("/dir.txt"));
    ASSERT_EQ(::symlink("b.txt", QFile::encodeName(folder + QStringLiteral("/link.txt"))), 0);
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(folder + QStringLiteral("/dangling.txt"))), 0);
    EXPECT_EQ(GetFilesInFolder(folder, QStringLiteral("*.txt")),
              list({".hidden.txt", "A.TXT", "b.txt", "link.txt"}));
    EXPECT_EQ(GetFilesInFolder(folder + u'/', QStringLiteral("*.sql")), list({"c.sql"}));
    EXPECT_TRUE(
        GetFilesInFolder(world.path(QStringLiteral("none")), QStringLiteral("*")).isEmpty());
    EXPECT_TRUE(IsExistingFile(folder + QStringLiteral("/b.txt")));
    EXPECT_FALSE(IsExistingFile(folder + QStringLiteral("/dir.txt")));
    EXPECT_FALSE(IsExistingFile(folder + QStringLiteral("/gone.txt")));
}

class TemplateWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.installFixedFiles(true, false, false);
        db = world.path(QStringLiteral("shop.mdb"));
        writeDatabase(db,
                      "CREATE TABLE Orders (OrderID LONG, CustomerID LONG, Freight CURRENCY, "
                      "OrderDate DATETIME);\n"
                      "CREATE TABLE [Order Details] (OrderID LONG, [Unit Price] CURRENCY);\n"
                      "CREATE TABLE Odd ([{field}] LONG, [x{field}] LONG);\n"
                      "INSERT INTO Orders VALUES (1, 7, 2.5, #2024-03-01#);\n");
        world.writeSettings(db, QString());
    }

    Form2& open() {
        EXPECT_TRUE(app.start());
        EXPECT_NE(app.loadedWorkspace(), nullptr);
        return *app.loadedWorkspace();
    }

    QString shipped(const char* folder) const {
        return world.appFolder() + QStringLiteral("/templates/") + q(folder);
    }
    QString own(const char* folder) const {
        return world.home() + QStringLiteral("/data/tabulary/templates/") + q(folder);
    }

    // Makes a table current and the fields, clicked in this order, selected;
    // the last one clicked is the current field.
    void select(Form2& f2, const QString& table, const QStringList& fields) {
        auto* list1 = child<QListWidget>(f2, "List1");
        const auto found = list1->findItems(table, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << table.toStdString();
        list1->setCurrentItem(found.first());
        auto* list2 = child<QListWidget>(f2, "List2");
        list2->clearSelection();
        for (const QString& field : fields) {
            const auto items = list2->findItems(field, Qt::MatchExactly);
            ASSERT_EQ(items.size(), 1) << field.toStdString();
            list2->scrollToItem(items.first());
            testing::sendClick(list2->viewport(), list2->visualItemRect(items.first()).center());
            ASSERT_TRUE(items.first()->isSelected());
            ASSERT_EQ(list2->currentItem(), items.first());
        }
    }

    TestWorld world;
    QString db;
    Application app;
};

TEST_F(TemplateWindowTest, CataloguesListShippedThenOwnFilesAsTheRulesSay) {
    const struct {
        const char* folder;
        const char* name;
    } files[] = {
        {"queries/select", "All rows.txt"},
        {"queries/select", "~notes.txt"},
        {"queries/select", "My.Query.txt"},
        {"queries/select", ".txt"},
        {"queries/select", "Readme.TXT"},
        {"queries/select", "Same.txt"},
        {"queries/select", "Over.txt"},
        {"queries/select", "notes.sql"},
        {"queries", "Same.txt"},
        {"queries", "Insert.txt"},
        {"fragments", "Where.txt"},
    };
    for (const auto& f : files)
        writeFile(shipped(f.folder) + u'/' + q(f.name),
                  QByteArray("shipped ") + f.folder + '/' + f.name);
    QDir().mkpath(shipped("queries/select/Sub.txt"));
    writeFile(own("queries/select") + QStringLiteral("/Over.txt"), "own Over");
    writeFile(own("queries/select") + QStringLiteral("/Mine.txt"), "own Mine");
    writeFile(own("fragments") + QStringLiteral("/And.txt"), "own And");

    Form2& f2 = open();
    QStringList templates, fragments, texts;
    EXPECT_TRUE(withTemplateWindow(f2, [&](Form3& f3) {
        auto* combo1 = child<QComboBox>(f3, "Combo1");
        auto* combo2 = child<QComboBox>(f3, "Combo2");
        EXPECT_EQ(combo1->currentIndex(), -1);
        EXPECT_EQ(combo2->currentIndex(), -1);
        for (int i = 0; i < combo1->count(); ++i) {
            templates << combo1->itemText(i);
            chooseItem(combo1, i);
            texts << child<QueryBox>(f3, "Text1")->text();
        }
        for (int i = 0; i < combo2->count(); ++i) fragments << combo2->itemText(i);
        EXPECT_EQ(f3.templateCatalogue().count(), combo1->count());
        EXPECT_EQ(f3.fragmentCatalogue().count(), combo2->count());
    }));
    EXPECT_EQ(templates,
              list({"", "All rows", "My", "Over", "Readme", "Same", "Mine", "Insert", "Same"}));
    EXPECT_EQ(texts, list({"shipped queries/select/.txt", "shipped queries/select/All rows.txt",
                           "shipped queries/select/My.Query.txt", "own Over",
                           "shipped queries/select/Readme.TXT", "shipped queries/select/Same.txt",
                           "own Mine", "shipped queries/Insert.txt", "shipped queries/Same.txt"}));
    EXPECT_EQ(fragments, list({"Where", "And"}));
    EXPECT_TRUE(world.dialogs->errorTexts().isEmpty());
}

TEST_F(TemplateWindowTest, MissingFoldersGiveEmptyListsAndTheOwnFoldersAreMade) {
    Form2& f2 = open();
    auto* query = child<QueryBox>(f2, "Text1");
    query->setText(QStringLiteral("select 1"));
    EXPECT_TRUE(withTemplateWindow(f2, [&](Form3& f3) {
        EXPECT_EQ(child<QComboBox>(f3, "Combo1")->count(), 0);
        EXPECT_EQ(child<QComboBox>(f3, "Combo2")->count(), 0);
        // Nothing to insert: the box stays as it is.
        QTest::mouseClick(child<QPushButton>(f3, "PushButton3"), Qt::LeftButton);
        EXPECT_EQ(child<QueryBox>(f3, "Text1")->text(), QString());
        QTest::mouseClick(child<QPushButton>(f3, "PushButton1"), Qt::LeftButton);
        EXPECT_FALSE(f3.isVisible());
    }));
    // An empty template box empties the query.
    EXPECT_EQ(query->text(), QString());
    EXPECT_TRUE(world.dialogs->boxes.empty());
    for (const char* folder : {"", "/templates", "/templates/queries", "/templates/queries/select",
                               "/templates/fragments"}) {
        struct stat info {};
        const QString path = world.home() + QStringLiteral("/data/tabulary") + q(folder);
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0) << folder;
        EXPECT_EQ(info.st_mode & 07777, 0700u) << folder;
    }
}

TEST_F(TemplateWindowTest, TemplatesAreFilledFromTheWorkspacesSelection) {
    struct Case {
        const char* templateText;
        const char* table;
        QStringList fields;  // clicked in this order; the last is current
        const char* filled;
    };
    const Case cases[] = {
        {"SELECT {field} FROM {table}", "Orders", list({"OrderID"}), "SELECT OrderID FROM Orders"},
        // Selected in list order, whatever the order of the clicks.
        {"SELECT {field1}, {field2} FROM {table}", "Orders",
         list({"Freight", "OrderID", "CustomerID"}), "SELECT OrderID, CustomerID FROM Orders"},
        {"SELECT {field1}, {field2} FROM {table}", "Orders", list({"Freight"}),
         "SELECT {field1}, {field2} FROM Orders"},
        {"select {FIELD} from {Table}\r\nwhere {field1} > 0", "Orders", list({"CustomerID"}),
         "select CustomerID from Orders\r\nwhere CustomerID > 0"},
        {"SELECT {table}.{field} FROM {table}", "Order Details", list({"Unit Price"}),
         "SELECT [Order Details].[Unit Price] FROM [Order Details]"},
        {"SELECT [{field}] FROM [{table}]", "Order Details", list({"Unit Price"}),
         "SELECT [Unit Price] FROM [Order Details]"},
        {"SELECT {field}, {field1} FROM {table}", "Odd", list({"{field}"}),
         "SELECT [{field}], [{field}] FROM Odd"},
        {"SELECT {field} FROM {table}", "Odd", list({"x{field}"}), "SELECT [x{field}] FROM Odd"},
        {"no braces here", "Orders", list({"OrderID"}), "no braces here"},
    };
    Form2& f2 = open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templateText);
        writeFile(shipped("queries/select") + QStringLiteral("/Case.txt"), c.templateText);
        select(f2, q(c.table), c.fields);
        EXPECT_TRUE(withTemplateWindow(f2, [&](Form3& f3) {
            auto* box = child<QueryBox>(f3, "Text1");
            chooseItem(child<QComboBox>(f3, "Combo1"), 0);
            EXPECT_EQ(box->text(), q(c.filled));
            EXPECT_EQ(f3.focusWidget(), box);
            EXPECT_EQ(box->caretPosition(), box->text().size());
        }));
    }
    EXPECT_TRUE(world.dialogs->boxes.empty());
}

TEST_F(TemplateWindowTest, FragmentsGoInAtTheCaretAndTypingFillsToo) {
    writeFile(shipped("fragments") + QStringLiteral("/Where.txt"), "\r\nWHERE {table}.{field} > 1");
    writeFile(shipped("fragments") + QStringLiteral("/Plain.txt"), " AND");
    writeFile(shipped("fragments") + QStringLiteral("/Empty.txt"), "");
    struct Case {
        const char* fragment;
        const char* box;
        int caret;
        int selectionEnd;  // -1: no selection
        const char* result;
        int caretAfter;
    };
    const Case cases[] = {
        {"Plain", "SELECT x", 0, -1, " ANDSELECT x", 4},
        {"Plain", "SELECT x", 3, -1, "SEL ANDECT x", 7},
        {"Plain", "SELECT x", 8, -1, "SELECT x AND", 12},
        // The fragment goes in at the start of a selection, which stays.
        {"Plain", "SELECT x", 2, 5, "SE ANDLECT x", 6},
        {"Where", "SELECT * FROM Orders", 20, -1,
         "SELECT * FROM Orders\r\nWHERE Orders.CustomerID > 1", 49},
        {"Where", "", 0, -1, "\r\nWHERE Orders.CustomerID > 1", 29},
        {"Empty", "ab", 1, -1, "aempty fileb", 11},
    };
    Form2& f2 = open();
    select(f2, QStringLiteral("Orders"), list({"CustomerID"}));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fragment) + " into " + c.box);
        EXPECT_TRUE(withTemplateWindow(f2, [&](Form3& f3) {
            auto* box = child<QueryBox>(f3, "Text1");
            auto* combo2 = child<QComboBox>(f3, "Combo2");
            box->setText(q(c.box));
            QTextCursor cursor = box->textCursor();
            cursor.setPosition(c.caret);
            if (c.selectionEnd >= 0) cursor.setPosition(c.selectionEnd, QTextCursor::KeepAnchor);
            box->setTextCursor(cursor);
            combo2->setCurrentIndex(combo2->findText(q(c.fragment)));
            QTest::mouseClick(child<QPushButton>(f3, "PushButton3"), Qt::LeftButton);
            EXPECT_EQ(box->text(), q(c.result));
            EXPECT_EQ(box->caretPosition(), c.caretAfter);
        }));
    }
    // Typed text is filled as it comes, the caret behind what was filled in.
    EXPECT_TRUE(withTemplateWindow(f2, [&](Form3& f3) {
        auto* box = child<QueryBox>(f3, "Text1");
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("SELECT * FROM {TABLE}"));
        QTest::keyClicks(box, QStringLiteral(" x"));
        EXPECT_EQ(box->text(), QStringLiteral("SELECT * FROM Orders x"));
        EXPECT_EQ(box->caretPosition(), 22);
    }));
    EXPECT_TRUE(world.dialogs->boxes.empty());
}

TEST_F(TemplateWindowTest, InsertTemplateHandsTheTextOnAndCancelDoesNot) {
    writeFile(shipped("queries/select") + QStringLiteral("/All.txt"), "SELECT *\r\nFROM {table}");
    writeFile(shipped("queries/select") + QStringLiteral("/Empty.txt"), "");
    writeFile(shipped("queries/select") + QStringLiteral("/Gone.txt"), "soon gone");
    Form2& f2 = open();
    select(f2, QStringLiteral("Orders"), {});
    auto* query = child<QueryBox>(f2, "Text1");
    const struct {
        const char* chosen;
        const char* button;  // "" closes the window by its close box
        const char* query;   // the workspace's query afterwards
    } cases[] = {
        {"All", "PushButton1", "SELECT *\r\nFROM Orders"},
        {"Empty", "PushButton1", "empty file"},
        {"Gone", "PushButton1", ""},
        {"All", "PushButton2", "typed"},
        {"All", "", "typed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.chosen) + " " + c.button);
        query->setText(QStringLiteral("typed"));
        EXPECT_TRUE(withTemplateWindow(f2, [&](Form3& f3) {
            if (q(c.chosen) == QStringLiteral("Gone"))
                QFile::remove(shipped("queries/select") + QStringLiteral("/Gone.txt"));
            auto* combo1 = child<QComboBox>(f3, "Combo1");
            chooseItem(combo1, combo1->findText(q(c.chosen)));
            if (*c.button)
                QTest::mouseClick(child<QPushButton>(f3, c.button), Qt::LeftButton);
            else
                f3.close();
            EXPECT_FALSE(f3.isVisible());
        }));
        EXPECT_EQ(query->text(), q(c.query));
        EXPECT_EQ(f2.templateWindow(), nullptr);  // unloaded and gone
        EXPECT_EQ(child<QPushButton>(f2, "PushButton1")->isEnabled(), *c.query != 0);
    }
    EXPECT_TRUE(world.dialogs->boxes.empty());
}

TEST_F(TemplateWindowTest, TheWindowAsDesigned) {
    Form2& f2 = open();
    EXPECT_TRUE(withTemplateWindow(f2, [&](Form3& f3) {
        EXPECT_EQ(f3.windowTitle(), QStringLiteral("Insert Template"));
        EXPECT_TRUE(f3.isModal());
        EXPECT_EQ(f3.size(), QSize(536, 218));
        const struct {
            const char* name;
            QRect geometry;  // twips / 15; combo heights are their own
        } controls[] = {
            {"Label2", {8, 11, 98, 15}},         {"Label1", {8, 43, 67, 15}},
            {"PushButton3", {352, 40, 176, 23}}, {"Text1", {8, 72, 520, 105}},
            {"PushButton1", {8, 184, 256, 27}},  {"PushButton2", {272, 184, 256, 27}},
        };
        for (const auto& c : controls)
            EXPECT_EQ(child<QWidget>(f3, c.name)->geometry(), c.geometry) << c.name;
        EXPECT_EQ(child<QWidget>(f3, "Combo1")->geometry().topLeft(), QPoint(120, 8));
        EXPECT_EQ(child<QWidget>(f3, "Combo2")->geometry().topLeft(), QPoint(120, 40));
        EXPECT_EQ(child<QLabel>(f3, "Label2")->text(), QStringLiteral(" Select Template:"));
        EXPECT_EQ(child<QLabel>(f3, "Label1")->text(), QStringLiteral(" Fragments:"));
        EXPECT_EQ(child<QPushButton>(f3, "PushButton1")->font().pointSizeF(), 11.25);
        EXPECT_TRUE(child<QLabel>(f3, "Label2")->font().bold());
        // The design's tab order.
        QStringList order;
        QWidget* w = child<QWidget>(f3, "Combo1");
        for (int i = 0; i < 6; ++i, w = w->nextInFocusChain()) {
            while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
            order << w->objectName();
        }
        EXPECT_EQ(order,
                  list({"Combo1", "Text1", "Combo2", "PushButton3", "PushButton1", "PushButton2"}));
        EXPECT_TRUE(f3.pointer().hasCustomCursor());
    }));
}

TEST_F(TemplateWindowTest, SaveResultsAsOpensItsMenuAtThePointerBeforeAnyExecution) {
    Form2& f2 = open();
    world.dialogs->menuChoices.push_back(QStringLiteral("CSV"));
    QTest::mouseClick(child<QPushButton>(f2, "PushButton6"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(f2, "PushButton6"), Qt::LeftButton);
    ASSERT_EQ(world.dialogs->menus.size(), 2u);
    for (const auto& menu : world.dialogs->menus) {
        EXPECT_EQ(menu.items, list({"TXT", "SQL", "XLS", "CSV", "PDF", "XML"}));
        EXPECT_EQ(menu.at, QCursor::pos());
    }
    EXPECT_TRUE(world.dialogs->boxes.empty());
}

// The shipped library on the sample database: every SELECT template, filled
// from the workspace's selection, inserted and executed, runs; so do "All
// rows" and the join with the WHERE fragment added at the end.
TEST(ShippedTemplates, EverySelectTemplateRunsOnTheSample) {
    TestWorld world;
    world.installFixedFiles(false, false, true);
    const QString built = QStringLiteral(TABULARY_APP_BUILD_DIR "/templates");
    QStringList selects;
    for (const char* folder : {"queries/select", "queries", "fragments"}) {
        const QString from = built + u'/' + q(folder);
        const QStringList names = GetFilesInFolder(from, QStringLiteral("*.txt"));
        for (const QString& name : names) {
            QFile f(from + u'/' + name);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
            writeFile(world.appFolder() + QStringLiteral("/templates/") + q(folder) + u'/' + name,
                      f.readAll());
        }
        if (q(folder) == QStringLiteral("queries/select")) selects = names;
    }
    ASSERT_GE(selects.size(), 11);
    world.writeSettings(world.appFolder() + QStringLiteral("/Samples/sample.mdb"), QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2& f2 = *app.loadedWorkspace();
    auto* query = child<QueryBox>(f2, "Text1");

    const struct {
        const char* table;
        QStringList fields;  // clicked in this order; the last is current
    } selections[] = {
        {"Orders", list({"CustomerID", "OrderDate"})},
        {"Order Details", list({"OrderID", "Quantity"})},
        {"Employees", list({"Title", "HireDate"})},
    };
    struct Run {
        QString chosen;
        QString fragment;  // added at the end of the filled template
    };
    std::vector<Run> runs;
    for (const QString& name : selects) runs.push_back({templateDisplayName(name), QString()});
    runs.push_back({QStringLiteral("All rows"), QStringLiteral("WHERE")});
    runs.push_back({QStringLiteral("Join to itself"), QStringLiteral("WHERE")});
    for (const auto& s : selections) {
        auto* list1 = child<QListWidget>(f2, "List1");
        list1->setCurrentItem(list1->findItems(q(s.table), Qt::MatchExactly).value(0));
        auto* list2 = child<QListWidget>(f2, "List2");
        list2->clearSelection();
        for (const QString& field : s.fields) {
            QListWidgetItem* item = list2->findItems(field, Qt::MatchExactly).value(0);
            ASSERT_NE(item, nullptr) << field.toStdString();
            list2->scrollToItem(item);
            testing::sendClick(list2->viewport(), list2->visualItemRect(item).center());
        }
        for (const Run& run : runs) {
            SCOPED_TRACE(std::string(s.table) + ": " + run.chosen.toStdString() + " " +
                         run.fragment.toStdString());
            EXPECT_TRUE(withTemplateWindow(f2, [&](Form3& f3) {
                auto* combo1 = child<QComboBox>(f3, "Combo1");
                const int index = combo1->findText(run.chosen);
                ASSERT_GE(index, 0);
                chooseItem(combo1, index);
                if (!run.fragment.isEmpty()) {
                    auto* combo2 = child<QComboBox>(f3, "Combo2");
                    combo2->setCurrentIndex(combo2->findText(run.fragment));
                    ASSERT_GE(combo2->currentIndex(), 0);
                    QTest::mouseClick(child<QPushButton>(f3, "PushButton3"), Qt::LeftButton);
                }
                QTest::mouseClick(child<QPushButton>(f3, "PushButton1"), Qt::LeftButton);
            }));
            EXPECT_FALSE(query->text().contains(u'{')) << query->text().toStdString();
            QTest::mouseClick(child<QPushButton>(f2, "PushButton1"), Qt::LeftButton);
            const QStringList errors = world.dialogs->errorTexts();
            EXPECT_TRUE(errors.isEmpty()) << query->text().toStdString() << "\n"
                                          << errors.join(u'\n').toStdString();
            world.dialogs->boxes.clear();
        }
    }
}

}  // namespace
}  // namespace tab::gui
