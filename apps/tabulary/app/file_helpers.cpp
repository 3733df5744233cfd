#include "app/file_helpers.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "app/failure.h"

namespace tab::gui {

namespace {

QString osMessage(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray nativePath(const QString& path) {
    return QFile::encodeName(path);
}

// Text files the program reads are small; two gigabytes is the most taken.
constexpr qsizetype kReadLimit = qsizetype{1} << 31;

// What Windows-1252 puts at 0x80..0x9F; its five holes stay the C1 controls.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

inline char16_t cp1252(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : char16_t{byte};
}

inline bool continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at p (lead byte >= 0x80), 0 when
// there is none; the bounds of the second byte rule out overlong forms,
// surrogates and values above U+10FFFF.
inline int sequenceLength(const unsigned char* p, qsizetype left) {
    const unsigned char lead = p[0];
    if (lead >= 0xC2 && lead <= 0xDF) return left >= 2 && continuation(p[1]) ? 2 : 0;
    unsigned char low = 0x80, high = 0xBF;
    int length = 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high) return 0;
    for (int k = 2; k < length; ++k)
        if (!continuation(p[k])) return 0;
    return length;
}

Failure linkRefused(const QString& path) {
    return Failure(QStringLiteral("The work file \"%1\" is a symbolic link; it is not opened "
                                  "through a link.")
                       .arg(path),
                   ELOOP);
}

Failure anotherUsersFile(const QString& path) {
    return Failure(QStringLiteral("The work file \"%1\" belongs to another user; it is neither "
                                  "read nor written.")
                       .arg(path),
                   EPERM);
}

Failure notARegularFile(const QString& path) {
    return Failure(QStringLiteral("The work file \"%1\" is not a regular file.").arg(path));
}

// Checked on the open descriptor, so the file cannot be swapped after the check.
void refuseIfNotOurs(int fd, const struct stat& info, const QString& path) {
    if (info.st_uid == ::geteuid()) return;
    ::close(fd);
    throw anotherUsersFile(path);
}

// Reads an open file to its end and closes it.
QByteArray readBytesAndClose(int fd, const QString& path, off_t size) {
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            throw Failure(
                QStringLiteral("Cannot read the file \"%1\": %2").arg(path, osMessage(error)),
                error);
        }
        if (bytes.size() + got >= kReadLimit) {
            ::close(fd);
            throw Failure(QStringLiteral("The file \"%1\" is too large to read.").arg(path));
        }
        bytes.append(buffer, got);
    }
    ::close(fd);
    return bytes;
}

QString readAndClose(int fd, const QString& path, off_t size) {
    return decodeText(readBytesAndClose(fd, path, size));
}

// Opens a work file for reading: a regular file of ours, not reached through
// a symbolic link. Looked at first, so that a refused file is not even
// opened, and checked again on the descriptor, so that nothing swapped in
// between is read. -1 when there is no such file. O_NONBLOCK keeps a FIFO
// from blocking before it is refused.
int openWorkFileForReading(const QString& path, struct stat& info) {
    const QByteArray name = nativePath(path);
    struct stat seen {};
    if (::lstat(name.constData(), &seen) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return -1;
        throw Failure(QStringLiteral("Cannot open the file \"%1\": %2").arg(path, osMessage(error)),
                      error);
    }
    if (S_ISLNK(seen.st_mode)) throw linkRefused(path);
    if (seen.st_uid != ::geteuid()) throw anotherUsersFile(path);
    if (!S_ISREG(seen.st_mode)) throw notARegularFile(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return -1;
        if (error == ELOOP) throw linkRefused(path);
        throw Failure(QStringLiteral("Cannot open the file \"%1\": %2").arg(path, osMessage(error)),
                      error);
    }
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw Failure(QStringLiteral("Cannot read the file \"%1\": %2").arg(path, osMessage(error)),
                      error);
    }
    refuseIfNotOurs(fd, info, path);
    if (!S_ISREG(info.st_mode) || info.st_dev != seen.st_dev || info.st_ino != seen.st_ino) {
        ::close(fd);
        throw notARegularFile(path);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (info.st_size >= kReadLimit) {
        ::close(fd);
        throw Failure(QStringLiteral("The file \"%1\" is too large to read.").arg(path));
    }
    return fd;
}

