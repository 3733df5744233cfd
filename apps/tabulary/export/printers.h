// The printers the program can print to, the start-up check for the PDF
// printer, the program's default printer and the text printer.
#pragma once

#include <QByteArray>
#include <QString>

namespace tab::gui {

QString missingPdfPrinterText();

// Informs the user when "Quillmoor PDF Writer" is not among the installed
// printers (compared exactly). Failures while listing reach the caller.
void CheckPdfPrinterInstalled();

// The program's default printer: at first the system's, or the PDF printer
// when the system has none. A failure is shown in a box of its own ("Error
// No: ..."); "" then.
QString GetDefaultPrinter();

// Makes `name` the program's default printer when it is among the installed
// printers (compared exactly); false otherwise, and on any failure, which is
// not reported.
bool ChangeDefaultPrinter(const QString& name);

// The program's own text printer, which prints a tab-separated document as a
// table on the program's default printer. It takes the document when it is
// handed the file, so the file may be deleted before it prints.
class TextPrinterJob {
public:
    explicit TextPrinterJob(QByteArray document) : m_document(std::move(document)) {}

    // On the PDF printer it asks for the PDF file's name first and prints
    // nothing when the dialog is cancelled. Throws Failure when printing fails.
    void start();

    const QByteArray& document() const { return m_document; }

private:
    QByteArray m_document;
};

// Finds the text printer and hands it the work file, which is read now, as
// work files are: never through a symbolic link, never another user's.
// Throws Failure when the file cannot be read or is refused.
TextPrinterJob OpenInTextPrinter(const QString& path);

}  // namespace tab::gui
