#include "db/connections.h"

#include <set>
#include <string>
#include <utility>

#include "app/dialogs.h"
#include "app/failure.h"
#include "app/product.h"
#include "app/services.h"
#include "tabulary/jet/database.h"

namespace tab::gui {

void reportOpenNotice(const ado::Connection& connection) {
    const auto db = connection.database();
    if (!db || db->openNotice().empty()) return;
    // A read-only file says so on every open; once is enough.
    static std::set<std::pair<std::string, std::string>> shown;
    if (!shown.emplace(db->path(), db->openNotice()).second) return;
    services().dialogs().message({applicationTitle(),
                                  QString::fromStdString(db->path()) + QStringLiteral(":\r\n") +
                                      QString::fromStdString(db->openNotice()),
                                  BoxIcon::Warning, BoxButtons::Ok});
}

std::unique_ptr<ado::Connection> openConnection(const ConnectionSettings& settings,
                                                const ConnectionProperties& properties) {
    CreationFailure failure;
    std::unique_ptr<ado::Connection> connection = services().connections().create(failure);
    if (!connection) throw Failure(failure.description, failure.number);
    if (properties.mode) connection->setMode(properties.mode);
    if (properties.cursorLocation) connection->setCursorLocation(properties.cursorLocation);
    check(connection->open(BuildConnectionString(settings).toStdString()));
    reportOpenNotice(*connection);
    return connection;
}

}  // namespace tab::gui
