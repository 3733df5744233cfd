#include "workspace/workspace_window.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QScopedValueRollback>
#include <limits>
#include <optional>
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
#include "app/start_window.h"
#include "app/theme.h"
#include "db/connections.h"
#include "tabulary/ado/query.h"
#include "templating/template_window.h"
#include "workspace/history_list.h"
#include "workspace/query_box.h"
#include "workspace/query_history.h"
#include "workspace/results_grid.h"
#include "workspace/select_composer.h"
#include "workspace/statement_run.h"
#include "workspace/table_list.h"

namespace tab::gui {

namespace {

QGroupBox* frame(const char* name, const char* caption, QWidget* parent) {
    auto* f = namedControl<QGroupBox>(name, parent, QString::fromLatin1(caption));
    setBackground(f, Qt::white);
    return f;
}

QPushButton* button(const char* name, const char* caption, QWidget* parent) {
    return namedButton(name, QString::fromLatin1(caption), parent);
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
    m_list1 = namedControl<TableList>("List1", Frame3);
    placeTwips(m_list1, 240, 300, 3375, 1185);

    Frame4 = frame("Frame4", "Fields", this);
    placeTwips(Frame4, 4080, 600, 3840, 1665);
    List2 = namedControl<QListWidget>("List2", Frame4);
    List2->setSelectionMode(QAbstractItemView::MultiSelection);
    placeTwips(List2, 240, 300, 3375, 1185);

    Frame5 = frame("Frame5", "Query Command", this);
    placeTwips(Frame5, 120, 2340, 7800, 2745);
    Text1 = namedControl<QueryBox>("Text1", Frame5);
    placeTwips(Text1, 240, 300, 7320, 1245);
    PushButton7 = button("PushButton7", "Insert Query From Template", Frame5);
    placeTwips(PushButton7, 240, 1650, 3600, 405);
    PushButton2 = button("PushButton2", "Clear Query", Frame5);
    placeTwips(PushButton2, 3960, 1650, 3600, 405);
    PushButton1 = button("PushButton1", "Execute", Frame5);
    placeTwips(PushButton1, 240, 2160, 7320, 405);

    Frame1 = frame("Frame1", "Results", this);
    placeTwips(Frame1, 120, 5160, 7800, 2775);
    DataGrid1 = namedControl<ResultsGrid>("DataGrid1", Frame1);
    DataGrid1->setFont(arialFont(9, true));
    placeTwips(DataGrid1, 240, 300, 7300, 1770);
    PushButton6 = button("PushButton6", "Save Results As", Frame1);
    placeTwips(PushButton6, 240, 2190, 7320, 405);

    Frame2 = frame("Frame2", "History", this);
    placeTwips(Frame2, 120, 8010, 7800, 1935);
    ListView1 = namedControl<HistoryList>("ListView1", Frame2);
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
    const std::pair<const char*, void (Form2::*)()> saveItems[] = {
        {"TXT", &Form2::mnuTXT_Click}, {"SQL", &Form2::mnuSQL_Click},
        {"XLS", &Form2::mnuXLS_Click}, {"CSV", &Form2::mnuCSV_Click},
        {"PDF", &Form2::mnuPDF_Click}, {"XML", &Form2::mnuXML_Click}};
    for (const auto& [item, handler] : saveItems) {
        QAction* a = mnuSaveAs->addAction(QString::fromLatin1(item));
        a->setObjectName(QStringLiteral("mnu") + QString::fromLatin1(item));
        connect(a, &QAction::triggered, this, [this, h = handler] { (this->*h)(); });
    }

    m_pointer->follow(this, false);
    for (QWidget* w : std::initializer_list<QWidget*>{Frame1, Frame2, Frame3, Frame4, Frame5,
                                                      m_list1, List2, ListView1, Text1, DataGrid1})
        m_pointer->follow(w, false);
    for (QWidget* w : {PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6,
                       PushButton7})
        m_pointer->follow(w, true);

    connect(Text1, &QPlainTextEdit::textChanged, this, [this] { Text1_Change(); });
    // The click event of the list is a change of its selection, however it
    // came: a mouse press makes the item current before it selects it, so
    // the current row alone would name no selected table yet.
    connect(m_list1, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_list1->selectedName().isEmpty()) List1_Click();
    });
    connect(List2, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_fillingFields) List2_Click();
    });
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
    connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
    connect(PushButton7, &QPushButton::clicked, this, [this] { PushButton7_Click(); });
    connect(PushButton4, &QPushButton::clicked, this, [this] {
        if (!m_run) return PushButton4_Click();
        m_backAfterRun = true;
        m_run->requestStop();
    });
    // A double-click anywhere in the list, as the list view reports it.
    ListView1->viewport()->installEventFilter(this);
    ListView1->installEventFilter(this);
}

