// The desktop's spreadsheet program, found and started for a workbook.
#pragma once

#include <memory>

#include "app/services.h"

namespace tab::gui {

std::unique_ptr<SpreadsheetProgram> makeDesktopSpreadsheetProgram();

}  // namespace tab::gui
