#include "workspace/query_box.h"

#include <QTextBlock>

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

namespace {

QString plainText(const QString& text) {
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return plain;
}

}  // namespace

QString QueryBox::withCrLf(const QString& text) {
    return plainText(text).replace(u'\n', QStringLiteral("\r\n"));
}

void QueryBox::setText(const QString& text) {
    setPlainText(plainText(text));
}

void QueryBox::replaceText(const QString& text) {
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(plainText(text));
}

namespace {

bool isBreak(QChar c) {
    return c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == u'\n';
}

}  // namespace

int QueryBox::caretPosition() const {
    const int start = textCursor().selectionStart();
    const QString raw = document()->toRawText();
    int position = 0;
    for (int i = 0; i < start && i < raw.size(); ++i) position += isBreak(raw[i]) ? 2 : 1;
    return position;
}

void QueryBox::setCaretPosition(int position) {
    const QString raw = document()->toRawText();
    int at = 0;
    for (int counted = 0; at < raw.size(); ++at) {
        const int width = isBreak(raw[at]) ? 2 : 1;
        if (counted + width > position) break;
        counted += width;
    }
    QTextCursor cursor = textCursor();
    cursor.setPosition(std::min(at, document()->characterCount() - 1));
    setTextCursor(cursor);
}

}  // namespace tab::gui