void Form2::Form_Load() {
    Guard g(QStringLiteral("Form2.Form_Load"), this);
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
    Guard g(QStringLiteral("Form2.Form_QueryUnload"), this);
    if (g.test(100, [&] { return !ReturningToStart; })) {
        g.line(102, [&] { services().endProgram(); });
        if (services().programEnded()) return;
    }
    g.line(104, [&] { letPendingMessagesRun(); });
    g.line(106, [&] { letPendingMessagesRun(); });
}

void Form2::closeEvent(QCloseEvent* event) {
    if (m_run) {
        // Closed once the statement has stopped and gone to the history.
        m_closeAfterRun = true;
        m_run->requestStop();
        event->ignore();
        return;
    }
    // "Next >" pressed inside the pumps below loads a fresh workspace.
    m_app.workspaceClosing(this);
    Form_QueryUnload();
    event->accept();
    unload(this);
}

void Form2::Text1_Change() {
    const bool hasText = !Text1->document()->isEmpty();
    PushButton1->setEnabled(hasText);
    PushButton2->setEnabled(hasText);
}

void Form2::List1_Click() {
    Guard g(QStringLiteral("Form2.List1_Click"), this);
    const unsigned generation = ++m_listingGeneration;
    const auto stop = [&] {
        if (!g.abandoned()) m_pointer->set(kPointerDefault);
    };
    // A listing that fails before its first field leaves no other table's
    // fields behind, which the next field click would compose over.
    const auto failBeforeFields = [&] {
        if (!g.abandoned()) {
            const QScopedValueRollback filling(m_fillingFields, true);
            List2->clear();
        }
        stop();
    };
    const QString table = m_list1->selectedName();
    if (!g.line(100, [&] { m_pointer->set(kPointerBusy); })) return stop();
    std::unique_ptr<ado::Connection> connection;
    if (!g.line(102, [&] {
            connection = openConnection(m_app.startWindow(), {ado::kModeReadWrite, 0});
        }))
        return failBeforeFields();
    std::optional<ado::Recordset> recordset;
    if (!g.line(104, [&] {
            recordset.emplace(take(ado::openRecordset(
                *connection, (QStringLiteral("SELECT * FROM `") + table + u'`').toStdString())));
        }))
        return failBeforeFields();
    if (!g.line(106, [&] {
            const QScopedValueRollback filling(m_fillingFields, true);
            List2->clear();
        }))
        return stop();
    const std::vector<ado::Field>& fields = recordset->fields();
    for (const ado::Field& field : fields) {
        bool superseded = false;
        if (!g.line(108, [&] {
                letPendingMessagesRun();
                // A newer listing has filled the list and reset the pointer,
                // or the window has gone.
                superseded = generation != m_listingGeneration || unloaded();
                if (superseded) return;
                const QScopedValueRollback filling(m_fillingFields, true);
                List2->addItem(QString::fromStdString(field.name));
            }))
            return stop();
        if (superseded) return;
    }
    if (!g.line(110, [&] { m_pointer->set(kPointerDefault); })) stop();
}

void Form2::List2_Click() {
    if (m_list1->selectedItems().isEmpty()) return;
    QStringList selected;
    for (int i = 0; i < List2->count(); ++i)
        if (List2->item(i)->isSelected()) selected << List2->item(i)->text();
    Text1->setText(composeSelect(m_list1->selectedName(), selected));
}

namespace {

// The recordset object of one execution: open from line 124 on.
struct RecordsetObject {
    int cursorLocation = 0;
    std::shared_ptr<ado::Recordset> open;

    ado::Recordset& get() const {
        if (!open)
            throw Failure(
                QStringLiteral("The operation is not allowed: the recordset is not open."));
        return *open;
    }
};

}  // namespace

