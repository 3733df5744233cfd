// The workspace window on a result far larger than memory (by default the
// join of big250k.mdb's Big with itself for a.ID <= 550, 137.5 million
// rows), driven offscreen as a person drives it: Execute, then Escape after
// a few seconds; then Execute again, left to run until the grid's budget
// cuts it. For each it prints the rows read, the longest stall of the
// event loop while the statement ran (a 1 ms timer's largest gap), the time
// from Escape (or the cut) to a quiet window, and the peak resident size.
//
//   huge_result_bench [DATABASE] [--sql TEXT] [--escape-after S] [--budget MB]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "app/application.h"
#include "app/services.h"
#include "app/start_window.h"
#include "workspace/query_box.h"
#include "workspace/results_grid.h"
#include "workspace/workspace_window.h"

#include "window_bench_support.h"

using namespace tab::gui;
using tab::bench::memoryOf;
using tab::bench::resetPeak;

namespace {

struct Figures {
    qint64 rows = 0;
    double runMs = 0;         // Execute pressed to the handler's end
    double longestStall = 0;  // ms
    double toQuietMs = 0;     // Escape (or the cut) to the handler's end
    double peakMb = 0;
};

// One Execute; Escape posted `escapeAfterMs` into the run (never when < 0).
Figures execute(Form2& f2, const QString& sql, double escapeAfterMs) {
    Figures out;
    f2.findChild<QueryBox*>("Text1")->setText(sql);
    QElapsedTimer clock, gap;
    double escapedAt = -1;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!f2.statementRunning()) return;
        if (gap.isValid()) out.longestStall = std::max(out.longestStall, gap.nsecsElapsed() / 1e6);
        gap.restart();
        if (escapeAfterMs >= 0 && escapedAt < 0 && clock.nsecsElapsed() / 1e6 >= escapeAfterMs) {
            escapedAt = clock.nsecsElapsed() / 1e6;
            QCoreApplication::postEvent(
                &f2, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        }
    });
    resetPeak();
    ticker.start();
    clock.start();
    f2.findChild<QPushButton*>("PushButton1")->click();
    QCoreApplication::processEvents();
    out.runMs = clock.nsecsElapsed() / 1e6;
    ticker.stop();
    out.rows = f2.grid().rowCount();
    out.peakMb = memoryOf("VmHWM:") / 1e6;
    out.toQuietMs = escapedAt >= 0 ? out.runMs - escapedAt : 0;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QString database, sql = "SELECT * FROM Big AS a, Big AS b WHERE a.ID <= 550";
    double escapeAfter = 3;
    size_t budget = services().gridBudget();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--sql" && i + 1 < args.size())
            sql = args[++i];
        else if (args[i] == "--escape-after" && i + 1 < args.size())
            escapeAfter = args[++i].toDouble();
        else if (args[i] == "--budget" && i + 1 < args.size())
            budget = static_cast<size_t>(args[++i].toDouble() * 1024 * 1024);
        else
            database = args[i];
    }
    if (database.isEmpty() || !QFile::exists(database)) {
        std::fprintf(stderr,
                     "usage: huge_result_bench DATABASE [--sql TEXT] [--escape-after S] "
                     "[--budget MB]\n");
        return 2;
    }
    database = QFileInfo(database).absoluteFilePath();
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_STATE_HOME", (home.path() + "/state").toUtf8());
    qputenv("TEMP", home.path().toUtf8());
    auto dialogs = std::make_unique<tab::bench::PrintingDialogs>();
    tab::bench::PrintingDialogs* seen = dialogs.get();
    services().setDialogs(std::move(dialogs));
    services().setGridBudget(budget);

    Application app;
    if (!app.start()) return 1;
    app.startWindow().findChild<QLineEdit*>("Text1")->setText(database);
    app.startWindow().findChild<QPushButton*>("PushButton3")->click();
    Form2* f2 = app.loadedWorkspace();
    if (!f2) return 1;
    std::printf("database %s\nstatement %s\ngrid budget %.0f MB (program default %.0f MB)\n\n",
                qPrintable(database), qPrintable(sql), static_cast<double>(budget) / (1 << 20),
                static_cast<double>(Services::defaultGridBudget()) / (1 << 20));
    const Figures stopped = execute(*f2, sql, escapeAfter * 1000);
    const int boxesAfterEscape = seen->boxes;
    const Figures cut = execute(*f2, sql, -1);
    const auto print = [](const char* what, const Figures& f) {
        std::printf("%-34s %12lld rows in %8.0f ms; longest event-loop stall %6.1f ms; ", what,
                    static_cast<long long>(f.rows), f.runMs, f.longestStall);
        if (f.toQuietMs > 0) std::printf("Escape to quiet window %6.1f ms; ", f.toQuietMs);
        std::printf("peak RSS %7.0f MB\n", f.peakMb);
    };
    print("Execute, Escape after the delay", stopped);
    print("Execute, run to the budget's cut", cut);
    // Each run ends with its one box: stopped, then cut.
    const bool ok = boxesAfterEscape == 1 && seen->boxes == 2;
    std::printf("\nboxes: %d (expected 2)  %s\n", seen->boxes, ok ? "PASS" : "MISS");
    f2->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ok ? 0 : 1;
}
