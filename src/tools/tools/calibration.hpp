// Calibration over an instrument's life.
//
// `langley DIR --history FILE` appends every accepted half-day to a
// history table (analysis/calibration_history.hpp): the old rows and the
// new ones are written as a whole new file by the output policy
// (tools/output.hpp), a half-day already in the table (same instrument,
// date, am/pm and wavelength) is not repeated.
//
// `calibration FILE --date YYYY-MM-DD --template lang.dat -o OUT` fits
// ln V0 at the date per channel from the history, reports the jumps of
// each channel, writes a lang.dat and, with --plot, a figure of ln V0
// against time with the fit, its band and the jumps.
//
// Exit status: 0 done, 1 some channel without a value (the template's V0
// kept), 2 an input or output error or no channel calibrated.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "analysis/calibration_history.hpp"
#include "tools/status.hpp"

namespace CLI {
class App;
}

namespace tirovan::tools {

// Reads the history at `path` (none when missing), merges `rows` into it
// and writes it back whole; returns the number of rows appended. Throws
// Error when the file cannot be read or written or is no history table.
std::size_t append_history(const std::string& path, const std::vector<HistoryRow>& rows);

struct CalibrationCommand {
  std::string history;
  std::string date; // YYYY-MM-DD
  std::string lang_template;
  std::string output;
  std::string plot;
  std::string instrument; // rows of this instrument only; empty: all rows (which must be one instrument)
  V0Model model = V0Model::mean;
  double window = 30; // [days]
  JumpOptions jumps;
};

int run_calibration(const CalibrationCommand& command, std::ostream& out, std::ostream& err);

void add_calibration_command(CLI::App& app);

} // namespace tirovan::tools
