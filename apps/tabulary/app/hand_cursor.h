// Cursor files in the Windows .cur format. Qt's image reader takes the
// picture but not the hot spot, so the hot spot comes from the file's header.
#pragma once

#include <QCursor>
#include <QString>

namespace tab::gui {

// Throws Failure when the file cannot be read or is not a usable cursor.
QCursor loadCursorFile(const QString& path);

}  // namespace tab::gui
