// An open Access database: header, page access, catalogue and table
// definitions. Entry point of the engine; read-only.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/catalog.h"
#include "tabulary/jet/format.h"
#include "tabulary/jet/header.h"
#include "tabulary/jet/page_source.h"
#include "tabulary/jet/table_def.h"
#include "tabulary/jet/value.h"

namespace tab::jet {

namespace edit {
class FileIo;
}

struct OpenOptions {
    std::string password;
    bool checkPassword = true;
    edit::FileIo* io = nullptr;  // the file system for recovery; null: the real one
};

// How a complex column's values are kept: key -> the items of one row.
struct ComplexValues;
struct IndexPageView;

class Database {
public:
    static Result<std::unique_ptr<Database>> open(const std::string& path,
                                                  const OpenOptions& options = {});
    static Result<std::unique_ptr<Database>> openMemory(std::vector<uint8_t> image,
                                                        const OpenOptions& options = {});
    ~Database();

    const Header& header() const { return m_header; }
    const Format& format() const { return m_format; }
    const Catalog& catalog() const { return m_catalog; }
    PageSource& pages() { return *m_pages; }
    const std::string& path() const { return m_pages->path(); }

    // Table definition by name (user, system or complex flat table); cached.
    Result<std::shared_ptr<const TableDef>> table(std::string_view name);
    Result<std::shared_ptr<const TableDef>> tableAtPage(uint32_t tdefPage, std::string name);

    // Assembles a long value (Memo/OLE) from its 12-byte header and data.
    Result<std::string> readLongValue(std::span<const uint8_t> field);
    // The same into `out`, whose capacity is kept (scans reuse one buffer).
    Status readLongValue(std::span<const uint8_t> field, std::string& out);

    // An index page, parsed once and kept: lookups through an index visit
    // the same few node pages again and again.
    Result<std::shared_ptr<const IndexPageView>> indexPage(uint32_t number);

    // Items of a complex column for one row's key (multi-value, attachments).
    Result<Value> complexValue(const TableDef& table, const Column& column, int32_t key);

    // What opening did about a change that a crash interrupted, for the
    // user; empty when there was none.
    const std::string& openNotice() const { return m_openNotice; }
    // The change engine, when neither a change nor its undoing could be
    // completed: from now on the pages are read as they were before it.
    void showBeforeChange(std::unique_ptr<PageOverlay> view, std::string notice);

    // Drops decoded table definitions, index pages and complex values: a
    // change in progress has rewritten some of them.
    void forgetDecoded();
    // After the file changed (or a change was rolled back): drops every
    // cached page and decoded structure and reads the catalogue again
    // (unless the change left it alone).
    Status reload(bool catalog = true);
    // After a change that staged `pages`: only what was decoded from them
    // is dropped (all of it when the catalogue changed).
    Status afterChange(const std::vector<uint32_t>& pages, bool catalog);

private:
    Database() = default;
    static Result<std::unique_ptr<Database>> init(std::unique_ptr<PageSource> pages,
                                                  const OpenOptions& options);
    Status loadCatalog();

    std::unique_ptr<PageOverlay> m_beforeChange;  // read over m_pages; outlives its use there
    std::string m_openNotice;
    std::unique_ptr<PageSource> m_pages;
    Header m_header;
    Format m_format;
    Catalog m_catalog;
    std::map<uint32_t, std::shared_ptr<const TableDef>> m_tables;  // by TDEF page
    std::map<uint32_t, std::shared_ptr<ComplexValues>> m_complex;  // by complex id
    std::unordered_map<uint32_t, std::shared_ptr<const IndexPageView>> m_indexPages;
};

}  // namespace tab::jet
