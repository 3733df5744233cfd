#include "app/product.h"

#include <QGuiApplication>

namespace tab::gui {

namespace {
QString g_applicationTitle;
}

QString applicationTitleFrom(const QString& productTitle) {
    QString title = productTitle;
    int blank = title.lastIndexOf(u' ');
    if (blank < 0) return title;
    do {
        title.truncate(blank);
        blank = title.lastIndexOf(u' ');
    } while (title.size() > 40 && blank >= 0);
    return title;
}

QString applicationTitle() {
    return g_applicationTitle;
}

void SetApplicationTitle() {
    g_applicationTitle = applicationTitleFrom(kProductTitle);
    QGuiApplication::setApplicationDisplayName(g_applicationTitle);
}

}  // namespace tab::gui
