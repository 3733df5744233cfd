// The real dialogs, not the scripted ones: the open dialog of "..." as the
// user sees it (captions, folder, the files each filter lists), and the
// titles the platform window gets (read back from the X server when the
// tests run under X11).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/application.h"
#include "app/dialogs.h"
#include "app/procedure_error.h"
#include "app/product.h"
#include "app/start_window.h"
#include "templating/template_window.h"
#include "ui_support.h"
#include "workspace/workspace_window.h"

#if __has_include(<xcb/xcb.h>) && defined(TABULARY_TEST_XCB)
#include <xcb/xcb.h>
#include <QGuiApplication>
#include <cstdlib>
#define TABULARY_HAVE_XCB 1
#endif

namespace tab::gui {
namespace {

using testing::child;
using testing::TestWorld;
using testing::writeDatabase;

// Runs `inspect` on the modal dialog once it is open (it must close it).
void whenModalOpens(std::function<void(QWidget*)> inspect) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, inspect] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        inspect(modal);
    });
    timer->start();
}

// The names the dialog's list shows under its current folder, sorted.
QStringList listedNames(QFileDialog* dialog) {
    auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
    if (!view) return {QStringLiteral("<no list>")};
    QStringList names;
    const QModelIndex root = view->rootIndex();
    for (int r = 0; r < view->model()->rowCount(root); ++r)
        names << view->model()->index(r, 0, root).data().toString();
    names.sort();
    return names;
}

QStringList waitForListing(QFileDialog* dialog, const QStringList& expected) {
    QStringList names;
    // The folder is read in the background; the list fills in a moment.
    (void)QTest::qWaitFor(
        [&] {
            names = listedNames(dialog);
            return names == expected;
        },
        5000);
    return names;
}

QString platformTitle(QWidget* window) {
#ifdef TABULARY_HAVE_XCB
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) return QStringLiteral("<not X11>");
    xcb_connection_t* c = x11->connection();
    const char name[] = "_NET_WM_NAME";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    if (!atom) return QStringLiteral("<no atom>");
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, static_cast<xcb_window_t>(window->winId()),
                                                atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                               nullptr);
    std::free(atom);
    if (!reply) return QStringLiteral("<no property>");
    const QString title = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                            xcb_get_property_value_length(reply));
    std::free(reply);
    return title;
#else
    (void)window;
    return {};
#endif
}

class RealDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.installFixedFiles();
        folder = world.path(QStringLiteral("databases"));
        QDir().mkpath(folder);
        for (const char* name : {"Upper.MDB", "lower.mdb", "new.ACCDB", "notes.txt"}) {
            QFile f(folder + u'/' + QString::fromLatin1(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        db = world.path(QStringLiteral("shop.mdb"));
        writeDatabase(db, "CREATE TABLE Customers (ID LONG);\n");
    }
    void useRealDialogs() { services().setDialogs(std::make_unique<QtDialogs>()); }

    TestWorld world;
    QString folder;
    QString db;
};

TEST_F(RealDialogsTest, BrowseShowsTheCaptionsOpensInTheBoxsFolderAndFiltersAnyCase) {
    Application app;
    ASSERT_TRUE(app.start());
    Form1& f1 = app.startWindow();
    auto* text1 = child<QLineEdit>(f1, "Text1");
    text1->setText(folder + QStringLiteral("/Upper.MDB"));
    useRealDialogs();

    bool inspected = false;
    whenModalOpens([&](QWidget* modal) {
        inspected = true;
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ADD_FAILURE() << "not the file dialog: " << modal->windowTitle().toStdString() << ": "
                          << (box ? box->text().toStdString() : std::string());
            modal->close();
            return;
        }
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Select Access Database"));
        EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(folder).canonicalPath());
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(types, nullptr);
        QStringList captions;
        for (int i = 0; i < types->count(); ++i) captions << types->itemText(i);
        EXPECT_EQ(captions,
                  (QStringList{"All Microsoft Databases (*.mdb,*.accdb)",
                               "Microsoft Database (*.mdb)", "Microsoft 2007 Database (*.accdb)"}));
        EXPECT_EQ(types->currentIndex(), 0);
        // Each filter's patterns, matched without regard to case.
        const struct {
            int index;
            QStringList names;
        } filters[] = {
            {0, {"Upper.MDB", "lower.mdb", "new.ACCDB"}},
            {1, {"Upper.MDB", "lower.mdb"}},
            {2, {"new.ACCDB"}},
        };
        for (const auto& f : filters) {
            // As the user picks it: the dialog follows "activated".
            types->setCurrentIndex(f.index);
            emit types->activated(f.index);
            QStringList expected = f.names;
            expected.sort();
            EXPECT_EQ(waitForListing(dialog, expected), expected) << f.index;
        }
        if (!platformTitle(dialog).isEmpty()) {
            EXPECT_EQ(platformTitle(dialog), QStringLiteral("Select Access Database"));
        }
        // Typed into the name box, as a user would.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setText(QStringLiteral("new.ACCDB"));
        QMetaObject::invokeMethod(dialog, "accept");
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the dialog did not take the name";
            dialog->reject();
        }
    });
    QTest::mouseClick(child<QPushButton>(f1, "PushButton6"), Qt::LeftButton);
    EXPECT_TRUE(inspected);
    EXPECT_EQ(QFileInfo(text1->text()).canonicalFilePath(),
              QFileInfo(folder + QStringLiteral("/new.ACCDB")).canonicalFilePath());
}

