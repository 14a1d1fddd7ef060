#include "driver/driver.hpp"
#include "driver/input_files.hpp"
#include "driver/retrieval.hpp"

#include <cerrno>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "runtime/failure.hpp"
#include "runtime/files.hpp"
#include "runtime/units.hpp"
#include "textio/format.hpp"
#include "textio/records.hpp"

namespace tirovan::driver {
namespace {

using runtime::OutputUnit;

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

constexpr std::string_view calibration_file = "lang.dat";
constexpr std::string_view measurement_file = "dane.dat";
constexpr std::string_view results_file = "wyniki.dat";

// Console lines of the measurement loop.
constexpr std::string_view report_text = "Grubosc optyczna aerozolu";
constexpr std::string_view sun_not_raised = "The sun is not raised";
constexpr std::string_view below_ozone_table = "Dlugosc fali mniejsza od 445 nm";
constexpr std::string_view above_ozone_table = "Dlugosc fali wieksza od 790nm";
constexpr std::string_view ozone_taken_as_zero = "przyjeto grubosc optyczna ozonu rowna O";

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
  void finish();

private:
  void write_banner();
  void read_calibration();
  void open_measurements();
  void retrieve(std::int32_t number);
  void write_results_record();

  OutputUnit& console_ = runtime::console();
  std::optional<OutputUnit> results_;
  std::optional<MeasurementFile> measurements_;
  Calibration calibration_;
  std::vector<float> aot_ = std::vector<float>(fixed_channels);
  bool results_cut_ = false;
};

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
  auto file = runtime::open_unit(calibration_file, runtime::unit_calibration, runtime::Access::read);
  InputText calibration(file.fd, runtime::unit_calibration, std::move(file.path));
  calibration_ = driver::read_calibration(calibration);
  calibration.close();
}

void Run::open_measurements() {
  auto results = runtime::open_unit(results_file, runtime::unit_results, runtime::Access::write);
  results_.emplace(results.fd, runtime::unit_results, std::move(results.path), true);
  auto file = runtime::open_unit(measurement_file, runtime::unit_measurements, runtime::Access::read);
  measurements_.emplace(file.fd, runtime::unit_measurements, std::move(file.path));
}

// The failure a stop of the retrieval carries, to be thrown anew.
runtime::Failure again(const runtime::Failure& failure) {
  return {failure.message(), failure.status(), failure.console_event()};
}

// PRINT_ERROR: one console line at its full length, without the leading
// blank of list output.
void PRINT_ERROR(std::string_view text) { textio::write_text_record(runtime::console(), text); }

// The retrieval of the record just read, with its console lines: the
// solar warning, then per channel the ozone warnings and the AOT line.
void Run::retrieve(std::int32_t number) {
  Measurement& m = measurements_->measurement();
  const std::size_t n = measurements_->channels();
  const std::span<const float> wavelength = measurements_->wavelengths();
  const std::span<const float> signal = measurements_->signals();
  const SunResult sun = locate_sun(m);
  if (sun.below_horizon) PRINT_ERROR(sun_not_raised);
  if (sun.stop) throw again(sun.stop->failure);
  for (std::size_t i = 0; i < n; ++i) {
    const ChannelResult channel = channel_aot(m, i, wavelength[i], calibration_.signal[i], signal[i]);
    if (channel.ozone_table != OzoneTable::inside) {
      textio::write_list(console_, channel.ozone_table == OzoneTable::below ? below_ozone_table : above_ozone_table);
      textio::write_list(console_, ozone_taken_as_zero);
    }
    if (channel.stop) {
      if (channel.stop->cause != StopCause::month_outside) throw again(channel.stop->failure);
      throw runtime::bad_data(measurements_->path(), "measurement " + std::to_string(number) + " has month " +
                                                         std::to_string(m.month) + ", outside 1..12");
    }
    aot_[i] = channel.aot;
    textio::write_list(console_, report_text, aot_[i]);
  }
}

void Run::write_results_record() {
  const Measurement& m_ = measurements_->measurement();
  const std::size_t n = measurements_->channels();
  char* p = results_->begin_record(results_prefix + n * static_cast<std::size_t>(aot_width));
  p = textio::edit_integer(p, m_.day, day_width);
  p = textio::edit_integer(p, m_.month, month_width);
  p = textio::edit_integer(p, m_.year, year_width);
  p = textio::edit_truncated(p, m_.hour, hour_width);
  p = textio::edit_truncated(p, m_.minute, minute_width);
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
  measurements_->read_header();
  const std::size_t n = measurements_->channels();
  calibration_.cover(n);
  if (aot_.size() < n) aot_.resize(n, 0.0f);
  const std::int32_t count = measurements_->measurement_count(); // taken once
  for (std::int32_t number = 1; number <= count; ++number) {
    measurements_->read_record();
    retrieve(number);
    write_results_record();
  }
}

void Run::finish() {
  measurements_->close();
  results_->close();
  runtime::flush_output_units();
}

void write_to_standard_error(std::string_view message) {
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

constexpr int out_of_memory_status = runtime::severe_status(static_cast<int>(runtime::IoFailure::insufficient_memory));

// The outcome of a run that `failure` ended.
Outcome end_with(const runtime::Failure& failure) {
  if (failure.console_event()) {
    // Whatever the console does not take now is lost: waiting for a
    // reader that does not read would keep the run from ending.
    runtime::flush_output_units_after_event();
    return {failure.status(), failure.message()};
  }
  // Complete records first: a write refused now came earlier in the
  // run's statements than this failure, and is what ends the run.
  try {
    runtime::flush_output_units();
  } catch (const runtime::Failure& write_failure) {
    return {write_failure.status(), write_failure.message()};
  }
  return {failure.status(), failure.message()};
}

} // namespace

Outcome run_quietly() {
  try {
    Run run;
    try {
      run.execute();
      run.finish();
      return {0, {}};
    } catch (const runtime::Failure& failure) {
      return end_with(failure);
    } catch (const std::bad_alloc&) {
      // Memory ran out where no unit was concerned (the reader names its
      // unit itself): the records before the statement are kept all the same.
      return end_with(runtime::out_of_memory());
    }
  } catch (const std::bad_alloc&) {
    // Before the run began, or again while it was ending: the records are
    // as the destructors of the units left them.
    return {out_of_memory_status, std::string(runtime::out_of_memory_line)};
  }
}

int run() {
  try {
    const Outcome outcome = run_quietly();
    write_to_standard_error(outcome.message);
    return outcome.status;
  } catch (const std::bad_alloc&) {
    // Not even the message could be allocated.
    write_to_standard_error(runtime::out_of_memory_line);
    return out_of_memory_status;
  }
}

} // namespace tirovan::driver
