// What the subcommands share of CLI11: checks of numeric options (a refused
// value ends the run with status 2 and a message that names the option;
// CLI::Range alone lets NaN through, every comparison with it being false,
// so finiteness comes first) and the end of a subcommand's callback.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <system_error>

#include <CLI/CLI.hpp>

#include "tools/status.hpp"

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

// The end of a subcommand that wrote its product to std::cout: the output
// flushed (Error when the write is refused, a full disk or a closed pipe),
// then a non-zero `status` handed to CLI11, which exits with it silently.
inline void end_command(int status) {
  std::cout.flush();
  if (!std::cout)
    throw Error("standard output: cannot write: " + std::error_code(errno, std::generic_category()).message());
  if (status != exit_ok) throw CLI::RuntimeError(status);
}

} // namespace tirovan::tools
