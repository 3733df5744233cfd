// One change of a database file, page by page: pages are staged in memory
// and reach the file only at commit(), after their original images are safe
// in a rollback journal beside the database (see journal.h). While a pager is
// active the database's PageSource reads staged pages first, so everything
// decoded through the Database sees the change in progress.
//
// Locks, held from begin() until the change ends: an open-file-description
// write lock on the whole database file (other changes, of this process or
// another, and recovery on open wait for it), and the Access lock file beside
// the database (lock_file.h), so Access users see the database as in use.
//
// Commit: the original image of every staged page that existed when the
// change began goes to the journal, which is synced with its folder; then
// the pages are written and the database synced; deleting the journal (and
// syncing the folder) is the moment the change takes effect. A change that
// stages more than spillBytes writes its older pages early the same way,
// journal first; a page written early and modified again is staged again but
// journaled only once. Whatever fails after the first database write, the
// journal's images are copied back; if even that fails the journal stays, the
// database object shows the pages as they were, and the next open repairs it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/page_source.h"

namespace tab::jet {
class Database;
}

namespace tab::jet::edit {

class FileIo;

struct PagerOptions {
    FileIo* io = nullptr;  // null: the real file system
    bool durable = true;   // fsync the journal and the database (off for benchmarks)
    // Staged pages beyond this many bytes (besides the keepRecent newest) are
    // written early, journal first, so a statement of any size stays within
    // bounded memory.
    size_t spillBytes = size_t{256} << 20;
    // Pages of the last this many modify()/append() calls are never written
    // early: the pointers those calls returned stay valid.
    size_t keepRecent = 256;
    // How long begin() waits for another change of the file to end.
    std::chrono::milliseconds lockWait{500};
};

class Pager final : public PageOverlay {
public:
    // Starts a change of `db`'s file: refuses Jet3 files, read-only files or
    // folders, and databases that another process is changing or that are
    // open in Access (its lock file); takes the locks for the duration. A
    // memory database (Database::openMemory) is changed in memory only.
    static Result<std::unique_ptr<Pager>> begin(Database& db, const PagerOptions& options = {});
    ~Pager() override;  // rolls back what was not committed
    Pager(const Pager&) = delete;
    Pager& operator=(const Pager&) = delete;

    uint32_t pageCount() const override { return m_pageCount; }
    PageRef staged(uint32_t number) const override;

    // Page `number` (1 <= number < pageCount()) as the change sees it.
    Result<PageRef> read(uint32_t number);
    // The page made writable: copied into the stage on first use. The
    // pointer stays valid until commit() or rollback(), or, in a change
    // bigger than spillBytes, for the next keepRecent modify()/append() calls.
    // A failure to write pages early ends the change (rolled back).
    Result<uint8_t*> modify(uint32_t number);
    // A new page at the end of the file, all zero, staged.
    Result<uint32_t> append();

    // Journal, then pages, then sync; the journal goes last. On failure the
    // file is rolled back to where it was (from the journal if pages had
    // already been written) and the error says what failed.
    Status commit();
    void rollback();
    bool active() const { return m_active; }

    // Rows of the catalogue tables did not change: afterwards the catalogue
    // need not be read again.
    void catalogUnchanged() { m_catalogChanged = false; }

    // What the change wrote to the file and to its journal so far.
    struct Stats {
        uint64_t pagesWritten = 0;
        uint64_t journalBytes = 0;
    };
    Stats stats() const;

    struct Impl;

private:
    Pager() = default;
    Status spillIfNeeded();
    void touch(uint32_t number);
    // Ends the change: locks and lock file released, overlay removed, the
    // database read again.
    Status finish();
    Error undo(const Error& reason);

    Database* m_db = nullptr;
    std::unique_ptr<Impl> m_impl;
    std::unordered_map<uint32_t, std::shared_ptr<Page>> m_staged;
    uint32_t m_pageCount = 0;
    bool m_active = false;
    bool m_catalogChanged = true;
};

}  // namespace tab::jet::edit
