#include "edit/pager.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "crypto/page_cipher.h"
#include "edit/file_io.h"
#include "edit/journal.h"
#include "edit/lock_file.h"
#include "tabulary/jet/database.h"

namespace tab::jet::edit {

namespace {

bool writeRefused(int e) {
    return e == EACCES || e == EROFS || e == EPERM;
}

Error readOnly(const std::string& path) {
    return Error(Errc::Io, path + " is read-only; it cannot be changed");
}

// A page as the file stores it: enciphered again with the file's scheme
// (Office AES is not its own inverse; a bare decoder, Jet RC4, is).
void encodePage(const PageSource& source, uint32_t number, std::span<uint8_t> page) {
    if (number == 0) return;
    if (const crypto::PageCipher* c = source.cipher())
        c->encrypt(number, page);
    else if (source.decoder())
        source.decoder()(number, page);
}

}  // namespace

struct Pager::Impl {
    FileIo* io = nullptr;
    PagerOptions options;
    std::string path;
    FileHandle db;  // holds the write lock; closed for a memory database
    std::unique_ptr<LockFile> lockFile;
    std::unique_ptr<JournalWriter> journal;
    std::vector<bool> journaled;  // by page of the original file
    bool written = false;         // some page reached the database file
    uint32_t originalCount = 0;
    uint32_t pageSize = 4096;
    uint64_t clock = 0;  // modify()/append() calls so far
    std::unordered_map<uint32_t, uint64_t> lastTouch;
    Pager::Stats stats;
    // Pages the change staged, to be forgotten by the caches afterwards; after
    // early writes or an undo everything is read again instead.
    std::vector<uint32_t> touchedPages;
    bool readAll = false;

