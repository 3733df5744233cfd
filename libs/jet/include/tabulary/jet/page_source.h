// Page access for one database file: reads whole pages from a file or a
// memory image, undoes the page encoding, and keeps a small cache so that
// memory stays bounded whatever the file's size.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "tabulary/base/error.h"

namespace tab::jet {

using Page = std::vector<uint8_t>;
using PageRef = std::shared_ptr<const Page>;

class PageSource {
public:
    // Decrypts page `number` in place (never called for page 0).
    using Decoder = std::function<void(uint32_t number, std::span<uint8_t> page)>;

    static Result<std::unique_ptr<PageSource>> openFile(const std::string& path);
    static std::unique_ptr<PageSource> fromMemory(std::vector<uint8_t> image);
    ~PageSource();

    uint64_t fileSize() const { return m_fileSize; }
    const std::string& path() const { return m_path; }

    // Must be called once the header is known.
    void setLayout(uint32_t pageSize, Decoder decoder);
    uint32_t pageSize() const { return m_pageSize; }
    uint32_t pageCount() const { return m_pageCount; }

    // Reads raw bytes without decoding (the header).
    Result<std::vector<uint8_t>> readRaw(uint64_t offset, size_t length);

    // Page `number` (1 <= number < pageCount), decoded.
    Result<PageRef> page(uint32_t number);

private:
    PageSource() = default;
    Result<PageRef> load(uint32_t number);

    int m_fd = -1;
    std::vector<uint8_t> m_image;  // memory-backed sources
    std::string m_path;
    uint64_t m_fileSize = 0;
    uint32_t m_pageSize = 4096;
    uint32_t m_pageCount = 0;
    Decoder m_decoder;

    // LRU cache of decoded pages: 16 MB, enough to keep a 100,000-row table's
    // pages while another table is scanned beside it.
    static constexpr size_t kCacheSize = 4096;
    std::list<std::pair<uint32_t, PageRef>> m_lru;
    std::unordered_map<uint32_t, std::list<std::pair<uint32_t, PageRef>>::iterator> m_cached;
};

}  // namespace tab::jet
