// Small databases for the change-engine tests: made by DatabaseWriter in a
// temporary folder and handed over as bytes for Database::openMemory, plus
// the checker's findings as one text.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "tabulary/jet/check.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/writer.h"

namespace tab::jet::testing {

struct TableRows {
    TableSpec spec;
    std::vector<std::vector<Value>> rows;
};

// The image of a new database holding `tables`; empty (with a test failure)
// when the writer refuses.
inline std::vector<uint8_t> makeImage(const std::vector<TableRows>& tables) {
    namespace fs = std::filesystem;
    static int serial = 0;
    fs::path dir = fs::temp_directory_path() /
                   ("tabulary-edit-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
    fs::create_directories(dir);
    std::string path = (dir / "db.mdb").string();
    std::vector<uint8_t> image;
    {
        CreateOptions options;
        options.durable = false;
        options.objectDate = 45000;
        auto w = DatabaseWriter::create(path, options);
        EXPECT_TRUE(w.ok()) << (w.ok() ? "" : w.error().message());
        if (w.ok()) {
            bool ok = true;
            for (const auto& t : tables) {
                auto handle = (*w)->addTable(t.spec);
                EXPECT_TRUE(handle.ok()) << (handle.ok() ? "" : handle.error().message());
                if (!handle.ok()) {
                    ok = false;
                    break;
                }
                for (const auto& r : t.rows) {
                    Status st = (*w)->appendRow(*handle, r);
                    EXPECT_TRUE(st.ok()) << (st.ok() ? "" : st.error().message());
                    if (!st.ok()) ok = false;
                }
            }
            Status st = ok ? (*w)->finish() : Status(Error(Errc::Internal, "not written"));
            EXPECT_TRUE(st.ok()) << st.error().message();
            if (st.ok()) {
                std::ifstream in(path, std::ios::binary);
                image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            }
        }
    }
    fs::remove_all(dir);
    return image;
}

inline std::unique_ptr<Database> openImage(std::vector<uint8_t> image) {
    auto db = Database::openMemory(std::move(image));
    EXPECT_TRUE(db.ok()) << (db.ok() ? "" : db.error().message());
    return db.ok() ? std::move(*db) : nullptr;
}

// Every problem the checker reports (warnings too), one per line.
inline std::string checkText(Database& db) {
    std::string out;
    for (const auto& p : checkDatabase(db).problems)
        out += (p.severity == CheckProblem::Severity::Error ? "E: " : "W: ") + p.message + "\n";
    return out;
}

inline ColumnSpec column(const std::string& name, ColumnType type, uint32_t size = 255) {
    ColumnSpec c;
    c.name = name;
    c.type = type;
    c.size = size;
    return c;
}

}  // namespace tab::jet::testing
