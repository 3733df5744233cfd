// Dates and times written as text, read the way Windows' OLE date parser
// (en-US) reads them, and the stricter #...# literals of Access SQL.
#pragma once

#include <cstdint>
#include <string_view>

namespace tab {

enum class DateSyntax {
    // #...# in Access SQL: a full date (m/d/y, d/m/y when that is no date,
    // a leading long year is y/m/d), a time after it, AM/PM only.
    Literal,
    // Text converted at run time (CDate, IsDate, DateValue, comparisons):
    // weekday names, '.' between a time's fields, dates of two numbers, times
    // before or after the date, A/P markers.
    Text,
};

struct DateTextFields {
    int year = 1899, month = 12, day = 30;  // day 0 when no date is given
    int hour = 0, minute = 0, second = 0;
    bool hasDate = false;
    bool hasTime = false;
};

enum class DateTextStatus {
    Ok,
    Invalid,
    OutOfRange,         // a literal's year outside 100 to 9999
    FractionalSeconds,  // a literal's seconds with a fraction
};

// currentYear completes Text dates given as month and day only.
DateTextStatus parseDateText(std::string_view text, DateSyntax syntax, int64_t currentYear,
                             DateTextFields& out);

}  // namespace tab
