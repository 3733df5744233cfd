#include "app/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>

namespace tab::gui {

QStringList qtFilters(const QString& commonDialogFilter) {
    const QStringList parts = commonDialogFilter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        if (description.isEmpty() && patterns.isEmpty()) continue;
        for (QString& p : patterns) p = p.trimmed();
        filters << QStringLiteral("%1 (%2)").arg(description, patterns.join(u' '));
    }
    return filters;
}

namespace {

QWidget* dialogParent() {
    QWidget* w = QApplication::activeWindow();
    return w && w->isVisible() ? w : nullptr;
}

QString runFileDialog(const FileDialog& request, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(dialogParent(), request.title);
    // Qt's own dialog on every desktop: a native one would show the
    // patterns in place of the descriptions.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The descriptions as they are, without Qt's "(patterns)"; set before
    // the filters, which read it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(mode);
    // Saving over an existing file asks first: a slip of the mouse must not
    // cost a file.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    // Name filters match without regard to case (Access files come as .MDB
    // as often as .mdb): the default filter lacks QDir::CaseSensitive.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    const QStringList filters = qtFilters(request.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int index = request.filterIndex - 1;
        if (index >= 0 && index < filters.size()) dialog.selectNameFilter(filters[index]);
    }
    if (!request.folder.isEmpty()) dialog.setDirectory(request.folder);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

}  // namespace

BoxAnswer QtDialogs::message(const MessageBox& box) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (box.icon) {
        case BoxIcon::None:
            icon = QMessageBox::NoIcon;
            break;
        case BoxIcon::Information:
            icon = QMessageBox::Information;
            break;
        case BoxIcon::Warning:
            icon = QMessageBox::Warning;
            break;
        case BoxIcon::Critical:
            icon = QMessageBox::Critical;
            break;
        case BoxIcon::Question:
            icon = QMessageBox::Question;
            break;
    }
    const auto buttons = box.buttons == BoxButtons::YesNo
                             ? QMessageBox::Yes | QMessageBox::No
                             : QMessageBox::StandardButtons(QMessageBox::Ok);
    QMessageBox m(icon, box.title, box.text, buttons, dialogParent());
    m.setWindowModality(Qt::ApplicationModal);
    // The texts carry Windows line breaks; Qt breaks lines at LF only.
    QString shown = box.text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    m.setText(shown);
    m.setTextFormat(Qt::PlainText);
    const int answer = m.exec();
    if (box.buttons == BoxButtons::YesNo)
        return answer == QMessageBox::Yes ? BoxAnswer::Yes : BoxAnswer::No;
    return BoxAnswer::Ok;
}

QString QtDialogs::openFile(const FileDialog& dialog) {
    return runFileDialog(dialog, QFileDialog::AcceptOpen);
}

QString QtDialogs::saveFile(const FileDialog& dialog) {
    return runFileDialog(dialog, QFileDialog::AcceptSave);
}

bool QtDialogs::canShowFileDialogs() {
    // Widgets need the widgets' application object.
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

QAction* QtDialogs::popupMenu(QMenu& menu, const QPoint& at) {
    return menu.exec(at);
}

}  // namespace tab::gui
