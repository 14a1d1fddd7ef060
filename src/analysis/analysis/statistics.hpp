// Least squares and summary statistics shared by the fits: a straight line
// fitted from running sums (optionally weighted), the mean and sample
// standard deviation of the finite values of a series, and a parabola.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace tirovan::analysis {

struct Line {
  double slope = std::numeric_limits<double>::quiet_NaN();
  double intercept = std::numeric_limits<double>::quiet_NaN();
  double mean_x = 0, mean_y = 0, weight = 0, sxx = 0; // means; W and sum w (x - mean_x)^2 for the errors
};

// Weighted least squares of y on x from running means and co-moments
// (West 1979, Commun. ACM 22, 532): the sums stay well conditioned when the
// data lie far from x = 0. The line is NaN unless two distinct x entered.
class LineSums {
public:
  void add(double x, double y, double w = 1.0) {
    ++n_;
    weight_ += w;
    const double dx = x - mean_x_, dy = y - mean_y_;
    mean_x_ += w * dx / weight_;
    mean_y_ += w * dy / weight_;
    sxx_ += w * dx * (x - mean_x_);
    sxy_ += w * dx * (y - mean_y_);
  }
  [[nodiscard]] std::size_t count() const { return n_; }
  [[nodiscard]] Line line() const {
    Line l;
    l.mean_x = mean_x_, l.mean_y = mean_y_, l.weight = weight_, l.sxx = sxx_;
    if (n_ < 2 || !(sxx_ > 0)) return l;
    l.slope = sxy_ / sxx_;
    l.intercept = mean_y_ - l.slope * mean_x_;
    return l;
  }

private:
  std::size_t n_ = 0;
  double weight_ = 0, mean_x_ = 0, mean_y_ = 0, sxx_ = 0, sxy_ = 0;
};

struct MeanSd {
  std::size_t n = 0;
  double mean = 0, sd = 0; // sd: sample standard deviation (n - 1); 0 below two values
};

// Over the finite values that `value(i)` gives for the indices `points`.
template <class Indices, class Value>
[[nodiscard]] MeanSd mean_sd(const Indices& points, Value value) {
  MeanSd s;
  double sum = 0;
  for (const auto i : points) {
    const double v = value(i);
    if (!std::isfinite(v)) continue;
    sum += v;
    ++s.n;
  }
  if (s.n == 0) return s;
  s.mean = sum / static_cast<double>(s.n);
  if (s.n < 2) return s;
  double ss = 0;
  for (const auto i : points) {
    const double v = value(i);
    if (std::isfinite(v)) ss += (v - s.mean) * (v - s.mean);
  }
  s.sd = std::sqrt(ss / static_cast<double>(s.n - 1));
  return s;
}

// The median of `values` (the mean of the two middle ones for an even
// count); NaN when there are none.
[[nodiscard]] double median(std::vector<double> values);

// Robust standard deviation about `centre`: 1.4826 times the median
// absolute deviation, which is the standard deviation for normal errors
// and ignores a minority of outliers.
inline constexpr double mad_to_sd = 1.4826;
[[nodiscard]] double robust_sd(std::span<const double> values, double centre);

// Least-squares parabola y = c0 + c1 x + c2 x^2; none when x has fewer than
// three distinct values. Centre x near the data first for conditioning.
[[nodiscard]] std::optional<std::array<double, 3>> fit_parabola(std::span<const double> x, std::span<const double> y);

} // namespace tirovan::analysis
