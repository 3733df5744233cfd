#include "export/spreadsheet_program.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace tab::gui {

namespace {

const QString kXlsxType =
    QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");

// LibreOffice opens a file as a template when asked, so the user gets a
// new, untitled document and never saves over the work file. Without it the
// desktop's own choice for .xlsx opens the file itself.
class DesktopSpreadsheetProgram : public SpreadsheetProgram {
public:
    bool installed() override { return !office().isEmpty() || !defaultApplication().isEmpty(); }

    bool openAsNew(const QString& workbookPath, QString& error) override {
        if (const QString exe = office(); !exe.isEmpty()) {
            // -n: the file is a template, so the document is new and untitled.
            if (QProcess::startDetached(
                    exe, {QStringLiteral("--calc"), QStringLiteral("-n"), workbookPath}))
                return true;
            error = QStringLiteral("The spreadsheet program could not be started.");
            return false;
        }
        if (defaultApplication().isEmpty()) {
            error = QStringLiteral("No spreadsheet program is installed.");
            return false;
        }
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(workbookPath))) {
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
