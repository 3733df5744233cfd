// Incremental maintenance of one real index (a B-tree of index pages): entries
// inserted and removed one at a time, pages split and merged, prefixes
// recomputed. Pages are decoded once and kept in memory while the change
// runs; flush() writes the pages that changed (new pages before the pages
// that point to them). Entries are key bytes followed by the 4-byte row
// pointer (3-byte page big-endian, then the row), compared as unsigned bytes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/format.h"

namespace tab::jet::edit {

class Pager;

struct IndexTreeRef {
    uint32_t rootPage = 0;
    uint32_t owner = 0;     // the table's TDEF page, written into every page header
    uint32_t usageMap = 0;  // row pointer of the index's usage map
};

// A row pointer as index entries store it.
inline uint32_t rowPointer(uint32_t page, uint8_t row) {
    return (page << 8) | row;
}

class IndexTree {
public:
    IndexTree(Pager& pager, const Format& format, IndexTreeRef ref);
    ~IndexTree();
    IndexTree(const IndexTree&) = delete;
    IndexTree& operator=(const IndexTree&) = delete;

    // Corrupt when the entry is already there (insert) or missing (remove).
    // Removals are collected and applied in entry order by the next call of
    // any other member (a missing entry is reported there): many removals
    // then walk the leaves once.
    Status insert(std::string_view key, uint32_t rowPointer);
    Status remove(std::string_view key, uint32_t rowPointer);

    // Whether some entry has exactly these key bytes; the rows of those entries.
    Result<bool> containsKey(std::string_view key);
    Result<std::vector<uint32_t>> rowsWithKey(std::string_view key);
    // Distinct keys in the whole tree (Null counts as one), for the TDEF's
    // unique-entry count after big changes.
    Result<uint32_t> distinctKeys();

    // Writes every changed page to the pager; pages emptied by removals are
    // unlinked, taken out of the usage map and freed.
    Status flush();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tab::jet::edit
