// The statement that clicking fields composes: "select " and the selected
// fields in list order, " from " and the table.
#pragma once

#include <QString>
#include <QStringList>

namespace tab::gui {

// A name as it can stand in a statement: plain identifiers as they are,
// anything else (a blank, a hyphen, a leading digit, a reserved word) in
// square brackets.
QString sqlName(const QString& name);

QString composeSelect(const QString& table, const QStringList& selectedFields);

}  // namespace tab::gui
