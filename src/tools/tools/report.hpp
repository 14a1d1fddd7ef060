// The report of a data folder: every measurement as one row of a tidy CSV
// table (timestamp, day of year, solar zenith angle, air mass, AOT per
// channel, Angstrom exponent, AOT at 500 and 550 nm, flags), and per day a
// figure of the AOT and of the Angstrom exponent against the time of day.
//
// Records stream through in file order; one day's records are held at a
// time (for its figure), so memory does not grow with the number of days.
#pragma once

#include "analysis/screening.hpp"
#include "tools/products.hpp"
#include "tools/records.hpp"
#include "tools/report_uncertainty.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace tirovan::tools {

struct ReportOptions {
  std::string folder = "."; // holds lang.dat and dane.dat
  std::string output;       // CSV file; empty: standard output
  std::string plot_folder;  // per-day figures (SVG and PNG) go here; empty: none
  double angstrom_tolerance_nm = angstrom_window_tolerance_nm;
  std::size_t max_warnings = 20; // per kind; 0: all
  ScreeningOptions screening;
  UncertaintyOptions uncertainty;  // aot_<wavelength>nm_unc and above_wmo_limit columns
  ProductOptions products;         // precipitable water, fine and coarse modes
  Physics physics = Physics::core; // reference: precise physics, the values to publish
  bool progress = false;           // a progress line on standard error for large inputs
  // Cloud screening of each UTC day (analysis/screening.hpp); the reasons go to the flags column.
  bool screen = false;
  bool drop_flagged = false; // screen, and leave every flagged record out of the CSV and the figures
  // Days (figures, screening) by local mean solar time UT + lon / 15 h
  // instead of the UTC date; figures then show local solar time.
  bool local_solar_day = false;
  bool netcdf = false; // a CF NetCDF file (tools/netcdf.hpp) instead of CSV; needs `output`
};

struct ReportSummary {
  std::uint64_t records = 0;        // rows written
  std::uint64_t skipped = 0;        // rows of records that would stop tirovan
  std::uint64_t dropped = 0;        // flagged records left out (drop_flagged)
  std::uint64_t warnings = 0;       // warnings given (skipped records included)
  bool ended_early = false;         // dane.dat ended before its declared count
  std::vector<std::string> figures; // SVG paths written
  std::vector<std::string> notes;   // what the run used: the Angstrom channels, the physics
  std::uint64_t without_time = 0;   // records left out of a NetCDF file: no time coordinate
};

// Writes the report. Warnings ("dane.dat:12:31: warning: ...") go to `warn`
// one at a time, without line end. Throws Error when the input cannot be
// read at all or an output cannot be written; the CSV is written by the
// policy of tools/output.hpp and replaces an old file only when the whole
// report, figures included, succeeded.
ReportSummary write_report(const ReportOptions& options, const std::function<void(const std::string&)>& warn);

// The CSV header for these wavelengths [nm]: time_utc, day_of_year,
// zenith_deg, air_mass, aot_channel_<wavelength>nm per channel,
// angstrom_440_870, aot_500nm, aot_550nm, source_line (of the record in
// dane.dat), flags. Only the channel columns depend on the instrument.
[[nodiscard]] std::vector<std::string> report_columns(std::span<const float> wavelengths);

// "report: angstrom_440_870 uses 439.4 498.9 672.7 867.6 nm", said once per run.
[[nodiscard]] std::string angstrom_note(std::span<const float> wavelengths, const AngstromWindow& window);

// The figure of one day: AOT per channel and the Angstrom exponent against
// the time of day [h UTC], written as SVG and PNG under `stem`.svg/.png.
// With `screening` (one entry per record) flagged records are drawn as
// hollow markers apart from the clear records' lines.
void draw_day(std::span<const Record> day, std::span<const float> wavelengths, const AngstromWindow& window,
              const std::string& stem, bool local_solar = false, std::span<const Flags> screening = {});

// Registers `report [DIR]` with its options on `app`.
void add_report_command(CLI::App& app);

} // namespace tirovan::tools
