#include "tools/check.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

#include "driver/retrieval.hpp"
#include "runtime/failure.hpp"
#include "runtime/units.hpp"
#include "solar/solar.hpp"
#include "tools/calendar.hpp"
#include "tools/inputs.hpp"
#include "tools/records.hpp"

#include "text.hpp"

namespace tirovan::tools {
namespace {

using textio::ReadFailure;
using textio::TextPosition;
using Statement = textio::Reader::Statement;

constexpr int calibration_header_lines = 8;
constexpr float horizon_deg = 90.0f;
// Plausible ranges of the values.
constexpr float min_wavelength = 300, max_wavelength = 2500; // [nm]
constexpr float min_pressure = 300, max_pressure = 1100;     // [hPa]
// Two wavelength lists name the same channel within this relative difference
// (a nominal 440 nm against a filter's exact 439.6 nm).
constexpr double same_channel = 0.01;

using text::fixed;
std::string number(float value) { return text::shortest(value); }

// "hh:mm" of a time of day [h], wrapped into 0..24 h.
std::string clock_time(double hours) {
  const auto minutes = static_cast<long>(std::lround(hours * 60.0));
  const long wrapped = ((minutes % 1440) + 1440) % 1440;
  return text::padded(wrapped / 60, 2) + ":" + text::padded(wrapped % 60, 2);
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool is_separator(char c) { return is_blank(c) || c == ',' || c == '/'; }

// The raw lines of a file, read alongside the reader's statements, for
// what the reader itself does not show: a comma between two digits.
class RawLines {
public:
  // Only a regular file is read a second time; a pipe's bytes belong to the reader.
  explicit RawLines(const InputFile& file)
      : fd_(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) { // NOLINT
    struct stat status {};
    if (fd_ >= 0 && (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode))) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~RawLines() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawLines(const RawLines&) = delete;
  RawLines& operator=(const RawLines&) = delete;

  // The next line, without its line end; false at the end of the file.
  bool next(std::string& line) {
    if (fd_ < 0) return false;
    line.clear();
    for (;;) {
      if (pos_ == end_) {
        const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          if (line.empty() && !open_line_) return false;
          break;
        }
        pos_ = 0, end_ = static_cast<std::size_t>(n);
      }
      open_line_ = true;
      const char* start = buffer_.data() + pos_;
      const auto* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - pos_));
      if (newline == nullptr) {
        line.append(start, end_ - pos_);
        pos_ = end_;
        continue;
      }
      line.append(start, static_cast<std::size_t>(newline - start));
      pos_ += static_cast<std::size_t>(newline - start) + 1;
      break;
    }
    open_line_ = false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ++number_;
    return true;
  }

  // Number of the line next() gave last (0 before the first).
  [[nodiscard]] std::uint64_t number() const { return number_; }

private:
  int fd_;
  std::array<char, 1U << 16U> buffer_{};
  std::size_t pos_ = 0, end_ = 0;
  bool open_line_ = false;
  std::uint64_t number_ = 0;
};

// Where the reader took a statement's values: from the line of its first
// value to the token that started at `last` (the rest of that line is
// ignored by the reader).
struct Region {
  std::uint64_t first_line = 0;
  TextPosition last;
};

// A day of measurements at one site, for the local-time check.
struct DaySeries {
  std::int32_t year = 0, month = 0, day = 0;
  float lon = 0, lat = 0;
  TextPosition first;                   // the first record's hour value
  std::vector<double> time, log_signal; // [h] as written; mean ln(signal - dark) over the channels
};

