#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <unordered_set>

#include "tabulary/base/calendar.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/base/rc4.h"
#include "tabulary/base/text_codec.h"
#include "tabulary/jet/index_reader.h"
#include "tabulary/jet/writer.h"
#include "write/data_page.h"
#include "write/index_builder.h"
#include "write/page_file.h"
#include "write/properties_writer.h"
#include "write/row_encoder.h"
#include "write/system_tables.h"
#include "write/table_definition.h"
#include "write/table_layout.h"
#include "write/usage_map.h"

namespace tab::jet {

using namespace write;

namespace {

constexpr size_t kGlobalMapInlineBytes = 4004;  // page 1 holds row 1 beside it

Error invalid(const std::string& what) {
    return Error(Errc::InvalidArgument, what);
}

// Names that differ only in case, in any script, are one name.
std::string nameKey(std::string_view s) {
    return foldedCase(s);
}

bool isLong(const Column& c) {
    return c.type == ColumnType::Memo || c.type == ColumnType::Ole;
}

// Pages and rows of a Memo/OLE column.
struct LongColumn {
    uint16_t number = 0;
    DataPage page;
    std::vector<uint32_t> pages;
};

struct IndexState {
    IndexEntries entries;
    std::unordered_set<std::string> keys;  // unique indexes: keys seen so far
    bool unique = false, required = false, ignoreNulls = false;
    std::string name;               // of the first logical index on it, for messages
    std::vector<size_t> positions;  // column positions of its key, in key order
};

struct TableState {
    TableDef def;
    int32_t objectId = 0;
    bool system = false;
    std::vector<uint32_t> dataPages;
    DataPage page;
    std::vector<IndexState> indexes;  // per real index
    std::map<uint16_t, LongColumn> longs;
    uint32_t mapPage = 0;
    uint64_t rows = 0;
    std::string properties;  // LvProp of the catalogue row
};

Status flushPage(DataPage& page, PageFile& file) {
    return page.open() ? page.flush(file) : Status();
}

class LongStore : public LongValueStore {
public:
    LongStore(TableState& t, PageFile& f) : m_t(t), m_file(f) {}

    Result<std::string> store(const Column& c, const std::string& data) override {
        LongColumn& lc = m_t.longs.at(c.number);
        auto len = static_cast<uint32_t>(data.size());
        if (data.size() <= kMaxLvalRow) {
            TAB_ASSIGN_OR_RETURN(uint32_t ptr, place(lc, data));
            return externalLongRef(len, true, ptr);
        }
        // Every piece but the last fills a page of its own; the last may share one.
        size_t pieces = (data.size() + kChainPiece - 1) / kChainPiece;
        std::vector<uint32_t> fresh(pieces - 1);
        for (uint32_t& p : fresh) {
            p = m_file.allocate();
            lc.pages.push_back(p);
        }
        std::string last(4, '\0');
        last.append(data, (pieces - 1) * kChainPiece, std::string::npos);
        TAB_ASSIGN_OR_RETURN(uint32_t next, place(lc, last));
        for (size_t i = pieces - 1; i-- > 0;) {
            std::string piece;
            append32(piece, next);
            piece.append(data, i * kChainPiece, kChainPiece);
            DataPage pg;
            pg.start(fresh[i], kLvalOwner);
            pg.add(piece);
            TAB_TRY(pg.flush(m_file));
            next = fresh[i] << 8;
        }
        return externalLongRef(len, false, next);
    }

private:
    Result<uint32_t> place(LongColumn& lc, const std::string& row) {
        if (!lc.page.fits(row.size())) {
            TAB_TRY(flushPage(lc.page, m_file));
            uint32_t p = m_file.allocate();
            lc.pages.push_back(p);
            lc.page.start(p, kLvalOwner);
        }
        uint8_t slot = lc.page.add(row);
        return (lc.page.number() << 8) | slot;
    }

    TableState& m_t;
    PageFile& m_file;
};

double nowAsAccessDate() {
    using namespace std::chrono;
    double secs =
        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() / 1000.0;
    return secs / 86400.0 + 25569.0;
}

}  // namespace

struct DatabaseWriter::Impl {
    std::unique_ptr<PageFile> file;
    CreateOptions options;
    std::string path;
    std::vector<std::unique_ptr<TableState>> tables;
    std::vector<LinkSpec> links;
    bool finished = false;

