#include "tools/langley.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "driver/retrieval.hpp"
#include "reference/atmosphere.hpp"
#include "reference/sun.hpp"
#include "runtime/failure.hpp"
#include "driver/input_files.hpp"
#include "analysis/calendar.hpp"
#include "tools/calibration.hpp"
#include "tools/calibration_file.hpp"
#include "atmos/atmos.hpp"
#include "tools/figure.hpp"
#include "tools/inputs.hpp"

#include "text.hpp"
#include "tools/options.hpp"
#include "tools/output.hpp"

namespace tirovan::tools {
namespace {

constexpr double hours_per_degree = 1.0 / 15.0;
// Times beyond this many hours from the record's 0 h (a whole year) are
// taken as typing errors: the local date would mean nothing.
constexpr double max_local_hours = 24.0 * 366.0;

std::string format(const char* pattern, auto... values) {
  char text[512];
  (void)std::snprintf(text, sizeof text, pattern, values...); // cut to the buffer: texts here are short
  return text;
}

using text::shortest;

std::string nm(float wavelength) { return format("%g nm", static_cast<double>(wavelength)); }

// What an existing lang.dat offers: its instrument line, wavelength list
// and calibration signals.
struct PreviousCalibration {
  std::string instrument;
  std::vector<float> wavelength, signal;
};

std::optional<PreviousCalibration> read_previous(const InputFile& file, std::ostream& err) {
  std::unique_ptr<driver::InputText> reader;
  try {
    reader = open_input(file, runtime::unit_calibration, {true, false});
  } catch (const Error&) {
    return std::nullopt; // no lang.dat: nothing to reuse
  }
  try {
    driver::Calibration c = driver::read_calibration(*reader);
    PreviousCalibration previous;
    previous.instrument = c.header.empty() ? std::string() : c.header.front();
    while (!previous.instrument.empty() && previous.instrument.back() == ' ') previous.instrument.pop_back();
    const auto n = static_cast<std::ptrdiff_t>(c.aux_at.size());
    previous.wavelength.assign(c.aux.begin(), c.aux.begin() + n);
    previous.signal.assign(c.signal.begin(), c.signal.begin() + n);
    return previous;
  } catch (const textio::ReadFailure& failure) {
    err << read_failure_text(file, failure, reader->part()) << "; file not used\n";
  } catch (const runtime::Failure& failure) {
    err << failure_text(file, *reader, failure) << "; file not used\n";
  }
  return std::nullopt;
}

// The measurements of one half-day, within the fit's air-mass range.
struct HalfDay {
  CivilDate local_date{};
  bool afternoon = false;
  std::vector<std::vector<LangleyPoint>> points; // per channel
  std::vector<LangleyFit> fits;                  // per channel
  std::vector<float> pressure;                   // [hPa] per point
  std::int32_t month = 0;                        // of the first point, for the ozone column
  float lat = 0;
};

std::string half_day_name(const HalfDay& h) { return format_date(h.local_date) + (h.afternoon ? " pm" : " am"); }

struct Campaign {
  std::vector<float> wavelength;                              // [nm] from dane.dat
  std::vector<LangleyOptions> options;                        // per channel (UV defaults below 400 nm)
  std::map<std::pair<std::int64_t, bool>, HalfDay> half_days; // by (local date as days since 1970, afternoon)
  float lon = 0, lat = 0;                                     // [deg] of the first record used
  bool several_sites = false;
  std::size_t records = 0, night = 0, bad_date = 0, bad_records = 0, bad_position = 0;
};

// Where the Sun is for one record.
struct SunGeometry {
  enum class State { ok, night, bad_time, bad_position } state = State::ok;
  double hours = 0;    // [h] UT of the record's date, hour + minute / 60
  double air_mass = 0; // [1]
  double factor = 0;   // (mean Sun-Earth distance / distance)^2
  bool afternoon = false;
};

// The precise Sun (reference::sun_position, ERFA) at the record's instant
// on the real calendar, leap days included, refracted for the record's
// pressure at 15 deg C: Kasten & Young (1989, Appl. Opt. 28, 4735) air mass
// of the APPARENT zenith, as reference::kasten_young_air_mass documents;
// the distance factor (1 au / distance)^2, 1 au being the mean distance the
// core's factor refers to, so that V0 keeps lang.dat's meaning; afternoon
// when the Sun's azimuth (from north through east) is 180 deg or more. An
// hour outside 0-24 moves the date, as the core's time does.
SunGeometry precise_sun(const driver::Measurement& m) {
  SunGeometry g;
  g.hours = static_cast<double>(m.hour) + static_cast<double>(m.minute) / 60.0;
  if (!(std::abs(g.hours) < max_local_hours)) {
    g.state = SunGeometry::State::bad_time;
    return g;
  }
  auto shift = static_cast<std::int64_t>(std::floor(g.hours / 24.0));
  double hour = g.hours - 24.0 * static_cast<double>(shift);
  if (!(hour < 24.0)) ++shift, hour = 0.0; // -1e-17 h: 24 h of the day before is 0 h of this one
  const CivilDate date = civil_from_days(days_from_civil(m.year, m.month, m.day) + shift);
  try {
    const reference::SunPosition sun = reference::sun_position(
        {static_cast<int>(date.year), static_cast<int>(date.month), static_cast<int>(date.day), hour},
        static_cast<double>(m.lon), static_cast<double>(m.lat), 0.0, static_cast<double>(m.pressure));
    if (!(sun.zenith_apparent_deg < 90.0)) {
      g.state = SunGeometry::State::night;
      return g;
    }
    g.air_mass = reference::kasten_young_air_mass(sun.zenith_apparent_deg);
    g.factor = sun.factor;
    g.afternoon = !(sun.azimuth_deg < 180.0);
  } catch (const std::invalid_argument&) { // a latitude beyond 90 deg, a negative pressure, ...
    g.state = SunGeometry::State::bad_position;
  }
  return g;
}

// The core's geometry (driver::locate_sun: POSSOL, its air mass and VARSOL's
// factor), as tirovan retrieves with it.
SunGeometry core_sun(driver::Measurement& m) {
  SunGeometry g;
  const driver::SunResult sun = driver::locate_sun(m);
  g.hours = static_cast<double>(m.time);
  if (sun.stop || !(m.zenith < 90.0f)) { // no air mass, or the Sun below the horizon
    g.state = SunGeometry::State::night;
    return g;
  }
  g.air_mass = static_cast<double>(m.air_mass);
  g.factor = static_cast<double>(m.factor);
  g.afternoon = !(m.azimuth < 180.0f);
  return g;
}

Campaign read_campaign(const InputFile& file, const LangleyCommand& command, std::ostream& err) {
  auto reader = open_measurements(file);
  Campaign campaign;
  try {
    reader->read_header();
  } catch (const textio::ReadFailure& failure) {
    throw Error(read_failure_text(file, failure, reader->part()));
  } catch (const runtime::Failure& failure) {
    throw Error(failure_text(file, *reader, failure));
  }
  if (reader->channel_count() < 1)
    throw Error(location(file, reader->channel_count_at()) + ": no channel to calibrate");
  campaign.wavelength.assign(reader->wavelengths().begin(), reader->wavelengths().end());
  const std::size_t n = reader->channels();
  // Records are kept over the union of the channels' air-mass ranges; each fit takes its own.
  double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
  for (float wavelength : campaign.wavelength) {
    const LangleyOptions& o = campaign.options.emplace_back(channel_options(command, static_cast<double>(wavelength)));
    if (!(o.max_air_mass - o.min_air_mass >= std::max(langley_min_air_mass_span, o.min_coverage_span)))
      throw Error(format("%s: air mass %g to %g and a coverage of %g air masses: no half-day can pass",
                         nm(wavelength).c_str(), o.min_air_mass, o.max_air_mass, o.min_coverage_span));
    lowest = std::min(lowest, o.min_air_mass);
    highest = std::max(highest, o.max_air_mass);
  }
  const std::int32_t count = reader->measurement_count();
  driver::Measurement& m = reader->measurement(); // kept from record to record, as in the retrieval
  bool first = true;
  for (std::int32_t record = 0; record < count; ++record) {
    try {
      reader->read_record();
    } catch (const textio::ReadFailure& failure) {
      if (failure.number() == runtime::IoFailure::end_of_file) {
        err << location(file, failure.where()) << ": warning: " << count << " records declared, " << record
            << " found\n";
        break;
      }
      err << location(file, failure.where()) << ": warning: " << describe_token(failure, reader->fields_read() < 3)
          << "; record skipped\n";
      ++campaign.bad_records;
      continue;
    } catch (const runtime::Failure& failure) {
      throw Error(failure_text(file, *reader, failure));
    }
    const std::span<const float> signal = reader->signals();
    ++campaign.records;
    if (!is_valid_date(m.year, m.month, m.day) || m.year < 1 || m.year > 9999) {
      ++campaign.bad_date;
      continue;
    }
    const SunGeometry sun = command.geometry == LangleyGeometry::core ? core_sun(m) : precise_sun(m);
    if (sun.state == SunGeometry::State::bad_time) {
      ++campaign.bad_date;
      continue;
    }
    if (sun.state == SunGeometry::State::bad_position) {
      ++campaign.bad_position;
      continue;
    }
    if (sun.state == SunGeometry::State::night) {
      ++campaign.night;
      continue;
    }
    if (first) {
      campaign.lon = m.lon;
      campaign.lat = m.lat;
      first = false;
    } else if (std::abs(m.lon - campaign.lon) > 0.01f || std::abs(m.lat - campaign.lat) > 0.01f) {
      campaign.several_sites = true;
    }
    const double air_mass = sun.air_mass;
    if (!(air_mass >= lowest && air_mass <= highest)) continue;

    // Local solar date: UT shifted by the longitude, so that a morning
    // that straddles 0 h UT stays one half-day. Morning: the Sun east of
    // the meridian (azimuth from north through east below 180 deg).
    const double local_hours = sun.hours + static_cast<double>(m.lon) * hours_per_degree;
    if (!(std::abs(local_hours) < max_local_hours)) {
      ++campaign.bad_date;
      continue;
    }
    const std::int64_t local =
        days_from_civil(m.year, m.month, m.day) + static_cast<std::int64_t>(std::floor(local_hours / 24.0));
    const bool afternoon = sun.afternoon;
    HalfDay& half = campaign.half_days[{local, afternoon}];
    if (half.points.empty()) {
      half.local_date = civil_from_days(local);
      half.afternoon = afternoon;
      half.points.resize(n);
      half.month = m.month;
      half.lat = m.lat;
    }
    half.pressure.push_back(m.pressure);
    const double ln_factor = std::log(sun.factor);
    for (std::size_t i = 0; i < n; ++i) {
      const float corrected = signal[i]; // dark-corrected as the retrieval uses it
      const double y = corrected > 0.0f ? std::log(static_cast<double>(corrected)) - ln_factor
                                        : std::numeric_limits<double>::quiet_NaN();
      half.points[i].push_back({air_mass, y});
    }
  }
  if (campaign.bad_date > 0)
    err << file.shown << ": warning: " << campaign.bad_date << " records with an impossible date skipped\n";
  if (campaign.bad_position > 0)
    err << file.shown << ": warning: " << campaign.bad_position
        << " records with an impossible position or pressure skipped\n";
  if (campaign.night > 0)
    err << file.shown << ": warning: " << campaign.night << " records with the Sun below the horizon skipped\n";
  return campaign;
}

// Two panels: the Langley plot with its line, extrapolated to m = 0, and
// the residuals from the line, used and rejected points apart.
void plot_half_day(const HalfDay& half, std::size_t channel, float wavelength, const LangleyOptions& options,
                   const std::string& dir) {
  const LangleyFit& fit = half.fits[channel];
  const std::vector<LangleyPoint>& points = half.points[channel];
  const bool has_line = std::isfinite(fit.ln_v0);
  Series used{"", {}, {}, Series::Style::points, 0}, rejected{"", {}, {}, Series::Style::hollow_points, 1};
  Series used_residual = used, rejected_residual = rejected;
  for (std::size_t k = 0; k < points.size(); ++k) {
    const bool is_used = fit.roles[k] == PointRole::used;
    const double m = points[k].air_mass, y = points[k].ln_signal;
    (is_used ? used : rejected).x.push_back(m);
    (is_used ? used : rejected).y.push_back(y);
    if (!has_line) continue;
    (is_used ? used_residual : rejected_residual).x.push_back(m);
    (is_used ? used_residual : rejected_residual).y.push_back(y - (fit.ln_v0 - fit.tau * m));
  }
  used.label = format("used (%zu)", used.x.size());
  rejected.label = format("rejected (%zu)", rejected.x.size());

  Figure langley;
  langley.title = format("Langley plot %s, %s: %s", nm(wavelength).c_str(), half_day_name(half).c_str(),
                         verdict_text(fit, options).c_str());
  langley.x_label = "Relative optical air mass m [1]";
  langley.y_label = "ln(V - dark) - ln F [ln signal]";
  langley.x_range = AxisRange{0.0, options.max_air_mass};
  langley.series.push_back(std::move(used));
  if (!rejected.x.empty()) langley.series.push_back(std::move(rejected));
  if (has_line)
    langley.series.push_back({format("ln V0 = %.4f, tau = %.4f, sd = %.4f", fit.ln_v0, fit.tau, fit.residual_sd),
                              {0.0, options.max_air_mass},
                              {fit.ln_v0, fit.ln_v0 - fit.tau * options.max_air_mass},
                              Series::Style::line,
                              2});
  Figure residuals;
  residuals.x_label = langley.x_label;
  residuals.y_label = "Residual from the line [ln signal]";
  residuals.x_range = langley.x_range;
  residuals.height = 300;
  residuals.series.push_back(std::move(used_residual));
  residuals.series.push_back(std::move(rejected_residual));

  std::string name = half_day_name(half);
  std::replace(name.begin(), name.end(), ' ', '-');
  name = dir + "/langley-" + name + format("-%gnm", static_cast<double>(wavelength));
  if (has_line) {
    const Figure panels[] = {std::move(langley), std::move(residuals)};
    draw_stacked(panels, name + ".svg", name + ".png");
  } else {
    draw(langley, name + ".svg", name + ".png");
  }
}

// The modified Langley fit of the water channel `w` for a half-day: the
// aerosol optical depth at its wavelength extrapolated from the half-day's
// fitted optical depths of the Angstrom window channels (less the core's
// Rayleigh and ozone optical depths at the mean pressure), the Rayleigh
// optical depth per point at the point's pressure.
LangleyFit water_fit(const HalfDay& half, const std::vector<float>& wavelength, std::size_t w,
                     const LangleyOptions& options, const WaterVapourModel& model) {
  double pressure = 0;
  for (const float p : half.pressure) pressure += static_cast<double>(p);
  pressure /= static_cast<double>(std::max<std::size_t>(half.pressure.size(), 1));
  float column = 0;
  ESTIMDOBSON(half.month, half.lat, column);
  std::vector<float> aot(wavelength.size(), std::numeric_limits<float>::quiet_NaN());
  for (std::size_t i = 0; i < wavelength.size(); ++i) {
    const LangleyFit& fit = half.fits[i];
    if (i == w || fit.verdict != LangleyVerdict::accepted) continue;
    float tau_r = 0, coefficient = 0;
    RAYLEIGH(wavelength[i], static_cast<float>(pressure), tau_r);
    (void)OZON(wavelength[i], coefficient);
    const double tau_o3 = static_cast<double>(column) / 1000.0 * static_cast<double>(coefficient);
    aot[i] = static_cast<float>(fit.tau - static_cast<double>(tau_r) - tau_o3);
  }
  const double tau_a = extrapolate_aot(wavelength, aot, static_cast<double>(wavelength[w]));
  std::vector<WaterLangleyPoint> points;
  for (std::size_t k = 0; k < half.points[w].size(); ++k) {
    float tau_r = 0;
    RAYLEIGH(wavelength[w], half.pressure[k], tau_r);
    points.push_back({half.points[w][k].air_mass, half.points[w][k].ln_signal, static_cast<double>(tau_r) + tau_a});
  }
  return fit_water_langley(points, model, options);
}

std::string joined_per_channel(const std::vector<float>& wavelength, auto value) {
  std::string text;
  for (std::size_t i = 0; i < wavelength.size(); ++i) {
    if (i > 0) text += ", ";
    text += nm(wavelength[i]) + " " + value(i);
  }
  return text;
}

// Every fit of every half-day refused because the data cannot pin a line
// (one air mass, a stuck signal): a degenerate input, not a bad day.
const LangleyFit* degenerate(const Campaign& campaign) {
  const LangleyFit* first = nullptr;
  for (const auto& [key, half] : campaign.half_days) {
    for (const LangleyFit& fit : half.fits) {
      if (fit.verdict != LangleyVerdict::narrow_span && fit.verdict != LangleyVerdict::constant_signal) return nullptr;
      if (first == nullptr) first = &fit;
    }
  }
  return first;
}

// One history row per accepted fit of every half-day and channel.
std::vector<HistoryRow> history_rows(const Campaign& campaign, const std::vector<float>& wavelength,
                                     const std::string& instrument, const LangleyOptions& options) {
  std::vector<HistoryRow> rows;
  for (const auto& [key, half] : campaign.half_days)
    for (std::size_t i = 0; i < half.fits.size(); ++i) {
      const LangleyFit& fit = half.fits[i];
      if (fit.verdict != LangleyVerdict::accepted) continue;
      rows.push_back({instrument, half.local_date, half.afternoon, wavelength[i], fit.ln_v0, fit.ln_v0_error, fit.used,
                      fit.air_mass_span, std::string(method_name(options.method))});
    }
  return rows;
}

// The air-mass ranges and limits in force: the first channel's, and the
// UV channels' when they differ ("air mass 2 to 6, sd below 0.006, span 3;
// below 400 nm: air mass 1.5 to 3, sd below 0.009, span 1").
std::string ranges_text(const Campaign& campaign) {
  auto one = [](const LangleyOptions& o) {
    return format("air mass %g to %g, sd below %g, span %g", o.min_air_mass, o.max_air_mass, o.max_residual_sd,
                  o.min_coverage_span);
  };
  std::string text, uv;
  for (std::size_t i = 0; i < campaign.options.size(); ++i) {
    const std::string t = one(campaign.options[i]);
    const bool is_uv = static_cast<double>(campaign.wavelength[i]) < langley_uv_below_nm;
    if (!is_uv && text.empty()) text = t;
    if (is_uv && uv.empty()) uv = t;
  }
  if (text.empty()) return uv;
  if (uv.empty() || uv == text) return text;
  return text + format("; below %g nm: ", langley_uv_below_nm) + uv;
}

} // namespace

LangleyOptions channel_options(const LangleyCommand& command, double wavelength_nm) {
  if (!(wavelength_nm < langley_uv_below_nm)) return command.fit;
  const LangleyOptions uv = uv_langley_options(command.fit);
  LangleyOptions o = command.fit;
  if (!command.air_mass_min_set) o.min_air_mass = uv.min_air_mass;
  if (!command.air_mass_max_set) o.max_air_mass = uv.max_air_mass;
  if (!command.max_sd_set) o.max_residual_sd = uv.max_residual_sd;
  if (!command.min_span_set) o.min_coverage_span = uv.min_coverage_span;
  return o;
}

int run_langley(const LangleyCommand& command, std::ostream& out, std::ostream& err) {
  const InputFile lang = input_file(command.dir, calibration_name);
  const InputFile dane = input_file(command.dir, measurement_name);
  set_run_inputs({lang.path, dane.path});
  const std::string path = command.output.empty() ? input_file(command.dir, "lang.new.dat").path : command.output;
  if (!command.no_write) refuse_input(path); // before the work, not after it
  if (!command.history.empty()) refuse_input(command.history);
  try {
    const std::optional<PreviousCalibration> previous = read_previous(lang, err);
    Campaign campaign = read_campaign(dane, command, err);
    const std::vector<LangleyOptions>& options = campaign.options;
    const std::size_t n = campaign.wavelength.size();

    // Wavelengths to write: lang.dat's list when it has one per channel
    // within 5 nm of dane.dat's (it may give exact filter wavelengths), else dane.dat's.
    std::vector<float> wavelength = campaign.wavelength;
    if (previous && previous->wavelength.size() == n) {
      std::size_t differs = n;
      for (std::size_t i = 0; i < n && differs == n; ++i)
        if (!(std::abs(previous->wavelength[i] - campaign.wavelength[i]) <= 5.0f)) differs = i;
      if (differs == n) {
        wavelength = previous->wavelength;
      } else {
        err << lang.shown << ": warning: its wavelength list differs from dane.dat's (channel " << differs + 1 << ": "
            << nm(previous->wavelength[differs]) << ", " << nm(campaign.wavelength[differs])
            << "); dane.dat's list is used\n";
      }
    }

    // Fits, per half-day and channel.
    std::vector<std::vector<LangleyFit>> per_channel(n);
    // The water channel's index; n: none.
    const std::size_t water = command.no_water ? n : water_channel(campaign.wavelength, command.water).value_or(n);
    for (auto& [key, half] : campaign.half_days) {
      for (std::size_t i = 0; i < n; ++i) {
        half.fits.push_back(fit_langley(half.points[i], options[i]));
      }
      if (water < n) half.fits[water] = water_fit(half, campaign.wavelength, water, options[water], command.water);
      for (std::size_t i = 0; i < n; ++i) per_channel[i].push_back(half.fits[i]);
    }
    if (const LangleyFit* fit = degenerate(campaign)) {
      throw Error(dane.shown + ": no Langley fit possible in any half-day: " + verdict_text(*fit, options.front()));
    }
    if (!command.plot_dir.empty()) {
      std::filesystem::create_directories(command.plot_dir);
      for (const auto& [key, half] : campaign.half_days)
        for (std::size_t i = 0; i < n; ++i)
          plot_half_day(half, i, campaign.wavelength[i], options[i], command.plot_dir);
    }

    out << "Langley calibration: " << method_name(command.fit.method) << " fit, "
        << (command.geometry == LangleyGeometry::core ? "core" : "precise") << " Sun, " << ranges_text(campaign) << ", "
        << campaign.records << " records, " << campaign.half_days.size() << " half-days\n";
    if (water < n)
      out << nm(campaign.wavelength[water]) << " is the water vapour channel: modified Langley fit of ln V - ln F + m "
          << "(tau_R + tau_A) on m^b (b = " << command.water.b << "); its tau is a w^b, not an optical depth\n";
    out << "\n";
    out << format("%-13s %9s %8s %5s %5s %9s %8s %7s  %s\n", "half-day", "channel", "in range", "used", "rej", "ln V0",
                  "tau", "sd", "verdict");
    for (const auto& [key, half] : campaign.half_days) {
      for (std::size_t i = 0; i < n; ++i) {
        const LangleyFit& fit = half.fits[i];
        const std::string line = std::isfinite(fit.ln_v0)
                                     ? format("%9.5f %8.5f %7.5f", fit.ln_v0, fit.tau, fit.residual_sd)
                                     : format("%9s %8s %7s", "-", "-", "-");
        out << format("%-13s %9s %8zu %5zu %5zu %s  %s\n", half_day_name(half).c_str(),
                      nm(campaign.wavelength[i]).c_str(), fit.in_range, fit.used, fit.rejected, line.c_str(),
                      verdict_text(fit, options[i]).c_str());
      }
    }

    // The calibration per channel.
    std::vector<ChannelCalibration> calibration(n);
    std::vector<float> v0(n, 0.0f);
    std::vector<bool> kept(n, false);
    std::size_t missing = 0;
    out << format("\n%9s %9s %8s %10s %8s %9s %6s %5s  %s\n", "channel", "ln V0", "+-", "V0", "tau", "half-days",
                  "used", "rej", "status");
    for (std::size_t i = 0; i < n; ++i) {
      calibration[i] = combine_half_days(per_channel[i]);
      std::size_t used = 0, rejected = 0, accepted = 0;
      for (const LangleyFit& fit : per_channel[i]) {
        if (fit.verdict != LangleyVerdict::accepted) continue;
        used += fit.used;
        rejected += fit.rejected;
        ++accepted;
      }
      std::string status = "calibrated";
      v0[i] = static_cast<float>(std::exp(calibration[i].ln_v0));
      if (calibration[i].half_days > 0 && std::isfinite(v0[i]) && v0[i] > 0.0f) {
        out << format("%9s %9.5f %8.5f %10s %8.5f %5zu/%-3zu %6zu %5zu  %s\n", nm(campaign.wavelength[i]).c_str(),
                      calibration[i].ln_v0, calibration[i].ln_v0_uncertainty, shortest(v0[i]).c_str(),
                      calibration[i].tau, accepted, per_channel[i].size(), used, rejected, status.c_str());
        continue;
      }
      ++missing;
      // The reason of the half-day that came closest: the most points in range.
      const LangleyFit* best = nullptr;
      const HalfDay* best_half = nullptr;
      for (const auto& [key, half] : campaign.half_days)
        if (best == nullptr || half.fits[i].in_range > best->in_range) {
          best = &half.fits[i];
          best_half = &half;
        }
      status = best == nullptr ? "no half-day in the data"
                               : "no fit: " + verdict_text(*best, options[i]) + " (" + half_day_name(*best_half) + ")";
      if (calibration[i].half_days > 0) status = "V0 beyond the single-precision range";
      v0[i] = 0.0f;
      if (command.allow_partial && previous && i < previous->signal.size()) {
        v0[i] = previous->signal[i];
        kept[i] = true;
        status += "; kept from lang.dat";
      }
      out << format("%9s %9s %8s %10s %8s %5zu/%-3zu %6s %5s  %s\n", nm(campaign.wavelength[i]).c_str(), "-", "-",
                    kept[i] ? shortest(v0[i]).c_str() : "-", "-", std::size_t{0}, per_channel[i].size(), "-", "-",
                    status.c_str());
    }

    // Consistency: accepted half-days of a channel that disagree beyond
    // max_disagreement combined standard errors (a drifting aerosol, a
    // changed instrument) are reported; the calibration is still written,
    // with status 1.
    std::vector<const HalfDay*> order;
    for (const auto& [key, half] : campaign.half_days) order.push_back(&half);
    bool disagree = false;
    for (std::size_t i = 0; i < n; ++i) {
      const auto d = half_day_disagreement(per_channel[i], options[i].max_disagreement);
      if (!d) continue;
      disagree = true;
      err << "tirovan-tools: warning: " << nm(campaign.wavelength[i]) << ": half-days "
          << half_day_name(*order[d->first]) << " and " << half_day_name(*order[d->second])
          << format(" disagree: ln V0 differs by %.4f, %.1f times their combined standard error %.4f (limit %g)\n",
                    d->difference, std::abs(d->difference) / d->combined_error, d->combined_error,
                    options[i].max_disagreement);
    }
    const int status = missing > 0 || disagree ? 1 : 0;

    if (!command.history.empty()) {
      const std::string instrument = !command.instrument.empty()                 ? command.instrument
                                     : previous && !previous->instrument.empty() ? previous->instrument
                                                                                 : "Instrument not named";
      const std::size_t added =
          append_history(command.history, history_rows(campaign, wavelength, instrument, command.fit));
      err << "tirovan-tools: " << added << " half-day channel rows added to " << command.history << "\n";
    }
    if (command.no_write) return status;
    const auto kept_count = static_cast<std::size_t>(std::count(kept.begin(), kept.end(), true));
    if (missing > kept_count) {
      err << "tirovan-tools: " << missing << " of " << n
          << " channels without an accepted half-day: no calibration written"
          << (command.allow_partial ? " (lang.dat has no value to keep)" : " (--allow-partial keeps lang.dat's value)")
          << "\n";
      return 1;
    }

    // The eight header lines, then count, wavelengths and V0.
    std::string dates;
    for (const auto& [key, half] : campaign.half_days) {
      const bool any = std::any_of(half.fits.begin(), half.fits.end(),
                                   [](const LangleyFit& f) { return f.verdict == LangleyVerdict::accepted; });
      if (any) dates += (dates.empty() ? "" : ", ") + half_day_name(half);
    }
    std::string text;
    text += (previous && !previous->instrument.empty() ? previous->instrument : "Instrument not named") + "\n";
    text += format("Site: %.3f %c, %.3f %c%s\n", std::abs(static_cast<double>(campaign.lat)),
                   campaign.lat < 0 ? 'S' : 'N', std::abs(static_cast<double>(campaign.lon)),
                   campaign.lon < 0 ? 'W' : 'E', campaign.several_sites ? " (first of several sites)" : "");
    text += "Half-days accepted (local solar date, am/pm): " + dates + "\n";
    const LangleyOptions& fit = command.fit;
    text += format("Langley calibration by tirovan-tools, %s fit (%s), %s, rejection beyond %g sd in at most %d "
                   "pass%s, V0 = exp(mean ln V0 of the half-days)\n",
                   std::string(method_name(fit.method)).c_str(),
                   fit.method == LangleyMethod::herman ? "Herman et al. 1981" : "Harrison & Michalsky 1994",
                   command.geometry == LangleyGeometry::core
                       ? "tirovan's solar position and air mass"
                       : "precise Sun (ERFA), Kasten & Young 1989 air mass of the apparent zenith",
                   fit.rejection_sd, fit.rejection_passes, fit.rejection_passes == 1 ? "" : "es");
    std::string limits = ranges_text(campaign);
    limits[0] = 'A'; // "air mass ..." opens the line
    text += format("%s; at least %zu points and %.3g of those in range; ln V falling with air mass\n", limits.c_str(),
                   fit.min_points, fit.min_surviving_fraction);
    text += "Points used: " +
            joined_per_channel(campaign.wavelength,
                               [&](std::size_t i) {
                                 if (kept[i]) return std::string("none (V0 kept)");
                                 std::size_t used = 0;
                                 for (const LangleyFit& f : per_channel[i])
                                   if (f.verdict == LangleyVerdict::accepted) used += f.used;
                                 return std::to_string(used);
                               }) +
            "\n";
    std::vector<double> ln_v0_uncertainty(n, std::nan(""));
    for (std::size_t i = 0; i < n; ++i)
      if (!kept[i]) ln_v0_uncertainty[i] = calibration[i].ln_v0_uncertainty;
    text += uncertainty_line(ln_v0_uncertainty, "") + "; fit residual sd [ln signal]: " +
            joined_per_channel(campaign.wavelength,
                               [&](std::size_t i) {
                                 if (kept[i]) return std::string("-");
                                 double sum = 0;
                                 for (const LangleyFit& f : per_channel[i])
                                   if (f.verdict == LangleyVerdict::accepted) sum += f.residual_sd;
                                 return format("%.4f", sum / static_cast<double>(calibration[i].half_days));
                               }) +
            " (mean of the half-days)\n";
    text += "Next: count, wavelengths [nm], V0 at mean Sun-Earth distance in the unit of the dane.dat signals\n";
    text += std::to_string(n) + "\n";
    for (std::size_t i = 0; i < n; ++i) text += (i > 0 ? " " : "") + format("%g", static_cast<double>(wavelength[i]));
    text += "\n";
    for (std::size_t i = 0; i < n; ++i) text += (i > 0 ? " " : "") + shortest(v0[i]);
    text += "\n";

    write_file(path, text);
    err << "tirovan-tools: calibration written to " << path << "\n";
    return status;
  } catch (const std::filesystem::filesystem_error& error) { // the plot folder
    throw Error(error.path1().string() + ": cannot create: " + error.code().message());
  }
}

void add_langley_command(CLI::App& app) {
  auto command = std::make_shared<LangleyCommand>();
  CLI::App* sub = app.add_subcommand(
      "langley", "Langley calibration of every channel from DIR/dane.dat; writes a lang.dat for tirovan");
  sub->add_option("DIR", command->dir, "folder with dane.dat (and lang.dat, whose header and wavelengths are reused)")
      ->capture_default_str();
  sub->add_option("-o,--output", command->output, "write the calibration to FILE [default: DIR/lang.new.dat]");
  sub->add_flag("-n,--no-write", command->no_write, "print the summary only");
  sub->add_flag("--allow-partial", command->allow_partial,
                "write even when some channel has no accepted half-day, keeping lang.dat's value for it");
  sub->add_option("--history", command->history,
                  "append every accepted half-day and channel to this calibration history CSV (no repeats)");
  sub->add_option("--instrument", command->instrument,
                  "instrument name for the history [default: lang.dat's first line]");
  sub->add_option("--plot-dir", command->plot_dir, "write a Langley plot per channel and half-day (SVG, PNG) there");
  LangleyOptions& fit = command->fit;
  sub->add_option_function<std::string>(
         "--method",
         [&fit](const std::string& name) {
           fit.method = name == "herman" ? LangleyMethod::herman : LangleyMethod::objective;
         },
         "objective: ln V on m (Harrison & Michalsky 1994); herman: ln V / m on 1/m (Herman et al. 1981)")
      ->check(CLI::IsMember({"objective", "herman"}))
      ->default_str("objective");
  sub->add_option("--air-mass-min", fit.min_air_mass, "lowest air mass fitted")
      ->capture_default_str()
      ->check(finite_in(1, 40));
  sub->add_option("--air-mass-max", fit.max_air_mass, "highest air mass fitted")
      ->capture_default_str()
      ->check(finite_in(1, 40));
  sub->add_option("--reject-sd", fit.rejection_sd, "drop points beyond this many residual sd")
      ->capture_default_str()
      ->check(finite_in(0, 100, true));
  sub->add_option("--passes", fit.rejection_passes, "rejection passes at most")
      ->capture_default_str()
      ->check(CLI::Range(0, 100));
  sub->add_option("--min-fraction", fit.min_surviving_fraction, "fraction of the points in range that must survive")
      ->capture_default_str()
      ->check(finite_in(0, 1));
  sub->add_option("--min-points", fit.min_points, "points needed in the final fit (a line needs 3)")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{3}, std::size_t{1000000}));
  sub->add_option("--max-sd", fit.max_residual_sd, "accept a fit whose residual sd [ln signal] is below this")
      ->capture_default_str()
      ->check(finite_in(0, 10, true));
  sub->add_flag("--no-water", command->no_water,
                "fit a channel in the water window as any other (by default: the modified Langley method)");
  sub->add_option("--pw-b", command->water.b, "band exponent b of T = exp(-a (m w)^b) for the water channel")
      ->capture_default_str()
      ->check(finite_in(0, 1, true));
  sub->add_option_function<std::vector<double>>(
         "--water-window",
         [command](const std::vector<double>& range) {
           if (!(range[0] <= range[1])) throw CLI::ValidationError("--water-window", "low above high");
           command->water.min_nm = range[0], command->water.max_nm = range[1];
         },
         "a channel within LOW HIGH [nm] is the water channel")
      ->expected(2)
      ->default_str("930 950")
      ->check(finite_in(0, 1e5));
  sub->add_option("--min-span", fit.min_coverage_span, "air masses the points used must span")
      ->capture_default_str()
      ->check(finite_in(0, 40));
  sub->add_option("--max-rising", fit.max_rising_fraction,
                  "refuse a half-day whose ln V rises with air mass (beyond 3 sd of noise) in more than this "
                  "fraction of the steps; 1: no test")
      ->capture_default_str()
      ->check(finite_in(0, 1));
  sub->add_option("--max-disagreement", fit.max_disagreement,
                  "warn (status 1) when two accepted half-days' ln V0 differ by more than this many combined "
                  "standard errors")
      ->capture_default_str()
      ->check(finite_in(0, 1000, true));
  sub->add_option_function<std::string>(
         "--geometry",
         [command](const std::string& name) {
           command->geometry = name == "core" ? LangleyGeometry::core : LangleyGeometry::precise;
         },
         "precise: the Sun from ERFA, Kasten & Young air mass of the apparent zenith; core: tirovan's own")
      ->check(CLI::IsMember({"precise", "core"}))
      ->default_str("precise");
  sub->callback([command, sub] {
    const LangleyOptions& range = command->fit;
    if (!(range.max_air_mass - range.min_air_mass >= langley_min_air_mass_span)) {
      throw Error(format("--air-mass-min %g and --air-mass-max %g: the range must span at least %g air mass",
                         range.min_air_mass, range.max_air_mass, langley_min_air_mass_span));
    }
    if (!(range.max_air_mass - range.min_air_mass >= range.min_coverage_span)) {
      throw Error(format("--air-mass-min %g and --air-mass-max %g: the range is narrower than --min-span %g",
                         range.min_air_mass, range.max_air_mass, range.min_coverage_span));
    }
    command->air_mass_min_set = sub->count("--air-mass-min") > 0;
    command->air_mass_max_set = sub->count("--air-mass-max") > 0;
    command->max_sd_set = sub->count("--max-sd") > 0;
    command->min_span_set = sub->count("--min-span") > 0;
    end_command(run_langley(*command, std::cout, std::cerr));
  });
}

} // namespace tirovan::tools
