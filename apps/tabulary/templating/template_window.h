// Form3, "Insert Template": a template chosen from the catalogue, its
// placeholders filled from the workspace's table and fields, fragments put in
// at the caret, the result handed to the workspace's query box.
#pragma once

#include <QDialog>

#include "app/window_lifetime.h"
#include "templating/placeholder_filling.h"
#include "templating/template_catalogue.h"

class QComboBox;
class QLabel;

namespace tab::gui {

class Form2;
class Guard;
class PushButton;
class QueryBox;
class WindowPointer;

class Form3 : public QDialog, public UnloadableWindow {
public:
    explicit Form3(Form2& workspace);

    void Form_Load();
    void Combo1_Click();
    void Combo1_Change() { Combo1_Click(); }
    // The placeholder filling, after every change of the template box.
    void Text1_Change();
    void PushButton1_Click();  // "Insert Template"
    void PushButton2_Click();  // "Cancel"
    void PushButton3_Click();  // "Insert Fragment"

    // Unload: hidden (a modal run ends) and deleted once no handler runs.
    void unloadWindow();

    const TemplateCatalogue& templateCatalogue() const { return m_templates; }
    const TemplateCatalogue& fragmentCatalogue() const { return m_fragments; }
    WindowPointer& pointer() { return *m_pointer; }

protected:
    void done(int result) override;

private:
    // The workspace's current table, current field and selected fields.
    WorkspaceSelection selection() const;
    // A folder's shipped and own files into a list and its catalogue, under
    // the seven line numbers from `firstLine` on.
    void addFolder(Guard& g, int firstLine, const TemplateFolder& folder, QComboBox* list,
                   TemplateCatalogue& catalogue);
    // Puts text into the template box with the caret at `caret`; a change
    // runs the filling, which keeps the caret behind what was inserted.
    void writeTemplateBox(const QString& text, int caret);

    Form2& m_workspace;
    WindowPointer* m_pointer;
    QLabel* Label2;
    QComboBox* Combo1;
    QLabel* Label1;
    QComboBox* Combo2;
    PushButton* PushButton3;
    QueryBox* Text1;
    PushButton* PushButton1;
    PushButton* PushButton2;

    TemplateCatalogue m_templates;
    TemplateCatalogue m_fragments;
    // Set while the window writes the box itself.
    bool m_writing = false;
};

}  // namespace tab::gui
