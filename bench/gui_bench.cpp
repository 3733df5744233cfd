// The workspace window at work on a million rows, driven through its named
// controls on the offscreen platform: listing the fields of the big table,
// executing SELECT * until the grid shows its first rows and the count,
// scrolling to the last row and painting it, and handing the result on
// through the "Save Results As" commands (TXT, CSV, XML and XLS of the
// million rows, PDF of the first 10,000). Prints the median of the runs and
// PASS/MISS against the targets, the memory the result holds and the peak
// memory each document adds.
//
//   gui_bench DATABASE [RUNS] [--exports txt,csv,xml,xls,pdf]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "app/app_paths.h"
#include "app/application.h"
#include "app/services.h"
#include "app/start_window.h"
#include "workspace/query_box.h"
#include "workspace/results_grid.h"
#include "workspace/workspace_window.h"

#include "window_bench_support.h"

using namespace tab::gui;
using tab::bench::median;
using tab::bench::memoryOf;
using tab::bench::PrintingDialogs;
using tab::bench::resetPeak;

namespace {

// Takes the workbook as the spreadsheet program would, without starting one.
class HandedWorkbooks : public SpreadsheetProgram {
public:
    qint64 bytes = 0;
    bool calcInstalled() override { return true; }
    bool openAsNew(const QString& path, QString&) override {
        bytes = QFileInfo(path).size();
        QFile::remove(path);
        return true;
    }
    bool desktopProgramInstalled() override { return false; }
    bool openInDesktopProgram(const QString&, QString& error) override {
        error = QStringLiteral("not used");
        return false;
    }
};

void report(const char* what, const std::vector<double>& ms, double target) {
    const double m = median(ms);
    std::printf("%-52s median %9.1f ms (min %.1f, max %.1f, %zu runs)  target < %.0f ms  %s\n",
                what, m, *std::min_element(ms.begin(), ms.end()),
                *std::max_element(ms.begin(), ms.end()), ms.size(), target,
                m < target ? "PASS" : "MISS");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QStringList positional;
    QString only = "txt,csv,xml,xls,pdf";
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--exports" && i + 1 < args.size())
            only = args[++i];
        else
            positional << args[i];
    }
    if (positional.isEmpty()) {
        std::fprintf(stderr, "usage: gui_bench DATABASE [RUNS] [--exports txt,csv,xml,xls,pdf]\n");
        return 2;
    }
    const QStringList wanted = only.split(',', Qt::SkipEmptyParts);
    const QString database = QFileInfo(positional[0]).absoluteFilePath();
    const int runs = positional.size() > 1 ? std::max(1, positional[1].toInt()) : 3;
    if (!QFile::exists(database)) {
        std::fprintf(stderr, "gui_bench: %s not found\n", qPrintable(database));
        return 2;
    }

    // A private home: settings, history and state stay out of the user's.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_STATE_HOME", (home.path() + "/state").toUtf8());
    qputenv("TEMP", home.path().toUtf8());
    auto dialogs = std::make_unique<PrintingDialogs>();
    PrintingDialogs* seen = dialogs.get();
    services().setDialogs(std::move(dialogs));
    auto workbooks = std::make_unique<HandedWorkbooks>();
    HandedWorkbooks* handed = workbooks.get();
    services().setSpreadsheets(std::move(workbooks));
    struct Export {
        const char* name;
        const char* what;
        void (Form2::*command)();
        double target;  // ms per million rows (PDF: in all)
        std::vector<double> ms;
        qint64 bytes = 0;
        double addedPeak = 0;
    };
    std::vector<Export> exports;
    for (Export e :
         {Export{"txt", "Save Results As TXT, every row", &Form2::mnuTXT_Click, 3000, {}},
          Export{"csv", "Save Results As CSV, every row", &Form2::mnuCSV_Click, 2000, {}},
          Export{"xml", "Save Results As XML, every row", &Form2::mnuXML_Click, 3000, {}},
          Export{"xls", "Save Results As XLS, every row", &Form2::mnuXLS_Click, 30000, {}},
          Export{"pdf", "Save Results As PDF, first 10,000 rows", &Form2::mnuPDF_Click, 10000, {}}})
        if (wanted.contains(e.name)) exports.push_back(e);

