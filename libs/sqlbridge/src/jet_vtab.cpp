// The module SQLite calls for the Jet tables, and the registry of the tables
// attached to one connection.
#include "tabulary/sqlbridge/jet_vtab.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "jet_vtab_internal.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/jet/linked_table.h"

namespace tab::sqlbridge {

namespace {

using vtab::JetVtab;

struct ModuleData {
    std::shared_ptr<JetTables> tables;
};

int connect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out,
            char** err) {
    try {
        auto* data = static_cast<ModuleData*>(aux);
        if (argc < 4 || !data || !data->tables) {
            *err = sqlite3_mprintf("jet tables: missing table number");
            return SQLITE_ERROR;
        }
        char* end = nullptr;
        unsigned long long n = std::strtoull(argv[3], &end, 10);
        if (end == argv[3] || *end != '\0' || n >= data->tables->size()) {
            *err = sqlite3_mprintf("jet tables: bad table number");
            return SQLITE_ERROR;
        }
        JetTables::Table& table = data->tables->at(static_cast<size_t>(n));
        std::string decl = "CREATE TABLE x(";
        for (size_t i = 0; i < table.def->columns.size(); ++i) {
            const jet::Column& c = table.def->columns[i];
            if (i) decl += ", ";
            decl += quoteIdentifier(c.name);
            std::string type = declaredType(c);
            if (!type.empty()) decl += " " + type;
        }
        decl += ")";
        int rc = sqlite3_declare_vtab(db, decl.c_str());
        if (rc != SQLITE_OK) {
            *err = sqlite3_mprintf("table \"%s\": %s", table.name.c_str(), sqlite3_errmsg(db));
            return rc;
        }
        auto* vt = new JetVtab();
        vt->tables = data->tables.get();
        vt->tableIndex = static_cast<size_t>(n);
        vt->def = table.def;
        *out = &vt->base;
        return SQLITE_OK;
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    } catch (...) {
        return SQLITE_ERROR;
    }
}

int disconnect(sqlite3_vtab* vtab) {
    delete reinterpret_cast<JetVtab*>(vtab);
    return SQLITE_OK;
}

sqlite3_module makeModule() {
    sqlite3_module m;
    std::memset(&m, 0, sizeof m);
    m.iVersion = 1;
    m.xCreate = connect;
    m.xConnect = connect;
    m.xBestIndex = vtab::bestIndex;
    m.xDisconnect = disconnect;
    m.xDestroy = disconnect;
    vtab::setCursorMethods(m);
    return m;
}

const sqlite3_module kModule = makeModule();

}  // namespace

Result<const JetTables::Table*> JetTables::attachOther(Connection& connection,
                                                       const std::string& name,
                                                       std::shared_ptr<jet::Database> db,
                                                       std::shared_ptr<const jet::TableDef> def,
                                                       const std::string& path) {
    if (const Table* t = find(name)) return t;
    if (def->columns.empty())
        return Error(Errc::Unsupported,
                     "The table '" + def->name + "' of " + path + " has no columns");
    m_tables.push_back({name, std::move(def), {}, false, std::move(db), path});
    const size_t i = m_tables.size() - 1;
    Status st = connection.exec("CREATE VIRTUAL TABLE main." + quoteIdentifier(name) + " USING " +
                                quoteIdentifier(m_moduleName) + "(" + std::to_string(i) + ")");
    if (!st.ok()) {
        m_tables.pop_back();
        return st.error();
    }
    m_tables[i].attached = true;
    return &m_tables[i];
}

size_t JetTables::indexOf(std::string_view table) const {
    for (size_t i = 0; i < m_tables.size(); ++i)
        if (m_tables[i].attached && equalsIgnoringCase(m_tables[i].name, table)) return i;
    return std::string_view::npos;
}

const JetTables::Table* JetTables::find(std::string_view table) const {
    const size_t i = indexOf(table);
    return i == std::string_view::npos ? nullptr : &m_tables[i];
}

