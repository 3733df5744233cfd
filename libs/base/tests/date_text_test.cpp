// Stored date texts and what Access makes of them (en-US): the date and time
// CDate gives, or nothing where CDate is a type mismatch and IsDate False.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tabulary/base/date_text.h"

namespace {

std::string show(const tab::DateTextFields& p) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
    return buf;
}

TEST(DateText, StoredTextsReadAsAccessReadsThem) {
    struct Case {
        const char* text;
        const char* expected;  // nullptr: not a date
    };
    // Dates without a year fall in 2024.
    const Case cases[] = {
        // Weekday names are skipped, whether or not they fit the date.
        {"Friday, February 10, 2012", "2012-02-10 00:00:00"},
        {"Fri, 10 Feb 2012", "2012-02-10 00:00:00"},
        {"Fri Feb 10 2012", "2012-02-10 00:00:00"},
        {"Fri Feb 10 2012 00:25:09", "2012-02-10 00:25:09"},
        {"Fri, 10 Feb 2012 00:25:09", "2012-02-10 00:25:09"},
        {"Friday February 10 2012 12:25 AM", "2012-02-10 00:25:00"},
        {"Tuesday, January 2, 2020", "2020-01-02 00:00:00"},
        {"Mon, 1/2/2012", "2012-01-02 00:00:00"},
        // The time sits before or after the date, never inside it.
        {"Fri Feb 10 00:25:09 2012", nullptr},
        {"Feb 10 00:25:09 2012", nullptr},
        {"5/10/1996 2:30 PM 7", nullptr},
        {"1 2 am 3", nullptr},
        {"Fri, 10 Feb 2012 00:25:09 GMT", nullptr},
        {"Thurs, Jan 2, 2020", nullptr},
        {"Friday", nullptr},
        // Month names, full and short.
        {"February 10, 2012", "2012-02-10 00:00:00"},
        {"10 February 2012", "2012-02-10 00:00:00"},
        {"10-Feb-2012", "2012-02-10 00:00:00"},
        {"10-Feb-12", "2012-02-10 00:00:00"},
        {"feb 10, 12", "2012-02-10 00:00:00"},
        {"2012 Feb 10", "2012-02-10 00:00:00"},
        {"Sept 1, 2020", "2020-09-01 00:00:00"},
        {"February 2012", "2012-02-01 00:00:00"},
        {"Jan 2", "2024-01-02 00:00:00"},
        {"2 Jan", "2024-01-02 00:00:00"},
        {"Jan 35", "1935-01-01 00:00:00"},
        {"Septembre 1, 2020", nullptr},
        {"Feb Mar 2012", nullptr},
        // Numbers: m/d/y first, then y/m/d, then d/m/y; a leading long year
        // is only y/m/d.
        {"2/10/2012", "2012-02-10 00:00:00"},
        {"2-10-2012", "2012-02-10 00:00:00"},
        {"2/10/12", "2012-02-10 00:00:00"},
        {"  2/10/2012\t", "2012-02-10 00:00:00"},
        {"13/1/2005", "2005-01-13 00:00:00"},
        {"14/2/3", "2014-02-03 00:00:00"},
        {"0/5/14", "2000-05-14 00:00:00"},
        {"1 2 3", "2003-01-02 00:00:00"},
        {"2012-02-10", "2012-02-10 00:00:00"},
        {"2012/02/10", "2012-02-10 00:00:00"},
        {"2012-02-10 00:25:09", "2012-02-10 00:25:09"},
        {"2004/20/12", nullptr},
        {"2/30/2012", nullptr},
        {"2/29/2012", "2012-02-29 00:00:00"},
        {"2/29/2013", nullptr},
        {"10.02.2012", nullptr},  // '.' separates a time's fields
        {"2012-02-10T00:25:09", nullptr},
        {"2012-02-10 00:25:09.5", nullptr},
        {"1/2/3/4", nullptr},
        {"1 2 3 4", nullptr},
        // Two-digit years: 00-29 are 20xx, 30-99 19xx.
        {"1/2/29", "2029-01-02 00:00:00"},
        {"1/2/30", "1930-01-02 00:00:00"},
        {"1/2/99", "1999-01-02 00:00:00"},
        {"1/2/00", "2000-01-02 00:00:00"},
        {"1/1/100", "0100-01-01 00:00:00"},
        {"12/31/9999 23:59:59", "9999-12-31 23:59:59"},
        {"1/1/10000", nullptr},
        // Two numbers: month and day of this year, else month and year.
        {"1/2", "2024-01-02 00:00:00"},
        {"14/1", "2024-01-14 00:00:00"},
        {"30/2", "1930-02-01 00:00:00"},
        {"5/1996", "1996-05-01 00:00:00"},
        {"32 49", nullptr},
        {"12", nullptr},
        {"", nullptr},
        {"   ", nullptr},
        {"5/10/1996 x", nullptr},
        {"5/10/1996 14", nullptr},
        // Times alone fall on day 0.
        {"14:30", "1899-12-30 14:30:00"},
        {"14:30:15", "1899-12-30 14:30:15"},
        {"2:30 PM", "1899-12-30 14:30:00"},
        {"2:30:15 pm", "1899-12-30 14:30:15"},
        {"2:30PM", "1899-12-30 14:30:00"},
        {"3 PM", "1899-12-30 15:00:00"},
        {"3 p", "1899-12-30 15:00:00"},
        {"1 am", "1899-12-30 01:00:00"},
        {"12:00 AM", "1899-12-30 00:00:00"},
        {"12:59 A", "1899-12-30 00:59:00"},
        {"12:30 PM", "1899-12-30 12:30:00"},
        {"2.5", "1899-12-30 02:05:00"},
        {"0.1", "1899-12-30 00:01:00"},
        // An hour past 12 keeps its value; hour 0 with PM is noon.
        {"13:00 PM", "1899-12-30 13:00:00"},
        {"13:00 AM", "1899-12-30 13:00:00"},
        {"22:34:35 am", "1899-12-30 22:34:35"},
        {"00:00 PM", "1899-12-30 12:00:00"},
        {"0:30 pm", "1899-12-30 12:30:00"},
        {"24:00", nullptr},
        {"0:60", nullptr},
        {"23:59:60", nullptr},
        {"14:", nullptr},
        {"1:2:3:4", nullptr},
        {"14:30 PM PM", nullptr},
        {"PM", nullptr},
        {"1 2 am", nullptr},
        {"1 am 2", nullptr},
        // Date and time together, the time first or last.
        {"10/03/2008 22:34:35 am", "2008-10-03 22:34:35"},
        {"11/22/2003 21:42:58 AM", "2003-11-22 21:42:58"},
        {"6/30/2011 01:20:34 PM", "2011-06-30 13:20:34"},
        {"5/10/1996 14:30:15", "1996-05-10 14:30:15"},
        {"2:30 PM 5/10/1996", "1996-05-10 14:30:00"},
        {"3 am 1 2", "2024-01-02 03:00:00"},
        {"1 2 3 am", "2024-01-02 03:00:00"},
        {"5/10 14:30", "2024-05-10 14:30:00"},
        {"1.2 3 4", "2024-03-04 01:02:00"},
        {"1/2/2020 25:00", nullptr},
    };
    for (const auto& c : cases) {
        tab::DateTextFields p;
        const auto status = tab::parseDateText(c.text, tab::DateSyntax::Text, 2024, p);
        if (c.expected == nullptr) {
            EXPECT_EQ(status, tab::DateTextStatus::Invalid)
                << '"' << c.text << "\" gave " << show(p);
            continue;
        }
        ASSERT_EQ(status, tab::DateTextStatus::Ok) << '"' << c.text << '"';
        EXPECT_EQ(show(p), c.expected) << '"' << c.text << '"';
        EXPECT_EQ(p.hasDate, std::string(c.expected).substr(0, 10) != "1899-12-30") << c.text;
    }
}

}  // namespace
