#include "write/table_definition.h"

#include <algorithm>
#include <cstring>

#include "tabulary/base/text_codec.h"
#include "write/page_file.h"

namespace tab::jet::write {

namespace {

constexpr uint32_t kMagic = 1625;       // constant in every column and logical index block
constexpr uint32_t kIndexMagic = 1923;  // constant in every real-index block

void appendName(std::string& s, const std::string& utf8) {
    std::u16string u = utf8ToUtf16(utf8);
    append16(s, static_cast<uint32_t>(2 * u.size()));
    for (char16_t ch : u) append16(s, ch);
}

}  // namespace

std::string buildTdef(const TdefContent& content) {
    const TableDef& t = *content.table;
    std::string s(63, '\0');
    auto* h = reinterpret_cast<uint8_t*>(s.data());
    h[0] = 0x02;
    h[1] = 0x01;
    put32(h + 0x0C, kMagic);
    put32(h + 0x10, t.rowCount);
    put32(h + 0x14, t.lastAutoNumber);
    h[0x18] = 0x01;  // Access needs it for autonumbering
    h[0x28] = t.tableType;
    put16(h + 0x29, t.maxColumns);
    put16(h + 0x2B, t.varColumns);
    put16(h + 0x2D, static_cast<uint32_t>(t.columns.size()));
    put32(h + 0x2F, static_cast<uint32_t>(t.indexes.size()));
    put32(h + 0x33, static_cast<uint32_t>(t.realIndexes.size()));
    put32(h + 0x37, t.ownedPages);
    put32(h + 0x3B, t.freePages);

    for (size_t i = 0; i < t.realIndexes.size(); ++i) {
        append32(s, 0);
        append32(s, i < content.uniqueCounts.size() ? content.uniqueCounts[i] : 0);
        append32(s, 0);
    }
    for (const Column& c : t.columns) {
        std::string b(25, '\0');
        auto* p = reinterpret_cast<uint8_t*>(b.data());
        p[0] = c.storedType ? c.storedType : static_cast<uint8_t>(c.type);
        put32(p + 1, kMagic);
        put16(p + 5, c.number);
        put16(p + 7, c.varIndex);
        if (content.columnOrdinals) put16(p + 9, c.number + 1u);
        if (c.type == ColumnType::Decimal) {
            p[11] = c.precision;
            p[12] = c.scale;
        } else {
            const bool text = c.type == ColumnType::Text || c.type == ColumnType::Memo;
            put16(p + 11, text ? c.sortOrder : 0x0409);
            if (text) p[14] = c.sortVersion;
        }
        p[15] = c.flags;
        p[16] = c.extFlags;
        put16(p + 21, c.fixedOffset);
        put16(p + 23, c.length);
        s += b;
    }
    for (const Column& c : t.columns) appendName(s, c.name);
    for (const RealIndex& ri : t.realIndexes) {
        std::string b(52, '\0');
        auto* p = reinterpret_cast<uint8_t*>(b.data());
        put32(p, kIndexMagic);
        for (size_t k = 0; k < 10; ++k) {
            uint8_t* col = p + 4 + 3 * k;
            if (k < ri.columns.size()) {
                put16(col, ri.columns[k].columnNumber);
                col[2] = ri.columns[k].ascending ? 0x01 : 0x00;
            } else {
                put16(col, 0xFFFF);
            }
        }
        put32(p + 34, ri.usageMap);
        put32(p + 38, ri.rootPage);
        p[46] = ri.flags;
        s += b;
    }
    for (const Index& ix : t.indexes) {
        std::string b(28, '\0');
        auto* p = reinterpret_cast<uint8_t*>(b.data());
        put32(p, kMagic);
        put32(p + 4, ix.number);
        put32(p + 8, ix.realIndex);
        if (ix.foreignKey()) {
            p[12] = ix.relationSide;
            put32(p + 13, ix.relatedIndex);
            put32(p + 17, ix.relatedTable);
            p[21] = ix.cascadeUpdates ? 0x01 : 0x00;
            p[22] =
                static_cast<uint8_t>((ix.cascadeDeletes ? 0x01 : 0) | (ix.cascadeNull ? 0x02 : 0));
        } else {
            put32(p + 13, 0xFFFFFFFFu);  // no related index: not a relationship
            p[21] = 0x04;  // what Access writes in the cascade fields of plain indexes
            p[22] = 0x04;
        }
        p[23] = ix.indexType;
        s += b;
    }
    for (const Index& ix : t.indexes) appendName(s, ix.name);
    for (const LongValueMaps& lv : content.longValueMaps) {
        append16(s, lv.columnNumber);
        append32(s, lv.owned);
        append32(s, lv.free);
    }
    append16(s, 0xFFFF);
    put32(reinterpret_cast<uint8_t*>(s.data()) + 8, static_cast<uint32_t>(s.size()));
    return s;
}

size_t tdefPageCount(size_t bytes) {
    if (bytes <= kPageSize) return 1;
    return 1 + (bytes - kPageSize + (kPageSize - 8) - 1) / (kPageSize - 8);
}

std::vector<std::vector<uint8_t>> splitTdef(const std::string& tdef,
                                            const std::vector<uint32_t>& pages) {
    std::vector<std::vector<uint8_t>> out;
    size_t pos = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        std::vector<uint8_t> pg(kPageSize, 0);
        size_t used;
        if (i == 0) {
            used = std::min(tdef.size(), size_t{kPageSize});
            std::memcpy(pg.data(), tdef.data(), used);
            pos = used;
        } else {
            pg[0] = 0x02;
            pg[1] = 0x01;
            size_t n = std::min(tdef.size() - pos, size_t{kPageSize - 8});
            std::memcpy(pg.data() + 8, tdef.data() + pos, n);
            pos += n;
            used = 8 + n;
        }
        put16(pg.data() + 2,
              used + 8 <= kPageSize ? static_cast<uint32_t>(kPageSize - used - 8) : 0);
        put32(pg.data() + 4, i + 1 < pages.size() ? pages[i + 1] : 0);
        out.push_back(std::move(pg));
    }
    return out;
}

}  // namespace tab::jet::write
