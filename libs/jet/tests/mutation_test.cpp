// Damaged copies of real files: random overwrites, truncations and extreme
// counts. Whatever the damage, reading must not crash (this test runs under
// the sanitizers), every failure must be an Error with a message, and a
// truncated file must not produce rows the whole file does not have.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tabulary/jet/database.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value_text.h"
#include "test_corpus.h"

namespace tab::jet {
namespace {

namespace fs = std::filesystem;

// Fixed, so a failure reproduces; TABULARY_MUTATION_SEED tries other mutants.
uint32_t baseSeed() {
    if (const char* env = std::getenv("TABULARY_MUTATION_SEED"); env && *env)
        return static_cast<uint32_t>(std::strtoul(env, nullptr, 0));
    return 0x7AB51A27u;
}

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

// What one read of an image saw.
struct Scan {
    bool opened = false;
    std::map<uint32_t, uint64_t> rows;  // live rows by TDEF page
    uint64_t totalRows = 0;
    std::vector<std::string> faults;  // broken promises, not mere damage reports
};

void checkError(Scan& s, const Error& e, const std::string& where) {
    if (e.message().empty()) s.faults.push_back(where + ": error without a message");
}

// Open, catalogue, every table's definition and rows, every value as text.
Scan scanImage(std::vector<uint8_t> image) {
    Scan s;
    // Each page yields at most one result per row slot plus one page error,
    // so a cursor that goes on longer than this loops.
    const uint64_t maxCalls = (image.size() / 2048 + 1) * 2048 + 1;
    try {
        OpenOptions options;
        options.checkPassword = false;
        auto db = Database::openMemory(std::move(image), options);
        if (!db.ok()) {
            checkError(s, db.error(), "open");
            return s;
        }
        s.opened = true;
        for (const CatalogObject& o : (*db)->catalog().objects) {
            if (o.kind != ObjectKind::UserTable && o.kind != ObjectKind::SystemTable) continue;
            auto def = (*db)->tableAtPage(o.tdefPage(), o.name);
            if (!def.ok()) {
                checkError(s, def.error(), "table " + o.name);
                continue;
            }
            if (s.rows.count(o.tdefPage())) continue;
            TableCursor cursor(**db, *def);
            uint64_t rows = 0;
            std::string text;
            for (uint64_t calls = 0;; ++calls) {
                if (calls > maxCalls) {
                    s.faults.push_back("cursor of " + o.name + " does not end");
                    break;
                }
                auto more = cursor.next();
                if (!more.ok()) {
                    checkError(s, more.error(), "rows of " + o.name);
                    continue;
                }
                if (!*more) break;
                ++rows;
                for (const Value& v : cursor.values()) appendValueText(text, v);
                text.clear();
            }
            s.rows[o.tdefPage()] = rows;
            s.totalRows += rows;
        }
    } catch (const std::exception& e) {
        s.faults.push_back(std::string("exception: ") + e.what());
    }
    return s;
}

std::string faultText(const Scan& s) {
    std::string out;
    for (const auto& f : s.faults) out += "\n  " + f;
    return out;
}

// Small files of each generation, with overflow rows, long values, complex
// and calculated columns among them.
const char* const kFiles[] = {
    "jackcess/V1997/testV1997.mdb",
    "jackcess/V2003/overflowTestV2003.mdb",
    "jackcess/V2007/complexDataTestV2007.accdb",
    "mdb-reader/V2016/longtext.accdb",
};

class Mutation : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        fs::path path = corpusRoot() / "files" / GetParam();
        if (!fs::exists(path))
            GTEST_SKIP() << "corpus file not found: " << path << " (set TABULARY_CORPUS)";
        m_image = readFile(path);
        ASSERT_GE(m_image.size(), 4096u);
        const bool jet3 = m_image[0x14] == 0x00;
        m_format = Format::forVersion(jet3 ? JetVersion::Jet3 : JetVersion::Jet4);
        m_pageSize = m_format.pageSize;

