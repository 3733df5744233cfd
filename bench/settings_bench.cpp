// Typing a long path into the start window's "MDB or ACCDB File:" box, key
// by key through the real Form1 on the offscreen platform. Every keystroke
// stores the setting; timed twice in the same run: with a sync after every
// keystroke, the way the program used to write (it synced the file; this
// syncs the file and its folder), and with the one sync when the value
// settles (the box loses the focus). Prints each run, the medians and the
// fsync calls the process made.
//
//   settings_bench [--chars N] [--runs N] [--dir FOLDER]
//     --chars  characters typed, default 200
//     --runs   runs of each way, default 3, after one warm-up run each
//     --dir    folder for the settings file, default: a new folder in the
//              current one (fsync costs nothing on tmpfs; point it at the
//              disk whose cost you want)
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/app_paths.h"
#include "app/application.h"
#include "app/services.h"
#include "app/settings_store.h"
#include "app/start_window.h"
#include "window_bench_support.h"

namespace {

long long g_fsyncCalls = 0;

}  // namespace

// Every fsync and fdatasync of this program passes here, whoever calls it,
// so the count is the disk syncs really made.
extern "C" int fsync(int fd) {
    ++g_fsyncCalls;
    return static_cast<int>(::syscall(SYS_fsync, fd));
}
extern "C" int fdatasync(int fd) {
    ++g_fsyncCalls;
    return static_cast<int>(::syscall(SYS_fdatasync, fd));
}

using namespace tab::gui;
using tab::bench::median;
using tab::bench::PrintingDialogs;

namespace {

// The start-up's once-in-a-hundred visit to the maker's site never comes.
class NoBrowser : public Browser {
public:
    void open(const QString&) override {}
};
class FixedRandom : public RandomSource {
public:
    void seedFromTimeOfDay() override {}
    double uniform() override { return 0.5; }
};

const char* fileSystemName(const QString& folder) {
    struct statfs info {};
    if (::statfs(QFile::encodeName(folder).constData(), &info) != 0) return "unknown";
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0xEF53:
            return "ext2/3/4";
        case 0x01021994:
            return "tmpfs";
        case 0x58465342:
            return "xfs";
        case 0x9123683E:
            return "btrfs";
        case 0x794C7630:
            return "overlayfs";
        case 0x6969:
            return "nfs";
        case 0xFF534D42:
            return "cifs";
        case 0x65735546:
            return "fuse";
        case 0x2FC12FC1:
            return "zfs";
        case 0x01021997:
            return "9p";
        default:
            return "other";
    }
}

struct Run {
    double typingMs = 0;        // all keystrokes, each with its store (and sync)
    double settleMs = 0;        // focus leaving the box, with its sync
    std::vector<double> keyMs;  // each keystroke
    long long fsyncs = 0;
    long long storeSyncs = 0;
};

