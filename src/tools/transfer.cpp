#include "tools/transfer.hpp"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <memory>
#include <vector>

#include <CLI/CLI.hpp>

#include "analysis/statistics.hpp"
#include "driver/retrieval.hpp"
#include "runtime/failure.hpp"
#include "text.hpp"
#include "tools/calibration_file.hpp"
#include "tools/options.hpp"
#include "tools/output.hpp"
#include "tools/records.hpp"

namespace tirovan::tools {
namespace {

constexpr double minutes_per_day = 1440;

struct ReferencePoint {
  double day = 0; // days since 1970-01-01 [d]
  driver::Measurement m;
  std::vector<float> signal, aot;
  double aot_500 = 0, angstrom = 0;
  bool stable = false;
};

struct FieldPoint {
  double day = 0;
  driver::Measurement m;
  std::vector<float> signal;
};

double day_of(const UtcTime& t) {
  return static_cast<double>(days_from_civil(t.date.year, t.date.month, t.date.day)) + t.fraction_of_day;
}

std::vector<ReferencePoint> read_reference(RecordReader& reader) {
  std::vector<ReferencePoint> points;
  Record r;
  while (reader.next(r)) {
    if (!r.has_time || r.flags.any() || !std::isfinite(r.aot_500)) continue;
    points.push_back({day_of(r.time), r.m, r.signal, r.aot, r.aot_500, r.angstrom, false});
  }
  std::sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.day < b.day; });
  return points;
}

// Stable: the sample sd of AOT(500) over +-half_width is below the limit.
void mark_stable(std::vector<ReferencePoint>& points, double half_width_days, double limit) {
  std::size_t lo = 0, hi = 0;
  for (ReferencePoint& p : points) {
    while (points[lo].day < p.day - half_width_days) ++lo;
    while (hi < points.size() && points[hi].day <= p.day + half_width_days) ++hi;
    double sum = 0, ss = 0;
    for (std::size_t k = lo; k < hi; ++k) sum += points[k].aot_500;
    const auto n = static_cast<double>(hi - lo);
    for (std::size_t k = lo; k < hi; ++k) ss += std::pow(points[k].aot_500 - sum / n, 2);
    p.stable = hi - lo >= 3 && std::sqrt(ss / (n - 1)) < limit;
  }
}

std::vector<FieldPoint> read_field(const InputFile& file, std::size_t& channels, std::vector<float>& wavelength) {
  auto reader = open_measurements(file);
  std::vector<FieldPoint> points;
  try {
    reader->read_header();
    channels = reader->channels();
    wavelength.assign(reader->wavelengths().begin(), reader->wavelengths().end());
    driver::Measurement& m = reader->measurement();
    for (std::int32_t record = 0; record < reader->measurement_count(); ++record) {
      try {
        reader->read_record();
      } catch (const textio::ReadFailure& failure) {
        if (failure.number() == runtime::IoFailure::end_of_file) break;
        continue;
      }
      UtcTime t;
      if (!utc_time(m.year, m.month, m.day, static_cast<double>(m.hour), static_cast<double>(m.minute), t)) continue;
      const driver::SunResult sun = driver::locate_sun(m);
      if (sun.stop || !(m.zenith < 90.0f)) continue;
      points.push_back({day_of(t), m, {reader->signals().begin(), reader->signals().end()}});
    }
  } catch (const textio::ReadFailure& failure) {
    throw Error(read_failure_text(file, failure, reader->part()));
  } catch (const runtime::Failure& failure) {
    throw Error(failure_text(file, *reader, failure));
  }
  std::sort(points.begin(), points.end(), [](const auto& a, const auto& b) { return a.day < b.day; });
  return points;
}

// Rayleigh plus ozone optical depth of the retrieval at a wavelength.
double gases(const driver::Measurement& m, std::size_t channel, float wavelength) {
  driver::Measurement copy = m;
  (void)driver::channel_aot(copy, channel, wavelength, 1.0f, 1.0f);
  return static_cast<double>(copy.tau_rayleigh) + static_cast<double>(copy.tau_ozone);
}

} // namespace

