// Whole-database consistency check: reads every table definition and every
// row and reports what cannot be read or does not add up.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tabulary/jet/database.h"

namespace tab::jet {

struct CheckProblem {
    enum class Severity { Warning, Error };
    Severity severity = Severity::Error;
    std::string message;
};

struct CheckReport {
    std::vector<CheckProblem> problems;
    size_t tablesChecked = 0;
    uint64_t rowsRead = 0;
    size_t errorCount() const;
};

CheckReport checkDatabase(Database& db);

}  // namespace tab::jet
