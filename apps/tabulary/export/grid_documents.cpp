#include "export/grid_documents.h"

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

void writeGrid(writers::DocumentKind kind, const GridRows& grid, const QString& path) {
    GridTableRows rows(grid);
    check(writers::writeDocumentFile(kind, rows, path.toStdString()));
}

}  // namespace

std::unique_ptr<writers::TableRows> gridTableRows(const GridRows& grid) {
    return std::make_unique<GridTableRows>(grid);
}

void ExportGridToCsv(const GridRows& grid, const QString& path) {
    writeGrid(writers::DocumentKind::GridCsv, grid, path);
}

void ExportGridToText(const GridRows& grid, const QString& path) {
    writeGrid(writers::DocumentKind::GridText, grid, path);
}

void ExportGridToXml(const GridRows& grid, const QString& path) {
    writeGrid(writers::DocumentKind::GridXml, grid, path);
}

void WriteTextFile(const QString& text, const QString& path) {
    check(writers::writeTextFile(text.toStdString(), path.toStdString()));
}

}  // namespace tab::gui
