#include "tabulary/jet/check.h"

#include "tabulary/jet/table_cursor.h"

namespace tab::jet {

size_t CheckReport::errorCount() const {
    size_t n = 0;
    for (const auto& p : problems) n += p.severity == CheckProblem::Severity::Error;
    return n;
}

CheckReport checkDatabase(Database& db) {
    CheckReport report;
    auto add = [&](CheckProblem::Severity s, std::string msg) {
        report.problems.push_back({s, std::move(msg)});
    };
    for (const auto& obj : db.catalog().objects) {
        if (obj.kind != ObjectKind::UserTable && obj.kind != ObjectKind::SystemTable) continue;
        ++report.tablesChecked;
        auto def = db.table(obj.name);
        if (!def.ok()) {
            add(CheckProblem::Severity::Error, def.error().message());
            continue;
        }
        TableCursor cursor(db, *def);
        uint64_t rows = 0;
        size_t errors = 0;
        while (true) {
            auto more = cursor.next();
            if (!more.ok()) {
                if (++errors <= 20) add(CheckProblem::Severity::Error, more.error().message());
                // A page that cannot be read at all ends the scan of this table.
                if (more.error().message().find("usage map") != std::string::npos) break;
                continue;
            }
            if (!*more) break;
            ++rows;
        }
        if (errors > 20)
            add(CheckProblem::Severity::Error,
                "table \"" + obj.name + "\": " + std::to_string(errors - 20) + " more damaged rows");
        report.rowsRead += rows;
        if (rows != (*def)->rowCount)
            add(CheckProblem::Severity::Warning,
                "table \"" + obj.name + "\": definition records " + std::to_string((*def)->rowCount) +
                    " rows, " + std::to_string(rows) + " found");
    }
    return report;
}

}  // namespace tab::jet
