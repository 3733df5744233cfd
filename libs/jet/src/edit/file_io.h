// The file operations a change of a database performs, behind one interface
// so that tests can stand in a file system that fails (as a crash would) at
// any chosen write. Calls follow the POSIX conventions: -1 with errno set on
// failure. The helpers below loop over short transfers and turn failures
// into errors that name the file.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "tabulary/base/error.h"

namespace tab::jet::edit {

class FileIo {
public:
    virtual ~FileIo() = default;

    // The real file system.
    static FileIo& system();

    // open(2); creating a file (O_CREAT) changes the file system.
    virtual int open(const std::string& path, int flags, mode_t mode) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t pread(int fd, void* buf, size_t n, uint64_t offset) = 0;
    virtual ssize_t pwrite(int fd, const void* buf, size_t n, uint64_t offset) = 0;
    virtual int fsync(int fd) = 0;
    virtual int ftruncate(int fd, uint64_t size) = 0;
    virtual int unlink(const std::string& path) = 0;
    // Makes the folder's entries (a created or removed file) durable.
    virtual int syncDirectory(const std::string& dir) = 0;
    virtual int fstat(int fd, struct stat* st) = 0;
    // access(2): 0 when the file may be used with `mode` (R_OK, W_OK, F_OK).
    virtual int access(const std::string& path, int mode) = 0;

    // Open-file-description locks on the whole file, never blocking: 0 when
    // taken, -1 with EAGAIN when another open file holds a conflicting one.
    // They end with the file's close, and conflict between two opens of the
    // same file even within one process.
    virtual int lock(int fd, bool exclusive) = 0;
    // 1 when some other open file holds a lock on the file, 0 when none.
    virtual int lockedElsewhere(int fd) = 0;
};

// A descriptor closed through its FileIo when it goes out of scope.
class FileHandle {
public:
    FileHandle() = default;
    FileHandle(FileIo* io, int fd, std::string path)
        : m_io(io), m_fd(fd), m_path(std::move(path)) {}
    ~FileHandle() { close(); }
    FileHandle(FileHandle&& o) noexcept { *this = std::move(o); }
    FileHandle& operator=(FileHandle&& o) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }
    void close();

    Status readAll(std::span<uint8_t> out, uint64_t offset) const;
    Status writeAll(std::span<const uint8_t> data, uint64_t offset) const;
    Status sync() const;
    Status truncate(uint64_t size) const;
    Result<uint64_t> size() const;
    // Retries for up to `wait` while another open file holds a conflicting
    // lock; false when it still does.
    Result<bool> lockWithin(bool exclusive, std::chrono::milliseconds wait) const;

private:
    FileIo* m_io = nullptr;
    int m_fd = -1;
    std::string m_path;
};

Result<FileHandle> openFile(FileIo& io, const std::string& path, int flags, mode_t mode = 0666);
Status removeFile(FileIo& io, const std::string& path);
Status syncFolder(FileIo& io, const std::string& dir);

// The folder holding `path` ("." for a bare name).
std::string folderOf(const std::string& path);
// `path` with symbolic links resolved, so that the journal and the lock file
// of a database are found whichever link it was opened by; `path` itself when
// it cannot be resolved.
std::string resolvedPath(const std::string& path);

}  // namespace tab::jet::edit
