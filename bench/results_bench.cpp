// The documents of a large result as the workspace writes them: the rows are
// read once into memory (the grid's recordset), then each writer is timed
// over them. Usage: results_bench FILE [TABLE] [OUTDIR]
#include <sys/resource.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tabulary/ado/connection.h"
#include "tabulary/ado/query.h"
#include "tabulary/writers/text_documents.h"
#include "tabulary/writers/xlsx_workbook.h"

using namespace tab;
namespace fs = std::filesystem;

namespace {

// The recordset's rows, as the grid offers them, optionally only the first n.
class RecordsetRows : public writers::TableRows {
public:
    RecordsetRows(const ado::Recordset& rs, size_t limit)
        : m_rs(rs), m_limit(std::min(limit, rs.rowCount())) {}
    size_t columnCount() override { return m_rs.fields().size(); }
    void appendCaption(size_t c, std::string& out) override { out += m_rs.fields()[c].name; }
    Result<bool> nextRow() override { return ++m_row < m_limit; }
    void appendCell(size_t c, std::string& out) override { m_rs.appendCellText(m_row, c, out); }

private:
    const ado::Recordset& m_rs;
    size_t m_limit;
    size_t m_row = static_cast<size_t>(-1);
};

double seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long peakKib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: results_bench FILE [TABLE] [OUTDIR]\n");
        return 2;
    }
    const std::string table = argc > 2 ? argv[2] : "Big";
    const fs::path out = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path();
    ado::Connection conn;
    if (auto st = conn.openFile(argv[1], ""); !st.ok()) {
        std::fprintf(stderr, "%s\n", st.error().message().c_str());
        return 1;
    }
    auto t0 = std::chrono::steady_clock::now();
    auto rs = ado::openRecordset(conn, "SELECT * FROM [" + table + "]");
    if (!rs.ok()) {
        std::fprintf(stderr, "%s\n", rs.error().message().c_str());
        return 1;
    }
    if (Status st = rs->fill(); !st.ok()) {
        std::fprintf(stderr, "%s\n", st.error().message().c_str());
        return 1;
    }
    const size_t total = rs->rowCount();
    std::printf("%-30s %8.2f s  %zu rows, %zu columns, peak %ld MiB\n", "read the result",
                seconds(t0), total, rs->fields().size(), peakKib() / 1024);
    std::printf("%-30s %8.1f MB  (%.1f bytes per value)\n", "held by the recordset",
                static_cast<double>(rs->heldBytes()) / 1e6,
                total ? static_cast<double>(rs->heldBytes()) /
                            static_cast<double>(total * rs->fields().size())
                      : 0.0);

    struct Run {
        const char* name;
        const char* file;
        size_t rows;
        bool xlsx;
        writers::DocumentKind kind;
        double target;
    } runs[] = {
        {"CSV", "result.csv", total, false, writers::DocumentKind::GridCsv, 3},
        {"TXT", "result.txt", total, false, writers::DocumentKind::GridText, 3},
        {"XML", "result.xml", total, false, writers::DocumentKind::GridXml, 3},
        {"XLSX", "result.xlsx", total, true, writers::DocumentKind::GridText, 30},
    };
    int missed = 0;
    for (const Run& r : runs) {
        RecordsetRows source(*rs, r.rows);
        const fs::path path = out / r.file;
        const long before = peakKib();
        t0 = std::chrono::steady_clock::now();
        const Status st = r.xlsx ? writers::writeXlsxDocument(source, path.string())
                                 : writers::writeDocumentFile(r.kind, source, path.string());
        const double s = seconds(t0);
        if (!st.ok()) {
            std::fprintf(stderr, "%s: %s\n", r.name, st.error().message().c_str());
            return 1;
        }
        const bool met = s < r.target;
        missed += !met;
        std::printf("%-30s %8.2f s  %6.1f MB file, peak grew %ld MiB  (target < %.0f s: %s)\n",
                    (std::string(r.name) + " of " + std::to_string(r.rows) + " rows").c_str(), s,
                    static_cast<double>(fs::file_size(path)) / 1e6, (peakKib() - before) / 1024,
                    r.target, met ? "met" : "MISSED");
        fs::remove(path);
    }
    return missed ? 3 : 0;
}
