#include "templating/template_folders.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "tabulary/ado/text.h"

namespace tab::gui {

bool matchesFilePattern(QStringView name, QStringView pattern) {
    // Iterative glob with one backtrack point: linear in practice, no
    // recursion however many stars the pattern holds.
    qsizetype n = 0, p = 0, starAt = -1, resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (starAt >= 0) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

bool IsExistingFile(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

QStringList GetFilesInFolder(QString folder, QString pattern) {
    if (!folder.endsWith(u'/')) folder += u'/';
    QStringList names;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(QFile::encodeName(folder).constData()),
                                                  &::closedir);
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name == QStringLiteral(".") || name == QStringLiteral("..")) continue;
        if (!matchesFilePattern(name, pattern)) continue;
        // A name that does not survive decoding is not reachable by it.
        if (IsExistingFile(folder + name)) names << name;
    }
    // The engine's order of names, then the exact text, so the list is the
    // same on every run.
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = ado::compareNames(a.toStdString(), b.toStdString());
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

}  // namespace tab::gui
