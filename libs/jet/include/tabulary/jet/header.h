// The database header (page 0): version, page size, code page, sort order,
// creation date, the Jet database password and how the pages are encoded.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tabulary/base/error.h"
#include "tabulary/jet/format.h"

namespace tab::jet {

enum class PageEncoding {
    None,
    JetRc4,  // .mdb pages RC4-encoded with the database key
    Office,  // .accdb encrypted with Office encryption (password protected)
};

struct Header {
    JetVersion version = JetVersion::Jet4;
    uint8_t versionByte = 1;
    std::string engineName;  // "Standard Jet DB", "Standard ACE DB"
    uint32_t pageSize = 4096;
    uint16_t codePage = 1252;
    uint16_t sortOrder = 0x0409;  // LCID
    uint8_t sortVersion = 0;      // 0 General (legacy), 1 General (Access 2010+)
    double creationDate = 0;      // Access date serial; 0 in Jet3
    uint32_t databaseKey = 0;
    PageEncoding encoding = PageEncoding::None;
    std::string storedPassword;    // Jet3/Jet4 header password, UTF-8; empty if none
    std::string officeEncryption;  // description of the Office scheme, if any
};

// Decodes page 0. `page0` holds at least the first 2048 bytes of the file
// (4096 for Jet4/ACE).
Result<Header> decodeHeader(std::span<const uint8_t> page0);

// Undo the fixed RC4 mask over the header region, in place.
void unmaskHeader(std::span<uint8_t> page0, bool jet3);

}  // namespace tab::jet
