// Form1, the start window: the database file and its password, and the way
// on to the workspace. Its load handler is the whole start-up.
#pragma once

#include <QWidget>

#include "app/dialogs.h"
#include "app/skin_framework.h"
#include "db/connection_settings.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tab::gui {

class Application;
class Failure;
class WindowPointer;

class Form1 : public QWidget, public ConnectionSettings {
public:
    explicit Form1(Application& app);
    ~Form1() override;

    // ConnectionSettings: the two boxes as they stand.
    QString databasePath() const override;
    QString databasePassword() const override;

    // The file named on the command line, made absolute: Form_Load puts it in
    // the place of the remembered one.
    void openAtStart(const QString& path);

    void Form_Load();
    void PushButton1_Click();  // "Load Sample/Example Database"
    void PushButton3_Click();  // "Next >"
    void PushButton6_Click();  // "..."
    void Text1_Change();
    void Text2_Change();

    WindowPointer& pointer() { return *m_pointer; }
    // Hidden by "Next >" during the start-up, so not shown after it.
    bool hiddenByStartUp() const { return m_hiddenByNext; }
    // Shows the window again ("< Back").
    void showAgain();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void writeSetting(const QString& key, const QString& value);
    // SyncSettings, failures told like those of writeSetting.
    void syncSettings();
    void settingFailed(const Failure& f);

    Application& m_app;
    WindowPointer* m_pointer;
    SkinFramework SkinFramework1;
    FileDialog CommonDialog1;
    QGroupBox* Frame1;
    QLabel* Label5;
    QLineEdit* Text1;
    QPushButton* PushButton6;
    QLabel* lblPassword;
    QLineEdit* Text2;
    QPushButton* PushButton1;
    QPushButton* PushButton3;
    QString m_startFile;
    bool m_hiddenByNext = false;
    bool m_settingFailureShown = false;
};

}  // namespace tab::gui
