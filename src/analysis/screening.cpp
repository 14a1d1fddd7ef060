#include "analysis/screening.hpp"
#include "analysis/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <utility>

namespace tirovan::analysis {
namespace {

constexpr double minutes_per_hour = 60.0;
constexpr double hours_per_day = 24.0;
// A dip of the smoothness test this far below the day's median ln AOT(500)
// counts as a low reading, not as clear sky between clouds: a factor 0.8,
// more than the clear sky's own drift in a typical day.
constexpr double dip_tolerance = 0.22;
// Two measurements stamped with the same time would make the rate of
// change of ln AOT infinite; their interval counts as one second.
constexpr double shortest_interval = 1.0 / 3600.0; // [h]
// Times built from hours and minutes in single precision are off by up to
// a few milliseconds; measurements one minute apart must still make a
// triplet "within 2 minutes". Windows are compared to the second.
constexpr double window_slack = 1.0 / 3600.0; // [h]

bool channel_kept(float aot, const ScreeningOptions& options) {
  return static_cast<double>(aot) >= options.min_aot && std::isfinite(aot);
}

// Triplet variability over windows of three consecutive points (time order);
// channels rejected by the data-quality test take no part.
void triplet_test(std::span<const ScreeningPoint> day, const std::vector<std::size_t>& live,
                  const ScreeningOptions& options, std::vector<Flags>& flags) {
  const double window = options.triplet_window_minutes / minutes_per_hour + window_slack; // [h]
  std::vector<bool> cloudy(day.size(), false);
  for (std::size_t k = 0; k + 2 < live.size(); ++k) {
    const ScreeningPoint& a = day[live[k]];
    const ScreeningPoint& b = day[live[k + 1]];
    const ScreeningPoint& c = day[live[k + 2]];
    if (!(c.time - a.time <= window)) continue;
    const std::size_t channels = std::min({a.aot.size(), b.aot.size(), c.aot.size()});
    for (std::size_t ch = 0; ch < channels; ++ch) {
      if (!channel_kept(a.aot[ch], options) || !channel_kept(b.aot[ch], options) || !channel_kept(c.aot[ch], options))
        continue;
      const double v[3] = {static_cast<double>(a.aot[ch]), static_cast<double>(b.aot[ch]),
                           static_cast<double>(c.aot[ch])};
      const double spread = std::max({v[0], v[1], v[2]}) - std::min({v[0], v[1], v[2]});
      const double mean = (v[0] + v[1] + v[2]) / 3.0;
      if (spread > std::max(options.triplet_absolute, options.triplet_relative * mean)) {
        cloudy[live[k]] = cloudy[live[k + 1]] = cloudy[live[k + 2]] = true;
        break;
      }
    }
  }
  for (std::size_t i = 0; i < day.size(); ++i)
    if (cloudy[i]) flags[i].set(Flag::triplet);
}

// Smoothness of ln AOT(500) in time [1/day]. Points closer in time than
// smoothness_bin_minutes to the first point of their group form one group
// (a triplet, a few minutes of a one-a-minute series) and enter as the mean
// of their ln AOT(500) at their mean time: differences over seconds would
// turn measurement noise into slopes of hundreds per day. The middle group
// of the largest squared change of slope goes first, until D < limit. The
// groups form a linked list; each middle group carries its term, kept in
// an ordered set, so a removal costs O(log n) rather than a recomputation.
void smoothness_test(std::span<const ScreeningPoint> day, const std::vector<std::size_t>& live,
                     const ScreeningOptions& options, std::vector<Flags>& flags) {
  struct Group {
    double time = 0, ln_aot = 0; // [day], mean ln AOT(500)
    std::vector<std::size_t> members;
  };
  std::vector<Group> groups;
  const double bin = options.smoothness_bin_minutes / minutes_per_hour + window_slack; // [h]
  double start = 0;
  for (std::size_t i : live) {
    const ScreeningPoint& p = day[i];
    if (!(p.aot500 > 0) || !std::isfinite(p.aot500)) continue;
    if (groups.empty() || !(p.time - start < bin)) groups.emplace_back(), start = p.time;
    Group& g = groups.back();
    g.time += p.time / hours_per_day;
    g.ln_aot += std::log(p.aot500);
    g.members.push_back(i);
  }
  for (Group& g : groups) {
    const auto count = static_cast<double>(g.members.size());
    g.time /= count, g.ln_aot /= count;
  }
  const std::size_t n = groups.size();
  if (n < 3) return;
  std::vector<double> levels;
  levels.reserve(n);
  for (const Group& g : groups) levels.push_back(g.ln_aot);
  std::nth_element(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(n / 2), levels.end());
  const double median_ln = levels[n / 2];
  constexpr std::size_t none = static_cast<std::size_t>(-1);
  std::vector<std::size_t> prev(n), next(n);
  for (std::size_t j = 0; j < n; ++j) {
    prev[j] = j == 0 ? none : j - 1;
    next[j] = j + 1 == n ? none : j + 1;
  }
  auto slope = [&](std::size_t from, std::size_t to) { // [1/day]
    return (groups[to].ln_aot - groups[from].ln_aot) /
           std::max(groups[to].time - groups[from].time, shortest_interval / hours_per_day);
  };
  std::vector<double> term(n, 0.0);
  std::set<std::pair<double, std::size_t>> terms;
  double sum = 0;
  auto attach = [&](std::size_t j) {
    if (prev[j] == none || next[j] == none) return;
    const double change = slope(prev[j], j) - slope(j, next[j]);
    term[j] = change * change;
    terms.emplace(term[j], j);
    sum += term[j];
  };
  auto detach = [&](std::size_t j) {
    if (prev[j] == none || next[j] == none) return;
    terms.erase({term[j], j});
    sum -= term[j];
  };
  for (std::size_t j = 0; j < n; ++j) attach(j);

  const double limit2 = options.max_smoothness * options.max_smoothness;
  while (!terms.empty()) {
    const auto count = static_cast<double>(terms.size()); // n - 2 groups left
    if (sum / count < limit2) {
      // The running sum may have drifted by rounding: decide on a fresh one.
      sum = 0;
      for (const auto& t : terms) sum += t.first;
      if (sum / count < limit2) break;
    }
    std::size_t j = std::prev(terms.end())->second;
    // A cloud only adds optical depth: when the largest change of slope
    // sits at a dip between two higher points, and the dip is not low for
    // the day (within dip_tolerance of the median ln AOT(500) or above),
    // the higher neighbour is the cloud, not the dip. A reading well below
    // the day's level still goes itself.
    if (options.smoothness_dip_rule) {
      const std::size_t a = prev[j], b = next[j];
      if (groups[j].ln_aot < groups[a].ln_aot && groups[j].ln_aot < groups[b].ln_aot &&
          groups[j].ln_aot >= median_ln - dip_tolerance)
        j = groups[a].ln_aot > groups[b].ln_aot ? a : b;
    }
    const std::size_t p = prev[j], q = next[j];
    if (p != none) detach(p);
    detach(j);
    if (q != none) detach(q);
    if (p != none) next[p] = q;
    if (q != none) prev[q] = p;
    if (p != none) attach(p);
    if (q != none) attach(q);
    for (std::size_t i : groups[j].members) flags[i].set(Flag::smoothness);
  }
}

} // namespace

std::vector<Flags> screen_day(std::span<const ScreeningPoint> day, const ScreeningOptions& options) {
  std::vector<Flags> flags(day.size());
  std::vector<bool> removed(day.size(), false);
  std::vector<std::size_t> order(day.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Time order; a time that is not a number sorts last instead of breaking the ordering.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const double ta = day[a].time, tb = day[b].time;
    if (std::isnan(ta) || std::isnan(tb)) return !std::isnan(ta) && std::isnan(tb);
    return ta < tb;
  });
  auto remaining = [&] {
    std::vector<std::size_t> live;
    for (std::size_t i : order)
      if (!removed[i]) live.push_back(i);
    return live;
  };
  auto remove_flagged = [&] {
    for (std::size_t i = 0; i < day.size(); ++i)
      if ((flags[i].bits() & ~flag_bit(Flag::negative_aot)) != 0) removed[i] = true;
  };

