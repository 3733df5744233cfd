// Message boxes and file dialogs, behind one small interface so that tests
// can read every box and answer it.
#pragma once

#include <QString>
#include <QStringList>

class QAction;
class QMenu;
class QPoint;
class QWidget;

namespace tab::gui {

enum class BoxIcon { None, Information, Warning, Critical, Question };
enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No };

struct MessageBox {
    QString title;
    QString text;
    BoxIcon icon = BoxIcon::None;
    BoxButtons buttons = BoxButtons::Ok;
};

struct FileDialog {
    QString title;
    QString filter;       // the common dialog's form: "Desc|pattern|Desc|pattern|"
    int filterIndex = 1;  // 1-based, as the common dialog counts
    QString fileName;     // initial name
    QString folder;       // the folder it opens in; "" for the default
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Modal; returns the button pressed.
    virtual BoxAnswer message(const MessageBox& box) = 0;
    // The chosen full path, or "" when the dialog was cancelled.
    virtual QString openFile(const FileDialog& dialog) = 0;
    virtual QString saveFile(const FileDialog& dialog) = 0;
    // False where no file dialog can be shown at all.
    virtual bool canShowFileDialogs() { return true; }
    // Shows a popup menu at a point of the screen until an item is chosen
    // (its action is triggered, as a menu does) or the menu is dismissed;
    // returns the chosen action or null.
    virtual QAction* popupMenu(QMenu& menu, const QPoint& at) = 0;
};

// "Desc|*.a;*.b|Desc2|*.c|" → {"Desc (*.a *.b)", "Desc2 (*.c)"}. A trailing
// separator and an entry without pattern are tolerated. Qt takes the last
// parenthesised group as the patterns, so a description may hold brackets of
// its own; the dialog shows the descriptions alone.
QStringList qtFilters(const QString& commonDialogFilter);

// Real dialogs; the parent is the program's active window.
class QtDialogs : public Dialogs {
public:
    BoxAnswer message(const MessageBox& box) override;
    QString openFile(const FileDialog& dialog) override;
    QString saveFile(const FileDialog& dialog) override;
    bool canShowFileDialogs() override;
    QAction* popupMenu(QMenu& menu, const QPoint& at) override;
};

}  // namespace tab::gui
