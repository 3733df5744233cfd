#include "write/table_layout.h"

#include "internal.h"
#include "tabulary/base/case_fold.h"
#include "tabulary/base/text_codec.h"
#include "write/properties_writer.h"

namespace tab::jet::write {
namespace {

constexpr size_t kMaxNameLength = 64;
constexpr size_t kMaxColumns = 255;
constexpr size_t kMaxIndexes = 32;
constexpr size_t kMaxIndexColumns = 10;

Error invalid(const std::string& what) {
    return Error(Errc::InvalidArgument, what);
}

// Names that differ only in case, in any script, are one name.
std::string nameKey(std::string_view s) {
    return foldedCase(s);
}

bool isLong(const Column& c) {
    return c.type == ColumnType::Memo || c.type == ColumnType::Ole;
}

}  // namespace

Status checkObjectName(const std::string& name, const char* what) {
    if (!isValidUtf8(name)) return invalid(std::string(what) + " name is not valid UTF-8");
    std::u16string u = utf8ToUtf16(name);
    if (u.empty()) return invalid(std::string(what) + " name is empty");
    if (u.size() > kMaxNameLength)
        return invalid(std::string(what) + " name \"" + name + "\" is longer than 64 characters");
    if (u[0] == ' ')
        return invalid(std::string(what) + " name \"" + name + "\" starts with a space");
    for (char16_t ch : u)
        if (ch < 0x20 || ch == '.' || ch == '!' || ch == '`' || ch == '[' || ch == ']')
            return invalid(
                std::string(what) + " name \"" + name +
                "\" contains a character Access does not allow (. ! ` [ ] or a control character)");
    return {};
}

Result<TableLayout> layoutTable(const TableSpec& spec, uint8_t sortVersion) {
    TAB_TRY(checkObjectName(spec.name, "table"));
    if (spec.columns.empty() || spec.columns.size() > kMaxColumns)
        return invalid("table \"" + spec.name + "\" must have 1 to 255 columns");
    if (spec.indexes.size() > kMaxIndexes)
        return invalid("table \"" + spec.name + "\" has more than 32 indexes");
    TableDef def;
    def.name = spec.name;
    def.tableType = 0x4E;
    def.maxColumns = static_cast<uint16_t>(spec.columns.size());
    uint16_t fixedOffset = 0, varIndex = 0;
    int autoCount = 0;
    for (size_t i = 0; i < spec.columns.size(); ++i) {
        const ColumnSpec& s = spec.columns[i];
        TAB_TRY(checkObjectName(s.name, "column"));
        for (size_t k = 0; k < i; ++k)
            if (nameKey(spec.columns[k].name) == nameKey(s.name))
                return invalid("table \"" + spec.name + "\": column \"" + s.name +
                               "\" appears twice");
        Column c;
        c.name = s.name;
        c.type = s.type;
        c.storedType = static_cast<uint8_t>(s.type);
        c.number = static_cast<uint16_t>(i);
        c.flags = 0x02;
        c.sortOrder = 0x0409;
        c.sortVersion = sortVersion;
        auto where = [&] { return "table \"" + spec.name + "\": column \"" + s.name + "\": "; };
        switch (s.type) {
            case ColumnType::Text:
                if (s.size < 1 || s.size > 255)
                    return invalid(where() + "Text holds 1 to 255 characters");
                c.length = static_cast<uint16_t>(2 * s.size);
                break;
            case ColumnType::Decimal:
                if (s.precision < 1 || s.precision > 28 || s.scale > s.precision)
                    return invalid(
                        where() +
                        "Decimal precision must be 1-28 and the scale at most the precision");
                c.precision = s.precision;
                c.scale = s.scale;
                break;
            case ColumnType::Boolean:
            case ColumnType::Byte:
            case ColumnType::Integer:
            case ColumnType::Long:
            case ColumnType::Currency:
            case ColumnType::Single:
            case ColumnType::Double:
            case ColumnType::DateTime:
            case ColumnType::Guid:
            case ColumnType::Memo:
            case ColumnType::Ole:
                break;
            default:
                return invalid(where() + "type " + columnTypeName(s.type) + " cannot be created");
        }
        if (s.autoNumber) {
            if (s.type == ColumnType::Long) {
                c.autoNumber = true;
                def.lastAutoNumber = s.autoNumberSeed > 0 ? s.autoNumberSeed - 1 : 0;
                c.flags |= 0x04;
                ++autoCount;
            } else if (s.type == ColumnType::Guid) {
                c.autoGuid = true;
                c.flags |= 0x40;
            } else {
                return invalid(where() +
                               "only Long Integer and Replication ID columns can be AutoNumber");
            }
        }
        if ((s.type == ColumnType::Text || s.type == ColumnType::Memo) && s.compressedUnicode) {
            c.compressedUnicode = true;
            c.extFlags = 0x01;
        }
        if (s.type == ColumnType::Boolean) {
            // Stored in the null mask only; Access gives it length 1 at offset 0.
            c.fixed = true;
            c.flags |= 0x01;
            c.length = 1;
        } else if (int size = fixedSizeOf(s.type); size > 0) {
            c.fixed = true;
            c.flags |= 0x01;
            c.fixedOffset = fixedOffset;
            c.length = static_cast<uint16_t>(size);
            fixedOffset = static_cast<uint16_t>(fixedOffset + size);
        }
        c.size = s.type == ColumnType::Text ? s.size : c.length;
        c.required = s.required;
        def.columns.push_back(c);
    }
    if (autoCount > 1)
        return invalid("table \"" + spec.name + "\" has more than one AutoNumber column");
    // Variable slots: short variable columns first, long values last.
    for (int pass = 0; pass < 2; ++pass)
        for (Column& c : def.columns)
            if (!c.fixed && isLong(c) == (pass == 1)) c.varIndex = varIndex++;
    def.varColumns = varIndex;
    // Fixed columns carry the number of variable columns before them, as Access writes.
    uint16_t before = 0;
    for (Column& c : def.columns) {
        if (c.fixed)
            c.varIndex = before;
        else
            ++before;
    }

    // Logical indexes; identical definitions share one real index.
    int primaryKeys = 0;
    for (size_t i = 0; i < spec.indexes.size(); ++i) {
        const IndexSpec& is = spec.indexes[i];
        TAB_TRY(checkObjectName(is.name, "index"));
        for (size_t k = 0; k < i; ++k)
            if (nameKey(spec.indexes[k].name) == nameKey(is.name))
                return invalid("table \"" + spec.name + "\": index \"" + is.name +
                               "\" appears twice");
        if (is.columns.empty() || is.columns.size() > kMaxIndexColumns)
            return invalid("table \"" + spec.name + "\": index \"" + is.name +
                           "\" must have 1 to 10 columns");
        primaryKeys += is.primaryKey;
        RealIndex ri;
        for (const IndexColumnSpec& ic : is.columns) {
            int pos = def.findColumn(ic.column);
            if (pos < 0)
                return invalid("table \"" + spec.name + "\": index \"" + is.name +
                               "\" names unknown column \"" + ic.column + "\"");
            const Column& c = def.columns[static_cast<size_t>(pos)];
            if (c.type == ColumnType::Ole)
                return invalid("table \"" + spec.name + "\": OLE Object column \"" + c.name +
                               "\" cannot be indexed");
            ri.columns.push_back({c.number, ic.ascending});
        }
        ri.flags = 0x80;
        if (is.unique || is.primaryKey) ri.flags |= 0x01;
        if (is.ignoreNulls) ri.flags |= 0x02;
        if (is.required || is.primaryKey) ri.flags |= 0x08;
        uint32_t real = 0;
        while (real < def.realIndexes.size()) {
            const RealIndex& o = def.realIndexes[real];
            bool same = o.flags == ri.flags && o.columns.size() == ri.columns.size();
            for (size_t k = 0; same && k < ri.columns.size(); ++k)
                same = o.columns[k].columnNumber == ri.columns[k].columnNumber &&
                       o.columns[k].ascending == ri.columns[k].ascending;
            if (same) break;
            ++real;
        }
        if (real == def.realIndexes.size()) def.realIndexes.push_back(ri);
        Index ix;
        ix.name = is.name;
        ix.number = static_cast<uint32_t>(i);
        ix.realIndex = real;
        ix.indexType = is.primaryKey ? 1 : 0;
        def.indexes.push_back(ix);
    }
    if (primaryKeys > 1)
        return invalid("table \"" + spec.name + "\" has more than one primary key");

    // Column properties go into the catalogue row, as Access keeps them.
    std::vector<std::pair<std::string, std::vector<Property>>> props;
    for (const ColumnSpec& s : spec.columns) {
        std::vector<Property> p;
        if (s.required) p.push_back(boolProperty("Required", true, true));
        if (!s.allowZeroLength) p.push_back(boolProperty("AllowZeroLength", false, true));
        if (!s.defaultValue.empty())
            p.push_back(textProperty("DefaultValue", s.defaultValue, true));
        if (!p.empty()) props.emplace_back(s.name, std::move(p));
    }
    TableLayout out;
    out.properties = buildPropertyBlob({}, props);
    out.def = std::move(def);
    return out;
}

}  // namespace tab::jet::write
