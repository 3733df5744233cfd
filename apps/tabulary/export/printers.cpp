#include "export/printers.h"

#include "app/product.h"
#include "app/services.h"

namespace tab::gui {

QString missingPdfPrinterText() {
    const QString crlf = QStringLiteral("\r\n");
    return kPdfPrinterName +
           QStringLiteral(" is not installed. Please follow these instructions:") + crlf + crlf +
           QStringLiteral("1) Go to Control Panel -> Printers and Faxes to add a local printer.") +
           crlf + QStringLiteral("2) Choose ''CPW2: (") + kPdfPrinterName +
           QStringLiteral(")'' on Select a Printer Port dialog box, click Next.") + crlf +
           QStringLiteral(
               "3) Choose a Postscript printer (e.g. HP Color LaserJet PS), click Next.") +
           crlf + QStringLiteral("4) Enter ") + kPdfPrinterName +
           QStringLiteral(" as Printer name, click Next -> Finish.");
}

void CheckPdfPrinterInstalled() {
    for (const QString& name : services().printers().names())
        if (name == kPdfPrinterName) return;
    services().dialogs().message(
        {applicationTitle(), missingPdfPrinterText(), BoxIcon::None, BoxButtons::Ok});
}

}  // namespace tab::gui
