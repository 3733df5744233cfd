#include "db/connections.h"

#include "app/failure.h"
#include "app/services.h"

namespace tab::gui {

std::unique_ptr<ado::Connection> openConnection(const ConnectionSettings& settings,
                                                const ConnectionProperties& properties) {
    CreationFailure failure;
    std::unique_ptr<ado::Connection> connection = services().connections().create(failure);
    if (!connection) throw Failure(failure.description, failure.number);
    if (properties.mode) connection->setMode(properties.mode);
    if (properties.cursorLocation) connection->setCursorLocation(properties.cursorLocation);
    check(connection->open(BuildConnectionString(settings).toStdString()));
    return connection;
}

}  // namespace tab::gui
