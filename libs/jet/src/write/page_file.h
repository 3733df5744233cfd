// The output file of the writer: pages are numbered as they are allocated and
// may be written in any order; everything goes to a temporary file that
// commit() renames over the target.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tabulary/base/error.h"

namespace tab::jet::write {

constexpr uint32_t kPageSize = 4096;
using PageBuf = std::array<uint8_t, kPageSize>;

class PageFile {
public:
    static constexpr uint32_t kMaxPages = 0x80000;  // 2 GB of 4 KB pages

    static Result<std::unique_ptr<PageFile>> create(const std::string& path);
    ~PageFile();  // removes the temporary file unless committed

    uint32_t allocate();  // next page number; the page must be written before commit
    uint32_t pageCount() const { return m_count; }
    Status write(uint32_t page, const uint8_t* data);
    Status write(uint32_t page, const PageBuf& buf) { return write(page, buf.data()); }
    // Flushes, checks that every allocated page was written, and renames.
    Status commit(bool durable = true);

private:
    PageFile() = default;
    std::string m_target, m_temp;
    int m_fd = -1;
    uint32_t m_count = 0;
    std::vector<bool> m_written;
    bool m_committed = false;
};

// Little-endian stores into a byte buffer; the caller guarantees the room.
inline void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void append16(std::string& s, uint32_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
inline void append32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace tab::jet::write
