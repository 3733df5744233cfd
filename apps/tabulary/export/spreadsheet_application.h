// The spreadsheet application object the XLS command drives, with the
// members it calls named as Excel's automation names them. A workbook is a
// file in the private work folder, written cell by cell in order (the
// header row first) and handed over when the application is made visible:
// shown as a new, untitled document in LibreOffice Calc where it is
// installed, else a copy the program keeps (keptWorkbooksFolder) opened in
// the desktop's program for .xlsx, else offered in a Save dialog.
//
// A step that fails throws Failure, for the guarded line to report. When the
// workbook fails (its file cannot be written), the failure is thrown once,
// by the step that met it; every later step on that workbook does nothing.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tabulary/writers/xlsx_workbook.h"

namespace tab::gui {

class GridRows;
class SpreadsheetApplication;
class SpreadsheetWorkbook;
class SpreadsheetSheet;

// Where a workbook goes when it is shown, in order of preference.
enum class WorkbookHandOver { None, Calc, DesktopProgram, SaveDialog };

// The display text of a grid cell, handed to a sheet as UTF-8 without a
// detour through QString.
struct GridCellText {
    const GridRows& grid;
    qsizetype row;
    int column;
};

// Cells(row, column).Value.
class CellValue {
public:
    CellValue& operator=(const QString& text);
    CellValue& operator=(const GridCellText& text);

private:
    friend class CellRange;
    CellValue(SpreadsheetSheet& sheet, qsizetype row, qsizetype column)
        : m_sheet(sheet), m_row(row), m_column(column) {}
    SpreadsheetSheet& m_sheet;
    qsizetype m_row, m_column;
};

// Cells(row, column): assigned directly or through Value.
class CellRange {
public:
    CellValue Value;
    CellRange& operator=(const QString& text) {
        Value = text;
        return *this;
    }

private:
    friend class SpreadsheetSheet;
    CellRange(SpreadsheetSheet& sheet, qsizetype row, qsizetype column)
        : Value(sheet, row, column) {}
};

// Columns: the sheet's columns as one range.
class SheetColumns {
public:
    void AutoFit();

private:
    friend class SpreadsheetSheet;
    explicit SheetColumns(SpreadsheetSheet& sheet) : m_sheet(sheet) {}
    SpreadsheetSheet& m_sheet;
};

class SpreadsheetSheet {
public:
    // 1-based, as the sheet counts; rows beyond one sheet's continue on
    // further sheets with the header row.
    CellRange Cells(qsizetype row, qsizetype column) { return CellRange(*this, row, column); }
    SheetColumns Columns() { return SheetColumns(*this); }

private:
    friend class CellValue;
    friend class SheetColumns;
    friend class SpreadsheetWorkbook;
    explicit SpreadsheetSheet(SpreadsheetWorkbook& book) : m_book(book) {}
    // Checks the reference; the text is in m_text.
    void writeText(qsizetype row, qsizetype column);
    std::string& text() { return m_text; }

    SpreadsheetWorkbook& m_book;
    std::string m_text;  // reused for every cell
};

class SpreadsheetWorkbook {
public:
    // The work file goes unless Calc is still to read it.
    ~SpreadsheetWorkbook();
    SpreadsheetSheet& ActiveSheet() { return m_sheet; }
    const QString& path() const { return m_path; }

private:
    friend class SpreadsheetApplication;
    friend class SpreadsheetSheet;
    friend class SheetColumns;
    SpreadsheetWorkbook();
    void create();
    void show();
    // Reports a failure of the file the first time only.
    void check(const Status& status);

    std::optional<writers::XlsxWorkbook> m_book;
    QString m_path;
    SpreadsheetSheet m_sheet;
    WorkbookHandOver m_handOver = WorkbookHandOver::None;
    bool m_failed = true;  // also before the file is made
    bool m_shown = false;
    bool m_workFileInUse = false;
};

class SpreadsheetApplication {
public:
    // The application object, or none when a workbook cannot be handed
    // over at all.
    static std::unique_ptr<SpreadsheetApplication> tryCreate();
    // The same, throwing Failure when there is none.
    static std::unique_ptr<SpreadsheetApplication> create();
    ~SpreadsheetApplication();

    class WorkbookList {
    public:
        // A new workbook, empty, its file made in the work folder.
        SpreadsheetWorkbook& add();

    private:
        friend class SpreadsheetApplication;
        explicit WorkbookList(SpreadsheetApplication& app) : m_app(app) {}
        SpreadsheetApplication& m_app;
    };
    WorkbookList Workbooks() { return WorkbookList(*this); }

    // Shows every workbook not shown yet in the spreadsheet program.
    void Visible(bool visible);
    // Ends the application; its workbooks not shown are discarded.
    void Quit();

private:
    explicit SpreadsheetApplication(WorkbookHandOver handOver) : m_handOver(handOver) {}
    void checkRunning() const;

    WorkbookHandOver m_handOver;
    std::vector<std::unique_ptr<SpreadsheetWorkbook>> m_workbooks;
    bool m_quit = false;
};

// Whether a workbook can be handed over (on a desktop always, through the
// Save dialog at least); tells the user when not.
bool ExcelIsInstalled();

// Removes the workbooks earlier exports left in the work folder, except those
// the spreadsheet program may still be opening. Quiet: a file that cannot be
// removed stays for the next time.
void removeStaleWorkbooks();

}  // namespace tab::gui
