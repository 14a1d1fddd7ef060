#include "analysis/statistics.hpp"

#include <algorithm>

namespace tirovan::analysis {

double median(std::vector<double> values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  const double upper = *middle;
  if (values.size() % 2 == 1) return upper;
  return 0.5 * (upper + *std::max_element(values.begin(), middle));
}

double robust_sd(std::span<const double> values, double centre) {
  std::vector<double> deviation;
  deviation.reserve(values.size());
  for (const double v : values) deviation.push_back(std::abs(v - centre));
  return mad_to_sd * median(std::move(deviation));
}

std::optional<std::array<double, 3>> fit_parabola(std::span<const double> x, std::span<const double> y) {
  // Normal equations solved by Cramer's rule (3 x 3).
  std::array<double, 5> s{};
  std::array<double, 3> t{};
  for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) {
    double p = 1;
    for (std::size_t k = 0; k < 5; ++k) {
      s[k] += p;
      if (k < 3) t[k] += p * y[i];
      p *= x[i];
    }
  }
  const auto det3 = [](const std::array<double, 9>& m) {
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) + m[2] * (m[3] * m[7] - m[4] * m[6]);
  };
  const std::array<double, 9> a = {s[0], s[1], s[2], s[1], s[2], s[3], s[2], s[3], s[4]};
  const double d = det3(a);
  if (!(std::fabs(d) > 1e-12)) return std::nullopt;
  std::array<double, 3> c{};
  for (std::size_t k = 0; k < 3; ++k) {
    std::array<double, 9> m = a;
    for (std::size_t r = 0; r < 3; ++r) m[r * 3 + k] = t[r];
    c[k] = det3(m) / d;
  }
  return c;
}

} // namespace tirovan::analysis
