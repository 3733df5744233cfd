#include "export/spreadsheet_program.h"

#include <QProcess>
#include <QStandardPaths>

namespace tab::gui {

namespace {

const QString kXlsxType =
    QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");

// LibreOffice opens a file as a template when asked, so the user gets a
// new, untitled document and never saves over the work file. The desktop's
// own choice for .xlsx opens the file it is given.
class DesktopSpreadsheetProgram : public SpreadsheetProgram {
public:
    bool calcInstalled() override { return !office().isEmpty(); }

    bool openAsNew(const QString& workbookPath, QString& error) override {
        const QString exe = office();
        if (exe.isEmpty()) {
            error = QStringLiteral("LibreOffice is not installed.");
            return false;
        }
        // -n: the file is a template, so the document is new and untitled.
        if (QProcess::startDetached(exe,
                                    {QStringLiteral("--calc"), QStringLiteral("-n"), workbookPath}))
            return true;
        error = QStringLiteral("The spreadsheet program could not be started.");
        return false;
    }

    bool desktopProgramInstalled() override { return !defaultApplication().isEmpty(); }

    bool openInDesktopProgram(const QString& workbookPath, QString& error) override {
        const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (xdgOpen.isEmpty() || !QProcess::startDetached(xdgOpen, {workbookPath})) {
            error = QStringLiteral("The spreadsheet program could not be started.");
            return false;
        }
        return true;
    }

private:
    static QString office() {
        for (const char* name : {"libreoffice", "soffice"})
            if (QString exe = QStandardPaths::findExecutable(QString::fromLatin1(name));
                !exe.isEmpty())
                return exe;
        return {};
    }

    // The desktop entry the desktop opens .xlsx files with; "" for none.
    static QString defaultApplication() {
        const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
        if (xdgMime.isEmpty()) return {};
        QProcess query;
        query.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), kXlsxType});
        if (!query.waitForFinished(5000)) {
            query.kill();
            query.waitForFinished(1000);
            return {};
        }
        if (query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) return {};
        return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
    }
};

}  // namespace

std::unique_ptr<SpreadsheetProgram> makeDesktopSpreadsheetProgram() {
    return std::make_unique<DesktopSpreadsheetProgram>();
}

}  // namespace tab::gui
