// sql_bench: Access SQL on the benchmark database, the way the program runs a
// query: every run opens a fresh connection, translates the statement and
// reads the whole recordset. One warm-up, then the median of N runs. Each
// query runs in its own child process so that its peak RSS is its own.
// Where mdb-sql can run the same statement it is timed in the same run (the
// whole process, output to /dev/null) and the ratio printed.
//
//   sql_bench [FILE] [--runs N] [--peer-runs N] [--no-peer] [--only NAME[,NAME...]]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tabulary/ado/connection.h"
#include "tabulary/ado/connection_string.h"
#include "tabulary/ado/query.h"
#include "tabulary/ado/recordset.h"
#include "tabulary/ado/schema.h"
#include "tabulary/sqlbridge/jet_vtab.h"

using namespace tab;

namespace {

// All: every row read; FieldsOnly: the statement prepared, its fields
// listed; Catalogue: only the connection and its table list, as the window
// shows it after opening.
enum class Fill { All, FieldsOnly, Catalogue };

struct Query {
    const char* name;
    const char* sql;
    double targetMs;  // 0: no target, shown for comparison only
    bool useIndexes = true;
    Fill fill = Fill::All;
    const char* peer = "n/a";  // "yes": mdb-sql understands it; otherwise why not
};

// Each of the 100,000 customers has about ten rows in Big.
const Query kQueries[] = {
    {"open-catalogue", "", 10, true, Fill::Catalogue},
    {"select-all", "SELECT * FROM Big", 700, true, Fill::All, "yes"},
    {"count", "SELECT Count(*) FROM Big", 5000, true, Fill::All},
    {"group-one", "SELECT City, Count(*) AS Orders FROM Big GROUP BY City", 5000},
    {"where-indexed", "SELECT * FROM Big WHERE CustomerID = 4242", 10, true, Fill::All, "yes"},
    {"where-no-index", "SELECT * FROM Big WHERE CustomerID = 4242", 0, false, Fill::All,
     "as where-indexed"},
    {"group-by",
     "SELECT City, Count(*) AS Orders, Sum(Amount) AS Total, Sum(Qty) AS Items FROM Big "
     "GROUP BY City",
     1000},
    {"join",
     "SELECT c.Name, b.Amount FROM Customer AS c INNER JOIN Big AS b "
     "ON c.CustomerID = b.CustomerID",
     1000},
    {"fields-only", "SELECT * FROM Big", 20, true, Fill::FieldsOnly},
};

struct Figures {
    std::vector<double> ms;
    int64_t rows = 0;
    long peakKib = 0;
    std::string plan;  // per table: scans, index lookups, rows read
    std::string error;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// One run: fresh connection, translation, every row read (or only the
// fields). With `plan`, what each table did is described there.
std::optional<std::string> runOnce(const std::string& connStr, const Query& q, int64_t& rows,
                                   std::string* plan) {
    ado::Connection conn;
    if (auto st = conn.open(connStr); !st.ok()) return st.error().message();
    if (q.fill == Fill::Catalogue) {
        rows = static_cast<int64_t>(ado::tablesSchema(conn.database()->catalog()).size());
        return std::nullopt;
    }
    ado::QueryOptions options;
    options.useIndexes = q.useIndexes;
    if (plan)
        options.onFinished = [plan](const sqlbridge::JetTables& tables) {
            for (const auto& name : tables.tableNames()) {
                sqlbridge::TableStats st = tables.stats(name);
                if (!st.rowsRead && !st.indexScans && !st.fullScans) continue;
                *plan += (plan->empty() ? "" : "; ") + name + ": " + std::to_string(st.fullScans) +
                         " scans, " + std::to_string(st.indexScans) + " index lookups, " +
                         std::to_string(st.rowsRead) + " rows read";
            }
        };
    auto rs = ado::openRecordset(conn, q.sql, options);
    if (!rs.ok()) return rs.error().message();
    if (q.fill == Fill::FieldsOnly) {
        rows = static_cast<int64_t>(rs->fields().size());
        return std::nullopt;
    }
    auto n = rs->recordCount();
    if (!n.ok()) return n.error().message();
    rows = *n;
    return std::nullopt;
}

void writeAll(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t w = ::write(fd, s.data() + done, s.size() - done);
        if (w <= 0) return;
        done += static_cast<size_t>(w);
    }
}

std::string readAll(int fd) {
    std::string s;
    char buf[4096];
    ssize_t r;
    while ((r = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(r));
    return s;
}

// Runs the query in a child process; the child reports "rows ms ms ..." or
// "! message" through a pipe, its peak RSS comes from wait4.
Figures measureOurs(const std::string& connStr, const Query& q, int runs) {
    Figures f;
    int fds[2];
    if (::pipe(fds) != 0) {
        f.error = "pipe failed";
        return f;
    }
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) {
        f.error = "fork failed";
        return f;
    }
    if (pid == 0) {
        ::close(fds[0]);
        std::ostringstream out;
        int64_t rows = 0;
        std::string plan;
        for (int i = 0; i <= runs; ++i) {
            auto t0 = std::chrono::steady_clock::now();
            if (auto err = runOnce(connStr, q, rows, i == 0 ? &plan : nullptr)) {
                writeAll(fds[1], "! " + *err);
                ::_exit(1);
            }
            double ms = since(t0);
            if (i == 0) {
                out << rows;
                continue;  // warm-up
            }
            out << ' ' << ms;
        }
        out << '\n' << plan;
        writeAll(fds[1], out.str());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string report = readAll(fds[0]);
    ::close(fds[0]);
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    f.peakKib = ru.ru_maxrss;
    if (report.rfind("! ", 0) == 0) {
        f.error = report.substr(2);
        return f;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        f.error = "child died (status " + std::to_string(status) + ")";
        return f;
    }
    std::istringstream in(report);
    std::string times;
    std::getline(in, times);
    std::getline(in, f.plan);
    std::istringstream t(times);
    t >> f.rows;
    for (double ms; t >> ms;) f.ms.push_back(ms);
    if (f.ms.size() != static_cast<size_t>(runs)) f.error = "incomplete report: " + report;
    return f;
}

std::string findOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// One mdb-sql process: the statement on stdin, rows to outFd. Returns the
// wall time; the child's peak RSS and stderr text through the out-parameters.
std::optional<double> runPeer(const std::string& mdbSql, const std::string& file,
                              const std::string& sqlFile, int outFd, long& peakKib,
                              std::string& err) {
    int errPipe[2];
    if (::pipe(errPipe) != 0) return std::nullopt;
    auto t0 = std::chrono::steady_clock::now();
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        int in = ::open(sqlFile.c_str(), O_RDONLY);
        if (in < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(outFd, 1);
        ::dup2(errPipe[1], 2);
        ::close(errPipe[0]);
        // -H no header, -F no footer, -P plain tab-separated rows
        ::execl(mdbSql.c_str(), "mdb-sql", "-HFP", file.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(errPipe[1]);
    err = readAll(errPipe[0]);
    ::close(errPipe[0]);
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    double ms = since(t0);
    peakKib = ru.ru_maxrss;
    // mdb-sql exits 0 after a syntax error; its message says so.
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        err = "mdb-sql status " + std::to_string(status) + ": " + err;
        return std::nullopt;
    }
    if (err.find("Got no result") != std::string::npos) return std::nullopt;
    return ms;
}

// Warm-up through a pipe (to count the rows), then timed runs into /dev/null.
Figures measurePeer(const std::string& mdbSql, const std::string& file, const Query& q, int runs) {
    Figures f;
    const std::string tmp = std::filesystem::temp_directory_path().string();
    std::string sqlFile = tmp + "/sql_bench_XXXXXX";
    int fd = ::mkstemp(sqlFile.data());
    if (fd < 0) {
        f.error = "mkstemp failed";
        return f;
    }
    writeAll(fd, std::string(q.sql) + "\n");
    ::close(fd);
    std::string countFile = tmp + "/sql_bench_out_XXXXXX";
    int out = ::mkstemp(countFile.data());
    std::string err;
    long kib = 0;
    if (out < 0 || !runPeer(mdbSql, file, sqlFile, out, kib, err)) {
        f.error = err.empty() ? "mdb-sql failed" : err.substr(0, err.find('\n'));
    } else {
        ::lseek(out, 0, SEEK_SET);
        std::string text = readAll(out);
        // one row per line; mdb-sql starts with an empty line
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) ++f.rows;
        int devNull = ::open("/dev/null", O_WRONLY);
        for (int i = 0; i < runs && f.error.empty(); ++i) {
            auto ms = runPeer(mdbSql, file, sqlFile, devNull, kib, err);
            if (!ms) {
                f.error = err;
                break;
            }
            f.ms.push_back(*ms);
            f.peakKib = std::max(f.peakKib, kib);
        }
        ::close(devNull);
    }
    if (out >= 0) ::close(out);
    ::unlink(countFile.c_str());
    ::unlink(sqlFile.c_str());
    return f;
}

int usage() {
    std::fputs(
        "usage: sql_bench [FILE] [--runs N] [--peer-runs N] [--no-peer] [--only NAME[,NAME...]]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string file = TABULARY_SQL_BENCH_DEFAULT_FILE;
    int runs = 5, peerRuns = 5;
    bool peer = true;
    std::string only;  // comma-separated query names; empty: all
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--runs" || a == "--peer-runs") && i + 1 < argc) {
            int n = std::atoi(argv[++i]);
            if (n < 1) return usage();
            (a == "--runs" ? runs : peerRuns) = n;
        } else if (a == "--only" && i + 1 < argc) {
            only = argv[++i];
        } else if (a == "--no-peer") {
            peer = false;
        } else if (!a.empty() && a[0] == '-') {
            return usage();
        } else {
            file = a;
        }
    }
    if (::access(file.c_str(), R_OK) != 0) {
        std::fprintf(stderr,
                     "sql_bench: cannot read %s (make-bench-db OUT writes it; the build "
                     "target sql_bench_db puts it in the build tree)\n",
                     file.c_str());
        return 2;
    }
    std::string mdbSql = peer ? findOnPath("mdb-sql") : std::string();
    std::string connStr = ado::buildConnectionString(file, "");

    std::printf("file: %s\n", file.c_str());
    std::printf("ours: fresh connection + translation + every row read, 1 warm-up + median of %d\n",
                runs);
    if (!mdbSql.empty())
        std::printf("mdb-sql: whole process, rows to /dev/null, 1 warm-up + median of %d\n",
                    peerRuns);
    else
        std::printf("mdb-sql: %s\n", peer ? "not installed" : "skipped (--no-peer)");
    std::printf("\n%-15s %9s %9s %9s %8s %9s %9s %-6s %s\n", "query", "median ms", "min", "max",
                "rows", "peak MiB", "target", "", "mdb-sql");

    int missed = 0, failed = 0;
    double indexed = 0, scanned = 0;
    for (const Query& q : kQueries) {
        if (!only.empty() &&
            ("," + only + ",").find("," + std::string(q.name) + ",") == std::string::npos)
            continue;
        Figures f = measureOurs(connStr, q, runs);
        if (!f.error.empty()) {
            std::printf("%-15s FAILED: %s\n", q.name, f.error.c_str());
            ++failed;
            continue;
        }
        double med = median(f.ms);
        auto [lo, hi] = std::minmax_element(f.ms.begin(), f.ms.end());
        char target[32] = "-";
        const char* verdict = "";
        if (q.targetMs > 0) {
            std::snprintf(target, sizeof target, "< %g", q.targetMs);
            verdict = med < q.targetMs ? "PASS" : "MISS";
            if (med >= q.targetMs) ++missed;
        }
        if (std::strcmp(q.name, "where-indexed") == 0) indexed = med;
        if (std::strcmp(q.name, "where-no-index") == 0) scanned = med;
        std::string peerText = q.peer;
        if (mdbSql.empty()) {
            peerText = "-";
        } else if (std::strcmp(q.peer, "yes") == 0) {
            Figures p = measurePeer(mdbSql, file, q, peerRuns);
            char buf[160];
            if (!p.error.empty()) {
                std::snprintf(buf, sizeof buf, "failed: %.100s", p.error.c_str());
            } else {
                double pm = median(p.ms);
                std::snprintf(buf, sizeof buf, "%.1f ms, %lld rows, %.1f MiB, ratio %.1fx", pm,
                              static_cast<long long>(p.rows), p.peakKib / 1024.0,
                              med > 0 ? pm / med : 0.0);
            }
            peerText = buf;
        }
        std::printf("%-15s %9.1f %9.1f %9.1f %8lld %9.1f %9s %-6s %s\n", q.name, med, *lo, *hi,
                    static_cast<long long>(f.rows), f.peakKib / 1024.0, target, verdict,
                    peerText.c_str());
        if (!f.plan.empty()) std::printf("%15s   %s\n", "", f.plan.c_str());
        std::fflush(stdout);
    }
    if (indexed > 0 && scanned > 0)
        std::printf(
            "\nindex effect on where: %.1f ms with the CustomerID index, %.1f ms without "
            "(%.0fx)\n",
            indexed, scanned, scanned / indexed);
    std::printf("fields-only: rows column is the number of fields; open-catalogue: of tables\n");
    std::printf("mdb-sql n/a: aggregates, JOIN and field listing are outside its SQL\n");
    if (failed || missed) std::printf("%d failed, %d missed their target\n", failed, missed);
    return failed ? 1 : 0;
}
