#include "workspace/workspace_window.h"

namespace tab::gui {

void Form2::mnuPDF_Click() {}

}  // namespace tab::gui
