// Encrypted databases: the benchmark table's file protected with each Office
// scheme (written once into the build tree), then, for the plain file and
// each encrypted copy, opening and listing the tables (key derivation
// included) and a full scan of the big table decoding every column. Prints
// medians, the scan's slowdown against the plain file and PASS/MISS against
// the targets: an agile file (100,000 spins) open and listed under 300 ms,
// an encrypted scan at least half as fast as the plain one.
//
//   crypto_bench [FILE] [--runs N]    FILE: an unencrypted .accdb
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tabulary/jet/database.h"
#include "tabulary/jet/encrypt.h"
#include "tabulary/jet/table_cursor.h"

namespace fs = std::filesystem;
using namespace tab::jet;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPassword = "bench password";

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Figures {
    double openMs = 0, scanMs = 0;
    uint64_t rows = 0;
    size_t tables = 0;
    std::string error;
};

// The user tables' names, as the table list shows them.
size_t listTables(Database& db) {
    return db.catalog().ofKind(ObjectKind::UserTable).size();
}

Figures measure(const std::string& path, const std::string& password, const std::string& table,
                int runs) {
    Figures f;
    OpenOptions options;
    options.password = password;
    std::vector<double> opens, scans;
    for (int r = 0; r < runs; ++r) {
        const auto t = Clock::now();
        auto db = Database::open(path, options);
        if (!db.ok()) {
            f.error = db.error().message();
            return f;
        }
        f.tables = listTables(**db);
        opens.push_back(msSince(t));
    }
    auto db = Database::open(path, options);
    auto def = (*db)->table(table);
    if (!def.ok()) {
        f.error = def.error().message();
        return f;
    }
    for (int r = 0; r < runs; ++r) {
        // A fresh open each time: no page is decoded before the scan.
        auto fresh = Database::open(path, options);
        auto d = (*fresh)->table(table);
        const auto t = Clock::now();
        TableCursor cur(**fresh, *d);
        uint64_t rows = 0;
        while (true) {
            auto more = cur.next();
            if (!more.ok()) {
                f.error = more.error().message();
                return f;
            }
            if (!*more) break;
            ++rows;
        }
        scans.push_back(msSince(t));
        f.rows = rows;
    }
    f.openMs = median(opens);
    f.scanMs = median(scans);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    std::string source = TABULARY_CRYPTO_BENCH_DEFAULT_FILE;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            source = a;
    }
    if (!fs::exists(source)) {
        std::fprintf(stderr, "crypto_bench: %s not found\n", source.c_str());
        return 1;
    }
    const fs::path dir = TABULARY_CRYPTO_BENCH_DIR;
    const std::string table = "Big";
    std::printf("crypto_bench on %s (%.1f MiB), table %s, median of %d\n", source.c_str(),
                static_cast<double>(fs::file_size(source)) / (1 << 20), table.c_str(), runs);

    const Figures plain = measure(source, "", table, runs);
    if (!plain.error.empty()) {
        std::printf("plain file FAILED: %s\n", plain.error.c_str());
        return 1;
    }
    std::printf("%-12s open+list %8.1f ms  scan %8.1f ms  %llu rows  %zu tables\n", "plain",
                plain.openMs, plain.scanMs, static_cast<unsigned long long>(plain.rows),
                plain.tables);
    bool ok = true;
    for (EncryptionScheme s : {EncryptionScheme::Agile, EncryptionScheme::AgileSha1,
                               EncryptionScheme::StandardAes, EncryptionScheme::Rc4CryptoApi}) {
        const fs::path copy =
            dir / (fs::path(source).stem().string() + "-" + schemeName(s) + ".accdb");
        if (fs::exists(copy) && fs::last_write_time(copy) < fs::last_write_time(source))
            fs::remove(copy);
        if (!fs::exists(copy)) {
            const auto t = Clock::now();
            auto st = encryptDatabase(source, copy.string(), kPassword, s);
            if (!st.ok()) {
                std::printf("%-12s encrypting FAILED: %s\n", schemeName(s),
                            st.error().message().c_str());
                ok = false;
                continue;
            }
            std::printf("%-12s written in %.0f ms\n", schemeName(s), msSince(t));
        }
        const Figures f = measure(copy.string(), kPassword, table, runs);
        if (!f.error.empty()) {
            std::printf("%-12s FAILED: %s\n", schemeName(s), f.error.c_str());
            ok = false;
            continue;
        }
        const double slowdown = f.scanMs / plain.scanMs;
        const bool agile = s == EncryptionScheme::Agile;
        const bool pass = slowdown <= 2.0 && (!agile || f.openMs < 300.0) && f.rows == plain.rows &&
                          f.tables == plain.tables;
        std::printf(
            "%-12s open+list %8.1f ms%s  scan %8.1f ms  %.2fx the plain scan (target 2x)  %llu "
            "rows  %s\n",
            schemeName(s), f.openMs, agile ? " (target 300 ms)" : "", f.scanMs, slowdown,
            static_cast<unsigned long long>(f.rows), pass ? "PASS" : "MISS");
    }
    return ok ? 0 : 1;
}
