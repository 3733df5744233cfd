#include "tabulary/jet/table_cursor.h"

#include "internal.h"
#include "tabulary/jet/database.h"

namespace tab::jet {

namespace {
constexpr int kMaxOverflowHops = 8;
constexpr uint32_t kMaxRowsPerPage = 256;
}  // namespace

TableCursor::TableCursor(Database& db, std::shared_ptr<const TableDef> table,
                         std::vector<int> columns)
    : m_db(db), m_table(std::move(table)), m_columns(std::move(columns)) {
    m_values.resize(m_table->columns.size());
    if (!m_columns.empty()) {
        m_wanted.assign(m_table->columns.size(), false);
        for (int c : m_columns)
            if (c >= 0 && static_cast<size_t>(c) < m_wanted.size())
                m_wanted[static_cast<size_t>(c)] = true;
    }
}

Status TableCursor::loadPages() {
    m_pagesLoaded = true;
    auto pages = readUsageMap(m_db.pages(), m_db.format(), m_table->ownedPages);
    if (!pages.ok()) return pages.error().withContext("table \"" + m_table->name + "\"");
    m_pages = std::move(*pages);
    return Status::success();
}

Result<bool> TableCursor::readRow(uint32_t pageNumber, uint32_t row, const PageRef& page) {
    const Format& f = m_db.format();
    // The row's own page is at hand: no page lookup and no reference count
    // traffic unless the row overflowed to another page.
    RowExtent extent;
    if (Status st = rowExtent(*page, f, pageNumber, row, extent); !st.ok()) return st.error();
    if (extent.flags & kRowDeleted) return false;
    Bytes bytes(page->data() + extent.start, extent.end - extent.start);
    uint32_t dataPage = pageNumber;
    RowSlice slice;  // holds an overflow row's page
    uint16_t flags = extent.flags;
    int hops = 0;
    while (flags & kRowOverflow) {
        if (bytes.size() < 4) return corrupt(dataPage, "overflow row too short");
        uint32_t ptr = u32At(bytes.data());
        if (++hops > kMaxOverflowHops)
            return corrupt(dataPage, "overflow rows form a chain or a cycle");
        dataPage = ptr >> 8;
        TAB_ASSIGN_OR_RETURN(slice, rowAtPointer(m_db.pages(), f, ptr));
        bytes = slice.bytes();
        flags = slice.flags;
    }
    m_rowId = (pageNumber << 8) | row;
    Status st = decodeRow(m_db, *m_table, bytes, m_wanted, m_values, dataPage);
    if (!st.ok()) return st.error();
    return true;
}

Result<bool> TableCursor::next() {
    if (!m_pagesLoaded) {
        Status st = loadPages();
        if (!st.ok()) return st.error();
    }
    const Format& f = m_db.format();
    while (m_pageIndex < m_pages.size()) {
        uint32_t pageNumber = m_pages[m_pageIndex];
        if (!m_page) {
            auto p = m_db.pages().page(pageNumber);
            if (!p.ok()) {
                ++m_pageIndex;
                return p.error();
            }
            const Page& pg = **p;
            // Usage maps may list pages of other owners; only this table's data pages count.
            if (pg[0] != 0x01 || u32At(pg.data() + 4) != m_table->tdefPage) {
                ++m_pageIndex;
                continue;
            }
            auto n = dataRowCount(pg, f, pageNumber);
            if (!n.ok()) {
                ++m_pageIndex;
                return n.error();
            }
            m_page = std::move(*p);
            m_rowCount = *n;
            m_rowIndex = 0;
            // Row ids and row pointers keep the row number in one byte; rows past
            // that could only be reported under another row's id.
            if (m_rowCount > kMaxRowsPerPage) {
                m_rowCount = kMaxRowsPerPage;
                return corrupt(pageNumber, "data page claims " + std::to_string(*n) +
                                               " rows, more than a page can address")
                    .withContext("table \"" + m_table->name + "\"");
            }
        }
        while (m_rowIndex < m_rowCount) {
            uint32_t row = m_rowIndex++;
            auto r = readRow(pageNumber, row, m_page);
            if (!r.ok()) return r.error().withContext("table \"" + m_table->name + "\"");
            if (*r) return true;
        }
        m_page.reset();
        ++m_pageIndex;
    }
    return false;
}

Result<bool> TableCursor::seek(RowId id) {
    uint32_t pageNumber = id >> 8;
    auto p = m_db.pages().page(pageNumber);
    if (!p.ok()) return p.error();
    if ((**p)[0] != 0x01 || u32At((**p).data() + 4) != m_table->tdefPage)
        return corrupt(pageNumber, "row id does not belong to table \"" + m_table->name + "\"");
    return readRow(pageNumber, id & 0xFF, *p);
}

}  // namespace tab::jet