int run_transfer(const TransferCommand& command, std::ostream& out, std::ostream& err) {
  const InputFile field_dane = input_file(command.field_dir, measurement_name);
  const InputFile field_lang = input_file(command.field_dir, calibration_name);
  RecordReader reference(command.reference_dir);
  set_run_inputs(
      {reference.calibration_file().path, reference.measurement_file().path, field_dane.path, field_lang.path});
  refuse_input(command.output);
  const LangTemplate lang = read_lang_template(field_lang);
  std::size_t channels = 0;
  std::vector<float> field_wavelength;
  const std::vector<FieldPoint> field = read_field(field_dane, channels, field_wavelength);
  if (lang.wavelength.size() != channels)
    throw Error(field_lang.shown + ": " + std::to_string(lang.wavelength.size()) + " channels, " + field_dane.shown +
                " has " + std::to_string(channels));
  std::vector<ReferencePoint> ref = read_reference(reference);
  if (ref.empty()) throw Error(reference.measurement_file().shown + ": no record with an AOT(500)");
  mark_stable(ref, command.stable_minutes / minutes_per_day, command.stable_sd);

  const std::span<const float> ref_wavelength = reference.wavelengths();
  const driver::Calibration& ref_cal = reference.calibration();
  const auto ref_uncertainty =
      uncertainty_from_header(read_lang_template(reference.calibration_file()).header, ref_wavelength.size());

  // Partner of each field channel: the nearest reference wavelength within the tolerance.
  std::vector<std::ptrdiff_t> partner(channels, -1);
  for (std::size_t j = 0; j < channels; ++j) {
    double best = command.tolerance_nm;
    for (std::size_t i = 0; i < ref_wavelength.size(); ++i) {
      const double d = std::abs(static_cast<double>(ref_wavelength[i] - field_wavelength[j]));
      if (d <= best && ref_cal.signal[i] > 0.0f) best = d, partner[j] = static_cast<std::ptrdiff_t>(i);
    }
  }
  // The pairs: the nearest reference record within the window, stable.
  std::vector<std::vector<double>> samples(channels);
  std::size_t matched = 0, stable = 0;
  const double window = command.window_minutes / minutes_per_day;
  for (const FieldPoint& f : field) {
    const auto at = std::lower_bound(ref.begin(), ref.end(), f.day,
                                     [](const ReferencePoint& p, double day) { return p.day < day; });
    const ReferencePoint* nearest = nullptr;
    if (at != ref.end()) nearest = &*at;
    if (at != ref.begin() && (nearest == nullptr || f.day - std::prev(at)->day < nearest->day - f.day))
      nearest = &*std::prev(at);
    if (nearest == nullptr || !(std::abs(nearest->day - f.day) <= window)) continue;
    ++matched;
    if (!nearest->stable) continue;
    ++stable;
    const ReferencePoint& r = *nearest;
    for (std::size_t j = 0; j < channels; ++j) {
      if (partner[j] < 0) continue;
      const auto i = static_cast<std::size_t>(partner[j]);
      const float vf = f.signal[j], vr = r.signal[i];
      if (!(vf > 0.0f && vr > 0.0f) || !std::isfinite(r.aot[i])) continue;
      const double lf = static_cast<double>(field_wavelength[j]), lr = static_cast<double>(ref_wavelength[i]);
      const double aot_r = static_cast<double>(r.aot[i]);
      if (lf != lr && !std::isfinite(r.angstrom)) continue; // no exponent to bridge the mismatch
      const double gas_r = gases(r.m, i, ref_wavelength[i]);
      const double tau_r = aot_r + gas_r;
      const double d_tau =
          lf == lr ? 0.0
                   : aot_r * (std::pow(lf / lr, -r.angstrom) - 1.0) + (gases(r.m, i, field_wavelength[j]) - gas_r);
      const double m_f = static_cast<double>(f.m.air_mass), m_r = static_cast<double>(r.m.air_mass);
      samples[j].push_back(std::log(static_cast<double>(ref_cal.signal[i])) + std::log(static_cast<double>(vf)) -
                           std::log(static_cast<double>(vr)) -
                           (std::log(static_cast<double>(f.m.factor)) - std::log(static_cast<double>(r.m.factor))) +
                           (m_f - m_r) * tau_r + m_f * d_tau);
    }
  }

  out << "Calibration transfer from " << command.reference_dir << " to " << command.field_dir << ": " << field.size()
      << " field records, " << matched << " within " << text::fixed(command.window_minutes, 2)
      << " min of a reference record, " << stable << " of them in stable periods\n";
  std::vector<float> v0 = lang.signal;
  std::vector<double> uncertainty(channels, std::nan(""));
  std::size_t unpaired = 0;
  std::string too_few;
  for (std::size_t j = 0; j < channels; ++j) {
    const std::string name = text::shortest(field_wavelength[j]) + " nm";
    if (partner[j] < 0) {
      ++unpaired;
      out << "  " << name << ": no reference channel within " << text::fixed(command.tolerance_nm, 1)
          << " nm; the template's V0 kept\n";
      continue;
    }
    const auto i = static_cast<std::size_t>(partner[j]);
    std::vector<double>& s = samples[j];
    if (s.size() < command.min_pairs) {
      too_few += (too_few.empty() ? "" : ", ") + name + " " + std::to_string(s.size());
      continue;
    }
    const double centre = median(s);
    const double limit = 3.0 * robust_sd(s, centre);
    double sum = 0, ss = 0;
    std::size_t n = 0;
    for (const double x : s)
      if (!(std::abs(x - centre) > limit)) sum += x, ++n;
    const double mean = sum / static_cast<double>(n);
    for (const double x : s)
      if (!(std::abs(x - centre) > limit)) ss += (x - mean) * (x - mean);
    const double standard_error = n > 1 ? std::sqrt(ss / static_cast<double>(n - 1) / static_cast<double>(n)) : 0.0;
    const double u_ref = ref_uncertainty && std::isfinite((*ref_uncertainty)[i]) ? (*ref_uncertainty)[i] : 0.0;
    uncertainty[j] = std::hypot(standard_error, u_ref);
    v0[j] = static_cast<float>(std::exp(mean));
    out << "  " << name << " from reference " << text::shortest(ref_wavelength[i]) << " nm: V0 "
        << text::shortest(v0[j]) << " +- " << text::fixed(100.0 * uncertainty[j], 3) << "% (" << n << " pairs, "
        << s.size() - n << " rejected; V0 ratio field/reference "
        << text::fixed(std::exp(mean) / static_cast<double>(ref_cal.signal[i]), 5) << ")\n";
  }
  if (!too_few.empty())
    throw Error("fewer than " + std::to_string(command.min_pairs) + " stable pairs (" + too_few + "; " +
                std::to_string(matched) + " records paired in time, " + std::to_string(stable) +
                " in stable periods): no calibration written");
  if (unpaired == channels) throw Error("no field channel has a reference channel within the tolerance");
  write_file(
      command.output,
      lang_text(lang, uncertainty_line(uncertainty, "transfer from " + command.reference_dir + ", tirovan-tools"), v0));
  err << "tirovan-tools: calibration written to " << command.output << "\n";
  return unpaired > 0 ? 1 : 0;
}

