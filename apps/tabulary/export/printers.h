// The printers the program can print to, and the start-up check for the
// PDF printer.
#pragma once

#include <QString>

namespace tab::gui {

QString missingPdfPrinterText();

// Informs the user when "Quillmoor PDF Writer" is not among the installed
// printers (compared exactly). Failures while listing reach the caller.
void CheckPdfPrinterInstalled();

}  // namespace tab::gui
