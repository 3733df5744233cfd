// Connection strings as the Access OLE DB providers take them: pieces
// separated by ';', each KEY=VALUE, keys trimmed and case-insensitive, values
// exactly as written. Nothing is quoted or escaped, so a ';' inside a path or
// password cuts the piece in two, which is an error.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "tabulary/base/error.h"

namespace tab::ado {

enum class Provider { Jet4, Ace12 };

struct ConnectionString {
    Provider provider = Provider::Jet4;
    std::string dataSource;                   // the database file
    std::string password;                     // "Jet OLEDB:Database Password"
    std::map<std::string, std::string> keys;  // every key, lower-cased, last one wins
};

Result<ConnectionString> parseConnectionString(std::string_view text);

// The string the program builds for a database file and password: the ACE
// provider when the path's last five characters are "accdb" in any case,
// the Jet provider otherwise; path and password inserted as they are.
std::string buildConnectionString(std::string_view path, std::string_view password);

}  // namespace tab::ado
