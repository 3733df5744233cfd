// Columns added, dropped and changed inside a change.
#include "edit/change_impl.h"

namespace tab::jet {

Status Change::Impl::addColumn(std::string_view, const ColumnSpec&) {
    return Error(Errc::Unsupported, "ALTER TABLE ... ADD COLUMN is not supported yet");
}

Status Change::Impl::dropColumn(std::string_view, std::string_view) {
    return Error(Errc::Unsupported, "ALTER TABLE ... DROP COLUMN is not supported yet");
}

Status Change::Impl::alterColumn(std::string_view, const ColumnSpec&) {
    return Error(Errc::Unsupported, "ALTER TABLE ... ALTER COLUMN is not supported yet");
}

}  // namespace tab::jet
