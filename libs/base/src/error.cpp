#include "tabulary/base/error.h"

#include <cstring>

namespace tab {

Error corrupt(uint32_t page, const std::string& what) {
    return Error(Errc::Corrupt, "damaged file: " + what + " (page " + std::to_string(page) + ")");
}

Error corrupt(const std::string& what) { return Error(Errc::Corrupt, "damaged file: " + what); }

Error unsupported(const std::string& what) { return Error(Errc::Unsupported, what); }

Error ioError(int errnum, const std::string& path) {
    return Error(Errc::Io, path + ": " + std::strerror(errnum));
}

}  // namespace tab
