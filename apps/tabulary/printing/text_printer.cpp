#include "printing/text_printer.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <optional>
#include <tuple>

namespace tab::printing {

namespace {

const QStringView kCrLf = u"\r\n";

// Line breaks inside a value break its cell's line; other controls would
// print as boxes or nothing.
QString cleanCell(QStringView raw) {
    const bool plain = std::none_of(
        raw.begin(), raw.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
    if (plain) return raw.toString();
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c == u'\r') {
            out += QChar(QChar::LineSeparator);
            if (i + 1 < raw.size() && raw[i + 1] == u'\n') ++i;
        } else if (c == u'\n') {
            out += QChar(QChar::LineSeparator);
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            out += u' ';
        } else {
            out += c;
        }
    }
    return out;
}

// Every field is followed by TAB, so the piece after the last TAB is empty
// unless the line lost its final TAB.
QStringList splitFields(QStringView line) {
    QStringList cells;
    qsizetype start = 0;
    while (start < line.size()) {
        const qsizetype tab = line.indexOf(u'\t', start);
        if (tab < 0) {
            cells << cleanCell(line.mid(start));
            break;
        }
        cells << cleanCell(line.mid(start, tab - start));
        start = tab + 1;
    }
    return cells;
}

}  // namespace

TextTable parseTabSeparated(QByteArrayView document) {
    QString text = QString::fromUtf8(document);
    if (text.startsWith(QChar(0xfeff))) text.remove(0, 1);

    TextTable table;
    bool first = true;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(kCrLf, start);
        const qsizetype next = end < 0 ? text.size() : end + 2;
        if (end < 0) end = text.size();
        QStringList cells = splitFields(QStringView(text).mid(start, end - start));
        if (first)
            table.header = std::move(cells);
        else
            table.rows.push_back(std::move(cells));
        first = false;
        start = next;
    }

    qsizetype columns = table.header.size();
    for (const QStringList& row : table.rows) columns = std::max(columns, row.size());
    if (columns == 0) table.rows.clear();
    while (table.header.size() < columns) table.header << QString();
    for (QStringList& row : table.rows)
        while (row.size() < columns) row << QString();
    return table;
}

namespace {

constexpr QChar kLineSeparator(QChar::LineSeparator);
constexpr int kMaxHeaderLines = 3;

QStringList fontFamilies() {
    // DejaVu covers Latin, Greek, Cyrillic and Hebrew; Noto CJK the Han
    // ideographs, kana and Hangul.
    return {QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans CJK JP"),
            QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK KR"),
            QStringLiteral("Noto Sans CJK TC")};
}

bool looksNumeric(const QString& s) {
    qsizetype i = 0;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) ++i;
    bool digit = false;
    for (; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c >= u'0' && c <= u'9')
            digit = true;
        else if (c != u'.' && c != u',')
            return false;
    }
    return digit;
}

// One font's measures, with the widths of texts seen before remembered:
// result columns repeat their values a lot.
class Measure {
public:
    Measure(const QFont& f, QPaintDevice* d) : font(f), device(d), m(f, d) {}

    qreal width(const QString& line) {
        if (line.isEmpty()) return 0;
        auto it = m_widths.constFind(line);
        if (it != m_widths.constEnd()) return *it;
        const qreal w = m.horizontalAdvance(line);
        if (m_widths.size() < 200000) m_widths.insert(line, w);
        return w;
    }
    // The widest of its lines.
    qreal naturalWidth(const QString& text) {
        if (!text.contains(kLineSeparator)) return width(text);
        qreal widest = 0;
        for (QStringView part : QStringView(text).split(kLineSeparator))
            widest = std::max(widest, width(part.toString()));
        return widest;
    }

    QFont font;
    QPaintDevice* device;
    QFontMetricsF m;

private:
    QHash<QString, qreal> m_widths;
};

QTextOption cellOption(const QString& text, bool alignRight) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    const bool rtl = text.isRightToLeft();
    option.setTextDirection(rtl ? Qt::RightToLeft : Qt::LeftToRight);
    option.setAlignment(Qt::AlignAbsolute | (alignRight || rtl ? Qt::AlignRight : Qt::AlignLeft));
    return option;
}

