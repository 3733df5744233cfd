// The application icon, drawn rather than shipped as a file.
#pragma once

#include <QIcon>
#include <QImage>

namespace tab::gui {

QIcon applicationIcon();

// The icon drawn at one size; needs no QGuiApplication, so build tools can
// render it for the desktop's icon theme.
QImage applicationIconImage(int size);

}  // namespace tab::gui
