// The `langley` command: a Langley calibration of every channel from the
// measurements in DIR/dane.dat, written as a lang.dat that tirovan reads.
//
// Geometry: by default the precise Sun of tirovan::reference (ERFA, the
// real calendar with its leap days), the Kasten & Young (1989) air mass of
// the apparent zenith and the Sun-Earth factor (1 au / distance)^2; with
// --geometry core the retrieval's own (driver::locate_sun), whose solar
// position errs by up to 0.4 deg. Either way ln V0 is at mean Sun-Earth
// distance, as lang.dat holds it. Measurements are grouped into half-days:
// the local solar date (UT + longitude / 15 h) and the side of the
// meridian the Sun is on (azimuth below 180 deg: morning). Each channel of
// each half-day is fitted (analysis/langley.hpp; channels below 400 nm
// with the UV defaults for what the user did not set); a channel's
// calibration is the mean ln V0 of its accepted half-days.
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
// --allow-partial) or two accepted half-days of a channel that disagree
// (the file written, with a warning naming them), 2 an input or output error, or a degenerate input: every
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

enum class LangleyGeometry {
  precise, // tirovan::reference: ERFA Sun, Kasten & Young air mass of the apparent zenith
  core,    // driver::locate_sun, as tirovan retrieves
};

struct LangleyCommand {
  std::string dir = "."; // holds dane.dat and, optionally, lang.dat
  std::string output;    // the calibration file to write; empty: DIR/lang.new.dat
  bool no_write = false; // summary only
  bool allow_partial = false;
  std::string history;    // calibration history CSV to append accepted half-days to; empty: none
  std::string instrument; // its instrument name; empty: lang.dat's first line
  std::string plot_dir;   // a Langley plot per channel and half-day (SVG and PNG) when not empty
  LangleyGeometry geometry = LangleyGeometry::precise;
  LangleyOptions fit;
  // Options the user set: below 400 nm the others take the UV defaults.
  bool air_mass_min_set = false, air_mass_max_set = false, max_sd_set = false, min_span_set = false;
  // A channel in the water window is fitted by the modified Langley method
  // (analysis/water_vapour.hpp) unless no_water.
  WaterVapourModel water;
  bool no_water = false;
};

// The fit options of a channel: `command.fit`, or below 400 nm the UV
// defaults (uv_langley_options) for every one of air-mass range, sd limit
// and coverage span that the user did not set.
[[nodiscard]] LangleyOptions channel_options(const LangleyCommand& command, double wavelength_nm);

// Runs the command: the summary table to `out`, warnings to `err`.
// Returns 0 or 1; throws Error (status 2) for an input or output failure.
int run_langley(const LangleyCommand& command, std::ostream& out, std::ostream& err);

// Registers `langley [DIR]` with its options on `app`.
void add_langley_command(CLI::App& app);

} // namespace tirovan::tools
