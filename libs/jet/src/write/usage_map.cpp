#include "write/usage_map.h"

#include <algorithm>

namespace tab::jet::write {

namespace {

void setBit(uint8_t* bitmap, uint32_t bit) {
    bitmap[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
}

}  // namespace

Result<std::string> buildUsageMap(const std::vector<uint32_t>& pages, PageFile& file) {
    std::string row(kMapRowSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(row.data());
    if (pages.empty()) return row;
    uint32_t start = pages.front() & ~7u;
    if (pages.back() - start < kInlinePages) {
        put32(p + 1, start);
        for (uint32_t pg : pages) setBit(p + 5, pg - start);
        return row;
    }
    p[0] = 0x01;
    uint32_t last = pages.back() / kBitmapPagePages;
    if (last >= kReferenceSlots) return Error(Errc::InvalidArgument, "database would exceed 2 GB");
    size_t i = 0;
    for (uint32_t slot = 0; slot <= last; ++slot) {
        uint32_t base = slot * kBitmapPagePages;
        if (i == pages.size() || pages[i] >= base + kBitmapPagePages) continue;
        PageBuf buf{};
        buf[0] = 0x05;
        buf[1] = 0x01;
        for (; i < pages.size() && pages[i] < base + kBitmapPagePages; ++i)
            setBit(buf.data() + 4, pages[i] - base);
        uint32_t number = file.allocate();
        TAB_TRY(file.write(number, buf));
        put32(p + 1 + 4 * slot, number);
    }
    return row;
}

Result<std::string> buildGlobalMap(PageFile& file, size_t inlineBytes) {
    // Inline while the file fits, the way Access grows it: whole 256-page steps, at least 512.
    uint32_t count = file.pageCount();
    uint32_t covered = std::max<uint32_t>(512, (count + 255) / 256 * 256);
    if (covered / 8 <= inlineBytes) {
        std::string row(5 + covered / 8, '\0');
        auto* p = reinterpret_cast<uint8_t*>(row.data());
        for (uint32_t pg = count; pg < covered; ++pg) setBit(p + 5, pg);
        return row;
    }
    // Bitmap pages for every 32736-page range the file reaches, including
    // the ranges the bitmap pages themselves extend it into.
    std::vector<uint32_t> bitmapPages;
    while (true) {
        uint32_t needed = (file.pageCount() + kBitmapPagePages - 1) / kBitmapPagePages;
        if (needed > kReferenceSlots)
            return Error(Errc::InvalidArgument, "database would exceed 2 GB");
        if (bitmapPages.size() >= needed) break;
        bitmapPages.push_back(file.allocate());
    }
    count = file.pageCount();
    std::string row(kMapRowSize, '\0');
    auto* p = reinterpret_cast<uint8_t*>(row.data());
    p[0] = 0x01;
    for (size_t slot = 0; slot < bitmapPages.size(); ++slot) {
        PageBuf buf{};
        buf[0] = 0x05;
        buf[1] = 0x01;
        uint32_t base = static_cast<uint32_t>(slot) * kBitmapPagePages;
        for (uint32_t k = 0; k < kBitmapPagePages; ++k)
            if (base + k >= count) setBit(buf.data() + 4, k);
        TAB_TRY(file.write(bitmapPages[slot], buf));
        put32(p + 1 + 4 * slot, bitmapPages[slot]);
    }
    return row;
}

}  // namespace tab::jet::write
