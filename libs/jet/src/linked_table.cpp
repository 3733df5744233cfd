#include "tabulary/jet/linked_table.h"

#include <cctype>
#include <system_error>

#include "tabulary/base/ascii_case.h"

namespace tab::jet {

namespace fs = std::filesystem;

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    return equalsIgnoringAsciiCase(a, b);
}

// The parts of a stored path below its root: no drive letter, no UNC
// server and share, no empty or "." parts.
std::vector<std::string> pathParts(std::string_view stored, bool& absolute) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : stored) {
        if (c == '\\' || c == '/') {
            parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(std::move(part));
    absolute = false;
    size_t skip = 0;
    if (stored.size() >= 2 && (stored[0] == '\\' || stored[0] == '/') &&
        (stored[1] == '\\' || stored[1] == '/')) {
        absolute = true;  // \\server\share\...
        skip = 4;
    } else if (!parts.empty() && parts[0].size() == 2 && parts[0][1] == ':' &&
               std::isalpha(static_cast<unsigned char>(parts[0][0]))) {
        absolute = true;  // C:\...
        skip = 1;
    } else if (!stored.empty() && (stored[0] == '\\' || stored[0] == '/')) {
        absolute = true;
        skip = 1;
    }
    std::vector<std::string> out;
    for (size_t i = std::min(skip, parts.size()); i < parts.size(); ++i)
        if (!parts[i].empty() && parts[i] != ".") out.push_back(parts[i]);
    return out;
}

// `parts` under `folder`, each name matched without regard to case.
std::string findNoCase(const fs::path& folder, const std::vector<std::string>& parts, size_t from) {
    fs::path at = folder;
    std::error_code ec;
    for (size_t i = from; i < parts.size(); ++i) {
        const std::string& name = parts[i];
        if (name == "..") {
            at = at.parent_path();
            continue;
        }
        const bool last = i + 1 == parts.size();
        fs::path exact = at / name;
        if (last ? fs::is_regular_file(exact, ec) : fs::is_directory(exact, ec)) {
            at = exact;
            continue;
        }
        fs::path match;
        for (fs::directory_iterator it(at, ec), end; !ec && it != end; it.increment(ec)) {
            if (!equalsNoCase(it->path().filename().string(), name)) continue;
            if (last ? it->is_regular_file(ec) : it->is_directory(ec)) {
                match = it->path();
                break;
            }
        }
        if (match.empty()) return {};
        at = match;
    }
    return at.string();
}

std::string joinParts(const fs::path& folder, const std::vector<std::string>& parts, size_t from) {
    fs::path p = folder;
    for (size_t i = from; i < parts.size(); ++i) p /= parts[i];
    return p.string();
}

// "TYPE;KEY=value;..." of a link's connection.
struct ConnectString {
    std::string type;
    std::vector<std::pair<std::string, std::string>> values;
    std::string get(std::string_view key) const {
        for (const auto& [k, v] : values)
            if (equalsNoCase(k, key)) return v;
        return {};
    }
};

ConnectString parseConnect(std::string_view s) {
    ConnectString c;
    size_t pos = 0;
    bool first = true;
    while (pos <= s.size()) {
        size_t end = s.find(';', pos);
        if (end == std::string_view::npos) end = s.size();
        std::string_view item = s.substr(pos, end - pos);
        const size_t eq = item.find('=');
        if (first && eq == std::string_view::npos)
            c.type = std::string(item);
        else if (eq != std::string_view::npos)
            c.values.emplace_back(std::string(item.substr(0, eq)),
                                  std::string(item.substr(eq + 1)));
        first = false;
        pos = end + 1;
    }
    return c;
}

bool isAccessLink(const ConnectString& c) {
    return c.type.empty() || equalsNoCase(c.type, "MS Access");
}

}  // namespace

LinkedFileSearch findLinkedFile(std::string_view storedPath, const fs::path& folder) {
    LinkedFileSearch s;
    bool absolute = false;
    const std::vector<std::string> parts = pathParts(storedPath, absolute);
    if (parts.empty()) return s;
    auto look = [&](const std::string& shown, const std::string& found) {
        s.tried.push_back(shown);
        if (!found.empty()) s.found = found;
        return !found.empty();
    };
    std::error_code ec;
    // As stored: a path of this machine, or one relative to the front-end.
    fs::path stored = fs::path(std::string(storedPath));
    if (stored.is_relative() && !absolute) stored = folder / stored;
    if (look(stored.string(), fs::is_regular_file(stored, ec) ? stored.string() : std::string()))
        return s;
    // The file name beside the front-end.
    const size_t name = parts.size() - 1;
    if (look(joinParts(folder, parts, name), findNoCase(folder, parts, name))) return s;
    // The stored path's tails under the front-end's folder, longest first; a
    // relative path whole, with its "..".
    for (size_t from = 0; from < name; ++from) {
        bool up = false;
        for (size_t i = from; i < parts.size(); ++i) up = up || parts[i] == "..";
        if (up && (absolute || from > 0)) continue;
        if (look(joinParts(folder, parts, from), findNoCase(folder, parts, from))) return s;
    }
    return s;
}

