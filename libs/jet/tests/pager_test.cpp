// The pager's promises: a committed change is whole and leaves nothing beside
// the database; an abandoned one leaves the file as it was; a crash at any
// write of a change, followed by an open, gives the file exactly as before or
// as after, never a mix; and the locks keep other writers and Access out.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "../src/edit/file_io.h"
#include "../src/edit/journal.h"
#include "../src/edit/lock_file.h"
#include "../src/edit/pager.h"
#include "fault_io.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/table_cursor.h"
#include "tabulary/jet/value_text.h"
#include "tabulary/jet/writer.h"
#include "test_corpus.h"

namespace fs = std::filesystem;
using namespace tab;
using namespace tab::jet;
using namespace tab::jet::edit;

namespace {

constexpr uint32_t kPage = 4096;
// A stage this small writes pages early all the time.
constexpr size_t kEarly = kPage;

class TempDir {
public:
    TempDir() {
        static int n = 0;
        m_path = fs::temp_directory_path() /
                 ("tabulary-pager-" + std::to_string(::getpid()) + "-" + std::to_string(n++));
        fs::create_directories(m_path);
        m_path = fs::canonical(m_path);  // as the pager names the files beside a database
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string file(const std::string& name) const { return (m_path / name).string(); }
    std::string path() const { return m_path.string(); }

private:
    fs::path m_path;
};

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// One table whose 120 rows of 155 characters fill about ten data pages.
std::vector<uint8_t> makeDatabase(const std::string& path) {
    CreateOptions options;
    options.durable = false;
    auto w = DatabaseWriter::create(path, options);
    EXPECT_TRUE(w.ok()) << (w.ok() ? "" : w.error().message());
    if (!w.ok()) return {};
    ColumnSpec id;
    id.name = "Id";
    id.type = ColumnType::Long;
    ColumnSpec text;
    text.name = "Body";
    text.size = 200;
    text.compressedUnicode = false;
    auto t = (*w)->addTable(TableSpec{"T", {id, text}, {}});
    EXPECT_TRUE(t.ok());
    for (int i = 0; i < 120; ++i) {
        std::vector<Value> row = {
            Value::integer(i), Value::text("r" + std::to_string(1000 + i) + std::string(150, 'a'))};
        EXPECT_TRUE((*w)->appendRow(*t, row).ok());
    }
    Status st = (*w)->finish();
    EXPECT_TRUE(st.ok()) << st.error().message();
    return readBytes(path);
}

// Every value of every user table, as text.
std::string allText(Database& db) {
    std::string out;
    for (const auto* o : db.catalog().ofKind(ObjectKind::UserTable)) {
        auto t = db.table(o->name);
        if (!t.ok()) return "error: " + t.error().message();
        TableCursor c(db, *t);
        while (true) {
            auto more = c.next();
            if (!more.ok()) return out + "error: " + more.error().message();
            if (!*more) break;
            for (const auto& v : c.values()) out += valueToText(v) + "|";
            out += "\n";
        }
    }
    return out;
}

// A change to make through the pager: `from` becomes `to` (same length)
// wherever a page holds it, in UTF-16 or one byte per character; then pages
// are appended.
struct Change {
    std::string from, to;
    int appendPages = 2;
};

Change changeFor(const std::string& source) {
    if (source == "writer") return {std::string(150, 'a'), std::string(150, 'b')};
    return {"hello", "jello"};
}

std::string utf16(const std::string& s) {
    std::string out;
    for (char c : s) out += {c, '\0'};
    return out;
}

// Pages changed, or the first error.
Result<int> applyChange(Pager& p, const Change& c) {
    const std::pair<std::string, std::string> forms[] = {{utf16(c.from), utf16(c.to)},
                                                         {c.from, c.to}};
    int changed = 0;
    for (uint32_t n = 1; n < p.pageCount(); ++n) {
        TAB_ASSIGN_OR_RETURN(PageRef page, p.read(n));
        std::vector<std::pair<size_t, const std::string*>> hits;
        for (const auto& [from, to] : forms) {
            auto it = page->begin();
            while ((it = std::search(it, page->end(), from.begin(), from.end())) != page->end()) {
                hits.emplace_back(static_cast<size_t>(it - page->begin()), &to);
                it += static_cast<std::ptrdiff_t>(from.size());
            }
            if (!hits.empty()) break;
        }
        if (hits.empty()) continue;
        TAB_ASSIGN_OR_RETURN(uint8_t * data, p.modify(n));
        for (const auto& [at, to] : hits) std::memcpy(data + at, to->data(), to->size());
        ++changed;
    }
    for (int i = 0; i < c.appendPages; ++i) {
        TAB_ASSIGN_OR_RETURN(uint32_t n, p.append());
        TAB_ASSIGN_OR_RETURN(uint8_t * data, p.modify(n));
        data[0] = 0;  // stays an empty page
    }
    return changed;
}

std::unique_ptr<Database> openOrFail(const std::string& path, const OpenOptions& o = {}) {
    auto db = Database::open(path, o);
    EXPECT_TRUE(db.ok()) << (db.ok() ? "" : db.error().message());
    return db.ok() ? std::move(*db) : nullptr;
}

std::vector<uint8_t> cat2(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The databases the crash tests change: our writer's, and a corpus file
// with encoded pages when the corpus is there.
struct Source {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<Source> sources(const TempDir& dir) {
    std::vector<Source> out;
    out.push_back({"writer", makeDatabase(dir.file("made.mdb"))});
    auto encoded = readCorpusBytes(corpusRoot() / "files/jackcess-encrypt/db-enc.mdb");
    if (!encoded.empty()) out.push_back({"encoded", std::move(encoded)});
    return out;
}

PagerOptions withIo(FileIo* io, size_t spillBytes = size_t{256} << 20) {
    PagerOptions o;
    o.io = io;
    o.spillBytes = spillBytes;
    o.keepRecent = 1;
    o.lockWait = std::chrono::milliseconds(50);
    return o;
}

// Runs the change with a crash at the first operation that leaves the file
// changed and the journal beside it; returns the file as left (empty if no
// operation did).
std::vector<uint8_t> crashLeavingJournal(const std::string& path,
                                         const std::vector<uint8_t>& before) {
    for (int64_t n = 1; n < 200; ++n) {
        writeBytes(path, before);
        fs::remove(lockFilePath(path));
        FaultIo io(n);
        {
            auto db = Database::open(path);
            if (!db.ok()) return {};
            auto p = Pager::begin(**db, withIo(&io, kEarly));
            if (p.ok() && applyChange(**p, changeFor("writer")).ok()) (void)(*p)->commit();
        }
        fs::remove(lockFilePath(path));
        if (fs::exists(journalPath(path)) && readBytes(path) != before) return readBytes(path);
    }
    return {};
}

}  // namespace

// Journal records are checked with CRC-32: the published check value, and
// every length and alignment against a bit-at-a-time reference.
TEST(Journal, Crc32MatchesTheReference) {
    auto bytes = [](const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); };
    EXPECT_EQ(crc32(bytes("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32(bytes("")), 0u);
    auto reference = [](const uint8_t* p, size_t n, uint32_t crc) {
        crc = ~crc;
        for (size_t i = 0; i < n; ++i) {
            crc ^= p[i];
            for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
        return ~crc;
    };
    std::vector<uint8_t> data(80);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
    for (size_t start = 0; start < 8; ++start)
        for (size_t n = 0; start + n <= data.size(); ++n)
            ASSERT_EQ(crc32({data.data() + start, n}, 0x1234u),
                      reference(data.data() + start, n, 0x1234u))
                << "start " << start << ", " << n << " bytes";
}

// A change commits, or is abandoned, with and without writing pages early:
// the database object and a new open see the change exactly when it was
// committed; nothing stays beside the file; an abandoned change leaves the
// file byte for byte as it was.
TEST(Pager, CommitShowsTheChangeAndRollbackLeavesTheFileAsItWas) {
    enum class End { Commit, Rollback, Destroy };
    struct Case {
        const char* name;
        size_t spillBytes;
        End end;
    };
    const Case cases[] = {
        {"commit", size_t{256} << 20, End::Commit},
        {"commit after writing early", kEarly, End::Commit},
        {"rollback", size_t{256} << 20, End::Rollback},
        {"rollback after writing early", kEarly, End::Rollback},
        {"destroyed", size_t{256} << 20, End::Destroy},
        {"destroyed after writing early", kEarly, End::Destroy},
    };
    TempDir dir;
    for (const Source& source : sources(dir)) {
        ASSERT_FALSE(source.bytes.empty());
        const Change change = changeFor(source.name);
        for (const Case& c : cases) {
            SCOPED_TRACE(source.name + " / " + c.name);
            const std::string path = dir.file("db.mdb");
            writeBytes(path, source.bytes);
            auto db = openOrFail(path);
            ASSERT_TRUE(db);
            const std::string before = allText(*db);
            ASSERT_TRUE(contains(before, change.from));
            FaultIo io;
            auto p = Pager::begin(*db, withIo(&io, c.spillBytes));
            ASSERT_TRUE(p.ok()) << p.error().message();
            EXPECT_TRUE(fs::exists(lockFilePath(path)));
            auto changed = applyChange(**p, change);
            ASSERT_TRUE(changed.ok()) << changed.error().message();
            ASSERT_GT(*changed, 0);
            // Every changed page modified again: those written early come back from the
            // file as changed, and their originals are not journaled twice.
            auto rewritten = applyChange(**p, Change{change.to, change.to, 0});
            ASSERT_TRUE(rewritten.ok()) << rewritten.error().message();
            EXPECT_EQ(*rewritten, *changed);
            // The change in progress is what the database shows, early-written pages included.
            const std::string during = allText(*db);
            EXPECT_TRUE(contains(during, change.to));
            EXPECT_FALSE(contains(during, change.from));
            EXPECT_EQ(fs::exists(journalPath(path)), c.spillBytes == kEarly);
            if (fs::exists(journalPath(path))) {
                const uint64_t records =
                    (fs::file_size(journalPath(path)) - kJournalHeaderSize) / (kPage + 8);
                EXPECT_GT(records, 0u);
                EXPECT_LE(records, static_cast<uint64_t>(*changed));
            }
            if (c.end == End::Commit) {
                Status st = (*p)->commit();
                ASSERT_TRUE(st.ok()) << st.error().message();
            } else if (c.end == End::Rollback) {
                (*p)->rollback();
            } else {
                p->reset();
            }
            if (p.ok() && *p) {
                EXPECT_FALSE((*p)->active());
            }
            EXPECT_FALSE(fs::exists(journalPath(path)));
            EXPECT_FALSE(fs::exists(lockFilePath(path)));
            const std::string shown = allText(*db);
            auto again = openOrFail(path);
            ASSERT_TRUE(again);
            EXPECT_EQ(allText(*again), shown);
            EXPECT_EQ(again->openNotice(), "");
            if (c.end == End::Commit) {
                EXPECT_EQ(shown, during);
                EXPECT_EQ(readBytes(path).size(), source.bytes.size() + change.appendPages * kPage);
            } else {
                EXPECT_EQ(shown, before);
                EXPECT_TRUE(readBytes(path) == source.bytes);
            }
        }
    }
}

// For every operation that changes a file during a change (lock file,
// journal, pages, syncs, deletions), a crash right there, the failing write
// torn or not, with and without pages written early: opening the database
// afterwards gives the file exactly as it was before or as the change left
// it, no journal remains, and the crashed session showed that same content.
TEST(Pager, ACrashAtAnyWriteLeavesTheFileBeforeOrAfter) {
    struct Case {
        const char* name;
        size_t spillBytes;
        bool tear;
        int powerLoss;  // 1: what was not synced is lost, 2: half the database's writes too
    };
    const Case cases[] = {
        {"at commit", size_t{256} << 20, false, 0},
        {"at commit, torn", size_t{256} << 20, true, 0},
        {"at commit, power lost", size_t{256} << 20, true, 1},
        {"at commit, power lost with pages", size_t{256} << 20, false, 2},
        {"written early", kEarly, false, 0},
        {"written early, torn", kEarly, true, 0},
        {"written early, power lost", kEarly, false, 1},
        {"written early, power lost with pages", kEarly, true, 2},
    };
    TempDir dir;
    const std::string path = dir.file("db.mdb");
    for (const Source& source : sources(dir)) {
        ASSERT_FALSE(source.bytes.empty());
        const Change change = changeFor(source.name);
        for (const Case& c : cases) {
            SCOPED_TRACE(source.name + " / " + c.name);
            // The clean run: how many operations, and the file it leaves.
            writeBytes(path, source.bytes);
            fs::remove(lockFilePath(path));
            std::string beforeText, afterText;
            int64_t total = 0;
            {
                auto db = openOrFail(path);
                ASSERT_TRUE(db);
                beforeText = allText(*db);
                FaultIo io;
                auto p = Pager::begin(*db, withIo(&io, c.spillBytes));
                ASSERT_TRUE(p.ok()) << p.error().message();
                ASSERT_TRUE(applyChange(**p, change).ok());
                Status st = (*p)->commit();
                ASSERT_TRUE(st.ok()) << st.error().message();
                afterText = allText(*db);
                total = io.mutations;
            }
            const std::vector<uint8_t> after = readBytes(path);
            ASSERT_NE(beforeText, afterText);
            ASSERT_GE(total, 9);
            int sawBefore = 0, sawAfter = 0, sawRepaired = 0;
            for (int64_t n = 1; n <= total; ++n) {
                SCOPED_TRACE("crash at operation " + std::to_string(n) + " of " +
                             std::to_string(total));
                writeBytes(path, source.bytes);
                fs::remove(lockFilePath(path));
                std::string shown;
                FaultIo io(n, c.tear);
                {
                    auto db = openOrFail(path);
                    ASSERT_TRUE(db);
                    auto p = Pager::begin(*db, withIo(&io, c.spillBytes));
                    if (p.ok()) {
                        auto changed = applyChange(**p, change);
                        if (changed.ok()) {
                            Status st = (*p)->commit();
                            if (!st.ok()) {
                                EXPECT_FALSE(st.error().message().empty());
                            }
                        }
                        EXPECT_FALSE((*p)->active());
                    }
                    shown = allText(*db);
                }
                EXPECT_TRUE(io.crashed);
                if (c.powerLoss) io.powerLoss(path, c.powerLoss == 1);
                const std::vector<uint8_t> crashed = readBytes(path);
                const bool mixed = crashed != source.bytes && crashed != after;
                auto db = openOrFail(path);
                ASSERT_TRUE(db);
                const std::vector<uint8_t> now = readBytes(path);
                const bool isBefore = now == source.bytes, isAfter = now == after;
                EXPECT_TRUE(isBefore || isAfter);
                EXPECT_FALSE(fs::exists(journalPath(path)));
                EXPECT_EQ(allText(*db), isAfter ? afterText : beforeText);
                EXPECT_EQ(shown, isAfter ? afterText : beforeText);
                if (mixed) {
                    EXPECT_EQ(db->openNotice(), kRecoveredNotice);
                }
                if (!db->openNotice().empty()) {
                    EXPECT_TRUE(isBefore);
                }
                sawBefore += isBefore;
                sawAfter += isAfter;
                sawRepaired += mixed;
            }
            EXPECT_GT(sawBefore, 0);
            EXPECT_GT(sawAfter, 0);
            if (c.powerLoss == 0) {
                EXPECT_GT(sawRepaired, 0);  // some crash left a mixed file to repair
            }
        }
    }
}

// A crash that leaves a journal, then an open where the file or its folder
// cannot be written: the database is shown as it was before, in memory, with
// the notice saying so, and the file is left alone until an open that can
// write repairs it.
TEST(Pager, ReadOnlyRecoveryShowsTheDatabaseBeforeTheChange) {
    TempDir dir;
    const std::string path = dir.file("db.mdb");
    const std::vector<uint8_t> before = makeDatabase(path);
    ASSERT_FALSE(before.empty());
    const Change change = changeFor("writer");
    struct Case {
        const char* name;
        bool fileReadOnly, folderReadOnly;
    };
    const Case cases[] = {{"read-only file", true, false}, {"read-only folder", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> crashed = crashLeavingJournal(path, before);
        ASSERT_FALSE(crashed.empty());
        const std::vector<uint8_t> journal = readBytes(journalPath(path));

        FaultIo readOnly;
        if (c.fileReadOnly) readOnly.readOnly.insert(path);
        if (c.folderReadOnly) readOnly.readOnly.insert(dir.path());
        OpenOptions o;
        o.io = &readOnly;
        auto db = openOrFail(path, o);
        ASSERT_TRUE(db);
        EXPECT_EQ(db->openNotice(), kReadOnlyRecoveredNotice);
        EXPECT_EQ(readOnly.mutations, 0);
        EXPECT_TRUE(readBytes(path) == crashed);
        EXPECT_TRUE(readBytes(journalPath(path)) == journal);
        // Page by page as before (this file's pages are stored unencoded).
        ASSERT_EQ(db->pages().pageCount(), before.size() / kPage);
        for (uint32_t n = 1; n < db->pages().pageCount(); ++n) {
            auto page = db->pages().page(n);
            ASSERT_TRUE(page.ok()) << page.error().message();
            EXPECT_TRUE(std::equal((*page)->begin(), (*page)->end(), before.begin() + n * kPage))
                << "page " << n;
        }
        const std::string shown = allText(*db);
        EXPECT_TRUE(contains(shown, change.from));
        EXPECT_FALSE(contains(shown, change.to));
        auto p = Pager::begin(*db);
        ASSERT_FALSE(p.ok());
        EXPECT_TRUE(contains(p.error().message(), "interrupted change")) << p.error().message();
        db.reset();

        auto repaired = openOrFail(path);
        ASSERT_TRUE(repaired);
        EXPECT_EQ(repaired->openNotice(), kRecoveredNotice);
        EXPECT_TRUE(readBytes(path) == before);
        EXPECT_FALSE(fs::exists(journalPath(path)));
        EXPECT_EQ(allText(*repaired), shown);
    }
}

// Journals as a crash can leave them, found when the database is opened:
// without a whole header nothing was written yet and the journal is simply
// deleted; a valid one is applied record by record, skipping torn records
// and pages beyond the original end, and the file is cut back to its size.
TEST(Pager, OpenHandlesEveryKindOfLeftoverJournal) {
    TempDir dir;
    const std::string path = dir.file("db.mdb");
    const std::vector<uint8_t> before = makeDatabase(path);
    ASSERT_GT(before.size(), 8 * kPage);
    const uint32_t pages = static_cast<uint32_t>(before.size() / kPage);

    JournalHeader valid;
    valid.originalPages = pages;
    valid.originalSize = before.size();
    valid.nonce = 0x12345678;
    std::copy_n(before.begin() + 0x3E, 4, valid.identity.begin());
    std::copy_n(before.begin() + 0x72, 8, valid.identity.begin() + 4);
    auto pageOf = [&](const std::vector<uint8_t>& file, uint32_t n) {
        return std::vector<uint8_t>(file.begin() + n * kPage, file.begin() + (n + 1) * kPage);
    };
    auto header = [](const JournalHeader& h) { return encodeJournalHeader(h); };
    auto record = [&](uint32_t n, const std::vector<uint8_t>& image) {
        return encodeJournalRecord(valid, n, image);
    };
    auto cat = [](std::vector<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> out;
        for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const std::vector<uint8_t> junk(kPage, 0xA5);
    // The file as a crash left it: pages 5 and 6 overwritten, two pages added.
    std::vector<uint8_t> damaged = before;
    std::copy(junk.begin(), junk.end(), damaged.begin() + 5 * kPage);
    std::copy(junk.begin(), junk.end(), damaged.begin() + 6 * kPage);
    damaged.insert(damaged.end(), 2 * kPage, 0x11);

    JournalHeader other = valid;
    other.identity[7] ^= 0xFF;
    std::vector<uint8_t> badCrc = header(valid);
    badCrc[30] ^= 1;
    std::vector<uint8_t> tornRecord = record(7, junk);
    tornRecord[100] ^= 1;
    std::vector<uint8_t> shortHeader = header(valid);
    shortHeader.resize(300);
    std::vector<uint8_t> halfRecord = record(8, junk);
    halfRecord.resize(1000);

    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        std::vector<uint8_t> journal;
        std::vector<uint8_t> expected;
        std::string notice;
    };
    const Case cases[] = {
        {"empty journal", before, {}, before, ""},
        {"header cut short", before, shortHeader, before, ""},
        {"header with a bad CRC", before, badCrc, before, ""},
        {"garbage", before, std::vector<uint8_t>(2000, 0x42), before, ""},
        {"another database's journal", damaged, cat({header(other), record(5, pageOf(before, 5))}),
         damaged, "belonged to another file"},
        {"header only: the added pages go", cat({before, std::vector<uint8_t>(3 * kPage, 0)}),
         header(valid), before, kRecoveredNotice},
        {"records restore their pages", damaged,
         cat({header(valid), record(5, pageOf(before, 5)), record(6, pageOf(before, 6))}), before,
         kRecoveredNotice},
        {"a torn record is skipped", damaged,
         cat({header(valid), record(5, pageOf(before, 5)), tornRecord,
              record(6, pageOf(before, 6))}),
         before, kRecoveredNotice},
        {"a half-written last record is skipped", damaged,
         cat({header(valid), record(5, pageOf(before, 5)), record(6, pageOf(before, 6)),
              halfRecord}),
         before, kRecoveredNotice},
        {"the first record of a page wins", damaged,
         cat({header(valid), record(5, pageOf(before, 5)), record(6, pageOf(before, 6)),
              record(5, junk)}),
         before, kRecoveredNotice},
        {"records beyond the original end are skipped", damaged,
         cat({header(valid), record(5, pageOf(before, 5)), record(6, pageOf(before, 6)),
              record(pages, junk)}),
         before, kRecoveredNotice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(path, c.file);
        writeBytes(journalPath(path), c.journal);
        auto db = openOrFail(path);
        ASSERT_TRUE(db);
        EXPECT_FALSE(fs::exists(journalPath(path)));
        EXPECT_TRUE(readBytes(path) == c.expected);
        if (c.notice.empty())
            EXPECT_EQ(db->openNotice(), "");
        else
            EXPECT_TRUE(contains(db->openNotice(), c.notice)) << db->openNotice();
    }
}

// begin() refuses, before it changes anything, a database it must not
// change; and takes the Access lock file where it may.
TEST(Pager, BeginRefusesWhatItMustNotChange) {
    TempDir dir;
    const std::vector<uint8_t> made = makeDatabase(dir.file("made.mdb"));
    ASSERT_FALSE(made.empty());
    const std::vector<uint8_t> jet3 =
        readCorpusBytes(corpusRoot() / "files/jackcess/V1997/delTestV1997.mdb");
    const std::string me = lockComputerName();
    std::vector<uint8_t> oddSize = made;
    oddSize.resize(made.size() + 100, 0);

    struct Case {
        const char* name;
        std::string file;                              // the database's name in the folder
        std::vector<uint8_t> bytes;                    // its content
        std::optional<std::vector<uint8_t>> lockFile;  // the lock file beside it
        bool holdLockFile = false;                     // another open file locks it
        int readOnly = 0;                              // 1 the file, 2 the folder
        std::vector<std::string> refusal;              // parts of the error; empty: begin succeeds
    };
    using Bytes = std::vector<uint8_t>;
    const Bytes none = {}, zeros(64, 0), ours = encodeLockEntry(me, "Admin");
    // clang-format off
    const Case cases[] = {
        {"no lock file",                  "a.mdb",   made,    std::nullopt, false, 0, {}},
        {"an .accdb's lock file",         "a.accdb", made,    std::nullopt, false, 0, {}},
        {"our own stale lock file",       "a.mdb",   made,    ours,         false, 0, {}},
        {"an empty lock file",            "a.mdb",   made,    none,         false, 0, {}},
        {"a lock file of zeros",          "a.mdb",   made,    zeros,        false, 0, {}},
        {"Access's lock file",            "a.mdb",   made,    encodeLockEntry("ACCESS-PC", "Admin"), false, 0,
         {"ACCESS-PC", "a.ldb", "open in Access", "can be deleted"}},
        {"an .accdb open in Access",      "b.accdb", made,
         cat2(encodeLockEntry("OFFICE7", "Admin"), encodeLockEntry("ME", "Admin")), false, 0,
         {"OFFICE7", "b.laccdb"}},
        {"our lock file, held",           "a.mdb",   made,    ours,         true,  0, {"being changed by another program"}},
        {"a nameless lock file, held",    "a.mdb",   made,    none,         true,  0, {"being changed by another program"}},
        {"a read-only file",              "a.mdb",   made,    std::nullopt, false, 1, {"read-only"}},
        {"a read-only folder",            "a.mdb",   made,    std::nullopt, false, 2, {"folder", "read-only"}},
        {"a size that is not whole pages", "a.mdb",  oddSize, std::nullopt, false, 0, {"whole number of pages"}},
        {"Access 97",                     "old.mdb", jet3,    std::nullopt, false, 0, {"Access 97"}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.bytes.empty()) continue;  // no corpus here
        const std::string path = dir.file(c.file);
        const std::string lock = lockFilePath(path);
        writeBytes(path, c.bytes);
        fs::remove(lock);
        if (c.lockFile) writeBytes(lock, *c.lockFile);
        FileHandle holder;
        if (c.holdLockFile) {
            auto h = openFile(FileIo::system(), lock, O_RDWR);
            ASSERT_TRUE(h.ok());
            holder = std::move(*h);
            ASSERT_EQ(FileIo::system().lock(holder.fd(), true), 0);
        }
        FaultIo io;
        if (c.readOnly == 1) io.readOnly.insert(path);
        if (c.readOnly == 2) io.readOnly.insert(dir.path());
        auto db = openOrFail(path);
        ASSERT_TRUE(db);
        auto p = Pager::begin(*db, withIo(&io));
        if (!c.refusal.empty()) {
            ASSERT_FALSE(p.ok());
            for (const auto& part : c.refusal)
                EXPECT_TRUE(contains(p.error().message(), part)) << p.error().message();
            EXPECT_TRUE(io.created.empty());
            EXPECT_TRUE(readBytes(path) == c.bytes);
            EXPECT_EQ(fs::exists(lock), c.lockFile.has_value());
            if (c.lockFile) {
                EXPECT_TRUE(readBytes(lock) == *c.lockFile);
            }
            EXPECT_FALSE(fs::exists(journalPath(path)));
            continue;
        }
        ASSERT_TRUE(p.ok()) << p.error().message();
        EXPECT_EQ(lock.substr(lock.rfind('.')), c.file.ends_with(".accdb") ? ".laccdb" : ".ldb");
        // Ours while the change runs: one entry naming this computer, locked.
        const std::vector<uint8_t> entry = readBytes(lock);
        EXPECT_TRUE(entry == encodeLockEntry(me, "Admin"));
        EXPECT_EQ(parseLockEntry(entry).computer, me);
        {
            auto h = openFile(FileIo::system(), lock, O_RDONLY);
            ASSERT_TRUE(h.ok());
            EXPECT_EQ(FileIo::system().lockedElsewhere(h->fd()), 1);
        }
        // Nothing staged: no journal at all, and the file as it was.
        Status st = (*p)->commit();
        ASSERT_TRUE(st.ok()) << st.error().message();
        for (const auto& f : io.created) EXPECT_NE(f, journalPath(path));
        EXPECT_FALSE(fs::exists(lock));
        EXPECT_TRUE(readBytes(path) == c.bytes);
    }
}

// One change of a file at a time: a second pager, on the same database object
// or another one of the same file, is refused while the first runs, and
// opening the file waits for a change whose journal is there, then gives up.
TEST(Pager, OneChangeOfAFileAtATime) {
    TempDir dir;
    const std::string path = dir.file("db.mdb");
    const std::vector<uint8_t> before = makeDatabase(path);
    ASSERT_FALSE(before.empty());
    auto first = openOrFail(path);
    auto second = openOrFail(path);
    ASSERT_TRUE(first && second);
    auto p = Pager::begin(*first, withIo(nullptr, kEarly));
    ASSERT_TRUE(p.ok()) << p.error().message();
    ASSERT_TRUE(applyChange(**p, changeFor("writer")).ok());
    ASSERT_TRUE(fs::exists(journalPath(path)));  // pages were written early

    struct Case {
        const char* name;
        std::function<std::string()> attempt;  // the refusal
        const char* expected;
    };
    const Case cases[] = {
        {"the same database object",
         [&] {
             auto q = Pager::begin(*first);
             return q.ok() ? std::string() : q.error().message();
         },
         "being changed already"},
        {"another database object",
         [&] {
             auto q = Pager::begin(*second, withIo(nullptr));
             return q.ok() ? std::string() : q.error().message();
         },
         "being changed by another program"},
        {"opening the file",
         [&] {
             auto db = Database::open(path);
             return db.ok() ? std::string() : db.error().message();
         },
         "being changed by another program; try again"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(contains(c.attempt(), c.expected)) << c.attempt();
        EXPECT_TRUE(fs::exists(journalPath(path)));
    }
    ASSERT_TRUE((*p)->commit().ok());
    // The other object sees the new file when its own change begins.
    auto q = Pager::begin(*second, withIo(nullptr));
    ASSERT_TRUE(q.ok()) << q.error().message();
    EXPECT_EQ(allText(*second), allText(*first));
    (*q)->rollback();
}

// A journal that appears after the database was opened (another process
// crashed in its change) is undone when the next change begins, and the
// database object reads the repaired file.
TEST(Pager, BeginUndoesAJournalLeftSinceTheOpen) {
    TempDir dir;
    const std::string path = dir.file("db.mdb");
    const std::vector<uint8_t> before = makeDatabase(path);
    ASSERT_FALSE(before.empty());
    auto reader = openOrFail(path);
    ASSERT_TRUE(reader);
    const std::string text = allText(*reader);
    ASSERT_FALSE(crashLeavingJournal(path, before).empty());
    auto p = Pager::begin(*reader, withIo(nullptr));
    ASSERT_TRUE(p.ok()) << p.error().message();
    EXPECT_FALSE(fs::exists(journalPath(path)));
    EXPECT_TRUE(readBytes(path) == before);
    EXPECT_EQ(allText(*reader), text);
    ASSERT_TRUE(applyChange(**p, changeFor("writer")).ok());
    ASSERT_TRUE((*p)->commit().ok());
    auto again = openOrFail(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(allText(*again), allText(*reader));
    EXPECT_NE(allText(*again), text);
}

// A memory database changes in memory only: no file, no journal, no lock.
TEST(Pager, MemoryDatabaseChangesItsImage) {
    TempDir dir;
    const std::vector<uint8_t> before = makeDatabase(dir.file("made.mdb"));
    ASSERT_FALSE(before.empty());
    for (bool commit : {true, false}) {
        SCOPED_TRACE(commit ? "commit" : "rollback");
        auto db = Database::openMemory(before);
        ASSERT_TRUE(db.ok()) << db.error().message();
        const std::string text = allText(**db);
        FaultIo io;
        auto p = Pager::begin(**db, withIo(&io, kEarly));
        ASSERT_TRUE(p.ok()) << p.error().message();
        ASSERT_TRUE(applyChange(**p, changeFor("writer")).ok());
        const std::string during = allText(**db);
        if (commit)
            ASSERT_TRUE((*p)->commit().ok());
        else
            (*p)->rollback();
        EXPECT_EQ(io.mutations, 0);
        EXPECT_EQ(allText(**db), commit ? during : text);
        EXPECT_EQ((*db)->pages().image().size(), before.size() + (commit ? 2 * kPage : 0));
        EXPECT_EQ((*db)->pages().image() == before, !commit);
    }
}

// Lock file names and entries, parsed with bounds checks.
TEST(Pager, LockFileNamesAndEntries) {
    const std::pair<const char*, const char*> names[] = {
        {"d/db.mdb", "d/db.ldb"}, {"d/db.accdb", "d/db.laccdb"},   {"d/db.ACCDB", "d/db.laccdb"},
        {"d/db", "d/db.ldb"},     {"d/x.y.accdb", "d/x.y.laccdb"}, {"d/db.mde", "d/db.ldb"},
    };
    for (const auto& [db, lock] : names) EXPECT_EQ(lockFilePath(db), lock) << db;

    auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    std::string full(32, 'C');
    full += "Admin";
    struct Case {
        std::vector<uint8_t> input;
        const char* computer;
        const char* user;
    };
    const Case cases[] = {
        {{}, "", ""},
        {bytes("PC"), "PC", ""},
        {encodeLockEntry("OFFICE-1", "Admin"), "OFFICE-1", "Admin"},
        {bytes(full), "CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC", "Admin"},
        {bytes(std::string("A\x01\xff") + std::string(29, ' ') + "u"), "A??", "u"},
        {encodeLockEntry(std::string(40, 'L'), "Admin"), "LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL",
         "Admin"},
    };
    for (const Case& c : cases) {
        LockEntry e = parseLockEntry(c.input);
        EXPECT_EQ(e.computer, c.computer);
        EXPECT_EQ(e.user, c.user);
    }
}