void writeAll(int fd, QByteArrayView bytes, const QString& path) {
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            throw Failure(
                QStringLiteral("Cannot write the file \"%1\": %2").arg(path, osMessage(error)),
                error);
        }
        data += written;
        left -= written;
    }
}

// Opens a work file for writing without following a link, creating it 0600
// whatever the umask. A FIFO must not block the program, hence O_NONBLOCK
// until the file is known to be a regular one.
int openWorkFile(const QString& path, bool truncate) {
    const QByteArray name = nativePath(path);
    const int kFlags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (truncate ? 0 : O_APPEND);
    int fd = -1;
    bool created = false;
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        fd = ::open(name.constData(), kFlags | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            created = true;
            break;
        }
        if (errno != EEXIST) break;
        fd = ::open(name.constData(), kFlags);
        // Deleted between the two calls: create it again.
        if (fd < 0 && errno != ENOENT) break;
    }
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP) throw linkRefused(path);
        throw Failure(
            QStringLiteral("Cannot open the work file \"%1\": %2").arg(path, osMessage(error)),
            error);
    }
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    if (known) refuseIfNotOurs(fd, info, path);
    if (!known || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw notARegularFile(path);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // Truncated only once known to be a regular file, not at open.
    if ((created && ::fchmod(fd, 0600) != 0) || (truncate && ::ftruncate(fd, 0) != 0)) {
        const int error = errno;
        ::close(fd);
        throw Failure(
            QStringLiteral("Cannot prepare the work file \"%1\": %2").arg(path, osMessage(error)),
            error);
    }
    return fd;
}

void writeWorkFile(const QString& path, QByteArrayView bytes, bool truncate) {
    const int fd = openWorkFile(path, truncate);
    try {
        writeAll(fd, bytes, path);
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        throw Failure(
            QStringLiteral("Cannot write the file \"%1\": %2").arg(path, osMessage(error)), error);
    }
}

// Unlinks after making the file, and if need be its folder, writable by us;
// the folder gets its mode back, and so does the file when it survives.
void forceDelete(const QByteArray& name) {
    struct stat file {};
    if (::lstat(name.constData(), &file) != 0 || S_ISDIR(file.st_mode)) return;
    const bool isLink = S_ISLNK(file.st_mode);
    const bool fileChanged = !isLink && file.st_uid == ::geteuid() && !(file.st_mode & S_IWUSR) &&
                             ::chmod(name.constData(), (file.st_mode & 07777) | S_IWUSR) == 0;
    if (::unlink(name.constData()) == 0) return;

    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(name)).absolutePath());
    struct stat dir {};
    if (::stat(folder.constData(), &dir) == 0 && dir.st_uid == ::geteuid()) {
        const mode_t mode = dir.st_mode & 07777;
        if (::chmod(folder.constData(), mode | S_IWUSR | S_IXUSR) == 0) {
            const bool removed = ::unlink(name.constData()) == 0;
            ::chmod(folder.constData(), mode);
            if (removed) return;
        }
    }
    if (fileChanged) ::chmod(name.constData(), file.st_mode & 07777);
}

}  // namespace

bool PathExists(const QString& path) {
    if (path.isEmpty()) return false;
    struct stat info {};
    return ::stat(nativePath(path).constData(), &info) == 0;
}

