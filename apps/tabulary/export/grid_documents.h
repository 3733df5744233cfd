// The results grid's documents (the module Datagrid1) and the text file
// writer (RFTSFSO), over the Qt-free writers. Each throws Failure when the
// document cannot be written; the target is then left as it was.
#pragma once

#include <QString>
#include <memory>

#include "tabulary/writers/table_rows.h"

namespace tab::gui {

class GridRows;
class ResultsGrid;

// The grid's rows, caption and cells as the grid shows them, for any writer.
std::unique_ptr<writers::TableRows> gridTableRows(const GridRows& grid);

// Each makes the rows current in turn: afterwards the grid's last row is
// its current row, also when the file could not be written.
void ExportGridToCsv(ResultsGrid& grid, const QString& path);
void ExportGridToText(ResultsGrid& grid, const QString& path);
void ExportGridToXml(ResultsGrid& grid, const QString& path);

// Makes `row` the grid's current row, in the column that is current.
void makeCurrentRow(ResultsGrid& grid, qsizetype row);
void WriteTextFile(const QString& text, const QString& path);

}  // namespace tab::gui
