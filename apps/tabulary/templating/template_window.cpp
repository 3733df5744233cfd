#include "templating/template_window.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QScopedValueRollback>

#include "app/app_icon.h"
#include "app/app_paths.h"
#include "app/file_helpers.h"
#include "app/hand_cursor.h"
#include "app/procedure_error.h"
#include "app/theme.h"
#include "templating/template_folders.h"
#include "workspace/query_box.h"
#include "workspace/table_list.h"
#include "workspace/workspace_window.h"

namespace tab::gui {

namespace {

const QString kPattern = QStringLiteral("*.txt");

QString currentText(const QListWidget& list) {
    const QListWidgetItem* item = list.currentItem();
    return item ? item->text() : QString();
}

}  // namespace

Form3::Form3(Form2& workspace) : QDialog(&workspace), m_workspace(workspace) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Insert Template"));
    setModal(true);
    setFixedSize(536, 218);
    setFont(arialFont(9, true));
    m_pointer = new WindowPointer(this);

    Label2 = namedControl<QLabel>("Label2", this, QStringLiteral(" Select Template:"));
    placeTwips(Label2, 120, 165, 1470, 225);
    Combo1 = namedControl<QComboBox>("Combo1", this);
    placeTwips(Combo1, 1800, 120, 6120, Combo1->sizeHint().height() * 15);
    Label1 = namedControl<QLabel>("Label1", this, QStringLiteral(" Fragments:"));
    placeTwips(Label1, 120, 645, 1005, 225);
    Combo2 = namedControl<QComboBox>("Combo2", this);
    placeTwips(Combo2, 1800, 600, 3360, Combo2->sizeHint().height() * 15);
    PushButton3 = namedButton("PushButton3", QStringLiteral("Insert Fragment"), this);
    placeTwips(PushButton3, 5280, 600, 2640, 345);
    Text1 = namedControl<QueryBox>("Text1", this);
    Text1->setTabChangesFocus(true);
    placeTwips(Text1, 120, 1080, 7800, 1575);
    PushButton1 = namedButton("PushButton1", QStringLiteral("Insert Template"), this);
    placeTwips(PushButton1, 120, 2760, 3840, 405);
    PushButton2 = namedButton("PushButton2", QStringLiteral("Cancel"), this);
    placeTwips(PushButton2, 4080, 2760, 3840, 405);

    // The design's tab order; the labels take no focus.
    setTabOrder(Combo1, Text1);
    setTabOrder(Text1, Combo2);
    setTabOrder(Combo2, PushButton3);
    setTabOrder(PushButton3, PushButton1);
    setTabOrder(PushButton1, PushButton2);

    m_pointer->follow(this, false);
    for (QWidget* w : std::initializer_list<QWidget*>{Label1, Label2, Combo1, Combo2, Text1})
        m_pointer->follow(w, false);
    for (QWidget* w : {PushButton1, PushButton2, PushButton3}) m_pointer->follow(w, true);

    // Chosen with the mouse or the keys, also when it is the same item again.
    connect(Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
    connect(Text1, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_writing) Text1_Change();
    });
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
}

void Form3::Form_Load() {
    Guard g(QStringLiteral("Form3.Form_Load"), this);
    const QString cursorFile = applicationFolder() + QStringLiteral("/HAND-M.CUR");
    if (g.test(100, [&] { return PathExists(cursorFile); }))
        g.line(102, [&] { m_pointer->setCustomCursor(loadCursorFile(cursorFile)); });
    g.line(104, [&] { ApplyColourTheme(this); });
    g.line(106, [&] { setWindowIcon(applicationIcon()); });
    g.line(108, [&] { Combo1->clear(); });
    g.line(110, [&] { m_templates = TemplateCatalogue(); });
    addFolder(g, 112, templateFolders()[0], Combo1, m_templates);
    addFolder(g, 126, templateFolders()[1], Combo1, m_templates);
    g.line(140, [&] { Combo2->clear(); });
    g.line(142, [&] { m_fragments = TemplateCatalogue(); });
    addFolder(g, 144, fragmentFolder(), Combo2, m_fragments);
    // Nothing is preselected: the box stays empty until a template is chosen.
    Combo1->setCurrentIndex(-1);
    Combo2->setCurrentIndex(-1);
}