QString ReadTextFile(const QString& path) {
    if (!PathExists(path)) return QString();
    const QByteArray name = nativePath(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) return QString();
    if (S_ISDIR(info.st_mode))
        throw Failure(
            QStringLiteral("Cannot read the file \"%1\": %2").arg(path, osMessage(EISDIR)), EISDIR);
    if (info.st_size == 0) return QStringLiteral("empty file");
    if (info.st_size >= kReadLimit)
        throw Failure(QStringLiteral("The file \"%1\" is too large to read.").arg(path));

    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw Failure(QStringLiteral("Cannot open the file \"%1\": %2").arg(path, osMessage(error)),
                      error);
    }
    return readAndClose(fd, path, info.st_size);
}

QString ReadWorkFile(const QString& path) {
    if (path.isEmpty()) return QString();
    struct stat info {};
    const int fd = openWorkFileForReading(path, info);
    if (fd < 0) return QString();
    if (info.st_size == 0) {
        ::close(fd);
        return QStringLiteral("empty file");
    }
    return readAndClose(fd, path, info.st_size);
}

QByteArray ReadWorkFileBytes(const QString& path) {
    struct stat info {};
    const int fd = path.isEmpty() ? -1 : openWorkFileForReading(path, info);
    if (fd < 0) {
        throw Failure(
            QStringLiteral("Cannot open the file \"%1\": %2").arg(path, osMessage(ENOENT)), ENOENT);
    }
    return readBytesAndClose(fd, path, info.st_size);
}

void DeleteFileQuietly(const QString& path) {
    QCoreApplication::processEvents();
    if (path.isEmpty()) return;
    const QByteArray name = nativePath(path);
    if (::unlink(name.constData()) == 0 || errno == ENOENT || errno == ENOTDIR) return;
    forceDelete(name);
}

QString decodeText(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    // Every byte gives at most one UTF-16 unit (four bytes give two).
    QString text(n, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    char16_t* const begin = out;
    qsizetype i = 0;
    while (i < n) {
        // Runs of ASCII, eight bytes at a time.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (word & 0x8080808080808080ULL) break;
            for (int k = 0; k < 8; ++k) out[k] = p[i + k];
            out += 8;
            i += 8;
        }
        while (i < n && p[i] < 0x80) *out++ = p[i++];
        if (i >= n) break;

        const int length = sequenceLength(p + i, n - i);
        switch (length) {
            case 2:
                *out++ = static_cast<char16_t>(((p[i] & 0x1F) << 6) | (p[i + 1] & 0x3F));
                break;
            case 3:
                *out++ = static_cast<char16_t>(((p[i] & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) |
                                               (p[i + 2] & 0x3F));
                break;
            case 4: {
                const char32_t cp = ((p[i] & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12) |
                                    ((p[i + 2] & 0x3Fu) << 6) | (p[i + 3] & 0x3Fu);
                *out++ = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
                *out++ = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
                break;
            }
            default:
                *out++ = cp1252(p[i]);
                i += 1;
                continue;
        }
        i += length;
    }
    text.resize(out - begin);
    return text;
}

QByteArray encodeText(const QString& text) {
    return text.toUtf8();
}

WorkFile::~WorkFile() {
    if (m_fd >= 0) ::close(m_fd);
}

void WorkFile::openForAppend(const QString& path) {
    if (m_fd >= 0) throw Failure(QStringLiteral("The file \"%1\" is already open.").arg(m_path));
    m_fd = openWorkFile(path, false);
    m_path = path;
}

void WorkFile::write(QByteArrayView bytes) {
    if (m_fd < 0) throw Failure(QStringLiteral("The file is not open."));
    writeAll(m_fd, bytes, m_path);
}

void WorkFile::close() {
    if (m_fd < 0) throw Failure(QStringLiteral("The file is not open."));
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        throw Failure(
            QStringLiteral("Cannot write the file \"%1\": %2").arg(m_path, osMessage(error)),
            error);
    }
}

void appendToWorkFile(const QString& path, QByteArrayView bytes) {
    writeWorkFile(path, bytes, false);
}

void replaceWorkFile(const QString& path, QByteArrayView bytes) {
    writeWorkFile(path, bytes, true);
}

}  // namespace tab::gui
