// Opening a database: header, page decoding, password check, and the
// catalogue from MSysObjects and MSysQueries. Also long values and complex
// columns, which need the whole database rather than one row.
#include "tabulary/jet/database.h"

#include <algorithm>
#include <set>

#include "crypto/office_encryption.h"
#include "crypto/page_cipher.h"
#include "edit/file_io.h"
#include "edit/journal.h"
#include "internal.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/jet/table_cursor.h"

namespace tab::jet {

struct ComplexValues {
    std::multimap<int32_t, Value> items;
};

namespace {

constexpr int32_t kTablesContainerParent = 0x0F000000;
constexpr uint32_t kCatalogPage = 2;

const Value& field(const TableCursor& c, int index) {
    static const Value kNull;
    return index < 0 ? kNull : c.values()[static_cast<size_t>(index)];
}

std::optional<std::string> optText(const Value& v) {
    if (v.kind() != Value::Kind::Text || v.bytes().empty()) return std::nullopt;
    std::string s = v.bytes();
    while (!s.empty() && s.back() == '\0') s.pop_back();  // some texts end in a NUL
    return s;
}

}  // namespace

Database::~Database() = default;

Result<std::unique_ptr<Database>> Database::open(const std::string& path,
                                                 const OpenOptions& options) {
    // A change a crash interrupted is undone before anything is read.
    auto recovery = edit::recoverJournal(path, options.io ? *options.io : edit::FileIo::system());
    if (!recovery.ok()) return recovery.error();
    auto src = PageSource::openFile(path);
    if (!src.ok()) return src.error();
    if (recovery->view) {
        recovery->view->attach(src->get());
        (*src)->setOverlay(recovery->view.get());
    }
    auto db = init(std::move(*src), options);
    if (!db.ok()) {
        if (db.error().message().rfind(path, 0) == 0) return db.error();
        return db.error().withContext(path);
    }
    (*db)->m_beforeChange = std::move(recovery->view);
    (*db)->m_openNotice = std::move(recovery->notice);
    return db;
}

void Database::showBeforeChange(std::unique_ptr<PageOverlay> view, std::string notice) {
    m_pages->setOverlay(view.get());
    m_beforeChange = std::move(view);
    m_openNotice = std::move(notice);
}

Result<std::unique_ptr<Database>> Database::openMemory(std::vector<uint8_t> image,
                                                       const OpenOptions& options) {
    return init(PageSource::fromMemory(std::move(image)), options);
}

Result<std::unique_ptr<Database>> Database::init(std::unique_ptr<PageSource> pages,
                                                 const OpenOptions& options) {
    std::unique_ptr<Database> db(new Database());
    if (pages->fileSize() < 2048)
        return Error(Errc::Unsupported, "not an Access database (file too small)");
    auto raw = pages->readRaw(0, static_cast<size_t>(std::min<uint64_t>(pages->fileSize(), 4096)));
    if (!raw.ok()) return raw.error();
    auto header = decodeHeader(*raw);
    if (!header.ok()) return header.error();
    db->m_header = std::move(*header);
    db->m_format = Format::forVersion(db->m_header.version);
    const Header& h = db->m_header;

    // Office encryption: the keys come from the password, checked against the
    // file's verifier before any page is read.
    std::shared_ptr<const crypto::PageCipher> cipher;
    if (h.encoding == PageEncoding::JetRc4) {
        cipher = crypto::jetRc4Cipher(h.databaseKey);
    } else if (h.encoding == PageEncoding::Office) {
        auto office = crypto::openOfficeEncryption(*raw, h.databaseKey, options.password);
        if (!office.ok()) return office.error();
        db->m_header.officeEncryption = (*office)->scheme();
        cipher = std::move(*office);
    }
    pages->setLayout(h.pageSize, std::move(cipher));
    db->m_pages = std::move(pages);

    if (options.checkPassword && !h.storedPassword.empty() && options.password != h.storedPassword)
        return Error(Errc::WrongPassword, "Not a valid password.");

    Status st = db->loadCatalog();
    if (!st.ok()) {
        if (h.version == JetVersion::Jet3)
            return st.error().withContext(
                "cannot read the catalogue (files of Access 1.x and 2.0 are not supported)");
        return st.error().withContext("cannot read the catalogue");
    }
    return db;
}

Status Database::loadCatalog() {
    if (m_pages->pageCount() <= kCatalogPage) return corrupt("the file has no catalogue page");
    auto def = tableAtPage(kCatalogPage, "MSysObjects");
    if (!def.ok()) return def.error();
    const TableDef& t = **def;
    int cId = t.findColumn("Id"), cParent = t.findColumn("ParentId"), cName = t.findColumn("Name"),
        cType = t.findColumn("Type"), cFlags = t.findColumn("Flags");
    if (cId < 0 || cParent < 0 || cName < 0 || cType < 0 || cFlags < 0)
        return corrupt(kCatalogPage, "MSysObjects lacks one of Id, ParentId, Name, Type, Flags");
    int cDb = t.findColumn("Database"), cConnect = t.findColumn("Connect"),
        cForeign = t.findColumn("ForeignName"), cProp = t.findColumn("LvProp"),
        cCreate = t.findColumn("DateCreate"), cUpdate = t.findColumn("DateUpdate");
    std::vector<int> wanted;
    for (int c :
         {cId, cParent, cName, cType, cFlags, cDb, cConnect, cForeign, cProp, cCreate, cUpdate})
        if (c >= 0) wanted.push_back(c);

    TableCursor cursor(*this, *def, wanted);
    std::vector<CatalogObject> objects;
    while (true) {
        auto more = cursor.next();
        if (!more.ok()) return more.error();
        if (!*more) break;
        CatalogObject o;
        o.id = static_cast<int32_t>(field(cursor, cId).asInt());
        o.parentId = static_cast<int32_t>(field(cursor, cParent).asInt());
        o.name = field(cursor, cName).bytes();
        o.type = static_cast<int16_t>(field(cursor, cType).asInt());
        o.flags = static_cast<uint32_t>(field(cursor, cFlags).asInt());
        o.database = optText(field(cursor, cDb)).value_or("");
        o.connect = optText(field(cursor, cConnect)).value_or("");
        o.foreignName = optText(field(cursor, cForeign)).value_or("");
        o.lvProp = field(cursor, cProp).bytes();
        o.dateCreate = field(cursor, cCreate).asDouble();
        o.dateUpdate = field(cursor, cUpdate).asDouble();
        objects.push_back(std::move(o));
    }
    int32_t tablesId = -1;
    for (const auto& o : objects)
        if (o.type == 3 && o.parentId == kTablesContainerParent && o.name == "Tables")
            tablesId = o.id;
    for (auto& o : objects) {
        bool inTables = o.parentId == tablesId;
        switch (o.type) {
            case 1:
                if (inTables)
                    o.kind =
                        (o.flags & 0x80000002u) ? ObjectKind::SystemTable : ObjectKind::UserTable;
                break;
            case 4:
                o.kind = inTables ? ObjectKind::LinkedOdbc : ObjectKind::Other;
                break;
            case 5:
                o.kind = inTables ? ObjectKind::Query : ObjectKind::Other;
                break;
            case 6:
                o.kind = inTables ? ObjectKind::LinkedTable : ObjectKind::Other;
                break;
            default:
                break;
        }
    }
    m_catalog.objects = std::move(objects);

    // Saved queries: MSysQueries rows grouped by ObjectId.
    const CatalogObject* mq = m_catalog.find("MSysQueries", ObjectKind::SystemTable);
    if (!mq) return Status::success();
    auto qdef = tableAtPage(mq->tdefPage(), mq->name);
    if (!qdef.ok()) return qdef.error();
    const TableDef& q = **qdef;
    int qObj = q.findColumn("ObjectId"), qAttr = q.findColumn("Attribute"),
        qOrder = q.findColumn("Order"), qN1 = q.findColumn("Name1"), qN2 = q.findColumn("Name2"),
        qExpr = q.findColumn("Expression"), qFlag = q.findColumn("Flag"),
        qExtra = q.findColumn("LvExtra");
    if (qObj < 0 || qAttr < 0) return Status::success();
    std::map<int32_t, std::vector<QueryRow>> rows;
    TableCursor qc(*this, *qdef);
    size_t total = 0;
    while (true) {
        auto more = qc.next();
        if (!more.ok()) return more.error();
        if (!*more) break;
        if (++total > 1'000'000) return corrupt("MSysQueries has too many rows");
        QueryRow r;
        r.attribute = static_cast<uint8_t>(field(qc, qAttr).asInt());
        r.order = field(qc, qOrder).bytes();
        r.name1 = optText(field(qc, qN1));
        r.name2 = optText(field(qc, qN2));
        r.expression = optText(field(qc, qExpr));
        r.flag = static_cast<int16_t>(field(qc, qFlag).asInt());
        if (qExtra >= 0 && !field(qc, qExtra).isNull())
            r.lvExtra = static_cast<int32_t>(field(qc, qExtra).asInt());
        rows[static_cast<int32_t>(field(qc, qObj).asInt())].push_back(std::move(r));
    }
    static const QueryKind kByFlags[16] = {
        QueryKind::Select,  QueryKind::Crosstab,  QueryKind::Delete,         QueryKind::Update,
        QueryKind::Append,  QueryKind::MakeTable, QueryKind::DataDefinition, QueryKind::PassThrough,
        QueryKind::Union,   QueryKind::Unknown,   QueryKind::Unknown,        QueryKind::Unknown,
        QueryKind::Unknown, QueryKind::Unknown,   QueryKind::Unknown,        QueryKind::Unknown};
    static const QueryKind kByAttr1[10] = {
        QueryKind::Unknown,     QueryKind::Select, QueryKind::MakeTable, QueryKind::Append,
        QueryKind::Update,      QueryKind::Delete, QueryKind::Crosstab,  QueryKind::DataDefinition,
        QueryKind::PassThrough, QueryKind::Union};
    for (auto& o : m_catalog.objects) {
        if (o.kind != ObjectKind::Query) continue;
        auto it = rows.find(o.id);
        if (it != rows.end()) {
            o.queryRows = std::move(it->second);
            std::stable_sort(o.queryRows.begin(), o.queryRows.end(),
                             [](const QueryRow& a, const QueryRow& b) {
                                 return a.attribute != b.attribute ? a.attribute < b.attribute
                                                                   : a.order < b.order;
                             });
        }
        o.queryKind = kByFlags[(o.flags >> 4) & 0x0F];
        for (const auto& r : o.queryRows) {
            if (r.attribute == 1 && o.queryKind == QueryKind::Select && r.flag > 1 && r.flag <= 9)
                o.queryKind = kByAttr1[r.flag];
            if (r.attribute == 2) o.hasParameters = true;
        }
    }
    return Status::success();
}

Result<std::shared_ptr<const TableDef>> Database::table(std::string_view name) {
    const CatalogObject* o = m_catalog.findTable(name);
    if (!o) return Error(Errc::NotFound, "no table named \"" + std::string(name) + "\"");
    if (o->kind == ObjectKind::LinkedTable || o->kind == ObjectKind::LinkedOdbc)
        return unsupported("\"" + o->name + "\" is a linked table; its rows are in " +
                           (o->database.empty() ? o->connect : o->database));
    return tableAtPage(o->tdefPage(), o->name);
}

Result<std::shared_ptr<const TableDef>> Database::tableAtPage(uint32_t page, std::string name) {
    auto it = m_tables.find(page);
    if (it != m_tables.end()) return it->second;
    auto def = readTableDef(*m_pages, m_format, page, m_header.codePage);
    if (!def.ok()) return def.error().withContext("table \"" + name + "\"");
    def->name = std::move(name);
    // Column properties: result types of calculated columns, the rules of the columns.
    for (const auto& o : m_catalog.objects) {
        if (o.type != 1 || o.tdefPage() != page || o.lvProp.empty()) continue;
        auto props = parseProperties(
            Bytes(reinterpret_cast<const uint8_t*>(o.lvProp.data()), o.lvProp.size()), m_format,
            m_header.codePage);
        if (!props.ok()) break;  // damaged properties never hide the rows
        for (auto& col : def->columns) {
            auto pc = props->columns.find(foldedCase(col.name));
            if (pc == props->columns.end()) continue;
            if (const Value* req = pc->second.find("Required")) col.required = req->asBool();
            if (const Value* z = pc->second.find("AllowZeroLength"))
                col.allowZeroLength = z->asBool();
            if (const Value* d = pc->second.find("DefaultValue");
                d && d->kind() == Value::Kind::Text)
                col.defaultValue = d->bytes();
            if (col.calculated)
                if (const Value* rt = pc->second.find("ResultType"))
                    col.type = static_cast<ColumnType>(static_cast<uint8_t>(rt->asInt()));
        }
        break;
    }
    auto shared = std::make_shared<const TableDef>(std::move(*def));
    m_tables[page] = shared;
    return shared;
}

Result<std::string> Database::readLongValue(std::span<const uint8_t> field) {
    std::string out;
    if (Status st = readLongValue(field, out); !st.ok()) return st.error();
    return out;
}

Status Database::readLongValue(std::span<const uint8_t> field, std::string& out) {
    out.clear();
    if (field.size() < 12) return corrupt("long value header truncated");
    uint32_t word = u32At(field.data());
    uint32_t length = word & 0x3FFFFFFF;
    uint8_t kind = field[3] & 0xC0;
    if (length > m_pages->fileSize()) return corrupt("long value longer than the file");
    if (kind == 0x80) {
        size_t n = std::min<size_t>(length, field.size() - 12);
        out.assign(reinterpret_cast<const char*>(field.data() + 12), n);
        return {};
    }
    uint32_t ptr = u32At(field.data() + 4);
    if (kind == 0x40) {
        TAB_ASSIGN_OR_RETURN(RowSlice s, rowAtPointer(*m_pages, m_format, ptr));
        Bytes b = s.bytes();
        out.assign(reinterpret_cast<const char*>(b.data()), std::min<size_t>(length, b.size()));
        return {};
    }
    if (kind != 0x00) return corrupt("long value of unknown storage kind");
    out.reserve(length);
    std::set<uint32_t> seen;
    while (out.size() < length) {
        if (ptr == 0) return corrupt("long value chain ends early");
        if (!seen.insert(ptr).second) return corrupt(ptr >> 8, "long value chain forms a cycle");
        TAB_ASSIGN_OR_RETURN(RowSlice s, rowAtPointer(*m_pages, m_format, ptr));
        Bytes b = s.bytes();
        if (b.size() < 4) return corrupt(ptr >> 8, "long value segment too short");
        ptr = u32At(b.data());
        size_t n = std::min<size_t>(b.size() - 4, length - out.size());
        out.append(reinterpret_cast<const char*>(b.data() + 4), n);
    }
    return {};
}

Result<Value> Database::complexValue(const TableDef& table, const Column& column, int32_t key) {
    auto it = m_complex.find(column.complexId);
    if (it == m_complex.end()) {
        auto values = std::make_shared<ComplexValues>();
        m_complex[column.complexId] = values;  // an empty entry also stops recursion
        const CatalogObject* cc = m_catalog.find("MSysComplexColumns", ObjectKind::SystemTable);
        if (!cc)
            return corrupt("complex column \"" + column.name + "\" without MSysComplexColumns");
        TAB_ASSIGN_OR_RETURN(auto ccDef, tableAtPage(cc->tdefPage(), cc->name));
        int cId = ccDef->findColumn("ComplexID"), cFlat = ccDef->findColumn("FlatTableID");
        if (cId < 0 || cFlat < 0)
            return corrupt("MSysComplexColumns lacks ComplexID or FlatTableID");
        int32_t flatId = -1;
        TableCursor cur(*this, ccDef, {cId, cFlat});
        while (true) {
            TAB_ASSIGN_OR_RETURN(bool more, cur.next());
            if (!more) break;
            if (cur.values()[static_cast<size_t>(cId)].asInt() == column.complexId)
                flatId = static_cast<int32_t>(cur.values()[static_cast<size_t>(cFlat)].asInt());
        }
        if (flatId <= 0)
            return corrupt("complex column \"" + column.name + "\" has no value table");
        std::string flatName = "complex values of " + table.name + "." + column.name;
        for (const auto& o : m_catalog.objects)
            if (o.type == 1 && o.id == flatId) flatName = o.name;
        TAB_ASSIGN_OR_RETURN(auto flat,
                             tableAtPage(static_cast<uint32_t>(flatId) & 0xFFFFFF, flatName));
        // The key column is the Long, non-autonumber column whose name starts with "_";
        // attachments are listed by file name, other kinds by their value column.
        int keyCol = -1, valueCol = flat->findColumn("FileName");
        for (size_t i = 0; i < flat->columns.size(); ++i) {
            const Column& c = flat->columns[i];
            if (c.type == ColumnType::Long && !c.autoNumber && !c.name.empty() && c.name[0] == '_')
                keyCol = static_cast<int>(i);
        }
        if (valueCol < 0) {
            for (size_t i = 0; i < flat->columns.size(); ++i) {
                const Column& c = flat->columns[i];
                if (static_cast<int>(i) == keyCol || c.autoNumber) continue;
                if (valueCol < 0 ||
                    (flat->columns[static_cast<size_t>(valueCol)].type == ColumnType::DateTime))
                    valueCol = static_cast<int>(i);
            }
        }
        if (keyCol < 0 || valueCol < 0)
            return corrupt("value table of complex column \"" + column.name +
                           "\" has no key column");
        // A memo history (a Memo plus its date) is listed newest first, as Access shows it.
        int dateCol = -1;
        if (flat->columns[static_cast<size_t>(valueCol)].type == ColumnType::Memo)
            for (size_t i = 0; i < flat->columns.size(); ++i)
                if (flat->columns[i].type == ColumnType::DateTime) dateCol = static_cast<int>(i);
        struct Item {
            int32_t key;
            double date;
            Value value;
        };
        std::vector<Item> loaded;
        TableCursor fc(*this, flat, {keyCol, valueCol, dateCol});
        while (true) {
            TAB_ASSIGN_OR_RETURN(bool more, fc.next());
            if (!more) break;
            const auto& v = fc.values();
            loaded.push_back({static_cast<int32_t>(v[static_cast<size_t>(keyCol)].asInt()),
                              dateCol >= 0 ? v[static_cast<size_t>(dateCol)].asDouble() : 0.0,
                              v[static_cast<size_t>(valueCol)]});
        }
        std::stable_sort(loaded.begin(), loaded.end(),
                         [](const Item& a, const Item& b) { return a.date > b.date; });
        for (auto& item : loaded) values->items.emplace(item.key, std::move(item.value));
        it = m_complex.find(column.complexId);
    }
    std::vector<Value> items;
    auto range = it->second->items.equal_range(key);
    for (auto i = range.first; i != range.second; ++i) items.push_back(i->second);
    return Value::list(std::move(items), key);
}

}  // namespace tab::jet

