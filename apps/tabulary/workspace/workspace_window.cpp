#include "workspace/workspace_window.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QTableView>
#include <optional>

#include "app/app_icon.h"
#include "app/app_paths.h"
#include "app/application.h"
#include "app/failure.h"
#include "app/file_helpers.h"
#include "app/hand_cursor.h"
#include "app/procedure_error.h"
#include "app/product.h"
#include "app/services.h"
#include "app/start_window.h"
#include "app/theme.h"
#include "db/connections.h"
#include "tabulary/ado/query.h"
#include "workspace/history_list.h"
#include "workspace/query_box.h"
#include "workspace/query_history.h"
#include "workspace/table_list.h"

namespace tab::gui {

namespace {

template <class W, class... Args>
W* make(const char* name, QWidget* parent, Args&&... args) {
    W* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QGroupBox* frame(const char* name, const char* caption, QWidget* parent) {
    auto* f = new QGroupBox(QString::fromLatin1(caption), parent);
    f->setObjectName(QString::fromLatin1(name));
    setBackground(f, Qt::white);
    return f;
}

QPushButton* button(const char* name, const char* caption, QWidget* parent) {
    auto* b = new PushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setFont(arialFont(11.25, true));
    b->setAutoDefault(false);
    return b;
}

}  // namespace

Form2::Form2(Application& app) : m_app(app) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Create And Execute Queries"));
    setFixedSize(536, 671);
    setFont(arialFont(9, true));
    setBackground(this, Qt::white);
    m_pointer = new WindowPointer(this);

    PushButton4 = button("PushButton4", "< Back", this);
    placeTwips(PushButton4, 120, 120, 7800, 405);

    Frame3 = frame("Frame3", "Tables", this);
    placeTwips(Frame3, 120, 600, 3840, 1665);
    m_list1 = make<TableList>("List1", Frame3);
    placeTwips(m_list1, 240, 300, 3375, 1185);

    Frame4 = frame("Frame4", "Fields", this);
    placeTwips(Frame4, 4080, 600, 3840, 1665);
    List2 = make<QListWidget>("List2", Frame4);
    List2->setSelectionMode(QAbstractItemView::MultiSelection);
    placeTwips(List2, 240, 300, 3375, 1185);

    Frame5 = frame("Frame5", "Query Command", this);
    placeTwips(Frame5, 120, 2340, 7800, 2745);
    Text1 = make<QueryBox>("Text1", Frame5);
    placeTwips(Text1, 240, 300, 7320, 1245);
    PushButton7 = button("PushButton7", "Insert Query From Template", Frame5);
    placeTwips(PushButton7, 240, 1650, 3600, 405);
    PushButton2 = button("PushButton2", "Clear Query", Frame5);
    placeTwips(PushButton2, 3960, 1650, 3600, 405);
    PushButton1 = button("PushButton1", "Execute", Frame5);
    placeTwips(PushButton1, 240, 2160, 7320, 405);

    Frame1 = frame("Frame1", "Results", this);
    placeTwips(Frame1, 120, 5160, 7800, 2775);
    DataGrid1 = make<QTableView>("DataGrid1", Frame1);
    DataGrid1->setFont(arialFont(9, true));
    placeTwips(DataGrid1, 240, 300, 7300, 1770);
    PushButton6 = button("PushButton6", "Save Results As", Frame1);
    placeTwips(PushButton6, 240, 2190, 7320, 405);

    Frame2 = frame("Frame2", "History", this);
    placeTwips(Frame2, 120, 8010, 7800, 1935);
    ListView1 = make<HistoryList>("ListView1", Frame2);
    ListView1->setFont(arialFont(9, true));
    ListView1->setToolTip(QStringLiteral(
        "Double-click item to remove it. Move | line to right and out of window to reveal full "
        "names."));
    placeTwips(ListView1, 240, 300, 7300, 960);
    PushButton5 = button("PushButton5", "Help", Frame2);
    placeTwips(PushButton5, 240, 1350, 3600, 405);
    PushButton3 = button("PushButton3", "Clear History", Frame2);
    placeTwips(PushButton3, 3960, 1350, 3600, 405);

    mnuSaveAs = new QMenu(QStringLiteral("Save As"), this);
    mnuSaveAs->setObjectName(QStringLiteral("mnuSaveAs"));
    for (const char* item : {"TXT", "SQL", "XLS", "CSV", "PDF", "XML"}) {
        QAction* a = mnuSaveAs->addAction(QString::fromLatin1(item));
        a->setObjectName(QStringLiteral("mnu") + QString::fromLatin1(item));
    }

