// Incremental maintenance of one index B-tree during a change. Each page is
// decoded once into its complete entries (one buffer and the entry ends),
// edited in memory and encoded again only by flush(). Splits and removals
// keep the shape readers rely on: a node entry is the last entry of its
// child's subtree, the last child of a node with several children is its
// tail, all leaves form one chain and node pages are linked only with pages
// under the same parent. Removals wait and are applied sorted, one pass per
// leaf, by the next call of any other kind.
#include "edit/index_tree.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "edit/pager.h"
#include "edit/space.h"
#include "internal.h"

namespace tab::jet::edit {

namespace {

constexpr uint8_t kNodeType = 0x03, kLeafType = 0x04;
constexpr size_t kRowPtr = 4, kChild = 4;
constexpr int kMaxDepth = 32;
constexpr size_t kPrevAt = 0x0C, kNextAt = 0x10, kTailAt = 0x14, kPrefixAt = 0x18, kFlagAt = 0x1A,
                 kBitmapAt = 0x1B, kEntriesAt = 0x1E0;
// Longest entry (key and row pointer) taken: two node entries always share a
// page, so every split finds a half that fits.
constexpr size_t kMaxEntry = 1700;

uint32_t be32(const char* p) {
    const auto* u = reinterpret_cast<const uint8_t*>(p);
    return (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | u[3];
}
void appendBe32(std::string& s, uint32_t v) {
    for (int shift : {24, 16, 8, 0}) s.push_back(static_cast<char>((v >> shift) & 0xFF));
}
void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
size_t commonPrefix(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size()), i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// One index page in editable form: entry i is data[ends[i-1], ends[i]),
// complete (the page's shared prefix restored). Node entries end with the
// child page; the tail child is kept apart, as on the page.
struct IndexNode {
    uint32_t number = 0;
    bool leaf = true;
    uint32_t prev = 0, next = 0, tail = 0;
    uint8_t flag = 0;  // byte 0x1A, kept as found
    std::string data;
    std::vector<uint32_t> ends;
    bool dirty = false;
    bool freed = false;

    size_t count() const { return ends.size(); }
    size_t begin(size_t i) const { return i ? ends[i - 1] : 0; }
    std::string_view entry(size_t i) const {
        return std::string_view(data).substr(begin(i), ends[i] - begin(i));
    }
    // What entries are ordered by: key and row pointer.
    std::string_view keyRow(size_t i) const {
        std::string_view e = entry(i);
        return leaf ? e : e.substr(0, e.size() - kChild);
    }
    std::string_view key(size_t i) const {
        std::string_view e = keyRow(i);
        return e.substr(0, e.size() - kRowPtr);
    }
    uint32_t child(size_t i) const {
        std::string_view e = entry(i);
        return be32(e.data() + e.size() - kChild);
    }
    // First entry not before `target`.
    size_t lowerBound(std::string_view target) const {
        size_t lo = 0, hi = count();
        while (lo < hi) {
            size_t mid = lo + (hi - lo) / 2;
            if (keyRow(mid) < target)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    void insertAt(size_t i, std::string_view e) {
        const size_t at = begin(i);
        data.insert(at, e);
        ends.insert(ends.begin() + static_cast<ptrdiff_t>(i), static_cast<uint32_t>(at));
        for (size_t k = i; k < ends.size(); ++k) ends[k] += static_cast<uint32_t>(e.size());
    }
    void eraseAt(size_t i) {
        const size_t at = begin(i), length = ends[i] - at;
        data.erase(at, length);
        ends.erase(ends.begin() + static_cast<ptrdiff_t>(i));
        for (size_t k = i; k < ends.size(); ++k) ends[k] -= static_cast<uint32_t>(length);
    }
    // Erases the entries at `sorted` positions in one pass.
    void eraseMany(const std::vector<size_t>& sorted) {
        size_t write = 0, kept = 0, k = 0;
        uint32_t readStart = 0;
        for (size_t i = 0; i < ends.size(); ++i) {
            const uint32_t readEnd = ends[i];
            if (k < sorted.size() && sorted[k] == i) {
                ++k;
            } else {
                const size_t length = readEnd - readStart;
                if (write != readStart) std::memmove(&data[write], &data[readStart], length);
                write += length;
                ends[kept++] = static_cast<uint32_t>(write);
            }
            readStart = readEnd;
        }
        data.resize(write);
        ends.resize(kept);
    }
    void replaceAt(size_t i, std::string_view e) {
        eraseAt(i);
        insertAt(i, e);
    }
    // Bytes entries [from, to) take on a page of their own, with the common
    // key prefix of the first and last stored once.
    size_t packed(size_t from, size_t to) const {
        if (to <= from) return 0;
        size_t raw = ends[to - 1] - begin(from), n = to - from;
        size_t prefix = n > 1 ? commonPrefix(key(from), key(to - 1)) : 0;
        return raw - prefix * (n - 1);
    }
    size_t packed() const { return packed(0, count()); }
};

}  // namespace

struct IndexTree::Impl {
    Pager& pager;
    Format format;
    IndexTreeRef ref;
    size_t capacity;
    std::unordered_map<uint32_t, std::unique_ptr<IndexNode>> nodes;
    std::vector<uint32_t> freed;
    std::optional<Error> broken;
    // Removals not applied yet, in one buffer: a big DELETE removes entries
    // in row order, which is random in most indexes; applied in entry order
    // they walk the leaves once instead of jumping between them.
    struct Pending {
        uint64_t head;  // the first 8 bytes, big-endian: most comparisons end there
        uint32_t offset, length;
    };
    std::string pendingBytes;
    std::vector<Pending> pending;

    struct Step {
        IndexNode* node;
        size_t pos;  // leaf: entry position; node: child taken (count() = the tail)
    };
    std::vector<Step> path;
    std::vector<size_t> positions;  // scratch of removeRun()

    Impl(Pager& p, const Format& f, IndexTreeRef r)
        : pager(p), format(f), ref(r), capacity(f.pageSize - kEntriesAt) {}

    Status usable() const {
        if (broken) return *broken;
        if (format.jet3) return Error(Errc::Unsupported, "Access 97 indexes are read-only");
        return Status::success();
    }
    // Applies the pending removals; every other operation starts with it.
    Status ready();

    Status decode(const Page& page, uint32_t number, IndexNode& out) const;
    Result<IndexNode*> load(uint32_t number);
    Result<const IndexNode*> peek(uint32_t number, IndexNode& scratch);
    Result<IndexNode*> newNode(bool leaf);
    Status descend(std::string_view target);
    Result<std::string> subtreeLast(uint32_t number);
    Status lastChanged(size_t k, std::string last);
    Status fixOverflow();
    Status splitRoot();
    Status split(size_t k);
    Status removePage(size_t k);
    Status collapseRoot();
    Status insertEntry(std::string_view e);
    Status removeRun(std::string_view all, size_t& i);
    template <class Fn>
    Status scanKey(std::string_view key, Fn&& fn);
    Status encode(const IndexNode& node);
};

Status IndexTree::Impl::decode(const Page& page, uint32_t number, IndexNode& out) const {
    const uint8_t* pg = page.data();
    if (page.size() < kEntriesAt) return corrupt(number, "index page too small");
    if (pg[0] != kNodeType && pg[0] != kLeafType) return corrupt(number, "not an index page");
    if (u32At(pg + 4) != ref.owner) return corrupt(number, "index page of another table");
    out.number = number;
    out.leaf = pg[0] == kLeafType;
    out.prev = u32At(pg + kPrevAt);
    out.next = u32At(pg + kNextAt);
    out.tail = out.leaf ? 0 : u32At(pg + kTailAt);
    out.flag = pg[kFlagAt];
    const size_t prefix = u16At(pg + kPrefixAt);
    if (prefix > page.size() - kEntriesAt)
        return corrupt(number, "index prefix longer than the first entry");
    const size_t minimum = kRowPtr + (out.leaf ? 0 : kChild) + 1;
    size_t marks = 0;
    for (size_t byte = 0; byte < kEntriesAt - kBitmapAt; ++byte)
        marks += static_cast<size_t>(__builtin_popcount(pg[kBitmapAt + byte]));
    out.data.clear();
    out.ends.clear();
    out.ends.reserve(marks);
    out.data.reserve(page.size() - kEntriesAt + prefix * marks);
    // Bit k of the entry-end map: an entry ends k bytes after the first.
    size_t start = kEntriesAt;
    for (size_t byte = 0; byte < kEntriesAt - kBitmapAt; ++byte) {
        for (unsigned bits = pg[kBitmapAt + byte]; bits; bits &= bits - 1) {
            const size_t end = kEntriesAt + byte * 8 + static_cast<size_t>(__builtin_ctz(bits));
            if (end > page.size()) return corrupt(number, "index entry beyond the page");
            if (end <= start) continue;
            if (out.ends.empty()) {
                if (prefix > end - start)
                    return corrupt(number, "index prefix longer than the first entry");
            } else {
                out.data.append(reinterpret_cast<const char*>(pg + kEntriesAt), prefix);
            }
            out.data.append(reinterpret_cast<const char*>(pg + start), end - start);
            out.ends.push_back(static_cast<uint32_t>(out.data.size()));
            const size_t i = out.count() - 1;
            if (out.entry(i).size() < minimum) return corrupt(number, "index entry too short");
            if (out.entry(i).size() > minimum - 1 + kMaxEntry - kRowPtr)
                return corrupt(number, "index entry longer than any key");
            if (i > 0 && !(out.keyRow(i - 1) < out.keyRow(i)))
                return corrupt(number, "index entries out of order");
            start = end;
        }
    }
    if (out.leaf) return Status::success();
    if (out.count() == 0 && out.tail == 0) return corrupt(number, "index node without children");
    if (out.count() > 1 && out.tail == 0)
        return corrupt(number, "index node with several children but no tail page");
    auto bad = [&](uint32_t child) {
        return child == 0 || child == number || child >= pager.pageCount();
    };
    for (size_t i = 0; i < out.count(); ++i)
        if (bad(out.child(i))) return corrupt(number, "index node names a page outside the file");
    if (out.tail && bad(out.tail)) return corrupt(number, "index tail page outside the file");
    return Status::success();
}

Result<IndexNode*> IndexTree::Impl::load(uint32_t number) {
    if (auto it = nodes.find(number); it != nodes.end()) {
        if (it->second->freed) return corrupt(number, "index tree reaches a page it gave up");
        return it->second.get();
    }
    if (number == 0 || number >= pager.pageCount())
        return corrupt("index page " + std::to_string(number) + " outside the file");
    TAB_ASSIGN_OR_RETURN(PageRef page, pager.read(number));
    auto node = std::make_unique<IndexNode>();
    TAB_TRY(decode(*page, number, *node));
    IndexNode* raw = node.get();
    nodes.emplace(number, std::move(node));
    return raw;
}

// A page as it stands without keeping it: whole-tree walks stay within
// bounded memory.
Result<const IndexNode*> IndexTree::Impl::peek(uint32_t number, IndexNode& scratch) {
    if (auto it = nodes.find(number); it != nodes.end()) {
        if (it->second->freed) return corrupt(number, "index tree reaches a page it gave up");
        return it->second.get();
    }
    if (number == 0 || number >= pager.pageCount())
        return corrupt("index page " + std::to_string(number) + " outside the file");
    TAB_ASSIGN_OR_RETURN(PageRef page, pager.read(number));
    scratch = IndexNode();
    TAB_TRY(decode(*page, number, scratch));
    return &scratch;
}

Result<IndexNode*> IndexTree::Impl::newNode(bool leaf) {
    TAB_ASSIGN_OR_RETURN(uint32_t number, allocatePage(pager));
    TAB_TRY(mapAdd(pager, ref.usageMap, number));
    auto node = std::make_unique<IndexNode>();
    node->number = number;
    node->leaf = leaf;
    node->dirty = true;
    IndexNode* raw = node.get();
    nodes.emplace(number, std::move(node));
    return raw;
}

// Path from the root to the leaf where `target` belongs: in each node the
// first child whose last entry is not before it, else the last child.
Status IndexTree::Impl::descend(std::string_view target) {
    path.clear();
    uint32_t number = ref.rootPage;
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth) return corrupt(ref.rootPage, "index tree too deep");
        TAB_ASSIGN_OR_RETURN(IndexNode * n, load(number));
        for (const Step& s : path)
            if (s.node == n) return corrupt(number, "index tree has a cycle");
        size_t i = n->lowerBound(target);
        if (n->leaf) {
            path.push_back({n, i});
            return Status::success();
        }
        if (i < n->count()) {
            number = n->child(i);
        } else if (n->tail) {
            number = n->tail;
        } else {
            if (n->count() == 0) return corrupt(n->number, "index node without children");
            i = n->count() - 1;
            number = n->child(i);
        }
        path.push_back({n, i});
    }
}

Result<std::string> IndexTree::Impl::subtreeLast(uint32_t number) {
    for (int depth = 0; depth <= kMaxDepth; ++depth) {
        TAB_ASSIGN_OR_RETURN(IndexNode * n, load(number));
        if (n->leaf) {
            if (n->count() == 0) return corrupt(number, "empty index leaf inside the tree");
            return std::string(n->entry(n->count() - 1));
        }
        if (n->tail)
            number = n->tail;
        else if (n->count())
            number = n->child(n->count() - 1);
        else
            return corrupt(number, "index node without children");
    }
    return corrupt(number, "index tree too deep");
}

// The last entry under path[k] is now `last`: the parent entries that hold
// it change, up to the first level where it is not the parent's last.
Status IndexTree::Impl::lastChanged(size_t k, std::string last) {
    for (size_t j = k; j-- > 0;) {
        IndexNode* p = path[j].node;
        const size_t c = path[j].pos;
        if (c >= p->count()) continue;  // the tail: nothing stored here
        std::string e = last;
        appendBe32(e, p->child(c));
        p->replaceAt(c, e);
        p->dirty = true;
        if (c + 1 != p->count() || p->tail != 0) break;
    }
    return Status::success();
}

// Pages on the path that outgrew a page are split, bottom up.
Status IndexTree::Impl::fixOverflow() {
    for (size_t k = path.size(); k-- > 0;) {
        while (!path[k].node->freed && path[k].node->packed() > capacity) {
            if (k == 0) {
                TAB_TRY(splitRoot());
                k = 1;
                continue;
            }
            TAB_TRY(split(k));
        }
    }
    return Status::success();
}

// The root keeps its page number: its content moves to a new page, and the
// root becomes a node with that page as its only child.
Status IndexTree::Impl::splitRoot() {
    IndexNode* root = path[0].node;
    TAB_ASSIGN_OR_RETURN(IndexNode * n, newNode(root->leaf));
    n->data = std::move(root->data);
    n->ends = std::move(root->ends);
    n->tail = root->tail;
    TAB_ASSIGN_OR_RETURN(std::string last, subtreeLast(n->number));
    appendBe32(last, n->number);
    root->leaf = false;
    root->data.clear();
    root->ends.clear();
    root->tail = 0;
    root->prev = root->next = 0;
    root->insertAt(0, last);
    root->dirty = true;
    path.insert(path.begin() + 1, Step{n, path[0].pos});
    path[0].pos = 0;
    return Status::success();
}

// Moves the first entries of path[k] to a new page placed before it.
Status IndexTree::Impl::split(size_t k) {
    IndexNode* x = path[k].node;
    IndexNode* p = path[k - 1].node;
    const size_t n = x->count();
    // Balanced halves in bytes; the left half must fit (a node's left half
    // stores all but its last child, which becomes its tail).
    size_t h = 0, best = SIZE_MAX;
    for (size_t cut = 1; cut < n; ++cut) {
        size_t left = x->leaf ? x->packed(0, cut) : x->packed(0, cut > 1 ? cut - 1 : 1);
        if (left > capacity) break;
        size_t worst = std::max(left, x->packed(cut, n));
        if (worst < best) {
            best = worst;
            h = cut;
        }
    }
    if (h == 0)
        return Error(Errc::Internal,
                     "index page " + std::to_string(x->number) + " cannot be split");
    TAB_ASSIGN_OR_RETURN(IndexNode * l, newNode(x->leaf));
    const uint32_t moved = x->ends[h - 1];
    l->data.assign(x->data, 0, moved);
    l->ends.assign(x->ends.begin(), x->ends.begin() + static_cast<ptrdiff_t>(h));
    x->data.erase(0, moved);
    x->ends.erase(x->ends.begin(), x->ends.begin() + static_cast<ptrdiff_t>(h));
    for (uint32_t& e : x->ends) e -= moved;
    std::string leftLast(l->keyRow(h - 1));
    if (!x->leaf && h > 1) {
        l->tail = l->child(h - 1);
        l->eraseAt(h - 1);
    }
    // Siblings: the new page goes before the old one.
    l->prev = x->prev;
    l->next = x->number;
    if (x->prev) {
        TAB_ASSIGN_OR_RETURN(IndexNode * before, load(x->prev));
        if (before->next != x->number)
            return corrupt(before->number, "index sibling links disagree");
        before->next = l->number;
        before->dirty = true;
    }
    x->prev = l->number;
    x->dirty = true;
    // Node pages below now have two parents: their link across is cut.
    if (!x->leaf) {
        uint32_t lastLeft = l->tail ? l->tail : l->child(l->count() - 1);
        uint32_t firstRight = x->count() ? x->child(0) : x->tail;
        TAB_ASSIGN_OR_RETURN(IndexNode * a, load(lastLeft));
        if (!a->leaf) {
            TAB_ASSIGN_OR_RETURN(IndexNode * b, load(firstRight));
            a->next = 0;
            b->prev = 0;
            a->dirty = b->dirty = true;
        }
    }
    // The parent gains the new page's entry just before the old page's.
    const size_t c = path[k - 1].pos;
    std::string e = std::move(leftLast);
    appendBe32(e, l->number);
    p->insertAt(std::min(c, p->count()), e);
    p->dirty = true;
    size_t xpos = c + 1;
    if (p->tail == 0 && p->count() > 1) {
        p->tail = p->child(p->count() - 1);
        p->eraseAt(p->count() - 1);
        if (xpos > p->count()) xpos = p->count();
    }
    path[k - 1].pos = xpos;
    return Status::success();
}

// path[k] (not the root) has no entries left: it leaves the sibling chain
// and its parent, which may empty in turn. The pages are freed by flush().
Status IndexTree::Impl::removePage(size_t k) {
    for (;; --k) {
        IndexNode* x = path[k].node;
        if (x->prev) {
            TAB_ASSIGN_OR_RETURN(IndexNode * before, load(x->prev));
            if (before->next != x->number)
                return corrupt(before->number, "index sibling links disagree");
            before->next = x->next;
            before->dirty = true;
        }
        if (x->next) {
            TAB_ASSIGN_OR_RETURN(IndexNode * after, load(x->next));
            if (after->prev != x->number)
                return corrupt(after->number, "index sibling links disagree");
            after->prev = x->prev;
            after->dirty = true;
        }
        x->freed = true;
        freed.push_back(x->number);

        IndexNode* p = path[k - 1].node;
        const size_t c = path[k - 1].pos;
        p->dirty = true;
        if (c >= p->count()) {
            // The tail went: the last stored child takes its place.
            p->tail = 0;
            if (p->count() > 1) {
                std::string last(p->keyRow(p->count() - 1));
                p->tail = p->child(p->count() - 1);
                p->eraseAt(p->count() - 1);
                return lastChanged(k - 1, std::move(last));
            }
            if (p->count() == 1) return lastChanged(k - 1, std::string(p->keyRow(0)));
        } else {
            const bool wasLast = c + 1 == p->count();
            p->eraseAt(c);
            if (p->count() == 0 && p->tail) {
                // One child left: stored as an entry, without a tail.
                TAB_ASSIGN_OR_RETURN(std::string last, subtreeLast(p->tail));
                appendBe32(last, p->tail);
                p->tail = 0;
                p->insertAt(0, last);
                return Status::success();
            }
            if (p->count() > 0) {
                if (wasLast && p->tail == 0)
                    return lastChanged(k - 1, std::string(p->keyRow(p->count() - 1)));
                return Status::success();
            }
        }
        if (k - 1 == 0) {
            // An empty index is an empty leaf root.
            p->leaf = true;
            p->data.clear();
            p->ends.clear();
            p->tail = p->prev = p->next = 0;
            return Status::success();
        }
    }
}

// A root node with a single child takes that child's content.
Status IndexTree::Impl::collapseRoot() {
    IndexNode* root = path[0].node;
    for (int depth = 0; !root->leaf && root->count() == 1 && root->tail == 0; ++depth) {
        if (depth > kMaxDepth) return corrupt(ref.rootPage, "index tree too deep");
        TAB_ASSIGN_OR_RETURN(IndexNode * c, load(root->child(0)));
        if (c == root) return corrupt(ref.rootPage, "index tree has a cycle");
        if (c->prev || c->next)
            return corrupt(c->number, "only child of the index root has siblings");
        root->leaf = c->leaf;
        root->data = std::move(c->data);
        root->ends = std::move(c->ends);
        root->tail = c->tail;
        root->dirty = true;
        c->freed = true;
        freed.push_back(c->number);
    }
    return Status::success();
}

Status IndexTree::Impl::ready() {
    TAB_TRY(usable());
    if (pending.empty()) return Status::success();
    std::string_view all(pendingBytes);
    auto at = [&](const Pending& p) { return all.substr(p.offset, p.length); };
    std::sort(pending.begin(), pending.end(), [&](const Pending& a, const Pending& b) {
        return a.head != b.head ? a.head < b.head : at(a) < at(b);
    });
    Status st = Status::success();
    for (size_t i = 0; i < pending.size() && st.ok();) st = removeRun(all, i);
    pending.clear();
    pendingBytes.clear();
    // Some of the batch may be applied: the tree is not to be used again.
    if (!st.ok()) broken = st.error();
    return st;
}

Status IndexTree::Impl::insertEntry(std::string_view e) {
    TAB_TRY(descend(e));
    IndexNode* leaf = path.back().node;
    const size_t i = path.back().pos;
    if (i < leaf->count() && leaf->entry(i) == e)
        return Error(Errc::Corrupt, "damaged index: the entry to add is already there (page " +
                                        std::to_string(leaf->number) + ")");
    Status st = [&]() -> Status {
        leaf->insertAt(i, e);
        leaf->dirty = true;
        if (i + 1 == leaf->count()) TAB_TRY(lastChanged(path.size() - 1, std::string(e)));
        return fixOverflow();
    }();
    if (!st.ok()) broken = st.error();
    return st;
}

// Removes pending[i] and the pending entries after it that are on the same
// leaf, in one pass over the leaf; `i` moves past them.
Status IndexTree::Impl::removeRun(std::string_view all, size_t& i) {
    auto at = [&](size_t k) { return all.substr(pending[k].offset, pending[k].length); };
    TAB_TRY(descend(at(i)));
    IndexNode* leaf = path.back().node;
    const size_t n = leaf->count();
    positions.clear();
    for (size_t p = path.back().pos; i < pending.size(); ++p, ++i) {
        std::string_view e = at(i);
        if (!positions.empty() && e > leaf->entry(n - 1)) break;
        while (p < n && leaf->entry(p) < e) ++p;
        if (p == n || leaf->entry(p) != e)
            return Error(Errc::Corrupt, "damaged index: the entry to remove is missing (page " +
                                            std::to_string(leaf->number) + ")");
        positions.push_back(p);
    }
    const bool wasLast = positions.back() + 1 == n;
    leaf->eraseMany(positions);
    leaf->dirty = true;
    if (leaf->count() == 0) {
        if (path.size() == 1) return Status::success();
        TAB_TRY(removePage(path.size() - 1));
    } else if (wasLast) {
        TAB_TRY(lastChanged(path.size() - 1, std::string(leaf->entry(leaf->count() - 1))));
    }
    TAB_TRY(fixOverflow());
    return collapseRoot();
}

// Calls fn(row pointer) for the entries whose key is exactly `key`, in
// order, while it returns true.
template <class Fn>
Status IndexTree::Impl::scanKey(std::string_view key, Fn&& fn) {
    TAB_TRY(descend(key));
    IndexNode* leaf = path.back().node;
    size_t i = path.back().pos;
    std::unordered_set<uint32_t> seen{leaf->number};
    for (;;) {
        for (; i < leaf->count(); ++i) {
            std::string_view e = leaf->entry(i);
            if (e.substr(0, key.size()) != key) return Status::success();
            if (e.size() == key.size() + kRowPtr && !fn(be32(e.data() + key.size())))
                return Status::success();
        }
        if (!leaf->next) return Status::success();
        if (!seen.insert(leaf->next).second)
            return corrupt(leaf->next, "index leaf chain has a cycle");
        TAB_ASSIGN_OR_RETURN(leaf, load(leaf->next));
        if (!leaf->leaf) return corrupt(leaf->number, "index leaf chain reaches a node page");
        i = 0;
    }
}

Status IndexTree::Impl::encode(const IndexNode& node) {
    TAB_ASSIGN_OR_RETURN(uint8_t * pg, pager.modify(node.number));
    std::memset(pg, 0, format.pageSize);
    pg[0] = node.leaf ? kLeafType : kNodeType;
    pg[1] = 0x01;
    put32(pg + 4, ref.owner);
    put32(pg + kPrevAt, node.prev);
    put32(pg + kNextAt, node.next);
    put32(pg + kTailAt, node.leaf ? 0 : node.tail);
    const size_t n = node.count();
    const size_t prefix = n > 1 ? commonPrefix(node.key(0), node.key(n - 1)) : 0;
    put16(pg + kPrefixAt, static_cast<uint32_t>(prefix));
    pg[kFlagAt] = node.flag;
    size_t pos = 0;
    for (size_t i = 0; i < n; ++i) {
        std::string_view e = node.entry(i);
        if (i > 0) e.remove_prefix(prefix);
        if (pos + e.size() > capacity)
            return Error(Errc::Internal, "index page " + std::to_string(node.number) + " overfull");
        std::memcpy(pg + kEntriesAt + pos, e.data(), e.size());
        pos += e.size();
        pg[kBitmapAt + pos / 8] |= static_cast<uint8_t>(1u << (pos % 8));
    }
    put16(pg + 2, static_cast<uint32_t>(capacity - pos));
    return Status::success();
}

IndexTree::IndexTree(Pager& pager, const Format& format, IndexTreeRef ref)
    : m_impl(std::make_unique<Impl>(pager, format, ref)) {}

IndexTree::~IndexTree() = default;

Status IndexTree::insert(std::string_view key, uint32_t rowPointer) {
    TAB_TRY(m_impl->ready());
    std::string e(key);
    appendBe32(e, rowPointer);
    if (e.size() > kMaxEntry)
        return Error(Errc::InvalidArgument, "index key of " + std::to_string(key.size()) +
                                                " bytes is too long for an index page");
    return m_impl->insertEntry(e);
}

Status IndexTree::remove(std::string_view key, uint32_t rowPointer) {
    Impl& t = *m_impl;
    TAB_TRY(t.usable());
    if (t.pendingBytes.size() + key.size() + kRowPtr > UINT32_MAX) TAB_TRY(t.ready());
    const size_t offset = t.pendingBytes.size();
    t.pendingBytes.append(key);
    appendBe32(t.pendingBytes, rowPointer);
    uint64_t head = 0;
    for (size_t i = 0; i < 8; ++i)
        head = (head << 8) |
               (offset + i < t.pendingBytes.size() ? uint8_t(t.pendingBytes[offset + i]) : 0);
    t.pending.push_back(
        {head, static_cast<uint32_t>(offset), static_cast<uint32_t>(key.size() + kRowPtr)});
    return Status::success();
}

Result<bool> IndexTree::containsKey(std::string_view key) {
    TAB_TRY(m_impl->ready());
    bool found = false;
    TAB_TRY(m_impl->scanKey(key, [&](uint32_t) {
        found = true;
        return false;
    }));
    return found;
}

Result<std::vector<uint32_t>> IndexTree::rowsWithKey(std::string_view key) {
    TAB_TRY(m_impl->ready());
    std::vector<uint32_t> rows;
    TAB_TRY(m_impl->scanKey(key, [&](uint32_t row) {
        rows.push_back(row);
        return true;
    }));
    return rows;
}

Result<uint32_t> IndexTree::distinctKeys() {
    TAB_TRY(m_impl->ready());
    Impl& t = *m_impl;
    TAB_TRY(t.descend(std::string_view()));
    uint32_t number = t.path.back().node->number;
    std::unordered_set<uint32_t> seen;
    IndexNode scratch;
    std::string previous;
    bool any = false;
    uint32_t distinct = 0;
    while (number) {
        if (!seen.insert(number).second) return corrupt(number, "index leaf chain has a cycle");
        TAB_ASSIGN_OR_RETURN(const IndexNode* leaf, t.peek(number, scratch));
        if (!leaf->leaf) return corrupt(number, "index leaf chain reaches a node page");
        for (size_t i = 0; i < leaf->count(); ++i) {
            std::string_view k = leaf->key(i);
            if (any && k == previous) continue;
            previous.assign(k);
            any = true;
            ++distinct;
        }
        number = leaf->next;
    }
    return distinct;
}

Status IndexTree::flush() {
    TAB_TRY(m_impl->ready());
    Impl& t = *m_impl;
    Status st = [&]() -> Status {
        for (uint32_t number : t.freed) {
            TAB_TRY(mapRemove(t.pager, t.ref.usageMap, number));
            TAB_TRY(freePage(t.pager, number));
            t.nodes.erase(number);
        }
        t.freed.clear();
        // Pages before the pages that point to them: leaves, nodes, the root.
        std::vector<IndexNode*> order;
        for (auto& [number, node] : t.nodes)
            if (node->dirty) order.push_back(node.get());
        auto rank = [&](const IndexNode* n) {
            return n->number == t.ref.rootPage ? 2 : n->leaf ? 0 : 1;
        };
        std::sort(order.begin(), order.end(), [&](const IndexNode* a, const IndexNode* b) {
            return rank(a) != rank(b) ? rank(a) < rank(b) : a->number < b->number;
        });
        for (IndexNode* node : order) {
            TAB_TRY(t.encode(*node));
            node->dirty = false;
        }
        return Status::success();
    }();
    if (!st.ok()) t.broken = st.error();
    return st;
}

}  // namespace tab::jet::edit
