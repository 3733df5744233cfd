#include "workspace/select_composer.h"

#include "tabulary/ado/text.h"

namespace tab::gui {

QString sqlName(const QString& name) {
    return QString::fromStdString(ado::quoteName(name.toStdString()));
}

QString composeSelect(const QString& table, const QStringList& selectedFields) {
    QString text = QStringLiteral("select ");
    for (const QString& field : selectedFields) text += sqlName(field) + QStringLiteral(", ");
    if (text.contains(u',')) text.chop(2);
    return text + QStringLiteral(" from ") + sqlName(table);
}

}  // namespace tab::gui
