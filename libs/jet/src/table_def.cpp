// Table definition decoding. The TDEF may span several pages; it is first
// assembled into one buffer, then parsed with every structure bounds-checked
// against the recorded definition length.
#include "tabulary/jet/table_def.h"

#include <algorithm>
#include <set>

#include "tabulary/base/byte_reader.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/base/text_codec.h"
#include "tabulary/jet/page_source.h"

namespace tab::jet {

namespace {

constexpr size_t kMaxTdefPages = 256;
constexpr uint32_t kMaxColumns = 4096;
constexpr uint32_t kMaxIndexes = 1024;

bool isKnownType(uint8_t t) {
    return (t >= 0x01 && t <= 0x0C) || t == 0x0F || t == 0x10 || t == 0x12 || t == 0x13 ||
           t == 0x14;
}

struct Parser {
    Bytes buf;
    const Format& fmt;
    uint32_t page;
    uint16_t codePage;
    size_t pos = 0;

    Error bad(const std::string& what) const { return corrupt(page, "table definition: " + what); }

    Result<std::string> name() {
        size_t len;
        if (fmt.nameLengthSize == 1) {
            auto l = readU8(buf, pos);
            if (!l) return bad("name length outside the definition");
            len = *l;
            pos += 1;
        } else {
            auto l = readU16Le(buf, pos);
            if (!l) return bad("name length outside the definition");
            len = *l;
            pos += 2;
        }
        auto bytes = subspan(buf, pos, len);
        if (!bytes) return bad("name outside the definition");
        pos += len;
        if (fmt.jet3) return codePageToUtf8(*bytes, codePage);
        return decodeJetText(*bytes);
    }
};

}  // namespace

int TableDef::findColumn(std::string_view n) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (equalsIgnoringCase(columns[i].name, n)) return static_cast<int>(i);
    return -1;
}

const Column* TableDef::columnByNumber(uint16_t number) const {
    for (const auto& c : columns)
        if (c.number == number) return &c;
    return nullptr;
}

Result<TableDef> readTableDef(PageSource& pages, const Format& format, uint32_t page,
                              uint16_t defaultCodePage) {
    std::vector<uint8_t> buf;
    std::set<uint32_t> seen;
    uint32_t next = page;
    while (next != 0) {
        if (!seen.insert(next).second) return corrupt(next, "table definition pages form a cycle");
        if (seen.size() > kMaxTdefPages) return corrupt(page, "table definition chain too long");
        auto p = pages.page(next);
        if (!p.ok()) return p.error();
        const Page& pg = **p;
        if (pg.size() < 8 || pg[0] != 0x02)
            return corrupt(next, "expected a table definition page");
        if (buf.empty())
            buf.insert(buf.end(), pg.begin(), pg.end());
        else
            buf.insert(buf.end(), pg.begin() + 8, pg.end());
        next = u32At(pg.data() + 4);
    }
    return decodeTableDef(buf, format, page, defaultCodePage);
}

