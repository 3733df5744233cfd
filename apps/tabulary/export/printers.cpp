#include "export/printers.h"

#include "app/failure.h"
#include "app/file_helpers.h"
#include "app/product.h"
#include "app/services.h"
#include "printing/text_printer.h"

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

namespace {

void showPrinterError(long number, const QString& description, const QString& where) {
    const QString crlf = QStringLiteral("\r\n");
    services().dialogs().message({applicationTitle(),
                                  QStringLiteral("Error No: ") + QString::number(number) + crlf +
                                      description + crlf + QStringLiteral("Has occured in ") +
                                      where + crlf +
                                      QStringLiteral("Please contact Technical Support"),
                                  BoxIcon::None, BoxButtons::Ok});
}

}  // namespace

QString GetDefaultPrinter() {
    PrinterList& printers = services().printers();
    try {
        if (!printers.programDefault) {
            const QString system = printers.systemDefault();
            printers.programDefault = system.isEmpty() ? kPdfPrinterName : system;
        }
        return *printers.programDefault;
    } catch (const Failure& f) {
        showPrinterError(f.number(), f.description(),
                         QStringLiteral("modPrinters.GetDefaultPrinter"));
    } catch (const std::exception& e) {
        showPrinterError(0, QString::fromUtf8(e.what()),
                         QStringLiteral("modPrinters.GetDefaultPrinter"));
    }
    return {};
}

bool ChangeDefaultPrinter(const QString& name) {
    PrinterList& printers = services().printers();
    try {
        if (!printers.names().contains(name, Qt::CaseSensitive)) return false;
        printers.programDefault = name;
        return true;
    } catch (...) {
        return false;
    }
}

void TextPrinterJob::start() {
    const QString printer = GetDefaultPrinter();
    if (printer != kPdfPrinterName) {
        services().printers().printDocument(printer, m_document);
        return;
    }
    FileDialog dialog;
    dialog.title = QStringLiteral("Save PDF File As");
    dialog.filter = QStringLiteral("PDF Files (*.pdf)|*.pdf");
    dialog.fileName = QStringLiteral("Results.pdf");
    const QString path = services().dialogs().saveFile(dialog);
    if (path.isEmpty()) return;
    QString error;
    if (!printing::printTabSeparatedToPdf(m_document, path, error)) throw Failure(error);
}

TextPrinterJob OpenInTextPrinter(const QString& path) {
    return TextPrinterJob(ReadWorkFileBytes(path));
}

}  // namespace tab::gui
