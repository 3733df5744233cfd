// Shared state of one checkDatabase() run: what the file's pages are, who
// claims them, and the bounded list of problems. Not part of the API.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "internal.h"
#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"

namespace tab::jet::check {

using Severity = CheckProblem::Severity;

// What a page is used for, as seen from the structure that references it.
enum class Use : uint8_t { None, Header, MapRows, MapBitmap, Tdef, Data, Lval, Index };

struct Claim {
    Use use = Use::None;
    uint32_t table = 0;  // TDEF page of the owner (Tdef, Data, Lval, Index, MapBitmap)
    uint32_t index = 0;  // real index number (Index)
};

// A decoded usage map: its pages (inside the file) and where it is stored.
struct UsageMap {
    std::vector<uint32_t> pages;  // sorted, unique
    bool ok = false;
};

class Checker {
public:
    Checker(Database& db, CheckReport& report, const CheckOptions& options);

    Database& db;
    PageSource& pages;
    const Format& f;
    const uint32_t pageCount;
    const uint32_t pageSize;

    // From one pass over the file: type byte and the u32 at offset 4 of each page.
    std::vector<uint8_t> type;
    std::vector<uint32_t> ownerField;
    std::vector<bool> free;  // global usage map: true = free
    bool haveGlobalMap = false;
    std::vector<Claim> claims;
    std::map<uint32_t, std::string> tableNames;  // by TDEF page

    // `scope` bounds the messages ("" for the file as a whole).
    void add(Severity s, const std::string& scope, const std::string& message);
    void error(const std::string& scope, const std::string& message) {
        add(Severity::Error, scope, message);
    }
    void warning(const std::string& scope, const std::string& message) {
        add(Severity::Warning, scope, message);
    }
    void flushSuppressed();

    // Records that `use` references `page`; checks range, type, global map and
    // a second owner. `what` names the reference for messages. False if the
    // page cannot be used for it.
    bool claim(uint32_t page, Use use, uint32_t table, uint32_t index, const std::string& scope,
               const std::string& what);
    std::string describe(const Claim& c) const;

    bool isLvalPage(uint32_t page) const {
        return page < pageCount && type[page] == 0x01 && ownerField[page] == kLvalTag;
    }
    bool isUsed(uint32_t page) const {
        return !haveGlobalMap || (page < free.size() && !free[page]);
    }

    // Decodes the usage map row at `pointer`, claiming its row page (and
    // bitmap pages) for `table`. Pages beyond the file are reported.
    UsageMap readMap(uint32_t pointer, uint32_t table, const std::string& scope,
                     const std::string& what);

private:
    struct ScopeCount {
        size_t shown = 0, hiddenErrors = 0, hiddenWarnings = 0;
    };
    CheckReport& m_report;
    CheckOptions m_options;
    std::map<std::string, ScopeCount> m_scopes;
};

std::string pageText(uint32_t page);
std::string rowText(uint32_t page, uint32_t row);
std::string quoted(const std::string& s);

// Everything about one table the index checks need from the row scan.
struct TableFacts {
    std::vector<uint32_t> dataPages;     // owned data pages of the table, sorted
    std::vector<uint32_t> liveRows;      // row ids of live header slots, sorted
    bool rowsReadable = true;            // every live row decoded
    std::vector<uint32_t> uniqueCounts;  // per real index, from the TDEF
};

void checkIndexes(Checker& c, const std::shared_ptr<const TableDef>& table, const TableFacts& facts,
                  size_t& indexesChecked);

}  // namespace tab::jet::check