// Lays out a cell that needs more than a plain line; `maxLines` 0 for all.
void layOut(QTextLayout& layout, qreal width, int maxLines) {
    layout.setCacheEnabled(true);
    layout.beginLayout();
    int lines = 0;
    while (maxLines == 0 || lines < maxLines) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        ++lines;
    }
    layout.endLayout();
}

// A stretch of a heading that stays on one line.
struct Piece {
    qsizetype from, to;
    bool lineEnd;  // a line break of the heading's own, or its end, follows
};

// A heading wraps where its text may (after a space or a hyphen, between
// ideographs), after an underscore, and before an upper-case letter that
// follows a lower-case one: column names are mostly CamelCase, and "Product"
// over "ID" reads where "Produ" over "ctID" does not.
std::vector<Piece> headingPieces(const QString& text) {
    std::vector<Piece> pieces;
    qsizetype start = 0;
    for (;;) {
        qsizetype end = text.indexOf(kLineSeparator, start);
        if (end < 0) end = text.size();
        const QString line = text.mid(start, end - start);
        std::vector<qsizetype> cuts;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Line, line);
        for (qsizetype at = finder.toNextBoundary(); at > 0 && at < line.size();
             at = finder.toNextBoundary())
            cuts.push_back(at);
        for (qsizetype i = 1; i < line.size(); ++i)
            if ((line[i].isUpper() && line[i - 1].isLower()) || line[i - 1] == u'_')
                cuts.push_back(i);
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        qsizetype from = 0;
        for (qsizetype cut : cuts) {
            pieces.push_back({start + from, start + cut, false});
            from = cut;
        }
        pieces.push_back({start + from, end, true});
        if (end == text.size()) return pieces;
        start = end + 1;
    }
}

QString span(const QString& text, qsizetype from, qsizetype to) {
    while (to > from && text[to - 1].isSpace()) --to;
    return text.mid(from, to - from);
}

// The widest piece, or wider when the heading would otherwise need more
// lines than the header shows.
qreal headingLeast(const QString& text, const std::vector<Piece>& pieces, Measure& measure) {
    qreal least = 0;
    for (const Piece& p : pieces) least = std::max(least, measure.width(span(text, p.from, p.to)));
    for (;;) {
        int lines = 0;
        qreal next = std::numeric_limits<qreal>::infinity();
        for (std::size_t i = 0; i < pieces.size(); ++lines) {
            std::size_t j = i;
            while (!pieces[j].lineEnd) {
                const qreal wider = measure.width(span(text, pieces[i].from, pieces[j + 1].to));
                if (wider > least) {
                    next = std::min(next, wider);
                    break;
                }
                ++j;
            }
            i = j + 1;
        }
        if (lines <= kMaxHeaderLines || std::isinf(next)) return least;
        least = next;
    }
}

// The heading's lines in `width`: as many pieces on a line as fit; a piece
// wider than the column by itself, the last resort, broken anywhere.
QStringList headingLines(const QString& text, const std::vector<Piece>& pieces, qreal width,
                         Measure& measure) {
    QStringList lines;
    for (std::size_t i = 0; i < pieces.size();) {
        std::size_t j = i;
        while (!pieces[j].lineEnd &&
               measure.width(span(text, pieces[i].from, pieces[j + 1].to)) <= width)
            ++j;
        const QString line = span(text, pieces[i].from, pieces[j].to);
        if (measure.width(line) <= width) {
            lines << line;
        } else {
            QTextLayout layout(line, measure.font, measure.device);
            QTextOption option;
            option.setWrapMode(QTextOption::WrapAnywhere);
            layout.setTextOption(option);
            layOut(layout, width, 0);
            for (int k = 0; k < layout.lineCount(); ++k) {
                const QTextLine l = layout.lineAt(k);
                lines << span(line, l.textStart(), l.textStart() + l.textLength());
            }
        }
        i = j + 1;
    }
    return lines;
}

struct Slice {
    int row;
    int fromLine;
    int toLine;
};

struct Page {
    int band = 0;
    std::vector<Slice> slices;
};

class TablePrinter {
public:
    TablePrinter(const TextTable& table, QPagedPaintDevice& device, const PrintOptions& options)
        : m_table(table), m_device(device), m_options(options) {}

