// The application icon, drawn rather than shipped as a file.
#pragma once

#include <QIcon>

namespace tab::gui {

QIcon applicationIcon();

}  // namespace tab::gui
