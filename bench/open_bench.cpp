// Cost of opening a database: header, page layout and the whole catalogue,
// which is what the GUI pays before it can show the table list.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "tabulary/jet/database.h"

namespace {

std::string benchFile() {
    const char* env = std::getenv("TABULARY_BENCH_FILE");
    return env && *env ? std::string(env) : std::string(TABULARY_BENCH_DEFAULT_FILE);
}

void BM_Open(benchmark::State& state) {
    const std::string path = benchFile();
    size_t objects = 0;
    for (auto _ : state) {
        auto db = tab::jet::Database::open(path);
        if (!db.ok()) {
            state.SkipWithError(db.error().message().c_str());
            break;
        }
        objects = (*db)->catalog().objects.size();
        benchmark::DoNotOptimize(objects);
    }
    state.counters["objects"] = static_cast<double>(objects);
}
BENCHMARK(BM_Open)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
