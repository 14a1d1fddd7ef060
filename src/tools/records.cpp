#include "tools/records.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "runtime/failure.hpp"
#include "runtime/units.hpp"
#include "text.hpp"

namespace tirovan::tools {
namespace {

using Statement = textio::Reader::Statement;

constexpr int calibration_header_lines = 8;
constexpr std::size_t fixed_channels = 10; // the core's arrays never hold fewer
constexpr float horizon_deg = 90.0f;

std::size_t channel_count(std::int32_t count) { return count > 0 ? static_cast<std::size_t>(count) : 0; }

std::string number(float value) { return text::shortest(value); }
std::string fixed(float value) { return text::fixed(static_cast<double>(value), 2); }

[[noreturn]] void fail_read(const InputFile& file, const textio::ReadFailure& failure, bool integer_item,
                            std::string_view what) {
  if (failure.number() == runtime::IoFailure::end_of_file) {
    throw InputError(location(file, failure.where()) + ": the file ends before " + std::string(what));
  }
  throw InputError(location(file, failure.where()) + ": " + describe_token(failure, integer_item) + " (" +
                   std::string(what) + ")");
}

void check_count(const InputFile& file, const textio::Reader& reader, std::string_view what, std::int32_t count) {
  if (count <= max_channels) return;
  throw InputError(location(file, reader.value_position()) + ": " + std::string(what) + " " + std::to_string(count) +
                   " exceeds the limit of " + std::to_string(max_channels));
}

} // namespace

RecordReader::RecordReader(std::string_view folder) : measurements_(input_file(folder, measurement_name)) {
  runtime::console().silence();
  read_calibration(input_file(folder, calibration_name));
  reader_ = open_input(measurements_, runtime::unit_measurements);
  read_header();
}

RecordReader::~RecordReader() = default;

void RecordReader::read_calibration(const InputFile& file) {
  const auto reader = open_input(file, runtime::unit_calibration);
  std::string_view what = "the calibration count";
  try {
    for (int line = 0; line < calibration_header_lines; ++line) Statement{*reader};
    Statement{*reader}.item(calibration_count_);
    check_count(file, *reader, "calibration count", calibration_count_);
    std::vector<float> first_array(channel_count(calibration_count_));
    calibration_.assign(std::max(fixed_channels, first_array.size()), 0.0f);
    what = "the first array (wavelengths)";
    Statement{*reader}.items(first_array);
    what = "the calibration signals";
    Statement{*reader}.items(std::span(calibration_).first(first_array.size()));
  } catch (const textio::ReadFailure& failure) {
    fail_read(file, failure, what == "the calibration count", what);
  } catch (const runtime::Failure&) {
    throw InputError(file.shown + ": cannot read");
  }
}

void RecordReader::read_header() {
  std::string_view what = "the channel and measurement counts";
  std::int32_t count = 0;
  try {
    {
      Statement header{*reader_};
      header.item(count);
      check_count(measurements_, *reader_, "channel count", count);
      header.item(declared_);
    }
    channels_ = channel_count(count);
    const std::size_t size = std::max({fixed_channels, channels_});
    wavelength_.assign(size, 0.0f);
    signal_.assign(size, 0.0f);
    dark_.assign(size, 0.0f);
    if (calibration_.size() < size) calibration_.resize(size, 0.0f);
    what = "the wavelengths";
    Statement{*reader_}.items(std::span(wavelength_).first(channels_));
  } catch (const textio::ReadFailure& failure) {
    fail_read(measurements_, failure, what != "the wavelengths", what);
  } catch (const runtime::Failure&) {
    throw InputError(measurements_.shown + ": cannot read");
  }
  angstrom_ = AngstromWindow(wavelengths());
  at_500_ = AotInterpolator(wavelengths(), 500);
  at_550_ = AotInterpolator(wavelengths(), 550);
}

void RecordReader::skip(Record& record, Flag flag, std::string problem) {
  record.flags.set(flag);
  record.problem = std::move(problem);
  std::fill(record.aot.begin(), record.aot.end(), static_cast<float>(not_computed));
}

bool RecordReader::next(Record& record) {
  if (ended_early_ || read_ >= channel_count(declared_)) return false;
  record.number = read_ + 1;
  record.flags.clear();
  record.problem.clear();
  record.has_time = false;
  record.angstrom = record.aot_500 = record.aot_550 = not_computed;
  record.aot.assign(channels_, static_cast<float>(not_computed));
  int field = 0; // fields 0, 1, 2 (day, month, year) are integers
  try {
    Statement statement{*reader_};
    record.where = {reader_->statement_line(), 0};
    statement.item(m_.day);
    record.where = reader_->value_position();
    ++field;
    statement.item(m_.month), ++field;
    statement.item(m_.year), ++field;
    for (float* value : {&m_.hour, &m_.minute, &m_.lon, &m_.lat, &m_.pressure}) statement.item(*value), ++field;
    for (std::size_t i = 0; i < channels_; ++i) {
      statement.item(signal_[i]);
      statement.item(dark_[i]);
    }
  } catch (const textio::ReadFailure& failure) {
    if (failure.number() == runtime::IoFailure::end_of_file) {
      ended_early_ = true;
      end_ = failure.where();
      return false;
    }
    ++read_;
    record.m = m_;
    record.where = failure.where();
    skip(record, Flag::unreadable, describe_token(failure, field < 3));
    return true;
  } catch (const runtime::Failure&) {
    throw InputError(measurements_.shown + ": cannot read");
  }
  ++read_;
  retrieve(record);
  return true;
}

void RecordReader::retrieve(Record& record) {
  record.has_time =
      utc_time(m_.year, m_.month, m_.day, static_cast<double>(m_.hour), static_cast<double>(m_.minute), record.time);
  if (!record.has_time && m_.month >= 1 && m_.month <= 12) record.flags.set(Flag::date_invalid);
  try {
    driver::locate_sun(m_);
  } catch (const runtime::Failure&) {
    record.m = m_;
    skip(record, Flag::sun_too_low,
         "the Sun is " + fixed(m_.zenith - horizon_deg) + " deg below the horizon (zenith " + fixed(m_.zenith) +
             " deg): beyond 96.08 deg tirovan stops, the air mass is undefined");
    return;
  }
  if (m_.zenith > horizon_deg) record.flags.set(Flag::sun_below_horizon);
  for (std::size_t i = 0; i < channels_; ++i) {
    const float corrected = signal_[i] - dark_[i];
    try {
      record.aot[i] = driver::channel_aot(m_, wavelength_[i], calibration_[i], corrected);
    } catch (const driver::OzoneMonthRefused& refused) {
      record.m = m_;
      skip(record, Flag::month_invalid,
           "month " + std::to_string(refused.month) + " is outside 1..12: tirovan stops, no ozone column for it");
      return;
    } catch (const runtime::Failure&) {
      record.m = m_;
      const std::string channel = "channel " + std::to_string(i + 1) + " (" + number(wavelength_[i]) + " nm)";
      if (!(corrected > 0)) {
        skip(record, Flag::signal_not_positive,
             channel + ": dark signal " + number(dark_[i]) + " is not below the signal " + number(signal_[i]) +
                 ": tirovan stops at the logarithm");
      } else if (!(calibration_[i] > 0)) {
        skip(record, Flag::signal_not_positive,
             channel + ": calibration signal " + number(calibration_[i]) + " is not positive" +
                 (i >= channel_count(calibration_count_)
                      ? " (lang.dat calibrates " + std::to_string(calibration_count_) + " channels)"
                      : std::string()) +
                 ": tirovan stops at the logarithm");
      } else {
        skip(record, Flag::wavelength_zero, channel + ": a wavelength of 0 nm stops tirovan");
      }
      return;
    }
  }
  record.m = m_;
  record.angstrom = angstrom_.alpha(record.aot);
  record.aot_500 = at_500_(record.aot);
  record.aot_550 = at_550_(record.aot);
}

} // namespace tirovan::tools
