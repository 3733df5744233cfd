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

// After an open: when the engine had to undo a change that a crash
// interrupted (or, on a read-only file, could only show the file as before
// it), the user is told once per file and notice.
void reportOpenNotice(const ado::Connection& connection);

}  // namespace tab::gui
