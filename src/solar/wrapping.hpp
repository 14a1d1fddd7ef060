// 32-bit integer arithmetic that wraps around modulo 2^32, as the hardware
// does, instead of overflowing (undefined in C++). Private to src/solar.
#pragma once

#include <cstdint>

namespace tirovan::solar_detail {

constexpr std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

constexpr std::int32_t wrap_mul(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// Day of the year without a leap day: the days before `month` plus `day`,
// as 31 * month minus the short months passed. Months 2 and below follow
// the January rule; months above 12 continue the September-December rule.
constexpr std::int32_t day_of_common_year(std::int32_t day, std::int32_t month) {
  if (month <= 2) return wrap_add(wrap_add(wrap_mul(31, month), day), -31);
  // (month - 2) and (month - 1) cannot overflow here: month > 2.
  const std::int32_t short_months = month > 8 ? (month - 2) / 2 : (month - 1) / 2;
  return wrap_add(wrap_add(wrap_add(wrap_mul(31, month), -short_months), day), -33);
}

} // namespace tirovan::solar_detail
