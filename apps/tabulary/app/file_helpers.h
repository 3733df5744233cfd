// Small file helpers the windows use whenever they touch a file by path, and
// the text encoding of every text file the program reads or writes.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace tab::gui {

// True when the path's modification time can be read; never fails.
bool PathExists(const QString& path);

// The whole text of a file: "" when it does not exist, "empty file" when it
// has length 0, else its bytes decoded by decodeText. Throws Failure when an
// existing, non-empty file cannot be opened or read.
QString ReadTextFile(const QString& path);

// A work file's text (the history), as ReadTextFile gives it, but only from
// a regular file of ours reached without a symbolic link: a file of another
// user could have been planted, so it is refused, as is anything else that
// exists there. A refused file is not opened at all.
QString ReadWorkFile(const QString& path);
// The bytes of a work file (the print work file) by the same rules; throws
// Failure also when it does not exist.
QByteArray ReadWorkFileBytes(const QString& path);

// Lets pending window messages run once, then deletes the file, trying a
// second, forcing way when the first fails. Never reports anything.
void DeleteFileQuietly(const QString& path);

// Text files: UTF-8 without byte-order mark. Reading takes every byte that is
// not part of well-formed UTF-8 as its Windows-1252 character (the five bytes
// 1252 leaves undefined as the C1 controls of the same code).
QString decodeText(QByteArrayView bytes);
QByteArray encodeText(const QString& text);

// Work files (history, print work file): created owner-only (0600), never
// opened through a symbolic link, refused when they belong to another user.
// Throw Failure on any error.
void appendToWorkFile(const QString& path, QByteArrayView bytes);

// A work file opened for appending, written and closed in steps of their
// own; closed quietly if still open when destroyed.
class WorkFile {
public:
    WorkFile() = default;
    ~WorkFile();
    WorkFile(const WorkFile&) = delete;
    WorkFile& operator=(const WorkFile&) = delete;

    void openForAppend(const QString& path);
    void write(QByteArrayView bytes);
    void close();

private:
    int m_fd = -1;
    QString m_path;
};
void replaceWorkFile(const QString& path, QByteArrayView bytes);

}  // namespace tab::gui
