#include "write/index_builder.h"

#include <algorithm>
#include <cstring>

namespace tab::jet::write {

namespace {

constexpr uint8_t kNode = 0x03, kLeaf = 0x04;
constexpr size_t kBitmapAt = 0x1B;

size_t commonPrefix(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size()), i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

struct Page {
    uint8_t type = kLeaf;
    std::vector<std::string> entries;  // stored entries, full bytes (node: + child page)
    std::vector<size_t> keyLengths;    // length of the key part of each entry
    uint32_t tail = 0;
    uint32_t number = 0;
    uint32_t prev = 0, next = 0;
    std::string last;  // last leaf entry of the subtree, for the parent's entry
};

Status writePage(const Page& pg, uint32_t owner, PageFile& file) {
    PageBuf buf{};
    buf[0] = pg.type;
    buf[1] = 0x01;
    put32(buf.data() + 4, owner);
    put32(buf.data() + 0x0C, pg.prev);
    put32(buf.data() + 0x10, pg.next);
    put32(buf.data() + 0x14, pg.tail);
    size_t prefix = 0;
    if (pg.entries.size() > 1) {
        std::string_view first(pg.entries.front()), last(pg.entries.back());
        prefix = std::min(commonPrefix(first.substr(0, pg.keyLengths.front()),
                                       last.substr(0, pg.keyLengths.back())),
                          std::min(pg.keyLengths.front(), pg.keyLengths.back()));
    }
    put16(buf.data() + 0x18, static_cast<uint32_t>(prefix));
    size_t pos = 0;
    for (size_t i = 0; i < pg.entries.size(); ++i) {
        std::string_view e(pg.entries[i]);
        if (i > 0) e.remove_prefix(prefix);
        if (pos + e.size() > kIndexCapacity) return Error(Errc::Internal, "index page overfilled");
        std::memcpy(buf.data() + kIndexDataStart + pos, e.data(), e.size());
        pos += e.size();
        buf[kBitmapAt + pos / 8] |= static_cast<uint8_t>(1u << (pos % 8));
    }
    put16(buf.data() + 2, static_cast<uint32_t>(kIndexCapacity - pos));
    return file.write(pg.number, buf);
}

// Whether `entries` plus `extra` still fit one page with the best prefix.
bool fits(const std::vector<std::string>& entries, const std::vector<size_t>& keyLengths,
          std::string_view extra, size_t extraKey, size_t& total) {
    size_t n = entries.size() + 1;
    std::string_view first = entries.empty() ? extra : std::string_view(entries.front());
    size_t firstKey = entries.empty() ? extraKey : keyLengths.front();
    size_t prefix =
        n > 1 ? std::min({commonPrefix(first.substr(0, firstKey), extra.substr(0, extraKey)),
                          firstKey, extraKey})
              : 0;
    size_t sum = total + extra.size();
    size_t packed = sum - prefix * (n - 1);
    if (packed > kIndexCapacity) return false;
    total = sum;
    return true;
}

}  // namespace

void IndexEntries::add(std::string_view key, uint32_t page, uint8_t row) {
    auto offset = static_cast<uint32_t>(m_bytes.size());
    m_bytes.append(key);
    m_bytes.push_back(static_cast<char>((page >> 16) & 0xFF));
    m_bytes.push_back(static_cast<char>((page >> 8) & 0xFF));
    m_bytes.push_back(static_cast<char>(page & 0xFF));
    m_bytes.push_back(static_cast<char>(row));
    m_spans.push_back({offset, static_cast<uint32_t>(key.size() + 4)});
}

void IndexEntries::sort() {
    const char* base = m_bytes.data();
    std::sort(m_spans.begin(), m_spans.end(), [base](const Span& a, const Span& b) {
        int c = std::memcmp(base + a.offset, base + b.offset, std::min(a.length, b.length));
        return c != 0 ? c < 0 : a.length < b.length;
    });
}

uint32_t IndexEntries::distinctKeys() const {
    uint32_t n = 0;
    for (size_t i = 0; i < size(); ++i)
        if (i == 0 || key(i) != key(i - 1)) ++n;
    return n;
}

namespace {

// Children [from, to) of one parent page.
using Group = std::pair<size_t, size_t>;

std::string childEntry(const Page& child) {
    std::string e = child.last;
    for (int s = 24; s >= 0; s -= 8) e.push_back(static_cast<char>((child.number >> s) & 0xFF));
    return e;
}

// Greedy grouping: every child but a group's last is a stored entry, the last
// one is the tail, so adding a child stores the entry of the one before it.
std::vector<Group> groupChildren(const std::vector<Page>& level) {
    std::vector<Group> groups;
    std::vector<std::string> stored;
    std::vector<size_t> keys;
    size_t first = 0, total = 0;
    for (size_t i = 1; i < level.size(); ++i) {
        std::string e = childEntry(level[i - 1]);
        size_t probe = total;
        if (!fits(stored, keys, e, e.size() - 8, probe)) {
            groups.emplace_back(first, i);
            first = i;
            total = 0;
            stored.clear();
            keys.clear();
            continue;
        }
        total = probe;
        keys.push_back(e.size() - 8);
        stored.push_back(std::move(e));
    }
    groups.emplace_back(first, level.size());
    return groups;
}

Page parentOf(const std::vector<Page>& level, Group g) {
    Page parent;
    parent.type = kNode;
    auto [from, to] = g;
    // One child is a normal entry; with more, the last child is the tail.
    size_t storedEnd = to - from == 1 ? to : to - 1;
    for (size_t k = from; k < storedEnd; ++k) {
        std::string e = childEntry(level[k]);
        parent.keyLengths.push_back(e.size() - 8);
        parent.entries.push_back(std::move(e));
    }
    if (to - from > 1) parent.tail = level[to - 1].number;
    parent.last = level[to - 1].last;
    return parent;
}

}  // namespace

Result<BuiltIndex> buildIndexTree(const IndexEntries& entries, uint32_t root, uint32_t owner,
                                  PageFile& file) {
    BuiltIndex built;
    std::vector<Page> level;
    {
        Page cur;
        size_t total = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
            std::string_view e = entries.entry(i);
            size_t keyLen = e.size() - 4;
            if (e.size() > kIndexCapacity / 2)
                return Error(Errc::InvalidArgument, "index key too long");
            if (!fits(cur.entries, cur.keyLengths, e, keyLen, total)) {
                level.push_back(std::move(cur));
                cur = Page();
                total = 0;
                fits(cur.entries, cur.keyLengths, e, keyLen, total);
            }
            cur.entries.emplace_back(e);
            cur.keyLengths.push_back(keyLen);
        }
        level.push_back(std::move(cur));
        for (Page& pg : level) pg.last = pg.entries.empty() ? std::string() : pg.entries.back();
    }
    bool leaves = true;
    while (level.size() > 1) {
        for (Page& pg : level) pg.number = file.allocate();
        std::vector<Group> groups = groupChildren(level);
        // All leaves form one chain; node pages are linked only under one parent.
        for (size_t i = 0; i < level.size(); ++i) {
            level[i].prev = i > 0 ? level[i - 1].number : 0;
            level[i].next = i + 1 < level.size() ? level[i + 1].number : 0;
        }
        if (!leaves) {
            for (auto [from, to] : groups) {
                level[from].prev = 0;
                level[to - 1].next = 0;
            }
        }
        std::vector<Page> parents;
        for (Group g : groups) parents.push_back(parentOf(level, g));
        for (const Page& pg : level) {
            TAB_TRY(writePage(pg, owner, file));
            built.pages.push_back(pg.number);
        }
        level = std::move(parents);
        leaves = false;
    }
    level[0].number = root;
    TAB_TRY(writePage(level[0], owner, file));
    built.pages.push_back(root);
    std::sort(built.pages.begin(), built.pages.end());
    return built;
}

}  // namespace tab::jet::write
