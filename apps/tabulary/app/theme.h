// The look of the windows and the pointer feedback: the skin of the start
// window, the button-face colour theme, the window pointer (0 arrow, 11
// busy, 99 the hand) and the mouse-move rule that switches it.
#pragma once

#include <QCursor>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <optional>

class QWidget;

namespace tab::gui {

class SkinFramework;

inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerBusy = 11;
inline constexpr int kPointerCustom = 99;

// Arial at a point size (Liberation Sans where Arial itself is missing).
QFont arialFont(double points, bool bold);
// Places a control at a position given in twips, 15 to the pixel.
void placeTwips(QWidget* widget, int left, int top, int width, int height);

// The system's button-face colour, as the style has it.
QColor buttonFaceColour();

// Background of one widget, painted by itself.
void setBackground(QWidget* widget, const QColor& colour);

// Skins the start window when the skin file exists: button-face colours,
// then the skin loaded, switched and applied. Failures reach the caller.
void ApplySkin(QWidget* startWindow, SkinFramework& skin);
// The button-face colour for the window and its frames and labels.
void ApplyColourTheme(QWidget* window);

// A push button as the program's windows use them: it keeps its mouse moves
// (they do not reach the frame under it), so the hand stays over it.
class PushButton : public QPushButton {
public:
    PushButton(const QString& caption, QWidget* parent);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
};

// A control under the name the design gives it (its object name), so that
// tests and other windows find it.
template <class W, class... Args>
W* namedControl(const char* name, QWidget* parent, Args&&... args) {
    W* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}
// A push button in the windows' button font (Arial 11.25 pt bold).
PushButton* namedButton(const char* name, const QString& caption, QWidget* parent);

// One pointer setting over a whole window and its controls.
class WindowPointer : public QObject {
public:
    explicit WindowPointer(QWidget* window);

    int value() const { return m_value; }
    void set(int value);
    // The window's custom mouse icon, shown for value 99.
    void setCustomCursor(const QCursor& cursor);
    bool hasCustomCursor() const { return m_custom.has_value(); }

    // The mouse-move rule for a control (or the window itself): while busy
    // nothing changes, else push buttons show the hand and the rest the arrow.
    void follow(QWidget* control, bool pushButton);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply(QWidget* widget);

    QWidget* m_window;
    int m_value = kPointerDefault;
    std::optional<QCursor> m_custom;
    QHash<QObject*, bool> m_followed;  // watched object → is a push button
    // Cursors the controls had of their own (text boxes: the I-beam).
    QHash<QWidget*, std::optional<QCursor>> m_own;
};

}  // namespace tab::gui
