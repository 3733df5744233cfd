// Guarded procedures: numbered statements whose failures are shown in one
// "Application Error" box each, after which the procedure goes on with the
// next statement. A handler writes its steps as
//
//     Guard g("Form1.PushButton3_Click");
//     if (!g.test(100, [&] { return PathExists(path); })) return;
//     g.line(102, [&] { ... });
//
// A failure is any exception from the statement, also from procedures it
// calls that have no guard of their own; a guarded callee reports its own.
//
// Once the program has ended, or the window the procedure belongs to has been
// unloaded under it (inside a message pump), its remaining steps are skipped:
// line() returns false and test() false without running or reporting.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "app/window_lifetime.h"

namespace tab::gui {

// The box text: description, CR LF, source text, "at line ", the number,
// two lone CRs, and the request to mail a screenshot.
QString procedureErrorText(const QString& description, const QString& source, long line);
void ShowProcedureError(const QString& description, const QString& source, long line);

// Seen by tests only: every numbered statement as it starts, and a chance to
// make it fail instead of running it.
class GuardHooks {
public:
    virtual ~GuardHooks() = default;
    virtual void started(const QString& procedure, int line) = 0;
    // A description makes the statement fail with it; `ordinal` counts the
    // statements this run of the procedure has started, from 0.
    virtual std::optional<QString> injectFailure(const QString& procedure, int line,
                                                 int ordinal) = 0;
};

class Guard {
public:
    // `procedure` is "Window.Handler", e.g. "Form1.Form_Load".
    explicit Guard(QString procedure, const UnloadableWindow* window = nullptr);

    const QString& procedure() const { return m_procedure; }
    // "in Ravelin2021/08/31.Form1.Form_Load "
    QString source() const;

    // Runs one numbered statement; false when it failed (and was reported).
    bool line(int number, const std::function<void()>& statement);
    // A numbered test. A failing test counts as true, so the step it guards
    // runs next.
    bool test(int number, const std::function<bool()>& condition);
    // A step that still runs when the window has been unloaded, for work
    // that outlives it (the history record of a statement that ran); not
    // after the program has ended.
    bool lineEvenIfUnloaded(int number, const std::function<void()>& statement);

    // The remaining steps will be skipped.
    bool abandoned() const;

private:
    bool run(int number, const std::function<void()>& statement);

    HandlerScope m_scope;
    QString m_procedure;
    const UnloadableWindow* m_window;
    int m_ordinal = 0;
};

}  // namespace tab::gui