Result<TableDef> decodeTableDef(std::span<const uint8_t> raw, const Format& f, uint32_t page,
                                uint16_t defaultCodePage) {
    TableDef t;
    t.tdefPage = page;
    auto tdefLen = readU32Le(raw, 8);
    if (!tdefLen) return corrupt(page, "table definition too short");
    // tdef_len counts the bytes of the first page too; be lenient if it is short.
    size_t limit = std::min<size_t>(raw.size(), std::max<size_t>(*tdefLen, f.tdefHeaderSize));
    Parser p{raw.first(limit), f, page, defaultCodePage};
    Bytes b = p.buf;
    if (b.size() < f.tdefHeaderSize) return p.bad("header truncated");

    t.rowCount = *readU32Le(b, f.tdefRowCount);
    t.lastAutoNumber = *readU32Le(b, f.tdefAutoNumber);
    if (!f.jet3) t.lastComplexAutoNumber = *readU32Le(b, 0x1C);
    t.tableType = b[f.tdefTableType];
    t.maxColumns = *readU16Le(b, f.tdefMaxCols);
    t.varColumns = *readU16Le(b, f.tdefVarCols);
    uint32_t numCols = *readU16Le(b, f.tdefNumCols);
    uint32_t numIdx = *readU32Le(b, f.tdefNumIdx);
    uint32_t numRealIdx = *readU32Le(b, f.tdefNumRealIdx);
    t.ownedPages = *readU32Le(b, f.tdefOwnedPages);
    t.freePages = *readU32Le(b, f.tdefFreePages);

    if (numCols > kMaxColumns) return p.bad("implausible column count");
    if (numIdx > kMaxIndexes || numRealIdx > kMaxIndexes) return p.bad("implausible index count");

    t.tdefLength = *tdefLen;
    p.pos = f.tdefHeaderSize;
    if (!inBounds(b.size(), p.pos, size_t{numRealIdx} * f.realIdxCountBlock))
        return p.bad("index blocks outside the definition");
    std::vector<uint32_t> uniqueCounts(numRealIdx);
    for (uint32_t i = 0; i < numRealIdx; ++i)
        uniqueCounts[i] = *readU32Le(b, p.pos + size_t{i} * f.realIdxCountBlock + 4);
    p.pos += size_t{numRealIdx} * f.realIdxCountBlock;

    if (!inBounds(b.size(), p.pos, size_t{numCols} * f.columnDefSize))
        return p.bad("column definitions outside the definition");
    t.columns.resize(numCols);
    for (uint32_t i = 0; i < numCols; ++i) {
        const uint8_t* c = b.data() + p.pos + size_t{i} * f.columnDefSize;
        Column& col = t.columns[i];
        col.storedType = c[0];
        col.type = isKnownType(c[0]) ? static_cast<ColumnType>(c[0]) : ColumnType::Binary;
        col.number = u16At(c + f.colNumber);
        col.varIndex = u16At(c + f.colVarIndex);
        col.flags = c[f.colFlags];
        if (!f.jet3) col.extFlags = c[f.colFlags + 1];
        col.fixedOffset = u16At(c + f.colFixedOffset);
        col.length = u16At(c + f.colLength);
        const uint8_t* misc = c + f.colMisc;
        if (col.type == ColumnType::Decimal) {
            col.precision = misc[0];
            col.scale = misc[1];
        } else if (col.type == ColumnType::Text || col.type == ColumnType::Memo) {
            col.sortOrder = u16At(misc);
            if (f.jet3)
                col.codePage = u16At(misc + 2);
            else
                col.sortVersion = misc[3];
        } else if (col.type == ColumnType::Complex) {
            col.complexId = u32At(misc);
        }
        col.size = (col.type == ColumnType::Text && !f.jet3) ? col.length / 2u : col.length;
        col.fixed = col.flags & 0x01;
        col.autoNumber = col.flags & 0x04;
        col.autoGuid = col.flags & 0x40;
        col.hyperlink = (col.flags & 0x80) && col.type == ColumnType::Memo;
        col.compressedUnicode = !f.jet3 && (col.extFlags & 0x01);
        col.calculated = !f.jet3 && (col.extFlags & 0xC0) == 0xC0;
    }
    p.pos += size_t{numCols} * f.columnDefSize;
    for (auto& col : t.columns) {
        auto n = p.name();
        if (!n.ok()) return n.error();
        col.name = std::move(*n);
    }
    {
        std::set<uint16_t> numbers;
        for (const auto& col : t.columns)
            if (!numbers.insert(col.number).second) return p.bad("duplicate column number");
    }

    // Real indexes.
    if (!inBounds(b.size(), p.pos, size_t{numRealIdx} * f.realIdxDefSize))
        return p.bad("index definitions outside the definition");
    t.realIndexes.resize(numRealIdx);
    for (uint32_t i = 0; i < numRealIdx; ++i) {
        const uint8_t* r = b.data() + p.pos + size_t{i} * f.realIdxDefSize;
        const uint8_t* cols = f.jet3 ? r : r + 4;
        RealIndex& ri = t.realIndexes[i];
        for (int k = 0; k < 10; ++k) {
            uint16_t num = u16At(cols + 3 * k);
            if (num == 0xFFFF) continue;
            ri.columns.push_back({num, (cols[3 * k + 2] & 0x01) != 0});
        }
        ri.usageMap = u32At(cols + 30);
        ri.rootPage = u32At(cols + 34);
        ri.flags = f.jet3 ? cols[38] : r[0x2E];
        ri.uniqueCount = uniqueCounts[i];
    }
    p.pos += size_t{numRealIdx} * f.realIdxDefSize;

    // Logical indexes.
    if (!inBounds(b.size(), p.pos, size_t{numIdx} * f.logicalIdxDefSize))
        return p.bad("index definitions outside the definition");
    std::vector<Index> logical(numIdx);
    for (uint32_t i = 0; i < numIdx; ++i) {
        const uint8_t* l = b.data() + p.pos + size_t{i} * f.logicalIdxDefSize;
        if (!f.jet3) l += 4;
        Index& ix = logical[i];
        ix.number = u32At(l);
        ix.realIndex = u32At(l + 4);
        ix.indexType = l[f.jet3 ? 0x13 : 0x13];
        ix.relationSide = l[8];
        ix.relatedIndex = u32At(l + 9);
        ix.relatedTable = u32At(l + 13);
        if (ix.indexType == 2) {
            ix.cascadeUpdates = l[17] & 0x01;
            ix.cascadeDeletes = l[18] & 0x01;
            ix.cascadeNull = l[18] & 0x02;
        }
    }
    p.pos += size_t{numIdx} * f.logicalIdxDefSize;
    for (auto& ix : logical) {
        auto n = p.name();
        if (!n.ok()) return n.error();
        ix.name = std::move(*n);
    }
    // Long-value column maps (Jet4/ACE), up to the terminator; a list that
    // does not parse is left out (only writers need it).
    if (!f.jet3) {
        size_t pos = p.pos;
        while (pos + 2 <= b.size()) {
            uint16_t num = u16At(b.data() + pos);
            if (num == 0xFFFF || pos + 10 > b.size()) break;
            t.longValueMaps.push_back({num, u32At(b.data() + pos + 2), u32At(b.data() + pos + 6)});
            pos += 10;
        }
    }
    for (auto& ix : logical) {
        if (ix.realIndex >= numRealIdx) continue;  // dangling: ignore the index
        bool columnsKnown = true;
        for (const auto& ic : t.realIndexes[ix.realIndex].columns)
            columnsKnown = columnsKnown && t.columnByNumber(ic.columnNumber);
        if (columnsKnown) t.indexes.push_back(std::move(ix));
    }
    return t;
}

}  // namespace tab::jet
