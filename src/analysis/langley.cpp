#include "analysis/langley.hpp"
#include "analysis/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace tirovan::analysis {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct LangleyLine {
  double intercept = nan, slope = nan, intercept_error = nan, residual_sd = nan;
};

// Weighted least squares of y on m over the points marked used, weights 1
// (objective) or 1/m^2 (Herman). intercept_error: sqrt(s^2 (1/W + mean_m^2
// / Smm)) with s^2 the weighted residual variance; residual_sd: the
// unweighted residuals in ln V.
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
  double weighted_ss = 0, ss = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (roles[i] != PointRole::used) continue;
    const double r = points[i].ln_signal - (line.intercept + line.slope * points[i].air_mass);
    weighted_ss += weight(points[i].air_mass) * r * r;
    ss += r * r;
  }
  const auto dof = static_cast<double>(sums.count() - 2);
  result.intercept_error = std::sqrt(weighted_ss / dof * (1.0 / line.weight + line.mean_x * line.mean_x / line.sxx));
  result.residual_sd = std::sqrt(ss / dof);
  return result;
}

} // namespace

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
    line = fit_line(points, fit.roles, options.method);
  }

  fit.used = static_cast<std::size_t>(std::count(fit.roles.begin(), fit.roles.end(), PointRole::used));
  fit.rejected = fit.in_range - fit.used;
  fit.ln_v0 = line.intercept;
  fit.ln_v0_error = line.intercept_error;
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

} // namespace tirovan::analysis
