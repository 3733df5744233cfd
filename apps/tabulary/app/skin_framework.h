// The skin engine of the start window. A skin is a Qt style sheet of our own
// design (the file x/o.cjs beside the program); loading checks its signature
// line, and applying it sets the sheet on one window.
#pragma once

#include <QString>

class QWidget;

namespace tab::gui {

class SkinFramework {
public:
    // Option bits; kSkinChildControls extends the sheet to the window's
    // controls, not only the window itself.
    static constexpr int kSkinChildControls = 1;

    // Reads and checks the skin file; `iniName` selects a variant (empty:
    // the default). Throws Failure when the file cannot be read or is not a skin.
    void loadSkin(const QString& path, const QString& iniName);

    int options() const { return m_options; }
    void setOptions(int options) { m_options = options; }
    // Sections of the sheet that are used only when switched on.
    void setHoverEffects(bool on) { m_hoverEffects = on; }
    void setFocusFrames(bool on) { m_focusFrames = on; }
    bool hoverEffects() const { return m_hoverEffects; }
    bool focusFrames() const { return m_focusFrames; }

    // The style sheet that applyWindow sets, from the loaded skin and the
    // switches; "" before a skin is loaded.
    QString styleSheet() const;
    // Throws Failure when no skin is loaded.
    void applyWindow(QWidget* window) const;

private:
    QString m_sheet;
    // Marked parts of the skin file, each used only under its switch.
    QString m_children;
    QString m_hover;
    QString m_focus;
    bool m_loaded = false;
    int m_options = 0;
    bool m_hoverEffects = false;
    bool m_focusFrames = false;
};

}  // namespace tab::gui
