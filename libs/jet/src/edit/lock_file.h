// The lock file Access keeps beside a database it has open ("name.ldb", or
// "name.laccdb" for an .accdb): entries of 64 bytes, a computer name and a
// user name of 32 bytes each, NUL-padded. A change refuses to start while
// such a file exists, since Access's own locks are not visible here; while
// it runs it keeps one of its own (this computer, user "Admin") so Access
// sees the database as in use, and removes it at the end.
//
// A lock file naming this computer that no open file holds a lock on was
// left behind by a change of ours that crashed; it is taken over, and so is
// one that names no computer at all (empty or zeros: its entry never reached
// the disk, as after a power failure), which a session of Access does not
// leave while it has the database open. Every
// change holds the database's write lock before it looks at the lock file,
// so two of ours never race for it.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "file_io.h"
#include "tabulary/base/error.h"

namespace tab::jet::edit {

std::string lockFilePath(const std::string& databasePath);

// The first entry of a lock file's bytes; empty names where they are absent.
struct LockEntry {
    std::string computer;
    std::string user;
};
LockEntry parseLockEntry(std::span<const uint8_t> bytes);
std::vector<uint8_t> encodeLockEntry(const std::string& computer, const std::string& user);

// This computer's name as a lock file entry holds it.
std::string lockComputerName();

class LockFile {
public:
    // Creates (or takes over) the lock file of the database at `databasePath`.
    static Result<std::unique_ptr<LockFile>> acquire(FileIo& io, const std::string& databasePath);
    ~LockFile();  // releases, ignoring failures
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    // Deletes the file, then gives up its lock.
    Status release();
    const std::string& path() const { return m_path; }

private:
    LockFile() = default;
    FileIo* m_io = nullptr;
    std::string m_path;
    FileHandle m_file;
};

}  // namespace tab::jet::edit
