// "Save Results As" > PDF: the results go through a work file to the text
// printer, printed on the PDF printer, which asks for the PDF's name.
#include <optional>

#include "app/app_paths.h"
#include "app/file_helpers.h"
#include "app/procedure_error.h"
#include "app/product.h"
#include "export/grid_documents.h"
#include "export/printers.h"
#include "workspace/results_grid.h"
#include "workspace/workspace_window.h"

namespace tab::gui {

void Form2::mnuPDF_Click() {
    Guard g(QStringLiteral("Form2.mnuPDF_Click"), this);
    QString path;
    g.line(100, [&] { path = tempFolder() + QStringLiteral("/tmp.txt"); });
    bool written = false;
    g.line(102, [&] {
        // Made owner-only first: the export replaces the file keeping its mode.
        replaceWorkFile(path, {});
        try {
            ExportGridToText(*DataGrid1, path);
        } catch (...) {
            // Neither an empty file nor an older one may be printed instead.
            DeleteFileQuietly(path);
            throw;
        }
        written = true;
    });
    // A file refused above (a link, another user's) is not the work file:
    // as far as the command goes there is none, and it is never read.
    if (!g.test(104, [&] { return written && PathExists(path); })) return;
    QString previous;
    g.line(106, [&] { previous = GetDefaultPrinter(); });
    if (g.test(108, [&] { return ChangeDefaultPrinter(kPdfPrinterName); })) {
        std::optional<TextPrinterJob> job;
        g.line(110, [&] { job = OpenInTextPrinter(path); });
        g.line(112, [&] {
            if (job) job->start();
        });
    }
    g.line(114, [&] { DeleteFileQuietly(path); });
    g.line(116, [&] { ChangeDefaultPrinter(previous); });
}

}  // namespace tab::gui
