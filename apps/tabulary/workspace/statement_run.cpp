#include "workspace/statement_run.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QScrollBar>
#include <QThread>
#include <exception>
#include <memory>

namespace tab::gui {

StatementRun::StatementRun(QWidget& window, std::vector<QWidget*> letThrough) : m_window(window) {
    for (QWidget* w : letThrough) m_letThrough.emplace_back(w);
}

StatementRun::~StatementRun() = default;

void StatementRun::run(const std::function<void(const std::atomic<bool>& stop)>& work) {
    std::exception_ptr failure;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        try {
            work(m_stop);
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    QEventLoop loop;
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    qApp->installEventFilter(this);
    worker->start();
    loop.exec();
    // The loop also ends when the program does; the work must not outlive it.
    if (!worker->isFinished()) requestStop();
    worker->wait();
    qApp->removeEventFilter(this);
    if (failure) std::rethrow_exception(failure);
}

bool StatementRun::letsThrough(const QWidget* target) const {
    for (const QWidget* w = target; w; w = w->parentWidget()) {
        if (qobject_cast<const QScrollBar*>(w)) return true;
        for (const QPointer<QWidget>& p : m_letThrough)
            if (p == w) return true;
        if (w->isWindow()) break;
    }
    return false;
}

bool StatementRun::eventFilter(QObject* watched, QEvent* event) {
    // Events reach a window first and its widgets from there; only the
    // widgets' deliveries are sorted.
    if (!watched->isWidgetType()) return false;
    const auto* target = static_cast<QWidget*>(watched);
    switch (event->type()) {
        case QEvent::KeyPress:
            if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
                target->window() == &m_window)
                requestStop();
            return true;
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::ContextMenu:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            return !letsThrough(target);
        default:
            return false;  // painting, moves, the wheel, timers
    }
}

}  // namespace tab::gui
