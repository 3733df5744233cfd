// Form2, the query workspace: tables and fields, the query box, the results
// and the history.
#pragma once

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>

#include "app/window_lifetime.h"

class QGroupBox;
class QListWidget;
class QMenu;
class QPushButton;

namespace tab::gui {

class Application;
class Form3;
class HistoryList;
class QueryBox;
class ResultsGrid;
class StatementRun;
class TableList;
class WindowPointer;

class Form2 : public QWidget, public UnloadableWindow {
public:
    explicit Form2(Application& app);

    void Form_Load();
    // Runs for every way of closing the window.
    void Form_QueryUnload();
    void Text1_Change();
    void List1_Click();
    void List2_Click();
    void PushButton1_Click();  // "Execute"
    void PushButton2_Click();  // "Clear Query"
    void PushButton3_Click();  // "Clear History"
    void PushButton4_Click();  // "< Back"
    void PushButton5_Click();  // "Help"
    void PushButton6_Click();  // "Save Results As"
    void PushButton7_Click();  // "Insert Query From Template"
    // The "Save Results As" menu's commands.
    void mnuTXT_Click();
    void mnuSQL_Click();
    void mnuXLS_Click();
    void mnuCSV_Click();
    void mnuPDF_Click();
    void mnuXML_Click();
    void ListView1_DblClick();
    void ListView1_KeyDown(int keyCode);

    ResultsGrid& grid() { return *DataGrid1; }
    QMenu& saveAsMenu() { return *mnuSaveAs; }

    TableList& List1() { return *m_list1; }
    const TableList& List1() const { return *m_list1; }
    const QListWidget& fieldList() const { return *List2; }
    QueryBox& queryBox() { return *Text1; }
    // The Insert Template window while it is open.
    Form3* templateWindow() const;
    WindowPointer& pointer() { return *m_pointer; }
    bool returningToStart() const { return ReturningToStart; }
    // A statement is reading rows or changing the file right now.
    bool statementRunning() const { return m_run != nullptr; }
    const QString& historyFilePath() const { return HistoryFilePath; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A statement's reading or change, run so that the window stays live;
    // Escape, "< Back" and the close box stop it.
    void runStatement(const std::function<void(const std::atomic<bool>& stop)>& work);
    // The box after a result that was cut or stopped.
    void reportPartialResult(bool stopped, qsizetype rows);

    // One Save command: the dialog with the command's filter, then `write`.
    void saveResultsAs(const QString& procedure, const QString& filter,
                       const std::function<void(const QString& path)>& write);

    Application& m_app;
    WindowPointer* m_pointer;
    QPushButton* PushButton4;
    QGroupBox* Frame3;
    TableList* m_list1;
    QGroupBox* Frame4;
    QListWidget* List2;
    QGroupBox* Frame5;
    QueryBox* Text1;
    QPushButton* PushButton7;
    QPushButton* PushButton2;
    QPushButton* PushButton1;
    QGroupBox* Frame1;
    ResultsGrid* DataGrid1;
    QPushButton* PushButton6;
    QGroupBox* Frame2;
    HistoryList* ListView1;
    QPushButton* PushButton5;
    QPushButton* PushButton3;
    QMenu* mnuSaveAs;
    QPointer<QWidget> m_form3;
    // The Save dialog's file name, kept for the window's life.
    QString m_lastSaveName;

    // The statement running, while it runs.
    StatementRun* m_run = nullptr;
    // "< Back" or the close box while a statement ran: done once it has ended.
    bool m_backAfterRun = false;
    bool m_closeAfterRun = false;

    bool ReturningToStart = false;
    QString HistoryFilePath;
    // Bumped by each field listing, so that one interrupted by a newer
    // click (while messages run) stops instead of mixing two tables' fields.
    unsigned m_listingGeneration = 0;
    // Set while a field listing refills List2, whose selection then changes
    // without a click.
    bool m_fillingFields = false;
};

}  // namespace tab::gui
