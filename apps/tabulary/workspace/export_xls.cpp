#include "workspace/workspace_window.h"

namespace tab::gui {

void Form2::mnuXLS_Click() {}

}  // namespace tab::gui
