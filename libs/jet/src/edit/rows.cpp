#include "edit/rows.h"

#include <algorithm>
#include <cstring>

#include "edit/pager.h"
#include "edit/space.h"
#include "internal.h"

namespace tab::jet::edit {
namespace {

constexpr size_t kPage = 4096;
constexpr size_t kRowsAt = 0x0E;  // Jet4/ACE: row count at 0x0C, offsets from 0x0E
constexpr uint32_t kMaxSlots = 255;

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int fixedSize(const Column& c) {
    const int n = fixedSizeOf(static_cast<ColumnType>(c.storedType));
    return n > 0 ? n : c.length;
}

struct Slot {
    uint32_t start = 0, end = 0;
    uint16_t flags = 0;
};

// The slots of a data page with their extents, every one checked.
Status readSlots(const Page& pg, uint32_t number, std::vector<Slot>& out) {
    if (pg.size() != kPage || pg[0] != 0x01) return corrupt(number, "expected a data page");
    const uint32_t n = u16At(pg.data() + 0x0C);
    const uint32_t headerEnd = kRowsAt + 2 * n;
    if (n > kMaxSlots || headerEnd > kPage) return corrupt(number, "implausible row count");
    out.resize(n);
    uint32_t end = kPage;
    for (uint32_t i = 0; i < n; ++i) {
        const uint16_t e = u16At(pg.data() + kRowsAt + 2 * i);
        const uint32_t start = e & 0x1FFF;
        if (start < headerEnd || start > end)
            return corrupt(number, "row " + std::to_string(i) + " has an impossible extent");
        out[i] = {start, end, static_cast<uint16_t>(e & 0xC000)};
        end = start;
    }
    return Status::success();
}

// Writes the rows again from the end of the page in slot order, with slot
// `which` replaced; false when they do not fit.
bool repack(uint8_t* page, const std::vector<Slot>& slots, uint32_t which, std::string_view bytes,
            uint16_t flags) {
    const uint32_t n = static_cast<uint32_t>(slots.size());
    size_t total = 0;
    for (uint32_t i = 0; i < n; ++i)
        total += i == which ? bytes.size() : slots[i].end - slots[i].start;
    if (kRowsAt + 2 * n + total > kPage) return false;
    uint8_t buf[kPage];
    std::memcpy(buf, page, kPage);
    size_t pos = kPage;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* src;
        size_t len;
        uint16_t f;
        if (i == which) {
            src = reinterpret_cast<const uint8_t*>(bytes.data());
            len = bytes.size();
            f = flags;
        } else {
            src = page + slots[i].start;
            len = slots[i].end - slots[i].start;
            f = slots[i].flags;
        }
        pos -= len;
        if (len) std::memmove(buf + pos, src, len);
        put16(buf + kRowsAt + 2 * i, static_cast<uint32_t>(pos) | f);
    }
    std::memset(buf + kRowsAt + 2 * n, 0, pos - (kRowsAt + 2 * n));
    put16(buf + 2, static_cast<uint32_t>(pos - (kRowsAt + 2 * n)));
    std::memcpy(page, buf, kPage);
    return true;
}

// Room for one more row of `length` bytes (its slot included).
bool fits(const Page& pg, uint32_t owner, size_t length) {
    if (pg.size() != kPage || pg[0] != 0x01 || u32At(pg.data() + 4) != owner) return false;
    const uint32_t n = u16At(pg.data() + 0x0C);
    if (n >= kMaxSlots) return false;
    const uint32_t last = n ? (u16At(pg.data() + kRowsAt + 2 * (n - 1)) & 0x1FFF) : kPage;
    const size_t headerEnd = kRowsAt + 2 * (n + 1);
    return last >= headerEnd && last - headerEnd >= length;
}

}  // namespace