    Result<size_t> addTable(TableDef def, bool system, uint32_t tdefPage);
    Status append(TableState& t, std::span<const Value> values);
    Status finish();
    Status writeTable(TableState& t);
    Status writeCatalog();
    Status writeHeader();
    bool aceFile() const { return options.format == FileFormat::Ace12; }
    JetVersion version() const { return aceFile() ? JetVersion::Ace12 : JetVersion::Jet4; }
    std::vector<uint8_t> headerPage() const;
};

// ---------------------------------------------------------------------------

Result<size_t> DatabaseWriter::Impl::addTable(TableDef def, bool system, uint32_t tdefPage) {
    auto t = std::make_unique<TableState>();
    t->system = system;
    def.tdefPage = tdefPage;
    t->objectId = static_cast<int32_t>(tdefPage);
    t->mapPage = file->allocate();
    // Map rows on the table's map page: owned, free, one per real index, two per long column.
    uint32_t row = 0;
    def.ownedPages = (t->mapPage << 8) | row++;
    def.freePages = (t->mapPage << 8) | row++;
    t->indexes.resize(def.realIndexes.size());
    for (size_t i = 0; i < def.realIndexes.size(); ++i) {
        RealIndex& ri = def.realIndexes[i];
        ri.rootPage = file->allocate();
        ri.usageMap = (t->mapPage << 8) | row++;
        IndexState& is = t->indexes[i];
        is.unique = ri.unique();
        is.required = ri.required();
        is.ignoreNulls = ri.ignoreNulls();
        for (const Index& ix : def.indexes) {
            if (ix.realIndex != i) continue;
            if (is.name.empty()) is.name = ix.name;
            if (ix.primaryKey()) is.unique = is.required = true;
        }
        for (const IndexColumn& ic : ri.columns) {
            size_t pos = 0;
            while (pos < def.columns.size() && def.columns[pos].number != ic.columnNumber) ++pos;
            if (pos == def.columns.size())
                return invalid("table \"" + def.name + "\": index refers to a missing column");
            is.positions.push_back(pos);
        }
    }
    // The long columns' maps follow, on further map pages when this one fills.
    for (const Column& c : def.columns)
        if (isLong(c)) t->longs[c.number].number = c.number;
    t->def = std::move(def);
    tables.push_back(std::move(t));
    return tables.size() - 1;
}

Status DatabaseWriter::Impl::append(TableState& t, std::span<const Value> input) {
    const TableDef& def = t.def;
    if (input.size() != def.columns.size())
        return invalid("table \"" + def.name + "\" has " + std::to_string(def.columns.size()) +
                       " columns, the row gives " + std::to_string(input.size()) + " values");
    std::vector<Value> values(input.size());
    uint32_t autoNumber = def.lastAutoNumber;
    for (size_t i = 0; i < input.size(); ++i) {
        const Column& c = def.columns[i];
        TAB_ASSIGN_OR_RETURN(values[i], coerceValue(c, input[i]));
        if (c.autoNumber && c.type == ColumnType::Long) {
            if (values[i].isNull()) {
                if (autoNumber == INT32_MAX)
                    return invalid("table \"" + def.name + "\": AutoNumber exhausted");
                values[i] = Value::integer(++autoNumber);
            } else if (values[i].asInt() > static_cast<int64_t>(autoNumber)) {
                autoNumber = static_cast<uint32_t>(values[i].asInt());
            }
        } else if (c.autoGuid && values[i].isNull()) {
            static thread_local std::mt19937_64 rng{std::random_device{}()};
            std::string g(16, '\0');
            for (char& b : g) b = static_cast<char>(rng() & 0xFF);
            g[7] = static_cast<char>((g[7] & 0x0F) | 0x40);  // version 4, stored little-endian
            g[8] = static_cast<char>((g[8] & 0x3F) | 0x80);
            values[i] = Value::guid(g);
        }
        if (c.required && values[i].isNull() && c.type != ColumnType::Boolean)
            return invalid("table \"" + def.name + "\": column \"" + c.name +
                           "\" is required but the row has no value");
    }
    // Index keys first: a duplicate or a missing key rejects the row before anything is written.
    std::vector<std::optional<std::string>> keys(def.realIndexes.size());
    for (size_t i = 0; i < def.realIndexes.size(); ++i) {
        const RealIndex& ri = def.realIndexes[i];
        IndexState& is = t.indexes[i];
        std::string key;
        bool allNull = true, anyNull = false;
        for (size_t k = 0; k < is.positions.size(); ++k) {
            const size_t pos = is.positions[k];
            const Column& c = def.columns[pos];
            bool null = values[pos].isNull() && c.type != ColumnType::Boolean;
            allNull = allNull && null;
            anyNull = anyNull || null;
            auto seg = encodeKeySegment(c, values[pos], ri.columns[k].ascending, version(),
                                        TextCollation::GeneralLegacy);
            if (!seg.ok())
                return invalid("table \"" + def.name + "\": column \"" + c.name +
                               "\" cannot be indexed: " + seg.error().message());
            key += *seg;
        }
        const std::string& name = is.name;
        if (is.required && anyNull)
            return invalid("table \"" + def.name + "\": index \"" + name +
                           "\" does not allow Null");
        if (allNull && is.ignoreNulls) continue;
        if (is.unique && !allNull && is.keys.count(key))
            return invalid("table \"" + def.name + "\": duplicate value in unique index \"" + name +
                           "\"");
        keys[i] = std::move(key);
    }
    TAB_ASSIGN_OR_RETURN(RowPlan plan, planRow(def, values));
    if (!t.page.fits(plan.size)) {
        TAB_TRY(flushPage(t.page, *file));
        uint32_t p = file->allocate();
        t.dataPages.push_back(p);
        t.page.start(p, def.tdefPage);
    }
    LongStore store(t, *file);
    TAB_ASSIGN_OR_RETURN(std::string row, packRow(def, plan, store));
    uint8_t slot = t.page.add(row);
    for (size_t i = 0; i < keys.size(); ++i) {
        if (!keys[i]) continue;
        IndexState& is = t.indexes[i];
        is.entries.add(*keys[i], t.page.number(), slot);
        if (is.unique) is.keys.insert(std::move(*keys[i]));
    }
    t.def.lastAutoNumber = autoNumber;
    ++t.rows;
    return {};
}

Status DatabaseWriter::Impl::writeTable(TableState& t) {
    TAB_TRY(flushPage(t.page, *file));
    TableDef& def = t.def;
    def.rowCount = static_cast<uint32_t>(t.rows);
    std::vector<std::string> rows;
    TAB_ASSIGN_OR_RETURN(std::string owned, buildUsageMap(t.dataPages, *file));
    rows.push_back(owned);
    std::vector<uint32_t> freePages;
    if (!t.dataPages.empty() && t.page.freeSpace() > 64) freePages.push_back(t.dataPages.back());
    TAB_ASSIGN_OR_RETURN(std::string freeMap, buildUsageMap(freePages, *file));
    rows.push_back(freeMap);
    TdefContent content;
    content.table = &def;
    content.columnOrdinals = !t.system;
    for (size_t i = 0; i < def.realIndexes.size(); ++i) {
        IndexState& is = t.indexes[i];
        is.entries.sort();
        is.keys.clear();
        TAB_ASSIGN_OR_RETURN(
            BuiltIndex built,
            buildIndexTree(is.entries, def.realIndexes[i].rootPage, def.tdefPage, *file));
        content.uniqueCounts.push_back(is.entries.distinctKeys());
        TAB_ASSIGN_OR_RETURN(std::string m, buildUsageMap(built.pages, *file));
        rows.push_back(m);
        is.entries = IndexEntries();
    }
    // Map rows fill the table's map page, then further ones; a long column's
    // two maps stay on one page.
    DataPage mapPage;
    mapPage.start(t.mapPage, 0);
    auto place = [&](const std::string& row) -> Result<uint32_t> {
        if (!mapPage.fits(row.size())) {
            TAB_TRY(mapPage.flush(*file));
            mapPage.start(file->allocate(), 0);
        }
        uint8_t slot = mapPage.add(row);
        return (mapPage.number() << 8) | slot;
    };
    for (const std::string& r : rows) TAB_TRY(place(r));
    for (auto& [number, lc] : t.longs) {
        std::vector<uint32_t> free;
        if (lc.page.open() && lc.page.freeSpace() > 64) free.push_back(lc.page.number());
        TAB_TRY(flushPage(lc.page, *file));
        std::sort(lc.pages.begin(), lc.pages.end());
        TAB_ASSIGN_OR_RETURN(std::string o, buildUsageMap(lc.pages, *file));
        TAB_ASSIGN_OR_RETURN(std::string f, buildUsageMap(free, *file));
        if (!mapPage.fits(o.size() + f.size() + 2)) {
            TAB_TRY(mapPage.flush(*file));
            mapPage.start(file->allocate(), 0);
        }
        LongValueMaps lv;
        lv.columnNumber = number;
        TAB_ASSIGN_OR_RETURN(lv.owned, place(o));
        TAB_ASSIGN_OR_RETURN(lv.free, place(f));
        content.longValueMaps.push_back(lv);
    }
    TAB_TRY(mapPage.flush(*file));

    std::string tdef = buildTdef(content);
    std::vector<uint32_t> pages{def.tdefPage};
    for (size_t i = 1; i < tdefPageCount(tdef.size()); ++i) pages.push_back(file->allocate());
    auto split = splitTdef(tdef, pages);
    for (size_t i = 0; i < pages.size(); ++i) TAB_TRY(file->write(pages[i], split[i].data()));
    return {};
}

Status DatabaseWriter::Impl::writeCatalog() {
    TableState& objects = *tables[0];
    TableState& aces = *tables[1];
    const double when = options.objectDate;
    auto col = [](const TableDef& def, const char* name) {
        int i = def.findColumn(name);
        return static_cast<size_t>(i);
    };
    auto object = [&](int32_t id, int32_t parent, const std::string& name, int16_t type,
                      int32_t flags, int ownerSid, const std::string& props,
                      const LinkSpec* link = nullptr) -> Status {
        const TableDef& d = objects.def;
        std::vector<Value> v(d.columns.size());
        v[col(d, "Id")] = Value::integer(id);
        v[col(d, "ParentId")] = Value::integer(parent);
        v[col(d, "Name")] = Value::text(name);
        v[col(d, "Type")] = Value::integer(type);
        v[col(d, "DateCreate")] = Value::dateTime(when);
        v[col(d, "DateUpdate")] = Value::dateTime(when);
        v[col(d, "Owner")] = Value::binary(sidBytes(ownerSid));
        v[col(d, "Flags")] = Value::integer(flags);
        if (!props.empty()) v[col(d, "LvProp")] = Value::binary(props);
        if (link) {
            if (!link->database.empty()) v[col(d, "Database")] = Value::text(link->database);
            if (!link->connect.empty()) v[col(d, "Connect")] = Value::text(link->connect);
            v[col(d, "ForeignName")] = Value::text(link->foreignName);
        }
        return append(objects, v);
    };
    auto ace = [&](const AceRow& r) -> Status {
        const TableDef& d = aces.def;
        std::vector<Value> v(d.columns.size());
        v[col(d, "ObjectId")] = Value::integer(r.objectId);
        v[col(d, "SID")] = Value::binary(sidBytes(r.sid));
        v[col(d, "ACM")] = Value::integer(r.rights);
        v[col(d, "FInheritable")] = Value::boolean(r.inheritable);
        return append(aces, v);
    };
    auto aceRows = [&](const std::vector<AceRow>& rows) -> Status {
        for (const AceRow& r : rows) TAB_TRY(ace(r));
        return {};
    };
    constexpr int kAdmin = 0, kEngine = 1;
    constexpr int32_t kSystemObject = static_cast<int32_t>(0x80000000u);
    constexpr int16_t kDocument = -32757;

    for (int32_t id : {kTablesId, kDatabasesId, kRelationshipsId}) {
        const char* name = id == kTablesId      ? "Tables"
                           : id == kDatabasesId ? "Databases"
                                                : "Relationships";
        TAB_TRY(object(id, kContainersParent, name, 3, kSystemObject, kEngine, {}));
        TAB_TRY(aceRows(containerAces(id)));
    }
    std::string dbProps = buildPropertyBlob(
        {textProperty("AccessVersion", aceFile() ? "09.50" : "08.50"), longProperty("Build", 6620)},
        {});
    TAB_TRY(object(kMSysDbId, kDatabasesId, "MSysDb", 2, kSystemObject, kAdmin, dbProps));
    TAB_TRY(aceRows(containerAces(kMSysDbId)));
    for (auto& t : tables) {
        if (!t->system) continue;
        bool jet = t->def.name != "MSysAccessObjects";
        TAB_TRY(object(t->objectId, kTablesId, t->def.name, 1, jet ? kSystemObject : 2,
                       jet ? kEngine : kAdmin, {}));
        TAB_TRY(aceRows(systemTableAces(t->objectId, t->def.name)));
    }
    // Access's own containers and documents get the synthetic ids from 0x80000000 on.
    int32_t synthetic = INT32_MIN;
    for (const char* name :
         {"DataAccessPages", "Forms", "Modules", "Reports", "Scripts", "SysRel"}) {
        TAB_TRY(object(synthetic, kContainersParent, name, 3, 0, kAdmin, {}));
        TAB_TRY(aceRows(containerAces(synthetic)));
        ++synthetic;
    }
    std::string title = path.substr(path.find_last_of('/') + 1);
    if (auto dot = title.find_last_of('.'); dot != std::string::npos && dot > 0) title.resize(dot);
    TAB_TRY(object(synthetic, kDatabasesId, "SummaryInfo", kDocument, 0, kAdmin,
                   buildPropertyBlob({textProperty("Title", title)}, {})));
    TAB_TRY(ace({synthetic, 2, 65536, false}));
    ++synthetic;
    TAB_TRY(object(synthetic, kDatabasesId, "UserDefined", kDocument, 0, kAdmin,
                   buildPropertyBlob({boolProperty("ReplicateProject", true)}, {})));
    TAB_TRY(ace({synthetic, 2, 65536, false}));
    for (auto& t : tables) {
        if (t->system) continue;
        TAB_TRY(object(t->objectId, kTablesId, t->def.name, 1, 0, kAdmin, t->properties));
        TAB_TRY(aceRows(userTableAces(t->objectId)));
    }
    // Links own no pages: their ids follow the synthetic ones.
    for (const LinkSpec& l : links) {
        ++synthetic;
        TAB_TRY(object(synthetic, kTablesId, l.name, l.odbc ? 4 : 6, 0, kAdmin, {}, &l));
        TAB_TRY(aceRows(userTableAces(synthetic)));
    }
    return {};
}

std::vector<uint8_t> DatabaseWriter::Impl::headerPage() const {
    std::vector<uint8_t> p(kPageSize, 0);
    p[1] = 0x01;
    std::memcpy(p.data() + 4, aceFile() ? "Standard ACE DB" : "Standard Jet DB", 15);
    p[0x14] = aceFile() ? 0x02 : 0x01;
    static const uint8_t kConstant[24] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00,
                                          0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
                                          0x04, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00};
    std::memcpy(p.data() + 0x18, kConstant, sizeof kConstant);
    put16(p.data() + 0x3C, 1252);
    // Password: UTF-16LE padded to 40 bytes, XORed with the creation day.
    auto day = static_cast<uint32_t>(static_cast<int32_t>(std::floor(kCreationDate)));
    std::u16string pw = utf8ToUtf16(options.password);
    for (size_t i = 0; i < 40; ++i) {
        uint8_t b = 0;
        if (i / 2 < pw.size()) b = static_cast<uint8_t>(pw[i / 2] >> (8 * (i % 2)));
        p[0x42 + i] = b ^ static_cast<uint8_t>(day >> (8 * (i % 4)));
    }
    put32(p.data() + 0x6A, aceFile() ? 0x11A6 : 0x21AA);  // as Access 2003 / 2007 write it
    put16(p.data() + 0x6E, 0x0409);                       // General sort order
    uint64_t bits;
    std::memcpy(&bits, &kCreationDate, 8);
    for (int i = 0; i < 8; ++i) p[0x72 + i] = static_cast<uint8_t>(bits >> (8 * i));
    static const uint8_t kTrailer[8] = {0x54, 0x06, 0x00, 0x00, 0x34, 0x2E, 0x30, 0x00};
    std::memcpy(p.data() + 0x98, kTrailer, sizeof kTrailer);
    // What a fresh Access file holds at 0xE00.
    put16(p.data() + 0xE00, 0x0101);
    for (size_t i = 1; i < 256; ++i) put16(p.data() + 0xE00 + 2 * i, 0x0100);
    static const uint8_t kMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4 rc4(kMaskKey);
    rc4.apply(std::span<uint8_t>(p.data() + 0x18, 128));
    return p;
}