    bool print(QString& error, PrintedLayout* result);

private:
    qreal points(qreal pt) const { return pt * m_dpi / 72.0; }
    void setPointSize(double size);
    void measureValues();
    void measureColumns();
    qreal wanted(int column) const;
    qreal wantedTotal() const;
    qreal leastTotal() const;
    void choosePointSize();
    void chooseLayout();
    int cellLines(const QString& text, qreal width, Measure& measure, int maxLines);
    void paginate();
    void drawPage(QPainter& painter, const Page& page, int number);
    void drawCell(QPainter& painter, const QString& text, int column, QPointF topLeft, int fromLine,
                  int toLine);

    const TextTable& m_table;
    QPagedPaintDevice& m_device;
    PrintOptions m_options;
    qreal m_dpi = 72;

    double m_pointSize = 0;
    std::unique_ptr<Measure> m_body, m_head, m_foot;
    qreal m_pitch = 0, m_headPitch = 0, m_padX = 0, m_padY = 0;

    std::vector<std::vector<Piece>> m_pieces;  // per column's heading
    std::vector<QString> m_widest;             // per column, its widest value
    std::vector<qreal> m_natural;              // per column, padding included
    std::vector<qreal> m_least;                // as narrow as a column gets before bands
    std::vector<qreal> m_headLeast;            // its heading's widest piece, padded
    std::vector<bool> m_numeric;
    std::vector<qreal> m_width;
    std::vector<std::vector<int>> m_bands;  // the columns of each, in order
    bool m_landscape = false;
    qreal m_pageWidth = 0, m_pageHeight = 0;

    std::vector<QStringList> m_headLines;   // per column
    std::vector<int> m_headerLines;         // per band
    std::vector<std::vector<int>> m_lines;  // per row, per column
    std::vector<Page> m_pages;
};

void TablePrinter::setPointSize(double size) {
    m_pointSize = size;
    QFont body;
    body.setFamilies(fontFamilies());
    body.setPointSizeF(size);
    QFont bold = body;
    bold.setBold(true);
    QFont foot = body;
    foot.setPointSizeF(std::max(6.0, size - 1));
    m_body = std::make_unique<Measure>(body, &m_device);
    m_head = std::make_unique<Measure>(bold, &m_device);
    m_foot = std::make_unique<Measure>(foot, &m_device);
    m_pitch = m_body->m.lineSpacing();
    m_headPitch = m_head->m.lineSpacing();
    m_padX = points(size * 0.4);
    m_padY = points(size * 0.2);
}

// Every value once, in the current font: which is the widest of each column
// (at another size the same one is, near enough to choose that size by), and
// whether the column holds numbers only.
void TablePrinter::measureValues() {
    const int columns = m_table.columnCount();
    m_widest.assign(columns, QString());
    m_numeric.assign(columns, false);
    std::vector<bool> anyValue(columns, false), allNumbers(columns, true);
    std::vector<qreal> values(columns, 0);
    for (const QStringList& row : m_table.rows) {
        for (int c = 0; c < columns; ++c) {
            const QString& cell = row[c];
            if (cell.isEmpty()) continue;
            const qreal w = m_body->naturalWidth(cell);
            if (w > values[c]) {
                values[c] = w;
                m_widest[c] = cell;
            }
            anyValue[c] = true;
            if (allNumbers[c] && !looksNumeric(cell)) allNumbers[c] = false;
        }
    }
    for (int c = 0; c < columns; ++c) m_numeric[c] = anyValue[c] && allNumbers[c];
}

void TablePrinter::measureColumns() {
    const int columns = m_table.columnCount();
    m_natural.assign(columns, 0);
    m_least.assign(columns, 0);
    m_headLeast.assign(columns, 0);
    // A column may get as narrow as its values (up to a readable width) or a
    // few characters, but not below the widest piece of its heading.
    const qreal chars = m_body->m.averageCharWidth() * 4;
    const qreal readable = points(72);
    for (int c = 0; c < columns; ++c) {
        const QString& heading = m_table.header[c];
        const qreal values = m_body->naturalWidth(m_widest[c]);
        m_headLeast[c] = headingLeast(heading, m_pieces[c], *m_head) + 2 * m_padX;
        const qreal least = std::max(std::min(values, readable), chars) + 2 * m_padX;
        m_natural[c] = std::max({m_head->naturalWidth(heading), values, chars}) + 2 * m_padX;
        m_least[c] = std::min(std::max(least, m_headLeast[c]), m_natural[c]);
    }
}

