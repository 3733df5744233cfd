// The "Tables" list: one selection, names kept in the engine's text order
// (letter case ignored), so archive, Customers, orders.
#pragma once

#include <QListWidget>

#include "db/table_catalog.h"

namespace tab::gui {

class TableList : public QListWidget, public NameList {
public:
    explicit TableList(QWidget* parent);

    void clearNames() override { clear(); }
    void addName(const QString& name) override;
    int nameCount() const override { return count(); }
    void selectFirstName() override { setCurrentRow(0); }

    // The selected table's name; "" when none is selected.
    QString selectedName() const;
};

}  // namespace tab::gui
