// Rows on data pages, as the change engine handles them: a row taken apart
// into its columns' stored bytes and packed again, and the slots of a data
// or long-value page added, replaced and deleted with the page kept packed
// (rows from the end of the page in slot order, as Access keeps them).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/table_def.h"

namespace tab::jet::edit {

class Pager;

constexpr uint16_t kSlotOverflowHeader = 0x4000;  // the row holds a pointer to its data
constexpr uint16_t kSlotOverflowTarget = 0x8000;  // the data of a row whose header is elsewhere
constexpr uint16_t kSlotDeleted = 0xC000;
constexpr uint32_t kLvalOwner = 0x4C41564C;  // "LVAL"

// One row's columns as stored: for each column (design order) whether the
// null mask marks it present (Yes/No: true) and its bytes (fixed columns:
// their size; Memo/OLE: the whole long-value field, reference and inline
// data).
struct RowFields {
    std::vector<bool> present;
    std::vector<std::string> bytes;
};

// Takes a stored row apart; columns the row predates are absent.
Result<RowFields> splitRow(const TableDef& table, std::string_view row, uint32_t page);
// Packs the columns into a row of the table's current layout.
Result<std::string> joinRow(const TableDef& table, const RowFields& fields);

// Where new rows of one table (or one long-value column) go.
struct RowHome {
    uint32_t owner = 0;  // the TDEF page, or kLvalOwner
    uint32_t ownedMap = 0, freeMap = 0;
    uint32_t current = 0;   // page new rows went to last; 0: look in the free map
    bool searched = false;  // the free map has been looked at once
    bool fullPage = false;  // long values: a chain piece wants a page of its own
};

// A row as stored at `pointer` (row byte, page << 8): its flags and bytes.
struct StoredRow {
    uint16_t flags = 0;
    std::string bytes;
};
Result<StoredRow> readSlot(Pager& pager, uint32_t pointer);

// Appends a row (with the slot flags given) on a page of `home` that has
// room, or on a new page added to the home's maps; returns its pointer.
Result<uint32_t> addRow(Pager& pager, RowHome& home, std::string_view bytes, uint16_t flags = 0);

// Replaces the bytes and flags of a slot in place, moving the page's other
// rows as needed; false (and nothing changed) when the page has no room.
Result<bool> replaceSlot(Pager& pager, uint32_t pointer, std::string_view bytes, uint16_t flags);

// Marks a slot deleted and gives its bytes back to the page.
Status deleteSlot(Pager& pager, uint32_t pointer);

// Live rows left on a page (slots neither deleted nor overflow targets).
Result<uint32_t> liveRows(Pager& pager, uint32_t page);

}  // namespace tab::jet::edit
