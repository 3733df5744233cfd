#include "export/spreadsheet_application.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include "app/app_paths.h"
#include "app/failure.h"
#include "app/product.h"
#include "app/services.h"
#include "tabulary/writers/output_file.h"
#include "workspace/results_grid.h"

namespace tab::gui {

namespace {

// Work files are named so that nothing else in the folder matches.
const QString kWorkbookPrefix = QStringLiteral("tabulary-results-");
constexpr int kStaleAfterSeconds = 10 * 60;

bool isWorkbookName(const QString& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^tabulary-results-[A-Za-z0-9]{6}\\.xlsx$"));
    return pattern.match(name).hasMatch();
}

// The whole workbook file into `to`, put in place only when complete.
void copyWorkbook(const QString& from, const QString& to) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("The workbook cannot be read: ") + in.errorString());
    writers::OutputFile out;
    check(out.open(QFile::encodeName(to).toStdString()));
    for (;;) {
        const QByteArray chunk = in.read(qint64{1} << 20);
        if (chunk.isEmpty()) break;
        out.stream().append(std::string_view(chunk.constData(), size_t(chunk.size())));
        check(out.stream().maybeFlush());
    }
    if (in.error() != QFileDevice::NoError)
        throw Failure(QStringLiteral("The workbook cannot be read: ") + in.errorString());
    check(out.commit());
}

// A copy of the workbook under a new name of its own, owner-only, in the
// folder of kept workbooks.
QString keepCopy(const QString& workbook) {
    const QString folder = keptWorkbooksFolder();
    if (!makePrivateFolder(folder))
        throw Failure(QStringLiteral("The folder \"%1\" cannot be created.").arg(folder));
    QTemporaryFile file(folder + QStringLiteral("/results-") +
                        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                        QStringLiteral("-XXXXXX.xlsx"));
    file.setAutoRemove(false);
    if (!file.open())
        throw Failure(QStringLiteral("The workbook cannot be kept: ") + file.errorString());
    const QString copy = file.fileName();
    file.close();
    try {
        copyWorkbook(workbook, copy);
    } catch (...) {
        QFile::remove(copy);
        throw;
    }
    return copy;
}

}  // namespace

void removeStaleWorkbooks() {
    const QString folder = tempFolder();
    if (folder.isEmpty()) return;
    // The spreadsheet program is started, not waited for: a file it may
    // not have read yet is kept.
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-kStaleAfterSeconds);
    const QFileInfoList files =
        QDir(folder).entryInfoList({kWorkbookPrefix + QStringLiteral("*.xlsx")},
                                   QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& file : files) {
        if (isWorkbookName(file.fileName()) && file.lastModified().toUTC() < before)
            QFile::remove(file.absoluteFilePath());
    }
}

CellValue& CellValue::operator=(const QString& text) {
    std::string& out = m_sheet.text();
    out.clear();
    out += text.toStdString();
    m_sheet.writeText(m_row, m_column);
    return *this;
}

CellValue& CellValue::operator=(const GridCellText& text) {
    std::string& out = m_sheet.text();
    out.clear();
    text.grid.appendCellText(text.row, text.column, out);
    m_sheet.writeText(m_row, m_column);
    return *this;
}

void SpreadsheetSheet::writeText(qsizetype row, qsizetype column) {
    if (row < 1 || column < 1 || column > qsizetype{writers::XlsxWorkbook::kSheetColumns})
        throw Failure(QStringLiteral("The cell reference is outside the sheet."));
    if (m_book.m_failed) return;
    m_book.check(m_book.m_book->write(static_cast<uint64_t>(row - 1),
                                      static_cast<uint32_t>(column - 1), m_text));
}

void SheetColumns::AutoFit() {
    if (!m_sheet.m_book.m_failed) m_sheet.m_book.m_book->fitColumns();
}

SpreadsheetWorkbook::SpreadsheetWorkbook() : m_sheet(*this) {}

SpreadsheetWorkbook::~SpreadsheetWorkbook() {
    if (!m_workFileInUse && !m_path.isEmpty()) QFile::remove(m_path);
}

void SpreadsheetWorkbook::check(const Status& status) {
    if (status.ok() || m_failed) return;
    m_failed = true;
    throw Failure(QString::fromStdString(status.error().message()));
}