  for (std::size_t i = 0; i < day.size(); ++i) {
    const ScreeningPoint& p = day[i];
    if (!(p.air_mass > 0.0 && p.air_mass <= options.max_air_mass)) { // not positive: the Sun below the horizon
      flags[i].set(Flag::air_mass);
      removed[i] = true;
      continue;
    }
    if (!std::all_of(p.aot.begin(), p.aot.end(), [&](float aot) { return channel_kept(aot, options); })) {
      // Only the channel is lost; the measurement goes on while AOT(500)
      // and the Angstrom exponent, taken from the channels kept, remain.
      flags[i].set(Flag::negative_aot);
      if (!std::isfinite(p.aot500) || !std::isfinite(p.angstrom)) removed[i] = true;
    }
  }

  triplet_test(day, remaining(), options, flags);
  remove_flagged();

  const auto aot500 = [&](std::size_t i) { return day[i].aot500; };
  const auto angstrom = [&](std::size_t i) { return day[i].angstrom; };
  std::vector<std::size_t> live = remaining();
  if (!(mean_sd(live, aot500).sd < options.stable_sd)) smoothness_test(day, live, options, flags);
  remove_flagged();

  live = remaining();
  const MeanSd s500 = mean_sd(live, aot500), sa = mean_sd(live, angstrom);
  for (std::size_t i : live) {
    const double v = day[i].aot500, a = day[i].angstrom;
    if ((std::isfinite(v) && std::abs(v - s500.mean) > options.sigma_limit * s500.sd) ||
        (std::isfinite(a) && std::abs(a - sa.mean) > options.sigma_limit * sa.sd))
      flags[i].set(Flag::three_sigma), removed[i] = true;
  }

  if (remaining().size() < options.min_day_points)
    for (Flags& f : flags) f.set(Flag::day_too_few);
  return flags;
}

} // namespace tirovan::analysis
