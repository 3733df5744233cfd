#include "edit/journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace tab::jet::edit {

const char* const kRecoveredNotice =
    "The last change to this database was interrupted; it has been undone.";
const char* const kReadOnlyRecoveredNotice =
    "The last change to this database was interrupted, and the file cannot be written here, so "
    "it was not repaired: it is shown read-only as it was before that change. Open it where it "
    "can be written to undo the change in the file.";

namespace {

constexpr char kMagic[16] = {'T', 'A', 'B', 'U', 'L', 'A', 'R', 'Y',
                             '-', 'J', 'O', 'U', 'R', 'N', 'A', 'L'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kCrcAt = 508;
// A journal of a live writer is waited for this long before opening fails.
constexpr std::chrono::milliseconds kRecoveryWait{3000};

// CRC-32 (the zlib one), eight bytes a step: every page of a big change
// passes through it.
struct CrcTable {
    uint32_t v[8][256];
    constexpr CrcTable() : v() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            v[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s) v[s][i] = (v[s - 1][i] >> 8) ^ v[0][v[s - 1][i] & 0xFF];
    }
};
constexpr CrcTable kCrc;

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint64_t get64(const uint8_t* p) {
    return uint64_t{get32(p)} | uint64_t{get32(p + 4)} << 32;
}

uint32_t recordCrc(const JournalHeader& h, uint32_t page, std::span<const uint8_t> image) {
    uint8_t prefix[8];
    put32(prefix, h.nonce);
    put32(prefix + 4, page);
    return crc32(image, crc32(prefix));
}

size_t recordSize(const JournalHeader& h) {
    return size_t{h.pageSize} + 8;
}

// Visits every record whose CRC holds, first record of a page only.
template <class F>
Status forEachRecord(const FileHandle& journal, const JournalHeader& h, F&& visit) {
    TAB_ASSIGN_OR_RETURN(uint64_t size, journal.size());
    const size_t rec = recordSize(h);
    std::vector<uint8_t> buf(rec);
    std::vector<bool> seen(h.originalPages);
    for (uint64_t at = kJournalHeaderSize; at + rec <= size; at += rec) {
        TAB_TRY(journal.readAll(buf, at));
        const uint32_t page = get32(buf.data());
        std::span<const uint8_t> image(buf.data() + 4, h.pageSize);
        if (get32(buf.data() + 4 + h.pageSize) != recordCrc(h, page, image)) continue;
        if (page >= h.originalPages || seen[page]) continue;
        seen[page] = true;
        TAB_TRY(visit(page, image, at + 4));
    }
    return Status::success();
}

Result<std::unique_ptr<JournalHeader>> readHeader(const FileHandle& journal) {
    TAB_ASSIGN_OR_RETURN(uint64_t size, journal.size());
    if (size < kJournalHeaderSize) return std::unique_ptr<JournalHeader>();
    std::vector<uint8_t> bytes(kJournalHeaderSize);
    TAB_TRY(journal.readAll(bytes, 0));
    return decodeJournalHeader(bytes);
}

bool writeRefused(int e) {
    return e == EACCES || e == EROFS || e == EPERM;
}

}  // namespace

