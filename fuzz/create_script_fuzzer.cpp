// Fuzz target: the input is a create script. Whatever the script makes the
// writer accept must come out as a file our reader opens and the checker
// finds nothing wrong with; everything else must fail with a message.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"
#include "tabulary/script/create_script.h"

using namespace tab;

namespace {

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

std::string outputPath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/create-script-fuzz-" +
           std::to_string(::getpid()) + ".mdb";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;  // the writer's cost grows with rows, not with parsing
    static const std::string path = outputPath();
    jet::CreateOptions options;
    options.durable = false;
    options.objectDate = 46000;
    auto writer = jet::DatabaseWriter::create(path, options);
    if (!writer.ok()) die("cannot create " + path + ": " + writer.error().message());
    auto stats = script::runCreateScript(
        **writer, std::string_view(reinterpret_cast<const char*>(data), size));
    if (!stats.ok()) {
        if (stats.error().message().empty()) die("script error without a message");
        return 0;
    }
    auto finished = (*writer)->finish();
    if (!finished.ok()) die("finish failed: " + finished.error().message());
    auto db = jet::Database::open(path);
    if (!db.ok()) die("written file does not open: " + db.error().message());
    auto report = jet::checkDatabase(**db);
    if (!report.problems.empty()) die("checker found: " + report.problems.front().message);
    ::unlink(path.c_str());
    return 0;
}
