// Tables linked from another Access file. A link stores the path of its
// database as the machine that made it saw it (usually a Windows path with a
// drive letter or a UNC share), so the file is looked for where a user keeps
// a copy of a split database: beside the front-end.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/catalog.h"
#include "tabulary/jet/database.h"
#include "tabulary/jet/table_def.h"

namespace tab::jet {

// Links of links are followed this deep.
constexpr int kMaxLinkDepth = 8;

struct LinkedFileSearch {
    std::string found;               // empty: not found
    std::vector<std::string> tried;  // every place looked at, in order
};

// The stored path as it is, then its file name in `folder`, then its
// relative tail under `folder`, longest first; letter case is ignored in
// every name below `folder`.
LinkedFileSearch findLinkedFile(std::string_view storedPath, const std::filesystem::path& folder);

// What a link names, for the catalogue: the file (or the connection's data
// source) and the table there.
struct LinkDescription {
    std::string kind;    // "Access", "ODBC", or the connection's own type ("Excel 8.0", ...)
    std::string target;  // the stored path, or "DSN=..." / "DRIVER=..." of an ODBC link
    std::string foreignName;
};
LinkDescription describeLink(const CatalogObject& link);

struct LinkedTable {
    std::shared_ptr<Database> database;  // where the rows are
    std::shared_ptr<const TableDef> table;
    std::string path;  // the file found
};

// Follows an Access link to its table, through links of links. The linked
// file is opened without a password, then, if it needs one, with the
// password the link's connection carries, then with `password` (the one
// the front-end was opened with). Files opened here are kept in `cache`,
// which the front-end's connection owns. Errors name the link, the stored
// path and where it was looked for.
class LinkedDatabases {
public:
    explicit LinkedDatabases(std::string password = {}) : m_password(std::move(password)) {}
    Result<LinkedTable> open(const Database& frontEnd, const CatalogObject& link);
    // A file found elsewhere (IN 'file'), opened as the links' files are.
    Result<std::shared_ptr<Database>> openDatabase(const std::string& path) {
        return openFile(path, {});
    }

private:
    Result<std::shared_ptr<Database>> openFile(const std::string& path,
                                               const std::string& linkPassword);
    std::string m_password;
    std::vector<std::pair<std::string, std::shared_ptr<Database>>> m_open;
};

}  // namespace tab::jet