// One run in a fresh settings folder: the window starts, the box gets the
// focus, `text` is typed key by key, then Tab moves the focus on.
bool typeOnce(const QString& folder, const QString& text, bool syncEachKey, Run& run) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder));
    Application app;
    if (!app.start()) return false;
    Form1& form1 = app.startWindow();
    form1.activateWindow();
    if (!QTest::qWaitForWindowActive(&form1)) {
        std::fprintf(stderr, "settings_bench: the start window does not become active\n");
        return false;
    }
    auto* box = form1.findChild<QLineEdit*>(QStringLiteral("Text1"));
    box->setFocus();
    QCoreApplication::processEvents();
    if (!box->hasFocus()) {
        std::fprintf(stderr, "settings_bench: the box does not get the focus\n");
        return false;
    }

    const long long fsyncsBefore = g_fsyncCalls;
    const long long syncsBefore = settingsSyncCounts().syncs;
    QElapsedTimer total;
    total.start();
    QElapsedTimer key;
    for (const QChar c : text) {
        key.start();
        QTest::keyClicks(box, QString(c));
        if (syncEachKey) SyncSettings();
        run.keyMs.push_back(key.nsecsElapsed() / 1e6);
    }
    run.typingMs = total.nsecsElapsed() / 1e6;
    key.start();
    QTest::keyClick(box, Qt::Key_Tab);
    run.settleMs = key.nsecsElapsed() / 1e6;
    run.fsyncs = g_fsyncCalls - fsyncsBefore;
    run.storeSyncs = settingsSyncCounts().syncs - syncsBefore;

    const bool stored = box->text() == text &&
                        ReadSetting(QStringLiteral("Database"), QString()) == text &&
                        !box->hasFocus();
    if (!stored) std::fprintf(stderr, "settings_bench: the typed path was not stored\n");
    services().endProgram();
    services().resetEnded();
    return stored;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    int chars = 200;
    int runs = 3;
    QString dir;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QStringLiteral("--chars") && hasValue)
            chars = std::max(1, args[++i].toInt());
        else if (args[i] == QStringLiteral("--runs") && hasValue)
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QStringLiteral("--dir") && hasValue)
            dir = args[++i];
        else {
            std::fprintf(stderr, "usage: settings_bench [--chars N] [--runs N] [--dir FOLDER]\n");
            return 2;
        }
    }
    if (dir.isEmpty()) dir = QDir::currentPath();
    QTemporaryDir root(QDir(dir).absoluteFilePath(QStringLiteral("settings-bench-XXXXXX")));
    if (!root.isValid()) {
        std::fprintf(stderr, "settings_bench: cannot make a folder in %s\n", qPrintable(dir));
        return 2;
    }
    // A private home: history and state stay out of the user's too.
    qputenv("HOME", QFile::encodeName(root.path()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(root.filePath(QStringLiteral("state"))));
    qputenv("TEMP", QFile::encodeName(root.path()));
    auto dialogs = std::make_unique<PrintingDialogs>();
    PrintingDialogs* seen = dialogs.get();
    services().setDialogs(std::move(dialogs));
    services().setBrowser(std::make_unique<NoBrowser>());
    services().setRandom(std::make_unique<FixedRandom>());

    QString text = QStringLiteral("/home/user/Documents/Access databases/Quarterly reports/");
    while (text.size() < chars) text += QStringLiteral("Region %1 sales.accdb/").arg(text.size());
    text.truncate(chars);

    std::printf(
        "settings file on %s (%s); %d characters typed into Text1, %d runs each after a "
        "warm-up\n\n",
        qPrintable(root.path()), fileSystemName(root.path()), chars, runs);
    struct Way {
        const char* name;
        bool syncEachKey;
        std::vector<Run> runs;
    };
    Way ways[] = {{"before: sync (file and folder) after every keystroke", true, {}},
                  {"after:  sync once, when the box loses the focus", false, {}}};
    for (Way& way : ways) {
        for (int r = 0; r <= runs; ++r) {
            Run run;
            const QString folder = root.filePath(
                QStringLiteral("config-%1-%2").arg(way.syncEachKey ? "each" : "once").arg(r));
            if (!typeOnce(folder, text, way.syncEachKey, run) || seen->boxes) return 1;
            std::printf(
                "%s, run %d%s: typing %.1f ms (%.3f ms a keystroke, max %.3f), then "
                "focus out %.3f ms; fsync calls %lld, syncs %lld\n",
                way.name, r, r == 0 ? " (warm-up)" : "", run.typingMs, run.typingMs / chars,
                *std::max_element(run.keyMs.begin(), run.keyMs.end()), run.settleMs, run.fsyncs,
                run.storeSyncs);
            if (r > 0) way.runs.push_back(std::move(run));
        }
        std::printf("\n");
    }

    std::printf("medians of %d runs, %d keystrokes:\n", runs, chars);
    double totals[2] = {};
    for (int w = 0; w < 2; ++w) {
        std::vector<double> total, perKey, fsyncs;
        for (const Run& run : ways[w].runs) {
            total.push_back(run.typingMs + run.settleMs);
            perKey.push_back(median(run.keyMs));
            fsyncs.push_back(static_cast<double>(run.fsyncs));
        }
        totals[w] = median(total);
        std::printf(
            "  %-54s total %9.1f ms  per keystroke %.3f ms (median key %.3f ms)  "
            "fsync calls %.0f\n",
            ways[w].name, totals[w], totals[w] / chars, median(perKey), median(fsyncs));
    }
    if (totals[1] > 0) std::printf("  before / after: %.1f x\n", totals[0] / totals[1]);
    return 0;
}
