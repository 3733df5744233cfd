#include "tabulary/jet/catalog.h"

#include "internal.h"
#include "tabulary/base/case_fold.h"

namespace tab::jet {

const char* objectKindName(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::UserTable:
            return "table";
        case ObjectKind::SystemTable:
            return "system table";
        case ObjectKind::LinkedTable:
            return "linked table";
        case ObjectKind::LinkedOdbc:
            return "linked ODBC table";
        case ObjectKind::Query:
            return "query";
        case ObjectKind::Other:
            return "other";
    }
    return "other";
}

const char* queryKindName(QueryKind kind) {
    switch (kind) {
        case QueryKind::Select:
            return "select";
        case QueryKind::Crosstab:
            return "crosstab";
        case QueryKind::Delete:
            return "delete";
        case QueryKind::Update:
            return "update";
        case QueryKind::Append:
            return "append";
        case QueryKind::MakeTable:
            return "make-table";
        case QueryKind::DataDefinition:
            return "data-definition";
        case QueryKind::PassThrough:
            return "pass-through";
        case QueryKind::Union:
            return "union";
        case QueryKind::Unknown:
            return "unknown";
    }
    return "unknown";
}

namespace {
bool sameName(std::string_view a, std::string_view b) {
    return equalsIgnoringCase(a, b);
}
}  // namespace

const CatalogObject* Catalog::find(std::string_view name, ObjectKind kind) const {
    for (const auto& o : objects)
        if (o.kind == kind && o.name == name) return &o;
    for (const auto& o : objects)
        if (o.kind == kind && sameName(o.name, name)) return &o;
    return nullptr;
}

const CatalogObject* Catalog::findTable(std::string_view name) const {
    for (ObjectKind k : {ObjectKind::UserTable, ObjectKind::SystemTable, ObjectKind::LinkedTable,
                         ObjectKind::LinkedOdbc})
        if (auto* o = find(name, k)) return o;
    return nullptr;
}

std::vector<const CatalogObject*> Catalog::ofKind(ObjectKind kind) const {
    std::vector<const CatalogObject*> out;
    for (const auto& o : objects)
        if (o.kind == kind) out.push_back(&o);
    return out;
}

}  // namespace tab::jet
