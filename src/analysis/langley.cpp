#include "analysis/langley.hpp"
#include "analysis/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <numbers>

namespace tirovan::analysis {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct LangleyLine {
  double intercept = nan, slope = nan, intercept_error = nan, residual_sd = nan;
};

// Weighted least squares of y on m over the points marked used, weights 1
// (objective) or 1/m^2 (Herman). residual_sd: s = sqrt(sum r^2 / (n - 2))
// of the unweighted residuals in ln V. intercept_error for noise of one sd
// s in ln V at every air mass: the intercept is sum c_i y_i with
// c_i = w_i (1/W - mean_m (m_i - mean_m) / Smm) (weighted mean and Smm),
// so its standard error is s sqrt(sum c_i^2); with w = 1 that is the
// textbook s sqrt(1/n + mean_m^2 / Smm). The Herman weights are not the
// inverse variances of such noise, so the weighted residual variance
// would state an error about half the true scatter (measured on 200
// synthetic half-days).
LangleyLine fit_line(std::span<const LangleyPoint> points, const std::vector<PointRole>& roles, LangleyMethod method) {
  auto weight = [method](double m) { return method == LangleyMethod::herman ? 1.0 / (m * m) : 1.0; };
  LineSums sums;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (roles[i] == PointRole::used) sums.add(points[i].air_mass, points[i].ln_signal, weight(points[i].air_mass));
  }
  LangleyLine result;
  const Line line = sums.line();
  if (sums.count() < 3 || !std::isfinite(line.slope)) return result; // too few, or every point at one air mass
  result.slope = line.slope;
  result.intercept = line.intercept;
  double ss = 0, cc = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (roles[i] != PointRole::used) continue;
    const double m = points[i].air_mass;
    const double r = points[i].ln_signal - (line.intercept + line.slope * m);
    const double c = weight(m) * (1.0 / line.weight - line.mean_x * (m - line.mean_x) / line.sxx);
    ss += r * r;
    cc += c * c;
  }
  const auto dof = static_cast<double>(sums.count() - 2);
  result.residual_sd = std::sqrt(ss / dof);
  result.intercept_error = result.residual_sd * std::sqrt(cc);
  return result;
}

// Cloud-passage test. The steps of ln V between consecutive points in
// range (finite ln V, rejected or not: rejection would hide the cloud) in
// air-mass order, and how many rise by more than rise_sd noise sd of a
// step. The noise of a step is estimated from the steps of the residuals
// from the final line, which the line's own fall (varying with the spacing
// in air mass) does not inflate: sd_d = 1.4826 median |e - median e|, e
// those residual steps (the normal-consistent median absolute deviation,
// which a cloud's few steps do not move). Noise on two points makes a
// step's sd sqrt(2) times a point's; a step of clean noise rises beyond
// 3 sd_d with a chance of 0.13 %, less on a falling line, while a broken
// cloud makes ln V jump up and down by many.
struct Steps {
  std::size_t count = 0, rising = 0;
};
Steps rising_steps(std::span<const LangleyPoint> points, const std::vector<PointRole>& roles, double intercept,
                   double slope, double rise_sd) {
  std::vector<LangleyPoint> in_range;
  for (std::size_t i = 0; i < points.size(); ++i)
    if (roles[i] != PointRole::outside_range && std::isfinite(points[i].ln_signal)) in_range.push_back(points[i]);
  Steps steps;
  if (in_range.size() < 3 || !std::isfinite(intercept) || !std::isfinite(slope)) return steps;
  std::stable_sort(in_range.begin(), in_range.end(),
                   [](const LangleyPoint& a, const LangleyPoint& b) { return a.air_mass < b.air_mass; });
  std::vector<double> residual_step;
  for (std::size_t k = 1; k < in_range.size(); ++k) {
    const LangleyPoint &a = in_range[k - 1], &b = in_range[k];
    residual_step.push_back((b.ln_signal - a.ln_signal) - slope * (b.air_mass - a.air_mass));
  }
  const double sd = robust_sd(residual_step, median(residual_step));
  steps.count = residual_step.size();
  for (std::size_t k = 1; k < in_range.size(); ++k)
    if (in_range[k].ln_signal - in_range[k - 1].ln_signal > rise_sd * sd) ++steps.rising;
  return steps;
}

// Standard deviation of a unit normal truncated to |x| <= c:
// sqrt(1 - 2 c phi(c) / (2 Phi(c) - 1)); 0.7427 at c = 1.5. Cuts made one
// after another at c times the survivors' sd nest: the survivors of pass k
// are the noise truncated at c K_(k-1) sd, so K_k = truncated_sd(c K_(k-1)).
double truncated_sd(double c) {
  if (!(c > 0) || !std::isfinite(c)) return 1.0;
  const double density = std::exp(-0.5 * c * c) / std::sqrt(2.0 * std::numbers::pi);
  const double inside = std::erf(c / std::sqrt(2.0));
  return std::sqrt(std::max(1.0 - 2.0 * c * density / inside, 1e-6));
}

} // namespace

