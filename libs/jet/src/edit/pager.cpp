#include "edit/pager.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tabulary/jet/database.h"

namespace tab::jet::edit {

struct Pager::Impl {
    int fd = -1;
    uint32_t originalCount = 0;
    PagerOptions options;
    ~Impl() {
        if (fd >= 0) ::close(fd);
    }
};

Result<std::unique_ptr<Pager>> Pager::begin(Database& db, const PagerOptions& options) {
    if (db.format().jet3)
        return Error(Errc::Unsupported,
                     "Access 97 databases are read-only in this program; the statement would "
                     "change the file");
    std::unique_ptr<Pager> p(new Pager());
    p->m_db = &db;
    p->m_impl = std::make_unique<Impl>();
    p->m_impl->options = options;
    PageSource& src = db.pages();
    if (!src.inMemory()) {
        int fd = ::open(src.path().c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return ioError(errno, src.path());
        p->m_impl->fd = fd;
    }
    p->m_pageCount = src.pageCount();
    p->m_impl->originalCount = p->m_pageCount;
    p->m_active = true;
    src.setOverlay(p.get());
    return p;
}

Pager::~Pager() {
    if (m_active) rollback();
}

PageRef Pager::staged(uint32_t number) const {
    auto it = m_staged.find(number);
    return it == m_staged.end() ? nullptr : PageRef(it->second);
}

Result<PageRef> Pager::read(uint32_t number) {
    if (auto s = staged(number)) return s;
    return m_db->pages().page(number);
}

Result<uint8_t*> Pager::modify(uint32_t number) {
    if (!m_active) return Error(Errc::Internal, "the change is over");
    if (number == 0 || number >= m_pageCount)
        return corrupt("page " + std::to_string(number) + " outside the file");
    auto it = m_staged.find(number);
    if (it != m_staged.end()) return it->second->data();
    PageSource& src = m_db->pages();
    src.setOverlay(nullptr);
    auto original = src.page(number);
    src.setOverlay(this);
    if (!original.ok()) return original.error();
    auto copy = std::make_shared<Page>(**original);
    uint8_t* data = copy->data();
    m_staged.emplace(number, std::move(copy));
    return data;
}

Result<uint32_t> Pager::append() {
    if (!m_active) return Error(Errc::Internal, "the change is over");
    if (m_pageCount >= 0x80000)  // 2 GB of 4 KB pages
        return Error(Errc::Unsupported, "the database would grow beyond 2 GB");
    uint32_t n = m_pageCount++;
    m_staged.emplace(n, std::make_shared<Page>(m_db->pages().pageSize(), 0));
    return n;
}

Status Pager::commit() {
    if (!m_active) return Error(Errc::Internal, "the change is over");
    PageSource& src = m_db->pages();
    const uint32_t size = src.pageSize();
    std::vector<uint8_t> buf(size);
    for (const auto& [number, page] : m_staged) {
        std::memcpy(buf.data(), page->data(), size);
        if (src.decoder()) src.decoder()(number, buf);
        if (src.inMemory()) {
            src.writeImage(number, buf);
            continue;
        }
        size_t done = 0;
        while (done < size) {
            ssize_t n = ::pwrite(m_impl->fd, buf.data() + done, size - done,
                                 static_cast<off_t>(uint64_t{number} * size + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return ioError(errno, src.path());
            done += static_cast<size_t>(n);
        }
    }
    if (m_impl->fd >= 0 && m_impl->options.durable && ::fsync(m_impl->fd) != 0)
        return ioError(errno, src.path());
    m_staged.clear();
    m_active = false;
    src.setOverlay(nullptr);
    return m_db->reload();
}

void Pager::rollback() {
    m_staged.clear();
    m_active = false;
    m_db->pages().setOverlay(nullptr);
    (void)m_db->reload();
}

}  // namespace tab::jet::edit
