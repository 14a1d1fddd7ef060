// Checks of a data folder's lang.dat and dane.dat before tirovan runs on
// them: read with tirovan's own reader rules, each problem reported with
// its file, line and column. Errors are what stops tirovan or makes its
// results wrong for certain (a bad token, a count that drops or misses
// records, calibrations paired with the wrong channel, an impossible date
// or place, a logarithm of a non-positive signal, the Sun too low);
// warnings are what is merely suspicious (implausible ranges, the Sun
// below the horizon, times that look like local time).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "textio/text_position.hpp"

namespace CLI {
class App;
}

namespace tirovan::tools {

enum class Severity { warning, error };

struct Diagnostic {
  std::string file;           // as shown to the user (see inputs.hpp)
  textio::TextPosition where; // line 0: the file as a whole; column 0: the line as a whole
  Severity severity = Severity::error;
  std::string rule;    // short name of the check, e.g. "decimal-comma"
  std::string message; // one line, no line end
};

// "dane.dat:12:31: error: <message> [rule]"
[[nodiscard]] std::string format_diagnostic(const Diagnostic& diagnostic);

struct CheckSummary {
  std::uint64_t records = 0; // measurement records read
  std::uint64_t errors = 0, warnings = 0;
};

// Reads both files of `folder` (never writing anything) and hands every
// problem to `report`, in reading order (a day's local-time warning comes
// after that day's records).
CheckSummary check_inputs(std::string_view folder, const std::function<void(const Diagnostic&)>& report);

// Registers `check [DIR]` on `app`.
void add_check_command(CLI::App& app);

} // namespace tirovan::tools