// Its natural width up to the cap, which gives way to a heading's piece.
qreal TablePrinter::wanted(int column) const {
    const qreal cap = points(m_options.maxColumnPoints) + 2 * m_padX;
    return std::min(m_natural[column], std::max(cap, m_headLeast[column]));
}

qreal TablePrinter::wantedTotal() const {
    qreal total = 0;
    for (int c = 0; c < m_table.columnCount(); ++c) total += wanted(c);
    return total;
}

qreal TablePrinter::leastTotal() const {
    qreal total = 0;
    for (int c = 0; c < m_table.columnCount(); ++c) total += std::min(m_least[c], wanted(c));
    return total;
}

// A table too wide for the page at the size asked for: the largest smaller
// size (in half points) at which it fits as it is, else the largest at which
// it fits narrowed with its headings whole words; else the size asked for,
// in bands. One size for the whole document.
void TablePrinter::choosePointSize() {
    const double asked = m_options.pointSize;
    if (wantedTotal() <= m_pageWidth) return;
    std::optional<double> narrowed;
    if (leastTotal() <= m_pageWidth) narrowed = asked;
    const double floor = std::min(asked, m_options.minPointSize);
    std::optional<double> whole;
    for (int step = 1; !whole; ++step) {
        const double size = std::max(floor, asked - 0.5 * step);
        if (size >= asked) break;
        setPointSize(size);
        measureColumns();
        if (wantedTotal() <= m_pageWidth)
            whole = size;
        else if (!narrowed && leastTotal() <= m_pageWidth)
            narrowed = size;
        if (size <= floor) break;
    }
    const double chosen = whole ? *whole : narrowed.value_or(asked);
    setPointSize(chosen);
    if (chosen != asked) measureValues();
    measureColumns();
}

