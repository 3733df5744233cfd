#include "tabulary/ado/recordset.h"

namespace tab::ado {

Recordset::Recordset(std::unique_ptr<RowSource> source) : m_source(std::move(source)) {
    if (m_source) m_fields = m_source->fields();
}

Status Recordset::fill() {
    if (m_error) return *m_error;
    if (m_filled) return {};
    m_filled = true;
    if (m_source) {
        std::vector<jet::Value> row;
        while (true) {
            row.assign(m_fields.size(), jet::Value());
            auto more = m_source->next(row);
            if (!more.ok()) {
                m_error = more.error();
                m_rows.clear();
                break;
            }
            if (!*more) break;
            m_rows.push_back(std::move(row));
        }
    }
    m_source.reset();  // no connection stays open behind a filled recordset
    if (m_error) return *m_error;
    return {};
}

Result<bool> Recordset::eof() {
    TAB_TRY(fill());
    return m_position >= m_rows.size();
}

Result<int64_t> Recordset::recordCount() {
    TAB_TRY(fill());
    return static_cast<int64_t>(m_rows.size());
}

Status Recordset::moveFirst() {
    TAB_TRY(fill());
    m_position = 0;
    return {};
}

Status Recordset::moveNext() {
    TAB_TRY(fill());
    if (m_position >= m_rows.size())
        return Error(Errc::InvalidArgument,
                     "Either BOF or EOF is True, or the current record has been deleted.");
    ++m_position;
    return {};
}

Result<jet::Value> Recordset::value(size_t field) {
    TAB_TRY(fill());
    if (m_position >= m_rows.size())
        return Error(Errc::InvalidArgument,
                     "Either BOF or EOF is True, or the current record has been deleted.");
    if (field >= m_fields.size())
        return Error(
            Errc::NotFound,
            "Item cannot be found in the collection corresponding to the requested name or "
            "ordinal.");
    return m_rows[m_position][field];
}

Result<const std::vector<std::vector<jet::Value>>*> Recordset::rows() {
    TAB_TRY(fill());
    return &m_rows;
}

}  // namespace tab::ado