void SpreadsheetWorkbook::create() {
    m_failed = true;  // until the writer has its file
    const QString folder = tempFolder();
    if (folder.isEmpty()) throw Failure(QStringLiteral("The work folder cannot be created."));
    // Made owner-only under a name of its own; the writer fills it.
    QTemporaryFile file(folder + u'/' + kWorkbookPrefix + QStringLiteral("XXXXXX.xlsx"));
    file.setAutoRemove(false);
    if (!file.open()) {
        throw Failure(QStringLiteral("The workbook cannot be created in the work folder: ") +
                      file.errorString());
    }
    m_path = file.fileName();
    file.close();
    m_book.emplace(writers::XlsxWorkbook::Options{QFile::encodeName(folder).toStdString()});
    m_failed = false;
    check(m_book->create(QFile::encodeName(m_path).toStdString()));
}

void SpreadsheetWorkbook::show() {
    if (m_failed || m_shown) return;
    check(m_book->close());
    SpreadsheetProgram& programs = services().spreadsheets();
    QString error;
    switch (m_handOver) {
        case WorkbookHandOver::Calc:
            if (!programs.openAsNew(m_path, error)) throw Failure(error);
            // Calc reads it once started: removeStaleWorkbooks takes it later.
            m_workFileInUse = true;
            break;
        case WorkbookHandOver::DesktopProgram: {
            // That program opens the file itself, and what the user saves
            // goes into it: a copy the program never deletes.
            const QString copy = keepCopy(m_path);
            if (!programs.openInDesktopProgram(copy, error)) {
                QFile::remove(copy);
                throw Failure(error);
            }
            break;
        }
        case WorkbookHandOver::SaveDialog: {
            FileDialog dialog;
            dialog.title = QStringLiteral("Save");
            dialog.filter = QStringLiteral("Excel Workbook (*.xlsx)|*.xlsx");
            dialog.fileName = QStringLiteral("Results.xlsx");
            const QString path = services().dialogs().saveFile(dialog);
            if (!path.isEmpty()) copyWorkbook(m_path, path);
            break;
        }
        case WorkbookHandOver::None:
            throw Failure(QStringLiteral("No spreadsheet program is installed."));
    }
    m_shown = true;
}

std::unique_ptr<SpreadsheetApplication> SpreadsheetApplication::tryCreate() {
    SpreadsheetProgram& programs = services().spreadsheets();
    WorkbookHandOver handOver = WorkbookHandOver::None;
    if (programs.calcInstalled())
        handOver = WorkbookHandOver::Calc;
    else if (programs.desktopProgramInstalled())
        handOver = WorkbookHandOver::DesktopProgram;
    else if (services().dialogs().canShowFileDialogs())
        handOver = WorkbookHandOver::SaveDialog;
    if (handOver == WorkbookHandOver::None) return nullptr;
    return std::unique_ptr<SpreadsheetApplication>(new SpreadsheetApplication(handOver));
}

std::unique_ptr<SpreadsheetApplication> SpreadsheetApplication::create() {
    auto app = tryCreate();
    if (!app) throw Failure(QStringLiteral("No spreadsheet program is installed."));
    return app;
}

SpreadsheetApplication::~SpreadsheetApplication() = default;

void SpreadsheetApplication::checkRunning() const {
    if (m_quit) throw Failure(QStringLiteral("The spreadsheet application has quit."));
}

SpreadsheetWorkbook& SpreadsheetApplication::WorkbookList::add() {
    m_app.checkRunning();
    removeStaleWorkbooks();
    auto book = std::unique_ptr<SpreadsheetWorkbook>(new SpreadsheetWorkbook());
    book->m_handOver = m_app.m_handOver;
    SpreadsheetWorkbook& added = *book;
    m_app.m_workbooks.push_back(std::move(book));
    added.create();
    return added;
}

void SpreadsheetApplication::Visible(bool visible) {
    checkRunning();
    if (!visible) return;
    for (const auto& book : m_workbooks) book->show();
}

void SpreadsheetApplication::Quit() {
    m_workbooks.clear();
    m_quit = true;
}

bool ExcelIsInstalled() {
    bool result = false;
    try {
        std::unique_ptr<SpreadsheetApplication> xl = SpreadsheetApplication::tryCreate();
        if (!xl) {
            services().dialogs().message(
                {applicationTitle(),
                 QStringLiteral("Excel is not installed on this computer. You need to have it "
                                "installed to use this feature."),
                 BoxIcon::None, BoxButtons::Ok});
        } else {
            xl->Quit();
            result = true;
        }
    } catch (const std::exception&) {
        result = false;
    }
    return result;
}

}  // namespace tab::gui
