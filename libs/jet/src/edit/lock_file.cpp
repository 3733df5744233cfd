#include "edit/lock_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace tab::jet::edit {

namespace {

constexpr size_t kNameSize = 32;
constexpr size_t kEntrySize = 2 * kNameSize;

std::string nameAt(std::span<const uint8_t> bytes, size_t at) {
    std::string out;
    for (size_t i = at; i < std::min(bytes.size(), at + kNameSize) && bytes[i] != 0; ++i)
        out.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '?');
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

Error inUse(const std::string& db, const std::string& lock, const LockEntry& e) {
    std::string where = e.computer.empty() ? std::string("another computer or program")
                                           : "the computer \"" + e.computer + "\"";
    return Error(Errc::Io,
                 db + " is open in Access or another program on " + where + " (its lock file " +
                     lock +
                     " exists); close it there and try again. If no program has the database "
                     "open, the lock file was left behind by a crash and can be deleted.");
}

}  // namespace

std::string lockFilePath(const std::string& databasePath) {
    std::filesystem::path p(databasePath);
    const bool accdb = equalsNoCase(p.extension().string(), ".accdb");
    p.replace_extension(accdb ? ".laccdb" : ".ldb");
    return p.string();
}

LockEntry parseLockEntry(std::span<const uint8_t> bytes) {
    return LockEntry{nameAt(bytes, 0), nameAt(bytes, kNameSize)};
}

std::vector<uint8_t> encodeLockEntry(const std::string& computer, const std::string& user) {
    std::vector<uint8_t> out(kEntrySize, 0);
    std::copy_n(computer.begin(), std::min(computer.size(), kNameSize - 1), out.begin());
    std::copy_n(user.begin(), std::min(user.size(), kNameSize - 1), out.begin() + kNameSize);
    return out;
}

std::string lockComputerName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == 0) return "localhost";
    std::string name(buf);
    if (name.size() > kNameSize - 1) name.resize(kNameSize - 1);
    // Stored and compared in the form a reader of the entry sees.
    return nameAt(encodeLockEntry(name, ""), 0);
}

Result<std::unique_ptr<LockFile>> LockFile::acquire(FileIo& io, const std::string& databasePath) {
    std::unique_ptr<LockFile> lf(new LockFile());
    lf->m_io = &io;
    lf->m_path = lockFilePath(databasePath);
    const std::string& path = lf->m_path;
    const std::string me = lockComputerName();
    const std::vector<uint8_t> entry = encodeLockEntry(me, "Admin");

    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = io.open(path, O_RDWR | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            lf->m_file = FileHandle(&io, fd, path);
            if (io.lock(fd, true) != 0) {
                Error e = ioError(errno, path);
                (void)lf->release();
                return e;
            }
            if (Status st = lf->m_file.writeAll(entry, 0); !st.ok()) {
                (void)lf->release();
                return st.error();
            }
            return lf;
        }
        if (errno != EEXIST) return ioError(errno, path);

        bool canWrite = true;
        fd = io.open(path, O_RDWR, 0);
        if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
            canWrite = false;
            fd = io.open(path, O_RDONLY, 0);
        }
        if (fd < 0) {
            if (errno == ENOENT) continue;  // removed meanwhile: create it
            return ioError(errno, path);
        }
        FileHandle file(&io, fd, path);
        std::vector<uint8_t> first(kEntrySize, 0);
        TAB_ASSIGN_OR_RETURN(uint64_t size, file.size());
        first.resize(static_cast<size_t>(std::min<uint64_t>(size, kEntrySize)));
        TAB_TRY(file.readAll(first, 0));
        LockEntry e = parseLockEntry(first);
        int held = io.lockedElsewhere(fd);
        if (held < 0) return ioError(errno, path);
        const bool oursOrNobodys = e.computer.empty() || e.computer == me;
        if (held == 1 && !oursOrNobodys) return inUse(databasePath, path, e);
        if (held == 1)
            return Error(Errc::Io, databasePath +
                                       " is being changed by another program; try again in a "
                                       "moment");
        if (!canWrite || !oursOrNobodys) return inUse(databasePath, path, e);
        // Ours from a change that did not end, or one whose entry never reached the disk:
        // take it over.
        if (io.lock(fd, true) != 0)
            return Error(Errc::Io, databasePath +
                                       " is being changed by another program; try again in a "
                                       "moment");
        lf->m_file = std::move(file);
        Status st = lf->m_file.writeAll(entry, 0);
        if (st.ok() && size > kEntrySize) st = lf->m_file.truncate(kEntrySize);
        if (!st.ok()) {
            (void)lf->release();
            return st.error();
        }
        return lf;
    }
    return Error(Errc::Io, path + ": the lock file keeps appearing and disappearing");
}

LockFile::~LockFile() {
    (void)release();
}

Status LockFile::release() {
    if (!m_file.isOpen()) return Status::success();
    Status st = removeFile(*m_io, m_path);
    m_file.close();
    return st;
}

}  // namespace tab::jet::edit
