#include "tools/check.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include <CLI/CLI.hpp>

#include "analysis/calendar.hpp"
#include "analysis/statistics.hpp"
#include "driver/input_files.hpp"
#include "driver/retrieval.hpp"
#include "runtime/failure.hpp"
#include "solar/solar.hpp"
#include "tools/inputs.hpp"
#include "tools/records.hpp"

#include "text.hpp"

namespace tirovan::tools {
namespace {

using driver::max_channels;
using textio::ReadFailure;
using textio::TextNote;
using textio::TextPosition;

constexpr float horizon_deg = 90.0f;
// Plausible ranges of the values.
constexpr float min_wavelength = 300, max_wavelength = 2500; // [nm]
constexpr double hpa_per_mmhg = 1.333224;
constexpr std::size_t min_spectrum_channels = 4; // the channel and three others for the fit
constexpr std::size_t min_day_records = 3;       // records of a day for the air-mass rule
using limits::aot_ceiling;
using limits::aot_floor;
// Two wavelength lists name the same channel within this relative difference
// (a nominal 440 nm against a filter's exact 439.6 nm).
constexpr double same_channel = 0.01;

using text::fixed;
std::string number(float value) { return text::shortest(value); }
std::string number(double value) { return text::fixed(value, 3); }

constexpr const char* aot_causes =
    "check that times are UT (not local time), longitude is east-positive, V0 is this instrument's, "
    "signals and V0 are in one unit, and pressure is in hPa";

// A lone whole number ("5", " 5 ", "5\r"): a count, not text.
bool lone_integer(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return false;
  const auto last = text.find_last_not_of(" \t\r");
  const std::string_view token = text.substr(first, last - first + 1);
  return std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Lines of text before the first line that starts with a number, among
// the header lines the core's reader passed over (all of them when none
// does).
std::size_t leading_text_lines(const std::vector<std::string>& header) {
  std::size_t lines = 0;
  for (std::string line : header) {
    if (lines == 0 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    const auto first = line.find_first_not_of(" \t");
    if (first != std::string::npos &&
        ((line[first] >= '0' && line[first] <= '9') || line[first] == '-' || line[first] == '+' || line[first] == '.'))
      break;
    ++lines;
  }
  return lines;
}

const char* const field_names[] = {"day", "month", "year", "hour", "minute", "longitude", "latitude", "pressure"};
std::string field_name(std::size_t field) {
  if (field < driver::leading_fields) return field_names[field];
  const std::size_t channel = (field - driver::leading_fields) / 2 + 1;
  return ((field - driver::leading_fields) % 2 == 0 ? "signal " : "dark ") + std::to_string(channel);
}

// "hh:mm" of a time of day [h], wrapped into 0..24 h.
std::string clock_time(double hours) {
  const auto minutes = static_cast<long>(std::lround(hours * 60.0));
  const long wrapped = ((minutes % 1440) + 1440) % 1440;
  return text::padded(wrapped / 60, 2) + ":" + text::padded(wrapped % 60, 2);
}

// A day of measurements at one site, for the local-time and air-mass checks.
struct DaySeries {
  std::int32_t year = 0, month = 0, day = 0;
  float lon = 0, lat = 0;
  TextPosition first;                   // the first record's hour value
  std::vector<double> time, log_signal; // [h] as written; mean ln(signal - dark) over the channels
  // Per channel: AOT against 1 / air mass, and the range of 1 / m.
  std::vector<analysis::LineSums> aot_on_inverse_mass;
  std::vector<double> low_x, high_x;
};

class Checker {
public:
  Checker(std::string_view folder, const std::function<void(const Diagnostic&)>& report)
      : calibration_file_(input_file(folder, calibration_name)),
        measurement_file_(input_file(folder, measurement_name)), report_(report) {}

  CheckSummary run() {
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

  // The digit commas the reader noted on lines whose values are otherwise
  // separated by blanks: "52,2" meant as one number is read as two. (A line
  // of values separated by commas alone is a comma-separated list.)
  void report_notes(const InputFile& file, std::vector<TextNote>& notes, bool in_record = false) {
    // A comma after a statement's last value is noted when the next
    // statement begins: the line's blanks may have come in the batch before.
    std::set<std::uint64_t> blank_lines = {last_blank_line_};
    for (const TextNote& note : notes) {
      if (note.kind != TextNote::Kind::blank_separator) continue;
      blank_lines.insert(note.where.line);
      last_blank_line_ = note.where.line;
    }
    for (const TextNote& note : notes) {
      if (note.kind == TextNote::Kind::null_value || note.kind == TextNote::Kind::slash) {
        if (!in_record) unset_value(file, note);
        continue;
      }
      if (note.kind != TextNote::Kind::digit_comma || !blank_lines.contains(note.where.line)) continue;
      error(file, note.where, "decimal-comma",
            quote_token(note.before + "," + note.after) + " is read as two values, " + note.before + " and " +
                note.after + "; for a decimal point write " + note.before + "." + note.after);
    }
    if (in_record) record_unset_values(notes);
    notes.clear();
  }

  // A null value or a slash outside the records: the item keeps what it
  // had (zero at the start).
  void unset_value(const InputFile& file, const TextNote& note) {
    const bool slash = note.kind == TextNote::Kind::slash;
    error(file, note.where, slash ? "slash" : "null-value",
          std::string(slash ? "a slash ends the statement early" : "an empty value (',,' or 'n*')") +
              ": the items it leaves keep their earlier value (0 at the start), not a value of this line");
  }

  // Null values and a slash in a record: each null leaves the next unset
  // field, a slash all fields after it; tirovan reuses the previous
  // record's values for them.
  void record_unset_values(const std::vector<TextNote>& notes) {
    const std::span<const std::uint8_t> given = file_->given();
    const bool first = record_ == 1;
    const std::string previous = first ? "value from before the first record (0)" : "previous record's value";
    const std::string previous_all = first ? "values from before the first record (0)" : "previous record's values";
    std::size_t field = 0;
    const auto next_unset = [&] {
      while (field < given.size() && given[field] != 0) ++field;
      return field;
    };
    for (const TextNote& note : notes) {
      if (note.kind == TextNote::Kind::null_value) {
        const std::size_t f = next_unset();
        if (f >= given.size()) continue;
        error(measurement_file_, note.where, "null-value",
              "an empty value (',,' or 'n*') leaves " + field_name(f) + " unset: tirovan reuses the " + previous +
                  (f >= driver::leading_fields && f % 2 == 0 ? " (its dark-corrected signal, corrected again)" : ""));
        ++field;
      } else if (note.kind == TextNote::Kind::slash) {
        const std::size_t f = next_unset();
        if (f >= given.size()) continue;
        error(measurement_file_, note.where, "slash",
              "a slash ends the record before " + field_name(f) + ": for " + std::to_string(given.size() - f) +
                  (given.size() - f == 1 ? " field" : " fields") + " tirovan reuses the " + previous_all);
        field = given.size();
      }
    }
  }

  void bad_part(const InputFile& file, const ReadFailure& failure, driver::InputPart part) {
    bad_token(file, failure, integer_part(part), part_name(part));
  }

  void check_calibration() {
    std::unique_ptr<driver::InputText> reader;
    try {
      reader = open_input(calibration_file_, runtime::unit_calibration, {true, true});
    } catch (const Error& e) {
      error(calibration_file_, {}, "open", std::string(e.what()).substr(calibration_file_.shown.size() + 2));
      flush();
      return;
    }
    try {
      driver::Calibration c = driver::read_calibration(*reader);
      calibration_count_ = c.count;
      count_position_ = c.count_at;
      lang_wavelength_.assign(c.aux.begin(), c.aux.begin() + static_cast<std::ptrdiff_t>(c.aux_at.size()));
      calibration_.assign(c.signal.begin(), c.signal.begin() + static_cast<std::ptrdiff_t>(c.signal_at.size()));
      lang_wavelength_at_ = std::move(c.aux_at);
      calibration_at_ = std::move(c.signal_at);
      calibration_read_ = true;
    } catch (const ReadFailure& failure) {
      report_notes(calibration_file_, reader->notes());
      if (!header_lines_wrong(*reader, failure.number() == runtime::IoFailure::syntax_error &&
                                           reader->part() == driver::InputPart::calibration_count))
        bad_part(calibration_file_, failure, reader->part());
      flush();
      return;
    } catch (const runtime::Failure& failure) {
      error(calibration_file_, reader->value_position(), "count-limit",
            failure_text(calibration_file_, *reader, failure)
                    .substr(location(calibration_file_, reader->value_position()).size() + 2) +
                ": tirovan stops here");
      flush();
      return;
    }
    report_notes(calibration_file_, reader->notes());
    header_lines_wrong(*reader, false);
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
    if (calibration_read_ && !lang_lists_wavelengths_ && !lang_wavelength_at_.empty()) {
      warning(calibration_file_, lang_wavelength_at_[0], "lang-wavelengths",
              "lang.dat's wavelength line " + text::list(lang_wavelength_) +
                  " holds no wavelengths in nm (placeholders?): the order of its calibration signals cannot be "
                  "compared with dane.dat's channels");
    }
    flush();
  }

  // lang.dat with 7 or 9 lines of text before the count: the count line
  // taken as the eighth text line, or a text line read as the count.
  // `count_is_text`: the count statement met text. True when reported.
  bool header_lines_wrong(const driver::InputText& reader, bool count_is_text) {
    const std::vector<std::string>& header = reader.header_texts();
    const bool count_in_header = header.size() == driver::calibration_header_lines && lone_integer(header.back());
    if (!count_in_header && !count_is_text) return false;
    // Eight lines passed over and the count met text: at least nine.
    const std::size_t lines = count_is_text ? header.size() + 1 : leading_text_lines(header);
    if (lines == static_cast<std::size_t>(driver::calibration_header_lines)) return false;
    error(calibration_file_, {lines + 1, 1}, "lang-header",
          "lang.dat has " + std::to_string(lines) + " lines of text before the count; it needs 8 (" +
              (count_in_header ? "the count " + header.back() + " is read as text and a wavelength as the count)"
                               : "a line of text is read as the count)"));
    return true;
  }

  void check_measurements() {
    last_blank_line_ = 0;
    try {
      file_ = open_measurements(measurement_file_, {true, true});
    } catch (const Error& e) {
      error(measurement_file_, {}, "open", std::string(e.what()).substr(measurement_file_.shown.size() + 2));
      flush();
      return;
    }
    if (!check_header()) {
      flush();
      return;
    }
    std::uint64_t records = 0;
    const auto declared = static_cast<std::uint64_t>(std::max(declared_, 0));
    for (; records < declared; ++records) {
      if (!check_record(records + 1)) break;
      flush();
    }
    summary_.records = records;
    finish_day();
    if (records == declared) check_trailing_lines();
    flush();
  }

  bool check_header() {
    driver::MeasurementFile& file = *file_;
    try {
      file.read_header();
    } catch (const ReadFailure& failure) {
      report_notes(measurement_file_, file.notes());
      if (file.starts_with_byte_order_mark() || failure.token().starts_with("\xEF\xBB\xBF")) {
        error(measurement_file_, failure.where(), "byte-order-mark",
              "dane.dat starts with a byte-order mark (bytes EF BB BF) that tirovan reads as part of the channel "
              "count: save the file without it (UTF-8 without BOM, or plain ASCII)");
      } else {
        bad_part(measurement_file_, failure, file.part());
      }
      return false;
    } catch (const runtime::Failure& failure) {
      const TextPosition at = file.channel_count_at();
      const std::string text = failure_text(measurement_file_, file, failure);
      error(measurement_file_, at, "count-limit",
            text.substr(location(measurement_file_, file.value_position()).size() + 2) + ": tirovan stops here");
      return false;
    }
    report_notes(measurement_file_, file.notes());
    const std::int32_t channel_count = file.channel_count();
    const TextPosition channel_at = file.channel_count_at(), declared_at = file.measurement_count_at();
    declared_ = file.measurement_count();
    channels_ = file.channels();
    wavelength_.assign(file.wavelengths().begin(), file.wavelengths().end());
    wavelength_at_.assign(file.wavelength_at().begin(), file.wavelength_at().end());
    if (calibration_read_ && channel_count != calibration_count_) {
      error(measurement_file_, channel_at, "channel-count",
            "dane.dat has " + std::to_string(channel_count) + " channels but lang.dat calibrates " +
                std::to_string(calibration_count_) + " (" + location(calibration_file_, count_position_) +
                "): channels are paired by position");
    }
    if (channel_count <= 0) {
      error(measurement_file_, channel_at, "channel-count",
            "channel count " + std::to_string(channel_count) + ": tirovan retrieves no channel");
    }
    if (declared_ <= 0) {
      warning(measurement_file_, declared_at, "record-count",
              "measurement count " + std::to_string(declared_) + ": tirovan reads no record");
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
      } else if (limits::wavelength_in_micrometres(static_cast<double>(w))) {
        wavelengths_usable_ = false;
        error(measurement_file_, wavelength_at_[i], "wavelength-units",
              channel + " has wavelength " + number(w) + ", below 200 nm: wavelengths are in nanometres (" +
                  number(w * 1000.0f) + " nm, not " + number(w) + " um)");
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
  bool check_record(std::uint64_t number_in_file) {
    driver::MeasurementFile& file = *file_;
    try {
      file.read_record();
    } catch (const ReadFailure& failure) {
      report_notes(measurement_file_, file.notes());
      if (failure.number() == runtime::IoFailure::end_of_file) {
        const std::uint64_t complete = number_in_file - 1;
        error(measurement_file_, failure.where(), "early-end",
              "the file ends after " + std::to_string(complete) + " of the " + std::to_string(declared_) +
                  " declared records: tirovan stops here (end of file)");
        return false;
      }
      error(measurement_file_, failure.where(), "bad-number",
            describe_token(failure, file.fields_read() < 3) + " (record " + std::to_string(number_in_file) +
                "): tirovan stops here");
      return true;
    } catch (const runtime::Failure&) {
      error(measurement_file_, {}, "open", "cannot be read");
      return false;
    }
    record_ = number_in_file;
    report_notes(measurement_file_, file.notes(), true);
    m_ = file.measurement();
    check_values();
    return true;
  }

  [[nodiscard]] TextPosition at(std::size_t field) const { return file_->field_at()[field]; }

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
    // An hour or minute out of range is a typing error, not a Sun below
    // the horizon: the Sun is not looked at.
    const bool hour_ok = limits::hour_valid(static_cast<double>(m_.hour));
    const bool minute_ok = limits::minute_valid(static_cast<double>(m_.minute));
    if (!hour_ok) {
      error(measurement_file_, at(hour), "hour",
            "hour " + number(m_.hour) + " is outside 0-23 (UT): tirovan computes the Sun for an impossible time");
    }
    if (!minute_ok) {
      error(measurement_file_, at(minute), "minute",
            "minute " + number(m_.minute) + " is outside 0-59: tirovan computes the Sun for another time");
    }
    if (!(m_.lon >= -180 && m_.lon <= 180)) {
      error(measurement_file_, at(lon), "longitude", "longitude " + number(m_.lon) + " is outside -180..180 deg");
    }
    if (!(m_.lat >= -90 && m_.lat <= 90)) {
      error(measurement_file_, at(lat), "latitude", "latitude " + number(m_.lat) + " is outside -90..90 deg");
    }
    if (!limits::pressure_valid(static_cast<double>(m_.pressure))) {
      error(measurement_file_, at(pressure), "pressure",
            "pressure " + number(m_.pressure) + " hPa is outside 500-1100 hPa" +
                (m_.pressure >= 50 && m_.pressure <= 110 ? " (kPa? " + number(m_.pressure * 10.0f) + " hPa)" : "") +
                ": the Rayleigh optical depth is wrong");
    } else if (limits::pressure_maybe_mmhg(static_cast<double>(m_.pressure))) {
      warning(measurement_file_, at(pressure), "pressure-mmhg",
              "pressure " + number(m_.pressure) + " hPa is that of a high mountain station; if it is mmHg, it is " +
                  fixed(static_cast<double>(m_.pressure) * hpa_per_mmhg, 1) + " hPa");
    }
    bool all_positive = channels_ > 0;
    double log_sum = 0;
    const std::span<const float> corrected_signal = file_->signals(), dark = file_->darks();
    const std::span<const float> signal = file_->raw_signals();
    for (std::size_t i = 0; i < channels_; ++i) {
      const float corrected = corrected_signal[i]; // as tirovan forms it
      if (!std::isfinite(corrected)) {
        all_positive = false;
        error(measurement_file_, at(8 + 2 * i), "not-finite",
              "channel " + std::to_string(i + 1) + ": signal " + number(signal[i]) + " minus dark " + number(dark[i]) +
                  " is " + number(corrected) + " in single precision: tirovan's AOT is not finite");
      } else if (!(corrected > 0)) {
        all_positive = false;
        error(measurement_file_, at(8 + 2 * i + 1), "dark-signal",
              "dark signal " + number(dark[i]) + " of channel " + std::to_string(i + 1) + " is not below its signal " +
                  number(signal[i]) + ": tirovan stops at the logarithm");
      } else {
        log_sum += std::log(static_cast<double>(corrected));
      }
    }
    aot_.assign(channels_, std::numeric_limits<double>::quiet_NaN());
    if (!month_ok || !hour_ok || !minute_ok) return;
    driver::Measurement sun = m_;
    const driver::SunResult located = driver::locate_sun(sun);
    if (located.stop) {
      error(measurement_file_, at(hour), "sun-too-low",
            located.stop->cause == driver::StopCause::solar_position
                ? std::string("no solar position for this time and place: tirovan stops")
                : "the Sun is " + fixed(static_cast<double>(sun.zenith - horizon_deg), 2) +
                      " deg below the horizon at this time (UT): beyond 6 deg tirovan stops (no air mass)");
      return;
    }
    const double depression = static_cast<double>(sun.zenith - horizon_deg); // [deg] below the horizon
    const limits::SunBelow below = limits::sun_below(depression);
    if (below == limits::SunBelow::error) {
      error(measurement_file_, at(hour), "sun-below-horizon",
            "the Sun is " + fixed(depression, 2) +
                " deg below the horizon at this time (UT): no direct-sun measurement; " + aot_causes);
      return;
    }
    if (below == limits::SunBelow::warning) {
      warning(measurement_file_, at(hour), "sun-below-horizon",
              "the Sun is " + fixed(depression, 2) + " deg below the horizon at this time (UT)");
    }
    if (wavelengths_usable_) check_aot(sun);
    if (all_positive) add_to_day(static_cast<double>(sun.time), log_sum / static_cast<double>(channels_), sun);
  }

  // Each channel's AOT as tirovan retrieves it: above the top of the
  // atmosphere, outside the plausible range, not finite, out of line with
  // the other channels.
  void check_aot(driver::Measurement& sun) {
    const std::span<const float> corrected = file_->signals();
    std::vector<std::size_t> implausible;
    bool above_reported = false;
    for (std::size_t i = 0; i < channels_; ++i) {
      if (!(corrected[i] > 0) || !std::isfinite(corrected[i]) || i >= calibration_.size() || !(calibration_[i] > 0) ||
          wavelength_[i] * 0.001f == 0.0f)
        continue;
      const double top = static_cast<double>(calibration_[i]) * static_cast<double>(sun.factor);
      if (static_cast<double>(corrected[i]) > top) {
        if (!above_reported) {
          error(measurement_file_, at(8 + 2 * i), "above-toa",
                "channel " + std::to_string(i + 1) + ": the dark-corrected signal " + number(corrected[i]) +
                    " is above V0 x F = " + text::shortest(static_cast<float>(top)) +
                    ", the signal at the top of the atmosphere: signals and V0 are in different units (mV "
                    "against V?), or V0 is too small");
        }
        above_reported = true;
        continue;
      }
      const driver::ChannelResult r = driver::channel_aot(sun, i, wavelength_[i], calibration_[i], corrected[i]);
      if (r.stop) continue;
      const double aot = static_cast<double>(r.aot);
      if (!std::isfinite(aot)) {
        error(measurement_file_, at(8 + 2 * i), "not-finite",
              "channel " + std::to_string(i + 1) + ": the AOT is " + number(r.aot) + " (not finite)");
        continue;
      }
      aot_[i] = aot;
      if (!limits::aot_plausible(aot)) implausible.push_back(i);
    }
    if (!implausible.empty()) {
      std::string list;
      for (const std::size_t i : implausible) {
        list += (list.empty() ? "" : ", ") + number(wavelength_[i]) + " nm " + number(aot_[i]);
      }
      error(measurement_file_, at(8 + 2 * implausible.front()), "aot-range",
            "record " + std::to_string(record_) + ": AOT " + list + " outside " + number(aot_floor) + ".." +
                number(aot_ceiling) + " (air mass " + number(static_cast<double>(sun.air_mass)) + "): " + aot_causes);
    }
    check_spectrum();
  }

  // An AOT out of line with the Angstrom law ln AOT = ln beta - alpha ln
  // lambda (Angstrom 1929, Geogr. Ann. 11, 156) fitted through the other
  // channels: a channel that follows no smooth spectrum has another
  // channel's calibration or signal.
  void check_spectrum() {
    std::vector<std::size_t> usable;
    for (std::size_t i = 0; i < channels_; ++i) {
      if (aot_[i] > 0 && wavelength_[i] >= min_wavelength && wavelength_[i] <= max_wavelength) usable.push_back(i);
    }
    if (usable.size() < min_spectrum_channels) return;
    std::size_t worst = usable.size();
    double worst_residual = 0, worst_expected = 0;
    for (const std::size_t k : usable) {
      analysis::LineSums sums;
      for (const std::size_t i : usable) {
        if (i != k) sums.add(std::log(static_cast<double>(wavelength_[i])), std::log(aot_[i]));
      }
      const analysis::Line line = sums.line();
      const double expected = line.intercept + line.slope * std::log(static_cast<double>(wavelength_[k]));
      const double residual = std::log(aot_[k]) - expected;
      if (std::isfinite(residual) && std::fabs(residual) > std::fabs(worst_residual))
        worst = k, worst_residual = residual, worst_expected = std::exp(expected);
    }
    if (worst == usable.size() || !limits::out_of_spectrum(aot_[worst], worst_expected)) return;
    error(measurement_file_, at(8 + 2 * worst), "spectrum",
          "record " + std::to_string(record_) + ": AOT " + number(aot_[worst]) + " at " + number(wavelength_[worst]) +
              " nm is out of line with the other channels' Angstrom law (" + number(worst_expected) +
              "): channels in another order, swapped columns, or V0 of another channel");
  }

  // Local time instead of UT shifts the whole day: the signals peak (the
  // Sun is highest) a whole number of hours away from solar noon at the
  // site's longitude.
  void add_to_day(double time, double log_signal, const driver::Measurement& sun) {
    if (day_.time.empty() || day_.year != m_.year || day_.month != m_.month || day_.day != m_.day ||
        day_.lon != m_.lon || day_.lat != m_.lat) {
      finish_day();
      day_.year = m_.year, day_.month = m_.month, day_.day = m_.day, day_.lon = m_.lon, day_.lat = m_.lat;
      day_.first = at(3);
    }
    day_.time.push_back(time);
    day_.log_signal.push_back(log_signal);
    day_.aot_on_inverse_mass.resize(channels_);
    day_.low_x.resize(channels_, std::numeric_limits<double>::infinity());
    day_.high_x.resize(channels_, -std::numeric_limits<double>::infinity());
    const double x = 1.0 / static_cast<double>(sun.air_mass);
    for (std::size_t i = 0; i < channels_; ++i) {
      if (!std::isfinite(aot_[i])) continue;
      day_.aot_on_inverse_mass[i].add(x, aot_[i]);
      day_.low_x[i] = std::min(day_.low_x[i], x), day_.high_x[i] = std::max(day_.high_x[i], x);
    }
  }

  void finish_day() {
    check_air_mass_dependence();
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
    day_.aot_on_inverse_mass.clear();
    day_.low_x.clear();
    day_.high_x.clear();
  }

  // A wrong V0 by a factor k adds ln(k) / m to the AOT; times off by hours
  // (a time zone, a longitude of the wrong sign) scale the total optical
  // depth by m_true / m_used. Both make the day's AOT a line in 1 / m with
  // a slope that aerosol, which does not know the air mass, seldom has.
  // Reported once per day, for the channel whose AOT changes most.
  void check_air_mass_dependence() {
    std::size_t worst = channels_;
    double worst_change = 0, worst_slope = 0;
    for (std::size_t i = 0; i < day_.aot_on_inverse_mass.size(); ++i) {
      const analysis::LineSums& sums = day_.aot_on_inverse_mass[i];
      if (sums.count() < min_day_records) continue;
      const analysis::Line line = sums.line();
      const double change = std::fabs(line.slope) * (day_.high_x[i] - day_.low_x[i]);
      if (!limits::follows_air_mass(line.slope, change)) continue;
      if (change > worst_change) worst = i, worst_change = change, worst_slope = line.slope;
    }
    if (worst == channels_) return;
    error(measurement_file_, day_.first, "air-mass",
          "on " + format_date({day_.year, day_.month, day_.day}) + " the AOT at " + number(wavelength_[worst]) +
              " nm follows the air mass: it changes by " + number(worst_change) + " over 1/m " +
              number(day_.low_x[worst]) + ".." + number(day_.high_x[worst]) + " (slope " + number(worst_slope) +
              " against 1/m; " + (worst_slope > 0 ? "lowest at low Sun" : "highest at low Sun") +
              "), far more than aerosol does: times not in UT (a time zone), the longitude's sign, or V0 off by a "
              "factor of about " +
              fixed(std::exp(std::fabs(worst_slope)), 2));
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
    const auto c = analysis::fit_parabola(x, y);
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
      (void)POSSOL(d.month, d.day, static_cast<float>(t), d.lon, d.lat, zenith, azimuth);
      if (static_cast<double>(zenith) < best_zenith) best_zenith = static_cast<double>(zenith), best = t;
    }
    return best;
  }

  // Lines after the last declared record that start with a number: more
  // records than the count says, never read by tirovan.
  void check_trailing_lines() {
    TextPosition first;
    std::uint64_t extra = 0;
    try {
      extra = file_->numbers_after_records(first);
    } catch (const runtime::Failure&) {
      return; // a refused read past the records changes nothing tirovan does
    }
    report_notes(measurement_file_, file_->notes());
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
  std::unique_ptr<driver::MeasurementFile> file_;
  std::uint64_t last_blank_line_ = 0; // the last line with values separated by blanks
  std::vector<float> wavelength_;
  std::vector<TextPosition> wavelength_at_;
  driver::Measurement m_; // kept from record to record, as tirovan keeps it
  std::uint64_t record_ = 0;
  bool wavelengths_usable_ = true; // false: wavelengths in micrometres, every AOT meaningless
  std::vector<double> aot_;        // the last record's AOT per channel; NaN where not retrieved
  DaySeries day_;
};

} // namespace

bool limits::out_of_spectrum(double aot, double expected) {
  constexpr double ratio = 1.6, difference = 0.03;
  return aot > 0 && expected > 0 && std::fabs(std::log(aot / expected)) > std::log(ratio) &&
         std::fabs(aot - expected) > difference;
}

bool limits::follows_air_mass(double slope, double change) {
  constexpr double max_slope = 0.1, max_change = 0.03;
  return std::isfinite(change) && std::fabs(slope) > max_slope && change > max_change;
}

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

namespace {

struct CheckOptions {
  std::string folder = ".";
  std::size_t max_per_rule = 20;
};

std::string plural(std::uint64_t n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

} // namespace

void add_check_command(CLI::App& app) {
  auto options = std::make_shared<CheckOptions>();
  CLI::App* command = app.add_subcommand("check", "Check lang.dat and dane.dat and report every problem");
  command->footer(
      "Reads DIR/lang.dat and DIR/dane.dat as tirovan reads them, retrieves every record with tirovan's own\n"
      "procedures, and writes no file. Each problem is one line on standard output,\n"
      "FILE:LINE:COLUMN: error|warning: TEXT [rule], then a summary line on standard output.\n"
      "Errors are what stops tirovan or makes its results wrong; warnings are what looks suspicious.\n"
      "Rules (see docs/companion.md):\n"
      "  reading:  bad-number decimal-comma null-value slash early-end extra-records count-limit\n"
      "            byte-order-mark lang-header open\n"
      "  layout:   channel-count channel-order wavelength-differs lang-wavelengths record-count\n"
      "  values:   month day hour minute longitude latitude pressure pressure-mmhg wavelength-zero\n"
      "            wavelength-units wavelength-range calibration dark-signal not-finite\n"
      "  the Sun:  sun-below-horizon (error beyond 1 deg, warning 0-1 deg) sun-too-low local-time\n"
      "  physics:  above-toa (signal above V0 x F) aot-range (AOT outside -0.02..5) spectrum (a channel off\n"
      "            the Angstrom law of the others) air-mass (a day's AOT following 1/m)\n"
      "Exit status: 0 clean, 1 warnings only, 2 errors.");
  command
      ->add_option("DIR", options->folder,
                   "Folder with lang.dat and dane.dat; diagnostics name the files as "
                   "DIR/lang.dat, or bare when DIR is the working directory")
      ->capture_default_str();
  command->add_option("--max-per-rule", options->max_per_rule, "Diagnostics shown per rule (0: all)")
      ->capture_default_str();
  command->callback([options] {
    std::map<std::string, std::uint64_t> per_rule;
    const CheckSummary summary = check_inputs(options->folder, [&](const Diagnostic& d) {
      const std::uint64_t seen = ++per_rule[d.rule];
      if (options->max_per_rule == 0 || seen <= options->max_per_rule) print_out(format_diagnostic(d));
    });
    for (const auto& [rule, seen] : per_rule) {
      if (options->max_per_rule > 0 && seen > options->max_per_rule) {
        print_out("note: " + std::to_string(seen - options->max_per_rule) + " more [" + rule + "] not shown");
      }
    }
    const bool here = options->folder.empty() || options->folder == ".";
    print_out((here ? std::string() : options->folder + ": ") +
              "lang.dat and dane.dat: " + plural(summary.records, "record") + " checked, " +
              plural(summary.errors, "error") + ", " + plural(summary.warnings, "warning"));
    flush_out();
    if (summary.errors > 0) throw CLI::RuntimeError(exit_failure);
    if (summary.warnings > 0) throw CLI::RuntimeError(exit_warnings);
  });
}

} // namespace tirovan::tools