// Portrait when the table fits across; landscape otherwise, in smaller type
// or the columns narrowed until it fits, or, when even that would leave them
// too narrow to read, printed in bands.
void TablePrinter::chooseLayout() {
    const int columns = m_table.columnCount();
    QPageLayout layout = m_device.pageLayout();
    const qreal mm = m_options.marginMillimetres;
    layout.setUnits(QPageLayout::Millimeter);
    // A printer that cannot print as near the edge keeps its own margins.
    const QMarginsF least = layout.minimumMargins();
    layout.setMargins(QMarginsF(std::max(mm, least.left()), std::max(mm, least.top()),
                                std::max(mm, least.right()), std::max(mm, least.bottom())));
    auto widthIn = [&](QPageLayout::Orientation o) {
        QPageLayout l = layout;
        l.setOrientation(o);
        return points(l.paintRect(QPageLayout::Point).width());
    };
    const qreal portrait = widthIn(QPageLayout::Portrait);
    m_landscape = wantedTotal() > portrait;
    layout.setOrientation(m_landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    m_device.setPageLayout(layout);
    const QRectF paint = layout.paintRect(QPageLayout::Point);
    m_pageWidth = points(paint.width());
    m_pageHeight = points(paint.height());

    choosePointSize();
    std::vector<qreal> want(columns);
    for (int c = 0; c < columns; ++c) want[c] = wanted(c);
    const qreal total = wantedTotal();

    m_width = want;
    m_bands.clear();
    std::vector<int> all(columns);
    for (int c = 0; c < columns; ++c) all[c] = c;
    if (total <= m_pageWidth) {
        m_bands.push_back(all);
        return;
    }
    // Narrowed in proportion to what each column can give up.
    const qreal narrowest = leastTotal();
    if (narrowest <= m_pageWidth) {
        const qreal share = (m_pageWidth - narrowest) / (total - narrowest);
        for (int c = 0; c < columns; ++c) {
            const qreal floor = std::min(m_least[c], want[c]);
            m_width[c] = floor + (want[c] - floor) * share;
        }
        m_bands.push_back(all);
        return;
    }
    // Each band after the first starts with the first column again (the
    // key, mostly), when it leaves room for another, so its rows can be told.
    for (qreal& w : m_width) w = std::min(w, m_pageWidth);
    const bool repeatFirst = m_width[0] * 2 <= m_pageWidth / 2;
    std::vector<int> band{0};
    qreal used = m_width[0];
    for (int c = 1; c < columns; ++c) {
        if (used + m_width[c] > m_pageWidth) {
            m_bands.push_back(band);
            band.clear();
            used = 0;
            if (repeatFirst) {
                band.push_back(0);
                used = m_width[0];
            }
        }
        band.push_back(c);
        used += m_width[c];
    }
    m_bands.push_back(band);
}

int TablePrinter::cellLines(const QString& text, qreal width, Measure& measure, int maxLines) {
    if (text.isEmpty()) return 1;
    const qreal content = width - 2 * m_padX;
    if (!text.contains(kLineSeparator) && measure.width(text) <= content) return 1;
    QTextLayout layout(text, measure.font, measure.device);
    layout.setTextOption(cellOption(text, false));
    layOut(layout, content, maxLines);
    return std::max(1, layout.lineCount());
}

void TablePrinter::paginate() {
    const int columns = m_table.columnCount();
    const std::size_t rows = m_table.rows.size();
    m_lines.assign(rows, std::vector<int>(columns, 1));
    for (std::size_t r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            m_lines[r][c] = cellLines(m_table.rows[r][c], m_width[c], *m_body, 0);
    m_headLines.assign(columns, QStringList());
    for (int c = 0; c < columns; ++c)
        m_headLines[c] =
            headingLines(m_table.header[c], m_pieces[c], m_width[c] - 2 * m_padX, *m_head);

    const qreal footer = m_foot->m.lineSpacing() * 2;
    m_pages.clear();
    m_headerLines.assign(m_bands.size(), 1);
    for (std::size_t b = 0; b < m_bands.size(); ++b) {
        const std::vector<int>& band = m_bands[b];
        int headerLines = 1;
        for (int c : band)
            headerLines = std::max(
                headerLines, std::min(kMaxHeaderLines, static_cast<int>(m_headLines[c].size())));
        m_headerLines[b] = headerLines;
        const qreal header = headerLines * m_headPitch + 2 * m_padY + points(2);
        const qreal room = std::max(m_pageHeight - header - footer, m_pitch + 2 * m_padY);

        m_pages.push_back({static_cast<int>(b), {}});
        qreal y = 0;
        for (std::size_t r = 0; r < rows; ++r) {
            int lines = 1;
            for (int c : band) lines = std::max(lines, m_lines[r][c]);
            const qreal height = lines * m_pitch + 2 * m_padY;
            if (y > 0 && y + height > room && height <= room) {
                m_pages.push_back({static_cast<int>(b), {}});
                y = 0;
            }
            // A row taller than what is left goes on in pieces, a line at least
            // per page.
            int line = 0;
            while (line < lines) {
                int fit = static_cast<int>(std::floor((room - y - 2 * m_padY) / m_pitch));
                if (fit < 1 && y > 0) {
                    m_pages.push_back({static_cast<int>(b), {}});
                    y = 0;
                    continue;
                }
                fit = std::clamp(fit, 1, lines - line);
                m_pages.back().slices.push_back({static_cast<int>(r), line, line + fit});
                y += fit * m_pitch + 2 * m_padY;
                line += fit;
                if (line < lines) {
                    m_pages.push_back({static_cast<int>(b), {}});
                    y = 0;
                }
            }
        }
    }
}

void TablePrinter::drawCell(QPainter& painter, const QString& text, int column, QPointF topLeft,
                            int fromLine, int toLine) {
    if (text.isEmpty()) return;
    const qreal content = m_width[column] - 2 * m_padX;
    const qreal ascent = m_body->m.ascent();
    const bool right = m_numeric[column];
    const qreal x = topLeft.x() + m_padX;
    if (!text.contains(kLineSeparator)) {
        const qreal w = m_body->width(text);
        if (w <= content) {
            if (fromLine > 0) return;
            const bool rtl = text.isRightToLeft();
            painter.setLayoutDirection(rtl ? Qt::RightToLeft : Qt::LeftToRight);
            const qreal left = right || rtl ? x + content - w : x;
            painter.drawText(QPointF(left, topLeft.y() + m_padY + ascent), text);
            return;
        }
    }
    QTextLayout layout(text, m_body->font, m_body->device);
    layout.setTextOption(cellOption(text, right));
    layOut(layout, content, toLine);
    painter.setLayoutDirection(Qt::LeftToRight);
    for (int i = fromLine; i < std::min(toLine, layout.lineCount()); ++i) {
        QTextLine line = layout.lineAt(i);
        // Every line on the same pitch, whichever fallback font it used.
        line.setPosition(QPointF(0, 0));
        const qreal baseline = topLeft.y() + m_padY + (i - fromLine) * m_pitch + ascent;
        line.draw(&painter, QPointF(x, baseline - line.ascent()));
    }
}

void TablePrinter::drawPage(QPainter& painter, const Page& page, int number) {
    const std::vector<int>& band = m_bands[page.band];
    qreal tableWidth = 0;
    for (int c : band) tableWidth += m_width[c];

    painter.setFont(m_head->font);
    painter.setPen(Qt::black);
    const int headerLines = m_headerLines[page.band];
    const qreal headerHeight = headerLines * m_headPitch + 2 * m_padY;
    qreal x = 0;
    for (int c : band) {
        painter.save();
        painter.setClipRect(QRectF(x, 0, m_width[c], headerHeight));
        const qreal content = m_width[c] - 2 * m_padX;
        const QStringList& lines = m_headLines[c];
        for (int i = 0; i < std::min(headerLines, static_cast<int>(lines.size())); ++i) {
            const QString& line = lines[i];
            if (line.isEmpty()) continue;
            const qreal w = m_head->width(line);
            const bool rtl = line.isRightToLeft();
            painter.setLayoutDirection(rtl ? Qt::RightToLeft : Qt::LeftToRight);
            const qreal left = x + m_padX + (m_numeric[c] || rtl ? content - w : 0);
            painter.drawText(QPointF(left, m_padY + i * m_headPitch + m_head->m.ascent()), line);
        }
        painter.restore();
        x += m_width[c];
    }
    qreal y = headerHeight;
    painter.setPen(QPen(Qt::black, points(0.8)));
    painter.drawLine(QPointF(0, y), QPointF(tableWidth, y));
    y += points(2);

    painter.setFont(m_body->font);
    const QPen text(Qt::black);
    const QPen rule(QColor(0xc8, 0xc8, 0xc8), points(0.3));
    for (const Slice& s : page.slices) {
        const QStringList& row = m_table.rows[s.row];
        painter.setPen(text);
        x = 0;
        for (int c : band) {
            drawCell(painter, row[c], c, QPointF(x, y), s.fromLine, s.toLine);
            x += m_width[c];
        }
        y += (s.toLine - s.fromLine) * m_pitch + 2 * m_padY;
        painter.setPen(rule);
        painter.drawLine(QPointF(0, y), QPointF(tableWidth, y));
    }

    painter.setFont(m_foot->font);
    painter.setPen(QColor(0x40, 0x40, 0x40));
    painter.setLayoutDirection(Qt::LeftToRight);
    const QString footer =
        QStringLiteral("Page %1 of %2").arg(number).arg(static_cast<int>(m_pages.size()));
    const qreal w = m_foot->m.horizontalAdvance(footer);
    painter.drawText(QPointF((m_pageWidth - w) / 2, m_pageHeight - m_foot->m.descent()), footer);
}

bool TablePrinter::print(QString& error, PrintedLayout* result) {
    m_dpi = m_device.logicalDpiY();
    if (m_dpi <= 0) m_dpi = 72;
    m_pieces.clear();
    for (const QString& heading : m_table.header) m_pieces.push_back(headingPieces(heading));
    setPointSize(m_options.pointSize);
    measureValues();
    measureColumns();
    chooseLayout();
    paginate();

    QPainter painter;
    if (!painter.begin(&m_device)) {
        error = QStringLiteral("The printer could not be started.");
        return false;
    }
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        if (i > 0 && !m_device.newPage()) {
            error = QStringLiteral("The printer could not start a new page.");
            painter.end();
            return false;
        }
        drawPage(painter, m_pages[i], static_cast<int>(i) + 1);
    }
    if (!painter.end()) {
        error = QStringLiteral("The printer could not finish the document.");
        return false;
    }
    if (result) {
        result->landscape = m_landscape;
        result->bands = static_cast<int>(m_bands.size());
        result->pages = static_cast<int>(m_pages.size());
        result->pointSize = m_pointSize;
        result->firstRowOfPage.clear();
        for (const Page& p : m_pages)
            result->firstRowOfPage.push_back(p.slices.empty() ? -1 : p.slices.front().row);
    }
    return true;
}

void repairCode(QByteArray& pdf, qsizetype digitsAt) {
    bool ok = false;
    const uint code = pdf.mid(digitsAt, 4).toUInt(&ok, 16);
    if (!ok || code < 0x2e80 || code > 0x2fdf) return;
    const QString unified =
        QString(QChar(static_cast<char16_t>(code))).normalized(QString::NormalizationForm_KC);
    if (unified.size() != 1 || unified[0].unicode() == code) return;
    const QByteArray hex =
        QByteArray::number(unified[0].unicode(), 16).toUpper().rightJustified(4, '0');
    for (int i = 0; i < 4; ++i) pdf[digitsAt + i] = hex[i];
}

// The tokens of one line of a bfchar or bfrange list: each <XXXX>'s digit
// position, '[' and ']' as -2 and -3.
std::vector<qsizetype> lineTokens(const QByteArray& pdf, qsizetype from, qsizetype to) {
    std::vector<qsizetype> tokens;
    for (qsizetype i = from; i < to; ++i) {
        if (pdf[i] == '[') {
            tokens.push_back(-2);
        } else if (pdf[i] == ']') {
            tokens.push_back(-3);
        } else if (pdf[i] == '<') {
            const qsizetype close = pdf.indexOf('>', i);
            if (close < 0 || close > to) break;
            bool four = close - i == 5;
            for (qsizetype k = i + 1; four && k < close; ++k)
                four = std::isxdigit(static_cast<unsigned char>(pdf[k])) != 0;
            tokens.push_back(four ? i + 1 : -1);
            i = close;
        }
    }
    return tokens;
}

void repairList(QByteArray& pdf, qsizetype from, qsizetype to, bool ranges) {
    qsizetype line = from;
    while (line < to) {
        qsizetype eol = pdf.indexOf('\n', line);
        if (eol < 0 || eol > to) eol = to;
        const std::vector<qsizetype> t = lineTokens(pdf, line, eol);
        if (!ranges) {
            if (t.size() == 2 && t[1] >= 0) repairCode(pdf, t[1]);
        } else if (t.size() >= 3 && t[0] >= 0 && t[1] >= 0) {
            if (t[2] == -2) {
                for (std::size_t i = 3; i < t.size() && t[i] != -3; ++i)
                    if (t[i] >= 0) repairCode(pdf, t[i]);
            } else if (t.size() == 3 && t[2] >= 0 && pdf.mid(t[0], 4) == pdf.mid(t[1], 4)) {
                repairCode(pdf, t[2]);
            }
        }
        line = eol + 1;
    }
}

}  // namespace

