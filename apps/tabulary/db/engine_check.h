// The start-up check that the database engine can be used.
#pragma once

#include <QString>

namespace tab::gui {

// The question shown when the provider is missing.
QString missingProviderText();

// True when a connection object can be created. When the failure means a
// missing provider it explains and offers the download pages first. Never
// raises.
bool IsDatabaseEngineAvailable();

}  // namespace tab::gui
