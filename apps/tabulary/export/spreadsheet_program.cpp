#include "export/spreadsheet_program.h"

#include <QProcess>
#include <QStandardPaths>

namespace tab::gui {

namespace {

class DesktopSpreadsheetProgram : public SpreadsheetProgram {
public:
    bool installed() override { return !program().isEmpty(); }
    bool openAsNew(const QString& workbookPath, QString& error) override {
        const QString exe = program();
        if (exe.isEmpty()) {
            error = QStringLiteral("No spreadsheet program is installed.");
            return false;
        }
        // -n: the file is a template, so the document is new and untitled.
        if (!QProcess::startDetached(
                exe, {QStringLiteral("--calc"), QStringLiteral("-n"), workbookPath})) {
            error = QStringLiteral("The spreadsheet program could not be started.");
            return false;
        }
        return true;
    }

private:
    static QString program() {
        for (const char* name : {"libreoffice", "soffice"})
            if (QString exe = QStandardPaths::findExecutable(QString::fromLatin1(name));
                !exe.isEmpty())
                return exe;
        return {};
    }
};

}  // namespace

std::unique_ptr<SpreadsheetProgram> makeDesktopSpreadsheetProgram() {
    return std::make_unique<DesktopSpreadsheetProgram>();
}

}  // namespace tab::gui
