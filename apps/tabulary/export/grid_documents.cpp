#include "export/grid_documents.h"

#include <algorithm>

#include "app/failure.h"
#include "tabulary/writers/text_documents.h"
#include "workspace/results_grid.h"

namespace tab::gui {

namespace {

class GridTableRows : public writers::TableRows {
public:
    explicit GridTableRows(const GridRows& grid) : m_grid(grid) {}

    size_t columnCount() override { return static_cast<size_t>(std::max(0, m_grid.columnCount())); }
    void appendCaption(size_t column, std::string& out) override {
        out += m_grid.columnCaption(static_cast<int>(column)).toStdString();
    }
    Result<bool> nextRow() override {
        ++m_row;
        return m_row < m_grid.rowCount();
    }
    void appendCell(size_t column, std::string& out) override {
        m_grid.appendCellText(m_row, static_cast<int>(column), out);
    }

private:
    const GridRows& m_grid;
    qsizetype m_row = -1;
};

void writeGrid(writers::DocumentKind kind, ResultsGrid& grid, const QString& path) {
    GridTableRows rows(grid);
    const Status written = writers::writeDocumentFile(kind, rows, path.toStdString());
    // The document is the grid's rows visited in turn, each made current,
    // before the file is written; the grid follows once, to the last: moved
    // row by row, the view would scroll to each.
    makeCurrentRow(grid, grid.rowCount() - 1);
    check(written);
}

}  // namespace

std::unique_ptr<writers::TableRows> gridTableRows(const GridRows& grid) {
    return std::make_unique<GridTableRows>(grid);
}

void ExportGridToCsv(ResultsGrid& grid, const QString& path) {
    writeGrid(writers::DocumentKind::GridCsv, grid, path);
}

void ExportGridToText(ResultsGrid& grid, const QString& path) {
    writeGrid(writers::DocumentKind::GridText, grid, path);
}

void ExportGridToXml(ResultsGrid& grid, const QString& path) {
    writeGrid(writers::DocumentKind::GridXml, grid, path);
}

void makeCurrentRow(ResultsGrid& grid, qsizetype row) {
    QAbstractItemModel* model = grid.model();
    if (!model || row < 0 || row >= model->rowCount() || model->columnCount() == 0) return;
    const int column = std::max(0, grid.currentIndex().column());
    grid.setCurrentIndex(model->index(static_cast<int>(row), column));
}

void WriteTextFile(const QString& text, const QString& path) {
    check(writers::writeTextFile(text.toStdString(), path.toStdString()));
}

}  // namespace tab::gui
