// Civil calendar of universal time: the proleptic Gregorian calendar
// (leap years every 4 years, except centuries not divisible by 400), as
// ISO 8601 uses it. The core's own day counts (solar/solar.hpp) ignore the
// leap day; these functions are for validating and labelling dates only.
#pragma once

#include <cstdint>
#include <string>

namespace tirovan::analysis {

[[nodiscard]] constexpr bool is_leap_year(std::int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days in `month` [1..12] of `year`; 0 for a month outside 1..12.
[[nodiscard]] constexpr int days_in_month(std::int64_t year, std::int64_t month) {
  constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && is_leap_year(year) ? 29 : days[month - 1];
}

[[nodiscard]] constexpr bool is_valid_date(std::int64_t year, std::int64_t month, std::int64_t day) {
  return day >= 1 && day <= days_in_month(year, month);
}

// Days from 1970-01-01 to the date (negative before it); the date must be valid.
// Algorithm of H. Hinnant, "chrono-Compatible Low-Level Date Algorithms".
[[nodiscard]] std::int64_t days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day);

struct CivilDate {
  std::int64_t year, month, day;
};
[[nodiscard]] CivilDate civil_from_days(std::int64_t days);

// Day of the year [1..366] of a valid date, 1 = 1 January.
[[nodiscard]] int day_of_year(std::int64_t year, std::int64_t month, std::int64_t day);

// An instant of universal time: a date and the seconds since its midnight.
struct UtcTime {
  CivilDate date{1970, 1, 1};
  std::int64_t second_of_day = 0; // [s] 0 .. 86399
  double fraction_of_day = 0;     // [d] exact time of day in [0, 1), before rounding to the second
};

// The instant `hour` [h] and `minute` [min] after the midnight that starts
// `day` of `month` of `year`; hours and minutes may carry fractions, be
// negative or pass 24 h and 60 min (the date moves accordingly). False when
// the date is no calendar date, the year is outside 1..9999 (before or after
// the move) or the time is not finite.
[[nodiscard]] bool utc_time(std::int64_t year, std::int64_t month, std::int64_t day, double hour, double minute,
                            UtcTime& result);

// "YYYY-MM-DDThh:mm:ssZ" (ISO 8601, extended format, UTC); 20 characters
// written to `out`, which returns one past the last.
char* format_iso8601(char* out, const UtcTime& time);

// "YYYY-MM-DD" of a date of years 1..9999.
[[nodiscard]] std::string format_date(const CivilDate& date);

} // namespace tirovan::analysis
