#include "app/start_window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <functional>
#include <utility>

#include "app/app_icon.h"
#include "app/app_paths.h"
#include "app/application.h"
#include "app/failure.h"
#include "app/file_helpers.h"
#include "app/hand_cursor.h"
#include "app/procedure_error.h"
#include "app/product.h"
#include "app/services.h"
#include "app/settings_store.h"
#include "app/theme.h"
#include "db/engine_check.h"
#include "db/table_catalog.h"
#include "export/printers.h"
#include "workspace/table_list.h"
#include "workspace/workspace_window.h"

namespace tab::gui {

namespace {

// A one-line text box that selects its whole text when it gets the focus
// and tells when it loses it.
class TextBox : public QLineEdit {
public:
    TextBox(std::function<void()> focusLost, QWidget* parent)
        : QLineEdit(parent), m_focusLost(std::move(focusLost)) {}

    // The window is going: the focus it loses while Qt takes it down is no
    // value settling, and the window is no longer there to tell.
    void forgetFocusLost() { m_focusLost = nullptr; }

protected:
    void focusInEvent(QFocusEvent* event) override {
        QLineEdit::focusInEvent(event);
        setSelection(0, static_cast<int>(text().size()));
    }
    void focusOutEvent(QFocusEvent* event) override {
        QLineEdit::focusOutEvent(event);
        if (m_focusLost) m_focusLost();
    }

private:
    std::function<void()> m_focusLost;
};

// The same file: by the canonical paths where both exist, else by the
// absolute paths.
bool sameFile(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty()) return false;
    const QFileInfo first(a), second(b);
    const QString canonicalFirst = first.canonicalFilePath();
    const QString canonicalSecond = second.canonicalFilePath();
    if (!canonicalFirst.isEmpty() && !canonicalSecond.isEmpty())
        return canonicalFirst == canonicalSecond;
    return QDir::cleanPath(first.absoluteFilePath()) == QDir::cleanPath(second.absoluteFilePath());
}

}  // namespace

Form1::Form1(Application& app) : m_app(app) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFixedSize(536, 140);
    setFont(arialFont(9, false));
    setBackground(this, Qt::white);
    m_pointer = new WindowPointer(this);

    Frame1 = namedControl<QGroupBox>("Frame1", this, QStringLiteral("Access Database"));
    placeTwips(Frame1, 120, 120, 7800, 1335);
    Label5 = namedControl<QLabel>("Label5", Frame1, QStringLiteral("MDB or ACCDB File:"));
    placeTwips(Label5, 240, 345, 1935, 255);
    // The value typed is stored keystroke by keystroke and made durable once
    // it settles: when the box loses the focus, on "Next >" and at the end.
    Text1 = namedControl<TextBox>("Text1", Frame1, [this] { syncSettings(); });
    placeTwips(Text1, 2280, 300, 4695, 345);
    PushButton6 = namedButton("PushButton6", QStringLiteral("..."), Frame1);
    placeTwips(PushButton6, 7080, 300, 450, 345);
    lblPassword =
        namedControl<QLabel>("lblPassword", Frame1, QStringLiteral("Password (if required):"));
    placeTwips(lblPassword, 240, 840, 1950, 225);
    Text2 = namedControl<TextBox>("Text2", Frame1, [this] { syncSettings(); });
    Text2->setEchoMode(QLineEdit::Password);
    placeTwips(Text2, 2280, 800, 5265, 345);
    PushButton1 = namedButton("PushButton1", QStringLiteral("Load Sample/Example Database"), this);
    placeTwips(PushButton1, 120, 1580, 3840, 405);
    PushButton3 = namedButton("PushButton3", QStringLiteral("Next >"), this);
    placeTwips(PushButton3, 4080, 1580, 3840, 405);

    // The frame, its labels and boxes in bold.
    for (QWidget* w : {static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Label5),
                       static_cast<QWidget*>(Text1), static_cast<QWidget*>(lblPassword),
                       static_cast<QWidget*>(Text2)})
        w->setFont(arialFont(9, true));

    setTabOrder(Text1, PushButton6);
    setTabOrder(PushButton6, Text2);
    setTabOrder(Text2, PushButton1);
    setTabOrder(PushButton1, PushButton3);

    m_pointer->follow(this, false);
    for (QWidget* w : {static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Text1),
                       static_cast<QWidget*>(Text2)})
        m_pointer->follow(w, false);
    for (QWidget* w : {PushButton1, PushButton3, PushButton6}) m_pointer->follow(w, true);

    connect(Text1, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
    connect(Text2, &QLineEdit::textChanged, this, [this] { Text2_Change(); });
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
}

Form1::~Form1() {
    static_cast<TextBox*>(Text1)->forgetFocusLost();
    static_cast<TextBox*>(Text2)->forgetFocusLost();
}

QString Form1::databasePath() const {
    return Text1->text();
}
QString Form1::databasePassword() const {
    return Text2->text();
}

