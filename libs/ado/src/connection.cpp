#include "tabulary/ado/connection.h"

namespace tab::ado {

Status Connection::open(std::string_view connectionString) {
    if (m_db) return Error(Errc::InvalidArgument, "The connection is already open");
    TAB_ASSIGN_OR_RETURN(m_settings, parseConnectionString(connectionString));
    jet::OpenOptions options;
    options.password = m_settings.password;
    auto db = jet::Database::open(m_settings.dataSource, options);
    if (!db.ok()) return db.error();
    m_db = std::shared_ptr<jet::Database>(std::move(*db));
    m_links = std::make_shared<jet::LinkedDatabases>(options.password);
    return {};
}

Status Connection::openFile(const std::string& path, const std::string& password) {
    if (m_db) return Error(Errc::InvalidArgument, "The connection is already open");
    m_settings = ConnectionString{};
    m_settings.dataSource = path;
    m_settings.password = password;
    jet::OpenOptions options;
    options.password = password;
    auto db = jet::Database::open(path, options);
    if (!db.ok()) return db.error();
    m_db = std::shared_ptr<jet::Database>(std::move(*db));
    m_links = std::make_shared<jet::LinkedDatabases>(options.password);
    return {};
}

}  // namespace tab::ado
