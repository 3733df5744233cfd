// Relationships created and dropped inside a change.
#include "edit/change_impl.h"

namespace tab::jet {

Status Change::Impl::createRelationship(const Change::Relationship&) {
    return Error(Errc::Unsupported, "Relationships cannot be created yet");
}

Status Change::Impl::dropRelationship(std::string_view, std::string_view) {
    return Error(Errc::Unsupported, "Relationships cannot be dropped yet");
}

}  // namespace tab::jet
