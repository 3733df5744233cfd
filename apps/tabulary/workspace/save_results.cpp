// The "Save Results As" commands that ask for a file: the results as
// tab-separated text, CSV or XML, and the query text as an SQL file.
#include <QStringLiteral>

#include "app/procedure_error.h"
#include "app/services.h"
#include "app/theme.h"
#include "export/grid_documents.h"
#include "workspace/query_box.h"
#include "workspace/results_grid.h"
#include "workspace/workspace_window.h"

namespace tab::gui {

void Form2::saveResultsAs(const QString& procedure, const QString& filter,
                          const std::function<void(const QString& path)>& write) {
    Guard g(QStringLiteral("Form2.") + procedure, this);
    FileDialog dialog;
    g.line(100, [&] { dialog.title = QStringLiteral("Save"); });
    g.line(102, [&] { dialog.filter = filter; });
    QString path;
    g.line(104, [&] {
        // The dialog opens with the name chosen last, by any of the commands.
        dialog.fileName = m_lastSaveName;
        path = services().dialogs().saveFile(dialog);
        if (!path.isEmpty()) m_lastSaveName = path;
    });
    // Cancelled, or nothing chosen: nothing is written.
    if (!g.test(106, [&] { return !path.isEmpty(); })) return;
    g.line(108, [&] { m_pointer->set(kPointerBusy); });
    g.line(110, [&] { write(path); });
    g.line(112, [&] { m_pointer->set(kPointerDefault); });
}

void Form2::mnuTXT_Click() {
    saveResultsAs(QStringLiteral("mnuTXT_Click"), QStringLiteral("Text Files (*.txt)|*.txt"),
                  [&](const QString& path) { ExportGridToText(*DataGrid1, path); });
}

void Form2::mnuCSV_Click() {
    saveResultsAs(QStringLiteral("mnuCSV_Click"), QStringLiteral("CSV Files (*.csv)|*.csv"),
                  [&](const QString& path) { ExportGridToCsv(*DataGrid1, path); });
}

void Form2::mnuXML_Click() {
    saveResultsAs(QStringLiteral("mnuXML_Click"), QStringLiteral("XML Files (*.xml)|*.xml"),
                  [&](const QString& path) { ExportGridToXml(*DataGrid1, path); });
}

void Form2::mnuSQL_Click() {
    saveResultsAs(QStringLiteral("mnuSQL_Click"), QStringLiteral("SQL Files (*.sql)|*.sql"),
                  [&](const QString& path) { WriteTextFile(Text1->text(), path); });
}

}  // namespace tab::gui