// What the window manager shows is the title alone, without the program's
// name appended (Qt does that on X11 and Wayland when told a display name).
TEST_F(RealDialogsTest, PlatformWindowTitlesAreTheTitlesAlone) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        GTEST_SKIP() << "titles are read back from an X server (run under xvfb)";
    world.writeSettings(db, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    EXPECT_EQ(platformTitle(f2), QStringLiteral("Tabulary"));
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton4"), Qt::LeftButton);
    EXPECT_EQ(platformTitle(&app.startWindow()), QStringLiteral("Tabulary"));

    useRealDialogs();
    const struct {
        const char* title;
        std::function<void()> open;
    } boxes[] = {
        {"Application Error",
         [] { ShowProcedureError(QStringLiteral("x"), QStringLiteral("in y "), 100); }},
        {"Tabulary",
         [] {
             services().dialogs().message({applicationTitle(), QStringLiteral("z")});
         }},
        {"Select Access Database",
         [&] {
             QTest::mouseClick(child<QPushButton>(app.startWindow(), "PushButton6"),
                               Qt::LeftButton);
         }},
    };
    for (const auto& b : boxes) {
        QString seen = QStringLiteral("<not opened>");
        whenModalOpens([&](QWidget* modal) {
            seen = platformTitle(modal);
            if (auto* d = qobject_cast<QDialog*>(modal))
                d->reject();
            else
                modal->close();
        });
        b.open();
        EXPECT_EQ(seen, QString::fromLatin1(b.title));
    }
}

// "Save Results As" pops the real menu up at the pointer; Escape dismisses
// it. The template window is a modal window titled as designed.
TEST_F(RealDialogsTest, SaveResultsAsMenuAndTheTemplateWindow) {
    world.writeSettings(db, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    useRealDialogs();
    QCursor::setPos(f2->mapToGlobal(QPoint(40, 400)));
    const QPoint pointer = QCursor::pos();
    QStringList items;
    QPoint shownAt;
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [&, timer] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        for (QAction* a : menu->actions()) items << a->text();
        shownAt = menu->geometry().topLeft();
        QTest::keyClick(menu, Qt::Key_Escape);
    });
    timer->start();
    QTest::mouseClick(child<QPushButton>(*f2, "PushButton6"), Qt::LeftButton);
    EXPECT_EQ(items, (QStringList{"TXT", "SQL", "XLS", "CSV", "PDF", "XML"}));
    EXPECT_EQ(shownAt, pointer);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    QString title = QStringLiteral("<not opened>");
    bool modal = false;
    EXPECT_TRUE(testing::withTemplateWindow(*f2, [&](Form3& f3) {
        modal = QApplication::activeModalWidget() == &f3;
        title = platformTitle(&f3);
        if (title.isEmpty()) title = f3.windowTitle();
    }));
    EXPECT_TRUE(modal);
    EXPECT_EQ(title, QStringLiteral("Insert Template"));
}

// Runs `act` on the first widget that `find` finds, polling until then.
void whenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> act) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, find, act] {
        QWidget* w = find();
        if (!w || !w->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        act(w);
    });
    timer->start();
}

// Saving over an existing file asks first, in the real Save dialog: No
// leaves the file as it was and the dialog open, Yes replaces it.
TEST_F(RealDialogsTest, SavingOverAFileAsksFirst) {
    world.writeSettings(db, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    useRealDialogs();
    const QString target = folder + QStringLiteral("/notes.txt");
    const struct {
        QMessageBox::StandardButton answer;
        QByteArray after;  // before any SELECT the text file is an empty header
        bool dialogStays;
    } cases[] = {
        {QMessageBox::No, "keep me", true},
        {QMessageBox::Yes, "\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer == QMessageBox::Yes ? "Yes" : "No");
        testing::writeFile(target, "keep me");
        QString question = QStringLiteral("<not asked>");
        bool stayed = false;
        // The real menu, clicked at "TXT".
        whenShown([] { return QApplication::activePopupWidget(); },
                  [](QWidget* w) {
                      auto* menu = qobject_cast<QMenu*>(w);
                      QAction* txt = menu ? menu->actions().value(0) : nullptr;
                      if (!txt || txt->text() != QStringLiteral("TXT")) {
                          ADD_FAILURE() << "no TXT item";
                          w->close();
                          return;
                      }
                      QTest::mouseClick(menu, Qt::LeftButton, {},
                                        menu->actionGeometry(txt).center());
                  });
        whenModalOpens([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            auto* name =
                dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
            if (!name) {
                ADD_FAILURE() << "not the Save dialog: " << modal->windowTitle().toStdString();
                modal->close();
                return;
            }
            whenShown([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
                      [&](QWidget* w) {
                          auto* box = static_cast<QMessageBox*>(w);
                          question = box->text();
                          QTest::mouseClick(box->button(c.answer), Qt::LeftButton);
                      });
            name->setText(target);
            QTest::keyClick(name, Qt::Key_Return);
            stayed = dialog->isVisible();
            if (stayed) dialog->reject();
        });
        QTest::mouseClick(child<QPushButton>(*f2, "PushButton6"), Qt::LeftButton);
        EXPECT_TRUE(question.contains(QStringLiteral("notes.txt already exists")))
            << question.toStdString();
        EXPECT_EQ(stayed, c.dialogStays);
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), c.after);
    }
}

}  // namespace
}  // namespace tab::gui