void repairToUnicodeMaps(QByteArray& pdf) {
    qsizetype at = 0;
    while ((at = pdf.indexOf("begincmap", at)) >= 0) {
        const qsizetype end = pdf.indexOf("endcmap", at);
        if (end < 0) return;
        for (const auto& [open, close, ranges] : {std::tuple{"beginbfchar", "endbfchar", false},
                                                  std::tuple{"beginbfrange", "endbfrange", true}}) {
            qsizetype list = at;
            while ((list = pdf.indexOf(open, list)) >= 0 && list < end) {
                const qsizetype stop = pdf.indexOf(close, list);
                if (stop < 0 || stop > end) break;
                repairList(pdf, list, stop, ranges);
                list = stop;
            }
        }
        at = end;
    }
}

bool printTable(const TextTable& table, QPagedPaintDevice& device, QString& error,
                PrintedLayout* layout, const PrintOptions& options) {
    return TablePrinter(table, device, options).print(error, layout);
}

bool renderTableToPdf(const TextTable& table, QByteArray& pdf, QString& error,
                      PrintedLayout* layout, const PrintOptions& options) {
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setCreator(QStringLiteral("Tabulary"));
        if (!printTable(table, writer, error, layout, options)) return false;
    }
    buffer.close();
    repairToUnicodeMaps(pdf);
    return true;
}

bool printTabSeparatedToPdf(const QByteArray& document, const QString& pdfPath, QString& error,
                            PrintedLayout* layout) {
    QByteArray pdf;
    if (!renderTableToPdf(parseTabSeparated(document), pdf, error, layout)) return false;
    QSaveFile file(pdfPath);
    if (!file.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("%1 cannot be written: %2").arg(pdfPath, file.errorString());
        return false;
    }
    if (file.write(pdf) != pdf.size() || !file.commit()) {
        error = QStringLiteral("%1 cannot be written: %2").arg(pdfPath, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

}  // namespace tab::printing
