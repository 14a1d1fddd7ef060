#include "driver/driver.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "atmos/atmos.hpp"
#include "solar/solar.hpp"
#include "textio/checked_math.hpp"
#include "textio/failure.hpp"
#include "textio/files.hpp"
#include "textio/format.hpp"
#include "textio/output.hpp"
#include "textio/reader.hpp"

namespace tirovan::driver {
namespace {

using textio::OutputFile;
using textio::Reader;
using Statement = textio::Reader::Statement;

// Start-up banner, one list-output record per line.
constexpr std::string_view rule = "---------------------------------------------";
constexpr std::string_view title = "               PROGRAM Tirovan 1.1         ";
constexpr std::string_view author = "          Autor Velindorastrakhumen";
constexpr std::string_view purpose = "Program oblicza grubosc optyczna aerozolu";
constexpr std::string_view documentation = "Opis programu znajduje sie w pliku Readme.txt";
constexpr std::string_view calibration_note = "Program korzysta z kliku kalibracyjbego lang.dat";
constexpr std::string_view contact = "         e-mail tirovan@photometry.example.org";
static_assert(rule.size() == 45 && title.size() == 43 && author.size() == 35);
static_assert(purpose.size() == 41 && documentation.size() == 45 && calibration_note.size() == 48);

constexpr std::string_view report_text = "Grubosc optyczna aerozolu";

constexpr std::string_view calibration_file = "lang.dat";
constexpr std::string_view measurement_file = "dane.dat";
constexpr std::string_view results_file = "wyniki.dat";

constexpr int calibration_header_lines = 8;
constexpr std::size_t fixed_channels = 10;   // the arrays of the original instrument layout
constexpr float minutes_per_hour = 60.0f;
constexpr float dobson_per_atm_cm = 1000.0f; // DU per atmosphere-centimetre

// Results record layout: I4 day, I4 month, I6 year, I4 hour, I4 minute,
// then F10.3 per channel.
constexpr int day_width = 4, month_width = 4, year_width = 6, hour_width = 4, minute_width = 4;
constexpr int aot_width = 10, aot_decimals = 3;
constexpr std::size_t results_prefix = 22;

// The whole state of a run. Every variable starts at zero and keeps its
// value from one record to the next: an item a record leaves unset (null
// value, slash) keeps the previous measurement's value.
class Run {
 public:
  void execute();
  void flush_outputs();
  void finish();

 private:
  void write_banner();
  void read_calibration();
  void open_measurements();
  void read_header();
  void read_measurement(std::int32_t number);
  void retrieve();
  void write_results_record();
  void ensure_channels(std::size_t count);

  OutputFile& console_ = textio::console();
  std::optional<OutputFile> results_;
  std::optional<Reader> measurements_;

  std::int32_t calibration_count_ = 0;
  std::int32_t channel_count_ = 0;
  std::int32_t measurement_count_ = 0;
  std::vector<float> calibration_aux_ = std::vector<float>(fixed_channels);
  std::vector<float> calibration_signal_ = std::vector<float>(fixed_channels);
  std::vector<float> wavelength_ = std::vector<float>(fixed_channels);
  std::vector<float> signal_ = std::vector<float>(fixed_channels);
  std::vector<float> dark_ = std::vector<float>(fixed_channels);
  std::vector<float> aot_ = std::vector<float>(fixed_channels);

