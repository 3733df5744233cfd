// "Save Results As" > XLS: the grid's rows into a new workbook shown in the
// user's spreadsheet program.
#include "app/failure.h"
#include "app/procedure_error.h"
#include "app/theme.h"
#include "export/grid_documents.h"
#include "export/spreadsheet_application.h"
#include "workspace/results_grid.h"
#include "workspace/workspace_window.h"

namespace tab::gui {

void Form2::mnuXLS_Click() {
    Guard g(QStringLiteral("Form2.mnuXLS_Click"), this);
    // What the statements share, reached through one pointer: a closure of
    // one pointer fits in std::function's own storage, so the statements run
    // per cell allocate nothing of their own.
    struct Steps {
        explicit Steps(Form2& f) : form(f) {}
        Form2& form;
        std::unique_ptr<SpreadsheetApplication> xl;
        SpreadsheetWorkbook* wb = nullptr;
        qsizetype sheetRow = 0, sheetColumn = 0;
        qsizetype rows = 0, gridRow = 0, currentRow = -1;
        int columns = 0, column = 0;

        SpreadsheetApplication& app() {
            if (!xl)
                throw Failure(QStringLiteral("The spreadsheet application object does not exist."));
            return *xl;
        }
    } steps(*this);
    Steps* const s = &steps;

    if (!g.test(100, [s] { return s->form.DataGrid1->rowCount() > 0; })) return;
    if (!g.test(102, [] { return ExcelIsInstalled(); })) return;
    g.line(104, [s] { s->form.m_pointer->set(kPointerBusy); });
    g.line(106, [s] { s->xl = SpreadsheetApplication::create(); });
    g.line(108, [s] { s->wb = &s->app().Workbooks().add(); });
    // Without a workbook, the steps that write to it have nothing to do: its
    // failure was reported where it happened.
    g.line(110, [s] { s->sheetColumn = 1; });
    g.line(112, [s] { s->columns = s->form.DataGrid1->columnCount(); });
    for (s->column = 0; s->column < s->columns && !g.abandoned(); ++s->column) {
        g.line(114, [s] {
            if (s->wb)
                s->wb->ActiveSheet().Cells(1, s->sheetColumn) =
                    s->form.DataGrid1->columnCaption(s->column);
        });
        g.line(116, [s] { s->sheetColumn += 1; });
        g.line(118, [] {});  // next column
    }
    g.line(120, [s] { s->sheetRow = 2; });
    g.line(122, [s] { s->rows = s->form.DataGrid1->rowCount(); });
    for (s->gridRow = 0; s->gridRow < s->rows && !g.abandoned(); ++s->gridRow) {
        g.line(124, [s] { s->currentRow = s->gridRow; });
        g.line(126, [s] { s->sheetColumn = 1; });
        s->columns = 0;  // a bound that cannot be read runs no column
        g.line(128, [s] { s->columns = s->form.DataGrid1->columnCount(); });
        for (s->column = 0; s->column < s->columns; ++s->column) {
            g.line(130, [s] {
                if (s->wb)
                    s->wb->ActiveSheet().Cells(s->sheetRow, s->sheetColumn).Value =
                        GridCellText{*s->form.DataGrid1, s->currentRow, s->column};
            });
            g.line(132, [s] { s->sheetColumn += 1; });
            g.line(134, [] {});  // next column
        }
        g.line(136, [s] { s->sheetRow += 1; });
        g.line(138, [] {});  // next row
    }
    // The grid follows once, to the last row made current: moved row by row,
    // the view would scroll to each.
    if (s->currentRow >= 0) makeCurrentRow(*DataGrid1, s->currentRow);
    g.line(140, [s] {
        if (s->wb) s->wb->ActiveSheet().Columns().AutoFit();
    });
    g.line(142, [s] { s->app().Visible(true); });
    g.line(144, [s] { s->form.m_pointer->set(kPointerDefault); });
}

}  // namespace tab::gui
