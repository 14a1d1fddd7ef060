// Cloud screening of one day's series of direct-sun AOT, after Smirnov et
// al. (2000, Remote Sens. Environ. 73, 337), for three samplings: the
// instrument's triplets (three measurements 30 s apart), one measurement a
// minute, and one every 15 minutes or so (hand-held).
//
// Tests, in order; a point removed by one test takes no part in the later
// ones:
//  1. air mass above max_air_mass (or not positive, or not finite): not used;
//  2. data quality: a channel with AOT below min_aot (or not finite) loses
//     that channel only ("we eliminate only measurements in that particular
//     channel", Smirnov et al. 2000, sec. 3): the point is flagged
//     negative_aot and stays in the later tests unless its AOT(500) or
//     Angstrom exponent, which the caller takes from the channels kept, is
//     lost (NaN);
//  3. triplet variability: every window of three consecutive remaining
//     measurements that spans at most triplet_window_minutes is a triplet;
//     when in any channel its max - min exceeds
//     max(triplet_absolute, triplet_relative * mean AOT of the three), all
//     three are flagged. Triplets and one-a-minute series are tested; a
//     measurement in no such window (a hand-held series) is not;
//  4. diurnal stability: when the standard deviation of AOT(500) over the
//     remaining points is below stable_sd the smoothness test is skipped;
//  5. smoothness, Smirnov et al. (2000): the root mean square of the second
//     derivative of ln AOT(500) in time,
//         D = sqrt( sum_i (d_i - d_{i+1})^2 / (n - 2) ),
//         d_i = (ln AOT500_{i+1} - ln AOT500_i) / (t_{i+1} - t_i),
//     t in DAYS (d_i in 1/day) over the remaining points in time order; the
//     middle point of the largest term is removed, one at a time, until
//     D < max_smoothness (16). The paper's own text on the time unit was not
//     at hand (the public summaries confirm the second derivative and its
//     root mean square); days are the unit with which the limit 16 separates
//     broken cumulus from clear sky on 15-minute series (measured in
//     tests/analysis/screening_test.cpp), hours would never fire there.
//     This system's own addition (smoothness_dip_rule, on by default): a
//     cloud only adds optical depth, so when the largest term sits at a
//     dip between two higher points and the dip is not low for the day
//     (within a factor 0.8 of the median AOT(500) or above), the higher
//     neighbour goes instead; as published, broken cumulus takes the clear
//     readings between its cells;
//     Points within smoothness_bin_minutes of the first of their group
//     enter as one point (mean ln AOT(500) at the mean time), so triplets
//     and one-a-minute series are judged on the same time scale;
//  6. three standard deviations: AOT(500) or the Angstrom exponent outside
//     mean +- sigma_limit standard deviations of the remaining points;
//  7. fewer than min_day_points left: every point of the day is flagged.
// Points whose AOT(500) (or Angstrom exponent) is not known (NaN) are left
// out of the statistics of tests 4-6 and are not flagged by them; in test 5
// AOT(500) <= 0 is left out as well (its logarithm is undefined).
#pragma once

#include "analysis/flags.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tirovan::analysis {

// Thresholds. Confirmed from the paper's abstract and common descriptions:
// max_air_mass, min_aot, triplet_absolute, triplet_relative. From memory,
// not confirmed against the paper: stable_sd, max_smoothness, sigma_limit,
// min_day_points. The triplet window is this adaptation's own choice.
struct ScreeningOptions {
  double max_air_mass = 5.0;           // [1]
  double min_aot = -0.01;              // [1]
  double triplet_window_minutes = 2.0; // [min] span of three consecutive measurements
  double triplet_absolute = 0.02;      // [1] AOT spread limit ...
  double triplet_relative = 0.03;      // [1] ... or this fraction of the AOT, whichever is larger
  double stable_sd = 0.015;            // [1] sd of AOT(500) below which the day is stable
  double max_smoothness = 16.0;        // [1/day] limit of D
  double smoothness_bin_minutes = 5;   // [min] closer points enter the smoothness test as one
  bool smoothness_dip_rule = true;     // a dip between two higher points gives way to the higher one
  double sigma_limit = 3.0;            // [standard deviations]
  std::size_t min_day_points = 3;      // fewer left flags the day
};

// One measurement of the day.
struct ScreeningPoint {
  double time = 0;            // [h] UTC; any origin, increasing through the day (may pass 24)
  double air_mass = 0;        // [1]
  std::span<const float> aot; // [1] AOT per channel
  double aot500 = 0;          // [1] AOT at 500 nm (measured or interpolated); NaN when unknown
  double angstrom = 0;        // [1] Angstrom exponent; NaN when unknown
};

// Flags for each point, in input order. Points may come in any time order.
[[nodiscard]] std::vector<Flags> screen_day(std::span<const ScreeningPoint> day, const ScreeningOptions& options = {});

} // namespace tirovan::analysis
