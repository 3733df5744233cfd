// Cracks one stored row into column values: the null mask, the fixed area,
// the variable offset table (with the Jet3 jump table), then each value's
// encoding. Every offset comes from the file and is checked.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "internal.h"
#include "tabulary/base/text_codec.h"
#include "tabulary/jet/database.h"

namespace tab::jet {

namespace {

struct Ctx {
    Database& db;
    const TableDef& table;
    const Column& col;
    uint32_t page;
    Error bad(const std::string& what) const {
        return corrupt(page,
                       "column \"" + col.name + "\" of table \"" + table.name + "\": " + what);
    }
};

Result<Decimal> decodeColumnDecimal(Bytes s, uint8_t scale, const Ctx& c) {
    if (scale > 28) return c.bad("decimal scale above 28");
    Decimal d;
    d.negative = s[0] & 0x80;
    uint32_t w[4];
    for (int i = 0; i < 4; ++i) w[i] = u32At(s.data() + 1 + 4 * i);
    d.hi = (uint64_t{w[0]} << 32) | w[1];
    d.lo = (uint64_t{w[2]} << 32) | w[3];
    d.scale = scale;
    return d;
}

bool allDigits(Bytes s, size_t off, size_t len) {
    for (size_t i = off; i < off + len; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}
int64_t digitsValue(Bytes s, size_t off, size_t len) {
    int64_t v = 0;
    for (size_t i = off; i < off + len; ++i) v = v * 10 + (s[i] - '0');
    return v;
}

// Appends bytes [from, to) of `s` that are all in 1..0x7F, as one copy;
// returns where that run ends.
size_t appendAsciiRun(std::string& out, const uint8_t* s, size_t from, size_t to) {
    size_t i = from;
    while (i < to && s[i] > 0 && s[i] < 0x80) ++i;
    out.append(reinterpret_cast<const char*>(s) + from, i - from);
    return i;
}

void decodeTextInto(Value& out, Bytes s, const Ctx& c) {
    std::string& text = out.setBytes(Value::Kind::Text);
    const Format& f = c.db.format();
    if (f.jet3) {
        uint16_t cp = c.col.codePage ? c.col.codePage : c.db.header().codePage;
        // The built-in Western code pages keep ASCII as it is.
        const bool western = cp == 0 || cp == 1252 || cp == 28591;
        if (!western || appendAsciiRun(text, s.data(), 0, s.size()) != s.size())
            text = codePageToUtf8(s, cp);
        return;
    }
    tab::appendJetText(text, s);
}

// Decodes `s` as a value of `type` into `out`. `s` is the value's bytes,
// already unwrapped for calculated columns.
Status decodeTyped(ColumnType type, Bytes s, const Ctx& c, bool calculated, Value& out) {
    int fixedSize = fixedSizeOf(type);
    if (fixedSize > 0) {
        if (s.empty()) {
            out.setNull();
            return {};
        }
        if (type == ColumnType::Decimal && calculated) {
            if (s.size() < 16) return c.bad("calculated decimal too short");
            Decimal d;
            d.scale = s[2];
            d.negative = s[3] & 0x80;
            d.hi = u32At(s.data() + 4);
            d.lo = u32At(s.data() + 8) | (uint64_t{u32At(s.data() + 12)} << 32);
            if (d.scale > 28) return c.bad("decimal scale above 28");
            out = Value::decimal(d);
            return {};
        }
        if (s.size() < static_cast<size_t>(fixedSize))
            return c.bad("value has " + std::to_string(s.size()) + " bytes, expected " +
                         std::to_string(fixedSize));
    }
    const uint8_t* p = s.data();
    switch (type) {
        case ColumnType::Boolean:
            out.setBoolean(!s.empty() && s[0] != 0);
            return {};
        case ColumnType::Byte:
            out.setInteger(p[0]);
            return {};
        case ColumnType::Integer:
            out.setInteger(static_cast<int16_t>(u16At(p)));
            return {};
        case ColumnType::Long:
            out.setInteger(static_cast<int32_t>(u32At(p)));
            return {};
        case ColumnType::BigInt:
            out.setInteger(static_cast<int64_t>(u32At(p) | (uint64_t{u32At(p + 4)} << 32)));
            return {};
        case ColumnType::Currency:
            out.setCurrency(static_cast<int64_t>(u32At(p) | (uint64_t{u32At(p + 4)} << 32)));
            return {};
        case ColumnType::Single: {
            float fl;
            uint32_t u = u32At(p);
            std::memcpy(&fl, &u, 4);
            out.setSingle(fl);
            return {};
        }
        case ColumnType::Double:
        case ColumnType::DateTime: {
            double d;
            uint64_t u = u32At(p) | (uint64_t{u32At(p + 4)} << 32);
            std::memcpy(&d, &u, 8);
            if (type == ColumnType::Double)
                out.setReal(d);
            else
                out.setDateTime(d);
            return {};
        }
        case ColumnType::Guid:
            out.setBytes(Value::Kind::Guid).assign(reinterpret_cast<const char*>(p), 16);
            return {};
        case ColumnType::Decimal: {
            auto d = decodeColumnDecimal(s, c.col.scale, c);
            if (!d.ok()) return d.error();
            out = Value::decimal(*d);
            return {};
        }
        case ColumnType::DateTimeExt: {
            if (!allDigits(s, 0, 19) || s[19] != ':' || !allDigits(s, 20, 19))
                return c.bad("malformed extended date/time");
            int64_t days = digitsValue(s, 0, 19);
            int64_t secs = digitsValue(s, 20, 12);
            int64_t frac = digitsValue(s, 32, 7);
            if (days > 3652058 || secs >= 86400) return c.bad("extended date/time out of range");
            out = Value::dateTimeExt(days, secs * 10000000 + frac);
            return {};
        }
        case ColumnType::Text:
        case ColumnType::Memo:
            // Long values are assembled by the caller; here `s` is the data.
            decodeTextInto(out, s, c);
            return {};
        case ColumnType::Complex: {
            auto key = static_cast<int32_t>(u32At(p));
            auto v = c.db.complexValue(c.table, c.col, key);
            if (!v.ok()) return v.error();
            out = std::move(*v);
            return {};
        }
        default:
            out.setBytes(Value::Kind::Binary).assign(reinterpret_cast<const char*>(p), s.size());
            return {};
    }
}

Status decodeSlice(Bytes s, const Ctx& c, Value& out) {
    const Column& col = c.col;
    bool isLong = col.calculated ? (col.type == ColumnType::Memo || col.type == ColumnType::Ole)
                                 : (col.storedType == 0x0B || col.storedType == 0x0C);
    if (isLong) {
        // A present long value shorter than its header reads as empty.
        if (s.size() < 12) {
            if (col.calculated)
                out.setNull();
            else
                out.setBytes(col.storedType == 0x0C ? Value::Kind::Text : Value::Kind::Binary);
            return {};
        }
        // Stored in the row itself (the common short memo): decoded in place.
        const uint32_t length = u32At(s.data()) & 0x3FFFFFFF;
        if (!col.calculated && (s[3] & 0xC0) == 0x80 && length <= c.db.pages().fileSize())
            return decodeTyped(col.type, s.subspan(12, std::min<size_t>(length, s.size() - 12)), c,
                               false, out);
        // Reused between values; borrowed because a complex column can decode
        // other rows while this one's data is in use.
        thread_local std::string spare;
        struct Borrowed {
            std::string v;
            Borrowed() { v.swap(spare); }
            ~Borrowed() { v.swap(spare); }
        } borrowed;
        std::string& data = borrowed.v;
        if (Status st = c.db.readLongValue(s, data); !st.ok()) return c.bad(st.error().message());
        Bytes d(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        if (!col.calculated) return decodeTyped(col.type, d, c, false, out);
        if (d.size() < 20) {
            out.setNull();
            return {};
        }
        uint32_t n = u32At(d.data() + 16);
        auto inner = subspan(d, 20, n);
        if (!inner) return c.bad("calculated value longer than its storage");
        return decodeTyped(col.type, *inner, c, true, out);
    }
    if (col.calculated) {
        if (s.size() < 20) {
            out.setNull();
            return {};
        }
        uint32_t n = u32At(s.data() + 16);
        auto inner = subspan(s, 20, n);
        if (!inner) return c.bad("calculated value longer than its storage");
        if (col.type == ColumnType::Memo || col.type == ColumnType::Text) {
            decodeTextInto(out, *inner, c);
            return {};
        }
        return decodeTyped(col.type, *inner, c, true, out);
    }
    return decodeTyped(col.type, s, c, false, out);
}

}  // namespace

int fixedSizeOf(ColumnType t) {
    switch (t) {
        case ColumnType::Byte:
            return 1;
        case ColumnType::Integer:
            return 2;
        case ColumnType::Long:
        case ColumnType::Single:
        case ColumnType::Complex:
            return 4;
        case ColumnType::Currency:
        case ColumnType::Double:
        case ColumnType::DateTime:
        case ColumnType::BigInt:
            return 8;
        case ColumnType::Guid:
            return 16;
        case ColumnType::Decimal:
            return 17;
        case ColumnType::DateTimeExt:
            return 42;
        default:
            return -1;  // variable size
    }
}

const char* readVarOffsets(Bytes row, bool jet3, size_t nm, std::vector<uint32_t>& offs,
                           size_t& varTableStart) {
    const size_t L = row.size();
    const size_t ccs = jet3 ? 1 : 2;
    size_t nv;
    if (jet3) {
        if (L < nm + 1 + ccs) return "variable column count outside the row";
        nv = row[L - nm - 1];
        size_t nj = (L - 1) / 256;
        if (L < nm + nj + 2 + nv + 1) return "variable offset table outside the row";
        size_t P = L - nm - nj - 2;  // position of off[0]
        if (P < nv + ccs) return "variable offset table outside the row";
        // The jump table's size follows from the row length, so its last entry may be a dummy.
        size_t njUsed = ((P - nv) / 256 < nj) ? nj - 1 : nj;
        size_t used = 0;
        offs.resize(nv + 1);
        for (size_t i = 0; i <= nv; ++i) {
            while (used < njUsed && row[L - nm - 2 - used] == i) ++used;
            offs[i] = static_cast<uint32_t>(row[P - i] + 256 * used);
        }
        varTableStart = P - nv;
    } else {
        if (L < nm + 2 + ccs) return "variable column count outside the row";
        nv = u16At(row.data() + L - nm - 2);
        if (L < nm + 2 + 2 * (nv + 1) + ccs) return "variable offset table outside the row";
        offs.resize(nv + 1);
        for (size_t i = 0; i <= nv; ++i) offs[i] = u16At(row.data() + L - nm - 4 - 2 * i);
        varTableStart = L - nm - 2 - 2 * (nv + 1);
    }
    for (size_t i = 0; i <= nv; ++i) {
        if (offs[i] < ccs || offs[i] > varTableStart || (i > 0 && offs[i] < offs[i - 1]))
            return "variable offsets out of order or outside the row";
    }
    return nullptr;
}

Status decodeRow(Database& db, const TableDef& table, Bytes row, const std::vector<bool>& wanted,
                 std::vector<Value>& out, uint32_t pageNumber) {
    const Format& f = db.format();
    const size_t L = row.size();
    const size_t ccs = f.jet3 ? 1 : 2;
    auto bad = [&](const std::string& what) {
        return Status(corrupt(pageNumber, "row of table \"" + table.name + "\": " + what));
    };
    if (L < ccs + 1) return bad("too short");
    size_t ncols = f.jet3 ? row[0] : u16At(row.data());
    size_t nm = (ncols + 7) / 8;
    if (ccs + nm > L) return bad("null mask outside the row");
    const uint8_t* mask = row.data() + (L - nm);

    // Variable offsets: off[0..nv], off[nv] is the end of the variable data.
    // Reused between rows: a scan decodes millions of rows. Borrowed rather than
    // used in place: a complex column decodes rows of other tables from inside
    // the column loop below, and those must not overwrite this row's offsets.
    thread_local std::vector<uint32_t> spareOffs;
    struct Borrowed {
        std::vector<uint32_t> v;
        Borrowed() { v.swap(spareOffs); }
        ~Borrowed() { v.swap(spareOffs); }
    } borrowed;
    std::vector<uint32_t>& offs = borrowed.v;
    size_t nv = 0;
    size_t varTableStart = L - nm;  // first byte of the trailer
    if (table.varColumns > 0) {
        const char* err = readVarOffsets(row, f.jet3, nm, offs, varTableStart);
        if (err) return bad(err);
        nv = offs.size() - 1;
    }
    const size_t fixedEnd = table.varColumns > 0 ? offs[0] : varTableStart;

    Status status;
    for (size_t i = 0; i < table.columns.size(); ++i) {
        if (!wanted.empty() && !wanted[i]) continue;
        const Column& col = table.columns[i];
        bool present = col.number < ncols && (mask[col.number / 8] >> (col.number % 8)) & 1;
        if (col.storedType == 0x01 && !col.calculated) {
            out[i].setBoolean(present);
            continue;
        }
        if (!present) {
            out[i].setNull();
            continue;
        }
        Bytes slice;
        if (col.fixed) {
            int size = fixedSizeOf(static_cast<ColumnType>(col.storedType));
            size_t len = size > 0 ? static_cast<size_t>(size) : col.length;
            size_t start = ccs + col.fixedOffset;
            if (start + len > fixedEnd || start + len > L) {
                if (status.ok()) status = bad("fixed column \"" + col.name + "\" outside the row");
                out[i].setNull();
                continue;
            }
            slice = row.subspan(start, len);
        } else {
            if (col.varIndex >= nv) {
                out[i].setNull();
                continue;
            }
            slice = row.subspan(offs[col.varIndex], offs[col.varIndex + 1] - offs[col.varIndex]);
        }
        Ctx ctx{db, table, col, pageNumber};
        if (Status st = decodeSlice(slice, ctx, out[i]); !st.ok()) {
            if (status.ok()) status = st;
            out[i].setNull();
        }
    }
    return status;
}

}  // namespace tab::jet
