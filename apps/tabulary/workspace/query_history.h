// The query history: the file in the work folder, one executed statement
// after another, each followed by CR LF, and its entries in the History list.
#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace tab::gui {

class HistoryList;

// The entries of a history text: for every non-empty piece between CR LFs
// its 0-based index (at least five digits) and the piece.
QList<QPair<QString, QString>> historyEntries(const QString& text);

// Rebuilds the list from the file, read as a work file (ReadWorkFile: never
// another user's); failures reach the caller.
void LoadHistory(HistoryList& list, const QString& historyFilePath);

}  // namespace tab::gui
