// Windows that are unloaded while one of the program's handlers runs.
//
// Message pumps inside a handler let other handlers run, among them "< Back"
// and the close box, which unload the very window whose handler is waiting.
// Such a window is deleted only after the outermost handler has returned, and
// the steps its running handlers have left do nothing (see Guard).
#pragma once

class QWidget;

namespace tab::gui {

class UnloadableWindow {
public:
    // True from the end of the window's unload on.
    bool unloaded() const { return m_unloaded; }

protected:
    // The window has gone: it is deleted when no handler runs any more.
    void unload(QWidget* self);

private:
    bool m_unloaded = false;
};

// Counts the handlers on the stack; every guarded procedure holds one.
class HandlerScope {
public:
    HandlerScope();
    ~HandlerScope();
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

    // No handler of the program is running.
    static bool idle();
};

// Deletes at once the unloaded windows still waiting (the program's end).
void deleteUnloadedWindows();

}  // namespace tab::gui
