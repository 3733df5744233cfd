#include "templating/placeholder_filling.h"

#include <QHash>
#include <algorithm>
#include <optional>
#include <vector>

#include "workspace/select_composer.h"

namespace tab::gui {

namespace {

bool isLineBreak(QChar c) {
    return c == u'\r' || c == u'\n';
}

// For every position of a text: whether it stands inside a bracketed name or
// back quotes written on its line. One pass, so a long template with many
// placeholders stays linear.
class Enclosures {
public:
    explicit Enclosures(const QString& text)
        : m_inBrackets(text.size() + 1),
          m_inQuotes(text.size() + 1),
          m_closeAfter(text.size() + 1),
          m_quoteAfter(text.size() + 1) {
        const qsizetype n = text.size();
        // Before a position: the nearest bracket on the line is an opening
        // one; back quotes opened an odd number of times.
        bool open = false, quoted = false;
        for (qsizetype i = 0; i < n; ++i) {
            m_inBrackets[i] = open;
            m_inQuotes[i] = quoted;
            const QChar c = text[i];
            if (isLineBreak(c))
                open = quoted = false;
            else if (c == u'[')
                open = true;
            else if (c == u']')
                open = false;
            else if (c == u'`')
                quoted = !quoted;
        }
        m_inBrackets[n] = open;
        m_inQuotes[n] = quoted;
        // From a position on: the nearest bracket on the line is a closing
        // one; a back quote follows on the line.
        bool close = false, quoteAfter = false;
        for (qsizetype i = n - 1; i >= 0; --i) {
            const QChar c = text[i];
            if (isLineBreak(c))
                close = quoteAfter = false;
            else if (c == u']')
                close = true;
            else if (c == u'[')
                close = false;
            else if (c == u'`')
                quoteAfter = true;
            m_closeAfter[i] = close;
            m_quoteAfter[i] = quoteAfter;
        }
    }

    // The text from `start` to `end` is enclosed by the template itself.
    bool enclosed(qsizetype start, qsizetype end) const {
        return (m_inBrackets[start] && m_closeAfter[end]) ||
               (m_inQuotes[start] && m_quoteAfter[end]);
    }

private:
    std::vector<char> m_inBrackets, m_inQuotes, m_closeAfter, m_quoteAfter;
};

// One run of the filling over a simulated template box. Names go in as
// markers made of a character the text does not hold, so they can neither
// form nor hide a placeholder; the markers become the names at the end.
class Filling {
public:
    Filling(const QString& text, const WorkspaceSelection& selection, QChar marker)
        : m_selection(selection), m_box(text), m_marker(marker) {}

    // A character of the private use area that the text does not hold.
    static std::optional<QChar> markerFor(const QString& text) {
        for (char16_t c = 0xE000; c <= 0xF8FF; ++c)
            if (!text.contains(QChar(c))) return QChar(c);
        return std::nullopt;
    }

    void run() {
        if (!m_box.contains(u'{')) return;
        write(replaced(m_box, u"{table}", m_selection.table));
        write(replaced(m_box, u"{table1}", m_selection.table));
        if (m_box.contains(QStringLiteral("{field}"), Qt::CaseInsensitive)) {
            write(replaced(m_box, u"{field}", m_selection.currentField));
            return;
        }
        int wanted = 0;
        for (int k = 1; k <= 10; ++k)
            if (m_box.contains(QStringLiteral("{field") + QString::number(k), Qt::CaseInsensitive))
                ++wanted;
        const QStringList& selected = m_selection.selectedFields;
        if (selected.size() < wanted) return;
        for (qsizetype j = 1; j <= selected.size(); ++j) {
            const QString placeholder = QStringLiteral("{field") + QString::number(j) + u'}';
            write(replaced(m_box, placeholder, selected[j - 1]));
        }
    }

    QString result() const {
        QString out;
        out.reserve(m_box.size());
        for (qsizetype i = 0; i < m_box.size(); ++i) {
            if (m_box[i] != m_marker) {
                out += m_box[i];
                continue;
            }
            const qsizetype close = m_box.indexOf(m_marker, i + 1);
            bool ok = false;
            const qsizetype index = m_box.mid(i + 1, close - i - 1).toLongLong(&ok);
            if (close < 0 || !ok || index < 0 || index >= static_cast<qsizetype>(m_names.size()))
                return m_box;  // cannot happen: every marker is ours
            out += m_names[static_cast<size_t>(index)];
            i = close;
        }
        return out;
    }

private:
    // A write that changes the box starts a nested run at once.
    void write(QString text) {
        if (text == m_box) return;
        m_box = std::move(text);
        run();
    }

    QString nameMarker(const QString& name, bool bare) {
        const QString filled = bare || name.isEmpty() ? name : sqlName(name);
        auto found = m_index.constFind(filled);
        if (found == m_index.constEnd()) {
            found = m_index.insert(filled, static_cast<int>(m_names.size()));
            m_names.push_back(filled);
        }
        return m_marker + QString::number(*found) + m_marker;
    }

    // Every occurrence of the placeholder, letter case ignored, from the start.
    QString replaced(const QString& text, QStringView placeholder, const QString& name) {
        qsizetype at = text.indexOf(placeholder, 0, Qt::CaseInsensitive);
        if (at < 0) return text;
        const Enclosures enclosures(text);
        QString out;
        qsizetype from = 0;
        for (; at >= 0; at = text.indexOf(placeholder, from, Qt::CaseInsensitive)) {
            const qsizetype end = at + placeholder.size();
            out += QStringView(text).mid(from, at - from);
            out += nameMarker(name, enclosures.enclosed(at, end));
            from = end;
        }
        out += QStringView(text).mid(from);
        return out;
    }

    const WorkspaceSelection& m_selection;
    QString m_box;
    QChar m_marker;
    std::vector<QString> m_names;
    QHash<QString, int> m_index;
};

}  // namespace

QString FillPlaceholders(const QString& text, const WorkspaceSelection& selection) {
    if (!text.contains(u'{')) return text;
    // A text that holds every private use character is no template.
    const std::optional<QChar> marker = Filling::markerFor(text);
    if (!marker) return text;
    Filling filling(text, selection, *marker);
    filling.run();
    return filling.result();
}

int caretAfterFilling(const QString& before, const QString& after, int caret) {
    qsizetype same = 0;
    const qsizetype shorter = std::min(before.size(), after.size());
    while (same < shorter && before[same] == after[same]) ++same;
    if (caret <= same) return caret;
    const qsizetype fromEnd = before.size() - caret;
    return static_cast<int>(std::max(same, after.size() - fromEnd));
}

}  // namespace tab::gui
