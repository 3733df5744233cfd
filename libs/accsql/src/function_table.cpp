#include "function_table.h"

#include <algorithm>
#include <array>
#include <string>

namespace tab::accsql {
namespace {

using R = ResultRule;
using T = Type;

// Sorted by name (byte order) for binary search.
constexpr FunctionSpec kFunctions[] = {
    {"abs", "acc_abs", 1, 1, R::Arg0Number},
    {"asc", "acc_asc", 1, 1, R::Fixed, T::Integer, kTextArgs},
    {"ascw", "acc_ascw", 1, 1, R::Fixed, T::Integer, kTextArgs},
    {"atn", "acc_atn", 1, 1, R::Fixed, T::Double},
    {"avg", "AVG", 1, 1, R::Fixed, T::Double, kAggregate},
    {"cbool", "acc_cbool", 1, 1, R::Fixed, T::Boolean},
    {"cbyte", "acc_cbyte", 1, 1, R::Fixed, T::Byte},
    {"ccur", "acc_ccur", 1, 1, R::Fixed, T::Currency},
    {"cdate", "acc_cdate", 1, 1, R::Fixed, T::Date},
    {"cdbl", "acc_cdbl", 1, 1, R::Fixed, T::Double},
    {"cdec", "acc_cdec", 1, 1, R::Fixed, T::Decimal},
    {"choose", "acc_choose", 2, -1, R::Common, T::Variant, 0, 1},
    {"chr", "acc_chr", 1, 1, R::Fixed, T::Text},
    {"chr$", "acc_chr_s", 1, 1, R::Fixed, T::Text},
    {"chrw", "acc_chrw", 1, 1, R::Fixed, T::Text},
    {"chrw$", "acc_chrw_s", 1, 1, R::Fixed, T::Text},
    {"cint", "acc_cint", 1, 1, R::Fixed, T::Integer},
    {"clng", "acc_clng", 1, 1, R::Fixed, T::Long},
    {"cos", "acc_cos", 1, 1, R::Fixed, T::Double},
    {"count", "COUNT", 1, 1, R::Fixed, T::Long, kAggregate},
    {"csng", "acc_csng", 1, 1, R::Fixed, T::Single},
    {"cstr", "acc_cstr", 1, 1, R::Fixed, T::Text, kTagArg0},
    {"cvar", "acc_cvar", 1, 1, R::Arg0},
    {"cvdate", "acc_cdate", 1, 1, R::Fixed, T::Date},
    {"date", "acc_date", 0, 0, R::Fixed, T::Date, kVolatile},
    {"date$", "acc_date_s", 0, 0, R::Fixed, T::Text, kVolatile},
    {"dateadd", "acc_dateadd", 3, 3, R::Fixed, T::Date},
    {"datediff", "acc_datediff", 3, 5, R::Fixed, T::Long},
    {"datepart", "acc_datepart", 2, 4, R::Fixed, T::Integer},
    {"dateserial", "acc_dateserial", 3, 3, R::Fixed, T::Date},
    {"datevalue", "acc_datevalue", 1, 1, R::Fixed, T::Date},
    {"day", "acc_day", 1, 1, R::Fixed, T::Integer},
    {"ddb", "acc_ddb", 4, 5, R::Fixed, T::Double},
    {"exp", "acc_exp", 1, 1, R::Fixed, T::Double},
    {"first", "acc_first", 1, 1, R::Arg0, T::Variant, kAggregate},
    {"fix", "acc_fix", 1, 1, R::Arg0Number},
    {"format", "acc_format", 1, 5, R::Fixed, T::Text, kTagArg0},
    {"format$", "acc_format_s", 1, 5, R::Fixed, T::Text, kTagArg0},
    {"formatcurrency", "acc_formatcurrency", 1, 5, R::Fixed, T::Text},
    {"formatdatetime", "acc_formatdatetime", 1, 2, R::Fixed, T::Text},
    {"formatnumber", "acc_formatnumber", 1, 5, R::Fixed, T::Text},
    {"formatpercent", "acc_formatpercent", 1, 5, R::Fixed, T::Text},
    {"fv", "acc_fv", 3, 5, R::Fixed, T::Double},
    {"hex", "acc_hex", 1, 1, R::Fixed, T::Text},
    {"hex$", "acc_hex_s", 1, 1, R::Fixed, T::Text},
    {"hour", "acc_hour", 1, 1, R::Fixed, T::Integer},
    {"iif", "", 3, 3, R::Common, T::Variant, 0, 1},
    {"instr", "acc_instr", 2, 4, R::Fixed, T::Long, kTextArgs},
    {"instrrev", "acc_instrrev", 2, 4, R::Fixed, T::Long, kTextArgs},
    {"int", "acc_int", 1, 1, R::Arg0Number},
    {"ipmt", "acc_ipmt", 4, 6, R::Fixed, T::Double},
    {"isdate", "acc_isdate", 1, 1, R::Fixed, T::Boolean, kTagLast},
    {"isempty", "acc_isempty", 1, 1, R::Fixed, T::Boolean},
    {"iserror", "acc_iserror", 1, 1, R::Fixed, T::Boolean},
    {"isnull", "acc_isnull", 1, 1, R::Fixed, T::Boolean},
    {"isnumeric", "acc_isnumeric", 1, 1, R::Fixed, T::Boolean, kTagLast},
    {"last", "acc_last", 1, 1, R::Arg0, T::Variant, kAggregate},
    {"lcase", "acc_lcase", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"lcase$", "acc_lcase_s", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"left", "acc_left", 2, 2, R::Fixed, T::Text, kTextArgs},
    {"left$", "acc_left_s", 2, 2, R::Fixed, T::Text, kTextArgs},
    {"len", "acc_len", 1, 1, R::Fixed, T::Long, kTextArgs},
    {"log", "acc_log", 1, 1, R::Fixed, T::Double},
    {"ltrim", "acc_ltrim", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"ltrim$", "acc_ltrim_s", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"max", "MAX", 1, 1, R::Arg0, T::Variant, kAggregate},
    {"mid", "acc_mid", 2, 3, R::Fixed, T::Text, kTextArgs},
    {"mid$", "acc_mid_s", 2, 3, R::Fixed, T::Text, kTextArgs},
    {"min", "MIN", 1, 1, R::Arg0, T::Variant, kAggregate},
    {"minute", "acc_minute", 1, 1, R::Fixed, T::Integer},
    {"month", "acc_month", 1, 1, R::Fixed, T::Integer},
    {"monthname", "acc_monthname", 1, 2, R::Fixed, T::Text},
    {"now", "acc_now", 0, 0, R::Fixed, T::Date, kVolatile},
    {"nper", "acc_nper", 3, 5, R::Fixed, T::Double},
    {"nz", "", 1, 2, R::Common, T::Variant},
    {"oct", "acc_oct", 1, 1, R::Fixed, T::Text},
    {"oct$", "acc_oct_s", 1, 1, R::Fixed, T::Text},
    {"partition", "acc_partition", 4, 4, R::Fixed, T::Text},
    {"pmt", "acc_pmt", 3, 5, R::Fixed, T::Double},
    {"ppmt", "acc_ppmt", 4, 6, R::Fixed, T::Double},
    {"pv", "acc_pv", 3, 5, R::Fixed, T::Double},
    {"rate", "acc_rate", 3, 6, R::Fixed, T::Double},
    {"replace", "acc_replace", 3, 6, R::Fixed, T::Text, kTextArgs},
    {"right", "acc_right", 2, 2, R::Fixed, T::Text, kTextArgs},
    {"right$", "acc_right_s", 2, 2, R::Fixed, T::Text, kTextArgs},
    {"rnd", "acc_rnd", 0, 1, R::Fixed, T::Single, kVolatile},
    {"round", "acc_round", 1, 2, R::Arg0Number},
    {"rtrim", "acc_rtrim", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"rtrim$", "acc_rtrim_s", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"second", "acc_second", 1, 1, R::Fixed, T::Integer},
    {"sgn", "acc_sgn", 1, 1, R::Fixed, T::Integer},
    {"sin", "acc_sin", 1, 1, R::Fixed, T::Double},
    {"sln", "acc_sln", 3, 3, R::Fixed, T::Double},
    {"space", "acc_space", 1, 1, R::Fixed, T::Text},
    {"space$", "acc_space_s", 1, 1, R::Fixed, T::Text},
    {"sqr", "acc_sqr", 1, 1, R::Fixed, T::Double},
    {"stdev", "acc_stdev", 1, 1, R::Fixed, T::Double, kAggregate},
    {"stdevp", "acc_stdevp", 1, 1, R::Fixed, T::Double, kAggregate},
    {"str", "acc_str", 1, 1, R::Fixed, T::Text},
    {"str$", "acc_str_s", 1, 1, R::Fixed, T::Text},
    {"strcomp", "acc_strcomp", 2, 3, R::Fixed, T::Integer, kTextArgs},
    {"strconv", "acc_strconv", 2, 3, R::Fixed, T::Text, kTextArgs},
    {"string", "acc_string", 2, 2, R::Fixed, T::Text},
    {"string$", "acc_string_s", 2, 2, R::Fixed, T::Text},
    {"strreverse", "acc_strreverse", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"sum", "SUM", 1, 1, R::Arg0Number, T::Variant, kAggregate},
    {"switch", "", 2, -1, R::Common, T::Variant, 0, 1},
    {"syd", "acc_syd", 4, 4, R::Fixed, T::Double},
    {"tan", "acc_tan", 1, 1, R::Fixed, T::Double},
    {"time", "acc_time", 0, 0, R::Fixed, T::Date, kVolatile},
    {"time$", "acc_time_s", 0, 0, R::Fixed, T::Text, kVolatile},
    {"timer", "acc_timer", 0, 0, R::Fixed, T::Single, kVolatile},
    {"timeserial", "acc_timeserial", 3, 3, R::Fixed, T::Date},
    {"timevalue", "acc_timevalue", 1, 1, R::Fixed, T::Date},
    {"trim", "acc_trim", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"trim$", "acc_trim_s", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"typename", "acc_typename", 1, 1, R::Fixed, T::Text, kTagLast},
    {"ucase", "acc_ucase", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"ucase$", "acc_ucase_s", 1, 1, R::Fixed, T::Text, kTextArgs},
    {"val", "acc_val", 1, 1, R::Fixed, T::Double, kTextArgs},
    {"var", "acc_var", 1, 1, R::Fixed, T::Double, kAggregate},
    {"varp", "acc_varp", 1, 1, R::Fixed, T::Double, kAggregate},
    {"vartype", "acc_vartype", 1, 1, R::Fixed, T::Integer, kTagLast},
    {"weekday", "acc_weekday", 1, 2, R::Fixed, T::Integer},
    {"weekdayname", "acc_weekdayname", 1, 3, R::Fixed, T::Text},
    {"year", "acc_year", 1, 1, R::Fixed, T::Integer},
};

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

const FunctionSpec* findFunction(std::string_view name) {
    const std::string key = lower(name);
    auto it =
        std::lower_bound(std::begin(kFunctions), std::end(kFunctions), key,
                         [](const FunctionSpec& f, const std::string& k) { return f.name < k; });
    if (it == std::end(kFunctions) || it->name != key) return nullptr;
    return &*it;
}

std::span<const FunctionSpec> allFunctions() {
    return kFunctions;
}

}  // namespace tab::accsql
