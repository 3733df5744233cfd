// Engine-internal helpers shared by the decoding files; not part of the API.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tabulary/base/byte_reader.h"
#include "tabulary/base/error.h"
#include "tabulary/jet/format.h"
#include "tabulary/jet/page_source.h"
#include "tabulary/jet/table_def.h"
#include "tabulary/jet/value.h"

namespace tab::jet {

class Database;

constexpr uint16_t kRowDeleted = 0x8000;   // deleted, or the target of an overflow pointer
constexpr uint16_t kRowOverflow = 0x4000;  // the row holds a pointer to the real row
constexpr uint32_t kLvalTag = 0x4C41564C;  // "LVAL" as a little-endian u32

// One row's bytes on a data page.
struct RowSlice {
    PageRef page;
    uint32_t start = 0, end = 0;
    uint16_t flags = 0;
    Bytes bytes() const { return Bytes(page->data() + start, end - start); }
};

// Number of row-offset entries on a data page, checked against the page size.
Result<uint32_t> dataRowCount(const Page& page, const Format& f, uint32_t pageNumber);
// Where row `row` of a data page (page type 0x01) lies, from the offset table.
struct RowExtent {
    uint32_t start = 0, end = 0;
    uint16_t flags = 0;
};
Status rowExtent(const Page& page, const Format& f, uint32_t pageNumber, uint32_t row,
                 RowExtent& out);
// Row `row` of a data page (page type 0x01), extent from the offset table.
Result<RowSlice> rowOnPage(PageRef page, const Format& f, uint32_t pageNumber, uint32_t row);
Result<RowSlice> rowAt(PageSource& pages, const Format& f, uint32_t pageNumber, uint32_t row);
inline Result<RowSlice> rowAtPointer(PageSource& pages, const Format& f, uint32_t pointer) {
    return rowAt(pages, f, pointer >> 8, pointer & 0xFF);
}

// Pages listed in the usage map that `rowPointer` points to, sorted, unique.
Result<std::vector<uint32_t>> readUsageMap(PageSource& pages, const Format& f, uint32_t rowPointer);

// Reads the variable-offset table of a row with a null mask of `nm` bytes into
// offs[0..nv] (offs[nv] ends the variable data); varTableStart is where the
// trailer begins. Returns an error text, or nullptr.
const char* readVarOffsets(Bytes row, bool jet3, size_t nm, std::vector<uint32_t>& offs,
                           size_t& varTableStart);

// Decodes the values of one row. `wanted[i]` says whether table.columns[i]
// is to be decoded; `out` has one slot per column.
Status decodeRow(Database& db, const TableDef& table, Bytes row, const std::vector<bool>& wanted,
                 std::vector<Value>& out, uint32_t pageNumber);

// One index page (0x03 node, 0x04 leaf) with its entries' shared prefix
// restored: entry i is data[ends[i-1], ends[i]). Entries end with the 4-byte
// big-endian row pointer, node entries then with the 4-byte child page.
constexpr size_t kIndexRowPointerSize = 4;
constexpr size_t kIndexChildSize = 4;
struct IndexPageView {
    bool leaf = false;
    uint16_t freeSpace = 0;
    uint32_t owner = 0, prev = 0, next = 0, tail = 0;
    size_t prefix = 0;
    size_t entriesStart = 0;  // where the first entry starts on the page
    size_t dataEnd = 0;       // end of the last stored entry on the page
    std::vector<uint8_t> data;
    std::vector<uint32_t> ends;
};
// Decodes the header and the entry-end bitmap; checks type and bounds only.
Status parseIndexPage(const Page& page, const Format& f, uint32_t pageNumber, IndexPageView& out);

// Property blobs (LvProp).
struct PropertyMap {
    std::map<std::string, Value> values;  // property name -> value
    const Value* find(const std::string& name) const;
};
struct Properties {
    PropertyMap object;
    std::map<std::string, PropertyMap> columns;  // key: foldedCase(column name)
};
Result<Properties> parseProperties(Bytes blob, const Format& f, uint16_t codePage);

std::string asciiLowered(std::string_view s);

// Bytes a value of this type takes in a row's fixed part; -1 for the
// variable-length types.
int fixedSizeOf(ColumnType t);

}  // namespace tab::jet
