#include "workspace/query_box.h"

namespace tab::gui {

QueryBox::QueryBox(QWidget* parent) : QPlainTextEdit(parent) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
}

QString QueryBox::text() const {
    // toPlainText() would turn non-breaking spaces into blanks.
    QString raw = document()->toRawText();
    QString out;
    out.reserve(raw.size() + raw.size() / 16);
    for (QChar c : raw) {
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == u'\n')
            out += QStringLiteral("\r\n");
        else
            out += c;
    }
    return out;
}

void QueryBox::setText(const QString& text) {
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    setPlainText(plain);
}

}  // namespace tab::gui
