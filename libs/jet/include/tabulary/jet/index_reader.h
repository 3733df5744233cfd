// Lookups through a table's indexes: equality and range over the leading
// columns of a real index, yielding row ids in index order. Bounds are encoded
// the way the index stores its keys, so a lookup compares bytes only.
//
// What callers must know:
// * Text keys follow Access's collation: case-insensitive, some characters
//   ignored, trailing spaces dropped, only the first 255 characters. Text
//   equality therefore returns a superset of the byte-equal rows, and text
//   ranges are ranges in that collation, not in UTF-8 order; recheck the
//   predicate on the rows.
// * An index with the ignore-nulls flag has no entries for rows whose indexed
//   columns are all Null.
// * Values that cannot be encoded (unknown collation, characters beyond the
//   known code tables, types without a key form) give Errc::Unsupported: fall
//   back to a scan.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "tabulary/base/byte_reader.h"
#include "tabulary/base/error.h"
#include "tabulary/jet/format.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/table_def.h"
#include "tabulary/jet/value.h"

namespace tab::jet {

struct IndexPageView;

class Database;

// How Text and Memo values of one column are turned into keys.
enum class TextCollation : uint8_t {
    GeneralLegacy,  // "General" before Access 2010
    General2010,    // "General" of Access 2010 and later
    Unknown,        // other sort orders and Jet3: no text keys
};

TextCollation textCollation(const Database& db, const Column& column);

// One column's key segment: the flag byte and the value bytes. Null is a
// valid value (first in ascending order, last in descending); for Yes/No it
// means No.
Result<std::string> encodeKeySegment(const Column& column, const Value& value, bool ascending,
                                     JetVersion version, TextCollation collation);

// Key of the first values.size() columns of `index`, as stored in its entries.
Result<std::string> encodeIndexKey(const Database& db, const TableDef& table,
                                   const RealIndex& index, std::span<const Value> values);

// One end of a range: values for the leading index columns (index column
// order). Fewer values than columns bound a prefix of the key.
struct KeyBound {
    std::vector<Value> values;
    bool inclusive = true;
};

// A range in index order: for a descending column `first` holds the larger
// value. Absent ends are open.
struct KeyRange {
    std::optional<KeyBound> first;
    std::optional<KeyBound> last;

    static KeyRange all() { return {}; }
    static KeyRange equal(std::vector<Value> values);
};

// Bound on one column's value, independent of the index direction.
struct ValueBound {
    Value value;
    bool inclusive = true;
};

// Equality on the first equal.size() columns and optionally a value range on
// the next one, turned into a range in index order.
Result<KeyRange> columnRange(const RealIndex& index, std::vector<Value> equal,
                             std::optional<ValueBound> lower = std::nullopt,
                             std::optional<ValueBound> upper = std::nullopt);

// Streams the entries of one real index within a range. Pages are read one
// at a time; every page is checked for type, owner and layout, and the walk
// visits each page at most once.
class IndexCursor {
public:
    // Fails with Unsupported when a bound cannot be encoded.
    static Result<IndexCursor> open(Database& db, const TableDef& table, const RealIndex& index,
                                    const KeyRange& range = KeyRange::all());

    // Advances to the next entry in range; false at the end. After an error
    // the cursor stays at the end.
    Result<bool> next();

    // Row of the current entry: its first part, as TableCursor::rowId()
    // reports it. Not checked here; TableCursor::seek() checks it.
    RowId rowId() const { return m_rowId; }
    // Encoded key of the current entry (without the row pointer).
    Bytes key() const;

    // Index pages read so far.
    uint32_t pagesRead() const { return m_pagesRead; }

private:
    IndexCursor(Database& db, uint32_t owner, uint32_t root)
        : m_db(&db), m_owner(owner), m_root(root) {}

    struct Page {
        uint32_t number = 0;
        std::shared_ptr<const IndexPageView> view;  // shared with the database's cache
        bool empty = false;                         // nothing at or after the start
        bool leaf() const;
        uint32_t next() const;
        size_t count() const;
    };

    Status load(uint32_t number, Page& out);
    Status descend();
    Result<bool> advance();
    bool beforeFirst(Bytes key) const;
    bool afterLast(Bytes key) const;
    Bytes entry(size_t i) const;

    Database* m_db;
    uint32_t m_owner;
    uint32_t m_root;
    std::optional<std::string> m_first, m_last;
    bool m_firstInclusive = true, m_lastInclusive = true;

    Page m_page;
    size_t m_pos = 0;
    bool m_started = false, m_done = false;
    std::unordered_set<uint32_t> m_visited;  // leaves walked
    std::string m_previous;                  // previous entry, to check the order
    RowId m_rowId = 0;
    uint32_t m_pagesRead = 0;
};

}  // namespace tab::jet
