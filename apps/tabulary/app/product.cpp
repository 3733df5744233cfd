#include "app/product.h"

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
    // Not Qt's display name: on X11 and Wayland Qt appends that to every
    // window title (" — Tabulary"), and each window's title is its own.
    g_applicationTitle = applicationTitleFrom(kProductTitle);
}

}  // namespace tab::gui
