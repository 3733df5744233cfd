// The database file and password that every connection is built from: the
// start window's two boxes, read afresh at each connection.
#pragma once

#include <QString>

namespace tab::gui {

class ConnectionSettings {
public:
    virtual ~ConnectionSettings() = default;
    virtual QString databasePath() const = 0;
    virtual QString databasePassword() const = 0;
};

// The provider's connection string for the current path and password.
QString BuildConnectionString(const ConnectionSettings& settings);

}  // namespace tab::gui
