#include "tabulary/ado/connection_string.h"

#include <cctype>

namespace tab::ado {

namespace {

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

Error invalid(const std::string& what) {
    return Error(Errc::InvalidArgument, what);
}

}  // namespace

Result<ConnectionString> parseConnectionString(std::string_view text) {
    ConnectionString cs;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(';', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view piece = text.substr(pos, end - pos);
        pos = end + 1;
        if (trimmed(piece).empty()) continue;  // a trailing or doubled ';'
        size_t eq = piece.find('=');
        if (eq == std::string_view::npos)
            return invalid("Malformed connection string: \"" + std::string(trimmed(piece)) +
                           "\" is not of the form key=value (a ';' in a path or password cuts it)");
        std::string key = lowered(trimmed(piece.substr(0, eq)));
        if (key.empty()) return invalid("Malformed connection string: a value without a key");
        cs.keys[key] = std::string(piece.substr(eq + 1));
    }
    auto provider = cs.keys.find("provider");
    if (provider == cs.keys.end()) return invalid("The connection string names no provider");
    std::string name = lowered(trimmed(provider->second));
    if (name == "microsoft.jet.oledb.4.0")
        cs.provider = Provider::Jet4;
    else if (name == "microsoft.ace.oledb.12.0")
        cs.provider = Provider::Ace12;
    else
        return invalid("Provider cannot be found. It may not be properly installed. (\"" +
                       provider->second + "\")");
    auto source = cs.keys.find("data source");
    if (source == cs.keys.end() || source->second.empty())
        return invalid("The connection string names no Data Source (database file)");
    cs.dataSource = source->second;
    if (auto pw = cs.keys.find("jet oledb:database password"); pw != cs.keys.end())
        cs.password = pw->second;
    return cs;
}

std::string buildConnectionString(std::string_view path, std::string_view password) {
    std::string tail = lowered(path.size() > 5 ? path.substr(path.size() - 5) : path);
    std::string s = tail == "accdb" ? "Provider=Microsoft.ACE.OLEDB.12.0;Data Source="
                                    : "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=";
    s.append(path);
    s += ";JET OLEDB:Database Password=";
    s.append(password);
    return s;
}

}  // namespace tab::ado
