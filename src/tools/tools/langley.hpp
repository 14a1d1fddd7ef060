// The `langley` command: a Langley calibration of every channel from the
// measurements in DIR/dane.dat, written as a lang.dat that tirovan reads.
//
// Geometry is the retrieval's own (solar position, air mass, Sun-Earth
// distance factor of driver::locate_sun), so that calibration and
// retrieval share it. Measurements are grouped into half-days: the local
// solar date (UT + longitude / 15 h) and the side of the meridian the Sun
// is on (azimuth below 180 deg: morning). Each channel of each half-day is
// fitted (tools/langley.hpp); a channel's calibration is the mean ln V0 of
// its accepted half-days.
//
// Writing: DIR/lang.new.dat unless --output names a file, by the output
// policy of tools/output.hpp (never lang.dat or dane.dat, atomic replacement
// of a regular file); nothing with --no-write. An existing
// DIR/lang.dat lends its first header line (the instrument) and its
// wavelength list, and with --allow-partial the calibration signal of any
// channel without an accepted half-day.
//
// Exit status: 0 every channel calibrated (and the file written), 1 some
// channel without an accepted half-day (the file written only with
// --allow-partial), 2 an input or output error, or a degenerate input: every
// half-day's points at one air mass or with one signal.
#pragma once

#include <iosfwd>
#include <string>

#include "analysis/langley.hpp"
#include "analysis/water_vapour.hpp"
#include "tools/status.hpp"

namespace CLI {
class App;
}

namespace tirovan::tools {

struct LangleyCommand {
  std::string dir = "."; // holds dane.dat and, optionally, lang.dat
  std::string output;    // the calibration file to write; empty: DIR/lang.new.dat
  bool no_write = false; // summary only
  bool allow_partial = false;
  std::string plot_dir; // a Langley plot per channel and half-day (SVG and PNG) when not empty
  LangleyOptions fit;
  // A channel in the water window is fitted by the modified Langley method
  // (analysis/water_vapour.hpp) unless no_water.
  WaterVapourModel water;
  bool no_water = false;
};

// Runs the command: the summary table to `out`, warnings to `err`.
// Returns 0 or 1; throws Error (status 2) for an input or output failure.
int run_langley(const LangleyCommand& command, std::ostream& out, std::ostream& err);

// Registers `langley [DIR]` with its options on `app`.
void add_langley_command(CLI::App& app);

} // namespace tirovan::tools
