#include "workspace/table_list.h"

#include "tabulary/ado/text.h"

namespace tab::gui {

namespace {

class TableItem : public QListWidgetItem {
public:
    explicit TableItem(const QString& name)
        : QListWidgetItem(name), m_utf8(name.toUtf8().toStdString()) {}

    bool operator<(const QListWidgetItem& other) const override {
        const auto& o = static_cast<const TableItem&>(other);
        const int c = ado::compareNames(m_utf8, o.m_utf8);
        // Names equal but for case keep a fixed order.
        return c != 0 ? c < 0 : m_utf8 < o.m_utf8;
    }

private:
    std::string m_utf8;
};

}  // namespace

TableList::TableList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(true);
}

void TableList::addName(const QString& name) {
    addItem(new TableItem(name));
}

QString TableList::selectedName() const {
    // The selection, not the current item: a mouse press moves the current
    // item before it selects it.
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.first()->text();
}

}  // namespace tab::gui