        // The catalogue: MSysObjects (TDEF page 2), its usage map on page 1,
        // MSysQueries, and their data pages.
        {
            auto db = Database::openMemory(m_image);
            ASSERT_TRUE(db.ok()) << GetParam() << ": " << db.error().message();
            std::set<uint32_t> owners = {2};
            if (const CatalogObject* q =
                    (*db)->catalog().find("MSysQueries", ObjectKind::SystemTable))
                owners.insert(q->tdefPage());
            m_cataloguePages = owners;
            m_cataloguePages.insert({0, 1});
            for (uint32_t p : pagesOfType(0x01)) {
                const uint8_t* h = m_image.data() + size_t{p} * m_pageSize;
                uint32_t owner = h[4] | (h[5] << 8) | (h[6] << 16) | (uint32_t{h[7]} << 24);
                if (owners.count(owner)) m_cataloguePages.insert(p);
            }
        }

        m_intact = scanImage(m_image);
        ASSERT_TRUE(m_intact.opened) << GetParam() << " does not open";
        ASSERT_TRUE(m_intact.faults.empty()) << faultText(m_intact);
        ASSERT_GT(m_intact.totalRows, 0u);

        uint32_t seed = baseSeed();
        for (const char* p = GetParam(); *p; ++p) seed = seed * 31 + static_cast<uint8_t>(*p);
        m_rng.seed(seed);
        std::printf("mutation seed %#x for %s\n", seed, GetParam());
        RecordProperty("mutation_seed", std::to_string(seed));
    }

    uint32_t random(uint32_t n) { return static_cast<uint32_t>(m_rng() % n); }

    // Pages whose type byte is `type`, excluding the header page.
    std::vector<uint32_t> pagesOfType(uint8_t type) const {
        std::vector<uint32_t> out;
        for (size_t off = m_pageSize; off + m_pageSize <= m_image.size(); off += m_pageSize)
            if (m_image[off] == type) out.push_back(static_cast<uint32_t>(off / m_pageSize));
        return out;
    }

