#include "app/theme.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>

#include "app/app_paths.h"
#include "app/skin_framework.h"

namespace tab::gui {

QFont arialFont(double points, bool bold) {
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

void placeTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(qRound(left / 15.0), qRound(top / 15.0), qRound(width / 15.0),
                   qRound(height / 15.0));
}

QColor buttonFaceColour() {
    return QApplication::palette().color(QPalette::Button);
}

void setBackground(QWidget* widget, const QColor& colour) {
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, colour);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}

namespace {

bool takesThemeColour(QWidget* w) {
    return qobject_cast<QRadioButton*>(w) || qobject_cast<QCheckBox*>(w) ||
           qobject_cast<QGroupBox*>(w) || qobject_cast<QLabel*>(w);
}

void colourControls(QWidget* window) {
    const QColor face = buttonFaceColour();
    setBackground(window, face);
    for (QWidget* w : window->findChildren<QWidget*>())
        if (takesThemeColour(w)) setBackground(w, face);
}

}  // namespace

void ApplySkin(QWidget* startWindow, SkinFramework& skin) {
    const QString path = applicationFolder() + QStringLiteral("/x/o.cjs");
    // An ordinary file only: a folder of that name is no skin.
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile()) return;
    colourControls(startWindow);
    skin.loadSkin(path, QString());
    skin.setOptions(skin.options() | SkinFramework::kSkinChildControls);
    skin.setHoverEffects(true);
    skin.setFocusFrames(true);
    skin.applyWindow(startWindow);
}

void ApplyColourTheme(QWidget* window) {
    colourControls(window);
}

PushButton::PushButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setMouseTracking(true);
}

void PushButton::mouseMoveEvent(QMouseEvent* event) {
    QPushButton::mouseMoveEvent(event);
    event->accept();
}

PushButton* namedButton(const char* name, const QString& caption, QWidget* parent) {
    auto* b = namedControl<PushButton>(name, parent, caption);
    b->setFont(arialFont(11.25, true));
    b->setAutoDefault(false);
    return b;
}

WindowPointer::WindowPointer(QWidget* window) : QObject(window), m_window(window) {}

void WindowPointer::apply(QWidget* w) {
    if (!m_own.contains(w))
        m_own.insert(w, w->testAttribute(Qt::WA_SetCursor) ? std::optional<QCursor>(w->cursor())
                                                           : std::nullopt);
    switch (m_value) {
        case kPointerBusy:
            w->setCursor(Qt::WaitCursor);
            break;
        case kPointerCustom:
            w->setCursor(m_custom ? *m_custom : QCursor(Qt::ArrowCursor));
            break;
        default:
            if (const auto& own = m_own[w])
                w->setCursor(*own);
            else
                w->unsetCursor();
            break;
    }
}

void WindowPointer::set(int value) {
    if (value == m_value) return;
    m_value = value;
    apply(m_window);
    for (QWidget* w : m_window->findChildren<QWidget*>()) apply(w);
}

void WindowPointer::setCustomCursor(const QCursor& cursor) {
    m_custom = cursor;
    if (m_value == kPointerCustom) {
        m_value = -1;
        set(kPointerCustom);
    }
}

void WindowPointer::follow(QWidget* control, bool pushButton) {
    control->setMouseTracking(true);
    control->installEventFilter(this);
    m_followed.insert(control, pushButton);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(control)) {
        area->viewport()->setMouseTracking(true);
        area->viewport()->installEventFilter(this);
        m_followed.insert(area->viewport(), pushButton);
    }
}

bool WindowPointer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        const auto it = m_followed.constFind(watched);
        if (it != m_followed.constEnd() && m_value != kPointerBusy)
            set(it.value() ? kPointerCustom : kPointerDefault);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tab::gui
