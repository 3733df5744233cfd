#include "tabulary/ado/schema.h"

#include <algorithm>

namespace tab::ado {

namespace {

bool startsWithMSys(const std::string& name) {
    if (name.size() < 4) return false;
    std::string head = name.substr(0, 4);
    for (char& c : head) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return head == "msys";
}

}  // namespace

std::string tableType(const jet::CatalogObject& o) {
    // Deleted and temporary objects (~TMP..., ~sq_...) are not listed.
    if (!o.name.empty() && o.name[0] == '~') return {};
    switch (o.type) {
        case 1:
            if (o.flags & 0x80000000u) return "SYSTEM TABLE";
            if ((o.flags & 0x2u) || startsWithMSys(o.name)) return "ACCESS TABLE";
            return "TABLE";
        case 4:
            return "PASS-THROUGH";
        case 6:
            return "LINK";
        case 5:
            // Only select and union queries without declared parameters are views.
            if ((o.queryKind == jet::QueryKind::Select || o.queryKind == jet::QueryKind::Union) &&
                !o.hasParameters)
                return "VIEW";
            return {};
        default:
            return {};
    }
}

std::vector<TableSchemaRow> tablesSchema(const jet::Catalog& catalog) {
    std::vector<TableSchemaRow> rows;
    for (const auto& o : catalog.objects) {
        std::string type = tableType(o);
        if (type.empty()) continue;
        rows.push_back({o.name, type, o.dateCreate, o.dateUpdate});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const TableSchemaRow& a, const TableSchemaRow& b) {
                         return a.tableType != b.tableType ? a.tableType < b.tableType
                                                           : a.tableName < b.tableName;
                     });
    return rows;
}

}  // namespace tab::ado