// Least-squares parabola y = c0 + c1 x + c2 x^2.
std::optional<std::array<double, 3>> fit_parabola(const std::vector<double>& x, const std::vector<double>& y) {
  // Normal equations on centred x, solved by Cramer's rule (3 x 3, well
  // conditioned for the few hours of one day).
  std::array<double, 5> s{};
  std::array<double, 3> t{};
  for (std::size_t i = 0; i < x.size(); ++i) {
    double p = 1;
    for (std::size_t k = 0; k < 5; ++k) {
      s[k] += p;
      if (k < 3) t[k] += p * y[i];
      p *= x[i];
    }
  }
  const auto det3 = [](const std::array<double, 9>& m) {
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) + m[2] * (m[3] * m[7] - m[4] * m[6]);
  };
  const std::array<double, 9> a = {s[0], s[1], s[2], s[1], s[2], s[3], s[2], s[3], s[4]};
  const double d = det3(a);
  if (!(std::fabs(d) > 1e-12)) return std::nullopt;
  std::array<double, 3> c{};
  for (std::size_t k = 0; k < 3; ++k) {
    std::array<double, 9> m = a;
    for (std::size_t r = 0; r < 3; ++r) m[r * 3 + k] = t[r];
    c[k] = det3(m) / d;
  }
  return c;
}

class Checker {
public:
  Checker(std::string_view folder, const std::function<void(const Diagnostic&)>& report)
      : calibration_file_(input_file(folder, calibration_name)),
        measurement_file_(input_file(folder, measurement_name)), report_(report) {}

  CheckSummary run() {
    runtime::console().silence();
    check_calibration();
    check_measurements();
    return summary_;
  }

private:
  void emit(const InputFile& file, TextPosition where, Severity severity, std::string_view rule, std::string message) {
    (severity == Severity::error ? summary_.errors : summary_.warnings) += 1;
    pending_.push_back({file.shown, where, severity, std::string(rule), std::move(message)});
  }
  void error(const InputFile& file, TextPosition where, std::string_view rule, std::string message) {
    emit(file, where, Severity::error, rule, std::move(message));
  }
  void warning(const InputFile& file, TextPosition where, std::string_view rule, std::string message) {
    emit(file, where, Severity::warning, rule, std::move(message));
  }
  // Hands on what is pending, in line and column order.
  void flush() {
    std::stable_sort(pending_.begin(), pending_.end(), [](const Diagnostic& a, const Diagnostic& b) {
      return a.where.line != b.where.line ? a.where.line < b.where.line : a.where.column < b.where.column;
    });
    for (const Diagnostic& d : pending_) report_(d);
    pending_.clear();
  }

  void bad_token(const InputFile& file, const ReadFailure& failure, bool integer_item, std::string_view what) {
    if (failure.number() == runtime::IoFailure::end_of_file) {
      error(file, failure.where(), "early-end", "the file ends before " + std::string(what) + ": tirovan stops here");
    } else {
      error(file, failure.where(), "bad-number",
            describe_token(failure, integer_item) + " (in " + std::string(what) + "): tirovan stops here");
    }
  }

  // Reports the digit,digit commas of the lines of `region`.
  void scan_commas(RawLines& raw, const InputFile& file, const Region& region) {
    std::string line;
    while (raw.number() < region.last.line && raw.next(line)) {
      if (raw.number() < region.first_line) continue;
      const std::size_t limit = raw.number() == region.last.line ? region.last.column : line.size();
      scan_line(file, raw.number(), line, limit);
    }
  }

