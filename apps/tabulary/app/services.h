// The program's ties to the world outside its windows, replaceable as a
// whole by tests: dialogs, the browser, the random draw, the database engine
// factory, the printers, and ending the program.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "app/dialogs.h"

namespace tab::ado {
class Connection;
}

namespace tab::gui {

class GuardHooks;

// Opening a web address in the user's browser, not waited for.
class Browser {
public:
    virtual ~Browser() = default;
    virtual void open(const QString& address) = 0;
};

// The whole numbers of the once-in-a-hundred draw.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void seedFromTimeOfDay() = 0;
    virtual double uniform() = 0;  // in [0, 1)
};

// Creates the engine's connection objects; a failure carries the number and
// description a provider would give.
struct CreationFailure {
    long number = 0;
    QString description;
};
class ConnectionFactory {
public:
    virtual ~ConnectionFactory() = default;
    // Null with `failure` filled when the object cannot be made.
    virtual std::unique_ptr<ado::Connection> create(CreationFailure& failure) = 0;
};

// The installed printers, in the system's order, and printing on one of
// the system's own (the PDF printer is the program's and needs none).
class PrinterList {
public:
    virtual ~PrinterList() = default;
    virtual QStringList names() = 0;
    // The system's default printer; "" when it has none.
    virtual QString systemDefault() = 0;
    // Prints the text printer's table of a tab-separated document on
    // `printer`; throws Failure when it cannot.
    virtual void printDocument(const QString& printer, const QByteArray& tabSeparated) = 0;

    // The program's default printer, a setting of this run only (the
    // user's own printer configuration is never changed); unset until the
    // program first asks for it.
    std::optional<QString> programDefault;
};

// The programs a workbook is handed to: LibreOffice Calc, which shows it as
// a new, untitled document, else the desktop's program for .xlsx files,
// which opens the file itself.
class SpreadsheetProgram {
public:
    virtual ~SpreadsheetProgram() = default;
    virtual bool calcInstalled() = 0;
    // Started, not waited for; false with `error` filled when it cannot be.
    virtual bool openAsNew(const QString& workbookPath, QString& error) = 0;
    virtual bool desktopProgramInstalled() = 0;
    virtual bool openInDesktopProgram(const QString& workbookPath, QString& error) = 0;
};

class Services {
public:
    Services();  // the real ones
    ~Services();

    Dialogs& dialogs() { return *m_dialogs; }
    Browser& browser() { return *m_browser; }
    RandomSource& random() { return *m_random; }
    ConnectionFactory& connections() { return *m_connections; }
    PrinterList& printers() { return *m_printers; }
    SpreadsheetProgram& spreadsheets() { return *m_spreadsheets; }
    GuardHooks* guardHooks() { return m_guardHooks; }

    void setDialogs(std::unique_ptr<Dialogs> d) { m_dialogs = std::move(d); }
    void setBrowser(std::unique_ptr<Browser> b) { m_browser = std::move(b); }
    void setRandom(std::unique_ptr<RandomSource> r) { m_random = std::move(r); }
    void setConnections(std::unique_ptr<ConnectionFactory> f) { m_connections = std::move(f); }
    void setPrinters(std::unique_ptr<PrinterList> p) { m_printers = std::move(p); }
    void setSpreadsheets(std::unique_ptr<SpreadsheetProgram> s) { m_spreadsheets = std::move(s); }
    void setGuardHooks(GuardHooks* hooks) { m_guardHooks = hooks; }

    // The most the results grid holds, in bytes: the smaller of 2 GiB and a
    // quarter of the machine's memory. Tests and benchmarks change it.
    size_t gridBudget() const { return m_gridBudget; }
    void setGridBudget(size_t bytes) { m_gridBudget = bytes; }
    static size_t defaultGridBudget();

    // Ending the program at once: every window closes and the event loop
    // ends, or does not start when it has not yet. Idempotent.
    void endProgram();
    bool programEnded() const { return m_ended; }
    void resetEnded() { m_ended = false; }

private:
    std::unique_ptr<Dialogs> m_dialogs;
    std::unique_ptr<Browser> m_browser;
    std::unique_ptr<RandomSource> m_random;
    std::unique_ptr<ConnectionFactory> m_connections;
    std::unique_ptr<PrinterList> m_printers;
    std::unique_ptr<SpreadsheetProgram> m_spreadsheets;
    GuardHooks* m_guardHooks = nullptr;
    size_t m_gridBudget;
    bool m_ended = false;
};

// The one set of services of the process.
Services& services();

// "Let pending window messages run once".
void letPendingMessagesRun();

}  // namespace tab::gui