uint32_t crc32(std::span<const uint8_t> data, uint32_t crc) {
    const auto& t = kCrc.v;
    crc = ~crc;
    const uint8_t* p = data.data();
    size_t n = data.size();
    for (; n >= 8; p += 8, n -= 8) {
        const uint32_t lo = crc ^ get32(p), hi = get32(p + 4);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; n; --n) crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string journalPath(const std::string& databasePath) {
    return databasePath + ".tbj";
}

std::vector<uint8_t> encodeJournalHeader(const JournalHeader& h) {
    std::vector<uint8_t> out(kJournalHeaderSize, 0);
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    put32(&out[16], kVersion);
    put32(&out[20], kJournalHeaderSize);
    put32(&out[24], h.pageSize);
    put32(&out[28], h.originalPages);
    put64(&out[32], h.originalSize);
    put32(&out[40], h.nonce);
    std::memcpy(&out[44], h.identity.data(), h.identity.size());
    put32(&out[kCrcAt], crc32(std::span<const uint8_t>(out.data(), kCrcAt)));
    return out;
}

std::unique_ptr<JournalHeader> decodeJournalHeader(std::span<const uint8_t> b) {
    if (b.size() < kJournalHeaderSize) return nullptr;
    if (std::memcmp(b.data(), kMagic, sizeof kMagic) != 0) return nullptr;
    if (get32(&b[kCrcAt]) != crc32(b.subspan(0, kCrcAt))) return nullptr;
    if (get32(&b[16]) != kVersion || get32(&b[20]) != kJournalHeaderSize) return nullptr;
    auto h = std::make_unique<JournalHeader>();
    h->pageSize = get32(&b[24]);
    h->originalPages = get32(&b[28]);
    h->originalSize = get64(&b[32]);
    h->nonce = get32(&b[40]);
    std::memcpy(h->identity.data(), &b[44], h->identity.size());
    if (h->pageSize != 2048 && h->pageSize != 4096) return nullptr;
    if (h->originalPages == 0 || h->originalPages > 0x1000000 ||
        h->originalSize != uint64_t{h->originalPages} * h->pageSize)
        return nullptr;
    return h;
}

std::vector<uint8_t> encodeJournalRecord(const JournalHeader& h, uint32_t page,
                                         std::span<const uint8_t> image) {
    std::vector<uint8_t> out(recordSize(h), 0);
    put32(out.data(), page);
    std::memcpy(out.data() + 4, image.data(), std::min<size_t>(image.size(), h.pageSize));
    put32(out.data() + 4 + h.pageSize,
          recordCrc(h, page, std::span<const uint8_t>(out.data() + 4, h.pageSize)));
    return out;
}

Result<std::array<uint8_t, 12>> databaseIdentity(const FileHandle& db) {
    std::array<uint8_t, 12> id{};
    TAB_TRY(db.readAll(std::span<uint8_t>(id.data(), 4), 0x3E));
    TAB_TRY(db.readAll(std::span<uint8_t>(id.data() + 4, 8), 0x72));
    return id;
}

Result<std::unique_ptr<JournalWriter>> JournalWriter::create(FileIo& io, const std::string& path,
                                                             const JournalHeader& header) {
    int fd = io.open(path, O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        if (errno == EEXIST)
            return Error(Errc::Io, path +
                                       ": a journal of another change is in the way; reopen the "
                                       "database to undo that change");
        return ioError(errno, path);
    }
    std::unique_ptr<JournalWriter> w(new JournalWriter());
    w->m_io = &io;
    w->m_file = FileHandle(&io, fd, path);
    w->m_header = header;
    w->m_pending = encodeJournalHeader(header);
    return w;
}

Status JournalWriter::add(uint32_t page, std::span<const uint8_t> image) {
    std::vector<uint8_t> rec = encodeJournalRecord(m_header, page, image);
    m_pending.insert(m_pending.end(), rec.begin(), rec.end());
    if (m_pending.size() >= (size_t{1} << 20)) return flush();
    return Status::success();
}

Status JournalWriter::flush() {
    if (m_pending.empty()) return Status::success();
    TAB_TRY(m_file.writeAll(m_pending, m_end));
    m_end += m_pending.size();
    m_pending.clear();
    return Status::success();
}

Status JournalWriter::sync(bool durable) {
    TAB_TRY(flush());
    if (!durable) return Status::success();
    TAB_TRY(m_file.sync());
    if (!m_folderSynced) {
        TAB_TRY(syncFolder(*m_io, folderOf(m_file.path())));
        m_folderSynced = true;
    }
    return Status::success();
}

Status restoreFromJournal(const FileHandle& db, const FileHandle& journal,
                          const JournalHeader& header, bool durable) {
    TAB_TRY(forEachRecord(journal, header,
                          [&](uint32_t page, std::span<const uint8_t> image, uint64_t) {
                              return db.writeAll(image, uint64_t{page} * header.pageSize);
                          }));
    TAB_TRY(db.truncate(header.originalSize));
    if (durable) TAB_TRY(db.sync());
    return Status::success();
}

Result<std::unique_ptr<JournalView>> JournalView::open(FileIo& io, const std::string& path) {
    TAB_ASSIGN_OR_RETURN(FileHandle file, openFile(io, path, O_RDONLY));
    TAB_ASSIGN_OR_RETURN(auto header, readHeader(file));
    if (!header) return Error(Errc::Corrupt, path + ": not a valid journal");
    std::unique_ptr<JournalView> view(new JournalView());
    view->m_header = *header;
    view->m_offsets.assign(header->originalPages, 0);
    TAB_TRY(forEachRecord(file, *header, [&](uint32_t page, std::span<const uint8_t>, uint64_t at) {
        view->m_offsets[page] = at;
        return Status::success();
    }));
    view->m_file = std::move(file);
    return view;
}

PageRef JournalView::staged(uint32_t number) const {
    if (number >= m_offsets.size() || m_offsets[number] == 0) return nullptr;
    auto page = std::make_shared<Page>(m_header.pageSize, 0);
    // A journal that cannot be read gives an empty page, which the readers
    // report as damaged, rather than the half-changed page of the file.
    if (!m_file.readAll(*page, m_offsets[number]).ok()) {
        std::fill(page->begin(), page->end(), 0);
        return page;
    }
    if (m_source && m_source->decoder() && number != 0) m_source->decoder()(number, *page);
    return page;
}

Result<Recovery> recoverJournal(const std::string& givenPath, FileIo& io) {
    const std::string databasePath = resolvedPath(givenPath);
    const std::string jpath = journalPath(databasePath);
    if (io.access(jpath, F_OK) != 0) return Recovery{};
    const std::string folder = folderOf(databasePath);
    bool writable = io.access(databasePath, W_OK) == 0 && io.access(folder, W_OK) == 0;
    FileHandle db;
    if (writable) {
        int fd = io.open(databasePath, O_RDWR, 0);
        if (fd >= 0)
            db = FileHandle(&io, fd, databasePath);
        else if (writeRefused(errno))
            writable = false;
        else
            return ioError(errno, databasePath);
    }
    if (!writable) {
        TAB_ASSIGN_OR_RETURN(db, openFile(io, databasePath, O_RDONLY));
    }

    // A live writer holds the lock for as long as its journal exists.
    TAB_ASSIGN_OR_RETURN(bool locked, db.lockWithin(writable, kRecoveryWait));
    if (!locked)
        return Error(Errc::Io,
                     databasePath + " is being changed by another program; try again in a moment");

    return recoverLocked(io, db, databasePath, writable);
}

Result<Recovery> recoverLocked(FileIo& io, const FileHandle& db, const std::string& databasePath,
                               bool writable) {
    const std::string jpath = journalPath(databasePath);
    const std::string folder = folderOf(databasePath);
    int jfd = io.open(jpath, O_RDONLY, 0);
    if (jfd < 0) {
        if (errno == ENOENT) return Recovery{};  // that writer finished meanwhile
        return ioError(errno, jpath);
    }
    FileHandle journal(&io, jfd, jpath);
    TAB_ASSIGN_OR_RETURN(auto header, readHeader(journal));
    auto drop = [&](std::string notice) -> Result<Recovery> {
        if (!writable) return Recovery{};
        journal.close();
        TAB_TRY(removeFile(io, jpath));
        TAB_TRY(syncFolder(io, folder));
        Recovery r;
        r.notice = std::move(notice);
        return r;
    };
    // Torn while it was created: the database was not written yet.
    if (!header) return drop("");

    TAB_ASSIGN_OR_RETURN(uint64_t size, db.size());
    bool same = size >= header->originalSize && size >= 0x7A;
    if (same) {
        TAB_ASSIGN_OR_RETURN(auto identity, databaseIdentity(db));
        same = identity == header->identity;
    }
    if (!same)
        return drop("A journal beside the database (" + jpath +
                    ") belonged to another file and was removed.");

    Recovery r;
    if (!writable) {
        journal.close();
        // Read through the real file system: the view outlives this call.
        TAB_ASSIGN_OR_RETURN(r.view, JournalView::open(FileIo::system(), jpath));
        r.notice = kReadOnlyRecoveredNotice;
        return r;
    }
    Status st = restoreFromJournal(db, journal, *header);
    if (!st.ok()) return st.error().withContext("cannot undo the interrupted last change");
    journal.close();
    TAB_TRY(removeFile(io, jpath));
    TAB_TRY(syncFolder(io, folder));
    r.notice = kRecoveredNotice;
    return r;
}

}  // namespace tab::jet::edit
