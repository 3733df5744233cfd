#include "app/services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTime>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <random>

#include <unistd.h>

#include "app/failure.h"
#include "app/product.h"
#include "export/spreadsheet_program.h"
#include "printing/text_printer.h"
#include "tabulary/ado/connection.h"

namespace tab::gui {

namespace {

class DesktopBrowser : public Browser {
public:
    void open(const QString& address) override { QDesktopServices::openUrl(QUrl(address)); }
};

class TimeSeededRandom : public RandomSource {
public:
    void seedFromTimeOfDay() override {
        m_engine.seed(static_cast<unsigned>(QTime::currentTime().msecsSinceStartOfDay()));
    }
    double uniform() override { return std::uniform_real_distribution<double>(0.0, 1.0)(m_engine); }

private:
    std::mt19937 m_engine;
};

class EngineConnections : public ConnectionFactory {
public:
    std::unique_ptr<ado::Connection> create(CreationFailure&) override {
        return std::make_unique<ado::Connection>();
    }
};

// What Qt's print support sees, then the built-in PDF printer.
class SystemPrinters : public PrinterList {
public:
    QStringList names() override {
        QStringList names = QPrinterInfo::availablePrinterNames();
        if (!names.contains(kPdfPrinterName)) names << kPdfPrinterName;
        return names;
    }
    QString systemDefault() override { return QPrinterInfo::defaultPrinterName(); }
    void printDocument(const QString& printer, const QByteArray& tabSeparated) override {
        QPrinter device(QPrinterInfo::printerInfo(printer), QPrinter::HighResolution);
        if (!device.isValid()) throw Failure(printer + QStringLiteral(" is not available."));
        device.setDocName(kProductTitle);
        QString error;
        if (!printing::printTable(printing::parseTabSeparated(tabSeparated), device, error))
            throw Failure(error);
    }
};

}  // namespace

Services::Services()
    : m_dialogs(std::make_unique<QtDialogs>()),
      m_browser(std::make_unique<DesktopBrowser>()),
      m_random(std::make_unique<TimeSeededRandom>()),
      m_connections(std::make_unique<EngineConnections>()),
      m_printers(std::make_unique<SystemPrinters>()),
      m_spreadsheets(makeDesktopSpreadsheetProgram()),
      m_gridBudget(defaultGridBudget()) {}

size_t Services::defaultGridBudget() {
    constexpr size_t kCeiling = size_t{2} << 30;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return kCeiling;
    return std::min(kCeiling, static_cast<size_t>(pages) / 4 * static_cast<size_t>(pageSize));
}

Services::~Services() = default;

void Services::endProgram() {
    if (m_ended) return;
    m_ended = true;
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
    // Outside a running loop exit() does nothing; main() checks the flag.
    QCoreApplication::exit(0);
}

Services& services() {
    static Services s;
    return s;
}

void letPendingMessagesRun() {
    QCoreApplication::processEvents();
}

}  // namespace tab::gui
