// Index pages and the B-tree walk behind IndexCursor.
#include "tabulary/jet/index_reader.h"

#include <algorithm>
#include <cstring>

#include "internal.h"
#include "tabulary/jet/database.h"

namespace tab::jet {

namespace {

constexpr uint8_t kNodePage = 0x03;
constexpr uint8_t kLeafPage = 0x04;
constexpr int kMaxDepth = 32;  // far beyond any real tree
constexpr size_t kRowPointerSize = kIndexRowPointerSize;
constexpr size_t kChildSize = kIndexChildSize;

struct PageLayout {
    size_t next, tail, prefix, prefixSize, bitmap, bitmapSize, entries;
};

// Jet3 keeps a one-byte prefix length: the byte after it was 0x01 on an
// Access 97 node page.
PageLayout layoutFor(const Format& f) {
    if (f.jet3) return {0x0C, 0x10, 0x14, 1, 0x16, 226, 0xF8};
    return {0x10, 0x14, 0x18, 2, 0x1B, 453, 0x1E0};
}

uint32_t u32Be(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// -1, 0 or 1: `key` before the keys starting with `bound`, starting with it,
// or after them.
int comparePrefix(Bytes key, std::string_view bound) {
    size_t n = std::min(key.size(), bound.size());
    int c = n ? std::memcmp(key.data(), bound.data(), n) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    return key.size() >= bound.size() ? 0 : -1;
}

}  // namespace

KeyRange KeyRange::equal(std::vector<Value> values) {
    KeyRange r;
    r.first = KeyBound{values, true};
    r.last = KeyBound{std::move(values), true};
    return r;
}

Result<KeyRange> columnRange(const RealIndex& index, std::vector<Value> equal,
                             std::optional<ValueBound> lower, std::optional<ValueBound> upper) {
    if (equal.size() > index.columns.size() ||
        ((lower || upper) && equal.size() >= index.columns.size()))
        return Error(Errc::InvalidArgument, "more key values than index columns");
    KeyRange r;
    if (!equal.empty()) {
        r.first = KeyBound{equal, true};
        r.last = KeyBound{equal, true};
    }
    if (!lower && !upper) return r;
    // A descending column runs from its largest value to its smallest.
    if (!index.columns[equal.size()].ascending) std::swap(lower, upper);
    if (lower) {
        r.first = KeyBound{equal, lower->inclusive};
        r.first->values.push_back(lower->value);
    }
    if (upper) {
        r.last = KeyBound{equal, upper->inclusive};
        r.last->values.push_back(upper->value);
    }
    return r;
}

Result<IndexCursor> IndexCursor::open(Database& db, const TableDef& table, const RealIndex& index,
                                      const KeyRange& range) {
    IndexCursor c(db, table.tdefPage, index.rootPage);
    if (range.first) {
        TAB_ASSIGN_OR_RETURN(std::string key,
                             encodeIndexKey(db, table, index, range.first->values));
        c.m_first = std::move(key);
        c.m_firstInclusive = range.first->inclusive;
    }
    if (range.last) {
        TAB_ASSIGN_OR_RETURN(std::string key, encodeIndexKey(db, table, index, range.last->values));
        c.m_last = std::move(key);
        c.m_lastInclusive = range.last->inclusive;
    }
    return c;
}

bool IndexCursor::Page::leaf() const {
    return view && view->leaf;
}
uint32_t IndexCursor::Page::next() const {
    return empty || !view ? 0 : view->next;
}
size_t IndexCursor::Page::count() const {
    return empty || !view ? 0 : view->ends.size();
}

Bytes IndexCursor::entry(size_t i) const {
    const auto& ends = m_page.view->ends;
    uint32_t start = i == 0 ? 0 : ends[i - 1];
    return Bytes(m_page.view->data.data() + start, ends[i] - start);
}

Bytes IndexCursor::key() const {
    if (!m_started || m_done || m_pos >= m_page.count()) return {};
    Bytes e = entry(m_pos);
    return e.first(e.size() - kRowPointerSize);
}

bool IndexCursor::beforeFirst(Bytes key) const {
    if (!m_first) return false;
    int c = comparePrefix(key, *m_first);
    return m_firstInclusive ? c < 0 : c <= 0;
}

bool IndexCursor::afterLast(Bytes key) const {
    if (!m_last) return false;
    int c = comparePrefix(key, *m_last);
    return m_lastInclusive ? c > 0 : c >= 0;
}

Status parseIndexPage(const Page& pg, const Format& f, uint32_t number, IndexPageView& out) {
    const PageLayout L = layoutFor(f);
    if (pg.size() < L.entries) return corrupt(number, "index page too small");
    if (pg[0] != kNodePage && pg[0] != kLeafPage) return corrupt(number, "not an index page");
    out.leaf = pg[0] == kLeafPage;
    out.freeSpace = u16At(pg.data() + 2);
    out.owner = u32At(pg.data() + 4);
    out.prev = u32At(pg.data() + L.next - 4);
    out.next = u32At(pg.data() + L.next);
    out.tail = u32At(pg.data() + L.tail);
    out.prefix = L.prefixSize == 1 ? pg[L.prefix] : u16At(pg.data() + L.prefix);
    out.entriesStart = L.entries;
    out.dataEnd = L.entries;
    const size_t fixedTail = kIndexRowPointerSize + (out.leaf ? 0 : kIndexChildSize);

    out.data.clear();
    out.ends.clear();
    size_t start = L.entries;
    for (size_t k = 0; k < L.bitmapSize * 8; ++k) {
        if (k % 8 == 0 && pg[L.bitmap + k / 8] == 0) {
            k += 7;  // no entry ends in these 8 bytes
            continue;
        }
        if (!(pg[L.bitmap + k / 8] & (1u << (k % 8)))) continue;
        size_t end = L.entries + k;
        if (end > pg.size()) return corrupt(number, "index entry beyond the page");
        if (end <= start) continue;  // bit 0 would mark an empty entry
        size_t stored = end - start;
        if (out.ends.empty()) {
            if (out.prefix > stored)
                return corrupt(number, "index prefix longer than the first entry");
        } else {
            const uint8_t* shared = pg.data() + L.entries;  // the first entry's first bytes
            out.data.insert(out.data.end(), shared, shared + out.prefix);
        }
        out.data.insert(out.data.end(), pg.begin() + static_cast<ptrdiff_t>(start),
                        pg.begin() + static_cast<ptrdiff_t>(end));
        size_t entryStart = out.ends.empty() ? 0 : out.ends.back();
        if (out.data.size() - entryStart < fixedTail + 1)
            return corrupt(number, "index entry too short");
        out.ends.push_back(static_cast<uint32_t>(out.data.size()));
        start = end;
        out.dataEnd = end;
    }
    return Status::success();
}

Status IndexCursor::load(uint32_t number, Page& out) {
    TAB_ASSIGN_OR_RETURN(out.view, m_db->indexPage(number));
    ++m_pagesRead;
    if (out.view->owner != m_owner) return corrupt(number, "index page of another table");
    out.number = number;
    out.empty = false;
    return Status::success();
}

Status IndexCursor::descend() {
    uint32_t number = m_root;
    uint32_t path[kMaxDepth + 2];
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth) return corrupt(m_root, "index tree too deep");
        for (int d = 0; d < depth; ++d)
            if (path[d] == number) return corrupt(number, "index tree has a cycle");
        path[depth] = number;
        TAB_TRY(load(number, m_page));
        if (m_page.leaf()) break;
        // A node entry holds the last entry of its child: the first child
        // whose last key is not before the range holds the range's start.
        // Entries ascend, so that child is found by bisection.
        size_t lo = 0, hi = m_page.count();
        while (lo < hi) {
            size_t mid = lo + (hi - lo) / 2;
            Bytes e = entry(mid);
            if (e.size() < kRowPointerSize + kChildSize)
                return corrupt(number, "index node entry too short");
            if (beforeFirst(e.first(e.size() - kRowPointerSize - kChildSize)))
                lo = mid + 1;
            else
                hi = mid;
        }
        uint32_t child = 0;
        if (lo < m_page.count()) {
            Bytes e = entry(lo);
            child = u32Be(e.data() + e.size() - kChildSize);
        }
        if (!child) child = m_page.view->tail;
        if (!child) {
            m_page.empty = true;
            break;
        }
        number = child;
    }
    m_visited.insert(m_page.number);
    // Start at the leaf's first entry not before the range, found by bisection.
    size_t lo = 0, hi = m_page.count();
    while (lo < hi) {
        size_t mid = lo + (hi - lo) / 2;
        Bytes e = entry(mid);
        if (beforeFirst(e.first(e.size() - kRowPointerSize)))
            lo = mid + 1;
        else
            hi = mid;
    }
    m_pos = lo;
    return Status::success();
}

