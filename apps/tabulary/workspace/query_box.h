// The query box: a multi-line text box whose text uses CR LF for every line
// break, read and written, as the history and the exports expect.
#pragma once

#include <QPlainTextEdit>

namespace tab::gui {

class QueryBox : public QPlainTextEdit {
public:
    explicit QueryBox(QWidget* parent);

    // Every line break as CR LF; other characters exactly as typed.
    QString text() const;
    // CR LF, and a lone CR or LF, each start a new line.
    void setText(const QString& text);
    // The text as text() gives it back after setText: every line break CR LF.
    static QString withCrLf(const QString& text);
    // The same, as one edit that undo takes back.
    void replaceText(const QString& text);

    // The caret (the start of a selection) as a position in text(): the
    // characters before it, a line break counting as its CR LF.
    int caretPosition() const;
    // Puts the caret at a position in text(), clamped to the text.
    void setCaretPosition(int position);
};

}  // namespace tab::gui
