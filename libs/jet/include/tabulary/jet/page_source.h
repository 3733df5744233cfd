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

namespace crypto {
class PageCipher;
}

using Page = std::vector<uint8_t>;
using PageRef = std::shared_ptr<const Page>;

// Pages of a change in progress, read before the file's own (decoded, like
// every page the source returns).
class PageOverlay {
public:
    virtual ~PageOverlay() = default;
    virtual uint32_t pageCount() const = 0;
    // Null when the change has not touched the page.
    virtual PageRef staged(uint32_t number) const = 0;
};

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
    // Pages enciphered with `cipher` (null: plain): decrypted as they are read.
    void setLayout(uint32_t pageSize, std::shared_ptr<const crypto::PageCipher> cipher);
    uint32_t pageSize() const { return m_pageSize; }
    uint32_t pageCount() const { return m_overlay ? m_overlay->pageCount() : m_pageCount; }

    // Reads raw bytes without decoding (the header).
    Result<std::vector<uint8_t>> readRaw(uint64_t offset, size_t length);

    // Page `number` (1 <= number < pageCount), decoded.
    Result<PageRef> page(uint32_t number);

    // While set, page() and pageCount() answer from the overlay first.
    void setOverlay(const PageOverlay* overlay) { m_overlay = overlay; }
    const PageOverlay* overlay() const { return m_overlay; }
    // After the file changed: drops the cached pages and takes the file's
    // new size.
    Status refresh();
    // After a change that wrote `pages` (and maybe added some): only those
    // leave the cache.
    Status forget(const std::vector<uint32_t>& pages);
    const Decoder& decoder() const { return m_decoder; }
    // The file's page cipher, when set by setLayout; its encrypt() turns a
    // page back into what the file stores (for Office AES that is not decrypt()).
    const crypto::PageCipher* cipher() const { return m_cipher.get(); }
    bool inMemory() const { return m_fd < 0; }
    // Memory sources only: the image as it now stands, and replacing pages
    // of it (a change of a memory database ends here instead of in a file).
    const std::vector<uint8_t>& image() const { return m_image; }
    void writeImage(uint32_t number, std::span<const uint8_t> encodedPage);

private:
    PageSource() = default;
    Result<PageRef> load(uint32_t number);
    Status readInto(uint64_t offset, uint8_t* out, size_t length);
    // Reads pages `number`.. ahead of a sequential scan with one call; false
    // when that is not possible (then the page is read alone).
    bool loadRun(uint32_t number, PageRef& first);
    void remember(uint32_t number, PageRef page);
    std::shared_ptr<Page> spareBuffer();

    int m_fd = -1;
    std::vector<uint8_t> m_image;  // memory-backed sources
    std::string m_path;
    uint64_t m_fileSize = 0;
    uint32_t m_pageSize = 4096;
    uint32_t m_pageCount = 0;
    Decoder m_decoder;
    std::shared_ptr<const crypto::PageCipher> m_cipher;
    const PageOverlay* m_overlay = nullptr;

    // LRU cache of decoded pages: 16 MB, enough to keep a 100,000-row table's
    // pages while another table is scanned beside it.
    static constexpr size_t kCacheSize = 4096;
    std::list<std::pair<uint32_t, PageRef>> m_lru;
    std::unordered_map<uint32_t, std::list<std::pair<uint32_t, PageRef>>::iterator> m_cached;
    // Pages dropped from the cache that nobody holds any more, reused so a
    // scan neither allocates nor faults in fresh memory for every page.
    std::vector<std::shared_ptr<Page>> m_spare;
    uint32_t m_lastLoaded = 0;
    static constexpr uint32_t kReadAhead = 16;  // pages per read in a sequential scan
};

}  // namespace tab::jet
