// tabulary [FILE]: open an Access database, browse its tables and fields, run
// SQL. FILE, as a file manager's "Open With" hands it over, is opened in
// place of the remembered database.
#include <QApplication>
#include <QFile>
#include <cstdio>

#include "app/application.h"
#include "app/failure.h"
#include "app/product.h"
#include "app/services.h"
#include "app/settings_store.h"
#include "export/spreadsheet_application.h"

int main(int argc, char** argv) {
    // Checked before Qt starts, so that a refusal needs no display.
    if (argc > 2 || (argc == 2 && (argv[1][0] == '-' || argv[1][0] == '\0'))) {
        if (argc > 2)
            std::fprintf(stderr, "tabulary: one database file at most, not %d arguments\n",
                         argc - 1);
        else if (argv[1][0] == '\0')
            std::fprintf(stderr, "tabulary: the file name is empty\n");
        else
            std::fprintf(stderr, "tabulary: unknown option %s\n", argv[1]);
        std::fprintf(stderr, "usage: tabulary [FILE]\n");
        return 2;
    }
    const QString file = argc == 2 ? QFile::decodeName(argv[1]) : QString();

    QApplication qapp(argc, argv);
    QApplication::setApplicationName(tab::gui::kProductTitle);
    QApplication::setDesktopFileName(QStringLiteral("tabulary"));
    tab::gui::Application app;
    tab::gui::removeStaleWorkbooks();  // left by exports of earlier runs
    const int code = app.start(file) ? QApplication::exec() : 0;
    // The start window syncs the settings as it closes; this covers an end
    // that closed no window.
    try {
        tab::gui::SyncSettings();
    } catch (const tab::gui::Failure& f) {
        std::fprintf(stderr, "tabulary: %s\n", f.what());
    }
    return code;
}
