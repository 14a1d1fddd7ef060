// Quality flags of one reported measurement, a small bit set with a name
// per flag for the `flags` column of the report ("sun_below_horizon|...").
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tirovan::tools {

// New flags go at the end, before `count`, with their name in flag_names.
enum class Flag : std::uint8_t {
  // The record would stop tirovan; it is reported without values.
  unreadable,          // a value is no number, or does not fit its type
  signal_not_positive, // signal - dark or the calibration signal <= 0: no logarithm
  sun_too_low,         // solar zenith angle beyond 96.08 deg: no air mass
  wavelength_zero,     // a channel's wavelength is 0 nm
  month_invalid,       // month outside 1..12: no ozone column
  // Values computed, with a caveat.
  sun_below_horizon, // solar zenith angle above 90 deg
  date_invalid,      // no such calendar date (day beyond its month): no timestamp
  count
};

inline constexpr std::array<std::string_view, static_cast<std::size_t>(Flag::count)> flag_names = {
    "unreadable",    "signal_not_positive", "sun_too_low", "wavelength_zero",
    "month_invalid", "sun_below_horizon",   "date_invalid"};

class Flags {
public:
  constexpr void set(Flag flag) { bits_ |= bit(flag); }
  constexpr void clear() { bits_ = 0; }
  [[nodiscard]] constexpr bool has(Flag flag) const { return (bits_ & bit(flag)) != 0; }
  [[nodiscard]] constexpr bool any() const { return bits_ != 0; }
  // A flag of the first group is set: there are no values to report.
  [[nodiscard]] constexpr bool skipped() const { return (bits_ & (bit(Flag::sun_below_horizon) - 1)) != 0; }
  [[nodiscard]] constexpr std::uint32_t bits() const { return bits_; }

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

} // namespace tirovan::tools
