#include "driver/driver.hpp"
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
#include "textio/reader.hpp"
#include "textio/records.hpp"

namespace tirovan::driver {
namespace {

using runtime::OutputUnit;
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

constexpr std::string_view calibration_file = "lang.dat";
constexpr std::string_view measurement_file = "dane.dat";
constexpr std::string_view results_file = "wyniki.dat";

constexpr int calibration_header_lines = 8;
// Ten channels: the arrays every run starts with; a larger count (up to
// max_channels) resizes them once, when it is read.
constexpr std::size_t fixed_channels = 10;

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
  void read_header();
  void read_measurement();
  void write_results_record();
  void ensure_channels(std::size_t count);

  OutputUnit& console_ = runtime::console();
  std::optional<OutputUnit> results_;
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

  Measurement m_;
  bool results_cut_ = false;
};

std::size_t channels(std::int32_t count) { return count > 0 ? static_cast<std::size_t>(count) : 0; }

void check_count(std::string_view path, std::string_view what, std::int32_t count) {
  if (count <= max_channels) return;
  throw runtime::bad_data(path, std::string(what) + " " + std::to_string(count) + " exceeds the limit of " +
                                    std::to_string(max_channels));
}

void Run::ensure_channels(std::size_t count) {
  for (std::vector<float>* array : {&calibration_aux_, &calibration_signal_, &wavelength_, &signal_, &dark_, &aot_}) {
    if (array->size() < count) array->resize(count, 0.0f);
  }
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
  auto file = runtime::open_unit(calibration_file, runtime::unit_calibration, runtime::Access::read);
  Reader reader(file.fd, runtime::unit_calibration, std::move(file.path), true);
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
  auto results = runtime::open_unit(results_file, runtime::unit_results, runtime::Access::write);
  results_.emplace(results.fd, runtime::unit_results, std::move(results.path), true);
  auto file = runtime::open_unit(measurement_file, runtime::unit_measurements, runtime::Access::read);
  measurements_.emplace(file.fd, runtime::unit_measurements, std::move(file.path), true);
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

void Run::read_measurement() {
  Statement record{*measurements_};
  record.item(m_.day);
  record.item(m_.month);
  record.item(m_.year);
  record.item(m_.hour);
  record.item(m_.minute);
  record.item(m_.lon);
  record.item(m_.lat);
  record.item(m_.pressure);
  for (std::size_t i = 0; i < channels(channel_count_); ++i) {
    record.item(signal_[i]);
    record.item(dark_[i]);
  }
}

void Run::write_results_record() {
  const std::size_t n = channels(channel_count_);
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
  read_header();
  const std::int32_t count = measurement_count_; // taken once
  for (std::int32_t number = 1; number <= count; ++number) {
    read_measurement();
    const std::size_t n = channels(channel_count_);
    try {
      retrieve(m_, std::span(wavelength_).first(n), std::span(calibration_signal_).first(n),
               std::span(signal_).first(n), std::span(dark_).first(n), std::span(aot_).first(n));
    } catch (const OzoneMonthRefused& refused) {
      throw runtime::bad_data(measurements_->path(), "measurement " + std::to_string(number) + " has month " +
                                                         std::to_string(refused.month) + ", outside 1..12");
    }
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
