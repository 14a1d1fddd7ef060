// Line, mean and parabola fits against hand-computed values.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/statistics.hpp"

namespace tirovan::analysis {
namespace {

TEST(Statistics, LineSumsWeightedAndUnweighted) {
  // (x, y) = (1, 0), (2, 0), (4, 3). Unweighted: W 3, mean x 7/3, Sxx 14/3,
  // Sxy 5, slope 15/14, intercept -3/2. Weights 1/x^2 = 1, 1/4, 1/16:
  // W 21/16, mean x 4/3, mean y 1/7, Sxx 2/3, Sxy 1/2, slope 3/4,
  // intercept -6/7.
  struct Row {
    bool weighted;
    double weight, mean_x, sxx, slope, intercept;
  };
  for (const Row& row :
       {Row{false, 3, 7.0 / 3, 14.0 / 3, 15.0 / 14, -1.5}, Row{true, 21.0 / 16, 4.0 / 3, 2.0 / 3, 0.75, -6.0 / 7}}) {
    LineSums sums;
    for (double x : {1.0, 2.0, 4.0}) sums.add(x, x == 4 ? 3 : 0, row.weighted ? 1 / (x * x) : 1);
    const Line l = sums.line();
    SCOPED_TRACE(row.weighted);
    EXPECT_EQ(sums.count(), 3U);
    EXPECT_NEAR(l.weight, row.weight, 1e-14);
    EXPECT_NEAR(l.mean_x, row.mean_x, 1e-14);
    EXPECT_NEAR(l.sxx, row.sxx, 1e-14);
    EXPECT_NEAR(l.slope, row.slope, 1e-14);
    EXPECT_NEAR(l.intercept, row.intercept, 1e-14);
  }
}

TEST(Statistics, MeanSdSkipsNotFinite) {
  // 1, 2, 4: mean 7/3, sum of squared deviations 14/3, sample sd sqrt(7/3).
  const std::vector<double> v = {1, std::nan(""), 2, INFINITY, 4};
  const std::vector<std::size_t> all = {0, 1, 2, 3, 4}, one = {1, 2};
  const auto at = [&](std::size_t i) { return v[i]; };
  MeanSd s = mean_sd(all, at);
  EXPECT_EQ(s.n, 3U);
  EXPECT_NEAR(s.mean, 7.0 / 3, 1e-14);
  EXPECT_NEAR(s.sd, std::sqrt(7.0 / 3), 1e-14);
  s = mean_sd(one, at);
  EXPECT_EQ(s.n, 1U);
  EXPECT_EQ(s.mean, 2.0);
  EXPECT_EQ(s.sd, 0.0);
}

TEST(Statistics, Parabola) {
  // y = 1 - 2 x + x^2 / 2 through four points: recovered exactly.
  const std::vector<double> x = {-1, 0, 1, 3}, y = {3.5, 1, -0.5, -0.5};
  const auto c = fit_parabola(x, y);
  ASSERT_TRUE(c.has_value());
  EXPECT_NEAR((*c)[0], 1.0, 1e-12);
  EXPECT_NEAR((*c)[1], -2.0, 1e-12);
  EXPECT_NEAR((*c)[2], 0.5, 1e-12);
  // Two distinct x: no parabola.
  EXPECT_FALSE(fit_parabola(std::vector<double>{1, 1, 2, 2}, std::vector<double>{0, 1, 2, 3}).has_value());
}

} // namespace
} // namespace tirovan::analysis
