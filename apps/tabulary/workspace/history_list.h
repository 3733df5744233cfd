// The History list: a report view whose columns, widths and sorting are set
// by the workspace as it loads, and whose entries have a text and one
// sub-item.
#pragma once

#include <QTreeWidget>

namespace tab::gui {

class HistoryList : public QTreeWidget {
public:
    explicit HistoryList(QWidget* parent);

    void addColumn(const QString& header);
    // Widths in twips, as the list view has them.
    void setColumnWidthTwips(int column, int twips);
    void setSorted(bool sorted);
    void setSortKey(int column);
    void setSortOrder(int order);  // 0 ascending, 1 descending

    void clearEntries() { clear(); }
    // Many entries at once, sorted once.
    void addEntries(const QList<QPair<QString, QString>>& entries);
    int entryCount() const { return topLevelItemCount(); }
    // Entries in the order shown.
    QString entryText(int index) const;
    QString entrySubItem(int index) const;

private:
    void resort();

    bool m_sorted = false;
    int m_sortKey = 0;
    Qt::SortOrder m_order = Qt::AscendingOrder;
};

}  // namespace tab::gui
