// The program's windows and their lifetimes: the start window for the whole
// run, the workspace from "Next >" until "< Back" or the end.
#pragma once

#include <QString>
#include <memory>

namespace tab::gui {

class Form1;
class Form2;

class Application {
public:
    Application();
    ~Application();

    // Loads the start window (the whole start-up) and shows it unless the
    // start-up moved on to the workspace. False when the program ended.
    // `file`, when given, is opened in place of the remembered database.
    bool start(const QString& file = QString());

    Form1& startWindow() { return *m_form1; }
    // The workspace, created and loaded first when it is not loaded.
    Form2& workspace();
    Form2* loadedWorkspace() const { return m_form2; }
    // Called by the workspace as its unload begins: from then on workspace()
    // loads a fresh one.
    void workspaceClosing(Form2* form);

private:
    std::unique_ptr<Form1> m_form1;
    Form2* m_form2 = nullptr;  // deleted after it unloads (UnloadableWindow)
};

}  // namespace tab::gui