Result<RowFields> splitRow(const TableDef& t, std::string_view rowText, uint32_t page) {
    Bytes row(reinterpret_cast<const uint8_t*>(rowText.data()), rowText.size());
    auto bad = [&](const std::string& what) {
        return corrupt(page, "row of table \"" + t.name + "\": " + what);
    };
    const size_t L = row.size();
    if (L < 3) return bad("too short");
    const size_t ncols = u16At(row.data());
    const size_t nm = (ncols + 7) / 8;
    if (2 + nm > L) return bad("null mask outside the row");
    const uint8_t* mask = row.data() + (L - nm);
    std::vector<uint32_t> offs;
    size_t nv = 0, varTableStart = L - nm;
    if (t.varColumns > 0) {
        if (const char* err = readVarOffsets(row, false, nm, offs, varTableStart)) return bad(err);
        nv = offs.size() - 1;
    }
    const size_t fixedEnd = t.varColumns > 0 ? offs[0] : varTableStart;
    RowFields out;
    out.present.assign(t.columns.size(), false);
    out.bytes.resize(t.columns.size());
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const Column& c = t.columns[i];
        const bool present = c.number < ncols && ((mask[c.number / 8] >> (c.number % 8)) & 1);
        if (c.storedType == 0x01 && !c.calculated) {
            out.present[i] = present;
            continue;
        }
        if (!present) continue;
        if (c.fixed) {
            const size_t len = static_cast<size_t>(fixedSize(c));
            const size_t start = 2 + c.fixedOffset;
            if (start + len > fixedEnd) return bad("column \"" + c.name + "\" outside the row");
            out.bytes[i].assign(rowText.substr(start, len));
        } else {
            if (c.varIndex >= nv) continue;
            out.bytes[i].assign(
                rowText.substr(offs[c.varIndex], offs[c.varIndex + 1] - offs[c.varIndex]));
        }
        out.present[i] = true;
    }
    return out;
}

Result<std::string> joinRow(const TableDef& t, const RowFields& f) {
    const size_t n = t.columns.size();
    if (f.present.size() != n || f.bytes.size() != n)
        return Error(Errc::Internal, "row fields do not match the table");
    size_t fixedEnd = 0;
    for (const Column& c : t.columns)
        if (c.fixed && c.storedType != 0x01)
            fixedEnd =
                std::max<size_t>(fixedEnd, c.fixedOffset + static_cast<size_t>(fixedSize(c)));
    std::string row(2 + fixedEnd, '\0');
    put16(reinterpret_cast<uint8_t*>(row.data()), t.maxColumns);
    std::vector<uint8_t> mask((t.maxColumns + 7) / 8, 0);
    std::vector<int> bySlot(t.varColumns, -1);
    for (size_t i = 0; i < n; ++i) {
        const Column& c = t.columns[i];
        if (c.number >= t.maxColumns)
            return Error(Errc::Internal, "column number beyond the table's");
        if (f.present[i]) mask[c.number / 8] |= static_cast<uint8_t>(1u << (c.number % 8));
        if (c.storedType == 0x01) continue;
        if (c.fixed) {
            if (!f.present[i]) continue;
            const size_t len = static_cast<size_t>(fixedSize(c));
            if (f.bytes[i].size() != len)
                return Error(Errc::Internal, "value of \"" + c.name + "\" has the wrong size");
            std::memcpy(row.data() + 2 + c.fixedOffset, f.bytes[i].data(), len);
        } else if (c.varIndex < bySlot.size()) {
            bySlot[c.varIndex] = static_cast<int>(i);
        }
    }
    if (t.varColumns) {
        std::vector<uint16_t> offsets(t.varColumns);
        for (size_t s = 0; s < t.varColumns; ++s) {
            offsets[s] = static_cast<uint16_t>(row.size());
            const int i = bySlot[s];
            if (i >= 0 && f.present[i]) row += f.bytes[i];
            if (row.size() > 0x1FFF) break;
        }
        const size_t eod = row.size();
        row.push_back(static_cast<char>(eod & 0xFF));
        row.push_back(static_cast<char>((eod >> 8) & 0xFF));
        for (size_t s = t.varColumns; s-- > 0;) {
            row.push_back(static_cast<char>(offsets[s] & 0xFF));
            row.push_back(static_cast<char>(offsets[s] >> 8));
        }
        row.push_back(static_cast<char>(t.varColumns & 0xFF));
        row.push_back(static_cast<char>(t.varColumns >> 8));
    }
    row.append(reinterpret_cast<const char*>(mask.data()), mask.size());
    return row;
}

Result<StoredRow> readSlot(Pager& pager, uint32_t pointer) {
    const uint32_t number = pointer >> 8, row = pointer & 0xFF;
    TAB_ASSIGN_OR_RETURN(PageRef page, pager.read(number));
    std::vector<Slot> slots;
    TAB_TRY(readSlots(*page, number, slots));
    if (row >= slots.size())
        return corrupt(number, "row " + std::to_string(row) + " beyond the page's rows");
    const Slot& s = slots[row];
    return StoredRow{s.flags, std::string(reinterpret_cast<const char*>(page->data()) + s.start,
                                          s.end - s.start)};
}

