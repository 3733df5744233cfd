// One statement's work on a worker thread while the window's events go on,
// so that it repaints, moves and can be stopped however long the statement
// takes. Until the work ends, input reaches only scroll bars, the wheel,
// Escape (which asks the statement to stop) and the controls let through;
// every other key and click is dropped, not queued.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <vector>

namespace tab::gui {

class StatementRun : public QObject {
public:
    StatementRun(QWidget& window, std::vector<QWidget*> letThrough);
    ~StatementRun() override;

    // Runs `work` on a worker thread and returns when it has ended; an
    // exception it throws is thrown here.
    void run(const std::function<void(const std::atomic<bool>& stop)>& work);
    void requestStop() { m_stop.store(true, std::memory_order_relaxed); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool letsThrough(const QWidget* target) const;

    QWidget& m_window;
    std::vector<QPointer<QWidget>> m_letThrough;
    std::atomic<bool> m_stop{false};
};

}  // namespace tab::gui
