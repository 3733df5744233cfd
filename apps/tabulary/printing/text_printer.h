// The program's own text printer. It takes the results grid's tab-separated
// document (a header line, then one line per row; every field followed by
// TAB, every line ended by CR LF, UTF-8) and prints it as a table on any paged
// device: a PDF file or a printer of the system. Qt Gui only, so that the
// command-line tool can print without a display.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <vector>

class QPagedPaintDevice;

namespace tab::printing {

// The document as rows of cells. Every row, the header included, has
// columnCount() cells.
struct TextTable {
    QStringList header;
    std::vector<QStringList> rows;
    int columnCount() const { return static_cast<int>(header.size()); }
};

// Never fails. A value holding a TAB or a line break makes the document
// ambiguous; such a line is still kept: cells beyond the header's count get
// columns of their own (with an empty heading), missing cells are empty, a
// lone CR or LF breaks the line inside its cell. Invalid UTF-8 becomes
// U+FFFD, other control characters blanks. A last line without CR LF counts.
TextTable parseTabSeparated(QByteArrayView document);

// How a table went onto the pages.
struct PrintedLayout {
    bool landscape = false;
    // Groups of columns printed one after the other when even the narrowest
    // columns do not fit across one page; 1 otherwise.
    int bands = 1;
    int pages = 0;
    // The size the body was printed in: below the one asked for when smaller
    // type let a wide table fit across the page.
    double pointSize = 0;
    // The first row each page starts with (0-based; a page continuing a row
    // that did not fit names that row).
    std::vector<int> firstRowOfPage;
};

struct PrintOptions {
    double pointSize = 9.0;
    // A table too wide for the page is tried in smaller type, down to this,
    // before its columns are narrowed or split into bands.
    double minPointSize = 7.0;
    double marginMillimetres = 15.0;
    // A column is never wider than this; longer cells wrap within it.
    double maxColumnPoints = 200.0;
};

// Sets the device's orientation and margins (its paper size is kept), then
// paints the table: the header row, bold and ruled, at the top of every page,
// and "Page N of M" at its foot. A heading wraps between words and between
// the words of a CamelCase name, its column kept at least as wide as the
// widest of them. False with `error` filled when painting
// cannot start.
bool printTable(const TextTable& table, QPagedPaintDevice& device, QString& error,
                PrintedLayout* layout = nullptr, const PrintOptions& options = {});

// The PDF as a whole, in memory: its text searchable and copyable.
bool renderTableToPdf(const TextTable& table, QByteArray& pdf, QString& error,
                      PrintedLayout* layout = nullptr, const PrintOptions& options = {});

// Writes the document's PDF under a temporary name beside `pdfPath` and
// renames it into place, so that a failure leaves no part-written file.
bool printTabSeparatedToPdf(const QByteArray& document, const QString& pdfPath, QString& error,
                            PrintedLayout* layout = nullptr);

// Qt's PDF writer names each embedded glyph by the first code point the font
// maps to it, and CJK fonts map a Kangxi radical and its ideograph to one
// glyph: the copied text would read U+2F47 for 日. Rewrites such entries of
// the PDF's ToUnicode maps in place (same length, so offsets stay valid).
void repairToUnicodeMaps(QByteArray& pdf);

}  // namespace tab::printing
