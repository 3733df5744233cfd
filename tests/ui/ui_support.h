// What the window tests put in place of the world: scripted dialogs that
// record every box, a browser and a random draw that only record, an engine
// factory that can fail, a printer list, guard hooks that trace and inject
// failures, and a private home with its own XDG folders and TEMP.
#pragma once

#include <gtest/gtest.h>
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QPoint>
#include <QStringList>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/procedure_error.h"
#include "app/services.h"

// Readable strings in test failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace tab::gui::testing {

struct RecordedBox {
    MessageBox box;
};

class ScriptedDialogs : public Dialogs {
public:
    std::vector<MessageBox> boxes;
    std::vector<FileDialog> fileDialogs;
    std::deque<BoxAnswer> answers;  // for Yes/No boxes; default No
    std::deque<QString> files;      // for file dialogs; default cancelled
    bool fileDialogsShown = true;   // false: none can be shown
    std::function<void(const MessageBox&)> onMessage;
    // Popup menus shown: their items' texts and where.
    struct ShownMenu {
        QStringList items;
        QPoint at;
    };
    std::vector<ShownMenu> menus;
    std::deque<QString> menuChoices;  // an item's text; default dismissed

    BoxAnswer message(const MessageBox& box) override;
    QString openFile(const FileDialog& dialog) override;
    QString saveFile(const FileDialog& dialog) override;
    bool canShowFileDialogs() override { return fileDialogsShown; }
    QAction* popupMenu(QMenu& menu, const QPoint& at) override;

    // The texts of the "Application Error" boxes, in order.
    QStringList errorTexts() const;
};

class RecordingBrowser : public Browser {
public:
    QStringList opened;
    void open(const QString& address) override { opened << address; }
};

class FixedRandom : public RandomSource {
public:
    double value = 0.5;  // draws 51
    int seeded = 0;
    void seedFromTimeOfDay() override { ++seeded; }
    double uniform() override { return value; }
};

class FailingConnections : public ConnectionFactory {
public:
    std::optional<CreationFailure> failure;  // none: connections are made
    int created = 0;
    std::unique_ptr<ado::Connection> create(CreationFailure& out) override;
};

class FixedPrinters : public PrinterList {
public:
    QStringList list;
    bool fail = false;  // names() fails
    QString system = QStringLiteral("Office Laser");
    bool failDefault = false;  // systemDefault() fails
    // What went to a system printer, recorded instead of printed.
    std::vector<std::pair<QString, QByteArray>> printed;
    bool failPrint = false;
    QStringList names() override;
    QString systemDefault() override;
    void printDocument(const QString& printer, const QByteArray& tabSeparated) override;
};

// Stands in for the spreadsheet programs: records every workbook handed to
// one and copies it at once, as the work file may go when the command ends.
class RecordingSpreadsheets : public SpreadsheetProgram {
public:
    bool calc = true;                    // LibreOffice Calc is installed
    bool desktop = false;                // the desktop has a program for .xlsx
    std::optional<QString> openFailure;  // opening fails with this text
    int queries = 0;                     // calls of calcInstalled()
    QStringList opened;                  // as new documents in Calc
    QStringList openedInDesktop;         // by the desktop's program
    QStringList copies;  // in copyFolder, "opened-N.xlsx" for the Nth workbook opened
    QString copyFolder;
    bool calcInstalled() override {
        ++queries;
        return calc;
    }
    bool openAsNew(const QString& workbookPath, QString& error) override;
    bool desktopProgramInstalled() override { return desktop; }
    bool openInDesktopProgram(const QString& workbookPath, QString& error) override;

private:
    bool open(QStringList& list, const QString& workbookPath, QString& error);
};

// Traces every numbered statement and fails the one chosen.
class TracingHooks : public GuardHooks {
public:
    struct Step {
        QString procedure;
        int line;
    };
    std::vector<Step> steps;
    QString failProcedure;
    int failOrdinal = -1;
    QString failDescription = QStringLiteral("Injected failure");

    std::function<void(const QString& procedure, int line)> onStarted;

    void started(const QString& procedure, int line) override {
        steps.push_back({procedure, line});
        if (onStarted) onStarted(procedure, line);
    }
    std::optional<QString> injectFailure(const QString& procedure, int line, int ordinal) override;

    // The lines started by one procedure, in order.
    std::vector<int> linesOf(const QString& procedure) const;
};

// A private world for one test: folders, environment and services.
class TestWorld {
public:
    TestWorld();
    ~TestWorld();

    QString home() const { return m_root.path() + QStringLiteral("/home"); }
    QString appFolder() const { return m_root.path() + QStringLiteral("/app"); }
    QString tempFolder() const { return m_root.path() + QStringLiteral("/temp"); }
    QString configFile() const { return home() + QStringLiteral("/config/Quillmoor.ini"); }
    QString path(const QString& name) const { return m_root.path() + u'/' + name; }

    // Copies the built program's fixed files (cursor, skin, sample) into appFolder().
    void installFixedFiles(bool cursor = true, bool skin = true, bool sample = true);
    // Writes the settings file directly.
    void writeSettings(const QString& database, const QString& password);
    QString settingsText() const;

    ScriptedDialogs* dialogs;
    RecordingBrowser* browser;
    FixedRandom* random;
    FailingConnections* connections;
    FixedPrinters* printers;
    RecordingSpreadsheets* spreadsheets;
    TracingHooks hooks;

private:
    QTemporaryDir m_root;
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_savedEnv;
};

// A named control of a window; the test fails when there is none.
template <class W>
W* child(QWidget& window, const char* name) {
    W* w = window.findChild<W*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

inline QStringList items(QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

// The History list's entries as shown: "ID text".
inline QStringList listedEntries(QTreeWidget* list) {
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(0) + u' ' + list->topLevelItem(i)->text(1);
    return out;
}

// Mouse events sent to the widget itself: the offscreen screen is smaller
// than the workspace, and events beyond its edge would not arrive.
void sendClick(QWidget* widget, QPoint at);
void sendDoubleClick(QWidget* widget, QPoint at);

}  // namespace tab::gui::testing

namespace tab::gui {
class Form2;
class Form3;
}  // namespace tab::gui

namespace tab::gui::testing {

// Presses "Insert Query From Template" and runs `act` inside the modal run of
// the Insert Template window; the window is closed afterwards if `act` left
// it open. False when the window never ran modally.
bool withTemplateWindow(Form2& workspace, const std::function<void(Form3&)>& act);

// Chooses item `index` of a combo box as a click in its list does.
void chooseItem(QComboBox* combo, int index);

// Writes a file, making its folder; fails the test on error.
void writeFile(const QString& path, const QByteArray& bytes);

// Writes a database from a create script (CREATE TABLE / INSERT), with an
// optional database password. Fails the test on error.
void writeDatabase(const QString& path, const std::string& script,
                   const std::string& password = {});

}  // namespace tab::gui::testing
