// Format versions and the per-version layout constants of Jet3, Jet4 and ACE.
// ACE files share the Jet4 layout; only a few fields are ACE-only.
#pragma once

#include <cstdint>
#include <string>

namespace tab::jet {

enum class JetVersion : uint8_t { Jet3, Jet4, Ace12, Ace14, Ace15, Ace16, Ace17 };

std::string versionName(JetVersion v);  // "Jet4 (Access 2000-2003)", ...

// Offsets that differ between Jet3 and Jet4/ACE.
struct Format {
    JetVersion version = JetVersion::Jet4;
    bool jet3 = false;
    uint32_t pageSize = 4096;

    // data pages
    uint32_t dataRowCountOffset = 0x0C;
    uint32_t dataRowsOffset = 0x0E;
    // table definitions
    uint32_t tdefHeaderSize = 63;
    uint32_t tdefRowCount = 0x10;
    uint32_t tdefAutoNumber = 0x14;
    uint32_t tdefTableType = 0x28;
    uint32_t tdefMaxCols = 0x29;
    uint32_t tdefVarCols = 0x2B;
    uint32_t tdefNumCols = 0x2D;
    uint32_t tdefNumIdx = 0x2F;
    uint32_t tdefNumRealIdx = 0x33;
    uint32_t tdefOwnedPages = 0x37;
    uint32_t tdefFreePages = 0x3B;
    uint32_t realIdxCountBlock = 12;
    uint32_t columnDefSize = 25;
    uint32_t colNumber = 0x05;
    uint32_t colVarIndex = 0x07;
    uint32_t colMisc = 0x0B;
    uint32_t colFlags = 0x0F;
    uint32_t colFixedOffset = 0x15;
    uint32_t colLength = 0x17;
    uint32_t nameLengthSize = 2;
    uint32_t realIdxDefSize = 52;
    uint32_t logicalIdxDefSize = 28;
    // long values
    uint32_t maxLvalRow = 4076;

    static Format forVersion(JetVersion v);
    bool isAce() const { return !jet3 && version != JetVersion::Jet4; }
};

}  // namespace tab::jet
