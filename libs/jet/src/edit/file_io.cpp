#include "edit/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

namespace tab::jet::edit {

namespace {

class PosixFileIo final : public FileIo {
public:
    int open(const std::string& path, int flags, mode_t mode) override {
        int fd;
        do fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        while (fd < 0 && errno == EINTR);
        return fd;
    }
    int close(int fd) override { return ::close(fd); }
    ssize_t pread(int fd, void* buf, size_t n, uint64_t offset) override {
        return ::pread(fd, buf, n, static_cast<off_t>(offset));
    }
    ssize_t pwrite(int fd, const void* buf, size_t n, uint64_t offset) override {
        return ::pwrite(fd, buf, n, static_cast<off_t>(offset));
    }
    int fsync(int fd) override { return ::fsync(fd); }
    int ftruncate(int fd, uint64_t size) override {
        return ::ftruncate(fd, static_cast<off_t>(size));
    }
    int unlink(const std::string& path) override { return ::unlink(path.c_str()); }
    int syncDirectory(const std::string& dir) override {
        int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return -1;
        int r = ::fsync(fd);
        int e = errno;
        ::close(fd);
        // Some file systems cannot sync a folder; their entries are as safe as they get.
        if (r != 0 && (e == EINVAL || e == EROFS)) return 0;
        errno = e;
        return r;
    }
    int fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
    int access(const std::string& path, int mode) override { return ::access(path.c_str(), mode); }
    int lock(int fd, bool exclusive) override {
        struct flock fl {};
        fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
        if (errno == EACCES) errno = EAGAIN;
        return -1;
    }
    int lockedElsewhere(int fd) override {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return -1;
        return fl.l_type == F_UNLCK ? 0 : 1;
    }
};

}  // namespace

FileIo& FileIo::system() {
    static PosixFileIo io;
    return io;
}

FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
    if (this != &o) {
        close();
        m_io = o.m_io;
        m_fd = o.m_fd;
        m_path = std::move(o.m_path);
        o.m_fd = -1;
    }
    return *this;
}

void FileHandle::close() {
    if (m_fd >= 0) m_io->close(m_fd);
    m_fd = -1;
}

Status FileHandle::readAll(std::span<uint8_t> out, uint64_t offset) const {
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = m_io->pread(m_fd, out.data() + done, out.size() - done, offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ioError(errno, m_path);
        if (n == 0) return Error(Errc::Io, m_path + ": the file ends early");
        done += static_cast<size_t>(n);
    }
    return Status::success();
}

Status FileHandle::writeAll(std::span<const uint8_t> data, uint64_t offset) const {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = m_io->pwrite(m_fd, data.data() + done, data.size() - done, offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ioError(errno, m_path);
        if (n == 0) return Error(Errc::Io, m_path + ": nothing could be written");
        done += static_cast<size_t>(n);
    }
    return Status::success();
}

Status FileHandle::sync() const {
    if (m_io->fsync(m_fd) != 0) return ioError(errno, m_path);
    return Status::success();
}

Status FileHandle::truncate(uint64_t size) const {
    int r;
    do r = m_io->ftruncate(m_fd, size);
    while (r != 0 && errno == EINTR);
    if (r != 0) return ioError(errno, m_path);
    return Status::success();
}

Result<uint64_t> FileHandle::size() const {
    struct stat st {};
    if (m_io->fstat(m_fd, &st) != 0) return ioError(errno, m_path);
    return static_cast<uint64_t>(st.st_size);
}

Result<bool> FileHandle::lockWithin(bool exclusive, std::chrono::milliseconds wait) const {
    const auto until = std::chrono::steady_clock::now() + wait;
    while (true) {
        if (m_io->lock(m_fd, exclusive) == 0) return true;
        if (errno != EAGAIN && errno != EINTR) return ioError(errno, m_path);
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

Result<FileHandle> openFile(FileIo& io, const std::string& path, int flags, mode_t mode) {
    int fd = io.open(path, flags, mode);
    if (fd < 0) return ioError(errno, path);
    return FileHandle(&io, fd, path);
}

Status removeFile(FileIo& io, const std::string& path) {
    if (io.unlink(path) != 0 && errno != ENOENT) return ioError(errno, path);
    return Status::success();
}

Status syncFolder(FileIo& io, const std::string& dir) {
    if (io.syncDirectory(dir) != 0) return ioError(errno, dir);
    return Status::success();
}

std::string resolvedPath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::canonical(path, ec);
    return ec ? path : p.string();
}

std::string folderOf(const std::string& path) {
    std::string dir = std::filesystem::path(path).parent_path().string();
    return dir.empty() ? std::string(".") : dir;
}

}  // namespace tab::jet::edit
