#include "tabulary/writers/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <random>

namespace tab::writers {

namespace {

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool folderRefusesNewFiles(int err) {
    return err == EACCES || err == EPERM || err == EROFS;
}

}  // namespace

void OutputStream::reset(int fd, std::string name) {
    m_fd = fd;
    m_name = std::move(name);
    m_buffer.clear();
}

Status OutputStream::flush() {
    if (m_fd < 0) return {};
    const char* p = m_buffer.data();
    size_t left = m_buffer.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            m_buffer.clear();
            return ioError(err, m_name);
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    m_buffer.clear();
    return {};
}

OutputFile::~OutputFile() {
    abandon();
}

void OutputFile::abandon() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
    m_temporary.clear();
}

Status OutputFile::open(const std::string& path, unsigned newMode) {
    abandon();
    m_path = path;
    m_inPlace = false;
    m_replacing = false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        // Renaming over a link or a shared inode would cut it off from what
        // it stands for; such targets are written where they are.
        if (!S_ISREG(st.st_mode) || st.st_nlink > 1) m_inPlace = true;
        m_replacing = S_ISREG(st.st_mode);
        m_mode = st.st_mode & 07777;
        m_uid = st.st_uid;
        m_gid = st.st_gid;
    } else if (errno != ENOENT) {
        return ioError(errno, path);
    }
    if (!m_inPlace) {
        const std::string stem = folderOf(path) + "/." + baseOf(path) + ".";
        std::random_device seed;
        std::mt19937 draw(seed());
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            std::string name = stem + std::to_string(draw() % 1000000u) + ".part";
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                  m_replacing ? 0600 : static_cast<mode_t>(newMode));
            if (fd >= 0) {
                m_fd = fd;
                m_temporary = std::move(name);
            } else if (errno != EEXIST) {
                if (folderRefusesNewFiles(errno) && m_replacing) break;  // try in place
                return ioError(errno, path);
            }
        }
        if (m_fd < 0 && !m_replacing) return ioError(EEXIST, path);
        if (m_fd < 0) m_inPlace = true;
    }
    if (m_inPlace) {
        m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                      static_cast<mode_t>(newMode));
        if (m_fd < 0) return ioError(errno, path);
    } else if (m_replacing) {
        // The replacement keeps the replaced file's permissions and, where
        // we may, its owner.
        if (::fchmod(m_fd, static_cast<mode_t>(m_mode)) != 0) {
            const int err = errno;
            abandon();
            return ioError(err, path);
        }
        if ((m_uid != ::geteuid() || m_gid != ::getegid()) &&
            ::fchown(m_fd, static_cast<uid_t>(m_uid), static_cast<gid_t>(m_gid)) != 0) {
            // Not ours to give away: the copy stays ours, with the same mode.
        }
    }
    m_stream.reset(m_fd, path);
    return {};
}

Status OutputFile::commit() {
    if (m_fd < 0) return Error(Errc::Internal, m_path + ": the file is not open");
    if (auto st = m_stream.flush(); !st.ok()) {
        abandon();
        return st;
    }
    if (!m_inPlace && ::fsync(m_fd) != 0) {
        const int err = errno;
        abandon();
        return ioError(err, m_path);
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        const int err = errno;
        abandon();
        return ioError(err, m_path);
    }
    if (!m_inPlace) {
        if (::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
            const int err = errno;
            abandon();
            return ioError(err, m_path);
        }
        m_temporary.clear();
    }
    return {};
}

}  // namespace tab::writers