  void scan_line(const InputFile& file, std::uint64_t line_number, const std::string& line, std::size_t limit) {
    // Tokens that start at columns 1..limit are read; a comma with a digit
    // on both sides splits what was meant as one number. Lines that
    // separate every value by commas alone are comma-separated lists.
    bool blank_between_values = false;
    bool seen_token = false;
    std::vector<std::size_t> commas;
    std::size_t token_start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (is_separator(c)) {
        if (c == ',' && i > 0 && i + 1 < line.size() && textio::is_digit(line[i - 1]) &&
            textio::is_digit(line[i + 1]) && token_start + 1 <= limit) {
          commas.push_back(i);
        }
        continue;
      }
      if (i == 0 || is_separator(line[i - 1])) {
        if (i + 1 > limit) break;
        token_start = i;
        if (seen_token && i > 0 && is_blank(line[i - 1])) blank_between_values = true;
        seen_token = true;
      }
    }
    if (!blank_between_values) return;
    for (const std::size_t comma : commas) {
      std::size_t start = comma;
      while (start > 0 && !is_separator(line[start - 1])) --start;
      std::size_t end = comma + 1;
      while (end < line.size() && !is_separator(line[end])) ++end;
      const std::string_view before(line.data() + start, comma - start);
      const std::string_view after(line.data() + comma + 1, end - comma - 1);
      error(file, {line_number, start + 1}, "decimal-comma",
            quote_token(line.substr(start, end - start)) + " is read as two values, " + std::string(before) + " and " +
                std::string(after) + "; for a decimal point write " + std::string(before) + "." + std::string(after));
    }
  }

  void check_calibration() {
    std::unique_ptr<textio::Reader> reader;
    try {
      reader = open_input(calibration_file_, runtime::unit_calibration);
    } catch (const InputError& e) {
      error(calibration_file_, {}, "open", std::string(e.what()).substr(calibration_file_.shown.size() + 2));
      flush();
      return;
    }
    RawLines raw(calibration_file_);
    std::string_view what = "the calibration count";
    bool integer_item = true;
    try {
      for (int line = 0; line < calibration_header_lines; ++line) Statement{*reader};
      {
        Statement statement{*reader};
        statement.item(calibration_count_);
      }
      count_position_ = reader->value_position();
      scan_commas(raw, calibration_file_, {count_position_.line, count_position_});
      if (calibration_count_ > max_channels) {
        error(calibration_file_, count_position_, "count-limit",
              "calibration count " + std::to_string(calibration_count_) + " exceeds the limit of " +
                  std::to_string(max_channels) + ": tirovan stops here");
        flush();
        return;
      }
      const std::size_t n = calibration_count_ > 0 ? static_cast<std::size_t>(calibration_count_) : 0;
      what = "the first array (wavelengths)", integer_item = false;
      read_array(*reader, raw, calibration_file_, n, lang_wavelength_, lang_wavelength_at_);
      what = "the calibration signals";
      read_array(*reader, raw, calibration_file_, n, calibration_, calibration_at_);
      calibration_read_ = true;
    } catch (const ReadFailure& failure) {
      bad_token(calibration_file_, failure, integer_item, what);
    } catch (const runtime::Failure&) {
      error(calibration_file_, {}, "open", "cannot be read");
    }
    for (std::size_t i = 0; i < calibration_.size(); ++i) {
      if (!(calibration_[i] > 0)) {
        error(calibration_file_, calibration_at_[i], "calibration",
              "calibration signal of channel " + std::to_string(i + 1) + " is " + number(calibration_[i]) +
                  ", not positive: tirovan stops at its logarithm");
      }
    }
    // The first array is a wavelength list when every value could be one.
    lang_lists_wavelengths_ =
        !lang_wavelength_.empty() && std::all_of(lang_wavelength_.begin(), lang_wavelength_.end(),
                                                 [](float w) { return w >= min_wavelength && w <= max_wavelength; });
    flush();
  }

  // One read statement of `n` reals, each value's position kept.
  void read_array(textio::Reader& reader, RawLines& raw, const InputFile& file, std::size_t n,
                  std::vector<float>& values, std::vector<TextPosition>& where) {
    values.assign(n, 0.0f);
    where.assign(n, TextPosition{});
    Region region;
    try {
      Statement statement{reader};
      region.first_line = reader.statement_line();
      for (std::size_t i = 0; i < n; ++i) {
        statement.item(values[i]);
        where[i] = reader.value_position();
        if (i == 0) region.first_line = where[i].line;
      }
      region.last = n > 0 ? where[n - 1] : TextPosition{reader.statement_line(), 0};
    } catch (const ReadFailure& failure) {
      if (failure.number() != runtime::IoFailure::end_of_file) {
        scan_commas(raw, file, {region.first_line, failure.where()});
      }
      throw;
    }
    scan_commas(raw, file, region);
  }

  void check_measurements() {
    std::unique_ptr<textio::Reader> reader;
    try {
      reader = open_input(measurement_file_, runtime::unit_measurements);
    } catch (const InputError& e) {
      error(measurement_file_, {}, "open", std::string(e.what()).substr(measurement_file_.shown.size() + 2));
      flush();
      return;
    }
    RawLines raw(measurement_file_);
    if (!check_header(*reader, raw)) {
      flush();
      return;
    }
    std::uint64_t records = 0;
    const auto declared = static_cast<std::uint64_t>(std::max(declared_, 0));
    for (; records < declared; ++records) {
      if (!check_record(*reader, raw, records + 1)) break;
      flush();
    }
    summary_.records = records;
    finish_day();
    if (records == declared) check_trailing_lines(raw);
    flush();
  }

  bool check_header(textio::Reader& reader, RawLines& raw) {
    std::int32_t channel_count = 0;
    TextPosition channel_at, declared_at;
    std::string_view what = "the channel and measurement counts";
    try {
      {
        Statement statement{reader};
        statement.item(channel_count);
        channel_at = reader.value_position();
        statement.item(declared_);
        declared_at = reader.value_position();
      }
      scan_commas(raw, measurement_file_, {channel_at.line, declared_at});
      if (channel_count > max_channels) {
        error(measurement_file_, channel_at, "count-limit",
              "channel count " + std::to_string(channel_count) + " exceeds the limit of " +
                  std::to_string(max_channels) + ": tirovan stops here");
        return false;
      }
      channels_ = channel_count > 0 ? static_cast<std::size_t>(channel_count) : 0;
      if (calibration_read_ && channel_count != calibration_count_) {
        error(measurement_file_, channel_at, "channel-count",
              "dane.dat has " + std::to_string(channel_count) + " channels but lang.dat calibrates " +
                  std::to_string(calibration_count_) + " (" + location(calibration_file_, count_position_) +
                  "): channels are paired by position");
      }
      if (declared_ <= 0) {
        warning(measurement_file_, declared_at, "record-count",
                "measurement count " + std::to_string(declared_) + ": tirovan reads no record");
      }
      what = "the wavelengths";
      read_array(reader, raw, measurement_file_, channels_, wavelength_, wavelength_at_);
    } catch (const ReadFailure& failure) {
      bad_token(measurement_file_, failure, what != "the wavelengths", what);
      return false;
    } catch (const runtime::Failure&) {
      error(measurement_file_, {}, "open", "cannot be read");
      return false;
    }
    check_wavelengths();
    flush();
    return true;
  }

  void check_wavelengths() {
    for (std::size_t i = 0; i < channels_; ++i) {
      const float w = wavelength_[i];
      const std::string channel = "channel " + std::to_string(i + 1);
      if (w * 0.001f == 0.0f) {
        error(measurement_file_, wavelength_at_[i], "wavelength-zero",
              channel + " has wavelength " + number(w) + " nm: tirovan stops (zero raised to a negative power)");
      } else if (!(w >= min_wavelength && w <= max_wavelength)) {
        warning(measurement_file_, wavelength_at_[i], "wavelength-range",
                channel + " has wavelength " + number(w) + " nm, outside 300-2500 nm (nanometres expected)");
      }
    }
    if (!lang_lists_wavelengths_) return;
    const auto same = [](float a, float b) {
      return std::fabs(static_cast<double>(a) - static_cast<double>(b)) <= same_channel * static_cast<double>(b);
    };
    const std::size_t n = std::min(channels_, lang_wavelength_.size());
    for (std::size_t i = 0; i < n; ++i) {
      if (same(wavelength_[i], lang_wavelength_[i])) continue;
      const bool elsewhere = std::any_of(lang_wavelength_.begin(), lang_wavelength_.end(),
                                         [&](float w) { return same(wavelength_[i], w); });
      if (elsewhere) {
        error(measurement_file_, wavelength_at_[i], "channel-order",
              "wavelengths " + text::list(std::span(wavelength_).first(channels_)) +
                  " are not in the order of lang.dat's list " + text::list(lang_wavelength_) + " (" +
                  location(calibration_file_, lang_wavelength_at_[0]) +
                  "): calibration signals are paired with channels by position");
        return;
      }
      warning(measurement_file_, wavelength_at_[i], "wavelength-differs",
              "channel " + std::to_string(i + 1) + " is " + number(wavelength_[i]) + " nm here but " +
                  number(lang_wavelength_[i]) + " nm in lang.dat (" +
                  location(calibration_file_, lang_wavelength_at_[i]) + ")");
    }
  }

  // One measurement record; false when the file has ended.
  bool check_record(textio::Reader& reader, RawLines& raw, std::uint64_t number_in_file) {
    const std::size_t fields = 8 + 2 * channels_;
    if (field_at_.size() < fields) {
      field_at_.resize(fields);
      signal_.resize(channels_);
      dark_.resize(channels_);
    }
    Region region;
    std::size_t field = 0;
    try {
      Statement statement{reader};
      region.first_line = reader.statement_line();
      const auto next = [&](auto& value) {
        statement.item(value);
        field_at_[field] = reader.value_position();
        if (field == 0) region.first_line = field_at_[0].line;
        ++field;
      };
      next(m_.day), next(m_.month), next(m_.year);
      next(m_.hour), next(m_.minute), next(m_.lon), next(m_.lat), next(m_.pressure);
      for (std::size_t i = 0; i < channels_; ++i) next(signal_[i]), next(dark_[i]);
      region.last = field_at_[fields - 1];
    } catch (const ReadFailure& failure) {
      if (failure.number() == runtime::IoFailure::end_of_file) {
        const std::uint64_t complete = number_in_file - 1;
        error(measurement_file_, failure.where(), "early-end",
              "the file ends after " + std::to_string(complete) + " of the " + std::to_string(declared_) +
                  " declared records: tirovan stops here (end of file)");
        return false;
      }
      scan_commas(raw, measurement_file_, {region.first_line, failure.where()});
      error(measurement_file_, failure.where(), "bad-number",
            describe_token(failure, field < 3) + " (record " + std::to_string(number_in_file) +
                "): tirovan stops here");
      return true;
    } catch (const runtime::Failure&) {
      error(measurement_file_, {}, "open", "cannot be read");
      return false;
    }
    scan_commas(raw, measurement_file_, region);
    check_values();
    return true;
  }

  [[nodiscard]] TextPosition at(std::size_t field) const { return field_at_[field]; }

  void check_values() {
    enum : std::size_t { day, month, year, hour, minute, lon, lat, pressure };
    const bool month_ok = m_.month >= 1 && m_.month <= 12;
    if (!month_ok) {
      error(measurement_file_, at(month), "month",
            "month " + std::to_string(m_.month) + " is outside 1..12: tirovan stops here (no ozone column)");
    } else if (!is_valid_date(m_.year, m_.month, m_.day)) {
      error(measurement_file_, at(day), "day",
            "day " + std::to_string(m_.day) + " does not exist in month " + std::to_string(m_.month) + " of " +
                std::to_string(m_.year) + " (" + std::to_string(days_in_month(m_.year, m_.month)) + " days)");
    }
    if (!(m_.hour >= 0 && m_.hour <= 24)) {
      warning(measurement_file_, at(hour), "hour", "hour " + number(m_.hour) + " is outside 0-24");
    }
    if (!(m_.minute >= 0 && m_.minute < 60)) {
      warning(measurement_file_, at(minute), "minute", "minute " + number(m_.minute) + " is outside 0-59");
    }
    if (!(m_.lon >= -180 && m_.lon <= 180)) {
      error(measurement_file_, at(lon), "longitude", "longitude " + number(m_.lon) + " is outside -180..180 deg");
    }
    if (!(m_.lat >= -90 && m_.lat <= 90)) {
      error(measurement_file_, at(lat), "latitude", "latitude " + number(m_.lat) + " is outside -90..90 deg");
    }
    if (!(m_.pressure >= min_pressure && m_.pressure <= max_pressure)) {
      warning(measurement_file_, at(pressure), "pressure",
              "pressure " + number(m_.pressure) + " hPa is outside 300-1100 hPa");
    }
    bool all_positive = channels_ > 0;
    double log_sum = 0;
    for (std::size_t i = 0; i < channels_; ++i) {
      const float corrected = signal_[i] - dark_[i]; // as tirovan forms it
      if (!(corrected > 0)) {
        all_positive = false;
        error(measurement_file_, at(8 + 2 * i + 1), "dark-signal",
              "dark signal " + number(dark_[i]) + " of channel " + std::to_string(i + 1) + " is not below its signal " +
                  number(signal_[i]) + ": tirovan stops at the logarithm");
      } else {
        log_sum += std::log(static_cast<double>(corrected));
      }
    }
    if (!month_ok) return;
    driver::Measurement sun = m_;
    try {
      driver::locate_sun(sun);
    } catch (const runtime::Failure&) {
      error(measurement_file_, at(hour), "sun-too-low",
            "the Sun is " + fixed(static_cast<double>(sun.zenith - horizon_deg), 2) +
                " deg below the horizon at this time (UT): beyond 6 deg tirovan stops (no air mass)");
      return;
    }
    if (sun.zenith > horizon_deg) {
      warning(measurement_file_, at(hour), "sun-below-horizon",
              "the Sun is " + fixed(static_cast<double>(sun.zenith - horizon_deg), 2) +
                  " deg below the horizon at this time (UT)");
    }
    if (all_positive) add_to_day(static_cast<double>(sun.time), log_sum / static_cast<double>(channels_));
  }

  // Local time instead of UT shifts the whole day: the signals peak (the
  // Sun is highest) a whole number of hours away from solar noon at the
  // site's longitude.
  void add_to_day(double time, double log_signal) {
    if (day_.time.empty() || day_.year != m_.year || day_.month != m_.month || day_.day != m_.day ||
        day_.lon != m_.lon || day_.lat != m_.lat) {
      finish_day();
      day_.year = m_.year, day_.month = m_.month, day_.day = m_.day, day_.lon = m_.lon, day_.lat = m_.lat;
      day_.first = at(3);
    }
    day_.time.push_back(time);
    day_.log_signal.push_back(log_signal);
  }

  void finish_day() {
    const std::optional<double> peak = signal_peak(day_);
    if (peak) {
      const double noon = solar_noon(day_);
      double offset = *peak - noon;
      offset -= 24.0 * std::round(offset / 24.0);
      const double zone = std::round(offset);
      if (zone != 0 && std::fabs(offset - zone) <= 20.0 / 60.0) {
        const auto hours = static_cast<long>(zone);
        warning(measurement_file_, day_.first, "local-time",
                "times of " + format_date({day_.year, day_.month, day_.day}) + " look like local time (UTC" +
                    (hours > 0 ? "+" : "") + std::to_string(hours) + "): the signals peak at " + clock_time(*peak) +
                    ", solar noon at longitude " + number(day_.lon) + " is " + clock_time(noon) + " UT");
      }
    }
    day_.time.clear();
    day_.log_signal.clear();
  }

  // Time [h] of the highest Sun as the signals show it: the vertex of a
  // parabola through ln(signal) within 3 h of its largest value, when the
  // series runs at least an hour past it on both sides.
  static std::optional<double> signal_peak(const DaySeries& d) {
    constexpr std::size_t min_points = 6;
    constexpr double window = 3.0, margin = 1.0; // [h]
    if (d.time.size() < min_points) return std::nullopt;
    const auto top =
        static_cast<std::size_t>(std::max_element(d.log_signal.begin(), d.log_signal.end()) - d.log_signal.begin());
    const double t0 = d.time[top];
    std::vector<double> x, y;
    double earliest = t0, latest = t0;
    for (std::size_t i = 0; i < d.time.size(); ++i) {
      if (std::fabs(d.time[i] - t0) > window) continue;
      x.push_back(d.time[i] - t0), y.push_back(d.log_signal[i]);
      earliest = std::min(earliest, d.time[i]), latest = std::max(latest, d.time[i]);
    }
    if (x.size() < min_points) return std::nullopt;
    const auto c = fit_parabola(x, y);
    if (!c || !((*c)[2] < 0)) return std::nullopt;
    const double vertex = t0 - (*c)[1] / (2 * (*c)[2]);
    if (!(earliest <= vertex - margin && latest >= vertex + margin)) return std::nullopt;
    return vertex;
  }

  // Time [h UT] of the smallest solar zenith angle at the day's site, by
  // tirovan's own solar position, to the minute.
  static double solar_noon(const DaySeries& d) {
    const double guess = 12.0 - static_cast<double>(d.lon) / 15.0;
    double best = guess, best_zenith = 1e9;
    for (int minute = -90; minute <= 90; ++minute) {
      const double t = guess + minute / 60.0;
      float zenith = 0, azimuth = 0;
      POSSOL(d.month, d.day, static_cast<float>(t), d.lon, d.lat, zenith, azimuth);
      if (static_cast<double>(zenith) < best_zenith) best_zenith = static_cast<double>(zenith), best = t;
    }
    return best;
  }

  // Lines after the last declared record that start with a number: more
  // records than the count says, never read by tirovan.
  void check_trailing_lines(RawLines& raw) {
    std::string line;
    std::uint64_t extra = 0;
    TextPosition first;
    while (raw.next(line)) {
      const std::size_t start = line.find_first_not_of(" \t,");
      if (start == std::string::npos) continue;
      std::size_t end = start;
      while (end < line.size() && !is_separator(line[end])) ++end;
      float value = 0;
      if (textio::parse_real(std::string_view(line).substr(start, end - start), value) != textio::TokenStatus::ok)
        continue;
      if (extra++ == 0) first = {raw.number(), start + 1};
    }
    if (extra == 0) return;
    error(measurement_file_, first, "extra-records",
          std::to_string(extra) + (extra == 1 ? " line" : " lines") + " after the " + std::to_string(declared_) +
              " declared records hold numbers that tirovan never reads (the measurement count is too small?)");
  }

  InputFile calibration_file_, measurement_file_;
  const std::function<void(const Diagnostic&)>& report_;
  CheckSummary summary_;
  std::vector<Diagnostic> pending_;

  // lang.dat
  bool calibration_read_ = false, lang_lists_wavelengths_ = false;
  std::int32_t calibration_count_ = 0;
  TextPosition count_position_;
  std::vector<float> lang_wavelength_, calibration_;
  std::vector<TextPosition> lang_wavelength_at_, calibration_at_;

  // dane.dat
  std::size_t channels_ = 0;
  std::int32_t declared_ = 0;
  std::vector<float> wavelength_, signal_, dark_;
  std::vector<TextPosition> wavelength_at_, field_at_;
  driver::Measurement m_; // kept from record to record, as tirovan keeps it
  DaySeries day_;
};

} // namespace

std::string format_diagnostic(const Diagnostic& d) {
  std::string text = d.file;
  if (d.where.line > 0) {
    text.append(":").append(std::to_string(d.where.line));
    if (d.where.column > 0) text.append(":").append(std::to_string(d.where.column));
  }
  text.append(d.severity == Severity::error ? ": error: " : ": warning: ").append(d.message);
  return text.append(" [").append(d.rule).append("]");
}

CheckSummary check_inputs(std::string_view folder, const std::function<void(const Diagnostic&)>& report) {
  return Checker(folder, report).run();
}

} // namespace tirovan::tools
