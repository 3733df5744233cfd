#include "tabulary/jet/page_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
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
    std::vector<uint8_t> out(length);
    if (Status st = readInto(offset, out.data(), length); !st.ok()) return st.error();
    return out;
}

Status PageSource::readInto(uint64_t offset, uint8_t* out, size_t length) {
    if (offset > m_fileSize || length > m_fileSize - offset)
        return corrupt("read past the end of the file");
    if (m_fd < 0) {
        std::memcpy(out, m_image.data() + offset, length);
        return {};
    }
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(m_fd, out + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(errno, m_path);
        }
        if (n == 0) return Error(Errc::Io, m_path + ": file shrank while reading");
        done += static_cast<size_t>(n);
    }
    return {};
}

std::shared_ptr<Page> PageSource::spareBuffer() {
    if (m_spare.empty()) return std::make_shared<Page>(m_pageSize);
    std::shared_ptr<Page> p = std::move(m_spare.back());
    m_spare.pop_back();
    p->resize(m_pageSize);
    return p;
}

void PageSource::remember(uint32_t number, PageRef page) {
    m_lru.emplace_front(number, std::move(page));
    m_cached[number] = m_lru.begin();
    if (m_lru.size() > kCacheSize) {
        PageRef& old = m_lru.back().second;
        // Made here as a mutable Page; once no one else holds it, it is ours to refill.
        if (old.use_count() == 1 && m_spare.size() < 2 * kReadAhead)
            m_spare.push_back(std::const_pointer_cast<Page>(std::move(old)));
        m_cached.erase(m_lru.back().first);
        m_lru.pop_back();
    }
}

bool PageSource::loadRun(uint32_t number, PageRef& first) {
    if (m_fd < 0 || number == 0 || number >= m_pageCount) return false;
    uint32_t count = 1;
    while (count < kReadAhead && number + count < m_pageCount &&
           m_cached.find(number + count) == m_cached.end())
        ++count;
    const uint64_t offset = uint64_t{number} * m_pageSize;
    if (offset + uint64_t{count} * m_pageSize > m_fileSize) return false;
    std::shared_ptr<Page> bufs[kReadAhead];
    iovec iov[kReadAhead];
    for (uint32_t i = 0; i < count; ++i) {
        bufs[i] = spareBuffer();
        iov[i].iov_base = bufs[i]->data();
        iov[i].iov_len = m_pageSize;
    }
    ssize_t n;
    do {
        n = ::preadv(m_fd, iov, static_cast<int>(count), static_cast<off_t>(offset));
    } while (n < 0 && errno == EINTR);
    auto whole = n < 0 ? 0 : static_cast<uint32_t>(static_cast<size_t>(n) / m_pageSize);
    for (uint32_t i = whole; i < count; ++i) m_spare.push_back(std::move(bufs[i]));
    if (whole == 0) return false;  // read again alone, which reports the error
    for (uint32_t i = 0; i < whole; ++i) {
        if (m_decoder) m_decoder(number + i, std::span<uint8_t>(bufs[i]->data(), m_pageSize));
        PageRef ref(std::move(bufs[i]));
        if (i == 0) first = ref;
        remember(number + i, std::move(ref));
    }
    m_lastLoaded = number + whole - 1;
    return true;
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
    // The page after the last one read from the file: a scan, so read ahead.
    const bool sequential = number == m_lastLoaded + 1;
    m_lastLoaded = number;
    if (PageRef run; sequential && loadRun(number, run)) return run;
    auto loaded = load(number);
    if (!loaded.ok()) return loaded.error();
    remember(number, *loaded);
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
    std::shared_ptr<Page> page = spareBuffer();
    if (Status st = readInto(uint64_t{number} * m_pageSize, page->data(), m_pageSize); !st.ok()) {
        m_spare.push_back(std::move(page));
        return st.error();
    }
    if (m_decoder) m_decoder(number, std::span<uint8_t>(page->data(), page->size()));
    return PageRef(std::move(page));
}

}  // namespace tab::jet
