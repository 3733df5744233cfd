// The results grid: a view over the rows of the last row-returning
// statement. It keeps its recordset alive until the next execution unbinds
// it, and offers the rows to the exporters through GridRows.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <memory>
#include <string>

#include "tabulary/ado/recordset.h"

namespace tab::gui {

// What the exporters read of the grid: captions, rows, the current row and
// each cell's display text.
class GridRows {
public:
    virtual ~GridRows() = default;
    virtual int columnCount() const = 0;
    virtual QString columnCaption(int column) const = 0;
    virtual qsizetype rowCount() const = 0;
    virtual qsizetype currentRow() const = 0;  // -1: none
    virtual QString cellText(qsizetype row, int column) const = 0;
    // The same text appended as UTF-8, without a detour through QString.
    virtual void appendCellText(qsizetype row, int column, std::string& out) const {
        out += cellText(row, column).toStdString();
    }
};

// The rows of a filled recordset as a table model; cells are turned into
// text only when shown.
class RecordsetModel : public QAbstractTableModel {
public:
    explicit RecordsetModel(std::shared_ptr<ado::Recordset> recordset);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    qsizetype rows() const { return static_cast<qsizetype>(m_recordset->rowCount()); }
    QString caption(int column) const;
    QString text(qsizetype row, int column) const;
    void appendText(qsizetype row, int column, std::string& out) const;
    size_t heldBytes() const { return m_recordset->heldBytes(); }

private:
    bool has(qsizetype row, int column) const;

    std::shared_ptr<ado::Recordset> m_recordset;
};

class ResultsGrid : public QTableView, public GridRows {
public:
    explicit ResultsGrid(QWidget* parent);

    // The recordset must be open; its rows are read here if not yet.
    void bind(std::shared_ptr<ado::Recordset> recordset);
    void unbind();
    bool isBound() const { return m_model != nullptr; }
    // What the bound rows take in memory.
    size_t heldBytes() const { return m_model ? m_model->heldBytes() : 0; }

    int columnCount() const override;
    QString columnCaption(int column) const override;
    qsizetype rowCount() const override;
    qsizetype currentRow() const override;
    QString cellText(qsizetype row, int column) const override;
    void appendCellText(qsizetype row, int column, std::string& out) const override;

private:
    std::unique_ptr<RecordsetModel> m_model;
};

}  // namespace tab::gui
