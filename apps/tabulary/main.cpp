// tabulary: open an Access database, browse its tables and fields, run SQL.
#include <QApplication>
#include <cstdio>

#include "app/application.h"
#include "app/failure.h"
#include "app/product.h"
#include "app/services.h"
#include "app/settings_store.h"
#include "export/spreadsheet_application.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(tab::gui::kProductTitle);
    QApplication::setDesktopFileName(QStringLiteral("tabulary"));
    tab::gui::Application app;
    tab::gui::removeStaleWorkbooks();  // left by exports of earlier runs
    const int code = app.start() ? QApplication::exec() : 0;
    // The start window syncs the settings as it closes; this covers an end
    // that closed no window.
    try {
        tab::gui::SyncSettings();
    } catch (const tab::gui::Failure& f) {
        std::fprintf(stderr, "tabulary: %s\n", f.what());
    }
    return code;
}
