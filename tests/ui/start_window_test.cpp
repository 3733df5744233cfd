// The start window and the start-up, driven through the named controls.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <functional>

#include "app/application.h"
#include "app/procedure_error.h"
#include "app/product.h"
#include "app/settings_store.h"
#include "app/start_window.h"
#include "app/theme.h"
#include "db/engine_check.h"
#include "fault_io.h"
#include "tabulary/jet/change.h"
#include "tabulary/jet/encrypt.h"
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

const std::string kThreeTables =
    "CREATE TABLE orders (OrderID LONG, Amount CURRENCY);\n"
    "CREATE TABLE Customers (ID LONG, Name TEXT(40), City TEXT(40));\n"
    "CREATE TABLE archive (Year LONG, Note MEMO);\n"
    "INSERT INTO Customers VALUES (1, 'Ann', 'Bath');\n";

class StartWindowTest : public ::testing::Test {
protected:
    void SetUp() override { world.installFixedFiles(); }
    QString database(const std::string& password = {}) {
        const QString p = world.path(QStringLiteral("shop.mdb"));
        if (!QFile::exists(p)) writeDatabase(p, kThreeTables, password);
        return p;
    }
    TestWorld world;
};

TEST_F(StartWindowTest, FirstRunShowsTheEmptyStartWindow) {
    Application app;
    ASSERT_TRUE(app.start());
    Form1& f1 = app.startWindow();
    EXPECT_TRUE(f1.isVisible());
    EXPECT_EQ(f1.windowTitle(), QStringLiteral("Tabulary"));
    EXPECT_EQ(child<QLineEdit>(f1, "Text1")->text(), QString());
    EXPECT_EQ(child<QLineEdit>(f1, "Text2")->text(), QString());
    EXPECT_EQ(app.loadedWorkspace(), nullptr);
    EXPECT_TRUE(world.dialogs->boxes.empty());
    // Reading the settings never writes them.
    EXPECT_FALSE(QFile::exists(world.configFile()));
    EXPECT_EQ(world.random->seeded, 1);
    EXPECT_TRUE(world.browser->opened.isEmpty());
}

TEST_F(StartWindowTest, RememberedFileOpensTheWorkspaceWithItsPassword) {
    const QString db = database("pw;1");
    world.writeSettings(db, QStringLiteral("pw;1"));
    // ';' cannot pass through a connection string: the remembered password
    // here is the plain one.
    QFile::remove(db);
    writeDatabase(db, kThreeTables, "secret");
    world.writeSettings(db, QStringLiteral("secret"));
    Application app;
    ASSERT_TRUE(app.start());
    EXPECT_FALSE(app.startWindow().isVisible());
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    EXPECT_TRUE(f2->isVisible());
    auto* list1 = child<QListWidget>(*f2, "List1");
    EXPECT_EQ(items(list1), (QStringList{"archive", "Customers", "orders"}));
    EXPECT_EQ(list1->currentRow(), 0);
    EXPECT_EQ(items(child<QListWidget>(*f2, "List2")), (QStringList{"Year", "Note"}));
    EXPECT_TRUE(child<QListWidget>(*f2, "List2")->selectedItems().isEmpty());
    EXPECT_TRUE(world.dialogs->boxes.empty());
}

TEST_F(StartWindowTest, RememberedFileDeletedShowsTheOldPath) {
    const QString gone = world.path(QStringLiteral("gone.mdb"));
    world.writeSettings(gone, QString());
    Application app;
    ASSERT_TRUE(app.start());
    Form1& f1 = app.startWindow();
    EXPECT_TRUE(f1.isVisible());
    EXPECT_EQ(child<QLineEdit>(f1, "Text1")->text(), gone);
    QTest::mouseClick(child<QPushButton>(f1, "PushButton3"), Qt::LeftButton);
    EXPECT_EQ(app.loadedWorkspace(), nullptr);
    EXPECT_TRUE(f1.isVisible());
    EXPECT_TRUE(world.dialogs->boxes.empty());
}

