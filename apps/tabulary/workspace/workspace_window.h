// Form2, the query workspace: tables and fields, the query box, the results
// and the history.
#pragma once

#include <QWidget>

class QGroupBox;
class QListWidget;
class QMenu;
class QPushButton;
class QTableView;

namespace tab::gui {

class Application;
class HistoryList;
class QueryBox;
class TableList;
class WindowPointer;

class Form2 : public QWidget {
public:
    explicit Form2(Application& app);

    void Form_Load();
    // Runs for every way of closing the window.
    void Form_QueryUnload();
    void Text1_Change();
    void List1_Click();
    void PushButton4_Click();  // "< Back"

    TableList& List1() { return *m_list1; }
    WindowPointer& pointer() { return *m_pointer; }
    bool returningToStart() const { return ReturningToStart; }
    const QString& historyFilePath() const { return HistoryFilePath; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
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
    QTableView* DataGrid1;
    QPushButton* PushButton6;
    QGroupBox* Frame2;
    HistoryList* ListView1;
    QPushButton* PushButton5;
    QPushButton* PushButton3;
    QMenu* mnuSaveAs;

    bool ReturningToStart = false;
    QString HistoryFilePath;
    // Bumped by each field listing, so that one interrupted by a newer
    // click (while messages run) stops instead of mixing two tables' fields.
    unsigned m_listingGeneration = 0;
};

}  // namespace tab::gui