const jet::Column* JetTables::column(std::string_view table, std::string_view column) const {
    const Table* t = find(table);
    if (!t) return nullptr;
    int i = t->def->findColumn(column);
    if (i < 0 || static_cast<size_t>(i) >= t->def->columns.size()) return nullptr;
    return &t->def->columns[size_t(i)];
}

std::vector<std::string> JetTables::tableNames() const {
    std::vector<std::string> out;
    for (const Table& t : m_tables)
        if (t.attached) out.push_back(t.name);
    return out;
}

TableStats JetTables::stats(std::string_view table) const {
    const Table* t = find(table);
    return t ? t->stats : TableStats{};
}

void JetTables::resetStats() {
    for (Table& t : m_tables) t.stats = {};
}

Result<std::shared_ptr<JetTables>> attachJetTables(Connection& connection,
                                                   std::shared_ptr<jet::Database> db,
                                                   const AttachOptions& options) {
    if (!db) return Error(Errc::InvalidArgument, "no database");
    sqlite3* handle = connection.handle();
    if (!handle) return Error(Errc::InvalidArgument, "connection is closed");
    auto tables = std::make_shared<JetTables>();
    tables->m_db = db;
    tables->m_useIndexes = options.useIndexes;
    tables->m_moduleName = options.moduleName;

    std::vector<const jet::CatalogObject*> objects =
        db->catalog().ofKind(jet::ObjectKind::UserTable);
    if (options.systemTables) {
        auto sys = db->catalog().ofKind(jet::ObjectKind::SystemTable);
        objects.insert(objects.end(), sys.begin(), sys.end());
    }
    for (const jet::CatalogObject* o : objects) {
        auto def = db->table(o->name);
        if (!def.ok()) {
            tables->m_skipped.push_back({o->name, def.error().message()});
            continue;
        }
        if ((*def)->columns.empty()) {
            tables->m_skipped.push_back({o->name, "table has no columns"});
            continue;
        }
        tables->m_tables.push_back({o->name, std::move(*def), {}, false, nullptr, {}});
    }
    // Linked tables read from their own file, under the link's name.
    jet::LinkedDatabases ownLinks(options.password);
    jet::LinkedDatabases& links = options.links ? *options.links : ownLinks;
    auto linked = db->catalog().ofKind(jet::ObjectKind::LinkedTable);
    auto odbc = db->catalog().ofKind(jet::ObjectKind::LinkedOdbc);
    linked.insert(linked.end(), odbc.begin(), odbc.end());
    for (const jet::CatalogObject* o : linked) {
        auto t = links.open(*db, *o);
        if (!t.ok()) {
            tables->m_skipped.push_back({o->name, t.error().message()});
            continue;
        }
        if (t->table->columns.empty()) {
            tables->m_skipped.push_back({o->name, "table has no columns"});
            continue;
        }
        tables->m_tables.push_back({o->name, t->table, {}, false, t->database, t->path});
    }

    // The module owns a reference so the tables outlive every virtual table.
    auto* data = new ModuleData{tables};
    int rc = sqlite3_create_module_v2(handle, options.moduleName.c_str(), &kModule, data,
                                      [](void* p) { delete static_cast<ModuleData*>(p); });
    if (rc != SQLITE_OK) return sqliteError(handle, rc, "cannot register the jet module");

    for (size_t i = 0; i < tables->m_tables.size(); ++i) {
        const std::string& name = tables->m_tables[i].name;
        std::string sql = "CREATE VIRTUAL TABLE main." + quoteIdentifier(name) + " USING " +
                          quoteIdentifier(options.moduleName) + "(" + std::to_string(i) + ")";
        Status st = connection.exec(sql);
        if (st.ok())
            tables->m_tables[i].attached = true;
        else
            tables->m_skipped.push_back({name, st.error().message()});
    }
    return tables;
}

}  // namespace tab::sqlbridge
