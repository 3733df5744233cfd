#include "workspace/query_history.h"

#include "app/file_helpers.h"
#include "workspace/history_list.h"

namespace tab::gui {

QList<QPair<QString, QString>> historyEntries(const QString& text) {
    QList<QPair<QString, QString>> entries;
    if (text.isEmpty()) return entries;
    const QStringList pieces = text.split(QStringLiteral("\r\n"));
    for (qsizetype i = 0; i < pieces.size(); ++i)
        if (!pieces[i].isEmpty())
            entries.append({QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0')), pieces[i]});
    return entries;
}

void LoadHistory(HistoryList& list, const QString& historyFilePath) {
    const QString text = ReadWorkFile(historyFilePath);
    const auto entries = historyEntries(text);
    list.clearEntries();
    list.addEntries(entries);
}

}  // namespace tab::gui