void Form3::addFolder(Guard& g, int firstLine, const TemplateFolder& folder, QComboBox* list,
                      TemplateCatalogue& catalogue) {
    const QString shippedFolder = applicationFolder() + folder.shipped;
    const QString ownFolder = userTemplatesFolder() + folder.own;
    QStringList shipped, own;
    std::vector<ListedFile> files;
    g.line(firstLine, [&] { shipped = GetFilesInFolder(shippedFolder, kPattern); });
    g.line(firstLine + 2, [&] {
        // Made on the first opening, so the user finds where their own go.
        makePrivateFolder(ownFolder);
        own = GetFilesInFolder(ownFolder, kPattern);
    });
    g.line(firstLine + 4, [&] { files = mergeListings(shippedFolder, shipped, ownFolder, own); });
    for (const ListedFile& file : files) {
        if (!g.test(firstLine + 6, [&] { return isListedTemplateName(file.name); })) continue;
        QString displayName;
        g.line(firstLine + 8, [&] { displayName = templateDisplayName(file.name); });
        // A list position stays tied to its catalogue entry.
        if (!g.line(firstLine + 10, [&] { list->addItem(displayName); })) continue;
        if (!g.line(firstLine + 12, [&] {
                catalogue.add({displayName, file.folder + u'/' + file.name});
            }))
            list->removeItem(list->count() - 1);
    }
}

WorkspaceSelection Form3::selection() const {
    WorkspaceSelection s;
    s.table = m_workspace.List1().selectedName();
    const QListWidget& fields = m_workspace.fieldList();
    s.currentField = currentText(fields);
    for (int i = 0; i < fields.count(); ++i)
        if (fields.item(i)->isSelected()) s.selectedFields << fields.item(i)->text();
    return s;
}

void Form3::writeTemplateBox(const QString& text, int caret) {
    if (text == Text1->text()) {
        Text1->setCaretPosition(caret);
        return;
    }
    {
        const QScopedValueRollback writing(m_writing, true);
        Text1->setText(text);
        Text1->setCaretPosition(caret);
    }
    Text1_Change();
}

void Form3::Text1_Change() {
    Guard g(QStringLiteral("Form3.Text1_Change"), this);
    g.line(100, [&] {
        const QString before = Text1->text();
        const QString after = FillPlaceholders(before, selection());
        if (after == before) return;
        const int caret = caretAfterFilling(before, after, Text1->caretPosition());
        const QScopedValueRollback writing(m_writing, true);
        Text1->replaceText(after);
        Text1->setCaretPosition(caret);
    });
}

void Form3::Combo1_Click() {
    Guard g(QStringLiteral("Form3.Combo1_Click"), this);
    if (g.test(100, [&] { return Combo1->currentIndex() < 0; })) return;
    QString text;
    // A template that cannot be read leaves the box as it was.
    if (!g.line(102, [&] {
            // Positions count line breaks as the box holds them.
            text = QueryBox::withCrLf(
                ReadTextFile(m_templates.entry(Combo1->currentIndex() + 1).path));
        }))
        return;
    g.line(104, [&] { writeTemplateBox(text, static_cast<int>(text.size())); });
    g.line(106, [&] { Text1->setFocus(); });
}

void Form3::PushButton3_Click() {
    Guard g(QStringLiteral("Form3.PushButton3_Click"), this);
    if (g.test(100, [&] { return Combo2->currentIndex() < 0; })) return;
    QString fragment;
    g.line(102, [&] {
        fragment =
            QueryBox::withCrLf(ReadTextFile(m_fragments.entry(Combo2->currentIndex() + 1).path));
    });
    int p = 0;
    g.line(104, [&] { p = Text1->caretPosition(); });
    const QString text = Text1->text();
    const int length = static_cast<int>(text.size());
    const int after = p + static_cast<int>(fragment.size());
    if (g.test(106, [&] { return p > 0 && p < length; })) {
        g.line(108, [&] { writeTemplateBox(text.left(p) + fragment + text.mid(p), after); });
    } else if (g.test(110, [&] { return p > 0 && p >= length; })) {
        g.line(110, [&] {
            writeTemplateBox(text + fragment, length + static_cast<int>(fragment.size()));
        });
    } else if (g.test(112, [&] { return p == 0; })) {
        g.line(112, [&] { writeTemplateBox(fragment + text, static_cast<int>(fragment.size())); });
    }
}

void Form3::PushButton1_Click() {
    Guard g(QStringLiteral("Form3.PushButton1_Click"), this);
    g.line(100, [&] { m_workspace.queryBox().setText(Text1->text()); });
    g.line(102, [&] { unloadWindow(); });
}

void Form3::PushButton2_Click() {
    Guard g(QStringLiteral("Form3.PushButton2_Click"), this);
    g.line(100, [&] { unloadWindow(); });
}

void Form3::unloadWindow() {
    if (isVisible())
        done(QDialog::Rejected);
    else
        unload(this);
}

void Form3::done(int result) {
    QDialog::done(result);
    unload(this);
}

}  // namespace tab::gui
