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
//
// The quality tests follow the objective Langley method as networks built
// on Harrison & Michalsky (1994) apply it: one 1.5 sd rejection pass, the
// points left must still cover the air-mass range, ln V must fall as the
// air mass rises (a passing cloud breaks this), and the accepted half-days
// of a channel must agree within their uncertainties. UV channels
// (325-368 nm in those networks) use air mass 1.5-3 and an sd limit of
// 0.009 (uv_langley_options).
#pragma once

#include <cstddef>
#include <optional>
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
  // nothing. One pass, as in the codes derived from Harrison & Michalsky
  // (1994): repeating with the standard deviation recomputed each time
  // keeps eating into clean, normally distributed scatter (the survivors
  // of a 1.5 sd cut have an sd of only 0.74 of the sd before the cut).
  int rejection_passes = 1;
  // Acceptance: at least this fraction of the points in range survive ...
  double min_surviving_fraction = 1.0 / 3.0;
  // ... and at least this many enter the final fit ...
  std::size_t min_points = 12;
  // ... and the final fit's residual standard deviation is below this.
  double max_residual_sd = 0.006; // [ln signal]
  // Coverage (networks on Harrison & Michalsky 1994): the air masses of the
  // points in the final fit span at least this much, so that rejection has
  // not left a stub of the range (air mass 2-6: from <= 3 to >= 5 at the
  // least). Values beyond the range's width can never be met.
  double min_coverage_span = 3.0; // [1]
  // Cloud passage: ln V must fall as the air mass rises. With the points in
  // range (rejected ones too: rejection would hide the cloud) in air-mass
  // order, a step "rises" when ln V grows by more than rise_sd standard
  // deviations of a step's noise, estimated robustly (1.4826 MAD) from the
  // steps of the residuals from the final line. The half-day is refused
  // when more than max_rising_fraction of the steps rise (clean Gaussian
  // noise: 0.13 % of steps beyond 3 sd) or when the fitted slope is not
  // negative. max_rising_fraction 1 turns the step test off.
  double rise_sd = 3.0;              // [sd of a step]
  double max_rising_fraction = 0.02; // [1]
  // Consistency of a channel's accepted half-days: two whose ln V0 differ
  // by more than this many combined standard errors sqrt(u1^2 + u2^2)
  // disagree (half_day_disagreement).
  double max_disagreement = 3.0; // [combined standard errors]
};

// Channels below this wavelength are UV channels with their own defaults.
inline constexpr double langley_uv_below_nm = 400; // [nm]

// The UV defaults of the networks (325-368 nm channels): air mass 1.5 to
// 3.0, residual sd below 0.009, and the coverage rule scaled to that
// narrower range (a span of at least 1). The other settings are `base`'s.
[[nodiscard]] LangleyOptions uv_langley_options(LangleyOptions base);

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
  slope_not_negative, // ln V does not fall with air mass: fitted tau <= 0
  cloud_passage,      // ln V rises with air mass in more than max_rising_fraction of the steps
  too_few_survived,   // rejection left fewer than min_points or min_surviving_fraction of those in range
  poor_coverage,      // the points used span less than min_coverage_span air masses
  residual_too_large, // residual sd at or above max_residual_sd
};

struct LangleyFit {
  LangleyVerdict verdict = LangleyVerdict::too_few_in_range;
  // Line ln V - ln F = ln_v0 - tau m of the final fit; NaN when fewer than
  // three points with distinct air masses were left to fit.
  double ln_v0 = 0;       // [ln signal] at mean Sun-Earth distance
  double ln_v0_error = 0; // [ln signal] standard error of the intercept, for noise of residual_sd in ln V
  double tau = 0;         // [1] total optical depth, minus the slope
  double residual_sd = 0; // [ln signal] sqrt(sum r^2 / (n - 2)), r in ln V
  std::size_t in_range = 0, used = 0, rejected = 0;
  double air_mass_span = 0; // [1] largest minus smallest air mass of the points used
  std::size_t steps = 0,
              rising_steps = 0; // consecutive pairs of the points in range, in air-mass order, and those rising
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

// Two accepted half-days of one channel whose ln V0 differ by more than
// max_disagreement times sqrt(u1^2 + u2^2), u their intercepts' standard
// errors: the pair furthest apart in those units. A drift of the aerosol
// through a half-day, or a change of the instrument between days, shows
// here.
struct HalfDayDisagreement {
  std::size_t first = 0, second = 0; // indices into the fits given
  double difference = 0;             // [ln signal] ln V0 of second minus first
  double combined_error = 0;         // [ln signal] sqrt(u1^2 + u2^2)
};
[[nodiscard]] std::optional<HalfDayDisagreement> half_day_disagreement(std::span<const LangleyFit> fits,
                                                                       double max_disagreement);

} // namespace tirovan::analysis
