// Usage maps as the writer stores them: a 69-byte row that either holds the
// bitmap inline (up to 512 pages from a start page) or points to bitmap pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tabulary/base/error.h"
#include "write/page_file.h"

namespace tab::jet::write {

constexpr size_t kMapRowSize = 69;
constexpr uint32_t kInlinePages = 512;        // 64 bitmap bytes
constexpr uint32_t kBitmapPagePages = 32736;  // 4092 bitmap bytes per 0x05 page
constexpr uint32_t kReferenceSlots = 17;

// Builds the map row listing `pages` (sorted, unique). When they do not fit
// inline, bitmap pages are allocated from `file` and written at once.
Result<std::string> buildUsageMap(const std::vector<uint32_t>& pages, PageFile& file);

// The database's global map (page 1, row 0): bit set = page free. `used`
// holds one flag per page of the finished file. Inline up to `inlineBytes` of
// bitmap, otherwise a reference map whose bitmap pages are allocated from
// `file` first (they are themselves used pages).
Result<std::string> buildGlobalMap(PageFile& file, size_t inlineBytes);

}  // namespace tab::jet::write
