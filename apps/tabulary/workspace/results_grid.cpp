#include "workspace/results_grid.h"

#include <QHeaderView>
#include <algorithm>
#include <limits>

#include "app/failure.h"

namespace tab::gui {

RecordsetModel::RecordsetModel(std::shared_ptr<ado::Recordset> recordset)
    : m_recordset(std::move(recordset)) {
    check(m_recordset->fill());
}

bool RecordsetModel::has(qsizetype row, int column) const {
    return row >= 0 && row < rows() && column >= 0 &&
           static_cast<size_t>(column) < m_recordset->fields().size();
}

int RecordsetModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    // Qt's views count rows in int; a result beyond that is cut there.
    return static_cast<int>(std::min<qsizetype>(rows(), std::numeric_limits<int>::max()));
}

int RecordsetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_recordset->fields().size());
}

QString RecordsetModel::caption(int column) const {
    const auto& fields = m_recordset->fields();
    if (column < 0 || static_cast<size_t>(column) >= fields.size()) return {};
    return QString::fromStdString(fields[static_cast<size_t>(column)].name);
}

QString RecordsetModel::text(qsizetype row, int column) const {
    if (!has(row, column)) return {};
    std::string s;
    m_recordset->appendCellText(static_cast<size_t>(row), static_cast<size_t>(column), s);
    return QString::fromStdString(s);
}

void RecordsetModel::appendText(qsizetype row, int column, std::string& out) const {
    if (has(row, column))
        m_recordset->appendCellText(static_cast<size_t>(row), static_cast<size_t>(column), out);
}

QVariant RecordsetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    return text(index.row(), index.column());
}

QVariant RecordsetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return caption(section);
    return section + 1;
}

ResultsGrid::ResultsGrid(QWidget* parent) : QTableView(parent) {
    // Uniform rows keep a million of them as cheap as ten.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setWordWrap(false);
}

void ResultsGrid::bind(std::shared_ptr<ado::Recordset> recordset) {
    if (!recordset) throw Failure(QStringLiteral("The recordset is not open."));
    auto model = std::make_unique<RecordsetModel>(std::move(recordset));
    QItemSelectionModel* oldSelection = selectionModel();
    setModel(model.get());
    delete oldSelection;
    m_model = std::move(model);
    // Widths from the rows in view (Qt measures only those), within bounds.
    resizeColumnsToContents();
    for (int c = 0; c < m_model->columnCount(); ++c)
        setColumnWidth(c, std::clamp(columnWidth(c), 40, 240));
    if (m_model->rowCount() > 0 && m_model->columnCount() > 0)
        setCurrentIndex(m_model->index(0, 0));
}

void ResultsGrid::unbind() {
    QItemSelectionModel* oldSelection = selectionModel();
    setModel(nullptr);
    delete oldSelection;
    m_model.reset();
}

int ResultsGrid::columnCount() const {
    return m_model ? m_model->columnCount() : 0;
}

QString ResultsGrid::columnCaption(int column) const {
    return m_model ? m_model->caption(column) : QString();
}

qsizetype ResultsGrid::rowCount() const {
    return m_model ? m_model->rows() : 0;
}

qsizetype ResultsGrid::currentRow() const {
    return m_model && currentIndex().isValid() ? currentIndex().row() : -1;
}

QString ResultsGrid::cellText(qsizetype row, int column) const {
    return m_model ? m_model->text(row, column) : QString();
}

void ResultsGrid::appendCellText(qsizetype row, int column, std::string& out) const {
    if (m_model) m_model->appendText(row, column, out);
}

}  // namespace tab::gui
