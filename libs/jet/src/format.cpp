#include "tabulary/jet/format.h"

namespace tab::jet {

std::string versionName(JetVersion v) {
    switch (v) {
        case JetVersion::Jet3: return "Jet3 (Access 97)";
        case JetVersion::Jet4: return "Jet4 (Access 2000-2003)";
        case JetVersion::Ace12: return "ACE12 (Access 2007)";
        case JetVersion::Ace14: return "ACE14 (Access 2010)";
        case JetVersion::Ace15: return "ACE15 (Access 2013)";
        case JetVersion::Ace16: return "ACE16 (Access 2016)";
        case JetVersion::Ace17: return "ACE17 (Access 2019)";
    }
    return "unknown";
}

Format Format::forVersion(JetVersion v) {
    Format f;
    f.version = v;
    if (v != JetVersion::Jet3) return f;  // the defaults are the Jet4/ACE layout
    f.jet3 = true;
    f.pageSize = 2048;
    f.dataRowCountOffset = 0x08;
    f.dataRowsOffset = 0x0A;
    f.tdefHeaderSize = 43;
    f.tdefRowCount = 0x0C;
    f.tdefAutoNumber = 0x10;
    f.tdefTableType = 0x14;
    f.tdefMaxCols = 0x15;
    f.tdefVarCols = 0x17;
    f.tdefNumCols = 0x19;
    f.tdefNumIdx = 0x1B;
    f.tdefNumRealIdx = 0x1F;
    f.tdefOwnedPages = 0x23;
    f.tdefFreePages = 0x27;
    f.realIdxCountBlock = 8;
    f.columnDefSize = 18;
    f.colNumber = 0x01;
    f.colVarIndex = 0x03;
    f.colMisc = 0x09;
    f.colFlags = 0x0D;
    f.colFixedOffset = 0x0E;
    f.colLength = 0x10;
    f.nameLengthSize = 1;
    f.realIdxDefSize = 39;
    f.logicalIdxDefSize = 20;
    f.maxLvalRow = 2032;
    return f;
}

}  // namespace tab::jet