    m_pointer->follow(this, false);
    for (QWidget* w : std::initializer_list<QWidget*>{Frame1, Frame2, Frame3, Frame4, Frame5,
                                                      m_list1, List2, ListView1, Text1, DataGrid1})
        m_pointer->follow(w, false);
    for (QWidget* w : {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6,
                       PushButton7})
        m_pointer->follow(w, true);

    connect(Text1, &QPlainTextEdit::textChanged, this, [this] { Text1_Change(); });
    connect(m_list1, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) List1_Click();
    });
    connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
}

void Form2::Form_Load() {
    Guard g(QStringLiteral("Form2.Form_Load"));
    g.line(100, [&] { ApplyColourTheme(this); });
    g.line(102, [&] { setWindowIcon(applicationIcon()); });
    const QString cursorFile = applicationFolder() + QStringLiteral("/HAND-M.CUR");
    if (g.test(106, [&] { return PathExists(cursorFile); }))
        g.line(108, [&] { m_pointer->setCustomCursor(loadCursorFile(cursorFile)); });
    g.line(110, [&] { setWindowTitle(kProductTitle); });
    g.line(112, [&] { m_pointer->set(kPointerDefault); });
    g.line(114, [&] { ReturningToStart = false; });
    g.line(116, [&] { HistoryFilePath = tempFolder() + QStringLiteral("/LogFile.log"); });
    g.line(118, [&] { ListView1->addColumn(QStringLiteral("ID")); });
    g.line(120, [&] { ListView1->addColumn(QStringLiteral("Query Command")); });
    g.line(122, [&] { ListView1->setColumnWidthTwips(0, 1); });
    g.line(124, [&] { ListView1->setColumnWidthTwips(1, 6800); });
    g.line(126, [&] { ListView1->setSorted(true); });
    g.line(128, [&] { ListView1->setSortKey(0); });
    g.line(130, [&] { ListView1->setSortOrder(1); });
    g.line(132, [&] { LoadHistory(*ListView1, HistoryFilePath); });
    g.line(134, [&] {
        QPalette p = DataGrid1->palette();
        p.setColor(QPalette::Base, Qt::white);
        DataGrid1->setPalette(p);
    });
}

void Form2::Form_QueryUnload() {
    Guard g(QStringLiteral("Form2.Form_QueryUnload"));
    if (g.test(100, [&] { return !ReturningToStart; })) {
        g.line(102, [&] { services().endProgram(); });
        if (services().programEnded()) return;
    }
    g.line(104, [&] { letPendingMessagesRun(); });
    g.line(106, [&] { letPendingMessagesRun(); });
}

void Form2::closeEvent(QCloseEvent* event) {
    Form_QueryUnload();
    event->accept();
    m_app.workspaceUnloaded(this);
}

void Form2::Text1_Change() {
    const bool hasText = !Text1->document()->isEmpty();
    PushButton1->setEnabled(hasText);
    PushButton2->setEnabled(hasText);
}

void Form2::List1_Click() {
    Guard g(QStringLiteral("Form2.List1_Click"));
    const unsigned generation = ++m_listingGeneration;
    const auto stop = [&] { m_pointer->set(kPointerDefault); };
    const QString table = m_list1->selectedName();
    if (!g.line(100, [&] { m_pointer->set(kPointerBusy); })) return stop();
    std::unique_ptr<ado::Connection> connection;
    if (!g.line(102, [&] {
            connection = openConnection(m_app.startWindow(), {ado::kModeReadWrite, 0});
        }))
        return stop();
    std::optional<ado::Recordset> recordset;
    if (!g.line(104, [&] {
            recordset.emplace(take(ado::openRecordset(
                *connection, (QStringLiteral("SELECT * FROM `") + table + u'`').toStdString())));
        }))
        return stop();
    if (!g.line(106, [&] { List2->clear(); })) return stop();
    const std::vector<ado::Field>& fields = recordset->fields();
    for (const ado::Field& field : fields) {
        bool superseded = false;
        if (!g.line(108, [&] {
                letPendingMessagesRun();
                superseded = generation != m_listingGeneration;
                if (!superseded) List2->addItem(QString::fromStdString(field.name));
            }))
            return stop();
        // A newer listing has filled the list and reset the pointer.
        if (superseded) return;
    }
    if (!g.line(110, [&] { m_pointer->set(kPointerDefault); })) stop();
}

void Form2::PushButton4_Click() {
    Guard g(QStringLiteral("Form2.PushButton4_Click"));
    g.line(100, [&] { ReturningToStart = true; });
    g.line(102, [&] { m_app.startWindow().showAgain(); });
    g.line(104, [&] { close(); });
}

}  // namespace tab::gui
