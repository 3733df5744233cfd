#include "write/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tab::jet::write {

namespace {
Error sysError(const std::string& what, const std::string& path) {
    return Error(Errc::Io, what + " \"" + path + "\": " + std::strerror(errno));
}
}  // namespace

Result<std::unique_ptr<PageFile>> PageFile::create(const std::string& path) {
    std::unique_ptr<PageFile> f(new PageFile());
    f->m_target = path;
    f->m_temp = path + ".tmp-XXXXXX";
    std::vector<char> name(f->m_temp.begin(), f->m_temp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return sysError("cannot create a file beside", path);
    f->m_temp.assign(name.data());
    f->m_fd = fd;
    // mkstemp makes the file private; a database gets the usual permissions.
    mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0)
        return sysError("cannot set the permissions of", f->m_temp);
    return f;
}

PageFile::~PageFile() {
    if (m_fd >= 0) ::close(m_fd);
    if (!m_committed && !m_temp.empty()) ::unlink(m_temp.c_str());
}

uint32_t PageFile::allocate() {
    m_written.push_back(false);
    return m_count++;
}

Status PageFile::write(uint32_t page, const uint8_t* data) {
    if (page >= m_count) return Error(Errc::Internal, "page written before it was allocated");
    // Access opens no file beyond 2 GB, whatever the page numbers could address.
    if (page >= kMaxPages) return Error(Errc::Unsupported, "the database would grow beyond 2 GB");
    off_t at = static_cast<off_t>(page) * kPageSize;
    size_t done = 0;
    while (done < kPageSize) {
        ssize_t n = ::pwrite(m_fd, data + done, kPageSize - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return sysError("cannot write", m_temp);
        done += static_cast<size_t>(n);
    }
    m_written[page] = true;
    return {};
}

Status PageFile::commit(bool durable) {
    for (uint32_t p = 0; p < m_count; ++p)
        if (!m_written[p])
            return Error(Errc::Internal,
                         "page " + std::to_string(p) + " was allocated but never written");
    if (durable && ::fsync(m_fd) != 0) return sysError("cannot flush", m_temp);
    if (::close(m_fd) != 0) {
        m_fd = -1;
        return sysError("cannot close", m_temp);
    }
    m_fd = -1;
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0)
        return sysError("cannot rename onto", m_target);
    m_committed = true;
    return {};
}

}  // namespace tab::jet::write
