// Opening a connection the way every caller does: create the object through
// the factory, set the caller's properties, open it with the connection
// string. Failures are raised with the engine's description.
#pragma once

#include <memory>

#include "db/connection_settings.h"
#include "tabulary/ado/connection.h"

namespace tab::gui {

struct ConnectionProperties {
    int mode = 0;            // 0: not set
    int cursorLocation = 0;  // 0: not set
};

std::unique_ptr<ado::Connection> openConnection(const ConnectionSettings& settings,
                                                const ConnectionProperties& properties = {});

}  // namespace tab::gui
