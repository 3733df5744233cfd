#include "tabulary/writers/xlsx_workbook.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "tabulary/writers/output_file.h"
#include "utf8.h"

namespace tab::writers {

namespace {

// Sheets a workbook may gain; only a caller skipping rows could ask for more.
constexpr size_t kMaxSheets = 65535;

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string withThousands(uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

bool inRanges(uint32_t cp, const std::pair<uint32_t, uint32_t>* ranges, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (cp >= ranges[i].first && cp <= ranges[i].second) return true;
    return false;
}

// How many character cells a code point takes in a proportional font's
// terms: East Asian wide and fullwidth forms two, marks and controls none.
uint32_t cellsOf(uint32_t cp) {
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return cp == '\t' ? 1 : 0;
    if (cp < 0x300) return 1;
    static constexpr std::pair<uint32_t, uint32_t> kNone[] = {
        {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A},
        {0x064B, 0x065F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
        {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}};
    static constexpr std::pair<uint32_t, uint32_t> kWide[] = {
        {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},  {0x3400, 0x4DBF},
        {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},  {0xF900, 0xFAFF},
        {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},  {0x1F300, 0x1F64F},
        {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};
    if (inRanges(cp, kNone, std::size(kNone))) return 0;
    return inRanges(cp, kWide, std::size(kWide)) ? 2 : 1;
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "_xHHHH_" at `at`: the form readers decode into one character.
bool escapeFormAt(std::string_view text, size_t at) {
    return at + 7 <= text.size() && text[at] == '_' && text[at + 1] == 'x' && isHex(text[at + 2]) &&
           isHex(text[at + 3]) && isHex(text[at + 4]) && isHex(text[at + 5]) && text[at + 6] == '_';
}

// A private file for the library to write the workbook into.
class ScratchFile {
public:
    ~ScratchFile() {
        if (m_fd >= 0) ::close(m_fd);
        if (!m_path.empty()) ::unlink(m_path.c_str());
    }
    Status create(const std::string& folder) {
        std::string name = folder + "/.tabulary-workbook-XXXXXX";
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return ioError(errno, folder);
        m_fd = fd;
        m_path = std::move(name);
        return {};
    }
    const std::string& path() const { return m_path; }
    // Its bytes, as the library left them, appended to `out`.
    Status copyTo(OutputStream& out) {
        if (::lseek(m_fd, 0, SEEK_SET) != 0) return ioError(errno, m_path);
        char chunk[1 << 16];
        for (;;) {
            const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return ioError(errno, m_path);
            if (n == 0) return {};
            out.append(std::string_view(chunk, static_cast<size_t>(n)));
            TAB_TRY(out.maybeFlush());
        }
    }

private:
    int m_fd = -1;
    std::string m_path;
};

}  // namespace

XlsxWorkbook::XlsxWorkbook() : XlsxWorkbook(Options{}) {}

XlsxWorkbook::XlsxWorkbook(Options options) : m_options(std::move(options)) {
    m_options.sheetRows = std::clamp<uint64_t>(m_options.sheetRows, 2, kSheetRows);
    m_options.cellCharacters = std::clamp<size_t>(m_options.cellCharacters, 1, kCellCharacters);
}

XlsxWorkbook::~XlsxWorkbook() {
    if (m_book) lxw_workbook_free(m_book);
    removeIfMade();
}

void XlsxWorkbook::removeIfMade() {
    if (m_made) ::unlink(m_path.c_str());
    m_made = false;
}

Status XlsxWorkbook::fail(Error error) {
    if (!m_failure) m_failure = std::move(error);
    return *m_failure;
}

Status XlsxWorkbook::report(int lxwError, const char* what) {
    const Errc code = lxwError == LXW_ERROR_MEMORY_MALLOC_FAILED ? Errc::Internal : Errc::Io;
    return fail(
        Error(code, m_path + ": " + what + ": " + lxw_strerror(static_cast<lxw_error>(lxwError))));
}

Status XlsxWorkbook::create(const std::string& path) {
    if (m_book || m_failure)
        return Error(Errc::Internal, path + ": the workbook was created before");
    m_path = path;
    // The library opens the file only when closing; whether it can be
    // written is found out now, with the system's reason.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    m_made = fd >= 0;
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return fail(ioError(errno, path));
    ::close(fd);
    std::string folder = m_options.workFolder.empty() ? folderOf(path) : m_options.workFolder;
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = folder.data();
    options.use_zip64 = LXW_TRUE;  // beyond 4 GB of sheet text
    m_book = workbook_new_opt(path.c_str(), &options);
    if (!m_book) return report(LXW_ERROR_MEMORY_MALLOC_FAILED, "creating the workbook");
    return startSheet();
}

Status XlsxWorkbook::startSheet() {
    if (m_sheets.size() >= kMaxSheets)
        return fail(Error(Errc::InvalidArgument, m_path + ": more rows than a workbook holds"));
    const std::string name = "Sheet" + std::to_string(m_sheets.size() + 1);
    lxw_worksheet* handle = workbook_add_worksheet(m_book, name.c_str());
    if (!handle) return report(LXW_ERROR_CREATING_TMPFILE, "adding a sheet");
    m_sheets.push_back({handle, {}});
    if (m_sheets.size() > 1) {
        for (size_t c = 0; c < m_header.size(); ++c)
            TAB_TRY(
                put(m_sheets.back(), 0, static_cast<uint32_t>(c), m_header[c], m_headerWidth[c]));
    }
    return {};
}

Status XlsxWorkbook::put(Sheet& sheet, uint32_t sheetRow, uint32_t column, const std::string& text,
                         uint32_t width) {
    const lxw_error e = worksheet_write_string(
        sheet.handle, sheetRow, static_cast<lxw_col_t>(column), text.c_str(), nullptr);
    if (e != LXW_NO_ERROR) return report(e, "writing a cell");
    if (sheet.widest.size() <= column) sheet.widest.resize(size_t{column} + 1);
    sheet.widest[column] = std::max(sheet.widest[column], width);
    return {};
}

Status XlsxWorkbook::write(uint64_t row, uint32_t column, std::string_view text) {
    if (m_failure) return {};
    if (!m_book) return fail(Error(Errc::Internal, m_path + ": the workbook is not open"));
    if (column >= kSheetColumns) {
        return fail(Error(Errc::InvalidArgument,
                          m_path + ": a sheet holds " + withThousands(kSheetColumns) + " columns"));
    }
    if (m_anyRow && row < m_row) {
        return fail(Error(Errc::InvalidArgument, m_path + ": row " + std::to_string(row) +
                                                     " comes after row " + std::to_string(m_row) +
                                                     "; rows are written in order"));
    }
    m_row = row;
    m_anyRow = true;
    uint32_t width = 0;
    if (prepareText(text, m_options.cellCharacters, m_buffer, width)) ++m_cutCells;
    if (row == 0) {
        if (m_header.size() <= column) {
            m_header.resize(size_t{column} + 1);
            m_headerWidth.resize(size_t{column} + 1);
        }
        m_header[column] = m_buffer;
        m_headerWidth[column] = width;
        return put(m_sheets.front(), 0, column, m_buffer, width);
    }
    const uint64_t perSheet = m_options.sheetRows - 1;
    const uint64_t sheet = (row - 1) / perSheet;
    while (m_sheets.size() <= sheet) TAB_TRY(startSheet());
    return put(m_sheets[static_cast<size_t>(sheet)],
               static_cast<uint32_t>(1 + (row - 1) % perSheet), column, m_buffer, width);
}

Status XlsxWorkbook::close() {
    if (!m_book) {
        if (m_failure) return *m_failure;
        return Error(Errc::Internal, m_path + ": the workbook is not open");
    }
    if (!m_failure && m_cutCells > 0) {
        const uint64_t n = m_cutCells;
        const std::string note = "Note: " + withThousands(n) + (n == 1 ? " cell" : " cells") +
                                 " held more than " + withThousands(m_options.cellCharacters) +
                                 " characters and " + (n == 1 ? "was" : "were") +
                                 " shortened to that length.";
        const uint64_t row = m_row + 1;
        const uint64_t perSheet = m_options.sheetRows - 1;
        while (!m_failure && m_sheets.size() <= (row - 1) / perSheet) (void)startSheet();
        if (!m_failure) {
            // Not measured: the note would widen the first column.
            (void)put(m_sheets.back(), static_cast<uint32_t>(1 + (row - 1) % perSheet), 0, note, 0);
        }
    }
    if (!m_failure && m_fit) {
        for (Sheet& sheet : m_sheets) {
            for (size_t c = 0; c < sheet.widest.size() && !m_failure; ++c) {
                if (sheet.widest[c] == 0) continue;  // an empty column keeps its width
                const auto col = static_cast<lxw_col_t>(c);
                const lxw_error e = worksheet_set_column(sheet.handle, col, col,
                                                         columnWidth(sheet.widest[c]), nullptr);
                if (e != LXW_NO_ERROR) (void)report(e, "setting a column's width");
            }
        }
    }
    lxw_workbook* book = m_book;
    m_book = nullptr;
    if (m_failure) {
        lxw_workbook_free(book);
        removeIfMade();
        return *m_failure;
    }
    errno = 0;
    const lxw_error e = workbook_close(book);
    if (e != LXW_NO_ERROR) {
        const int err = errno;
        removeIfMade();
        // Found writable at create(); the reason now is the system's.
        if (e == LXW_ERROR_CREATING_XLSX_FILE)
            return fail(ioError(err != 0 ? err : EACCES, m_path));
        return report(e, "writing the workbook");
    }
    m_made = false;
    return {};
}

bool XlsxWorkbook::prepareText(std::string_view text, size_t limit, std::string& out,
                               uint32_t& width) {
    // Most cells are short printable ASCII without an underscore: as they are.
    if (text.size() <= limit && std::all_of(text.begin(), text.end(), [](char c) {
            return c >= 0x20 && c < 0x7F && c != '_';
        })) {
        out.assign(text);
        width = static_cast<uint32_t>(text.size());
        return false;
    }
    out.clear();
    width = 0;
    uint32_t line = 0;
    size_t units = 0;
    size_t at = 0;
    while (at < text.size()) {
        uint32_t cp = 0;
        size_t length = decodeUtf8(text, at, cp);
        const bool malformed = length == 0 || cp == 0;  // a NUL would end the C string
        if (malformed) {
            cp = 0xFFFD;
            length = 1;
        }
        const bool escape = cp == '_' && escapeFormAt(text, at);
        // The limit counts what the library is given, so that its own check
        // (in code points) passes too.
        const size_t more = (cp >= 0x10000 ? 2 : 1) + (escape ? 6 : 0);
        if (units + more > limit) {
            width = std::max(width, line);
            return true;
        }
        units += more;
        if (escape) {
            out += "_x005F";
        } else if (malformed) {
            out += "\xEF\xBF\xBD";
        }
        if (!malformed) out.append(text.substr(at, length));
        if (cp == '\n') {
            width = std::max(width, line);
            line = 0;
        } else {
            line += cellsOf(cp);
        }
        at += length;
    }
    width = std::max(width, line);
    return false;
}

double XlsxWorkbook::columnWidth(uint32_t cells) {
    // Letters average a little wider than the digit Excel's unit is based
    // on; one more for the cell's margins.
    return std::min(255.0, cells * 1.1 + 1.0);
}

Status writeXlsxDocument(TableRows& rows, const std::string& path, XlsxWorkbook::Options options) {
    OutputFile target;
    TAB_TRY(target.open(path));
    // The library writes by name: into a private file beside the target
    // (elsewhere when that folder takes no new files), copied into place.
    ScratchFile scratch;
    if (!scratch.create(folderOf(path)).ok()) {
        std::error_code ec;
        const std::string temp = std::filesystem::temp_directory_path(ec).string();
        if (ec) return ioError(ec.value(), folderOf(path));
        TAB_TRY(scratch.create(temp));
    }
    if (options.workFolder.empty()) options.workFolder = folderOf(scratch.path());
    XlsxWorkbook book(std::move(options));
    TAB_TRY(book.create(scratch.path()));
    const auto columnOf = [](size_t c) {
        return static_cast<uint32_t>(std::min<size_t>(c, XlsxWorkbook::kSheetColumns));
    };
    std::string cell;
    const size_t captions = rows.columnCount();
    for (size_t c = 0; c < captions; ++c) {
        cell.clear();
        rows.appendCaption(c, cell);
        TAB_TRY(book.write(0, columnOf(c), cell));
    }
    for (uint64_t row = 1;; ++row) {
        TAB_ASSIGN_OR_RETURN(const bool more, rows.nextRow());
        if (!more) break;
        const size_t columns = rows.columnCount();
        for (size_t c = 0; c < columns; ++c) {
            cell.clear();
            rows.appendCell(c, cell);
            TAB_TRY(book.write(row, columnOf(c), cell));
        }
    }
    book.fitColumns();
    TAB_TRY(book.close());
    TAB_TRY(scratch.copyTo(target.stream()));
    return target.commit();
}

}  // namespace tab::writers
