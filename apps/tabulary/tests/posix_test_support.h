// File-mode helpers shared by the helpers' tests.
#pragma once

#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QString>

namespace tab::gui::testing {

// Root reads and writes whatever the modes say; tests of refusals skip then.
inline bool runningAsRoot() {
    return ::geteuid() == 0;
}

// The permission bits of a path (not followed through a link); 010000 when
// the path cannot be read.
inline mode_t modeOf(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return 07777 + 1;
    return info.st_mode & 07777;
}

// Sets the umask for one scope.
class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : m_old(::umask(mask)) {}
    ~UmaskGuard() { ::umask(m_old); }
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;

private:
    mode_t m_old;
};

}  // namespace tab::gui::testing
