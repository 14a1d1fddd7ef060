// Quality flags of one measurement record: why it has no values, what is
// doubtful about them, and which cloud-screening tests removed it. A small
// bit set with a name per flag for the `flags` column of reports
// ("sun_below_horizon|triplet").
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tirovan::analysis {

// New flags go at the end of their group, with their name in flag_names.
enum class Flag : std::uint8_t {
  // The record would stop tirovan; it has no values.
  unreadable,          // a value is no number, or does not fit its type
  signal_not_positive, // signal - dark or the calibration signal <= 0: no logarithm
  sun_too_low,         // solar zenith angle beyond 96.08 deg (or no solar position): no air mass
  wavelength_zero,     // a channel's wavelength is 0 nm or below: no Rayleigh optical depth
  month_invalid,       // month outside 1..12: no ozone column
  // Values computed, with a caveat.
  sun_below_horizon, // solar zenith angle above 90 deg
  date_invalid,      // no such calendar date (day beyond its month): no timestamp
  not_finite,        // an AOT or intermediate value is infinite or NaN
  // Cloud screening (screening.hpp): the record is not clear sky.
  air_mass,     // air mass above the limit
  negative_aot, // AOT below the limit in a channel (that channel's value is dropped)
  triplet,      // AOT varies too much within three measurements close in time
  smoothness,   // removed by the smoothness test of AOT(500)
  three_sigma,  // AOT(500) or Angstrom exponent beyond mean +- 3 sd of the day
  day_too_few,  // the day kept too few measurements: all of it is rejected
  count
};

inline constexpr std::array<std::string_view, static_cast<std::size_t>(Flag::count)> flag_names = {
    "unreadable",        "signal_not_positive", "sun_too_low", "wavelength_zero", "month_invalid",
    "sun_below_horizon", "date_invalid",        "not_finite",  "air_mass",        "negative_aot",
    "triplet",           "smoothness",          "three_sigma", "day_too_few"};

[[nodiscard]] constexpr std::uint32_t flag_bit(Flag flag) { return std::uint32_t{1} << static_cast<unsigned>(flag); }

class Flags {
public:
  constexpr void set(Flag flag) { bits_ |= bit(flag); }
  constexpr void clear() { bits_ = 0; }
  [[nodiscard]] constexpr bool has(Flag flag) const { return (bits_ & bit(flag)) != 0; }
  [[nodiscard]] constexpr bool any() const { return bits_ != 0; }
  // A flag of the first group is set: there are no values to report.
  [[nodiscard]] constexpr bool skipped() const { return (bits_ & (bit(Flag::sun_below_horizon) - 1)) != 0; }
  // A cloud-screening test removed the record.
  [[nodiscard]] constexpr bool screened() const { return (bits_ & ~(bit(Flag::air_mass) - 1)) != 0; }
  [[nodiscard]] constexpr std::uint32_t bits() const { return bits_; }
  constexpr Flags& operator|=(Flags other) {
    bits_ |= other.bits_;
    return *this;
  }

  // The names of the set flags, joined by '|'; empty when none is set.
  [[nodiscard]] std::string names() const {
    std::string text;
    for (std::size_t i = 0; i < flag_names.size(); ++i) {
      if ((bits_ & (std::uint32_t{1} << i)) == 0) continue;
      if (!text.empty()) text += '|';
      text += flag_names[i];
    }
    return text;
  }

private:
  static constexpr std::uint32_t bit(Flag flag) { return std::uint32_t{1} << static_cast<unsigned>(flag); }
  std::uint32_t bits_ = 0;
};

} // namespace tirovan::analysis