// A change that a crash interrupted left its journal: the first open undoes
// it and says so in one box; the next opens have nothing to say.
TEST_F(StartWindowTest, OpeningAfterACrashUndoesTheChangeAndSaysSoOnce) {
    const QString db = database();
    const std::string path = db.toStdString();
    std::string before;
    {
        QFile f(db);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        before = f.readAll().toStdString();
    }
    bool crashed = false;
    for (int64_t at = 1; at < 200 && !crashed; ++at) {
        jet::edit::FaultIo io(at);
        {
            auto opened = jet::Database::open(path);
            ASSERT_TRUE(opened.ok()) << opened.error().message();
            jet::ChangeOptions options;
            options.io = &io;
            // A crash this early stops the change before it starts.
            auto change = jet::Change::begin(**opened, options);
            auto t = change.ok() ? (*change)->table("Customers") : Result<size_t>(0);
            const jet::Value row[] = {jet::Value::integer(2), jet::Value::text("Bo"),
                                      jet::Value::text("Rye")};
            if (change.ok() && t.ok() && (*change)->insert(*t, row).ok()) (void)(*change)->commit();
        }
        std::filesystem::remove(path.substr(0, path.size() - 4) + ".ldb");
        QFile f(db);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        crashed = QFile::exists(db + QStringLiteral(".tbj")) && f.readAll().toStdString() != before;
        if (!crashed) {
            f.close();
            QFile::remove(db + QStringLiteral(".tbj"));
            QFile out(db);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(before.data(), static_cast<qint64>(before.size()));
        }
    }
    ASSERT_TRUE(crashed) << "no crash point left a journal and a changed file";
    world.writeSettings(db, QString());
    Application app;
    ASSERT_TRUE(app.start());
    ASSERT_NE(app.loadedWorkspace(), nullptr);
    ASSERT_EQ(world.dialogs->boxes.size(), 1u);
    EXPECT_TRUE(world.dialogs->boxes[0].text.contains(QStringLiteral("was interrupted")))
        << world.dialogs->boxes[0].text.toStdString();
    EXPECT_TRUE(world.dialogs->boxes[0].text.contains(db));
    EXPECT_FALSE(QFile::exists(db + QStringLiteral(".tbj")));
    {
        QFile f(db);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(f.readAll().toStdString() == before) << "the file is not as before the change";
    }
    QTest::mouseClick(child<QPushButton>(*app.loadedWorkspace(), "PushButton4"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTest::mouseClick(child<QPushButton>(app.startWindow(), "PushButton3"), Qt::LeftButton);
    ASSERT_NE(app.loadedWorkspace(), nullptr);
    EXPECT_EQ(items(child<QListWidget>(*app.loadedWorkspace(), "List1")),
              (QStringList{"archive", "Customers", "orders"}));
    EXPECT_EQ(world.dialogs->boxes.size(), 1u);
}

// A password-protected .accdb, for each kind of Office encryption: a wrong
// password is one box naming the scheme; the right one lists the tables,
// runs statements in the workspace, and what they write stays encrypted.
TEST_F(StartWindowTest, EncryptedAccdbOpensWithItsPasswordAndStaysEncrypted) {
    for (jet::EncryptionScheme scheme :
         {jet::EncryptionScheme::Agile, jet::EncryptionScheme::StandardAes,
          jet::EncryptionScheme::Rc4CryptoApi}) {
        SCOPED_TRACE(jet::schemeName(scheme));
        TestWorld w;
        w.installFixedFiles();
        const QString plain = w.path(QStringLiteral("plain.accdb"));
        const QString db = w.path(QStringLiteral("locked.accdb"));
        writeDatabase(plain, kThreeTables, "");
        const Status made =
            jet::encryptDatabase(plain.toStdString(), db.toStdString(), "s3cret", scheme);
        ASSERT_TRUE(made.ok()) << made.error().message();
        w.writeSettings(db, QStringLiteral("wrong"));
        Application app;
        ASSERT_TRUE(app.start());
        const QStringList errors = w.dialogs->errorTexts();
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].contains(QStringLiteral("Not a valid password")))
            << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains(QStringLiteral("at line 102")));
        ASSERT_NE(app.loadedWorkspace(), nullptr);
        EXPECT_EQ(child<QListWidget>(*app.loadedWorkspace(), "List1")->count(), 0);

        QTest::mouseClick(child<QPushButton>(*app.loadedWorkspace(), "PushButton4"),
                          Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        child<QLineEdit>(app.startWindow(), "Text2")->setText(QStringLiteral("s3cret"));
        QTest::mouseClick(child<QPushButton>(app.startWindow(), "PushButton3"), Qt::LeftButton);
        Form2* f2 = app.loadedWorkspace();
        ASSERT_NE(f2, nullptr);
        EXPECT_EQ(items(child<QListWidget>(*f2, "List1")),
                  (QStringList{"archive", "Customers", "orders"}));
        w.dialogs->boxes.clear();
        auto execute = [&](const QString& sql) {
            f2->queryBox().setText(sql);
            QTest::mouseClick(child<QPushButton>(*f2, "PushButton1"), Qt::LeftButton);
        };
        execute(QStringLiteral("UPDATE Customers SET City = 'Wellsbrook' WHERE ID = 1"));
        ASSERT_EQ(w.dialogs->boxes.size(), 1u);
        EXPECT_EQ(w.dialogs->boxes[0].text, QStringLiteral("1 record(s) affected."));
        execute(QStringLiteral("SELECT Name, City FROM Customers"));
        ASSERT_EQ(f2->grid().rowCount(), 1);
        EXPECT_EQ(f2->grid().cellText(0, 1), QStringLiteral("Wellsbrook"));

        QFile f(db);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_FALSE(bytes.contains("Wellsbrook"));
        EXPECT_FALSE(bytes.contains(QByteArray("W\0e\0l\0l\0s\0b\0r\0o\0o\0k\0", 20)));
    }
}