LangleyOptions uv_langley_options(LangleyOptions base) {
  base.min_air_mass = 1.5;
  base.max_air_mass = 3.0;
  base.max_residual_sd = 0.009;
  base.min_coverage_span = 1.0;
  return base;
}

std::string_view method_name(LangleyMethod method) {
  switch (method) {
  case LangleyMethod::objective: return "objective";
  case LangleyMethod::herman: return "herman";
  }
  return "?";
}

LangleyFit fit_langley(std::span<const LangleyPoint> points, const LangleyOptions& options) {
  LangleyFit fit;
  fit.roles.assign(points.size(), PointRole::outside_range);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double m = points[i].air_mass;
    if (!(m >= options.min_air_mass && m <= options.max_air_mass)) continue; // NaN stays outside
    ++fit.in_range;
    fit.roles[i] = std::isfinite(points[i].ln_signal) ? PointRole::used : PointRole::rejected;
  }

  LangleyLine line = fit_line(points, fit.roles, options.method);
  double shrink = 1.0; // sd of the survivors over the sd of the noise, for Gaussian noise
  for (int pass = 0; pass < options.rejection_passes && std::isfinite(line.residual_sd); ++pass) {
    const double limit = options.rejection_sd * line.residual_sd;
    bool dropped = false;
    for (std::size_t i = 0; i < points.size(); ++i) {
      if (fit.roles[i] != PointRole::used) continue;
      const double r = points[i].ln_signal - (line.intercept + line.slope * points[i].air_mass);
      if (std::abs(r) > limit) {
        fit.roles[i] = PointRole::rejected;
        dropped = true;
      }
    }
    if (!dropped) break;
    shrink = truncated_sd(options.rejection_sd * shrink);
    line = fit_line(points, fit.roles, options.method);
  }

  fit.used = static_cast<std::size_t>(std::count(fit.roles.begin(), fit.roles.end(), PointRole::used));
  fit.rejected = fit.in_range - fit.used;
  fit.ln_v0 = line.intercept;
  // The survivors of a cut understate the noise that scatters the line:
  // the stated error is scaled back to the whole noise (200 synthetic
  // half-days: without this it is 0.63 of the scatter of ln V0 after one
  // pass, 0.37 after three).
  fit.ln_v0_error = line.intercept_error / shrink;
  fit.tau = -line.slope;
  fit.residual_sd = line.residual_sd;

  // The spread of the points that count: their air masses and signals.
  double low = std::numeric_limits<double>::infinity(), high = -low;
  bool one_signal = true;
  const double* first_signal = nullptr;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (fit.roles[i] != PointRole::used) continue;
    low = std::min(low, points[i].air_mass);
    high = std::max(high, points[i].air_mass);
    if (first_signal == nullptr) first_signal = &points[i].ln_signal;
    one_signal = one_signal && points[i].ln_signal == *first_signal;
  }
  fit.air_mass_span = fit.used > 0 ? high - low : 0.0;
  const Steps steps = rising_steps(points, fit.roles, line.intercept, line.slope, options.rise_sd);
  fit.steps = steps.count;
  fit.rising_steps = steps.rising;

  const auto survivors_needed = static_cast<double>(fit.in_range) * options.min_surviving_fraction;
  if (fit.in_range < options.min_points) {
    fit.verdict = LangleyVerdict::too_few_in_range;
  } else if (fit.used > 0 && !(fit.air_mass_span >= langley_min_air_mass_span)) {
    fit.verdict = LangleyVerdict::narrow_span;
  } else if (fit.used > 1 && one_signal) {
    fit.verdict = LangleyVerdict::constant_signal;
  } else if (fit.used < options.min_points || static_cast<double>(fit.used) < survivors_needed ||
             !std::isfinite(line.intercept)) {
    fit.verdict = LangleyVerdict::too_few_survived;
  } else if (!(line.slope < 0)) {
    fit.verdict = LangleyVerdict::slope_not_negative;
  } else if (static_cast<double>(fit.rising_steps) > options.max_rising_fraction * static_cast<double>(fit.steps)) {
    fit.verdict = LangleyVerdict::cloud_passage;
  } else if (!(fit.air_mass_span >= options.min_coverage_span)) {
    fit.verdict = LangleyVerdict::poor_coverage;
  } else if (!(fit.residual_sd < options.max_residual_sd)) {
    fit.verdict = LangleyVerdict::residual_too_large;
  } else {
    fit.verdict = LangleyVerdict::accepted;
  }
  return fit;
}

