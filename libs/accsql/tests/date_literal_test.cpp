// #...# literals: US m/d/y first, d/m/y when that is no date, a leading long
// year is y/m/d without guessing, two-digit years 00-29 are 20xx.
#include <gtest/gtest.h>

#include "test_util.h"

using namespace tab::accsql;
using namespace tab::accsql::test;

namespace {

struct DateCase {
    const char* literal;
    int y, mo, d, h, mi, s;
    bool hasDate, hasTime;
};

const DateCase kGood[] = {
    {"#5/10/1996#", 1996, 5, 10, 0, 0, 0, true, false},
    {"#1-1-1960#", 1960, 1, 1, 0, 0, 0, true, false},
    {"#1996-05-10#", 1996, 5, 10, 0, 0, 0, true, false},
    {"#1996/05/10#", 1996, 5, 10, 0, 0, 0, true, false},
    {"#May 10, 1996#", 1996, 5, 10, 0, 0, 0, true, false},
    {"#10-May-1996#", 1996, 5, 10, 0, 0, 0, true, false},
    {"#10 may 1996#", 1996, 5, 10, 0, 0, 0, true, false},
    {"#September 3, 2001#", 2001, 9, 3, 0, 0, 0, true, false},
    {"#5/10/1996 14:30#", 1996, 5, 10, 14, 30, 0, true, true},
    {"#5/10/1996 2:30:15 PM#", 1996, 5, 10, 14, 30, 15, true, true},
    {"#1996-05-10 14:30:15#", 1996, 5, 10, 14, 30, 15, true, true},
    {"#  5/10/1996   14:30  #", 1996, 5, 10, 14, 30, 0, true, true},
    {"#14:30#", 1899, 12, 30, 14, 30, 0, false, true},
    {"#2:30 PM#", 1899, 12, 30, 14, 30, 0, false, true},
    {"#14:30:15#", 1899, 12, 30, 14, 30, 15, false, true},
    {"#12:00 AM#", 1899, 12, 30, 0, 0, 0, false, true},
    {"#12:00 PM#", 1899, 12, 30, 12, 0, 0, false, true},
    {"#2 pm#", 1899, 12, 30, 14, 0, 0, false, true},
    // m/d/y is no date, d/m/y is.
    {"#13/1/2005#", 2005, 1, 13, 0, 0, 0, true, false},
    {"#31/12/1999#", 1999, 12, 31, 0, 0, 0, true, false},
    // Both readings are dates: m/d/y wins whatever the locale.
    {"#5/10/96#", 1996, 5, 10, 0, 0, 0, true, false},
    {"#1/1/29#", 2029, 1, 1, 0, 0, 0, true, false},
    {"#1/1/30#", 1930, 1, 1, 0, 0, 0, true, false},
    {"#1/1/00#", 2000, 1, 1, 0, 0, 0, true, false},
    {"#2/29/2000#", 2000, 2, 29, 0, 0, 0, true, false},
    {"#1/1/100#", 100, 1, 1, 0, 0, 0, true, false},
    {"#12/31/9999 23:59:59#", 9999, 12, 31, 23, 59, 59, true, true},
    // An hour past 12 keeps its value whatever the marker; 0 PM is noon.
    {"#11/22/2003 21:42:58 AM#", 2003, 11, 22, 21, 42, 58, true, true},
    {"#13:00 PM#", 1899, 12, 30, 13, 0, 0, false, true},
    {"#0:30 PM#", 1899, 12, 30, 12, 30, 0, false, true},
    {"#5/10/1996 2:30PM#", 1996, 5, 10, 14, 30, 0, true, true},
};

TEST(DateLiteral, Accepted) {
    for (const auto& c : kGood) {
        auto r = parse(std::string("SELECT ") + c.literal);
        const Expr* e = selectExpr(r);
        ASSERT_NE(e, nullptr) << c.literal << ": " << firstError(r);
        ASSERT_EQ(e->kind, ExprKind::Date) << c.literal;
        const DateLiteral& d = e->date;
        EXPECT_EQ(d.year, c.y) << c.literal;
        EXPECT_EQ(d.month, c.mo) << c.literal;
        EXPECT_EQ(d.day, c.d) << c.literal;
        EXPECT_EQ(d.hour, c.h) << c.literal;
        EXPECT_EQ(d.minute, c.mi) << c.literal;
        EXPECT_EQ(d.second, c.s) << c.literal;
        EXPECT_EQ(d.hasDate, c.hasDate) << c.literal;
        EXPECT_EQ(d.hasTime, c.hasTime) << c.literal;
    }
}

struct BadDate {
    const char* literal;
    const char* message;
};

const BadDate kBad[] = {
    {"#2004/20/12#", "syntax error in date"},  // leading year: no guessing
    {"#2/30/2001#", "syntax error in date"},   // no reordering makes it a date
    {"#2/29/1900#", "syntax error in date"},   // 1900 is no leap year
    {"#1/1/0050#", "out of range"},
    {"#1/1/99999#", "out of range"},
    {"#14:30:15.5#", "fractional seconds"},
    {"#25:00#", "syntax error in date"},
    {"#24:00 PM#", "syntax error in date"},
    {"#5/10#", "syntax error in date"},
    {"#5/10/1996 2 PM 3#", "syntax error in date"},
    {"#2:30 PM 5/10/1996#", "syntax error in date"},
    {"#Fri, 10 Feb 2012#", "syntax error in date"},
    {"#2:30 P#", "syntax error in date"},
    {"#10.02.2012#", "syntax error in date"},
    {"#5/10/1996,14:30#", "syntax error in date"},
    {"#abc#", "syntax error in date"},
    {"##", "syntax error in date"},
    {"#5/10-1996#", "syntax error in date"},
    {"#5/10/1996#14:30#", "expected"},
};

TEST(DateLiteral, Rejected) {
    for (const auto& c : kBad) {
        auto r = parse(std::string("SELECT ") + c.literal);
        ASSERT_FALSE(r.ok()) << c.literal;
        EXPECT_NE(firstError(r).find(c.message), std::string::npos)
            << c.literal << ": " << firstError(r);
    }
}

}  // namespace
