#include "app/settings_store.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "app/app_paths.h"
#include "app/failure.h"
#include "app/file_helpers.h"

namespace tab::gui {

namespace {

// A settings file holds a few dozen short values; anything this large is not
// one of ours and is not parsed.
constexpr qsizetype kMaxFileSize = qsizetype{1} << 20;
constexpr QLatin1String kGroup("Tabulary");

QString osMessage(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void fail(const char* what, const QString& path, int error) {
    throw Failure(QStringLiteral("%1 the settings file \"%2\": %3")
                      .arg(QLatin1String(what), path, osMessage(error)),
                  error);
}

// The same for the error the last call left; read before anything else runs.
[[noreturn]] void failNow(const char* what, const QString& path) {
    fail(what, path, errno);
}

// Reads the whole file into `content`; false when it does not exist.
bool readFile(const QString& path, bool followLink, QByteArray& content) {
    const QByteArray name = QFile::encodeName(path);
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(name.constData(), flags);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) return false;
        fail("Cannot open", path, error);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw Failure(QStringLiteral("The settings file \"%1\" is not a regular file.").arg(path));
    }
    content.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            const int error = errno;
            if (error == EINTR) continue;
            ::close(fd);
            fail("Cannot read", path, error);
        }
        if (content.size() + got > kMaxFileSize) {
            ::close(fd);
            throw Failure(
                QStringLiteral("The settings file \"%1\" is larger than 1 MiB and is not read.")
                    .arg(path));
        }
        content.append(buffer, got);
    }
    ::close(fd);
    return true;
}

// Lines without their LF or CR LF; a last line without an end counts too.
QByteArrayList splitLines(const QByteArray& content) {
    QByteArrayList lines = content.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QByteArray& line : lines)
        if (line.endsWith('\r')) line.chop(1);
    return lines;
}

QByteArrayView withoutBom(QByteArrayView line, qsizetype index) {
    if (index == 0 && line.startsWith("\xEF\xBB\xBF")) return line.sliced(3);
    return line;
}

bool isGroup(QByteArrayView line, QString* name) {
    const QByteArrayView trimmed = line.trimmed();
    if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') return false;
    *name = decodeText(trimmed.sliced(1, trimmed.size() - 2)).trimmed();
    return true;
}

// The key of a "key=value" line and where its '=' is; false for comments
// and lines without '='.
bool keyOf(QByteArrayView line, QString* key, qsizetype* equals) {
    const QByteArrayView trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.front() == ';' || trimmed.front() == '#') return false;
    *equals = line.indexOf('=');
    if (*equals < 0) return false;
    *key = decodeText(line.first(*equals)).trimmed();
    return true;
}

QByteArray escape(const QString& value) {
    const QByteArray bytes = encodeText(value);
    QByteArray out;
    out.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        if (c == '\\')
            out.append("\\\\");
        else if (c == '\r')
            out.append("\\r");
        else if (c == '\n')
            out.append("\\n");
        else
            out.append(c);
    }
    return out;
}

// Unknown escapes are kept as they stand.
QString unescape(QByteArrayView raw) {
    QByteArray bytes;
    bytes.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c != '\\' || i + 1 == raw.size()) {
            bytes.append(c);
            continue;
        }
        const char next = raw[i + 1];
        if (next == '\\')
            bytes.append('\\');
        else if (next == 'r')
            bytes.append('\r');
        else if (next == 'n')
            bytes.append('\n');
        else {
            bytes.append(c);
            continue;
        }
        ++i;
    }
    return decodeText(bytes);
}

struct Lookup {
    qsizetype keyLine = -1;   // the line of the key, in any [Tabulary] group
    qsizetype equals = -1;    // where its '=' is
    qsizetype insertAt = -1;  // after the last key of the first [Tabulary]
};

Lookup find(const QByteArrayList& lines, const QString& key) {
    Lookup found;
    bool inGroup = false;
    bool firstGroup = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArrayView line = withoutBom(lines[i], i);
        QString name;
        if (isGroup(line, &name)) {
            inGroup = name.compare(kGroup, Qt::CaseInsensitive) == 0;
            firstGroup = inGroup && found.insertAt < 0;
            if (firstGroup) found.insertAt = i + 1;
            continue;
        }
        if (!inGroup) continue;
        QString lineKey;
        qsizetype equals = -1;
        if (!keyOf(line, &lineKey, &equals)) continue;
        if (firstGroup) found.insertAt = i + 1;
        if (found.keyLine < 0 && lineKey.compare(key, Qt::CaseInsensitive) == 0) {
            found.keyLine = i;
            found.equals = equals + (lines[i].size() - line.size());
        }
    }
    return found;
}

// Creates the folder and its missing parents owner-only.
void makeFolder(const QString& folder, const QString& path) {
    const QByteArray name = QFile::encodeName(folder);
    struct stat info {};
    if (::stat(name.constData(), &info) == 0) {
        if (!S_ISDIR(info.st_mode))
            throw Failure(QStringLiteral("Cannot write the settings file \"%1\": \"%2\" is not a "
                                         "folder.")
                              .arg(path, folder));
        return;
    }
    const QString parent = QDir::cleanPath(folder + QStringLiteral("/.."));
    if (parent != folder) makeFolder(parent, path);
    // Exactly 0700: a umask like 0277 would leave a folder we cannot write in.
    if (::mkdir(name.constData(), 0700) == 0) {
        ::chmod(name.constData(), 0700);
    } else if (errno != EEXIST) {
        const int error = errno;
        throw Failure(
            QStringLiteral("Cannot create the folder \"%1\" for the settings file \"%2\": %3")
                .arg(folder, path, osMessage(error)),
            error);
    }
}

