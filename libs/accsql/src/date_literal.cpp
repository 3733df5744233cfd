#include "date_literal.h"

#include "tabulary/base/date_text.h"

namespace tab::accsql {

bool parseDateLiteral(std::string_view content, DateLiteral& out, std::string& error) {
    DateTextFields p;
    switch (parseDateText(content, DateSyntax::Literal, 0, p)) {
        case DateTextStatus::Ok:
            break;
        case DateTextStatus::OutOfRange:
            error = "date is out of range (years 100 to 9999)";
            return false;
        case DateTextStatus::FractionalSeconds:
            error = "fractional seconds are not allowed in date literals";
            return false;
        case DateTextStatus::Invalid:
            error = "syntax error in date literal";
            return false;
    }
    out.year = p.year;
    out.month = p.month;
    out.day = p.day;
    out.hour = p.hour;
    out.minute = p.minute;
    out.second = p.second;
    out.hasDate = p.hasDate;
    out.hasTime = p.hasTime;
    return true;
}

}  // namespace tab::accsql
