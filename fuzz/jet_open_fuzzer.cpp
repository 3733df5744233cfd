// Fuzz target: the input is a whole database image. Opens it, reads the
// catalogue, then every user and system table's definition and rows, and
// formats every value, the way the command-line export does.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include "tabulary/jet/database.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value_text.h"

using namespace tab;
using namespace tab::jet;

namespace {

// Row reads per input, summed over all tables: keeps each run short while
// still reaching every table of the seed files.
constexpr size_t kMaxNextCalls = 100000;

// Errors are meant for the user; an empty message is a bug of its own.
void requireMessage(const Error& e, const char* where) {
    if (!e.message().empty()) return;
    std::fprintf(stderr, "error without a message from %s\n", where);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OpenOptions options;
    options.checkPassword = false;  // read password-protected files too
    auto opened = Database::openMemory(std::vector<uint8_t>(data, data + size), options);
    if (!opened.ok()) {
        requireMessage(opened.error(), "open");
        return 0;
    }
    Database& db = **opened;

    size_t budget = kMaxNextCalls;
    std::set<uint32_t> scanned;  // several catalogue rows may name one definition
    std::string text;
    for (const CatalogObject& o : db.catalog().objects) {
        if (o.kind != ObjectKind::UserTable && o.kind != ObjectKind::SystemTable) continue;
        auto def = db.tableAtPage(o.tdefPage(), o.name);
        if (!def.ok()) {
            requireMessage(def.error(), "table definition");
            continue;
        }
        if (!scanned.insert(o.tdefPage()).second) continue;

        // The first and the last row the scan yields, to be read again by id.
        struct Seen {
            RowId id = 0;
            std::vector<Value> values;
        };
        std::vector<Seen> seen;
        TableCursor cursor(db, *def);
        while (budget > 0) {
            --budget;
            auto more = cursor.next();
            if (!more.ok()) {
                requireMessage(more.error(), "next");
                continue;
            }
            if (!*more) break;
            for (const Value& v : cursor.values()) {
                text.clear();
                appendValueText(text, v);
            }
            if (seen.size() < 2) seen.emplace_back();
            seen.back().id = cursor.rowId();
            seen.back().values = cursor.values();
        }

        // Reading a row again by its id must give what the scan gave.
        for (const Seen& row : seen) {
            TableCursor again(db, *def);
            auto found = again.seek(row.id);
            if (!found.ok() || !*found || again.values() != row.values) {
                std::fprintf(stderr, "seek(%#x) disagrees with the scan\n", row.id);
                std::abort();
            }
        }
    }
    return 0;
}