void add_transfer_command(CLI::App& app) {
  auto command = std::make_shared<TransferCommand>();
  CLI::App* sub = app.add_subcommand(
      "transfer", "Transfer the calibration of a reference instrument to a field instrument measuring beside it");
  sub->add_option("REF_DIR", command->reference_dir, "reference folder: lang.dat and dane.dat")->required();
  sub->add_option("FIELD_DIR", command->field_dir, "field folder: dane.dat, and lang.dat as template")->required();
  sub->add_option("-o,--output", command->output, "lang.dat to write for the field instrument")->required();
  sub->add_option("--window", command->window_minutes, "pair measurements within this many minutes")
      ->capture_default_str()
      ->check(finite_in(0, 60, true));
  sub->add_option("--tolerance", command->tolerance_nm, "pair channels within this many nm")
      ->capture_default_str()
      ->check(finite_in(0, 100));
  sub->add_option("--stable-sd", command->stable_sd, "stable: reference AOT(500) sd below this ...")
      ->capture_default_str()
      ->check(finite_in(0, 10, true));
  sub->add_option("--stable-minutes", command->stable_minutes, "... over +- this many minutes")
      ->capture_default_str()
      ->check(finite_in(0, 1440, true));
  sub->add_option("--min-pairs", command->min_pairs, "stable pairs needed per channel")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{1}, std::size_t{100000000}));
  sub->callback([command] { end_command(run_transfer(*command, std::cout, std::cerr)); });
}

} // namespace tirovan::tools
