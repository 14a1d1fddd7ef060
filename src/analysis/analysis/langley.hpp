// Langley calibration: the extraterrestrial signal V0 of a channel from a
// half-day of direct-sun measurements under a stable atmosphere.
//
// Beer-Lambert with the Sun-Earth distance factor F (mean distance / actual
// distance)^2:
//     V = V0 F exp(-tau m)   =>   ln V - ln F = ln V0 - tau m,
// with V the dark-corrected signal, m the relative optical air mass and tau
// the total optical depth of the column (aerosol, Rayleigh, ozone, ...). The
// line's intercept at m = 0 is ln V0 at mean Sun-Earth distance, in the
// unit of the signals; minus its slope is tau.
//
// Two fits of that line are offered:
//  - least squares of ln V - ln F against m, as in the objective Langley
//    method of Harrison & Michalsky (1994, Appl. Opt. 33, 5126): a fixed
//    air-mass range, iterative rejection of points far from the line and
//    acceptance tests on the points left and the residual scatter;
//  - Herman et al. (1981, Appl. Opt. 20, 2925): least squares of
//    (ln V - ln F) / m against 1 / m, whose slope is ln V0 and intercept
//    -tau. This is the same line fitted with weights 1/m^2, so the low-Sun
//    points count less.
// Both use the same range, rejection and acceptance rules; residuals,
// rejection and the acceptance limit are always in ln V (not ln V / m).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tirovan::analysis {

enum class LangleyMethod {
  objective, // least squares of ln V - ln F on m (Harrison & Michalsky 1994)
  herman,    // least squares of (ln V - ln F) / m on 1 / m (Herman et al. 1981)
};

[[nodiscard]] std::string_view method_name(LangleyMethod method);

// The defaults are those applied by networks for 415-940 nm channels with
// the objective method; every one can be changed.
struct LangleyOptions {
  LangleyMethod method = LangleyMethod::objective;
  double min_air_mass = 2.0; // [1] points with air mass outside [min, max] are not fitted
  double max_air_mass = 6.0; // [1]
  // A point whose residual exceeds rejection_sd residual standard
  // deviations of the current fit is dropped and the line refitted.
  double rejection_sd = 1.5; // [residual standard deviations]
  // Refit-and-reject passes at most; passes stop early when one drops
  // nothing. Repeating to a fixed point with the standard deviation
  // recomputed each time would keep eating into clean, normally
  // distributed scatter (the survivors of a 1.5 sd cut have an sd of only
  // 0.74 of the sd before the cut), so the number of passes is bounded.
  int rejection_passes = 3;
  // Acceptance: at least this fraction of the points in range survive ...
  double min_surviving_fraction = 1.0 / 3.0;
  // ... and at least this many enter the final fit ...
  std::size_t min_points = 12;
  // ... and the final fit's residual standard deviation is below this.
  double max_residual_sd = 0.006; // [ln signal]
};

// One measurement of one channel on a Langley plot.
struct LangleyPoint {
  double air_mass = 0;  // m [1]
  double ln_signal = 0; // ln V - ln F [ln signal]; not finite when V <= 0
};

// What became of each point in a fit.
enum class PointRole : unsigned char {
  outside_range, // air mass outside [min_air_mass, max_air_mass] (or not finite)
  rejected,      // in range, but dropped by a rejection pass (or ln V not finite)
  used,          // in the final fit
};

// A line through points that all sit near one air mass pins no intercept:
// the air masses of the points in the final fit must span at least this
// much (a clear morning from m = 6 to m = 2 spans 4). Tested on the values.
inline constexpr double langley_min_air_mass_span = 1.0; // [1]

enum class LangleyVerdict {
  accepted,
  too_few_in_range,   // fewer than min_points in the air-mass range
  narrow_span,        // air masses of the points in the final fit span less than langley_min_air_mass_span
  constant_signal,    // every point in the final fit has the same signal: a stuck detector, not a clear sky
  too_few_survived,   // rejection left fewer than min_points or min_surviving_fraction of those in range
  residual_too_large, // residual sd at or above max_residual_sd
};

struct LangleyFit {
  LangleyVerdict verdict = LangleyVerdict::too_few_in_range;
  // Line ln V - ln F = ln_v0 - tau m of the final fit; NaN when fewer than
  // three points with distinct air masses were left to fit.
  double ln_v0 = 0;       // [ln signal] at mean Sun-Earth distance
  double ln_v0_error = 0; // [ln signal] standard error of the intercept
  double tau = 0;         // [1] total optical depth, minus the slope
  double residual_sd = 0; // [ln signal] sqrt(sum r^2 / (n - 2)), r in ln V
  std::size_t in_range = 0, used = 0, rejected = 0;
  double air_mass_span = 0;     // [1] largest minus smallest air mass of the points used
  std::vector<PointRole> roles; // one per input point, in input order
};

// Fits one channel's half-day. Points may come in any order.
[[nodiscard]] LangleyFit fit_langley(std::span<const LangleyPoint> points, const LangleyOptions& options = {});

// Why a fit was refused, with its numbers ("12 points in 2-6 air masses,
// 12 needed"); "accepted" for an accepted fit.
[[nodiscard]] std::string verdict_text(const LangleyFit& fit, const LangleyOptions& options);

// The calibration of one channel from its accepted half-days: the mean of
// their ln V0, with their sample standard deviation as the uncertainty, or
// for a single half-day its intercept's standard error.
struct ChannelCalibration {
  std::size_t half_days = 0; // accepted half-days combined; 0: no calibration
  double ln_v0 = 0;          // [ln signal]
  double ln_v0_uncertainty = 0;
  double tau = 0; // [1] mean total optical depth of those half-days
};

[[nodiscard]] ChannelCalibration combine_half_days(std::span<const LangleyFit> fits);

} // namespace tirovan::analysis
