// tabulary: open an Access database, browse its tables and fields, run SQL.
#include <QApplication>

#include "app/application.h"
#include "app/product.h"
#include "app/services.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(tab::gui::kProductTitle);
    QApplication::setDesktopFileName(QStringLiteral("tabulary"));
    tab::gui::Application app;
    if (!app.start()) return 0;
    return QApplication::exec();
}
