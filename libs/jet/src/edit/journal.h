// The rollback journal that makes a change of a database atomic: before a
// page of the database is overwritten, its original image goes to
// "<database>.tbj" beside it, and the journal is flushed to disk; only when
// the database itself is flushed is the journal deleted. A journal found when
// the database is opened therefore belongs to a change that never finished,
// and copying its images back restores the file as it was before.
//
// Layout, little-endian:
//   header, 512 bytes:
//     0  "TABULARY-JOURNAL"           16  u32 format version (1)
//     20 u32 header size (512)         24  u32 page size
//     28 u32 pages of the database when the change began
//     32 u64 size of the database then (pages * page size)
//     40 u32 nonce, random per journal
//     44 12 bytes of the database's header as stored (0x3E database key,
//        0x72 creation date), so a journal is never applied to another file
//     508 u32 CRC-32 of bytes 0-507
//   records, one after the other up to the end of the file:
//     u32 page number, the page's original image (page size bytes, as stored
//     in the file, still encoded), u32 CRC-32 of the nonce, number and image.
//
// The header and the records of a batch are written, then the journal is
// synced (and, when it was just created, its folder) before any database page
// they protect is written. A record with a bad CRC was torn by a crash while
// the journal was written, so its page had not been touched yet; recovery
// skips it. A header with a bad CRC means nothing was written at all: such a
// journal is simply deleted. Pages added by the change have no records: the
// database is truncated back to its original size instead.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "file_io.h"
#include "tabulary/base/error.h"
#include "tabulary/jet/page_source.h"

namespace tab::jet::edit {

uint32_t crc32(std::span<const uint8_t> data, uint32_t crc = 0);

std::string journalPath(const std::string& databasePath);

constexpr size_t kJournalHeaderSize = 512;

struct JournalHeader {
    uint32_t pageSize = 4096;
    uint32_t originalPages = 0;
    uint64_t originalSize = 0;
    uint32_t nonce = 0;
    std::array<uint8_t, 12> identity{};
};

std::vector<uint8_t> encodeJournalHeader(const JournalHeader& h);
// Null when the bytes are not a whole, valid header.
std::unique_ptr<JournalHeader> decodeJournalHeader(std::span<const uint8_t> bytes);
std::vector<uint8_t> encodeJournalRecord(const JournalHeader& h, uint32_t page,
                                         std::span<const uint8_t> image);

// The identity bytes of the database open in `db` (its header as stored).
Result<std::array<uint8_t, 12>> databaseIdentity(const FileHandle& db);

// A journal being written by a change.
class JournalWriter {
public:
    // Creates the file; fails if one is there already.
    static Result<std::unique_ptr<JournalWriter>> create(FileIo& io, const std::string& path,
                                                         const JournalHeader& header);
    // Queues the original image of `page`; written by sync() at the latest.
    Status add(uint32_t page, std::span<const uint8_t> image);
    // Writes what is queued and flushes the journal (and, the first time, its
    // folder) to disk; `durable` false skips the flushes.
    Status sync(bool durable);
    const JournalHeader& header() const { return m_header; }
    const FileHandle& file() const { return m_file; }

private:
    JournalWriter() = default;
    Status flush();
    FileIo* m_io = nullptr;
    FileHandle m_file;
    JournalHeader m_header;
    std::vector<uint8_t> m_pending;
    uint64_t m_end = 0;
    bool m_folderSynced = false;
};

// Copies every valid record of `journal` back into `db`, truncates it to the
// original size and flushes it. The journal itself is left for the caller.
Status restoreFromJournal(const FileHandle& db, const FileHandle& journal,
                          const JournalHeader& header, bool durable = true);

// The database as it was before the change, without touching the file: the
// journal's images over the file's pages, and the original page count.
class JournalView final : public PageOverlay {
public:
    // Reads the journal at `path` (kept open) and indexes its valid records.
    static Result<std::unique_ptr<JournalView>> open(FileIo& io, const std::string& path);
    // The source whose decoder turns the stored images into pages.
    void attach(const PageSource* source) { m_source = source; }
    uint32_t pageCount() const override { return m_header.originalPages; }
    PageRef staged(uint32_t number) const override;
    const JournalHeader& header() const { return m_header; }

private:
    JournalView() = default;
    FileHandle m_file;
    JournalHeader m_header;
    std::vector<uint64_t> m_offsets;  // by page; 0: no record
    const PageSource* m_source = nullptr;
};

// What opening a database did about a journal left beside it.
struct Recovery {
    std::unique_ptr<JournalView> view;  // set when the file could not be repaired
    std::string notice;                 // for the user; empty when nothing happened
};

// Before a database file is read: restores it from a journal of an
// interrupted change and deletes the journal, or deletes a journal that is
// invalid. Takes the database's write lock first, so a change still running
// in another process is never undone under it (waits a few seconds, then
// fails). A read-only file or folder is not repaired; the result then holds
// the view of the database before the change.
Result<Recovery> recoverJournal(const std::string& databasePath, FileIo& io);

// The same, for a caller that holds the write lock on `db` already (opened
// for writing when `writable`).
Result<Recovery> recoverLocked(FileIo& io, const FileHandle& db, const std::string& databasePath,
                               bool writable);

extern const char* const kRecoveredNotice;
extern const char* const kReadOnlyRecoveredNotice;

}  // namespace tab::jet::edit