Result<bool> IndexCursor::advance() {
    if (!m_started) {
        m_started = true;
        TAB_TRY(descend());
    } else {
        ++m_pos;
    }
    for (;;) {
        while (m_pos < m_page.count()) {
            Bytes e = entry(m_pos);
            Bytes k = e.first(e.size() - kRowPointerSize);
            std::string_view text(reinterpret_cast<const char*>(e.data()), e.size());
            if (m_previous.empty()) {
                if (beforeFirst(k)) {
                    ++m_pos;
                    continue;
                }
            } else if (!(std::string_view(m_previous) < text)) {
                // Entries are unique and ascending; anything else is damage.
                return corrupt(m_page.number, "index entries out of order");
            }
            if (afterLast(k)) return false;
            m_previous.assign(text);
            const uint8_t* rp = e.data() + k.size();
            m_rowId = (((uint32_t{rp[0]} << 16) | (uint32_t{rp[1]} << 8) | rp[2]) << 8) | rp[3];
            return true;
        }
        uint32_t next = m_page.next();
        if (!next) return false;
        if (!m_visited.insert(next).second) return corrupt(next, "index leaf chain has a cycle");
        TAB_TRY(load(next, m_page));
        if (!m_page.leaf()) return corrupt(next, "index leaf chain reaches a node page");
        m_pos = 0;
    }
}

Result<bool> IndexCursor::next() {
    if (m_done) return false;
    auto r = advance();
    if (!r.ok() || !*r) m_done = true;
    return r;
}

}  // namespace tab::jet
