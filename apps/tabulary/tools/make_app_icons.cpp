// Writes the program's icon as PNG files for the desktop's icon theme:
// make-app-icons OUT_DIR SIZE... puts OUT_DIR/<N>x<N>/apps/tabulary.png for
// each size. The icon is drawn in code, so the build renders the files
// rather than keeping binary copies in the sources.
#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QImage>
#include <QString>

#include "app/app_icon.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT_DIR SIZE...\n", argv[0]);
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (*end != '\0' || size < 1 || size > 1024) {
            std::fprintf(stderr, "make-app-icons: bad size '%s'\n", argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        const QString file = folder + QStringLiteral("/tabulary.png");
        const QImage image = tab::gui::applicationIconImage(static_cast<int>(size));
        if (!QDir().mkpath(folder) || !image.save(file, "PNG")) {
            std::fprintf(stderr, "make-app-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