Status DatabaseWriter::Impl::writeHeader() {
    TAB_TRY(file->write(0, headerPage().data()));
    TAB_ASSIGN_OR_RETURN(std::string global, buildGlobalMap(*file, kGlobalMapInlineBytes));
    DataPage page1;
    page1.start(1, 1);
    page1.add(global);
    page1.add(std::string(kMapRowSize, '\0'));
    return page1.flush(*file);
}

Status DatabaseWriter::Impl::finish() {
    for (auto& t : tables)
        if (!t->system) TAB_TRY(flushPage(t->page, *file));
    TAB_TRY(writeCatalog());
    for (auto& t : tables) TAB_TRY(writeTable(*t));
    TAB_TRY(writeHeader());
    return file->commit(options.durable);
}

// ---------------------------------------------------------------------------

DatabaseWriter::DatabaseWriter(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
DatabaseWriter::~DatabaseWriter() = default;

Result<std::unique_ptr<DatabaseWriter>> DatabaseWriter::create(const std::string& path,
                                                               const CreateOptions& options) {
    if (utf8ToUtf16(options.password).size() > 20)
        return invalid("a database password has at most 20 characters");
    if (options.format == FileFormat::Ace12 && !options.password.empty())
        return invalid(
            "an .accdb file takes its password as encryption: create it without one, then "
            "encrypt it");
    auto impl = std::make_unique<Impl>();
    TAB_ASSIGN_OR_RETURN(impl->file, PageFile::create(path));
    impl->options = options;
    if (impl->options.objectDate == 0) impl->options.objectDate = nowAsAccessDate();
    impl->path = path;
    impl->file->allocate();  // header
    impl->file->allocate();  // global usage map
    auto defs = systemTableDefs();
    std::vector<uint32_t> tdefPages;
    for (size_t i = 0; i < defs.size(); ++i)
        tdefPages.push_back(impl->file->allocate());  // MSysObjects on page 2
    for (size_t i = 0; i < defs.size(); ++i)
        TAB_TRY(impl->addTable(std::move(defs[i]), true, tdefPages[i]));
    return std::unique_ptr<DatabaseWriter>(new DatabaseWriter(std::move(impl)));
}

namespace {

// A table or link name: valid, a key the catalogue's name index can hold,
// and not taken.
Status checkNewName(const DatabaseWriter::Impl& w, const std::string& name) {
    TAB_TRY(checkObjectName(name, "table"));
    Column nameColumn;
    nameColumn.type = ColumnType::Text;
    if (!encodeKeySegment(nameColumn, Value::text(name), true, w.version(),
                          TextCollation::GeneralLegacy)
             .ok())
        return invalid("table name \"" + name +
                       "\" has characters beyond Latin-1, which table names cannot have yet");
    for (const auto& t : w.tables)
        if (nameKey(t->def.name) == nameKey(name))
            return invalid("table \"" + name + "\" already exists");
    for (const auto& l : w.links)
        if (nameKey(l.name) == nameKey(name))
            return invalid("table \"" + name + "\" already exists");
    return {};
}

}  // namespace

Result<size_t> DatabaseWriter::addTable(const TableSpec& spec) {
    Impl& w = *m_impl;
    if (w.finished) return invalid("the database is already finished");
    TAB_TRY(checkNewName(w, spec.name));
    TAB_ASSIGN_OR_RETURN(TableLayout layout, layoutTable(spec));
    TableDef def = std::move(layout.def);
    std::string blob = std::move(layout.properties);
    TAB_ASSIGN_OR_RETURN(size_t handle, w.addTable(std::move(def), false, w.file->allocate()));
    TableState& t = *w.tables[handle];
    t.properties = std::move(blob);
    return handle;
}

Status DatabaseWriter::addLink(const LinkSpec& link) {
    Impl& w = *m_impl;
    if (w.finished) return invalid("the database is already finished");
    TAB_TRY(checkNewName(w, link.name));
    if (link.foreignName.empty()) return invalid("the link \"" + link.name + "\" names no table");
    if (!link.odbc && link.database.empty())
        return invalid("the link \"" + link.name + "\" names no database");
    w.links.push_back(link);
    return {};
}

Status DatabaseWriter::appendRow(size_t table, std::span<const Value> values) {
    Impl& w = *m_impl;
    if (w.finished) return invalid("the database is already finished");
    if (table >= w.tables.size() || w.tables[table]->system) return invalid("no such table handle");
    return w.append(*w.tables[table], values);
}

uint64_t DatabaseWriter::rowCount(size_t table) const {
    return table < m_impl->tables.size() ? m_impl->tables[table]->rows : 0;
}

Status DatabaseWriter::finish() {
    Impl& w = *m_impl;
    if (w.finished) return invalid("the database is already finished");
    w.finished = true;
    return w.finish();
}

double accessDate(int year, int month, int day, int hour, int minute, double second) {
    int64_t days = daysFromCivil(year, month, day);
    double frac = (hour * 3600 + minute * 60 + second) / 86400.0;
    // Before 1899-12-30 the fraction counts forward from the (negative) day.
    return days >= 0 ? static_cast<double>(days) + frac : -(static_cast<double>(-days) + frac);
}

}  // namespace tab::jet
