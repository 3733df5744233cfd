#include "workspace/select_composer.h"

#include "tabulary/accsql/lexer.h"

namespace tab::gui {

QString sqlName(const QString& name) {
    const std::string utf8 = name.toStdString();
    const bool plain =
        !name.isEmpty() && !name.front().isDigit() && accsql::isRegularIdentifier(utf8);
    return plain ? name : u'[' + name + u']';
}

QString composeSelect(const QString& table, const QStringList& selectedFields) {
    QString text = QStringLiteral("select ");
    for (const QString& field : selectedFields) text += sqlName(field) + QStringLiteral(", ");
    if (text.contains(u',')) text.chop(2);
    return text + QStringLiteral(" from ") + sqlName(table);
}

}  // namespace tab::gui