    // Up to `n` of `pages`, always including `first` if it is among them.
    std::vector<uint32_t> pick(std::vector<uint32_t> pages, size_t n, uint32_t first) {
        std::vector<uint32_t> out;
        for (size_t i = 0; i < pages.size(); ++i)
            if (pages[i] == first) {
                out.push_back(first);
                pages.erase(pages.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        while (out.size() < n && !pages.empty()) {
            size_t i = random(static_cast<uint32_t>(pages.size()));
            out.push_back(pages[i]);
            pages.erase(pages.begin() + static_cast<std::ptrdiff_t>(i));
        }
        return out;
    }

    std::vector<uint8_t> m_image;
    Format m_format;
    uint32_t m_pageSize = 4096;
    std::set<uint32_t> m_cataloguePages;
    Scan m_intact;
    std::mt19937 m_rng;
};

TEST_P(Mutation, RandomOverwrites) {
    // Page 0 is always spared, so that mutants get past the header. Damage to
    // the catalogue fails the whole open, so every other round spares its
    // pages too and lets the damage reach the other tables.
    std::vector<size_t> anywhere, beyondCatalogue;
    for (size_t off = m_pageSize; off < m_image.size(); ++off) {
        anywhere.push_back(off);
        if (!m_cataloguePages.count(static_cast<uint32_t>(off / m_pageSize)))
            beyondCatalogue.push_back(off);
    }
    ASSERT_FALSE(beyondCatalogue.empty());
    int readRows = 0;
    for (int round = 0; round < 50; ++round) {
        const std::vector<size_t>& targets = round % 2 ? beyondCatalogue : anywhere;
        std::vector<uint8_t> img = m_image;
        for (size_t k = 0; k < std::max<size_t>(1, targets.size() / 100); ++k)
            img[targets[random(static_cast<uint32_t>(targets.size()))]] =
                static_cast<uint8_t>(m_rng());
        Scan s = scanImage(std::move(img));
        EXPECT_TRUE(s.faults.empty()) << "round " << round << faultText(s);
        readRows += s.totalRows > 0;
    }
    // Otherwise the rounds above tested nothing but the catalogue check.
    EXPECT_GT(readRows, 5);
}

TEST_P(Mutation, TruncatedFileReadsFewerRowsOrFails) {
    const size_t size = m_image.size();
    const size_t ps = m_pageSize;
    const size_t cuts[] = {
        0,          1,      2047,     2048,           ps,        ps + 1,        2 * ps,
        3 * ps - 1, 3 * ps, size / 2, size / 2 + 123, size - ps, size - ps + 7, size - 1};
    for (size_t cut : cuts) {
        std::vector<uint8_t> img(m_image.begin(),
                                 m_image.begin() + static_cast<std::ptrdiff_t>(cut));
        Scan s = scanImage(std::move(img));
        EXPECT_TRUE(s.faults.empty()) << "cut at " << cut << faultText(s);
        if (cut < 2048) {
            EXPECT_FALSE(s.opened) << "cut at " << cut;
        }
        if (!s.opened) continue;
        for (const auto& [page, rows] : s.rows) {
            auto it = m_intact.rows.find(page);
            if (it == m_intact.rows.end()) {
                ADD_FAILURE() << "cut at " << cut << ": table at page " << page
                              << " that the whole file does not list";
                continue;
            }
            EXPECT_LE(rows, it->second) << "cut at " << cut << ": table at page " << page;
        }
        EXPECT_LE(s.totalRows, m_intact.totalRows) << "cut at " << cut;
    }
}

TEST_P(Mutation, ExtremeCounts) {
    const Format& f = m_format;
    auto put16 = [](std::vector<uint8_t>& img, size_t off, uint32_t v) {
        img[off] = static_cast<uint8_t>(v);
        img[off + 1] = static_cast<uint8_t>(v >> 8);
    };
    auto put32 = [&](std::vector<uint8_t>& img, size_t off, uint32_t v) {
        put16(img, off, v);
        put16(img, off + 2, v >> 16);
    };
    struct Field {
        uint8_t pageType;
        uint32_t offset;
        int width;
        std::vector<uint32_t> values;
        const char* what;
    };
    const uint32_t rowsFit = (m_pageSize - f.dataRowsOffset) / 2;
    const Field fields[] = {
        {0x01,
         f.dataRowCountOffset,
         2,
         {0, 1, 255, 256, rowsFit, rowsFit + 1, 0xFFFF},
         "row count"},
        {0x02, f.tdefNumCols, 2, {0, 1, 255, 4096, 4097, 0xFFFF}, "column count"},
        {0x02, f.tdefVarCols, 2, {0, 0xFFFF}, "variable column count"},
        {0x02, f.tdefNumIdx, 4, {1024, 1025, 0xFFFFFFFF}, "index count"},
        {0x02, f.tdefNumRealIdx, 4, {1024, 1025, 0xFFFFFFFF}, "real index count"},
    };
    // The catalogue's own pages first (its TDEF is page 2), then a few others.
    for (const Field& field : fields) {
        std::vector<uint32_t> candidates = pagesOfType(field.pageType);
        uint32_t first = 2;
        if (field.pageType == 0x01)
            for (uint32_t p : candidates)
                if (m_image[size_t{p} * m_pageSize + 4] == 2) {
                    first = p;
                    break;
                }
        for (uint32_t page : pick(candidates, 4, first)) {
            for (uint32_t v : field.values) {
                std::vector<uint8_t> img = m_image;
                size_t off = size_t{page} * m_pageSize + field.offset;
                if (field.width == 2)
                    put16(img, off, v);
                else
                    put32(img, off, v);
                Scan s = scanImage(std::move(img));
                EXPECT_TRUE(s.faults.empty())
                    << field.what << " " << v << " on page " << page << faultText(s);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(CorpusFiles, Mutation, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             std::string name = fs::path(p.param).stem().string();
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace tab::jet
