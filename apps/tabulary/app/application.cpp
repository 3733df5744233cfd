#include "app/application.h"

#include <QApplication>

#include "app/services.h"
#include "app/start_window.h"
#include "app/window_lifetime.h"
#include "workspace/workspace_window.h"

namespace tab::gui {

Application::Application() : m_form1(std::make_unique<Form1>(*this)) {
    // Windows are hidden and shown as the user moves between them; the
    // program ends only when a handler ends it.
    QApplication::setQuitOnLastWindowClosed(false);
}

Application::~Application() {
    delete m_form2;
    deleteUnloadedWindows();
}

bool Application::start(const QString& file) {
    m_form1->openAtStart(file);
    m_form1->Form_Load();
    if (services().programEnded()) return false;
    if (!m_form1->hiddenByStartUp()) m_form1->show();
    return !services().programEnded();
}

Form2& Application::workspace() {
    if (!m_form2) {
        m_form2 = new Form2(*this);
        m_form2->Form_Load();
    }
    return *m_form2;
}

void Application::workspaceClosing(Form2* form) {
    if (m_form2 == form) m_form2 = nullptr;
}

}  // namespace tab::gui
