// A file system for crash tests: the real one, stopping at a chosen
// operation as a crash would, optionally tearing the write it stops at and
// then losing what was never synced.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "../src/edit/file_io.h"

namespace tab::jet::edit {

// The real file system, failing from the crashAt-th operation that changes a
// file on (every later one fails too, as after a crash; nothing is cleaned
// up). Optionally the failing write is torn: only part of it reaches the
// file. powerLoss() then also takes back what was never synced: writes and
// truncations since a file's last fsync and files created since their
// folder's last sync are lost, except for the database's own writes, which
// all reach the disk, or every other one of them. Paths in readOnly refuse
// writing.
class FaultIo final : public FileIo {
public:
    explicit FaultIo(int64_t crashAt = 0, bool tear = false) : m_crashAt(crashAt), m_tear(tear) {}
    int64_t mutations = 0;
    bool crashed = false;
    std::set<std::string> readOnly;
    std::vector<std::string> created;

    int open(const std::string& path, int flags, mode_t mode) override {
        if ((flags & O_ACCMODE) != O_RDONLY && readOnly.count(path)) return fail(EACCES);
        if ((flags & (O_CREAT | O_TRUNC)) && mutate()) return fail(EIO);
        const bool existed = std::filesystem::exists(path);
        int fd = real().open(path, flags, mode);
        if (fd < 0) return fd;
        m_paths[fd] = path;
        if ((flags & O_CREAT) && !existed) {
            created.push_back(path);
            m_unsynced[path].created = true;
        }
        return fd;
    }
    int close(int fd) override { return real().close(fd); }
    ssize_t pread(int fd, void* buf, size_t n, uint64_t offset) override {
        return real().pread(fd, buf, n, offset);
    }
    ssize_t pwrite(int fd, const void* buf, size_t n, uint64_t offset) override {
        bool first = !crashed;
        if (!mutate()) {
            remember(fd, offset, n);
            return real().pwrite(fd, buf, n, offset);
        }
        if (first && m_tear && n > 1) {
            remember(fd, offset, n);
            (void)real().pwrite(fd, buf, std::min(n - 1, n / 2 + 7), offset);
        }
        return fail(EIO);
    }
    int fsync(int fd) override {
        if (mutate()) return fail(EIO);
        m_unsynced[m_paths[fd]].undo.clear();
        return real().fsync(fd);
    }
    int ftruncate(int fd, uint64_t size) override {
        if (mutate()) return fail(EIO);
        struct stat st {};
        real().fstat(fd, &st);
        if (static_cast<uint64_t>(st.st_size) > size)
            remember(fd, size, static_cast<uint64_t>(st.st_size) - size);
        else
            m_unsynced[m_paths[fd]].undo.push_back({0, {}, static_cast<uint64_t>(st.st_size)});
        return real().ftruncate(fd, size);
    }
    int unlink(const std::string& path) override {
        if (mutate()) return fail(EIO);
        m_unsynced.erase(path);
        return real().unlink(path);
    }
    int syncDirectory(const std::string& dir) override {
        if (mutate()) return fail(EIO);
        for (auto& [path, state] : m_unsynced)
            if (std::filesystem::path(path).parent_path() == std::filesystem::path(dir))
                state.created = false;
        return real().syncDirectory(dir);
    }
    int fstat(int fd, struct stat* st) override { return real().fstat(fd, st); }
    int access(const std::string& path, int mode) override {
        if ((mode & W_OK) && readOnly.count(path)) return fail(EACCES);
        return real().access(path, mode);
    }
    int lock(int fd, bool exclusive) override { return real().lock(fd, exclusive); }
    int lockedElsewhere(int fd) override { return real().lockedElsewhere(fd); }

    // After the crashed session has ended.
    void powerLoss(const std::string& database, bool everyDatabaseWrite) {
        for (auto& [path, state] : m_unsynced) {
            if (path == database && everyDatabaseWrite) continue;
            if (state.created) {
                std::filesystem::remove(path);
                continue;
            }
            int fd = ::open(path.c_str(), O_RDWR);
            if (fd < 0) continue;
            for (auto it = state.undo.rbegin(); it != state.undo.rend(); ++it) {
                if (path == database && (state.undo.rend() - it) % 2 == 0) continue;
                if (!it->bytes.empty()) {
                    EXPECT_EQ(::pwrite(fd, it->bytes.data(), it->bytes.size(),
                                       static_cast<off_t>(it->offset)),
                              static_cast<ssize_t>(it->bytes.size()));
                }
                EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(it->size)), 0);
            }
            ::close(fd);
        }
        m_unsynced.clear();
    }

private:
    struct Undo {
        uint64_t offset;
        std::vector<uint8_t> bytes;  // what was there
        uint64_t size;               // the file's size before
    };
    struct Unsynced {
        bool created = false;
        std::vector<Undo> undo;
    };
    static FileIo& real() { return FileIo::system(); }
    bool mutate() {
        ++mutations;
        if (m_crashAt > 0 && mutations >= m_crashAt) crashed = true;
        return crashed;
    }
    void remember(int fd, uint64_t offset, size_t n) {
        struct stat st {};
        real().fstat(fd, &st);
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        Undo u{offset, {}, size};
        if (offset < size) {
            u.bytes.resize(static_cast<size_t>(std::min<uint64_t>(n, size - offset)));
            EXPECT_EQ(real().pread(fd, u.bytes.data(), u.bytes.size(), offset),
                      static_cast<ssize_t>(u.bytes.size()));
        }
        m_unsynced[m_paths[fd]].undo.push_back(std::move(u));
    }
    static int fail(int e) {
        errno = e;
        return -1;
    }
    int64_t m_crashAt;
    bool m_tear;
    std::map<int, std::string> m_paths;
    std::map<std::string, Unsynced> m_unsynced;
};

}  // namespace tab::jet::edit
