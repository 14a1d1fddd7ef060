// The calibration of an instrument over its life: the accepted Langley
// half-days kept as rows of a history table, and the calibration for a
// given date fitted from them per channel.
//
// History rows are CSV (RFC 4180 fields, LF line ends), one per accepted
// half-day and channel, keyed by (instrument, date, am/pm, wavelength);
// merging never repeats a key already present.
//
// V0 at a date (per channel, in ln V0 [ln signal] at mean Sun-Earth
// distance):
//  - jumps first: a change of level larger than `jump_factor` times the
//    scatter that persists over at least `jump_persist` consecutive
//    half-days (a filter swapped or cleaned, an optics repair). The
//    scatter is the robust sd of single half-days, 1.4826 MAD of the
//    successive differences / sqrt(2), so that a slow drift and the jumps
//    themselves barely enter it. A fit never straddles a jump: only the
//    half-days of the segment that holds the date are used;
//  - model `mean`: the half-days within +-window days of the date, those
//    beyond 3 x 1.4826 MAD of their median dropped, averaged; uncertainty:
//    the standard error of that mean (sd / sqrt(n)). NREL's UV-B network
//    uses such a running mean of clear-day intercepts;
//  - model `trend`: a least-squares line of ln V0 in time over the whole
//    segment (after the same 3-MAD rejection on its residuals), evaluated
//    at the date; uncertainty: the standard error of the line there,
//    s sqrt(1/n + (t - mean t)^2 / Sxx). AERONET interpolates linearly
//    between pre- and post-deployment calibrations in the same spirit.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/calendar.hpp"

namespace tirovan::analysis {

struct HistoryRow {
  std::string instrument;
  CivilDate date{1970, 1, 1}; // local solar date of the half-day
  bool afternoon = false;
  float wavelength = 0;     // [nm]
  double ln_v0 = 0;         // [ln signal] at mean Sun-Earth distance
  double ln_v0_error = 0;   // [ln signal] standard error of the intercept
  std::size_t points = 0;   // in the final fit
  double air_mass_span = 0; // [1]
  std::string method;       // "objective", "herman"
};

// The CSV header line (with its line end) and one row (with its line end).
[[nodiscard]] std::string history_header();
[[nodiscard]] std::string format_history_row(const HistoryRow& row);

// The rows of a whole history text (header first). A malformed line gives
// an error naming its line number; the rows read so far are not returned.
struct HistoryText {
  std::vector<HistoryRow> rows;
  std::string error; // empty when the text was read whole
};
[[nodiscard]] HistoryText parse_history(std::string_view text);

// `existing` followed by those of `added` whose key is neither in
// `existing` nor earlier in `added`; `appended` counts them.
[[nodiscard]] std::vector<HistoryRow> merge_history(std::vector<HistoryRow> existing, std::span<const HistoryRow> added,
                                                    std::size_t& appended);

// One channel's half-day in time: days since 1970-01-01 of the local date,
// plus 0.25 for a morning and 0.75 for an afternoon.
struct HistoryPoint {
  double day = 0;
  double ln_v0 = 0;
  double ln_v0_error = 0;
};
[[nodiscard]] double history_day(const HistoryRow& row);

struct Jump {
  std::size_t index = 0; // first point at the new level (points sorted by day)
  double day = 0;        // its day
  double step = 0;       // [ln signal] level after minus level before (medians)
};

struct JumpOptions {
  double factor = 3.0;      // change of level in units of the scatter
  std::size_t persist = 3;  // half-days at the new level in a row
  std::size_t baseline = 5; // half-days before the candidate that set the old level (at least 2 needed)
};

// Robust sd of single points, 1.4826 MAD of successive differences / sqrt(2); 0 below three points.
[[nodiscard]] double point_scatter(std::span<const HistoryPoint> sorted);
// The jumps of a channel's points, sorted by day, in order.
[[nodiscard]] std::vector<Jump> find_jumps(std::span<const HistoryPoint> sorted, const JumpOptions& options = {});

enum class V0Model { mean, trend };

struct V0Estimate {
  bool ok = false;
  std::string problem;               // why not, when !ok
  double ln_v0 = 0, uncertainty = 0; // [ln signal]
  std::size_t used = 0, rejected = 0;
  double first_day = 0, last_day = 0;             // span of the half-days used
  std::size_t segment_begin = 0, segment_end = 0; // indices of the segment holding the date
};

// ln V0 at `day` from the points (sorted by day) of the segment between
// the jumps that holds it; `window` [days] for the mean model.
[[nodiscard]] V0Estimate estimate_v0(std::span<const HistoryPoint> sorted, std::span<const Jump> jumps, double day,
                                     V0Model model, double window);

} // namespace tirovan::analysis
