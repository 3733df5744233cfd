// Listing a template folder: the names of its files that match a pattern.
#pragma once

#include <QString>
#include <QStringList>

namespace tab::gui {

// The bare names of the files in `folder` that match `pattern` ("*" any run
// of characters, "?" one; letters compared without regard to case, so
// "*.txt" lists Readme.TXT), hidden ones included, folders left out, sorted
// by name. A missing or unreadable folder gives an empty list.
QStringList GetFilesInFolder(QString folder, QString pattern);

// True for an existing regular file (reached through links too); false for
// folders, other kinds of file and names that have gone. Opens nothing.
bool IsExistingFile(const QString& path);

// Whether `name` matches a pattern of the kind GetFilesInFolder takes.
bool matchesFilePattern(QStringView name, QStringView pattern);

}  // namespace tab::gui