  std::int32_t day_ = 0, month_ = 0, year_ = 0;
  float hour_ = 0, minute_ = 0, lon_ = 0, lat_ = 0, pressure_ = 0;
  float time_ = 0, zenith_ = 0, azimuth_ = 0, air_mass_ = 0, factor_ = 0;
  float tau_total_ = 0, ozone_coefficient_ = 0, ozone_column_ = 0, tau_ozone_ = 0, tau_rayleigh_ = 0;
  bool results_cut_ = false;
};

std::size_t channels(std::int32_t count) { return count > 0 ? static_cast<std::size_t>(count) : 0; }

void check_count(std::string_view path, std::string_view what, std::int32_t count) {
  if (count <= max_channels) return;
  throw textio::bad_data(path, std::string(what) + " " + std::to_string(count) + " exceeds the limit of " +
                                   std::to_string(max_channels));
}

void Run::ensure_channels(std::size_t count) {
  for (std::vector<float>* array : {&calibration_aux_, &calibration_signal_, &wavelength_, &signal_, &dark_, &aot_}) {
    if (array->size() < count) array->resize(count, 0.0f);
  }
}

void Run::flush_outputs() {
  console_.flush();
  if (results_) results_->flush();
}

void Run::write_banner() {
  textio::write_list(console_);
  textio::write_list(console_, rule);
  textio::write_list(console_, title);
  textio::write_list(console_, author);
  textio::write_list(console_);
  textio::write_list(console_, purpose);
  textio::write_list(console_, documentation);
  textio::write_list(console_, calibration_note);
  textio::write_list(console_, contact);
  textio::write_list(console_, rule);
  textio::write_list(console_);
}

void Run::read_calibration() {
  flush_outputs();
  auto file = textio::open_unit(calibration_file, textio::unit_calibration, textio::Access::read);
  Reader reader(file.fd, textio::unit_calibration, std::move(file.path), true);
  reader.set_before_wait([this] { flush_outputs(); });
  for (int line = 0; line < calibration_header_lines; ++line) Statement{reader};
  Statement{reader}.item(calibration_count_);
  check_count(reader.path(), "calibration count", calibration_count_);
  const std::size_t n = channels(calibration_count_);
  ensure_channels(n);
  Statement{reader}.items(std::span(calibration_aux_).first(n));
  Statement{reader}.items(std::span(calibration_signal_).first(n));
  reader.close();
}

void Run::open_measurements() {
  auto results = textio::open_unit(results_file, textio::unit_results, textio::Access::write);
  results_.emplace(results.fd, textio::unit_results, std::move(results.path), true);
  flush_outputs();
  auto file = textio::open_unit(measurement_file, textio::unit_measurements, textio::Access::read);
  measurements_.emplace(file.fd, textio::unit_measurements, std::move(file.path), true);
  measurements_->set_before_wait([this] { flush_outputs(); });
}

void Run::read_header() {
  {
    Statement header{*measurements_};
    header.item(channel_count_);
    header.item(measurement_count_);
  }
  check_count(measurements_->path(), "channel count", channel_count_);
  ensure_channels(channels(channel_count_));
  Statement{*measurements_}.items(std::span(wavelength_).first(channels(channel_count_)));
}

void Run::read_measurement(std::int32_t number) {
  Statement record{*measurements_};
  record.item(day_);
  record.item(month_);
  record.item(year_);
  record.item(hour_);
  record.item(minute_);
  record.item(lon_);
  record.item(lat_);
  record.item(pressure_);
  for (std::size_t i = 0; i < channels(channel_count_); ++i) {
    record.item(signal_[i]);
    record.item(dark_[i]);
  }
  // The ozone climatology has a column for months 1..12 only.
  if (month_ < 1 || month_ > 12) {
    throw textio::bad_data(measurements_->path(), "measurement " + std::to_string(number) + " has month " +
                                                      std::to_string(month_) + ", outside 1..12");
  }
}

void Run::retrieve() {
  namespace checked = textio::checked;
  const std::size_t n = channels(channel_count_);
  time_ = minute_ / minutes_per_hour + hour_;
  for (std::size_t i = 0; i < n; ++i) signal_[i] = signal_[i] - dark_[i];

  POSSOL(month_, day_, time_, lon_, lat_, zenith_, azimuth_);
  const float zenith_for_air_mass = zenith_;
  AIRMASS(zenith_for_air_mass, air_mass_);
  VARSOL(day_, month_, factor_);

  for (std::size_t i = 0; i < n; ++i) {
    // Beer-Lambert: tau = ln(calibration * factor / signal) / air mass, as
    // differences of logarithms in exactly this order.
    const float ln_signal = checked::log(signal_[i]);
    const float ln_calibration = checked::log(calibration_signal_[i]);
    const float ln_factor = checked::log(factor_);
    tau_total_ = -(((ln_signal - ln_calibration) - ln_factor) / air_mass_);
    OZON(wavelength_[i], ozone_coefficient_);
    ESTIMDOBSON(month_, lat_, ozone_column_);
    tau_ozone_ = (ozone_column_ / dobson_per_atm_cm) * ozone_coefficient_;
    RAYLEIGH(wavelength_[i], pressure_, tau_rayleigh_);
    aot_[i] = (tau_total_ - tau_ozone_) - tau_rayleigh_;
    textio::write_list(console_, report_text, aot_[i]);
  }
}

void Run::write_results_record() {
  const std::size_t n = channels(channel_count_);
  char* p = results_->begin_record(results_prefix + n * static_cast<std::size_t>(aot_width));
  p = textio::edit_integer(p, day_, day_width);
  p = textio::edit_integer(p, month_, month_width);
  p = textio::edit_integer(p, year_, year_width);
  p = textio::edit_truncated(p, hour_, hour_width);
  p = textio::edit_truncated(p, minute_, minute_width);
  for (std::size_t i = 0; i < n; ++i) p = textio::edit_fixed(p, aot_[i], aot_width, aot_decimals);
  results_->end_record(p);
  if (!results_cut_) {
    // The first record starts at the first byte of the old file; cut the
    // file right after it so no stale line of an earlier run survives.
    results_->cut();
    results_cut_ = true;
  }
}

void Run::execute() {
  write_banner();
  read_calibration();
  open_measurements();
  read_header();
  const std::int32_t count = measurement_count_; // taken once
  for (std::int32_t number = 1; number <= count; ++number) {
    read_measurement(number);
    retrieve();
    write_results_record();
  }
}

void Run::finish() {
  measurements_->close();
  results_->close();
  console_.flush();
}

void write_to_standard_error(const std::string& message) {
  const char* data = message.data();
  std::size_t size = message.size();
  while (size > 0) {
    const ssize_t n = ::write(STDERR_FILENO, data, size);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return; // nowhere left to report to
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

} // namespace

int run() {
  Run run;
  try {
    run.execute();
    run.finish();
    return 0;
  } catch (const textio::Failure& failure) {
    // Complete records first: a write refused now is what ends the run,
    // as it would have been had the records been written unbuffered.
    try {
      run.flush_outputs();
    } catch (const textio::Failure& write_failure) {
      write_to_standard_error(write_failure.message());
      return write_failure.status();
    }
    write_to_standard_error(failure.message());
    return failure.status();
  }
}

} // namespace tirovan::driver
