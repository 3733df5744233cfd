// The catalogue of the database's tables and views, and the filling of a
// list with it.
#pragma once

#include <QStringList>

#include "db/connection_settings.h"

namespace tab::gui {

// What the catalogue needs of a list box.
class NameList {
public:
    virtual ~NameList() = default;
    virtual void clearNames() = 0;
    virtual void addName(const QString& name) = 0;
    virtual int nameCount() const = 0;
    // Selects the first entry in the list's own order.
    virtual void selectFirstName() = 0;
};

// The names of the rows of type "TABLE" and "VIEW" of the TABLES schema, in
// its order. Raises the first failure.
QStringList ListDatabaseTables(const ConnectionSettings& settings);

// Guarded: clears the list, adds every name and selects the first entry.
void AddTablesToAccessListbox(NameList& list, const ConnectionSettings& settings);

}  // namespace tab::gui
