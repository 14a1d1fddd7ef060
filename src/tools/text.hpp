// Number formatting for messages, labels and names, with std::to_chars.
#pragma once

#include <charconv>
#include <cmath>
#include <span>
#include <string>

namespace tirovan::tools::text {

// The shortest decimal that reads back as the same float.
inline std::string shortest(float value) {
  char buffer[32];
  return {buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr};
}

// `decimals` digits after the point; huge values in the shortest form.
inline std::string fixed(double value, int decimals) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (result.ec != std::errc{}) result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return {buffer, result.ptr};
}

// Zero-padded integer of at least `width` digits (value >= 0).
inline std::string padded(long value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  return digits;
}

// The values separated by blanks: "440 500 675 870".
inline std::string list(std::span<const float> values) {
  std::string joined;
  for (const float value : values) {
    if (!joined.empty()) joined += ' ';
    joined += shortest(value);
  }
  return joined;
}

} // namespace tirovan::tools::text
