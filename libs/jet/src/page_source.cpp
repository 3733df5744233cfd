#include "tabulary/jet/page_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "crypto/page_cipher.h"

namespace tab::jet {

Result<std::unique_ptr<PageSource>> PageSource::openFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ioError(errno, path);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        return ioError(e, path);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Error(Errc::Io, path + ": not a regular file");
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::unique_ptr<PageSource> src(new PageSource());
    src->m_fd = fd;
    src->m_path = path;
    src->m_fileSize = static_cast<uint64_t>(st.st_size);
    return src;
}

std::unique_ptr<PageSource> PageSource::fromMemory(std::vector<uint8_t> image) {
    std::unique_ptr<PageSource> src(new PageSource());
    src->m_fileSize = image.size();
    src->m_image = std::move(image);
    src->m_path = "(memory)";
    return src;
}

PageSource::~PageSource() {
    if (m_fd >= 0) ::close(m_fd);
}

void PageSource::setLayout(uint32_t pageSize, Decoder decoder) {
    m_pageSize = pageSize;
    m_pageCount = static_cast<uint32_t>(
        std::min<uint64_t>(m_fileSize / pageSize, uint64_t{0xFFFFFF} + 1));  // 24-bit page numbers
    m_decoder = std::move(decoder);
    m_cipher.reset();
    m_lru.clear();
    m_cached.clear();
}

void PageSource::setLayout(uint32_t pageSize, std::shared_ptr<const crypto::PageCipher> cipher) {
    Decoder decoder;
    if (cipher)
        decoder = [c = cipher](uint32_t number, std::span<uint8_t> page) {
            c->decrypt(number, page);
        };
    setLayout(pageSize, std::move(decoder));
    m_cipher = std::move(cipher);
}

Result<std::vector<uint8_t>> PageSource::readRaw(uint64_t offset, size_t length) {
    if (offset > m_fileSize || length > m_fileSize - offset)
        return corrupt("read past the end of the file");
    std::vector<uint8_t> out(length);
    if (m_fd < 0) {
        std::memcpy(out.data(), m_image.data() + offset, length);
        return out;
    }
    size_t done = 0;
    while (done < length) {
        ssize_t n =
            ::pread(m_fd, out.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(errno, m_path);
        }
        if (n == 0) return Error(Errc::Io, m_path + ": file shrank while reading");
        done += static_cast<size_t>(n);
    }
    return out;
}

Result<PageRef> PageSource::page(uint32_t number) {
    if (m_overlay) {
        if (PageRef staged = m_overlay->staged(number)) return staged;
        if (number >= m_pageCount && number < m_overlay->pageCount())
            return corrupt("page " + std::to_string(number) + " was added but never written");
    }
    auto it = m_cached.find(number);
    if (it != m_cached.end()) {
        m_lru.splice(m_lru.begin(), m_lru, it->second);
        return it->second->second;
    }
    auto loaded = load(number);
    if (!loaded.ok()) return loaded.error();
    m_lru.emplace_front(number, *loaded);
    m_cached[number] = m_lru.begin();
    if (m_lru.size() > kCacheSize) {
        m_cached.erase(m_lru.back().first);
        m_lru.pop_back();
    }
    return *loaded;
}

Status PageSource::refresh() {
    m_lru.clear();
    m_cached.clear();
    if (m_fd >= 0) {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0) return ioError(errno, m_path);
        m_fileSize = static_cast<uint64_t>(st.st_size);
    } else {
        m_fileSize = m_image.size();
    }
    m_pageCount =
        static_cast<uint32_t>(std::min<uint64_t>(m_fileSize / m_pageSize, uint64_t{0xFFFFFF} + 1));
    return Status::success();
}

Status PageSource::forget(const std::vector<uint32_t>& pages) {
    for (uint32_t n : pages) {
        auto it = m_cached.find(n);
        if (it == m_cached.end()) continue;
        m_lru.erase(it->second);
        m_cached.erase(it);
    }
    if (m_fd >= 0) {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0) return ioError(errno, m_path);
        m_fileSize = static_cast<uint64_t>(st.st_size);
    } else {
        m_fileSize = m_image.size();
    }
    m_pageCount =
        static_cast<uint32_t>(std::min<uint64_t>(m_fileSize / m_pageSize, uint64_t{0xFFFFFF} + 1));
    return Status::success();
}

void PageSource::writeImage(uint32_t number, std::span<const uint8_t> encodedPage) {
    const size_t at = size_t{number} * m_pageSize;
    if (m_image.size() < at + m_pageSize) m_image.resize(at + m_pageSize);
    std::memcpy(m_image.data() + at, encodedPage.data(),
                std::min<size_t>(encodedPage.size(), m_pageSize));
}

Result<PageRef> PageSource::load(uint32_t number) {
    if (number == 0 || number >= m_pageCount)
        return corrupt("page number " + std::to_string(number) + " outside the file (" +
                       std::to_string(m_pageCount) + " pages)");
    auto raw = readRaw(uint64_t{number} * m_pageSize, m_pageSize);
    if (!raw.ok()) return raw.error();
    auto page = std::make_shared<Page>(std::move(*raw));
    if (m_decoder) m_decoder(number, std::span<uint8_t>(page->data(), page->size()));
    return PageRef(std::move(page));
}

}  // namespace tab::jet
