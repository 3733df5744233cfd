// Proleptic Gregorian calendar arithmetic on day numbers counted from
// 1899-12-30, Access's day 0. Exact for every 64-bit day count the callers
// range-check.
#pragma once

#include <cstdint>

namespace tab {

int64_t daysFromCivil(int64_t year, int month, int day);
void civilFromDays(int64_t day, int64_t& year, int& month, int& dayOfMonth);

}  // namespace tab
