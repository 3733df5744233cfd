// Database description scripts: a small subset of Access DDL and SQL
// (CREATE TABLE, CREATE INDEX, INSERT INTO ... VALUES) read from text and
// carried out by the database writer; saved queries (CREATE VIEW, CREATE
// PROCEDURE) are handed back to be run on the finished file. The sample database and the test
// fixtures are written this way.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/writer.h"

namespace tab::script {

struct ScriptStats {
    size_t tables = 0;
    uint64_t rows = 0;
    // CREATE VIEW and CREATE PROCEDURE statements, as written: they are run
    // on the finished file (the writer makes tables only).
    std::vector<std::string> deferred;
};

// Runs `text` against `writer`. Errors name the line. The writer is left
// unfinished; call finish() on success.
Result<ScriptStats> runCreateScript(jet::DatabaseWriter& writer, std::string_view text);

// Reads the file at `scriptPath` and writes the database `outPath`.
Result<ScriptStats> createDatabaseFromScript(const std::string& outPath,
                                             const std::string& scriptPath,
                                             const jet::CreateOptions& options = {});

}  // namespace tab::script