namespace tab::jet {

Result<std::shared_ptr<const IndexPageView>> Database::indexPage(uint32_t number) {
    if (auto it = m_indexPages.find(number); it != m_indexPages.end()) return it->second;
    TAB_ASSIGN_OR_RETURN(PageRef ref, m_pages->page(number));
    auto view = std::make_shared<IndexPageView>();
    TAB_TRY(parseIndexPage(*ref, m_format, number, *view));
    // Bounded: a scan of a huge index must not keep every page it read.
    if (m_indexPages.size() >= 4096) m_indexPages.clear();
    m_indexPages.emplace(number, view);
    return std::shared_ptr<const IndexPageView>(std::move(view));
}

void Database::forgetDecoded() {
    m_tables.clear();
    m_complex.clear();
    m_indexPages.clear();
}

Status Database::afterChange(const std::vector<uint32_t>& pages, bool catalog) {
    if (catalog) return reload(true);
    TAB_TRY(m_pages->forget(pages));
    m_complex.clear();
    for (uint32_t n : pages) {
        m_tables.erase(n);
        m_indexPages.erase(n);
    }
    return Status::success();
}

Status Database::reload(bool catalog) {
    forgetDecoded();
    TAB_TRY(m_pages->refresh());
    if (!catalog) return Status::success();
    m_catalog = Catalog();
    return loadCatalog();
}

}  // namespace tab::jet
