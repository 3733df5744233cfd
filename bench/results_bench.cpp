// The documents of a large result as the workspace writes them: the rows are
// read once into memory (the grid's recordset), then each writer is timed
// over them. Usage: results_bench FILE [TABLE] [OUTDIR]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/resource.h>

#include "tabulary/ado/connection.h"
#include "tabulary/ado/query.h"
#include "tabulary/ado/text.h"
#include "tabulary/writers/text_documents.h"
#include "tabulary/writers/xlsx_workbook.h"

using namespace tab;
namespace fs = std::filesystem;

namespace {

// The recordset's rows, as the grid offers them, optionally only the first n.
class RecordsetRows : public writers::TableRows {
public:
    RecordsetRows(const ado::Recordset& rs, const std::vector<std::vector<jet::Value>>& rows,
                  size_t limit)
        : m_rs(rs), m_rows(rows), m_limit(std::min(limit, rows.size())) {}
    size_t columnCount() override { return m_rs.fields().size(); }
    void appendCaption(size_t c, std::string& out) override { out += m_rs.fields()[c].name; }
    Result<bool> nextRow() override { return ++m_row < m_limit; }
    void appendCell(size_t c, std::string& out) override {
        ado::appendValueText(out, m_rows[m_row][c]);
    }

private:
    const ado::Recordset& m_rs;
    const std::vector<std::vector<jet::Value>>& m_rows;
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
    auto rows = rs->rows();
    if (!rows.ok()) {
        std::fprintf(stderr, "%s\n", rows.error().message().c_str());
        return 1;
    }
    const auto& all = **rows;
    std::printf("%-30s %8.2f s  %zu rows, %zu columns, peak %ld MiB\n", "read the result", seconds(t0),
                all.size(), rs->fields().size(), peakKib() / 1024);

    struct Run {
        const char* name;
        const char* file;
        size_t rows;
        bool xlsx;
        writers::DocumentKind kind;
        double target;
    } runs[] = {
        {"CSV", "result.csv", all.size(), false, writers::DocumentKind::GridCsv, 3},
        {"TXT", "result.txt", all.size(), false, writers::DocumentKind::GridText, 3},
        {"XML", "result.xml", all.size(), false, writers::DocumentKind::GridXml, 3},
        {"XLSX", "result.xlsx", all.size(), true, writers::DocumentKind::GridText, 30},
    };
    int missed = 0;
    for (const Run& r : runs) {
        RecordsetRows source(*rs, all, r.rows);
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
