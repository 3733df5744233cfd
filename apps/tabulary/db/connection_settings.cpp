#include "db/connection_settings.h"

#include "tabulary/ado/connection_string.h"

namespace tab::gui {

QString BuildConnectionString(const ConnectionSettings& settings) {
    return QString::fromStdString(ado::buildConnectionString(
        settings.databasePath().toStdString(), settings.databasePassword().toStdString()));
}

}  // namespace tab::gui
