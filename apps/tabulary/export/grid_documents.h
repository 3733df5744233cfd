// The results grid's documents (the module Datagrid1) and the text file
// writer (RFTSFSO), over the Qt-free writers. Each throws Failure when the
// document cannot be written; the target is then left as it was.
#pragma once

#include <QString>
#include <memory>

#include "tabulary/writers/table_rows.h"

namespace tab::gui {

class GridRows;

// The grid's rows, caption and cells as the grid shows them, for any writer.
std::unique_ptr<writers::TableRows> gridTableRows(const GridRows& grid);

void ExportGridToCsv(const GridRows& grid, const QString& path);
void ExportGridToText(const GridRows& grid, const QString& path);
void ExportGridToXml(const GridRows& grid, const QString& path);
void WriteTextFile(const QString& text, const QString& path);

}  // namespace tab::gui
