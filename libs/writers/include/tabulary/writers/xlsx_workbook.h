// An .xlsx workbook written row after row (libxlsxwriter's constant-memory
// mode: only the current row is held). Every cell is a text cell, whatever
// it looks like, so that "007" or "1e3" stays as the result showed it.
//
// Row 0 is the header row. A sheet holds `sheetRows` rows with its header;
// the rows beyond continue on "Sheet2", "Sheet3", ... each starting with the
// header again. A text longer than a cell holds is cut (at a character
// boundary) and the number of cut cells is noted in a row after the last.
// Column widths follow the widest text of each column of each sheet, set at
// close: constant-memory mode keeps no cells to measure afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/writers/table_rows.h"

struct lxw_workbook;
struct lxw_worksheet;

namespace tab::writers {

class XlsxWorkbook {
public:
    static constexpr uint64_t kSheetRows = 1048576;
    static constexpr uint32_t kSheetColumns = 16384;
    // Excel counts a cell's characters in UTF-16 units.
    static constexpr size_t kCellCharacters = 32767;

    struct Options {
        // Where the library keeps its row files; "" for the workbook's folder.
        std::string workFolder;
        uint64_t sheetRows = kSheetRows;  // 2 .. kSheetRows
        size_t cellCharacters = kCellCharacters;
    };

    XlsxWorkbook();
    explicit XlsxWorkbook(Options options);
    // Without close() the file is not written.
    ~XlsxWorkbook();
    XlsxWorkbook(const XlsxWorkbook&) = delete;
    XlsxWorkbook& operator=(const XlsxWorkbook&) = delete;

    // Makes the file (empty) at once, so that a path that cannot be written
    // fails here; the workbook goes into it at close(). A file made here is
    // removed again when the workbook is not closed or its close fails.
    Status create(const std::string& path);
    // Rows in order (the header first); the cells of a row in any order. The
    // first failure is returned once; later writes do nothing and return
    // success, so a caller writing a million cells reports it once.
    Status write(uint64_t row, uint32_t column, std::string_view text);
    // The columns get widths fitted to their texts when closed.
    void fitColumns() { m_fit = true; }
    // Writes the note, the widths and the file; after a failure nothing is
    // written and the first failure is returned again.
    Status close();

    bool isOpen() const { return m_book != nullptr; }
    bool failed() const { return m_failure.has_value(); }
    uint64_t cutCells() const { return m_cutCells; }
    size_t sheetCount() const { return m_sheets.size(); }

    // The text as a cell holds it: malformed UTF-8 as U+FFFD, a literal
    // "_xHHHH_" with its underscore escaped (readers decode that form), cut
    // to `limit` UTF-16 units. `width` gets the longest line in character
    // cells (East Asian wide characters count two, combining marks none).
    // True when the text was cut.
    static bool prepareText(std::string_view text, size_t limit, std::string& out, uint32_t& width);
    // Excel's column width for a text `cells` characters wide.
    static double columnWidth(uint32_t cells);

private:
    struct Sheet {
        lxw_worksheet* handle = nullptr;
        std::vector<uint32_t> widest;
    };
    Status fail(Error error);
    void removeIfMade();
    Status report(int lxwError, const char* what);
    Status startSheet();
    Status put(Sheet& sheet, uint32_t sheetRow, uint32_t column, const std::string& text,
               uint32_t width);

    Options m_options;
    std::string m_path;
    lxw_workbook* m_book = nullptr;
    std::vector<Sheet> m_sheets;
    std::vector<std::string> m_header;  // prepared captions, for every further sheet
    std::vector<uint32_t> m_headerWidth;
    uint64_t m_row = 0;  // the row being written
    bool m_anyRow = false;
    uint64_t m_cutCells = 0;
    bool m_fit = false;
    std::optional<Error> m_failure;
    bool m_made = false;  // create() made the file
    std::string m_buffer;
};

// A whole result as a workbook at `path`, all of it or nothing: written
// beside the target and put in place when complete.
Status writeXlsxDocument(TableRows& rows, const std::string& path,
                         XlsxWorkbook::Options options = {});

}  // namespace tab::writers
