#include "ui_support.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/app_paths.h"
#include "app/failure.h"
#include "tabulary/ado/connection.h"
#include "tabulary/jet/writer.h"
#include "tabulary/script/create_script.h"
#include "templating/template_window.h"
#include "workspace/workspace_window.h"

namespace tab::gui::testing {

BoxAnswer ScriptedDialogs::message(const MessageBox& box) {
    boxes.push_back(box);
    if (onMessage) onMessage(box);
    if (box.buttons == BoxButtons::Ok) return BoxAnswer::Ok;
    if (answers.empty()) return BoxAnswer::No;
    const BoxAnswer a = answers.front();
    answers.pop_front();
    return a;
}

QString ScriptedDialogs::openFile(const FileDialog& dialog) {
    fileDialogs.push_back(dialog);
    if (files.empty()) return {};
    QString f = files.front();
    files.pop_front();
    return f;
}

QString ScriptedDialogs::saveFile(const FileDialog& dialog) {
    return openFile(dialog);
}

QAction* ScriptedDialogs::popupMenu(QMenu& menu, const QPoint& at) {
    ShownMenu shown{{}, at};
    for (QAction* action : menu.actions()) shown.items << action->text();
    menus.push_back(shown);
    if (menuChoices.empty()) return nullptr;
    const QString choice = menuChoices.front();
    menuChoices.pop_front();
    for (QAction* action : menu.actions()) {
        if (action->text() == choice) {
            action->trigger();
            return action;
        }
    }
    ADD_FAILURE() << "no menu item " << choice.toStdString();
    return nullptr;
}

QStringList ScriptedDialogs::errorTexts() const {
    QStringList texts;
    for (const MessageBox& b : boxes)
        if (b.title == QStringLiteral("Application Error")) texts << b.text;
    return texts;
}

std::unique_ptr<ado::Connection> FailingConnections::create(CreationFailure& out) {
    if (failure) {
        out = *failure;
        return nullptr;
    }
    ++created;
    return std::make_unique<ado::Connection>();
}

QStringList FixedPrinters::names() {
    if (fail) throw Failure(QStringLiteral("The printer list cannot be read."));
    return list;
}

QString FixedPrinters::systemDefault() {
    if (failDefault) throw Failure(QStringLiteral("The default printer cannot be read."), 1801);
    return system;
}

void FixedPrinters::printDocument(const QString& printer, const QByteArray& tabSeparated) {
    if (failPrint) throw Failure(printer + QStringLiteral(" is out of paper."));
    printed.emplace_back(printer, tabSeparated);
}

bool RecordingSpreadsheets::openAsNew(const QString& workbookPath, QString& error) {
    return open(opened, workbookPath, error);
}

bool RecordingSpreadsheets::openInDesktopProgram(const QString& workbookPath, QString& error) {
    return open(openedInDesktop, workbookPath, error);
}

bool RecordingSpreadsheets::open(QStringList& list, const QString& workbookPath, QString& error) {
    list << workbookPath;
    if (openFailure) {
        error = *openFailure;
        return false;
    }
    QDir().mkpath(copyFolder);
    const QString copy = copyFolder + QStringLiteral("/opened-") +
                         QString::number(copies.size() + 1) + QStringLiteral(".xlsx");
    EXPECT_TRUE(QFile::copy(workbookPath, copy)) << workbookPath.toStdString();
    copies << copy;
    return true;
}

std::optional<QString> TracingHooks::injectFailure(const QString& procedure, int, int ordinal) {
    if (procedure == failProcedure && ordinal == failOrdinal) return failDescription;
    return std::nullopt;
}

std::vector<int> TracingHooks::linesOf(const QString& procedure) const {
    std::vector<int> lines;
    for (const Step& s : steps)
        if (s.procedure == procedure) lines.push_back(s.line);
    return lines;
}

namespace {
const char* const kEnvironment[] = {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                                    "TEMP", "XDG_DATA_HOME",   "XDG_CACHE_HOME"};
}

TestWorld::TestWorld() {
    EXPECT_TRUE(m_root.isValid());
    for (const char* name : kEnvironment) {
        m_savedEnv.emplace_back(name, qEnvironmentVariableIsSet(name)
                                          ? std::optional<QByteArray>(qgetenv(name))
                                          : std::nullopt);
    }
    QDir().mkpath(home());
    QDir().mkpath(appFolder());
    QDir().mkpath(tempFolder());
    // A work folder is used only when nobody else may write to it, whatever
    // the umask left.
    QFile::setPermissions(tempFolder(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("HOME", home().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_STATE_HOME", (home() + QStringLiteral("/state")).toUtf8());
    qputenv("XDG_DATA_HOME", (home() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_CACHE_HOME", (home() + QStringLiteral("/cache")).toUtf8());
    qputenv("TEMP", tempFolder().toUtf8());
    setApplicationFolder(appFolder());

    Services& s = services();
    s.resetEnded();
    auto d = std::make_unique<ScriptedDialogs>();
    dialogs = d.get();
    s.setDialogs(std::move(d));
    auto b = std::make_unique<RecordingBrowser>();
    browser = b.get();
    s.setBrowser(std::move(b));
    auto r = std::make_unique<FixedRandom>();
    random = r.get();
    s.setRandom(std::move(r));
    auto c = std::make_unique<FailingConnections>();
    connections = c.get();
    s.setConnections(std::move(c));
    auto p = std::make_unique<FixedPrinters>();
    p->list = {QStringLiteral("Office Laser"), QStringLiteral("Quillmoor PDF Writer")};
    printers = p.get();
    s.setPrinters(std::move(p));
    auto sp = std::make_unique<RecordingSpreadsheets>();
    sp->copyFolder = m_root.path() + QStringLiteral("/opened");
    spreadsheets = sp.get();
    s.setSpreadsheets(std::move(sp));
    s.setGuardHooks(&hooks);
}

TestWorld::~TestWorld() {
    services().setGuardHooks(nullptr);
    if (services().programEnded()) {
        // Ending the program outside a running loop leaves Qt's "quit now"
        // set, and every later modal dialog would return at once; a main
        // loop's own run clears it.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    services().resetEnded();
    for (const auto& [name, value] : m_savedEnv) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

void TestWorld::installFixedFiles(bool cursor, bool skin, bool sample) {
    const QString built = QStringLiteral(TABULARY_APP_BUILD_DIR);
    if (cursor) {
        ASSERT_TRUE(QFile::copy(built + QStringLiteral("/HAND-M.CUR"),
                                appFolder() + QStringLiteral("/HAND-M.CUR")));
    }
    if (skin) {
        QDir().mkpath(appFolder() + QStringLiteral("/x"));
        ASSERT_TRUE(QFile::copy(built + QStringLiteral("/x/o.cjs"),
                                appFolder() + QStringLiteral("/x/o.cjs")));
    }
    if (sample) {
        QDir().mkpath(appFolder() + QStringLiteral("/Samples"));
        ASSERT_TRUE(QFile::copy(built + QStringLiteral("/Samples/sample.mdb"),
                                appFolder() + QStringLiteral("/Samples/sample.mdb")));
    }
}

void TestWorld::writeSettings(const QString& database, const QString& password) {
    QDir().mkpath(home() + QStringLiteral("/config"));
    QFile f(configFile());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        QStringLiteral("[Tabulary]\nDatabase=%1\nPassword=%2\n").arg(database, password).toUtf8());
}

QString TestWorld::settingsText() const {
    QFile f(configFile());
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

namespace {
void sendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::LeftButton, buttons,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}
}  // namespace

void sendClick(QWidget* w, QPoint at) {
    sendMouse(w, QEvent::MouseButtonPress, at, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

void sendDoubleClick(QWidget* w, QPoint at) {
    sendClick(w, at);
    sendMouse(w, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

bool withTemplateWindow(Form2& workspace, const std::function<void(Form3&)>& act) {
    bool ran = false;
    // A timer of this scope: it cannot fire after the function has returned.
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &workspace, [&] {
        Form3* form3 = workspace.templateWindow();
        if (!form3 || !form3->isVisible()) return;
        ran = true;
        act(*form3);
        form3 = workspace.templateWindow();
        if (form3 && form3->isVisible()) form3->unloadWindow();
    });
    timer.start(0);
    QTest::mouseClick(workspace.findChild<QPushButton*>(QStringLiteral("PushButton7")),
                      Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ran;
}

void chooseItem(QComboBox* combo, int index) {
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path())) << path.toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

void writeDatabase(const QString& path, const std::string& script, const std::string& password) {
    jet::CreateOptions options;
    options.password = password;
    options.durable = false;
    if (path.endsWith(QStringLiteral(".accdb"), Qt::CaseInsensitive))
        options.format = jet::FileFormat::Ace12;
    auto writer = jet::DatabaseWriter::create(path.toStdString(), options);
    ASSERT_TRUE(writer.ok()) << writer.error().message();
    auto stats = script::runCreateScript(**writer, script);
    ASSERT_TRUE(stats.ok()) << stats.error().message();
    const Status done = (*writer)->finish();
    ASSERT_TRUE(done.ok()) << done.error().message();
}

}  // namespace tab::gui::testing
