// Page allocation through the global usage map and the object usage maps of
// tables, indexes and long-value columns, for a change in progress. Every
// map row and bitmap page is checked before it is trusted.
#include "edit/space.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "edit/pager.h"
#include "tabulary/base/byte_reader.h"

namespace tab::jet::edit {

namespace {

constexpr uint32_t kGlobalMap = 1u << 8;  // page 1, row 0
constexpr size_t kRowCountAt = 0x0C;
constexpr size_t kRowsAt = 0x0E;
constexpr uint32_t kMaxRows = 255;  // row numbers are one byte
constexpr uint16_t kOffsetMask = 0x1FFF;
constexpr size_t kMapRowSize = 69;
constexpr size_t kInlineHeader = 5;  // type byte, u32 start page
constexpr uint32_t kGrowStep = 256;  // pages the global map grows by
constexpr uint32_t kMinGlobalPages = 512;

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
bool bitAt(const uint8_t* bits, uint32_t k) {
    return (bits[k / 8] >> (k % 8)) & 1;
}
void setBit(uint8_t* bits, uint32_t k, bool on) {
    if (on)
        bits[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
    else
        bits[k / 8] &= static_cast<uint8_t>(~(1u << (k % 8)));
}

uint32_t bitsPerBitmapPage(size_t pageSize) {
    return static_cast<uint32_t>((pageSize - 4) * 8);
}

// The slots of a data page, checked against the page: rows are packed from
// the end in slot order, so row i ends where row i-1 starts.
struct Slots {
    uint32_t count = 0;
    size_t size = 0;
    uint32_t offset(const uint8_t* pg, uint32_t i) const {
        return u16At(pg + kRowsAt + 2 * i) & kOffsetMask;
    }
};

Result<Slots> slotsOf(const uint8_t* pg, size_t size, uint32_t number) {
    if (size < kRowsAt || pg[0] != 0x01) return corrupt(number, "expected a data page");
    Slots s;
    s.size = size;
    s.count = u16At(pg + kRowCountAt);
    if (kRowsAt + 2 * size_t{s.count} > size) return corrupt(number, "row count exceeds the page");
    uint32_t end = static_cast<uint32_t>(size);
    for (uint32_t i = 0; i < s.count; ++i) {
        uint32_t off = s.offset(pg, i);
        if (off > end || off < kRowsAt + 2 * s.count)
            return corrupt(number, "row " + std::to_string(i) + " has an impossible extent");
        end = off;
    }
    return s;
}

struct Extent {
    uint32_t start = 0, end = 0;
    size_t length() const { return end - start; }
};

Result<Extent> rowExtent(const uint8_t* pg, size_t size, uint32_t number, uint32_t row) {
    TAB_ASSIGN_OR_RETURN(Slots s, slotsOf(pg, size, number));
    if (row >= s.count)
        return corrupt(number, "usage map row " + std::to_string(row) + " does not exist");
    Extent e;
    e.start = s.offset(pg, row);
    e.end = row == 0 ? static_cast<uint32_t>(size) : s.offset(pg, row - 1);
    return e;
}

size_t freeSpaceOf(const uint8_t* pg, const Slots& s) {
    size_t headerEnd = kRowsAt + 2 * size_t{s.count};
    size_t last = s.count ? s.offset(pg, s.count - 1) : s.size;
    return last - headerEnd;
}

// Rewrites a data page with `rows` (bytes, slot flags) in slot order.
Status rewriteRows(uint8_t* pg, size_t size, uint32_t number,
                   const std::vector<std::pair<std::string, uint16_t>>& rows) {
    size_t need = kRowsAt + 2 * rows.size();
    for (const auto& r : rows) need += r.first.size();
    if (need > size) return Error(Errc::Internal, "rows do not fit page " + std::to_string(number));
    std::memset(pg + kRowsAt, 0, size - kRowsAt);
    size_t off = size;
    for (size_t i = 0; i < rows.size(); ++i) {
        off -= rows[i].first.size();
        std::memcpy(pg + off, rows[i].first.data(), rows[i].first.size());
        put16(pg + kRowsAt + 2 * i, static_cast<uint32_t>(off) | rows[i].second);
    }
    put16(pg + kRowCountAt, static_cast<uint32_t>(rows.size()));
    put16(pg + 2, static_cast<uint32_t>(off - (kRowsAt + 2 * rows.size())));
    return Status::success();
}

Result<std::vector<std::pair<std::string, uint16_t>>> rowsOf(const uint8_t* pg, size_t size,
                                                             uint32_t number) {
    TAB_ASSIGN_OR_RETURN(Slots s, slotsOf(pg, size, number));
    std::vector<std::pair<std::string, uint16_t>> rows;
    uint32_t end = static_cast<uint32_t>(size);
    for (uint32_t i = 0; i < s.count; ++i) {
        uint32_t off = s.offset(pg, i);
        rows.emplace_back(std::string(reinterpret_cast<const char*>(pg + off), end - off),
                          static_cast<uint16_t>(u16At(pg + kRowsAt + 2 * i) & ~kOffsetMask));
        end = off;
    }
    return rows;
}

Result<size_t> pageSizeOf(Pager& pager) {
    TAB_ASSIGN_OR_RETURN(PageRef p1, pager.read(1));
    if (p1->size() < 512) return corrupt(1, "page too small");
    return p1->size();
}

// A usage-map row made writable.
struct MapRow {
    uint8_t* row = nullptr;
    size_t length = 0;
    size_t pageSize = 0;
};

Result<MapRow> writableMap(Pager& pager, uint32_t pointer) {
    const uint32_t page = pointer >> 8, row = pointer & 0xFF;
    TAB_ASSIGN_OR_RETURN(size_t size, pageSizeOf(pager));
    if (page == 0 || page >= pager.pageCount())
        return corrupt("usage map on page " + std::to_string(page) + ", outside the file");
    TAB_ASSIGN_OR_RETURN(uint8_t * pg, pager.modify(page));
    TAB_ASSIGN_OR_RETURN(Extent e, rowExtent(pg, size, page, row));
    if (e.length() == 0) return corrupt(page, "empty usage map row");
    return MapRow{pg + e.start, e.length(), size};
}

// Bitmap page `number` of a reference map, checked.
Result<uint8_t*> writableBitmap(Pager& pager, uint32_t number, uint32_t mapPage) {
    if (number < 2 || number >= pager.pageCount())
        return corrupt(mapPage, "usage map names bitmap page " + std::to_string(number) +
                                    ", outside the file");
    TAB_ASSIGN_OR_RETURN(uint8_t * bp, pager.modify(number));
    if (bp[0] != 0x05) return corrupt(number, "expected a usage-map bitmap page");
    return bp;
}

// ---- the global map (bit set = page free) ----

Status setGlobal(Pager& pager, uint32_t page, bool free);

// The inline global map no longer covers the file and page 1 has no room to
// grow it: it becomes a reference map, one bitmap page per 32736 pages.
Status convertGlobal(Pager& pager, uint32_t page) {
    TAB_ASSIGN_OR_RETURN(size_t size, pageSizeOf(pager));
    TAB_ASSIGN_OR_RETURN(uint8_t * p1, pager.modify(1));
    TAB_ASSIGN_OR_RETURN(auto rows, rowsOf(p1, size, 1));
    const std::string old = rows[0].first;
    const auto* bits = reinterpret_cast<const uint8_t*>(old.data()) + kInlineHeader;
    const uint32_t start = u32At(reinterpret_cast<const uint8_t*>(old.data()) + 1);
    const uint64_t covered = uint64_t{old.size() - kInlineHeader} * 8;
    const uint32_t oldCount = pager.pageCount();
    // Before the window: used; after it: free (what every reader assumes).
    auto usedBefore = [&](uint32_t p) {
        if (p == page || p < start) return true;
        uint64_t k = p - start;
        return k < covered && !bitAt(bits, static_cast<uint32_t>(k));
    };
    const uint32_t per = bitsPerBitmapPage(size);
    const size_t slots = (kMapRowSize - 1) / 4;
    std::vector<uint32_t> maps;
    while (uint64_t{maps.size()} * per < pager.pageCount()) {
        if (maps.size() >= slots)
            return Error(Errc::Unsupported, "the database would grow beyond 2 GB");
        TAB_ASSIGN_OR_RETURN(uint32_t bp, pager.append());
        maps.push_back(bp);
    }
    const uint32_t count = pager.pageCount();
    std::string row(kMapRowSize, '\0');
    row[0] = 0x01;
    for (size_t j = 0; j < maps.size(); ++j) {
        TAB_ASSIGN_OR_RETURN(uint8_t * bp, pager.modify(maps[j]));
        std::memset(bp, 0, size);
        bp[0] = 0x05;
        bp[1] = 0x01;
        for (uint32_t k = 0; k < per; ++k) {
            uint64_t p = uint64_t{j} * per + k;
            bool free = p >= count || (p < oldCount && !usedBefore(static_cast<uint32_t>(p)));
            if (free) setBit(bp + 4, k, true);
        }
        put32(reinterpret_cast<uint8_t*>(row.data()) + 1 + 4 * j, maps[j]);
    }
    rows[0].first = std::move(row);
    return rewriteRows(p1, size, 1, rows);
}

// Page `page` lies beyond the inline window: the row grows (moving the rows
// after it) to cover the file in whole steps, or the map is converted.
Status growGlobal(Pager& pager, uint32_t page) {
    TAB_ASSIGN_OR_RETURN(size_t size, pageSizeOf(pager));
    TAB_ASSIGN_OR_RETURN(uint8_t * p1, pager.modify(1));
    TAB_ASSIGN_OR_RETURN(Slots s, slotsOf(p1, size, 1));
    TAB_ASSIGN_OR_RETURN(auto rows, rowsOf(p1, size, 1));
    std::string& row = rows[0].first;
    const uint32_t start = u32At(reinterpret_cast<const uint8_t*>(row.data()) + 1);
    const size_t bits = row.size() - kInlineHeader;
    const uint64_t span = uint64_t{pager.pageCount()} - start;
    uint64_t want = std::max<uint64_t>((span + kGrowStep - 1) / kGrowStep * kGrowStep,
                                       start == 0 ? kMinGlobalPages : 0) /
                    8;
    want = std::max<uint64_t>(want, bits + 1);
    const uint64_t room = bits + freeSpaceOf(p1, s);
    uint64_t bytes = std::min(want, room);
    if (bytes * 8 <= uint64_t{page} - start) return convertGlobal(pager, page);
    row.append(static_cast<size_t>(bytes - bits), '\xFF');
    setBit(reinterpret_cast<uint8_t*>(row.data()) + kInlineHeader, page - start, false);
    return rewriteRows(p1, size, 1, rows);
}

Status setGlobal(Pager& pager, uint32_t page, bool free) {
    TAB_ASSIGN_OR_RETURN(MapRow m, writableMap(pager, kGlobalMap));
    if (m.row[0] == 0x00) {
        if (m.length < kInlineHeader) return corrupt(1, "global usage map truncated");
        uint32_t start = u32At(m.row + 1);
        uint64_t covered = uint64_t{m.length - kInlineHeader} * 8;
        if (page >= start && page - start < covered) {
            setBit(m.row + kInlineHeader, page - start, free);
            return Status::success();
        }
        // Pages after the window count as free; pages before it as used and
        // stay so (a leak Compact repairs, never a page given out twice).
        if (free || page < start) return Status::success();
        return growGlobal(pager, page);
    }
    if (m.row[0] != 0x01) return corrupt(1, "unknown global usage map type");
    const uint32_t per = bitsPerBitmapPage(m.pageSize);
    const size_t slot = page / per;
    if (1 + 4 * slot + 4 > m.length) {
        if (free) return Status::success();
        return Error(Errc::Unsupported, "the database would grow beyond 2 GB");
    }
    uint32_t bp = u32At(m.row + 1 + 4 * slot);
    if (bp == 0) {
        if (free) return Status::success();
        // A new bitmap page, all free but for itself and `page`.
        TAB_ASSIGN_OR_RETURN(bp, pager.append());
        TAB_ASSIGN_OR_RETURN(uint8_t * b, pager.modify(bp));
        b[0] = 0x05;
        b[1] = 0x01;
        std::memset(b + 4, 0xFF, m.pageSize - 4);
        put32(m.row + 1 + 4 * slot, bp);
        TAB_TRY(setGlobal(pager, bp, false));
    }
    TAB_ASSIGN_OR_RETURN(uint8_t * b, writableBitmap(pager, bp, 1));
    setBit(b + 4, page - static_cast<uint32_t>(slot) * per, free);
    return Status::success();
}

// ---- object maps (bit set = page listed) ----

std::vector<uint32_t> inlinePages(const uint8_t* row, size_t length) {
    std::vector<uint32_t> out;
    uint32_t start = u32At(row + 1);
    for (size_t i = kInlineHeader; i < length; ++i) {
        uint8_t byte = row[i];
        for (uint32_t bit = 0; byte && bit < 8; ++bit)
            if (byte & (1u << bit)) {
                uint64_t p = uint64_t{start} + (i - kInlineHeader) * 8 + bit;
                if (p <= UINT32_MAX) out.push_back(static_cast<uint32_t>(p));
            }
    }
    return out;
}

Status referenceAdd(Pager& pager, uint32_t pointer, uint32_t page) {
    TAB_ASSIGN_OR_RETURN(MapRow m, writableMap(pager, pointer));
    const uint32_t per = bitsPerBitmapPage(m.pageSize);
    const size_t slot = page / per;
    if (1 + 4 * slot + 4 > m.length)
        return Error(Errc::Unsupported, "the database would grow beyond 2 GB");
    uint32_t bp = u32At(m.row + 1 + 4 * slot);
    if (bp == 0) {
        TAB_ASSIGN_OR_RETURN(bp, allocatePage(pager));
        TAB_ASSIGN_OR_RETURN(uint8_t * b, pager.modify(bp));
        b[0] = 0x05;
        b[1] = 0x01;
        // The allocation may have rewritten the page holding the row.
        TAB_ASSIGN_OR_RETURN(m, writableMap(pager, pointer));
        put32(m.row + 1 + 4 * slot, bp);
    }
    TAB_ASSIGN_OR_RETURN(uint8_t * b, writableBitmap(pager, bp, pointer >> 8));
    setBit(b + 4, page - static_cast<uint32_t>(slot) * per, true);
    return Status::success();
}

// Object maps only: the global map has the opposite meaning.
Status checkObjectMap(uint32_t pointer) {
    if (pointer == kGlobalMap)
        return Error(Errc::Internal, "the global usage map is not an object map");
    return Status::success();
}

// Whether `page` is listed, reading only.
Result<bool> contains(Pager& pager, uint32_t pointer, uint32_t page) {
    const uint32_t mapPage = pointer >> 8;
    if (mapPage == 0 || mapPage >= pager.pageCount())
        return corrupt("usage map on page " + std::to_string(mapPage) + ", outside the file");
    TAB_ASSIGN_OR_RETURN(PageRef pg, pager.read(mapPage));
    TAB_ASSIGN_OR_RETURN(Extent e, rowExtent(pg->data(), pg->size(), mapPage, pointer & 0xFF));
    const uint8_t* row = pg->data() + e.start;
    if (e.length() == 0) return corrupt(mapPage, "empty usage map row");
    if (row[0] == 0x00) {
        if (e.length() < kInlineHeader) return corrupt(mapPage, "usage map truncated");
        uint32_t start = u32At(row + 1);
        if (page < start || page - start >= (e.length() - kInlineHeader) * 8) return false;
        return bitAt(row + kInlineHeader, page - start);
    }
    if (row[0] != 0x01) return corrupt(mapPage, "unknown usage map type");
    const uint32_t per = bitsPerBitmapPage(pg->size());
    const size_t slot = page / per;
    if (1 + 4 * slot + 4 > e.length()) return false;
    uint32_t bp = u32At(row + 1 + 4 * slot);
    if (bp == 0) return false;
    if (bp < 2 || bp >= pager.pageCount())
        return corrupt(mapPage,
                       "usage map names bitmap page " + std::to_string(bp) + ", outside the file");
    TAB_ASSIGN_OR_RETURN(PageRef bits, pager.read(bp));
    if ((*bits)[0] != 0x05) return corrupt(bp, "expected a usage-map bitmap page");
    return bitAt(bits->data() + 4, page - static_cast<uint32_t>(slot) * per);
}

}  // namespace

Result<uint32_t> allocatePage(Pager& pager) {
    TAB_ASSIGN_OR_RETURN(uint32_t page, pager.append());
    TAB_TRY(setGlobal(pager, page, false));
    return page;
}

Status freePage(Pager& pager, uint32_t page) {
    if (page < 2 || page >= pager.pageCount())
        return Error(Errc::Internal, "page " + std::to_string(page) + " cannot be freed");
    TAB_ASSIGN_OR_RETURN(uint8_t * pg, pager.modify(page));
    std::memset(pg, 0, 4);
    return setGlobal(pager, page, true);
}

Status mapAdd(Pager& pager, uint32_t pointer, uint32_t page) {
    TAB_TRY(checkObjectMap(pointer));
    TAB_ASSIGN_OR_RETURN(MapRow m, writableMap(pager, pointer));
    if (m.row[0] == 0x01) return referenceAdd(pager, pointer, page);
    if (m.row[0] != 0x00) return corrupt(pointer >> 8, "unknown usage map type");
    if (m.length < kInlineHeader) return corrupt(pointer >> 8, "usage map truncated");
    const uint32_t start = u32At(m.row + 1);
    const uint64_t covered = uint64_t{m.length - kInlineHeader} * 8;
    if (page >= start && page - start < covered) {
        setBit(m.row + kInlineHeader, page - start, true);
        return Status::success();
    }
    // Outside the window: move it if everything still fits, else the map
    // becomes a reference map holding the same pages.
    std::vector<uint32_t> pages = inlinePages(m.row, m.length);
    pages.push_back(page);
    std::sort(pages.begin(), pages.end());
    const uint32_t first = pages.front() & ~7u;
    if (pages.back() - first < covered) {
        std::memset(m.row + kInlineHeader, 0, m.length - kInlineHeader);
        put32(m.row + 1, first);
        for (uint32_t p : pages) setBit(m.row + kInlineHeader, p - first, true);
        return Status::success();
    }
    std::memset(m.row, 0, m.length);
    m.row[0] = 0x01;
    for (uint32_t p : pages) TAB_TRY(referenceAdd(pager, pointer, p));
    return Status::success();
}

Status mapRemove(Pager& pager, uint32_t pointer, uint32_t page) {
    TAB_TRY(checkObjectMap(pointer));
    TAB_ASSIGN_OR_RETURN(bool listed, contains(pager, pointer, page));
    if (!listed) return Status::success();
    TAB_ASSIGN_OR_RETURN(MapRow m, writableMap(pager, pointer));
    if (m.row[0] == 0x00) {
        setBit(m.row + kInlineHeader, page - u32At(m.row + 1), false);
        return Status::success();
    }
    const uint32_t per = bitsPerBitmapPage(m.pageSize);
    const size_t slot = page / per;
    TAB_ASSIGN_OR_RETURN(uint8_t * b,
                         writableBitmap(pager, u32At(m.row + 1 + 4 * slot), pointer >> 8));
    setBit(b + 4, page - static_cast<uint32_t>(slot) * per, false);
    return Status::success();
}

Result<bool> mapContains(Pager& pager, uint32_t pointer, uint32_t page) {
    return contains(pager, pointer, page);
}

Result<std::vector<uint32_t>> mapPages(Pager& pager, uint32_t pointer) {
    const uint32_t mapPage = pointer >> 8;
    if (mapPage == 0 || mapPage >= pager.pageCount())
        return corrupt("usage map on page " + std::to_string(mapPage) + ", outside the file");
    TAB_ASSIGN_OR_RETURN(PageRef pg, pager.read(mapPage));
    TAB_ASSIGN_OR_RETURN(Extent e, rowExtent(pg->data(), pg->size(), mapPage, pointer & 0xFF));
    const uint8_t* row = pg->data() + e.start;
    const uint32_t count = pager.pageCount();
    std::vector<uint32_t> out;
    if (e.length() == 0) return corrupt(mapPage, "empty usage map row");
    if (row[0] == 0x00) {
        if (e.length() < kInlineHeader) return corrupt(mapPage, "usage map truncated");
        for (uint32_t p : inlinePages(row, e.length()))
            if (p < count) out.push_back(p);
        return out;
    }
    if (row[0] != 0x01) return corrupt(mapPage, "unknown usage map type");
    const uint32_t per = bitsPerBitmapPage(pg->size());
    for (size_t slot = 0; 1 + 4 * slot + 4 <= e.length(); ++slot) {
        uint32_t bp = u32At(row + 1 + 4 * slot);
        if (bp == 0) continue;
        if (bp < 2 || bp >= count)
            return corrupt(mapPage, "usage map names bitmap page " + std::to_string(bp) +
                                        ", outside the file");
        TAB_ASSIGN_OR_RETURN(PageRef bits, pager.read(bp));
        if ((*bits)[0] != 0x05) return corrupt(bp, "expected a usage-map bitmap page");
        for (uint32_t k = 0; k < per; ++k) {
            uint64_t p = uint64_t{slot} * per + k;
            if (p >= count) break;
            if (bitAt(bits->data() + 4, k)) out.push_back(static_cast<uint32_t>(p));
        }
    }
    return out;
}

Result<uint32_t> newUsageMap(Pager& pager, uint32_t firstPage,
                             const std::vector<uint32_t>& hostPages) {
    TAB_ASSIGN_OR_RETURN(size_t size, pageSizeOf(pager));
    std::string row(kMapRowSize, '\0');
    put32(reinterpret_cast<uint8_t*>(row.data()) + 1, firstPage & ~7u);
    // Appends the row as a new slot; false when the page has no room.
    auto place = [&](uint8_t* pg, uint32_t number) -> Result<bool> {
        TAB_ASSIGN_OR_RETURN(Slots s, slotsOf(pg, size, number));
        if (s.count >= kMaxRows || freeSpaceOf(pg, s) < row.size() + 2) return false;
        uint32_t end = s.count ? s.offset(pg, s.count - 1) : static_cast<uint32_t>(size);
        uint32_t off = end - static_cast<uint32_t>(row.size());
        std::memcpy(pg + off, row.data(), row.size());
        put16(pg + kRowsAt + 2 * s.count, off);
        put16(pg + kRowCountAt, s.count + 1);
        put16(pg + 2, off - static_cast<uint32_t>(kRowsAt + 2 * (s.count + 1)));
        return true;
    };
    for (uint32_t host : hostPages) {
        if (host < 2 || host >= pager.pageCount()) continue;
        TAB_ASSIGN_OR_RETURN(PageRef ref, pager.read(host));
        // Only pages that hold nothing but usage maps (owner 0).
        if (ref->size() != size || (*ref)[0] != 0x01 || u32At(ref->data() + 4) != 0) continue;
        TAB_ASSIGN_OR_RETURN(Slots s, slotsOf(ref->data(), size, host));
        if (s.count >= kMaxRows || freeSpaceOf(ref->data(), s) < row.size() + 2) continue;
        TAB_ASSIGN_OR_RETURN(uint8_t * pg, pager.modify(host));
        TAB_ASSIGN_OR_RETURN(bool placed, place(pg, host));
        if (placed) return s.count | (host << 8);
    }
    TAB_ASSIGN_OR_RETURN(uint32_t page, allocatePage(pager));
    TAB_ASSIGN_OR_RETURN(uint8_t * pg, pager.modify(page));
    pg[0] = 0x01;
    pg[1] = 0x01;
    put16(pg + 2, static_cast<uint32_t>(size - kRowsAt));
    TAB_ASSIGN_OR_RETURN(bool placed, place(pg, page));
    if (!placed) return Error(Errc::Internal, "a usage map does not fit an empty page");
    return page << 8;
}

}  // namespace tab::jet::edit