    std::vector<double> listing, execute, scroll;
    double held = 0, rows = 0;
    int fieldCount = 0;
    for (int run = 0; run <= runs; ++run) {  // run 0 warms the page cache
        Application app;
        if (!app.start()) return 1;
        // Open the database the way the user does.
        QWidget& form1 = app.startWindow();
        form1.findChild<QLineEdit*>("Text1")->setText(database);
        form1.findChild<QPushButton*>("PushButton3")->click();
        Form2* f2 = app.loadedWorkspace();
        if (!f2) return 1;
        auto* list1 = f2->findChild<QListWidget*>("List1");
        const auto big = list1->findItems("Big", Qt::MatchExactly);
        if (big.isEmpty()) {
            std::fprintf(stderr, "gui_bench: no table Big\n");
            return 1;
        }
        // Another table first, so that selecting Big lists its fields.
        list1->setCurrentRow(big.first() == list1->item(0) ? 1 : 0);
        QCoreApplication::processEvents();

        QElapsedTimer t;
        t.start();
        list1->setCurrentItem(big.first());
        const double listed = t.nsecsElapsed() / 1e6;
        const int fields = f2->findChild<QListWidget*>("List2")->count();

        f2->findChild<QueryBox*>("Text1")->setText("SELECT * FROM Big");
        ResultsGrid& grid = f2->grid();
        t.restart();
        f2->findChild<QPushButton*>("PushButton1")->click();
        grid.viewport()->repaint();  // the first rows on screen
        const double executed = t.nsecsElapsed() / 1e6;
        const QString caption = f2->findChild<QGroupBox*>("Frame1")->title();

        t.restart();
        grid.scrollToBottom();
        grid.viewport()->repaint();
        const double scrolled = t.nsecsElapsed() / 1e6;
        held = static_cast<double>(grid.heldBytes());
        const int lastShown = grid.rowAt(grid.viewport()->height() - 2);

        std::printf(
            "run %d%s: fields %d in %.1f ms; \"%s\", %lld rows in %.1f ms; last row %d shown "
            "(\"%s\") in %.1f ms\n",
            run, run == 0 ? " (warm-up)" : "", fields, listed, qPrintable(caption),
            static_cast<long long>(grid.rowCount()), executed, lastShown + 1,
            qPrintable(grid.cellText(grid.rowCount() - 1, 0)), scrolled);
        if (seen->boxes) return 1;
        // The documents, after the warm-up only: each writes the whole result.
        for (Export& e : run > 0 ? std::span<Export>(exports) : std::span<Export>()) {
            const QString out = home.path() + QStringLiteral("/result");
            seen->saveAnswer = out;
            if (e.command == &Form2::mnuPDF_Click) {
                f2->findChild<QueryBox*>("Text1")->setText(
                    "SELECT TOP 10000 * FROM Big ORDER BY ID");
                f2->findChild<QPushButton*>("PushButton1")->click();
            }
            resetPeak();
            const double before = memoryOf("VmRSS:");
            t.restart();
            (f2->*e.command)();
            e.ms.push_back(t.nsecsElapsed() / 1e6);
            e.addedPeak = std::max(e.addedPeak, memoryOf("VmHWM:") - before);
            e.bytes = e.command == &Form2::mnuXLS_Click ? handed->bytes : QFileInfo(out).size();
            QFile::remove(out);
            if (seen->boxes) return 1;
        }
        rows = static_cast<double>(grid.rowCount());
        fieldCount = grid.columnCount();
        if (run > 0) {
            listing.push_back(listed);
            execute.push_back(executed);
            scroll.push_back(scrolled);
        }
        f2->close();  // ends this run's program
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        services().resetEnded();
    }
    std::printf("\n");
    report("field listing of Big (List1 click)", listing, 50);
    report("Execute SELECT * FROM Big: first rows and count shown", execute, 700);
    std::printf("%-52s %.1f MB (%.1f bytes a value)\n", "rows held by the result", held / 1e6,
                held / std::max(1.0, rows * static_cast<double>(fieldCount)));
    report("scroll to the last row and paint it", scroll, 100);
    for (const Export& e : exports) {
        const bool perMillion = e.command != &Form2::mnuPDF_Click;
        report(e.what, e.ms, perMillion ? e.target * std::max(1.0, rows / 1e6) : e.target);
        std::printf("%52s %.1f MB written, peak memory %+.1f MB while writing\n", "",
                    static_cast<double>(e.bytes) / 1e6, e.addedPeak / 1e6);
    }
    return 0;
}
