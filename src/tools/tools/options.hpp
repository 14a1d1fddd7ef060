// Checks of numeric options, for CLI11: a refused value ends the run with
// status 2 and a message that names the option. CLI::Range alone lets NaN
// through (every comparison with it is false), so finiteness comes first.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

namespace tirovan::tools {

// A finite number in [low, high], or in (low, high] when `low_open`.
inline CLI::Validator finite_in(double low, double high, bool low_open = false) {
  auto shown = [](double x) {
    char text[32];
    (void)std::snprintf(text, sizeof text, "%g", x);
    return std::string(text);
  };
  const std::string bounds = (low_open ? "(" : "[") + shown(low) + ", " + shown(high) + "]";
  return CLI::Validator(
      [low, high, low_open, bounds](std::string& text) -> std::string {
        double value = 0;
        if (!CLI::detail::lexical_cast(text, value)) return "Value " + text + " is not a number";
        if (!std::isfinite(value)) return "Value " + text + " is not finite";
        if (value < low || value > high || (low_open && value == low))
          return "Value " + text + " not in range " + bounds;
        return {};
      },
      "FLOAT in " + bounds);
}

} // namespace tirovan::tools