TEST_F(StartWindowTest, WrongPasswordGivesOneBoxAnEmptyListAndBackCorrectsIt) {
    const QString db = world.path(QStringLiteral("locked.mdb"));
    writeDatabase(db, kThreeTables, "right");
    world.writeSettings(db, QStringLiteral("wrong"));
    Application app;
    ASSERT_TRUE(app.start());
    const QStringList errors = world.dialogs->errorTexts();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral(
        "\r\nin Ravelin2021/08/31.Access1.AddTablesToAccessListbox at line 102\r\r")));
    EXPECT_FALSE(errors[0].startsWith(QStringLiteral("\r\n")));  // the engine's description
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    EXPECT_TRUE(f2->isVisible());
    EXPECT_EQ(child<QListWidget>(*f2, "List1")->count(), 0);

    QTest::mouseClick(child<QPushButton>(*f2, "PushButton4"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(services().programEnded());
    EXPECT_EQ(app.loadedWorkspace(), nullptr);
    Form1& f1 = app.startWindow();
    EXPECT_TRUE(f1.isVisible());
    child<QLineEdit>(f1, "Text2")->setText(QStringLiteral("right"));
    QTest::mouseClick(child<QPushButton>(f1, "PushButton3"), Qt::LeftButton);
    ASSERT_NE(app.loadedWorkspace(), nullptr);
    EXPECT_EQ(items(child<QListWidget>(*app.loadedWorkspace(), "List1")),
              (QStringList{"archive", "Customers", "orders"}));
    EXPECT_EQ(world.dialogs->errorTexts().size(), 1);
    EXPECT_FALSE(f1.isVisible());
}

TEST_F(StartWindowTest, ClosingEitherWindowEndsTheProgramButBackDoesNot) {
    const QString db = database();
    for (const char* how : {"start window", "workspace", "back then workspace"}) {
        TestWorld w;
        w.installFixedFiles();
        w.writeSettings(db, QString());
        Application app;
        ASSERT_TRUE(app.start());
        if (QString::fromLatin1(how) == QStringLiteral("start window")) {
            // Shown again with "< Back" first, so that it can be closed.
            QTest::mouseClick(child<QPushButton>(*app.loadedWorkspace(), "PushButton4"),
                              Qt::LeftButton);
            EXPECT_FALSE(services().programEnded());
            app.startWindow().close();
        } else if (QString::fromLatin1(how) == QStringLiteral("workspace")) {
            app.loadedWorkspace()->close();
        } else {
            QTest::mouseClick(child<QPushButton>(*app.loadedWorkspace(), "PushButton4"),
                              Qt::LeftButton);
            EXPECT_FALSE(services().programEnded());
            QTest::mouseClick(child<QPushButton>(app.startWindow(), "PushButton3"), Qt::LeftButton);
            ASSERT_NE(app.loadedWorkspace(), nullptr);
            app.loadedWorkspace()->close();
        }
        EXPECT_TRUE(services().programEnded()) << how;
        EXPECT_FALSE(app.startWindow().isVisible()) << how;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(StartWindowTest, SettingsAreWrittenKeystrokeByKeystrokeAndSyncedWhenTheySettle) {
    const QString db = database();
    struct Case {
        const char* settledBy;
        const char* box;
        const char* key;
        QString typed;
        bool focusInBox;  // else the focus is on "Next >" while typing
        std::function<void(Application&, QLineEdit* box)> settle;
    };
    const Case cases[] = {
        {"Tab out of the box", "Text1", "Database", QStringLiteral("/srv/a b.mdb"), true,
         [](Application&, QLineEdit* box) { QTest::keyClick(box, Qt::Key_Tab); }},
        {"click into the other box", "Text2", "Password", QStringLiteral("p w"), true,
         [](Application& app, QLineEdit*) {
             QTest::mouseClick(child<QLineEdit>(app.startWindow(), "Text1"), Qt::LeftButton);
         }},
        {"\"Next >\"", "Text1", "Database", db, false,
         [](Application& app, QLineEdit*) {
             QTest::keyClick(child<QPushButton>(app.startWindow(), "PushButton3"), Qt::Key_Space);
             EXPECT_NE(app.loadedWorkspace(), nullptr);
         }},
        {"closing the start window", "Text2", "Password", QStringLiteral("secret"), false,
         [](Application& app, QLineEdit*) { app.startWindow().close(); }},
        {"the program ended elsewhere", "Text1", "Database", QStringLiteral("/x.mdb"), false,
         [](Application&, QLineEdit*) { services().endProgram(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settledBy);
        TestWorld w;
        w.installFixedFiles();
        Application app;
        ASSERT_TRUE(app.start());
        Form1& f1 = app.startWindow();
        f1.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f1));
        auto* box = child<QLineEdit>(f1, c.box);
        if (c.focusInBox)
            box->setFocus();
        else
            child<QPushButton>(f1, "PushButton3")->setFocus();
        SyncSettings();
        const long long syncs = settingsSyncCounts().syncs;

        // Each keystroke is in the file at once, and none syncs the disk.
        const QString entry = QString::fromLatin1(c.key) + u'=';
        for (qsizetype i = 0; i < c.typed.size(); ++i) {
            QTest::keyClicks(box, c.typed.mid(i, 1));
            EXPECT_TRUE(w.settingsText().contains(entry + c.typed.left(i + 1) + u'\n'))
                << i << ": " << w.settingsText().toStdString();
            EXPECT_EQ(settingsSyncCounts().syncs, syncs) << i;
        }
        // Typed where the case says, so that the sync comes from its settling.
        ASSERT_EQ(box->hasFocus(), c.focusInBox);
        c.settle(app, box);
        EXPECT_EQ(settingsSyncCounts().syncs, syncs + 1);
        SyncSettings();  // nothing was left pending
        EXPECT_EQ(settingsSyncCounts().syncs, syncs + 1);

        struct stat st {};
        ASSERT_EQ(::stat(w.configFile().toUtf8().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_EQ(box->echoMode(), QString::fromLatin1(c.box) == QStringLiteral("Text2")
                                       ? QLineEdit::Password
                                       : QLineEdit::Normal);
        // What the next start reads.
        services().resetEnded();
        Application next;
        ASSERT_TRUE(next.start());
        EXPECT_EQ(child<QLineEdit>(next.startWindow(), c.box)->text(), c.typed);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(StartWindowTest, ASettingThatCannotBeWrittenIsToldOnceAndTypingGoesOn) {
    // A file where the settings folder should be.
    QFile blocker(world.home() + QStringLiteral("/config"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Application app;
    ASSERT_TRUE(app.start());
    auto* text1 = child<QLineEdit>(app.startWindow(), "Text1");
    QTest::keyClicks(text1, QStringLiteral("/a.mdb"));
    EXPECT_EQ(text1->text(), QStringLiteral("/a.mdb"));
    ASSERT_EQ(world.dialogs->boxes.size(), 1u);
    EXPECT_EQ(world.dialogs->boxes[0].icon, BoxIcon::Warning);
    EXPECT_TRUE(world.dialogs->boxes[0].text.startsWith(
        QStringLiteral("The database and password cannot be remembered")));
}

TEST_F(StartWindowTest, SampleThenNextOpensTheSampleDatabase) {
    Application app;
    ASSERT_TRUE(app.start());
    Form1& f1 = app.startWindow();
    QTest::mouseClick(child<QPushButton>(f1, "PushButton1"), Qt::LeftButton);
    EXPECT_EQ(child<QLineEdit>(f1, "Text1")->text(),
              world.appFolder() + QStringLiteral("/Samples/sample.mdb"));
    EXPECT_EQ(app.loadedWorkspace(), nullptr);
    QTest::mouseClick(child<QPushButton>(f1, "PushButton3"), Qt::LeftButton);
    Form2* f2 = app.loadedWorkspace();
    ASSERT_NE(f2, nullptr);
    auto* list1 = child<QListWidget>(*f2, "List1");
    ASSERT_GT(list1->count(), 3);
    EXPECT_EQ(list1->currentRow(), 0);
    EXPECT_GT(child<QListWidget>(*f2, "List2")->count(), 0);
    EXPECT_TRUE(world.dialogs->boxes.empty());
}

// "Open With": the file named at start takes the remembered one's place and
// is stored as a change of the box is; the remembered password stays only
// with the remembered file, however it is named.
TEST_F(StartWindowTest, AFileNamedAtStartTakesTheRememberedOnesPlace) {
    const QString shop = database("secret");
    const QString other = world.path(QStringLiteral("other.mdb"));
    writeDatabase(other, kThreeTables);
    const QString link = world.path(QStringLiteral("link.mdb"));
    ASSERT_TRUE(QFile::link(shop, link));
    const QString missing = world.path(QStringLiteral("missing.mdb"));
    ASSERT_TRUE(QDir().mkpath(world.path(QStringLiteral("x"))));
    const struct {
        const char* what;
        QString remembered;
        QString argument;  // relative names are taken from the current folder
        QString box;
        QString password;
        bool opened;
    } cases[] = {
        {"none named", shop, QString(), shop, QStringLiteral("secret"), true},
        {"another file", shop, QStringLiteral("other.mdb"), other, QString(), true},
        {"the remembered file through a link", shop, QStringLiteral("link.mdb"), link,
         QStringLiteral("secret"), true},
        {"the remembered file by another path", shop, QStringLiteral("./x/../shop.mdb"), shop,
         QStringLiteral("secret"), true},
        {"a file that does not exist", shop, QStringLiteral("missing.mdb"), missing, QString(),
         false},
        {"the remembered one, which does not exist", missing, missing, missing,
         QStringLiteral("secret"), false},
    };
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(world.path(QString())));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        world.writeSettings(c.remembered, QStringLiteral("secret"));
        world.dialogs->boxes.clear();
        Application app;
        ASSERT_TRUE(app.start(c.argument));
        Form1& f1 = app.startWindow();
        EXPECT_EQ(QDir::cleanPath(child<QLineEdit>(f1, "Text1")->text()), c.box);
        EXPECT_EQ(child<QLineEdit>(f1, "Text2")->text(), c.password);
        EXPECT_EQ(QDir::cleanPath(ReadSetting(QStringLiteral("Database"), QString())), c.box);
        EXPECT_EQ(ReadSetting(QStringLiteral("Password"), QStringLiteral("<none>")), c.password);
        EXPECT_EQ(f1.isVisible(), !c.opened);
        Form2* f2 = app.loadedWorkspace();
        EXPECT_EQ(f2 != nullptr, c.opened);
        // Opened with the right password: the tables are listed, nothing told.
        if (f2) {
            EXPECT_EQ(items(child<QListWidget>(*f2, "List1")).size(), 3);
        }
        EXPECT_TRUE(world.dialogs->boxes.empty())
            << world.dialogs->boxes.front().text.toStdString();
    }
    QDir::setCurrent(before);
}

// Anything but one file name is refused before Qt starts, with a usage line.
TEST(CommandLine, AnythingButOneFileNameIsRefused) {
    TestWorld world;  // its home, should the program start after all
    const struct {
        QStringList arguments;
        const char* reason;
    } cases[] = {
        {{"a.mdb", "b.mdb"}, "tabulary: one database file at most, not 2 arguments\n"},
        {{"--help"}, "tabulary: unknown option --help\n"},
        {{"-x.mdb"}, "tabulary: unknown option -x.mdb\n"},
        {{""}, "tabulary: the file name is empty\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        QProcess p;
        p.start(QStringLiteral(TABULARY_APP_BUILD_DIR "/tabulary"), c.arguments);
        if (!p.waitForFinished(20000)) {
            ADD_FAILURE() << "the program did not end";
            p.kill();
            p.waitForFinished();
            continue;
        }
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 2);
        EXPECT_EQ(p.readAllStandardError(), QByteArray(c.reason) + "usage: tabulary [FILE]\n");
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    }
}

TEST_F(StartWindowTest, BrowseDialogSetsThePathOrKeepsIt) {
    Application app;
    ASSERT_TRUE(app.start());
    Form1& f1 = app.startWindow();
    auto* text1 = child<QLineEdit>(f1, "Text1");
    text1->setText(QStringLiteral("/before.mdb"));
    // Cancelled.
    QTest::mouseClick(child<QPushButton>(f1, "PushButton6"), Qt::LeftButton);
    EXPECT_EQ(text1->text(), QStringLiteral("/before.mdb"));
    ASSERT_EQ(world.dialogs->fileDialogs.size(), 1u);
    const FileDialog& d = world.dialogs->fileDialogs[0];
    EXPECT_EQ(d.title, QStringLiteral("Select Access Database"));
    EXPECT_EQ(d.filterIndex, 1);
    EXPECT_EQ(d.fileName, QString());
    EXPECT_EQ(qtFilters(d.filter).size(), 3);
    world.dialogs->files.push_back(QStringLiteral("/chosen/FILE.MDB"));
    child<QLineEdit>(f1, "Text2")->setText(QStringLiteral("keep"));
    QTest::mouseClick(child<QPushButton>(f1, "PushButton6"), Qt::LeftButton);
    EXPECT_EQ(text1->text(), QStringLiteral("/chosen/FILE.MDB"));
    EXPECT_EQ(child<QLineEdit>(f1, "Text2")->text(), QStringLiteral("keep"));
    EXPECT_TRUE(world.settingsText().contains(QStringLiteral("Database=/chosen/FILE.MDB\n")));
}

TEST_F(StartWindowTest, FocusSelectsTheWholeBox) {
    Application app;
    ASSERT_TRUE(app.start());
    Form1& f1 = app.startWindow();
    f1.activateWindow();
    for (const char* name : {"Text1", "Text2"}) {
        auto* box = child<QLineEdit>(f1, name);
        box->setText(QStringLiteral("some text"));
        box->deselect();
        child<QPushButton>(f1, "PushButton3")->setFocus();
        QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(box, &in);
        EXPECT_EQ(box->selectionStart(), 0) << name;
        EXPECT_EQ(box->selectionLength(), 9) << name;
    }
}

TEST_F(StartWindowTest, EngineMissingEndsBeforeAnyWindow) {
    const struct {
        CreationFailure failure;
        std::optional<BoxAnswer> answer;
        int pages;
    } cases[] = {
        {{3706, "Provider cannot be found. It may not be properly installed."}, BoxAnswer::No, 0},
        {{3706, "x"}, BoxAnswer::Yes, 2},
        {{5, "Invalid procedure call"}, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        TestWorld w;
        w.installFixedFiles();
        w.writeSettings(database(), QString());
        w.connections->failure = c.failure;
        if (c.answer) w.dialogs->answers.push_back(*c.answer);
        Application app;
        EXPECT_FALSE(app.start());
        EXPECT_TRUE(services().programEnded());
        EXPECT_FALSE(app.startWindow().isVisible());
        EXPECT_EQ(app.loadedWorkspace(), nullptr);
        EXPECT_EQ(w.dialogs->boxes.size(), c.answer ? 1u : 0u);
        if (c.answer) {
            EXPECT_EQ(w.dialogs->boxes[0].text, missingProviderText());
        }
        EXPECT_EQ(w.browser->opened.size(), c.pages);
    }
}

TEST_F(StartWindowTest, OnceInAHundredStartsOpenTheMakersSite) {
    const struct {
        double uniform;
        bool opened;
    } cases[] = {{0.06, true},  {0.069999, true}, {0.05, false},
                 {0.07, false}, {0.0, false},     {0.99, false}};
    for (const auto& c : cases) {
        TestWorld w;
        w.random->value = c.uniform;
        Application app;
        ASSERT_TRUE(app.start());
        EXPECT_EQ(w.browser->opened, c.opened ? QStringList{kMakerSite} : QStringList{})
            << c.uniform;
    }
}

TEST_F(StartWindowTest, PdfPrinterMissingIsToldAtTheEndOfStartUp) {
    world.writeSettings(database(), QString());
    world.printers->list = {QStringLiteral("Office Laser")};
    // The workspace is already open when the message comes.
    bool workspaceShown = false;
    Application app;
    world.dialogs->onMessage = [&](const MessageBox&) {
        workspaceShown = app.loadedWorkspace() && app.loadedWorkspace()->isVisible();
    };
    ASSERT_TRUE(app.start());
    ASSERT_EQ(world.dialogs->boxes.size(), 1u);
    EXPECT_EQ(world.dialogs->boxes[0].title, QStringLiteral("Tabulary"));
    EXPECT_TRUE(workspaceShown);
}

TEST_F(StartWindowTest, SkinColoursTheStartWindowOnlyWhenItsFileExists) {
    for (bool skin : {true, false}) {
        TestWorld w;
        w.installFixedFiles(true, skin, true);
        w.writeSettings(database(), QString());
        Application app;
        ASSERT_TRUE(app.start());
        Form1& f1 = app.startWindow();
        const QColor face = buttonFaceColour();
        const QColor expected = skin ? face : QColor(Qt::white);
        // What is painted: the window between frame and buttons, the frame
        // between its rows, the far end of a label.
        const QImage shot = f1.grab().toImage();
        const QPoint label = child<QWidget>(f1, "Label5")->mapTo(&f1, QPoint(126, 2));
        // The style tints a frame's inside by a shade or two.
        const auto near = [](QColor a, QColor b) {
            return std::abs(a.red() - b.red()) <= 4 && std::abs(a.green() - b.green()) <= 4 &&
                   std::abs(a.blue() - b.blue()) <= 4;
        };
        for (const QPoint& p : {QPoint(4, 101), QPoint(14, 48), label})
            EXPECT_TRUE(near(QColor(shot.pixel(p)), expected))
                << skin << " at " << p.x() << "," << p.y() << ": "
                << QColor(shot.pixel(p)).name().toStdString();
        EXPECT_EQ(!f1.styleSheet().isEmpty(), skin);
        // The text boxes keep their own white.
        EXPECT_EQ(QColor(shot.pixel(child<QWidget>(f1, "Text1")->mapTo(&f1, QPoint(300, 12)))),
                  QColor(Qt::white));
        // The workspace gets the colours either way.
        Form2* f2 = app.loadedWorkspace();
        ASSERT_NE(f2, nullptr);
        EXPECT_EQ(f2->palette().color(QPalette::Window), face);
        EXPECT_EQ(child<QWidget>(*f2, "Frame3")->palette().color(QPalette::Window), face);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(StartWindowTest, PointerFollowsTheMouseUnlessBusy) {
    Application app;
    ASSERT_TRUE(app.start());
    Form1& f1 = app.startWindow();
    WindowPointer& pointer = f1.pointer();
    EXPECT_TRUE(pointer.hasCustomCursor());
    ulong time = 1000;
    auto move = [&](const char* name) {
        QWidget* w = child<QWidget>(f1, name);
        QMouseEvent e(QEvent::MouseMove, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
        e.setTimestamp(++time);
        QCoreApplication::sendEvent(w, &e);
    };
    const struct {
        const char* control;
        int before, after;
    } steps[] = {
        {"PushButton3", 0, 99}, {"Frame1", 99, 0}, {"PushButton6", 0, 99},  {"Text1", 99, 0},
        {"PushButton1", 0, 99}, {"Text2", 99, 0},  {"PushButton1", 11, 11}, {"Frame1", 11, 11},
    };
    for (const auto& s : steps) {
        pointer.set(s.before);
        move(s.control);
        EXPECT_EQ(pointer.value(), s.after) << s.control;
    }
    pointer.set(kPointerCustom);
    EXPECT_EQ(child<QWidget>(f1, "PushButton3")->cursor().shape(), Qt::BitmapCursor);
    pointer.set(kPointerBusy);
    EXPECT_EQ(child<QWidget>(f1, "Text1")->cursor().shape(), Qt::WaitCursor);
    pointer.set(kPointerDefault);
    // Back to the box's own I-beam.
    EXPECT_EQ(child<QWidget>(f1, "Text1")->cursor().shape(), Qt::IBeamCursor);
}

TEST_F(StartWindowTest, MissingCursorFileLeavesTheArrow) {
    TestWorld w;
    w.installFixedFiles(false, true, true);
    Application app;
    ASSERT_TRUE(app.start());
    EXPECT_FALSE(app.startWindow().pointer().hasCustomCursor());
    EXPECT_TRUE(w.dialogs->boxes.empty());
}

TEST_F(StartWindowTest, ControlsStandWhereTheDesignPutsThem) {
    world.writeSettings(database(), QString());
    Application app;
    ASSERT_TRUE(app.start());
    const struct {
        bool workspace;
        const char* name;
        QRect twips;
    } cases[] = {
        {false, "Frame1", {120, 120, 7800, 1335}},
        {false, "Text1", {2280, 300, 4695, 345}},
        {false, "Text2", {2280, 800, 5265, 345}},
        {false, "PushButton6", {7080, 300, 450, 345}},
        {false, "PushButton1", {120, 1580, 3840, 405}},
        {false, "PushButton3", {4080, 1580, 3840, 405}},
        {true, "PushButton4", {120, 120, 7800, 405}},
        {true, "List1", {240, 300, 3375, 1185}},
        {true, "Frame5", {120, 2340, 7800, 2745}},
        {true, "PushButton1", {240, 2160, 7320, 405}},
        {true, "DataGrid1", {240, 300, 7300, 1770}},
        {true, "Frame2", {120, 8010, 7800, 1935}},
        {true, "PushButton3", {3960, 1350, 3600, 405}},
    };
    for (const auto& c : cases) {
        QWidget& window = c.workspace ? static_cast<QWidget&>(*app.loadedWorkspace())
                                      : static_cast<QWidget&>(app.startWindow());
        const QRect px(qRound(c.twips.x() / 15.0), qRound(c.twips.y() / 15.0),
                       qRound(c.twips.width() / 15.0), qRound(c.twips.height() / 15.0));
        EXPECT_EQ(child<QWidget>(window, c.name)->geometry(), px) << c.name;
    }
    EXPECT_EQ(app.startWindow().size(), QSize(536, 140));
    EXPECT_EQ(app.loadedWorkspace()->size(), QSize(536, 671));
    EXPECT_EQ(child<QPushButton>(app.startWindow(), "PushButton3")->font().pointSizeF(), 11.25);
    EXPECT_TRUE(child<QLabel>(app.startWindow(), "Label5")->font().bold());
}

}  // namespace
}  // namespace tab::gui