void Form1::openAtStart(const QString& path) {
    m_startFile = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

void Form1::Form_Load() {
    Guard g(QStringLiteral("Form1.Form_Load"));
    g.line(100, [&] { ApplySkin(this, SkinFramework1); });
    const QString cursorFile = applicationFolder() + QStringLiteral("/HAND-M.CUR");
    if (g.test(104, [&] { return PathExists(cursorFile); }))
        g.line(106, [&] { m_pointer->setCustomCursor(loadCursorFile(cursorFile)); });
    g.line(108, [&] {
        RandomSource& random = services().random();
        random.seedFromTimeOfDay();
        const int draw = static_cast<int>(random.uniform() * 100) + 1;
        if (draw == 7) services().browser().open(kMakerSite);
    });
    g.line(110, [&] {
        setWindowTitle(kProductTitle);
        setWindowIcon(applicationIcon());
        SetApplicationTitle();
    });
    // A file named on the command line takes the remembered one's place; the
    // remembered password belongs to the remembered file only.
    bool otherFile = false;
    g.line(130, [&] {
        const QString remembered = ReadSetting(QStringLiteral("Database"), QString());
        otherFile = !m_startFile.isEmpty() && !sameFile(m_startFile, remembered);
        Text1->setText(m_startFile.isEmpty() ? remembered : m_startFile);
    });
    g.line(132, [&] {
        if (otherFile) {
            // Stored also when the box is empty already, which is no change.
            if (Text2->text().isEmpty())
                Text2_Change();
            else
                Text2->clear();
        } else {
            Text2->setText(ReadSetting(QStringLiteral("Password"), QString()));
        }
    });
    if (g.test(140, [&] { return !IsDatabaseEngineAvailable(); })) {
        services().endProgram();
        return;
    }
    if (g.test(134, [&] { return !Text1->text().isEmpty(); })) {
        if (g.test(136, [&] { return PathExists(Text1->text()); }))
            g.line(138, [&] { PushButton3_Click(); });
    }
    g.line(138, [&] { CheckPdfPrinterInstalled(); });
}

void Form1::PushButton1_Click() {
    Guard g(QStringLiteral("Form1.PushButton1_Click"));
    g.line(100,
           [&] { Text1->setText(applicationFolder() + QStringLiteral("/Samples/sample.mdb")); });
}

void Form1::PushButton3_Click() {
    syncSettings();
    Guard g(QStringLiteral("Form1.PushButton3_Click"));
    if (!g.test(100, [&] { return PathExists(Text1->text()); })) return;
    Form2* filled = nullptr;
    g.line(102, [&] {
        filled = &m_app.workspace();
        AddTablesToAccessListbox(filled->List1(), *this);
    });
    // "< Back" pressed while the first table's fields were listed: the
    // start window stays. (The window is not deleted while this runs.)
    if (filled && filled->unloaded()) return;
    g.line(104, [&] { m_app.workspace().show(); });
    g.line(106, [&] {
        hide();
        m_hiddenByNext = true;
    });
}

void Form1::PushButton6_Click() {
    Guard g(QStringLiteral("Form1.PushButton6_Click"));
    g.line(100, [&] { CommonDialog1.fileName.clear(); });
    g.line(104, [&] { CommonDialog1.title = QStringLiteral("Select Access Database"); });
    g.line(106, [&] {
        CommonDialog1.filter = QStringLiteral(
            "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
            "Microsoft 2007 Database (*.accdb)|*.accdb|");
        CommonDialog1.filterIndex = 1;
    });
    g.line(108, [&] {
        // Opens where the file in the box lies, when its folder exists.
        const QString current = Text1->text();
        const QFileInfo folder(QFileInfo(current).absolutePath());
        CommonDialog1.folder =
            !current.isEmpty() && folder.isDir() ? folder.absoluteFilePath() : QString();
        CommonDialog1.fileName = services().dialogs().openFile(CommonDialog1);
    });
    if (!g.test(110, [&] { return !CommonDialog1.fileName.isEmpty(); })) return;
    g.line(112, [&] { Text1->setText(CommonDialog1.fileName); });
}

void Form1::writeSetting(const QString& key, const QString& value) {
    try {
        WriteSetting(key, value);
    } catch (const Failure& f) {
        settingFailed(f);
    }
}

void Form1::syncSettings() {
    try {
        SyncSettings();
    } catch (const Failure& f) {
        settingFailed(f);
    }
}

void Form1::settingFailed(const Failure& f) {
    // Said once a run: the window stays usable, the value is not kept.
    if (m_settingFailureShown) return;
    m_settingFailureShown = true;
    services().dialogs().message(
        {applicationTitle(),
         QStringLiteral("The database and password cannot be remembered for the next start:\r\n") +
             f.description(),
         BoxIcon::Warning, BoxButtons::Ok});
}

void Form1::Text1_Change() {
    writeSetting(QStringLiteral("Database"), Text1->text());
}
void Form1::Text2_Change() {
    writeSetting(QStringLiteral("Password"), Text2->text());
}

void Form1::showAgain() {
    m_hiddenByNext = false;
    show();
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    syncSettings();
    services().endProgram();
}

}  // namespace tab::gui
