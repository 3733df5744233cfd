// change_bench: statements that change the benchmark database, each on a
// fresh copy of it (make-bench-db: Big has a million rows and three indexes).
// Prints the time of each, the pages written and the journal's size, and
// whether it met its target.
//
//   change_bench [FILE] [--inserts N]
//
// The single-row INSERT is timed twice: without the final sync of the
// journal and the file (the target), and with it (what the sync adds).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "tabulary/ado/connection.h"
#include "tabulary/ado/query.h"
#include "tabulary/jet/change.h"

using namespace tab;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

struct Outcome {
    double ms = 0;
    int32_t affected = 0;
    jet::ChangeStats stats;
    std::string error;
};

Outcome run(const std::string& file, const std::string& sql, bool durable) {
    Outcome o;
    ado::Connection conn;
    if (auto st = conn.openFile(file, ""); !st.ok()) {
        o.error = st.error().message();
        return o;
    }
    ado::QueryOptions options;
    options.durable = durable;
    options.onCommit = [&](const jet::ChangeStats& s) { o.stats = s; };
    const auto t = Clock::now();
    auto n = ado::execute(conn, sql, options);
    o.ms = msSince(t);
    if (!n.ok())
        o.error = n.error().message();
    else
        o.affected = *n;
    return o;
}

std::string mib(uint64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return buf;
}

void print(const char* name, const Outcome& o, double targetMs) {
    if (!o.error.empty()) {
        std::printf("%-28s FAILED: %s\n", name, o.error.c_str());
        return;
    }
    std::printf(
        "%-28s %10.1f ms  %8d rows  %7llu pages written  journal %10s  target %6.0f ms  %s\n", name,
        o.ms, o.affected, static_cast<unsigned long long>(o.stats.pagesWritten),
        mib(o.stats.journalBytes).c_str(), targetMs, o.ms <= targetMs ? "PASS" : "MISS");
}

}  // namespace

int main(int argc, char** argv) {
    std::string source = TABULARY_CHANGE_BENCH_DEFAULT_FILE;
    int inserts = 200;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--inserts" && i + 1 < argc)
            inserts = std::max(1, std::atoi(argv[++i]));
        else
            source = a;
    }
    if (!fs::exists(source)) {
        std::fprintf(stderr, "change_bench: %s not found (build the target change_bench_db)\n",
                     source.c_str());
        return 1;
    }
    const fs::path dir = fs::path(source).parent_path();
    const std::string copy =
        (dir / ("change-bench-copy-" + std::to_string(::getpid()) + ".mdb")).string();
    auto fresh = [&] { fs::copy_file(source, copy, fs::copy_options::overwrite_existing); };
    std::printf("change_bench on copies of %s (%s)\n", source.c_str(),
                mib(fs::file_size(source)).c_str());

    // Single-row INSERTs into Big (three indexes), each its own statement on
    // an open connection, the way a client issues them.
    for (bool durable : {false, true}) {
        fresh();
        ado::Connection conn;
        if (!conn.openFile(copy, "").ok()) return 1;
        ado::QueryOptions options;
        options.durable = durable;
        jet::ChangeStats last;
        options.onCommit = [&](const jet::ChangeStats& s) { last = s; };
        std::vector<double> times;
        for (int i = 0; i < inserts; ++i) {
            const std::string sql =
                "INSERT INTO Big (CustomerID, Name, City, Qty, Price, Amount, Created, Active) "
                "VALUES (" +
                std::to_string(1 + i * 37 % 100000) + ", 'Bench " + std::to_string(i) +
                "', 'Berlin', 3, 9.5, 28.5, #2026-12-09#, True)";
            const auto t = Clock::now();
            auto n = ado::execute(conn, sql, options);
            times.push_back(msSince(t));
            if (!n.ok()) {
                std::printf("single-row INSERT FAILED: %s\n", n.error().message().c_str());
                return 1;
            }
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        std::printf(
            "%-28s %10.3f ms median of %d (p90 %.3f ms)  %llu pages written  journal %s  "
            "target 1 ms  %s\n",
            durable ? "single-row INSERT, synced" : "single-row INSERT, no sync", median, inserts,
            times[times.size() * 9 / 10], static_cast<unsigned long long>(last.pagesWritten),
            mib(last.journalBytes).c_str(),
            durable ? "(what the sync adds)" : (median <= 1.0 ? "PASS" : "MISS"));
    }

    struct Statement {
        const char* name;
        const char* sql;
        double targetMs;
    } statements[] = {
        {"UPDATE 1M rows, one column", "UPDATE Big SET Qty = Qty + 1", 15000},
        {"INSERT ... SELECT 100k rows",
         "INSERT INTO Big (CustomerID, Name, City, Qty, Price, Amount, Created, Active, Notes) "
         "SELECT TOP 100000 CustomerID, Name, City, Qty, Price, Amount, Created, Active, Notes "
         "FROM Big ORDER BY ID",
         5000},
        {"DELETE half of 1M rows", "DELETE FROM Big WHERE ID Mod 2 = 0", 10000},
    };
    for (const Statement& s : statements) {
        fresh();
        print(s.name, run(copy, s.sql, false), s.targetMs);
        fresh();
        Outcome synced = run(copy, s.sql, true);
        std::printf("%-28s %10.1f ms  with every sync\n", "", synced.ms);
    }
    fs::remove(copy);
    return 0;
}
