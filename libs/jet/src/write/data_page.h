// A data or LVAL page being filled: rows packed from the end of the page in
// slot order, the offset table growing from the header.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "write/page_file.h"

namespace tab::jet::write {

constexpr uint32_t kLvalOwner = 0x4C41564C;  // "LVAL"
constexpr size_t kDataHeader = 14;
constexpr uint32_t kMaxRowsPerPage = 255;  // row numbers are one byte

class DataPage {
public:
    void start(uint32_t number, uint32_t owner) {
        m_buf.fill(0);
        m_buf[0] = 0x01;
        m_buf[1] = 0x01;
        put32(m_buf.data() + 4, owner);
        m_number = number;
        m_rows = 0;
        m_end = kPageSize;
        m_open = true;
    }
    bool open() const { return m_open; }
    uint32_t number() const { return m_number; }
    uint32_t rows() const { return m_rows; }
    size_t freeSpace() const { return m_end - (kDataHeader + 2 * m_rows); }
    bool fits(size_t length) const {
        return m_open && m_rows < kMaxRowsPerPage && length + 2 <= freeSpace();
    }

    // Appends a row; returns its slot. The caller checked fits().
    uint8_t add(std::string_view row) {
        m_end -= row.size();
        std::memcpy(m_buf.data() + m_end, row.data(), row.size());
        put16(m_buf.data() + kDataHeader + 2 * m_rows, static_cast<uint32_t>(m_end));
        return static_cast<uint8_t>(m_rows++);
    }

    Status flush(PageFile& file) {
        put16(m_buf.data() + 2, static_cast<uint32_t>(freeSpace()));
        put16(m_buf.data() + 0x0C, m_rows);
        m_open = false;
        return file.write(m_number, m_buf);
    }

private:
    PageBuf m_buf{};
    uint32_t m_number = 0;
    uint32_t m_rows = 0;
    size_t m_end = kPageSize;
    bool m_open = false;
};

}  // namespace tab::jet::write