Result<uint32_t> addRow(Pager& pager, RowHome& home, std::string_view bytes, uint16_t flags) {
    if (bytes.size() > kPage - kRowsAt - 2) return Error(Errc::Internal, "row larger than a page");
    auto usable = [&](uint32_t number) -> Result<bool> {
        TAB_ASSIGN_OR_RETURN(PageRef p, pager.read(number));
        return fits(*p, home.owner, bytes.size());
    };
    uint32_t target = 0;
    if (home.current && !home.fullPage) {
        TAB_ASSIGN_OR_RETURN(bool ok, usable(home.current));
        if (ok) target = home.current;
    }
    if (!target && !home.searched && !home.fullPage && home.freeMap) {
        home.searched = true;
        TAB_ASSIGN_OR_RETURN(auto candidates, mapPages(pager, home.freeMap));
        // The last pages first: that is where a table grows.
        for (size_t k = candidates.size(), tried = 0; k-- > 0 && tried < 8; ++tried) {
            TAB_ASSIGN_OR_RETURN(bool ok, usable(candidates[k]));
            if (ok) {
                target = candidates[k];
                break;
            }
        }
    }
    if (!target && home.current && home.freeMap && !home.fullPage)
        TAB_TRY(mapRemove(pager, home.freeMap, home.current));
    if (!target) {
        TAB_ASSIGN_OR_RETURN(target, allocatePage(pager));
        TAB_ASSIGN_OR_RETURN(uint8_t * p, pager.modify(target));
        p[0] = 0x01;
        p[1] = 0x01;
        put16(p + 2, kPage - kRowsAt);
        put32(p + 4, home.owner);
        TAB_TRY(mapAdd(pager, home.ownedMap, target));
        if (home.freeMap) TAB_TRY(mapAdd(pager, home.freeMap, target));
    }
    home.current = target;
    TAB_ASSIGN_OR_RETURN(uint8_t * p, pager.modify(target));
    const uint32_t n = u16At(p + 0x0C);
    const uint32_t last = n ? (u16At(p + kRowsAt + 2 * (n - 1)) & 0x1FFF) : kPage;
    const uint32_t start = last - static_cast<uint32_t>(bytes.size());
    std::memcpy(p + start, bytes.data(), bytes.size());
    put16(p + kRowsAt + 2 * n, start | flags);
    put16(p + 0x0C, n + 1);
    put16(p + 2, start - (kRowsAt + 2 * (n + 1)));
    return (target << 8) | n;
}

Result<bool> replaceSlot(Pager& pager, uint32_t pointer, std::string_view bytes, uint16_t flags) {
    const uint32_t number = pointer >> 8, row = pointer & 0xFF;
    TAB_ASSIGN_OR_RETURN(PageRef page, pager.read(number));
    std::vector<Slot> slots;
    TAB_TRY(readSlots(*page, number, slots));
    if (row >= slots.size())
        return corrupt(number, "row " + std::to_string(row) + " beyond the page's rows");
    const Slot& s = slots[row];
    // Same length: no other row moves.
    if (s.end - s.start == bytes.size()) {
        TAB_ASSIGN_OR_RETURN(uint8_t * p, pager.modify(number));
        std::memcpy(p + s.start, bytes.data(), bytes.size());
        put16(p + kRowsAt + 2 * row, s.start | flags);
        return true;
    }
    size_t total = 0;
    for (uint32_t i = 0; i < slots.size(); ++i)
        total += i == row ? bytes.size() : slots[i].end - slots[i].start;
    if (kRowsAt + 2 * slots.size() + total > kPage) return false;
    TAB_ASSIGN_OR_RETURN(uint8_t * p, pager.modify(number));
    return repack(p, slots, row, bytes, flags);
}

Status deleteSlot(Pager& pager, uint32_t pointer) {
    TAB_ASSIGN_OR_RETURN(bool done, replaceSlot(pager, pointer, {}, kSlotDeleted));
    if (!done) return Error(Errc::Internal, "a deleted row did not fit its page");
    return Status::success();
}

Result<uint32_t> liveRows(Pager& pager, uint32_t number) {
    TAB_ASSIGN_OR_RETURN(PageRef page, pager.read(number));
    std::vector<Slot> slots;
    TAB_TRY(readSlots(*page, number, slots));
    uint32_t live = 0;
    for (const Slot& s : slots) live += (s.flags & kSlotOverflowTarget) == 0;
    return live;
}

}  // namespace tab::jet::edit
