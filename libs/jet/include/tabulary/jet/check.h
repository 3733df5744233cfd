// Whole-database consistency check: the global usage map against every page
// that some structure references, data and long-value pages, table
// definitions and their maps, every row, every long value, every index tree
// (compared entry by entry with keys recomputed from the rows) and the
// catalogue. Reports what is damaged (errors) and what Access itself leaves
// behind (warnings: leaked pages, stale statistics).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tabulary/jet/database.h"

namespace tab::jet {

struct CheckProblem {
    enum class Severity { Warning, Error };
    Severity severity = Severity::Error;
    std::string message;
};

struct CheckOptions {
    // Messages shown per table (and for the file as a whole); the rest are
    // counted in one summary message, so a wrecked file stays readable.
    size_t maxMessagesPerScope = 20;
};

struct CheckReport {
    std::vector<CheckProblem> problems;
    size_t tablesChecked = 0;
    size_t indexesChecked = 0;
    uint64_t rowsRead = 0;
    uint32_t pagesChecked = 0;
    size_t errorCount() const;
    size_t warningCount() const;
};

CheckReport checkDatabase(Database& db, const CheckOptions& options = {});

}  // namespace tab::jet
