// Bulk construction of an index B-tree from all of its entries: leaves packed
// in key order with prefix compression, node levels above them, the top level
// written into the index's fixed root page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/base/error.h"
#include "write/page_file.h"

namespace tab::jet::write {

constexpr size_t kIndexDataStart = 0x1E0;
constexpr size_t kIndexCapacity = kPageSize - kIndexDataStart;  // 3616 bytes of entries

// The entries of one index, kept in one buffer: key bytes followed by the
// row pointer (3-byte page, big-endian, then the row).
class IndexEntries {
public:
    void add(std::string_view key, uint32_t page, uint8_t row);
    size_t size() const { return m_spans.size(); }
    void sort();
    std::string_view entry(size_t i) const {
        return std::string_view(m_bytes).substr(m_spans[i].offset, m_spans[i].length);
    }
    std::string_view key(size_t i) const {
        auto e = entry(i);
        return e.substr(0, e.size() - 4);
    }
    // Distinct key values (Null counts as one value), after sort().
    uint32_t distinctKeys() const;

private:
    struct Span {
        uint32_t offset;
        uint32_t length;
    };
    std::string m_bytes;
    std::vector<Span> m_spans;
};

struct BuiltIndex {
    std::vector<uint32_t> pages;  // every page of the tree, sorted
};

// Writes the tree for sorted `entries` with its top page at `root`.
Result<BuiltIndex> buildIndexTree(const IndexEntries& entries, uint32_t root, uint32_t owner,
                                  PageFile& file);

}  // namespace tab::jet::write