LinkDescription describeLink(const CatalogObject& link) {
    LinkDescription d;
    d.foreignName = link.foreignName;
    const ConnectString c = parseConnect(link.connect);
    if (link.kind == ObjectKind::LinkedOdbc ||
        (c.type.size() >= 4 && equalsNoCase(c.type.substr(0, 4), "ODBC"))) {
        d.kind = "ODBC";
        if (std::string dsn = c.get("DSN"); !dsn.empty())
            d.target = "DSN=" + dsn;
        else if (std::string driver = c.get("DRIVER"); !driver.empty())
            d.target = "DRIVER=" + driver;
        else if (std::string file = c.get("FILEDSN"); !file.empty())
            d.target = "FILEDSN=" + file;
        else
            d.target = "no DSN or driver named";
        return d;
    }
    d.kind = isAccessLink(c) ? "Access" : c.type;
    d.target = !link.database.empty() ? link.database : c.get("DATABASE");
    return d;
}

Result<std::shared_ptr<Database>> LinkedDatabases::openFile(const std::string& path,
                                                            const std::string& linkPassword) {
    for (const auto& [p, db] : m_open)
        if (p == path) return db;
    Result<std::unique_ptr<Database>> db = Error(Errc::WrongPassword, "");
    const std::string* passwords[] = {nullptr, &linkPassword, &m_password};
    for (const std::string* pw : passwords) {
        if (pw && pw->empty()) continue;
        OpenOptions o;
        if (pw) o.password = *pw;
        db = Database::open(path, o);
        if (db.ok() || db.error().code() != Errc::WrongPassword) break;
    }
    if (!db.ok()) return db.error();
    std::shared_ptr<Database> shared(std::move(*db));
    m_open.emplace_back(path, shared);
    return shared;
}

Result<LinkedTable> LinkedDatabases::open(const Database& frontEnd, const CatalogObject& link) {
    const std::string what = "The linked table '" + link.name + "'";
    const LinkDescription d = describeLink(link);
    if (d.kind == "ODBC")
        return Error(Errc::Unsupported, what + " is an ODBC link (" + d.target +
                                            "); ODBC data sources cannot be reached from here");
    if (d.kind != "Access")
        return Error(Errc::Unsupported, what + " is linked to a " + d.kind + " source (" +
                                            d.target + "); only links to Access files are read");
    const Database* from = &frontEnd;
    const CatalogObject* at = &link;
    std::string linkPassword = parseConnect(link.connect).get("PWD");
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        const LinkDescription here = describeLink(*at);
        if (here.kind != "Access")
            return Error(Errc::Unsupported, what + " leads to '" + at->name + "', a " + here.kind +
                                                " link (" + here.target + "), which is not read");
        const fs::path folder = fs::path(from->path()).parent_path();
        LinkedFileSearch search = findLinkedFile(here.target, folder);
        if (search.found.empty()) {
            std::string tried;
            for (const auto& t : search.tried) tried += (tried.empty() ? "" : ", ") + t;
            return Error(Errc::NotFound, what + " cannot be read: its database \"" + here.target +
                                             "\" was not found (looked for " +
                                             (tried.empty() ? "nothing" : tried) + ")");
        }
        auto db = openFile(search.found, linkPassword);
        if (!db.ok()) return db.error().withContext(what + ": its database " + search.found);
        const std::string& name = at->foreignName.empty() ? at->name : at->foreignName;
        const CatalogObject* target = (*db)->catalog().findTable(name);
        if (!target)
            return Error(Errc::NotFound, what + " names the table '" + name + "', which " +
                                             search.found + " does not hold");
        if (target->kind != ObjectKind::LinkedTable && target->kind != ObjectKind::LinkedOdbc) {
            auto def = (*db)->table(target->name);
            if (!def.ok()) return def.error().withContext(what + " (in " + search.found + ")");
            return LinkedTable{*db, *def, search.found};
        }
        from = db->get();
        at = target;
        linkPassword = parseConnect(target->connect).get("PWD");
    }
    return Error(Errc::Unsupported,
                 what + " leads through more than " + std::to_string(kMaxLinkDepth) + " links");
}

}  // namespace tab::jet
