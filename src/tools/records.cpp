#include "tools/records.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <sys/stat.h>

#include "reference/atmosphere.hpp"
#include "reference/sun.hpp"
#include "runtime/failure.hpp"
#include "text.hpp"

namespace tirovan::tools {
namespace {

constexpr float horizon_deg = 90.0f;
constexpr double hours_per_day = 24.0;
constexpr double refraction_temperature_c = 15.0; // dane.dat holds no temperature
constexpr double ozone_layer_km = 22.0;           // Komhyr et al. (1989)

std::string number(float value) { return text::shortest(value); }

} // namespace

Flag stop_flag(driver::StopCause cause) {
  switch (cause) {
  case driver::StopCause::solar_position:
  case driver::StopCause::sun_too_low: return Flag::sun_too_low;
  case driver::StopCause::signal_not_positive:
  case driver::StopCause::calibration_not_positive: return Flag::signal_not_positive;
  case driver::StopCause::rayleigh: return Flag::wavelength_zero;
  case driver::StopCause::month_outside: return Flag::month_invalid;
  }
  return Flag::unreadable;
}

std::string stop_text(const driver::Stop& stop, const driver::Measurement& m, std::span<const float> wavelengths,
                      std::span<const float> signals, const driver::Calibration& calibration) {
  const std::size_t i = stop.channel;
  const std::string channel =
      i < wavelengths.size() ? "channel " + std::to_string(i + 1) + " (" + number(wavelengths[i]) + " nm)" : "";
  switch (stop.cause) {
  case driver::StopCause::solar_position: return "no solar position for this time and place: tirovan stops";
  case driver::StopCause::sun_too_low:
    return "the Sun is " + text::fixed(static_cast<double>(m.zenith - horizon_deg), 2) +
           " deg below the horizon (zenith " + text::fixed(static_cast<double>(m.zenith), 2) +
           " deg): beyond 96.08 deg tirovan stops, the air mass is undefined";
  case driver::StopCause::signal_not_positive:
    return channel + ": the dark-corrected signal " + number(i < signals.size() ? signals[i] : 0.0f) +
           " is not positive: tirovan stops at the logarithm";
  case driver::StopCause::calibration_not_positive:
    return channel + ": calibration signal " + number(i < calibration.signal.size() ? calibration.signal[i] : 0.0f) +
           " is not positive" +
           (std::cmp_greater_equal(i, std::max(calibration.count, 0))
                ? " (lang.dat calibrates " + std::to_string(calibration.count) + " channels)"
                : std::string()) +
           ": tirovan stops at the logarithm";
  case driver::StopCause::rayleigh: return channel + ": a wavelength of 0 nm or below stops tirovan";
  case driver::StopCause::month_outside:
    return "month " + std::to_string(m.month) + " is outside 1..12: tirovan stops, no ozone column for it";
  }
  return "tirovan stops";
}

ReferenceGeometry reference_geometry(const UtcTime& time, double lon_deg_east, double lat_deg_north,
                                     double pressure_hpa) {
  ReferenceGeometry g;
  const reference::UtcInstant instant{static_cast<int>(time.date.year), static_cast<int>(time.date.month),
                                      static_cast<int>(time.date.day), time.fraction_of_day * hours_per_day};
  reference::SunPosition sun;
  try {
    sun = reference::sun_position(instant, lon_deg_east, lat_deg_north, 0.0, pressure_hpa, refraction_temperature_c);
  } catch (const std::invalid_argument&) {
    return g;
  }
  g.zenith_true_deg = sun.zenith_true_deg;
  g.zenith_apparent_deg = sun.zenith_apparent_deg;
  g.factor = sun.factor;
  g.air_mass = reference::kasten_young_air_mass(sun.zenith_apparent_deg);
  g.ozone_air_mass = reference::ozone_air_mass(sun.zenith_true_deg, ozone_layer_km);
  return g;
}

double reference_aot(const ReferenceGeometry& geometry, double wavelength_nm, double pressure_hpa,
                     double calibration_signal, double signal, double tau_ozone) {
  if (!(calibration_signal > 0.0) || !(signal > 0.0)) return not_computed;
  const double tau_rayleigh = reference::bodhaine_rayleigh(wavelength_nm, pressure_hpa);
  const double ln_ratio = std::log(calibration_signal * geometry.factor / signal);
  return (ln_ratio - geometry.ozone_air_mass * tau_ozone - geometry.air_mass * tau_rayleigh) / geometry.air_mass;
}

std::int64_t day_key(const Record& record, std::int64_t previous, bool local_solar) {
  if (!record.has_time) return previous;
  const std::int64_t utc_day = days_from_civil(record.time.date.year, record.time.date.month, record.time.date.day);
  if (!local_solar) return utc_day;
  // UT + lon / 15 h, as a fraction of a day: lon / 360.
  const double local = record.time.fraction_of_day + static_cast<double>(record.m.lon) / 360.0;
  return std::isfinite(local) ? utc_day + static_cast<std::int64_t>(std::floor(local)) : utc_day;
}

DayIndex index_days(const InputFile& measurements, bool local_solar) {
  DayIndex index;
  struct stat status {};
  if (::stat(measurements.path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return index;
  const auto file = open_measurements(measurements);
  std::int64_t key = no_day, latest = no_day;
  try {
    file->read_header();
    for (std::int32_t n = 0; n < file->measurement_count(); ++n) {
      Record record;
      try {
        file->read_record();
        const driver::Measurement& m = file->measurement();
        record.m.lon = m.lon;
        record.has_time =
            utc_time(m.year, m.month, m.day, static_cast<double>(m.hour), static_cast<double>(m.minute), record.time);
      } catch (const textio::ReadFailure& failure) {
        if (failure.number() == runtime::IoFailure::end_of_file) break;
      }
      key = day_key(record, key, local_solar);
      if (key != no_day && latest != no_day && key < latest) index.in_order = false;
      if (key != no_day) latest = std::max(latest, key);
      ++index.records[key];
    }
  } catch (const runtime::Failure&) {
    // The report's own reading says what is wrong with the file.
  }
  return index;
}

RecordReader::RecordReader(std::string_view folder, const ReaderOptions& options)
    : options_(options), measurements_(input_file(folder, measurement_name)),
      calibration_file_(input_file(folder, calibration_name)) {
  {
    auto lang = open_input(calibration_file_, runtime::unit_calibration);
    try {
      calibration_ = driver::read_calibration(*lang);
    } catch (const textio::ReadFailure& failure) {
      throw Error(read_failure_text(calibration_file_, failure, lang->part()));
    } catch (const runtime::Failure& failure) {
      throw Error(failure_text(calibration_file_, *lang, failure));
    }
  }
  file_ = open_measurements(measurements_);
  try {
    file_->read_header();
  } catch (const textio::ReadFailure& failure) {
    throw Error(read_failure_text(measurements_, failure, file_->part()));
  } catch (const runtime::Failure& failure) {
    throw Error(failure_text(measurements_, *file_, failure));
  }
  calibration_.cover(file_->channels());
  angstrom_ = angstrom_440_870(wavelengths(), options_.angstrom_tolerance_nm);
  at_500_ = AotInterpolator(wavelengths(), 500);
  at_550_ = AotInterpolator(wavelengths(), 550);
}

RecordReader::~RecordReader() = default;

void RecordReader::skip(Record& record, Flag flag, std::string problem) {
  record.flags.set(flag);
  record.problem = std::move(problem);
  std::fill(record.aot.begin(), record.aot.end(), static_cast<float>(not_computed));
}

bool RecordReader::next(Record& record) {
  if (ended_early_ || std::cmp_greater_equal(read_, std::max(declared_count(), 0))) return false;
  record.number = read_ + 1;
  record.flags.clear();
  record.problem.clear();
  record.has_time = false;
  record.angstrom = record.aot_500 = record.aot_550 = not_computed;
  record.aot.assign(file_->channels(), static_cast<float>(not_computed));
  try {
    file_->read_record();
  } catch (const textio::ReadFailure& failure) {
    if (failure.number() == runtime::IoFailure::end_of_file) {
      ended_early_ = true;
      end_ = failure.where();
      return false;
    }
    ++read_;
    record.m = file_->measurement();
    record.where = failure.where();
    skip(record, Flag::unreadable, describe_token(failure, file_->fields_read() < 3));
    return true;
  } catch (const runtime::Failure& failure) {
    throw Error(failure_text(measurements_, *file_, failure));
  }
  ++read_;
  record.where = {file_->record_line(), 0};
  retrieve(record);
  return true;
}

void RecordReader::retrieve(Record& record) {
  driver::Measurement& m = file_->measurement();
  const std::span<const float> signals = file_->signals();
  record.signal.assign(signals.begin(), signals.end());
  record.has_time =
      utc_time(m.year, m.month, m.day, static_cast<double>(m.hour), static_cast<double>(m.minute), record.time);
  if (!record.has_time && m.month >= 1 && m.month <= 12) record.flags.set(Flag::date_invalid);
  const driver::SunResult sun = driver::locate_sun(m);
  if (sun.stop) {
    record.m = m;
    skip(record, stop_flag(sun.stop->cause), stop_text(*sun.stop, m, wavelengths(), signals, calibration_));
    return;
  }
  if (sun.below_horizon) record.flags.set(Flag::sun_below_horizon);
  tau_ozone_.assign(file_->channels(), 0.0f);
  for (std::size_t i = 0; i < file_->channels(); ++i) {
    const driver::ChannelResult channel =
        driver::channel_aot(m, i, wavelengths()[i], calibration_.signal[i], signals[i]);
    if (channel.stop) {
      record.m = m;
      skip(record, stop_flag(channel.stop->cause), stop_text(*channel.stop, m, wavelengths(), signals, calibration_));
      return;
    }
    record.aot[i] = channel.aot;
    tau_ozone_[i] = m.tau_ozone;
    if (!std::isfinite(channel.aot)) record.flags.set(Flag::not_finite);
  }
  record.m = m;
  if (options_.physics == Physics::reference) retrieve_reference(record, tau_ozone_);
  derive(record);
}

void RecordReader::derive(Record& record) const {
  record.angstrom = angstrom_.alpha(record.aot);
  record.aot_500 = at_500_(record.aot);
  record.aot_550 = at_550_(record.aot);
}

// The core's stops and flags stand (the same records have values in both
// modes); zenith, air mass, factor and AOT are replaced by the precise ones.
void RecordReader::retrieve_reference(Record& record, std::span<const float> tau_ozone) {
  driver::Measurement& m = record.m;
  const auto pressure = static_cast<double>(m.pressure);
  ReferenceGeometry g;
  if (record.has_time)
    g = reference_geometry(record.time, static_cast<double>(m.lon), static_cast<double>(m.lat), pressure);
  m.zenith = static_cast<float>(g.zenith_true_deg);
  m.air_mass = static_cast<float>(g.air_mass);
  m.factor = static_cast<float>(g.factor);
  bool finite = true;
  for (std::size_t i = 0; i < record.aot.size(); ++i) {
    const double aot =
        reference_aot(g, static_cast<double>(wavelengths()[i]), pressure, static_cast<double>(calibration_.signal[i]),
                      static_cast<double>(record.signal[i]), static_cast<double>(tau_ozone[i]));
    record.aot[i] = static_cast<float>(aot);
    finite = finite && std::isfinite(aot);
  }
  if (!finite) record.flags.set(Flag::not_finite);
}

} // namespace tirovan::tools
