// Day-of-year conversions with a plain four-year leap rule.

#include <array>

#include "solar/solar.hpp"
#include "wrapping.hpp"

namespace tirovan {
namespace {

// Every multiple of 4 is a leap year: no century rule, year 0 included.
constexpr bool is_leap(std::int32_t year) { return year % 4 == 0; }

//                                        Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec
constexpr std::array<std::int32_t, 12> days_before = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr std::array<std::int32_t, 12> month_length = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

} // namespace

void JULIANDAY(std::int32_t year, std::int32_t month, std::int32_t day, std::int32_t& doy) {
  if (month < 1 || month > 12) return; // no such month: doy keeps the caller's value
  std::int32_t before = days_before[static_cast<std::size_t>(month - 1)];
  if (month >= 3 && is_leap(year)) ++before;
  doy = solar_detail::wrap_add(day, before);
}

bool JUL2GREG(std::int32_t doy, std::int32_t year, std::int32_t& month, std::int32_t& day) {
  const bool leap = is_leap(year);
  std::int32_t m = 1;
  std::int32_t d = doy;
  for (;;) {
    const std::int32_t length = month_length[static_cast<std::size_t>(m - 1)] + (m == 2 && leap ? 1 : 0);
    if (d <= length) break;
    if (m == 12) return false; // past 31 December: no date in this year
    d -= length;
    ++m;
  }
  month = m;
  day = d;
  return true;
}

} // namespace tirovan
