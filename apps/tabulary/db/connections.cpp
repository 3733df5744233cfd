#include "db/connections.h"

#include <set>
#include <string>
#include <utility>

#include "app/dialogs.h"
#include "app/failure.h"
#include "app/product.h"
#include "app/services.h"

namespace tab::gui {

void reportOpenNotice(const ado::Connection& connection) {
    const std::string notice = connection.openNotice();
    if (notice.empty()) return;
    const std::string path = connection.filePath();
    // A read-only file says so on every open; once is enough.
    static std::set<std::pair<std::string, std::string>> shown;
    if (!shown.emplace(path, notice).second) return;
    services().dialogs().message(
        {applicationTitle(),
         QString::fromStdString(path) + QStringLiteral(":\r\n") + QString::fromStdString(notice),
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
