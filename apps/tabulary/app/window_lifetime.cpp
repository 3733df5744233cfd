#include "app/window_lifetime.h"

#include <QPointer>
#include <QWidget>
#include <vector>

namespace tab::gui {

namespace {

int g_depth = 0;

std::vector<QPointer<QWidget>>& waiting() {
    static std::vector<QPointer<QWidget>> windows;
    return windows;
}

// Handed to the event loop; kept so that the program's end frees those the
// loop no longer deletes.
std::vector<QPointer<QWidget>>& released() {
    static std::vector<QPointer<QWidget>> windows;
    return windows;
}

// Handed to the event loop only when nothing of ours is on the stack: a nested
// loop (a message box, the next pump) could otherwise run the deletion under
// a handler that still uses the window.
void releaseWaiting() {
    std::vector<QPointer<QWidget>> windows;
    windows.swap(waiting());
    std::erase_if(released(), [](const QPointer<QWidget>& w) { return w.isNull(); });
    for (const QPointer<QWidget>& w : windows) {
        if (!w) continue;
        w->deleteLater();
        released().push_back(w);
    }
}

}  // namespace

void UnloadableWindow::unload(QWidget* self) {
    if (m_unloaded) return;
    m_unloaded = true;
    waiting().emplace_back(self);
    if (g_depth == 0) releaseWaiting();
}

HandlerScope::HandlerScope() {
    ++g_depth;
}

HandlerScope::~HandlerScope() {
    if (--g_depth == 0) releaseWaiting();
}

bool HandlerScope::idle() {
    return g_depth == 0;
}

void deleteUnloadedWindows() {
    for (auto* list : {&waiting(), &released()}) {
        std::vector<QPointer<QWidget>> windows;
        windows.swap(*list);
        for (const QPointer<QWidget>& w : windows) delete w.data();
    }
}

}  // namespace tab::gui
