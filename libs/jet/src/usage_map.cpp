// Row lookup on data pages and usage maps (the bitmaps that list a table's pages).
#include <algorithm>
#include <set>

#include "internal.h"

namespace tab::jet {

Result<uint32_t> dataRowCount(const Page& page, const Format& f, uint32_t pageNumber) {
    auto n = readU16Le(page, f.dataRowCountOffset);
    if (!n) return corrupt(pageNumber, "data page header truncated");
    if (f.dataRowsOffset + size_t{*n} * 2 > page.size())
        return corrupt(pageNumber, "row count exceeds the page");
    return uint32_t{*n};
}

Status rowExtent(const Page& pg, const Format& f, uint32_t pageNumber, uint32_t row,
                 RowExtent& out) {
    if (pg.empty() || pg[0] != 0x01) return corrupt(pageNumber, "row pointer to a non-data page");
    TAB_ASSIGN_OR_RETURN(uint32_t n, dataRowCount(pg, f, pageNumber));
    if (row >= n)
        return corrupt(pageNumber, "row number " + std::to_string(row) + " beyond the page's rows");
    uint16_t entry = u16At(pg.data() + f.dataRowsOffset + 2 * row);
    uint32_t start = entry & 0x1FFF;
    uint32_t end = row == 0 ? static_cast<uint32_t>(pg.size())
                            : (u16At(pg.data() + f.dataRowsOffset + 2 * (row - 1)) & 0x1FFFu);
    uint32_t headerEnd = f.dataRowsOffset + 2 * n;
    if (start < headerEnd || start > end || end > pg.size())
        return corrupt(pageNumber, "row " + std::to_string(row) + " has an impossible extent");
    out.start = start;
    out.end = end;
    out.flags = entry & 0xC000;
    return {};
}

Result<RowSlice> rowOnPage(PageRef page, const Format& f, uint32_t pageNumber, uint32_t row) {
    RowExtent e;
    if (Status st = rowExtent(*page, f, pageNumber, row, e); !st.ok()) return st.error();
    RowSlice s;
    s.page = std::move(page);
    s.start = e.start;
    s.end = e.end;
    s.flags = e.flags;
    return s;
}

Result<RowSlice> rowAt(PageSource& pages, const Format& f, uint32_t pageNumber, uint32_t row) {
    auto p = pages.page(pageNumber);
    if (!p.ok()) return p.error();
    return rowOnPage(std::move(*p), f, pageNumber, row);
}

Result<std::vector<uint32_t>> readUsageMap(PageSource& pages, const Format& f, uint32_t pointer) {
    TAB_ASSIGN_OR_RETURN(RowSlice slice, rowAtPointer(pages, f, pointer));
    Bytes map = slice.bytes();
    std::vector<uint32_t> out;
    if (map.empty()) return corrupt(pointer >> 8, "empty usage map");
    const uint32_t pageCount = pages.pageCount();
    if (map[0] == 0x00) {
        auto first = readU32Le(map, 1);
        if (!first) return corrupt(pointer >> 8, "usage map truncated");
        for (size_t i = 5; i < map.size(); ++i) {
            uint8_t byte = map[i];
            for (int bit = 0; byte && bit < 8; ++bit) {
                if (!(byte & (1u << bit))) continue;
                uint64_t pg = uint64_t{*first} + (i - 5) * 8 + static_cast<uint64_t>(bit);
                if (pg < pageCount) out.push_back(static_cast<uint32_t>(pg));
            }
        }
    } else if (map[0] == 0x01) {
        const uint64_t bitsPerPage = uint64_t{pages.pageSize() - 4} * 8;
        std::set<uint32_t> seenMaps;
        for (size_t j = 0; 1 + 4 * j + 4 <= map.size(); ++j) {
            uint32_t mapPage = u32At(map.data() + 1 + 4 * j);
            if (mapPage == 0) continue;
            if (!seenMaps.insert(mapPage).second) continue;
            auto bp = pages.page(mapPage);
            if (!bp.ok()) return bp.error();
            const Page& bits = **bp;
            if (bits[0] != 0x05) return corrupt(mapPage, "expected a usage-map bitmap page");
            for (size_t i = 4; i < bits.size(); ++i) {
                uint8_t byte = bits[i];
                for (int bit = 0; byte && bit < 8; ++bit) {
                    if (!(byte & (1u << bit))) continue;
                    uint64_t pg = j * bitsPerPage + (i - 4) * 8 + static_cast<uint64_t>(bit);
                    if (pg < pageCount) out.push_back(static_cast<uint32_t>(pg));
                }
            }
        }
    } else {
        return corrupt(pointer >> 8, "unknown usage map type " + std::to_string(map[0]));
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace tab::jet
