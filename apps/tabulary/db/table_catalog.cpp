#include "db/table_catalog.h"

#include <optional>

#include "app/procedure_error.h"
#include "db/connections.h"
#include "tabulary/ado/schema.h"

namespace tab::gui {

QStringList ListDatabaseTables(const ConnectionSettings& settings) {
    std::unique_ptr<ado::Connection> connection = openConnection(settings);
    QStringList names;
    for (const ado::TableSchemaRow& row : ado::tablesSchema(connection->database()->catalog())) {
        if (row.tableType == "TABLE" || row.tableType == "VIEW")
            names << QString::fromStdString(row.tableName);
    }
    connection->close();
    return names;
}

void AddTablesToAccessListbox(NameList& list, const ConnectionSettings& settings) {
    Guard g(QStringLiteral("Access1.AddTablesToAccessListbox"));
    std::optional<QStringList> names;
    g.line(100, [&] { names = QStringList(); });
    g.line(102, [&] { names = ListDatabaseTables(settings); });
    if (g.test(104, [&] { return !names.has_value(); })) {
        g.line(106, [&] { names.reset(); });
        return;
    }
    g.line(108, [&] { list.clearNames(); });
    // Every name is listed: there is no 16-bit bound on the count here.
    qsizetype count = 0;
    g.line(110, [&] { count = names ? names->size() : 0; });
    for (qsizetype i = 0; i < count; ++i) {
        g.line(112, [&] { list.addName(names->at(i)); });
        g.line(114, [] {});  // next i
    }
    g.line(116, [&] { names.reset(); });
    g.line(118, [&] {
        if (list.nameCount() > 0) list.selectFirstName();
    });
}

}  // namespace tab::gui
