#include "workspace/history_list.h"

#include <QHeaderView>

namespace tab::gui {

HistoryList::HistoryList(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setColumnCount(0);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    header()->setStretchLastSection(false);
    // The first column is one pixel wide, on purpose.
    header()->setMinimumSectionSize(1);
    // The sort is the program's, not the user's.
    header()->setSectionsClickable(false);
}

void HistoryList::addColumn(const QString& header) {
    const int n = columnCount();
    setColumnCount(n + 1);
    headerItem()->setText(n, header);
}

void HistoryList::setColumnWidthTwips(int column, int twips) {
    // One twip still leaves the column there, one pixel wide.
    setColumnWidth(column, std::max(1, (twips + 7) / 15));
}

void HistoryList::setSorted(bool sorted) {
    m_sorted = sorted;
    resort();
}

void HistoryList::setSortKey(int column) {
    m_sortKey = column;
    resort();
}

void HistoryList::setSortOrder(int order) {
    m_order = order == 1 ? Qt::DescendingOrder : Qt::AscendingOrder;
    resort();
}

void HistoryList::resort() {
    if (m_sorted && m_sortKey < columnCount()) sortItems(m_sortKey, m_order);
}

void HistoryList::addEntries(const QList<QPair<QString, QString>>& entries) {
    QList<QTreeWidgetItem*> items;
    items.reserve(entries.size());
    for (const auto& [text, subItem] : entries) {
        auto* item = new QTreeWidgetItem;
        item->setText(0, text);
        item->setText(1, subItem);
        item->setToolTip(1, subItem);
        items << item;
    }
    addTopLevelItems(items);
    resort();
}

QString HistoryList::entryText(int index) const {
    const QTreeWidgetItem* item = topLevelItem(index);
    return item ? item->text(0) : QString();
}

QString HistoryList::entrySubItem(int index) const {
    const QTreeWidgetItem* item = topLevelItem(index);
    return item ? item->text(1) : QString();
}

}  // namespace tab::gui