std::string verdict_text(const LangleyFit& fit, const LangleyOptions& options) {
  char text[160];
  switch (fit.verdict) {
  case LangleyVerdict::accepted: return "accepted";
  case LangleyVerdict::too_few_in_range:
    (void)std::snprintf(text, sizeof text, "%zu point%s in air mass %g-%g, %zu needed", fit.in_range,
                        fit.in_range == 1 ? "" : "s", options.min_air_mass, options.max_air_mass, options.min_points);
    return text;
  case LangleyVerdict::narrow_span:
    (void)std::snprintf(text, sizeof text, "air masses of the %zu points used span %.3g, at least %g needed", fit.used,
                        fit.air_mass_span, langley_min_air_mass_span);
    return text;
  case LangleyVerdict::constant_signal:
    (void)std::snprintf(text, sizeof text, "all %zu signals equal: a stuck signal", fit.used);
    return text;
  case LangleyVerdict::too_few_survived: {
    // A fraction above 1 (or not finite) can never be met: more than the points in range.
    const double needed = std::ceil(static_cast<double>(fit.in_range) * options.min_surviving_fraction);
    const std::size_t fraction_needed = needed >= 0 && needed <= static_cast<double>(fit.in_range)
                                            ? static_cast<std::size_t>(needed)
                                            : fit.in_range + 1;
    (void)std::snprintf(text, sizeof text, "%zu of %zu points survived, %zu needed", fit.used, fit.in_range,
                        std::max(options.min_points, fraction_needed));
    return text;
  }
  case LangleyVerdict::slope_not_negative:
    (void)std::snprintf(text, sizeof text, "ln V does not fall with air mass (tau %.3g): not a clear, stable sky",
                        fit.tau);
    return text;
  case LangleyVerdict::cloud_passage:
    (void)std::snprintf(text, sizeof text,
                        "ln V rises with air mass in %zu of %zu steps beyond %g sd of noise, at most %g%%: a passing "
                        "cloud",
                        fit.rising_steps, fit.steps, options.rise_sd, 100.0 * options.max_rising_fraction);
    return text;
  case LangleyVerdict::poor_coverage:
    (void)std::snprintf(text, sizeof text, "points used span %.3g air masses, at least %g needed", fit.air_mass_span,
                        options.min_coverage_span);
    return text;
  case LangleyVerdict::residual_too_large:
    (void)std::snprintf(text, sizeof text, "residual sd %.3g, limit %g", fit.residual_sd, options.max_residual_sd);
    return text;
  }
  return "?";
}

ChannelCalibration combine_half_days(std::span<const LangleyFit> fits) {
  ChannelCalibration calibration;
  double sum = 0, tau_sum = 0;
  const LangleyFit* only = nullptr;
  for (const LangleyFit& fit : fits) {
    if (fit.verdict != LangleyVerdict::accepted) continue;
    ++calibration.half_days;
    sum += fit.ln_v0;
    tau_sum += fit.tau;
    only = &fit;
  }
  if (calibration.half_days == 0) return calibration;
  const auto n = static_cast<double>(calibration.half_days);
  calibration.ln_v0 = sum / n;
  calibration.tau = tau_sum / n;
  if (calibration.half_days == 1) {
    calibration.ln_v0_uncertainty = only->ln_v0_error;
    return calibration;
  }
  double ss = 0;
  for (const LangleyFit& fit : fits)
    if (fit.verdict == LangleyVerdict::accepted)
      ss += (fit.ln_v0 - calibration.ln_v0) * (fit.ln_v0 - calibration.ln_v0);
  calibration.ln_v0_uncertainty = std::sqrt(ss / (n - 1.0));
  return calibration;
}

std::optional<HalfDayDisagreement> half_day_disagreement(std::span<const LangleyFit> fits, double max_disagreement) {
  std::optional<HalfDayDisagreement> worst;
  double worst_ratio = max_disagreement;
  for (std::size_t a = 0; a < fits.size(); ++a) {
    if (fits[a].verdict != LangleyVerdict::accepted) continue;
    for (std::size_t b = a + 1; b < fits.size(); ++b) {
      if (fits[b].verdict != LangleyVerdict::accepted) continue;
      const double difference = fits[b].ln_v0 - fits[a].ln_v0;
      const double combined = std::hypot(fits[a].ln_v0_error, fits[b].ln_v0_error);
      // Beyond the limit only: a difference of exactly max_disagreement combined errors agrees.
      if (std::abs(difference) > worst_ratio * combined) {
        worst_ratio = std::abs(difference) / combined;
        worst = HalfDayDisagreement{a, b, difference, combined};
      }
    }
  }
  return worst;
}

} // namespace tirovan::analysis
