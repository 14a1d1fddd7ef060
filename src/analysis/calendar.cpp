#include "analysis/calendar.hpp"

#include <cmath>

namespace tirovan::analysis {
namespace {

constexpr std::int64_t seconds_per_day = 86400;
constexpr std::int64_t first_year = 1, last_year = 9999;

char* put_digits(char* out, std::int64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

} // namespace

std::int64_t days_from_civil(std::int64_t year, std::int64_t month, std::int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_era_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_era_year;
  return era * 146097 + day_of_era - 719468;
}

CivilDate civil_from_days(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t day_of_era = days - era * 146097;
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year_march = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_march = (5 * day_of_year_march + 2) / 153;
  const std::int64_t day = day_of_year_march - (153 * month_march + 2) / 5 + 1;
  const std::int64_t month = month_march < 10 ? month_march + 3 : month_march - 9;
  return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

int day_of_year(std::int64_t year, std::int64_t month, std::int64_t day) {
  return static_cast<int>(days_from_civil(year, month, day) - days_from_civil(year, 1, 1) + 1);
}

bool utc_time(std::int64_t year, std::int64_t month, std::int64_t day, double hour, double minute, UtcTime& result) {
  if (year < first_year || year > last_year || !is_valid_date(year, month, day)) return false;
  const double seconds = (hour * 60.0 + minute) * 60.0;
  // Beyond a few thousand years either way the date leaves 1..9999 anyway.
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e13) return false;
  const double whole_days = std::floor(seconds / static_cast<double>(seconds_per_day));
  const std::int64_t days = days_from_civil(year, month, day) + static_cast<std::int64_t>(whole_days);
  const double rest = seconds - whole_days * static_cast<double>(seconds_per_day); // [0, 86400]
  std::int64_t second = std::llround(rest);
  std::int64_t rounded_days = days;
  if (second >= seconds_per_day) second -= seconds_per_day, ++rounded_days;
  const CivilDate date = civil_from_days(rounded_days);
  if (date.year < first_year || date.year > last_year) return false;
  result.date = date;
  result.second_of_day = second;
  // The exact fraction belongs to the unrounded day.
  result.fraction_of_day = rest / static_cast<double>(seconds_per_day);
  if (rounded_days != days) result.fraction_of_day -= 1.0;
  return true;
}

char* format_iso8601(char* out, const UtcTime& time) {
  out = put_digits(out, time.date.year, 4);
  *out++ = '-';
  out = put_digits(out, time.date.month, 2);
  *out++ = '-';
  out = put_digits(out, time.date.day, 2);
  *out++ = 'T';
  out = put_digits(out, time.second_of_day / 3600, 2);
  *out++ = ':';
  out = put_digits(out, time.second_of_day / 60 % 60, 2);
  *out++ = ':';
  out = put_digits(out, time.second_of_day % 60, 2);
  *out++ = 'Z';
  return out;
}

std::string format_date(const CivilDate& date) {
  std::string text(10, '-');
  put_digits(text.data(), date.year, 4);
  put_digits(text.data() + 5, date.month, 2);
  put_digits(text.data() + 8, date.day, 2);
  return text;
}

} // namespace tirovan::analysis