void writeAll(int fd, const QByteArray& bytes, const QString& path) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) continue;
            failNow("Cannot write", path);
        }
        data += written;
        left -= written;
    }
}

// The new content goes to a private file beside the target, which then takes
// the target's place in one rename: a crash leaves the old file or the new.
void replaceFile(const QString& path, const QByteArray& content) {
    const QFileInfo target(path);
    const QString prefix = target.absolutePath() + QStringLiteral("/.") + target.fileName();
    QString temp;
    int fd = -1;
    for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
        temp = prefix + QStringLiteral(".%1").arg(QRandomGenerator::global()->generate(), 8, 16,
                                                  QLatin1Char('0'));
        fd = ::open(QFile::encodeName(temp).constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) failNow("Cannot write a temporary file for", path);

    const QByteArray tempName = QFile::encodeName(temp);
    try {
        // The umask may have taken bits away; the file is exactly 0600.
        if (::fchmod(fd, 0600) != 0) failNow("Cannot protect", path);
        writeAll(fd, content, path);
        // No fsync here: SyncSettings does it once the value settles. The
        // close still reports the write errors a network file system defers.
        const int closed = ::close(fd);
        fd = -1;
        if (closed != 0 && errno != EINTR) failNow("Cannot write", path);
        if (::rename(tempName.constData(), QFile::encodeName(path).constData()) != 0)
            failNow("Cannot replace", path);
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(tempName.constData());
        throw;
    }
}

// Settings files written since the last sync; one in practice, more only
// when the settings path changed in between.
QStringList& pendingFiles() {
    static QStringList files;
    return files;
}

SettingsSyncCounts& counts() {
    static SettingsSyncCounts c;
    return c;
}

// fsync of the settings file `path` or of its folder. Gone since it was
// written (or a link now in its place): nothing of ours left to sync.
void syncOne(const QString& name, bool folder, const QString& path) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | (folder ? O_DIRECTORY : O_NONBLOCK);
    const int fd = ::open(QFile::encodeName(name).constData(), flags);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR || error == ELOOP) return;
        fail("Cannot sync", path, error);
    }
    ++counts().fsyncs;
    const int synced = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; the file itself is synced.
    if (synced != 0 && !(folder && error == EINVAL)) fail("Cannot write", path, error);
}

bool validKey(const QString& key) {
    const QString trimmed = key.trimmed();
    return !trimmed.isEmpty() && !trimmed.startsWith(QLatin1Char('[')) &&
           !trimmed.startsWith(QLatin1Char(';')) && !trimmed.startsWith(QLatin1Char('#')) &&
           !trimmed.contains(QLatin1Char('=')) && !trimmed.contains(QLatin1Char('\n')) &&
           !trimmed.contains(QLatin1Char('\r'));
}

}  // namespace

QString ReadSetting(const QString& key, const QString& defaultValue) {
    const QString path = settingsFilePath();
    QByteArray content;
    if (!readFile(path, true, content)) return defaultValue;
    const QByteArrayList lines = splitLines(content);
    const Lookup found = find(lines, key.trimmed());
    if (found.keyLine < 0) return defaultValue;
    return unescape(QByteArrayView(lines[found.keyLine]).sliced(found.equals + 1));
}

void WriteSetting(const QString& key, const QString& value) {
    const QString path = settingsFilePath();
    if (!validKey(key))
        throw Failure(
            QStringLiteral("\"%1\" cannot be a key of the settings file \"%2\".").arg(key, path));
    makeFolder(QFileInfo(path).absolutePath(), path);

    const QByteArray name = QFile::encodeName(path);
    QByteArray content;
    struct stat info {};
    if (::lstat(name.constData(), &info) == 0) {
        if (S_ISLNK(info.st_mode))
            throw Failure(QStringLiteral("The settings file \"%1\" is a symbolic link; settings "
                                         "are not written through a link.")
                              .arg(path));
        if (!readFile(path, false, content)) content.clear();
    } else if (errno != ENOENT) {
        failNow("Cannot examine", path);
    }

    QByteArrayList lines = splitLines(content);
    const QString trimmedKey = key.trimmed();
    const Lookup found = find(lines, trimmedKey);
    const QByteArray escaped = escape(value);
    if (found.keyLine >= 0) {
        QByteArray& line = lines[found.keyLine];
        line.truncate(found.equals + 1);
        line.append(escaped);
    } else {
        const QByteArray entry = encodeText(trimmedKey) + '=' + escaped;
        if (found.insertAt >= 0) {
            lines.insert(found.insertAt, entry);
        } else {
            if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) lines.append(QByteArray());
            lines.append("[" + QByteArray(kGroup.data(), kGroup.size()) + "]");
            lines.append(entry);
        }
    }

    QByteArray out;
    out.reserve(content.size() + escaped.size() + 64);
    for (const QByteArray& line : lines) {
        out.append(line);
        out.append('\n');
    }
    replaceFile(path, out);
    if (!pendingFiles().contains(path)) pendingFiles().append(path);
}

void SyncSettings() {
    if (pendingFiles().isEmpty()) return;
    const QStringList files = std::exchange(pendingFiles(), {});
    ++counts().syncs;
    std::exception_ptr failure;
    for (const QString& path : files) {
        try {
            syncOne(path, false, path);
            // The rename lives in the folder.
            syncOne(QFileInfo(path).absolutePath(), true, path);
        } catch (const Failure&) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

SettingsSyncCounts settingsSyncCounts() {
    return counts();
}

}  // namespace tab::gui