void Form2::PushButton1_Click() {
    Guard g(QStringLiteral("Form2.PushButton1_Click"), this);
    std::unique_ptr<ado::Connection> connection;
    std::optional<RecordsetObject> recordset;
    const auto conn = [&]() -> ado::Connection& {
        if (!connection) throw Failure(QStringLiteral("The connection object does not exist."));
        return *connection;
    };
    const auto rs = [&]() -> RecordsetObject& {
        if (!recordset) throw Failure(QStringLiteral("The recordset object does not exist."));
        return *recordset;
    };
    int32_t recordsAffected = 0;
    // Set once the statement has gone to the database: its history record is
    // written even when the window is unloaded meanwhile.
    bool sent = false;
    const auto historyStep = [&](int number, const std::function<void()>& statement) {
        return sent ? g.lineEvenIfUnloaded(number, statement) : g.line(number, statement);
    };
    g.line(100, [&] {
        CreationFailure failure;
        connection = services().connections().create(failure);
        if (!connection) throw Failure(failure.description, failure.number);
    });
    g.line(102, [&] { recordset.emplace(); });
    g.line(104, [&] { m_pointer->set(kPointerBusy); });
    g.line(106, [&] { Frame1->setTitle(QStringLiteral("Results - Number of Records: 0")); });
    g.line(108, [&] { letPendingMessagesRun(); });
    if (g.test(110, [&] { return Text1->text().size() > 7; })) {
        g.line(112, [&] { conn().setCursorLocation(ado::kCursorClient); });
        g.line(114, [&] {
            check(conn().open(BuildConnectionString(m_app.startWindow()).toStdString()));
            reportOpenNotice(conn());
        });
        g.line(116, [&] { DataGrid1->unbind(); });
        if (g.test(118,
                   [&] { return Text1->text().left(7).toLower() == QStringLiteral("select "); })) {
            g.line(120, [&] { conn().setCursorLocation(ado::kCursorClient); });
            g.line(122, [&] { rs().cursorLocation = ado::kCursorClient; });
            ado::FillEnd fillEnd = ado::FillEnd::Complete;
            g.line(124, [&] {
                if (!conn().isOpen()) throw Failure(QStringLiteral("The connection is not open."));
                sent = true;
                const std::string sql = Text1->text().toStdString();
                std::shared_ptr<ado::Recordset> opened;
                runStatement([&](const std::atomic<bool>& stop) {
                    ado::QueryOptions options;
                    options.stop = &stop;
                    opened = std::make_shared<ado::Recordset>(
                        take(ado::openRecordset(conn(), sql, options)));
                    // A static cursor fetches every record here, up to what
                    // the grid may hold.
                    ado::FillLimits limits;
                    limits.maxBytes = services().gridBudget();
                    limits.maxRows = static_cast<size_t>(std::numeric_limits<int>::max());
                    limits.stop = &stop;
                    fillEnd = take(opened->fill(limits));
                });
                rs().open = std::move(opened);
            });
            g.line(126, [&] { DataGrid1->bind(rs().open); });
            if (g.test(128, [&] { return !take(rs().get().eof()); })) {
                g.line(128, [&] {
                    Frame1->setTitle(QStringLiteral("Results - Number of Records: ") +
                                     QString::number(take(rs().get().recordCount())));
                });
                g.line(132, [&] { letPendingMessagesRun(); });
                g.line(134, [&] { PushButton6->setEnabled(true); });
            } else {
                g.line(136, [&] { PushButton6->setEnabled(false); });
            }
            // Only a grid that stays in view is worth the box.
            if (fillEnd != ado::FillEnd::Complete && !m_backAfterRun && !m_closeAfterRun)
                g.line(130, [&] {
                    reportPartialResult(fillEnd == ado::FillEnd::Stopped,
                                        static_cast<qsizetype>(take(rs().get().recordCount())));
                });
        } else {
            // A command the database refused has affected nothing; its
            // error box is the report.
            const bool ran = g.line(138, [&] {
                if (!conn().isOpen()) throw Failure(QStringLiteral("The connection is not open."));
                sent = true;
                const std::string sql = Text1->text().toStdString();
                runStatement([&](const std::atomic<bool>& stop) {
                    ado::QueryOptions options;
                    options.stop = &stop;
                    recordsAffected = take(ado::execute(conn(), sql, options));
                });
            });
            if (ran)
                g.line(140, [&] {
                    services().dialogs().message(
                        {applicationTitle(),
                         QString::number(recordsAffected) + QStringLiteral(" record(s) affected."),
                         BoxIcon::None, BoxButtons::Ok});
                });
        }
        WorkFile history;
        historyStep(142, [&] { history.openForAppend(HistoryFilePath); });
        historyStep(144,
                    [&] { history.write(encodeText(Text1->text() + QStringLiteral("\r\n"))); });
        historyStep(146, [&] { history.close(); });
        g.line(148, [&] { LoadHistory(*ListView1, HistoryFilePath); });
    }
    g.line(150, [&] { m_pointer->set(kPointerDefault); });
    if (std::exchange(m_closeAfterRun, false)) {
        m_backAfterRun = false;
        if (!unloaded()) close();
    } else if (std::exchange(m_backAfterRun, false)) {
        if (!unloaded()) PushButton4_Click();
    }
}

