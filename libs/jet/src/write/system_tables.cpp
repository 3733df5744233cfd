#include "write/system_tables.h"

namespace tab::jet::write {

namespace {

constexpr uint8_t kFixed = 0x13, kVar = 0x12, kSid = 0x32;  // system column flags

Column col(const char* name, uint8_t type, uint16_t number, uint16_t varIndex, uint16_t fixedOffset,
           uint16_t length, uint8_t flags) {
    Column c;
    c.name = name;
    c.storedType = type;
    c.type = type == 0x11 ? ColumnType::Binary : static_cast<ColumnType>(type);
    c.number = number;
    c.varIndex = varIndex;
    c.fixedOffset = fixedOffset;
    c.length = length;
    c.flags = flags;
    c.fixed = flags & 0x01;
    c.sortOrder = 0x0409;
    c.size = c.type == ColumnType::Text ? length / 2u : length;
    return c;
}

RealIndex real(std::vector<uint16_t> columns, uint8_t flags) {
    RealIndex r;
    for (uint16_t n : columns) r.columns.push_back({n, true});
    r.flags = flags;
    return r;
}

Index logical(const char* name, uint32_t number, uint32_t realIndex, uint8_t type) {
    Index ix;
    ix.name = name;
    ix.number = number;
    ix.realIndex = realIndex;
    ix.indexType = type;
    return ix;
}

TableDef table(const char* name, uint8_t type, uint16_t maxColumns, uint16_t varColumns) {
    TableDef t;
    t.name = name;
    t.tableType = type;
    t.maxColumns = maxColumns;
    t.varColumns = varColumns;
    return t;
}

enum : uint8_t {
    kBool = 0x01,
    kByte = 0x02,
    kInt = 0x03,
    kLong = 0x04,
    kDate = 0x08,
    kBin = 0x09,
    kText = 0x0A,
    kOle = 0x0B,
    kMemo = 0x0C
};

}  // namespace

const double kCreationDate = 38143.546523784724;

std::vector<TableDef> systemTableDefs() {
    std::vector<TableDef> defs;
    // Column definitions in the order Access stores them: by name.
    TableDef o = table("MSysObjects", 0x53, 17, 11);
    o.columns = {col("Connect", kMemo, 9, 3, 0, 0, kVar),
                 col("Database", kMemo, 8, 2, 0, 0, kVar),
                 col("DateCreate", kDate, 4, 1, 10, 8, kFixed),
                 col("DateUpdate", kDate, 5, 1, 18, 8, kFixed),
                 col("Flags", kLong, 7, 2, 26, 4, kFixed),
                 col("ForeignName", kText, 10, 4, 0, 510, kVar),
                 col("Id", kLong, 0, 0, 0, 4, kFixed),
                 col("Lv", kOle, 13, 7, 0, 0, kVar),
                 col("LvExtra", kOle, 16, 10, 0, 0, kVar),
                 col("LvModule", kOle, 15, 9, 0, 0, kVar),
                 col("LvProp", kOle, 14, 8, 0, 0, kVar),
                 col("Name", kText, 2, 0, 0, 510, kVar),
                 col("Owner", kBin, 6, 1, 0, 510, kSid),
                 col("ParentId", kLong, 1, 0, 4, 4, kFixed),
                 col("RmtInfoLong", kOle, 12, 6, 0, 0, kVar),
                 col("RmtInfoShort", kBin, 11, 5, 0, 510, kVar),
                 col("Type", kInt, 3, 1, 8, 2, kFixed)};
    o.realIndexes = {real({1, 2}, 0x81), real({0}, 0x81)};
    o.indexes = {logical("Id", 1, 1, 1), logical("ParentIdName", 0, 0, 0)};
    defs.push_back(o);

    TableDef a = table("MSysACEs", 0x53, 4, 1);
    a.columns = {col("ACM", kLong, 2, 1, 4, 4, kFixed),
                 col("FInheritable", kBool, 3, 1, 0, 1, kFixed),
                 col("ObjectId", kLong, 0, 0, 0, 4, kFixed), col("SID", kBin, 1, 0, 7, 510, kSid)};
    a.realIndexes = {real({0}, 0x88)};
    a.indexes = {logical("ObjectId", 0, 0, 0)};
    defs.push_back(a);

    TableDef q = table("MSysQueries", 0x53, 8, 4);
    q.columns = {
        col("Attribute", kByte, 1, 0, 4, 1, kFixed), col("Expression", kMemo, 5, 3, 0, 0, kVar),
        col("Flag", kInt, 6, 4, 5, 2, kFixed),       col("LvExtra", kLong, 7, 4, 7, 4, kFixed),
        col("Name1", kText, 3, 1, 0, 510, kVar),     col("Name2", kText, 4, 2, 0, 510, kVar),
        col("ObjectId", kLong, 0, 0, 0, 4, kFixed),  col("Order", kBin, 2, 0, 0, 510, kVar)};
    q.realIndexes = {real({0, 1, 2}, 0x81)};
    q.indexes = {logical("ObjectIdAttribute", 0, 0, 1)};
    defs.push_back(q);

    TableDef r = table("MSysRelationships", 0x53, 8, 5);
    r.columns = {col("ccolumn", kLong, 2, 1, 4, 4, kFixed),
                 col("grbit", kLong, 1, 1, 0, 4, kFixed),
                 col("icolumn", kLong, 3, 1, 8, 4, kFixed),
                 col("szColumn", kText, 5, 2, 0, 510, kVar),
                 col("szObject", kText, 4, 1, 0, 510, kVar),
                 col("szReferencedColumn", kText, 7, 4, 0, 510, kVar),
                 col("szReferencedObject", kText, 6, 3, 0, 510, kVar),
                 col("szRelationship", kText, 0, 0, 0, 510, kVar)};
    r.realIndexes = {real({0}, 0x82), real({4}, 0x82), real({6}, 0x82)};
    r.indexes = {logical("szObject", 1, 1, 0), logical("szReferencedObject", 2, 2, 0),
                 logical("szRelationship", 0, 0, 0)};
    defs.push_back(r);

    // Access's project storage; Access fills it when it first opens the file.
    TableDef ao = table("MSysAccessObjects", 0x4E, 2, 1);
    ao.columns = {col("Data", 0x11, 0, 0, 0, 3992, 0x03), col("ID", kLong, 1, 0, 0, 4, 0x02)};
    ao.realIndexes = {real({1}, 0x89)};
    ao.indexes = {logical("AOIndex", 0, 0, 1)};
    defs.push_back(ao);
    return defs;
}

std::string sidBytes(int which) {
    static const unsigned char kLong[] = {
        0xA4, 0xF7, 0x46, 0x67, 0xE1, 0x71, 0x67, 0xEE, 0xD7, 0xB1, 0x0F, 0x8F, 0xFE, 0xEF, 0x76,
        0xFF, 0xAA, 0xE3, 0x66, 0x51, 0x05, 0xBD, 0xD2, 0x9D, 0x4D, 0x4B, 0x39, 0x52, 0xD9, 0xFB,
        0x9A, 0x07, 0x66, 0x0C, 0x5B, 0xD2, 0xD8, 0x7D, 0xDD, 0xB3, 0x1E, 0x65, 0x90, 0x19, 0x00,
        0x94, 0x89, 0xC2, 0x3C, 0x25, 0x6A, 0xCF, 0xDB, 0x34, 0x9A, 0x57, 0xAF, 0x50, 0xC5, 0x14,
        0x9A, 0x98, 0x30, 0xE6, 0x2C, 0x35, 0x55, 0x3F, 0x0E, 0x95, 0xCF, 0xB6, 0xEC, 0xB5, 0x70,
        0xB2, 0xF0, 0xA9, 0x9B, 0x1C, 0xDB, 0xCE, 0x60, 0x74, 0x7B, 0x7B, 0x13, 0xCF, 0x1D, 0xAF,
        0xC3, 0xD6, 0x18, 0x5F, 0x9C, 0x5B, 0xE4, 0xE8, 0x7E, 0x37, 0xED, 0xB3};
    switch (which) {
        case 0:
            return "\xA6\x33";
        case 1:
            return "\xA7\x31";
        case 2:
            return "\xA7\x33";
        case 3:
            return "\xA7\x36";
        default:
            return std::string(reinterpret_cast<const char*>(kLong), sizeof kLong);
    }
}

namespace {
constexpr int kAdmin = 0, kA733 = 2, kA736 = 3, kLongSid = 4;
constexpr int32_t kFull = 1048575;
}  // namespace

std::vector<AceRow> containerAces(int32_t id) {
    switch (id) {
        case kTablesId:
            return {{id, kA736, 983294, true},
                    {id, kAdmin, 1048319, true},
                    {id, kLongSid, 1048319, true},
                    {id, kA733, 1048319, true}};
        case kDatabasesId:
            return {{id, kAdmin, 393216, false}};
        case kRelationshipsId:
            return {{id, kA736, 983294, true},
                    {id, kAdmin, 393217, false},
                    {id, kLongSid, kFull, true},
                    {id, kA733, kFull, true}};
        case kMSysDbId:
            return {
                {id, kAdmin, 393230, false}, {id, kA733, 14, false}, {id, kLongSid, 393230, false}};
        default:  // the Access containers (Forms, Reports, ...)
            return {{id, kA733, kFull, true},
                    {id, kLongSid, kFull, true},
                    {id, kAdmin, kFull, true},
                    {id, kA736, kFull, true}};
    }
}

std::vector<AceRow> systemTableAces(int32_t id, const std::string& name) {
    if (name == "MSysAccessObjects")
        return {
            {id, kAdmin, kFull, false}, {id, kLongSid, kFull, false}, {id, kA733, kFull, false}};
    if (name == "MSysACEs") return {{id, kAdmin, 393216, false}, {id, kLongSid, 393300, false}};
    if (name == "MSysObjects")
        return {{id, kAdmin, 393216, false}, {id, kLongSid, 393300, false}, {id, kA733, 20, false}};
    int32_t admin = name == "MSysRelationships" ? 917504 : 393216;
    return {{id, kAdmin, admin, false}, {id, kLongSid, 393236, false}, {id, kA733, 20, false}};
}

std::vector<AceRow> userTableAces(int32_t id) {
    // One full-rights entry per security id that has rights on the Tables container.
    std::vector<AceRow> rows;
    for (const AceRow& r : containerAces(kTablesId)) rows.push_back({id, r.sid, kFull, false});
    return rows;
}

}  // namespace tab::jet::write
