// Filling a template's placeholders from the workspace's selection:
// {table} and {table1} with the current table, {field} with the current
// field, {field1}, {field2}, ... with the selected fields in list order.
// Letter case is ignored in placeholders.
#pragma once

#include <QString>
#include <QStringList>

namespace tab::gui {

struct WorkspaceSelection {
    QString table;         // "" when the table list has no current item
    QString currentField;  // "" when the field list has no current item
    QStringList selectedFields;
};

// The text as the template box holds it once every write of the filling and
// every nested re-run those writes cause are done. The rules, in order:
// nothing without "{"; {table} and {table1} filled; a {field} filled and the
// run stops there (its re-run fills the numbered ones); numbered ones only
// when at least as many fields are selected as placeholders {field1} ...
// {field10} are present.
//
// A name that is not a plain identifier is filled in square brackets, unless
// the template already encloses the placeholder in brackets or back quotes.
// The names filled in are never read as placeholders themselves, so a field
// called "{field}" cannot make the filling run on for ever.
QString FillPlaceholders(const QString& text, const WorkspaceSelection& selection);

// Where the caret goes after the filling rewrote `before` as `after`: it
// keeps its place in the unchanged start of the text, else its distance from
// the end, so it stays behind what was just inserted.
int caretAfterFilling(const QString& before, const QString& after, int caret);

}  // namespace tab::gui
