#include "edit/long_values.h"

#include <set>
#include <vector>

#include "edit/pager.h"
#include "edit/rows.h"
#include "edit/space.h"
#include "internal.h"
#include "write/row_encoder.h"

namespace tab::jet::edit {
namespace {

constexpr uint32_t kInline = 0x80000000u;
constexpr uint32_t kSingle = 0x40000000u;
constexpr uint32_t kLengthMask = 0x3FFFFFFFu;

std::string pointerBytes(uint32_t pointer) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>(pointer >> (8 * i));
    return s;
}

}  // namespace

Result<std::string> storeLongValue(Pager& pager, RowHome& home, std::string_view data) {
    if (data.size() > kLengthMask) return Error(Errc::InvalidArgument, "value longer than 1 GB");
    if (data.size() <= write::kMaxLvalRow) {
        home.fullPage = false;
        TAB_ASSIGN_OR_RETURN(uint32_t at, addRow(pager, home, data));
        return write::externalLongRef(static_cast<uint32_t>(data.size()), true, at);
    }
    // Pieces from the last to the first, so that each knows the next.
    const size_t piece = write::kChainPiece;
    const size_t count = (data.size() + piece - 1) / piece;
    uint32_t next = 0;
    for (size_t k = count; k-- > 0;) {
        const size_t from = k * piece;
        const size_t len = std::min(piece, data.size() - from);
        std::string row = pointerBytes(next);
        row.append(data.substr(from, len));
        home.fullPage = len == piece;
        TAB_ASSIGN_OR_RETURN(next, addRow(pager, home, row));
    }
    home.fullPage = false;
    return write::externalLongRef(static_cast<uint32_t>(data.size()), false, next);
}

Status freeLongValue(Pager& pager, const RowHome& home, std::string_view field) {
    if (field.size() < 12) return Status::success();
    const auto* b = reinterpret_cast<const uint8_t*>(field.data());
    const uint32_t head = u32At(b);
    if (head & kInline) return Status::success();
    const uint32_t length = head & kLengthMask;
    uint32_t pointer = u32At(b + 4);
    std::set<uint32_t> touched;
    if (head & kSingle) {
        TAB_TRY(deleteSlot(pager, pointer));
        touched.insert(pointer >> 8);
    } else {
        // Bounded walk: a damaged chain must not loop.
        const size_t maxPieces = length / write::kChainPiece + 2;
        std::set<uint32_t> seen;
        for (size_t hops = 0; pointer != 0; ++hops) {
            if (hops > maxPieces || !seen.insert(pointer).second)
                return corrupt(pointer >> 8, "long value chain loops or runs too long");
            TAB_ASSIGN_OR_RETURN(StoredRow piece, readSlot(pager, pointer));
            if (piece.bytes.size() < 4) return corrupt(pointer >> 8, "long value piece too short");
            const uint32_t following = u32At(reinterpret_cast<const uint8_t*>(piece.bytes.data()));
            TAB_TRY(deleteSlot(pager, pointer));
            touched.insert(pointer >> 8);
            pointer = following;
        }
    }
    if (home.freeMap)
        for (uint32_t page : touched) TAB_TRY(mapAdd(pager, home.freeMap, page));
    return Status::success();
}

}  // namespace tab::jet::edit