    Status acquire(Database& database);
    Status writePages(const std::vector<uint32_t>& pages,
                      const std::unordered_map<uint32_t, std::shared_ptr<Page>>& staged,
                      const PageSource& source);
};

Status Pager::Impl::acquire(Database& database) {
    PageSource& src = database.pages();
    path = resolvedPath(src.path());
    if (io->access(path, W_OK) != 0)
        return writeRefused(errno) ? readOnly(path) : ioError(errno, path);
    if (io->access(folderOf(path), W_OK) != 0)
        return Error(Errc::Io, "the folder of " + path +
                                   " is read-only; a change needs to write a journal beside the "
                                   "database");
    int fd = io->open(path, O_RDWR, 0);
    if (fd < 0) return writeRefused(errno) ? readOnly(path) : ioError(errno, path);
    db = FileHandle(io, fd, path);
    TAB_ASSIGN_OR_RETURN(bool locked, db.lockWithin(true, options.lockWait));
    if (!locked)
        return Error(Errc::Io,
                     path + " is being changed by another program; try again in a moment");
    // A change that crashed after this database was opened left its journal.
    TAB_ASSIGN_OR_RETURN(Recovery recovered, recoverLocked(*io, db, path, true));
    TAB_ASSIGN_OR_RETURN(uint64_t size, db.size());
    if (!recovered.notice.empty() || size != src.fileSize()) TAB_TRY(database.reload());
    if (size % src.pageSize() != 0)
        return Error(Errc::Unsupported, path +
                                            ": the file's size is not a whole number of pages; "
                                            "it may be damaged and is not changed");
    TAB_ASSIGN_OR_RETURN(lockFile, LockFile::acquire(*io, path));
    return Status::success();
}

Status Pager::Impl::writePages(const std::vector<uint32_t>& pages,
                               const std::unordered_map<uint32_t, std::shared_ptr<Page>>& staged,
                               const PageSource& source) {
    if (!journal) {
        JournalHeader h;
        h.pageSize = pageSize;
        h.originalPages = originalCount;
        h.originalSize = uint64_t{originalCount} * pageSize;
        h.nonce = std::random_device{}();
        TAB_ASSIGN_OR_RETURN(h.identity, databaseIdentity(db));
        TAB_ASSIGN_OR_RETURN(journal, JournalWriter::create(*io, journalPath(path), h));
        stats.journalBytes = kJournalHeaderSize;
    }
    std::vector<uint8_t> buf(pageSize);
    for (uint32_t n : pages) {
        if (n >= originalCount || journaled[n]) continue;
        TAB_TRY(db.readAll(buf, uint64_t{n} * pageSize));
        TAB_TRY(journal->add(n, buf));
        journaled[n] = true;
        stats.journalBytes += pageSize + 8;  // page number, image, CRC
    }
    TAB_TRY(journal->sync(options.durable));
    written = true;
    for (uint32_t n : pages) {
        const Page& page = *staged.at(n);
        std::memcpy(buf.data(), page.data(), pageSize);
        encodePage(source, n, buf);
        TAB_TRY(db.writeAll(buf, uint64_t{n} * pageSize));
        ++stats.pagesWritten;
    }
    return Status::success();
}

Result<std::unique_ptr<Pager>> Pager::begin(Database& db, const PagerOptions& options) {
    if (db.format().jet3)
        return Error(Errc::Unsupported,
                     "Access 97 databases are read-only in this program; the statement would "
                     "change the file");
    PageSource& src = db.pages();
    if (src.overlay()) {
        if (!db.openNotice().empty())
            return Error(Errc::Unsupported,
                         db.path() +
                             " is shown as it was before an interrupted change and cannot be "
                             "changed; open it again where the file can be written");
        return Error(Errc::InvalidArgument, db.path() + " is being changed already");
    }
    std::unique_ptr<Pager> p(new Pager());
    p->m_db = &db;
    p->m_impl = std::make_unique<Impl>();
    Impl& m = *p->m_impl;
    m.options = options;
    m.io = options.io ? options.io : &FileIo::system();
    m.pageSize = src.pageSize();
    if (!src.inMemory()) TAB_TRY(m.acquire(db));
    p->m_pageCount = src.pageCount();
    m.originalCount = p->m_pageCount;
    m.journaled.assign(m.originalCount, false);
    p->m_active = true;
    src.setOverlay(p.get());
    return p;
}

Pager::~Pager() {
    if (m_active) rollback();
}

PageRef Pager::staged(uint32_t number) const {
    auto it = m_staged.find(number);
    return it == m_staged.end() ? nullptr : PageRef(it->second);
}

Result<PageRef> Pager::read(uint32_t number) {
    if (auto s = staged(number)) return s;
    return m_db->pages().page(number);
}

void Pager::touch(uint32_t number) {
    m_impl->lastTouch[number] = ++m_impl->clock;
}

Status Pager::spillIfNeeded() {
    Impl& m = *m_impl;
    if (!m.db.isOpen()) return Status::success();  // a memory database keeps everything
    // Each time at least spillBytes go, so that the journal is synced rarely.
    if ((m_staged.size() + 1) * m.pageSize <=
        m.options.spillBytes + m.options.keepRecent * m.pageSize)
        return Status::success();
    std::vector<uint32_t> old;
    for (const auto& entry : m_staged)
        if (m.lastTouch[entry.first] + m.options.keepRecent <= m.clock) old.push_back(entry.first);
    if (old.empty()) return Status::success();
    std::sort(old.begin(), old.end());
    PageSource& src = m_db->pages();
    m.readAll = true;
    if (Status st = m.writePages(old, m_staged, src); !st.ok())
        return undo(st.error().withContext("cannot write the change's pages early"));
    for (uint32_t n : old) {
        m_staged.erase(n);
        m.lastTouch.erase(n);
    }
    // The cache may hold those pages as they were before the change.
    if (Status st = src.refresh(); !st.ok()) return undo(st.error());
    return Status::success();
}

Result<uint8_t*> Pager::modify(uint32_t number) {
    if (!m_active) return Error(Errc::Internal, "the change is over");
    if (number == 0 || number >= m_pageCount)
        return corrupt("page " + std::to_string(number) + " outside the file");
    touch(number);
    auto it = m_staged.find(number);
    if (it != m_staged.end()) return it->second->data();
    TAB_TRY(spillIfNeeded());
    PageSource& src = m_db->pages();
    src.setOverlay(nullptr);
    auto original = src.page(number);
    src.setOverlay(this);
    if (!original.ok()) return original.error();
    auto copy = std::make_shared<Page>(**original);
    uint8_t* data = copy->data();
    m_staged.emplace(number, std::move(copy));
    m_impl->touchedPages.push_back(number);
    return data;
}

Result<uint32_t> Pager::append() {
    if (!m_active) return Error(Errc::Internal, "the change is over");
    if (m_pageCount >= 0x80000)  // 2 GB of 4 KB pages
        return Error(Errc::Unsupported, "the database would grow beyond 2 GB");
    TAB_TRY(spillIfNeeded());
    uint32_t n = m_pageCount++;
    m_staged.emplace(n, std::make_shared<Page>(m_impl->pageSize, 0));
    m_impl->touchedPages.push_back(n);
    touch(n);
    return n;
}

Status Pager::commit() {
    if (!m_active) return Error(Errc::Internal, "the change is over");
    Impl& m = *m_impl;
    PageSource& src = m_db->pages();
    if (!m.db.isOpen()) {
        std::vector<uint8_t> buf(m.pageSize);
        for (const auto& [number, page] : m_staged) {
            std::memcpy(buf.data(), page->data(), m.pageSize);
            encodePage(src, number, buf);
            src.writeImage(number, buf);
        }
        return finish();
    }
    if (!m_staged.empty()) {
        std::vector<uint32_t> pages;
        pages.reserve(m_staged.size());
        for (const auto& entry : m_staged) pages.push_back(entry.first);
        std::sort(pages.begin(), pages.end());
        if (Status st = m.writePages(pages, m_staged, src); !st.ok()) return undo(st.error());
    }
    if (m.journal) {
        if (m.options.durable)
            if (Status st = m.db.sync(); !st.ok()) return undo(st.error());
        // Here the change takes effect.
        if (Status st = removeFile(*m.io, m.journal->file().path()); !st.ok())
            return undo(st.error());
        m.journal.reset();
        // Without this sync a power failure may bring the journal back, and the next
        // open undoes the change: still whole, so it is not reported.
        if (m.options.durable) (void)syncFolder(*m.io, folderOf(m.path));
    }
    Status reloaded = finish();
    if (!reloaded.ok())
        return reloaded.error().withContext(
            "the change was saved, but reading the database again failed");
    return Status::success();
}

void Pager::rollback() {
    if (!m_active) return;
    if (m_impl->journal)
        (void)undo(Error(Errc::Internal, "the change was abandoned"));
    else
        (void)finish();
}

Status Pager::finish() {
    Impl& m = *m_impl;
    m_active = false;
    m_staged.clear();
    m.lastTouch.clear();
    PageSource& src = m_db->pages();
    if (src.overlay() == this) src.setOverlay(nullptr);
    m.journal.reset();
    if (m.lockFile) (void)m.lockFile->release();  // a stale one of ours is taken over next time
    m.lockFile.reset();
    m.db.close();  // ends the write lock
    if (m.readAll) return m_db->reload();
    return m_db->afterChange(m.touchedPages, m_catalogChanged);
}

Error Pager::undo(const Error& reason) {
    Impl& m = *m_impl;
    m.readAll = true;
    PageSource& src = m_db->pages();
    if (src.overlay() == this) src.setOverlay(nullptr);
    m_staged.clear();
    std::string outcome = "the database was not changed";
    if (m.journal && !m.written) {
        // Nothing reached the database; a journal left behind would restore what is there.
        (void)removeFile(*m.io, m.journal->file().path());
    } else if (m.journal) {
        const std::string jpath = m.journal->file().path();
        Status st =
            restoreFromJournal(m.db, m.journal->file(), m.journal->header(), m.options.durable);
        if (st.ok()) {
            // If the journal cannot go, it restores the same images again on the next open.
            if (removeFile(*m.io, jpath).ok() && m.options.durable)
                (void)syncFolder(*m.io, folderOf(m.path));
        } else {
            outcome = "undoing it failed too (" + st.error().message() +
                      "); until the database is opened again, which repairs it, it is shown "
                      "read-only as it was before";
            auto view = JournalView::open(FileIo::system(), jpath);
            if (view.ok()) {
                (*view)->attach(&src);
                m_db->showBeforeChange(std::move(*view),
                                       "The last change could not be completed or undone; the "
                                       "database is shown read-only as it was before it. Open "
                                       "it again to repair the file.");
            }
        }
    }
    Status reloaded = finish();
    if (!reloaded.ok()) outcome += "; reading it again failed: " + reloaded.error().message();
    return Error(reason.code(), reason.message() + "; " + outcome);
}

Pager::Stats Pager::stats() const {
    return m_impl ? m_impl->stats : Stats{};
}

}  // namespace tab::jet::edit