void Form2::runStatement(const std::function<void(const std::atomic<bool>& stop)>& work) {
    StatementRun run(*this, {PushButton4});
    // A statement started inside another's message pump runs on its own.
    StatementRun* const outer = std::exchange(m_run, &run);
    struct Restore {
        StatementRun*& slot;
        StatementRun* value;
        ~Restore() { slot = value; }
    } restore{m_run, outer};
    run.run(work);
}

void Form2::reportPartialResult(bool stopped, qsizetype rows) {
    const QString count = QString::number(rows);
    const size_t budget = services().gridBudget();
    const QString held = budget >= (size_t{1} << 20)
                             ? QString::number(budget >> 20) + QStringLiteral(" MB")
                             : QString::number(budget >> 10) + QStringLiteral(" KB");
    QString text =
        stopped
            ? QStringLiteral("The statement was stopped after %1 rows.").arg(count)
            : QStringLiteral("The result was cut at %1 rows: the grid holds at most %2 of rows.")
                  .arg(count, held);
    const ConnectionSettings& settings = m_app.startWindow();
    text += QStringLiteral(
                "\r\n\r\n\"Save Results As\" writes only these rows. To get all "
                "of them, run:\r\n\r\ntabulary-cli query \"%1\" \"STATEMENT\"%2 "
                "--format csv --output FILE.csv")
                .arg(settings.databasePath(), settings.databasePassword().isEmpty()
                                                  ? QString()
                                                  : QStringLiteral(" --password PASSWORD"));
    services().dialogs().message({applicationTitle(), text, BoxIcon::Information, BoxButtons::Ok});
}

void Form2::PushButton2_Click() {
    Guard g(QStringLiteral("Form2.PushButton2_Click"), this);
    g.line(100, [&] { Text1->setText(QString()); });
}

void Form2::PushButton5_Click() {
    Guard g(QStringLiteral("Form2.PushButton5_Click"), this);
    g.line(100, [&] {
        services().dialogs().message(
            {applicationTitle(),
             QStringLiteral(
                 "Double click on the history above the add to Query Command. Please email ") +
                 kSupportEmail + QStringLiteral(" if you have any questions."),
             BoxIcon::None, BoxButtons::Ok});
    });
}

Form3* Form2::templateWindow() const {
    return static_cast<Form3*>(m_form3.data());
}

void Form2::PushButton6_Click() {
    Guard g(QStringLiteral("Form2.PushButton6_Click"), this);
    // A chosen item's command runs from its action before the menu returns.
    g.line(106, [&] { services().dialogs().popupMenu(*mnuSaveAs, QCursor::pos()); });
}

void Form2::PushButton7_Click() {
    Guard g(QStringLiteral("Form2.PushButton7_Click"), this);
    g.line(100, [&] {
        // Loaded afresh each time, so the folders are listed again.
        auto* form3 = new Form3(*this);
        m_form3 = form3;
        form3->Form_Load();
        if (!form3->unloaded() && !services().programEnded()) form3->exec();
        form3->unloadWindow();
    });
}

void Form2::PushButton3_Click() {
    Guard g(QStringLiteral("Form2.PushButton3_Click"), this);
    g.line(102, [&] { DeleteFileQuietly(HistoryFilePath); });
    g.line(104, [&] { ListView1->clearEntries(); });
}

void Form2::ListView1_DblClick() {
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty()) return;
    Text1->setText(selected.first()->text(1));
}

void Form2::ListView1_KeyDown(int keyCode) {
    if (keyCode != 46) return;
    if (m_pointer->value() == kPointerBusy) return;
    if (ListView1->entryCount() == 0) return;
    const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
    if (selected.isEmpty()) return;
    delete selected.first();
}

bool Form2::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        ListView1_DblClick();
        return true;
    }
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        // The Delete key's Windows code.
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) ListView1_KeyDown(46);
    }
    return QWidget::eventFilter(watched, event);
}

void Form2::PushButton4_Click() {
    Guard g(QStringLiteral("Form2.PushButton4_Click"), this);
    g.line(100, [&] { ReturningToStart = true; });
    g.line(102, [&] { m_app.startWindow().showAgain(); });
    g.line(104, [&] { close(); });
}

}  // namespace tab::gui
