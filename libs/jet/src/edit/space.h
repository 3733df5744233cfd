// Where pages come from and who owns them: the global usage map on page 1
// (bit set = page free) and the object usage maps (a 69-byte row on some
// data page, inline or pointing to bitmap pages) that list a table's data
// pages, an index's pages or a long-value column's pages.
#pragma once

#include <cstdint>
#include <vector>

#include "tabulary/base/error.h"

namespace tab::jet::edit {

class Pager;

// A new page for the change: appended at the end of the file (pages freed
// earlier are not reused, as Access leaves them to Compact), marked used in
// the global map (which grows, or becomes a reference map, as needed). The
// page is staged and all zero.
Result<uint32_t> allocatePage(Pager& pager);

// Marks `page` free in the global map and zeroes its first four bytes. The
// caller has removed it from every object map first.
Status freePage(Pager& pager, uint32_t page);

// Object usage maps, by the row pointer the TDEF holds (row byte, 3-byte
// page). Adding a page outside an inline map's window moves the window or
// converts the map into a reference map; removing an absent page is a no-op.
Status mapAdd(Pager& pager, uint32_t mapRowPointer, uint32_t page);
Status mapRemove(Pager& pager, uint32_t mapRowPointer, uint32_t page);
Result<bool> mapContains(Pager& pager, uint32_t mapRowPointer, uint32_t page);
Result<std::vector<uint32_t>> mapPages(Pager& pager, uint32_t mapRowPointer);

// A new usage-map row (inline, empty window at `firstPage` rounded down to a
// multiple of 8) on a usage-map page that has room, or on a new one; returns
// its row pointer. `hostPages` lists pages already holding maps of the same
// object, tried first.
Result<uint32_t> newUsageMap(Pager& pager, uint32_t firstPage,
                             const std::vector<uint32_t>& hostPages = {});

}  // namespace tab::jet::edit
