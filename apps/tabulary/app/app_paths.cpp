#include "app/app_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tab::gui {

namespace {

QString& folderOverride() {
    static QString folder;
    return folder;
}

QString homeFolder() {
    const QString home = qEnvironmentVariable("HOME");
    return home.isEmpty() ? QDir::homePath() : home;
}

// An XDG base folder: the variable when it holds an absolute path (relative
// ones are to be ignored), else the fallback under the home folder.
QString xdgFolder(const char* variable, const char* fallbackUnderHome) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value)) return QDir::cleanPath(value);
    return QDir::cleanPath(homeFolder() + QLatin1Char('/') + QLatin1String(fallbackUnderHome));
}

}  // namespace

bool makePrivateFolder(const QString& folder) {
    const QByteArray name = QFile::encodeName(folder);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        if (errno != ENOENT) return false;
        const QString parent = QDir::cleanPath(folder + QStringLiteral("/.."));
        if (parent != folder && !makePrivateFolder(parent)) return false;
        // Exactly 0700, whatever the umask leaves of it.
        if (::mkdir(name.constData(), 0700) == 0)
            ::chmod(name.constData(), 0700);
        else if (errno != EEXIST)
            return false;
        if (::stat(name.constData(), &info) != 0) return false;
    }
    return S_ISDIR(info.st_mode);
}

namespace {

// A folder that only we can change. A shared one, like the system's folder
// for temporary files, would let other users read the history or put files
// of their own in its place.
bool isFolderOnlyWeChange(const QString& folder) {
    struct stat info {};
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0) return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A trailing separator would make lstat follow a link at the last component.
QString withoutTrailingSeparators(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
    return path;
}

}  // namespace

QString applicationFolder() {
    const QString& folder = folderOverride();
    return folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
}

void setApplicationFolder(const QString& folder) {
    folderOverride() = folder;
}

QString tempFolder() {
    const QString temp = withoutTrailingSeparators(qEnvironmentVariable("TEMP"));
    if (!temp.isEmpty() && isFolderOnlyWeChange(temp)) return temp;

    const QString folder =
        xdgFolder("XDG_STATE_HOME", ".local/state") + QStringLiteral("/tabulary");
    if (!makePrivateFolder(folder)) return QString();
    const QByteArray name = QFile::encodeName(folder);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) return QString();
    // mkdir leaves out what the umask removes; a folder made wider by hand
    // is narrowed when it is ours.
    if ((info.st_mode & 07777) != 0700 && info.st_uid == ::geteuid())
        ::chmod(name.constData(), 0700);
    return folder;
}

QString userTemplatesFolder() {
    return xdgFolder("XDG_DATA_HOME", ".local/share") + QStringLiteral("/tabulary/templates");
}

QString keptWorkbooksFolder() {
    return xdgFolder("XDG_DATA_HOME", ".local/share") + QStringLiteral("/tabulary/workbooks");
}

QString settingsFilePath() {
    return xdgFolder("XDG_CONFIG_HOME", ".config") + QStringLiteral("/Quillmoor.ini");
}

}  // namespace tab::gui
