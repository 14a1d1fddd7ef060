// The measurements of a data folder, record by record, through the core's
// own retrieval (driver::locate_sun, driver::channel_aot): the same
// single-precision values as tirovan's, with the Angstrom exponent and the
// AOT at 500 and 550 nm added. A record that would stop tirovan is flagged
// instead, and reading goes on.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/retrieval.hpp"
#include "textio/reader.hpp"
#include "tools/calendar.hpp"
#include "tools/flags.hpp"
#include "tools/inputs.hpp"
#include "tools/angstrom.hpp"

namespace tirovan::tools {

struct Record {
  std::uint64_t number = 0;       // 1 for the first record of dane.dat
  textio::TextPosition where;     // its first value in dane.dat
  driver::Measurement m;          // as the core holds it after the record (zenith [deg], air_mass [1], ...)
  std::vector<float> aot;         // [1] per channel, in channel order; NaN when the record is skipped
  double angstrom = not_computed; // [1] exponent over the channels of the Angstrom window
  double aot_500 = not_computed, aot_550 = not_computed; // [1] interpolated AOT at 500 and 550 nm
  bool has_time = false;                                 // `time` holds the record's instant (a valid date)
  UtcTime time;
  Flags flags;
  std::string problem; // for a skipped record: why tirovan would stop there
};

// Channel and calibration counts above this stop tirovan; they are refused here too.
inline constexpr std::int32_t max_channels = 4096;

class RecordReader {
public:
  // Reads lang.dat and the header of dane.dat in `folder`; throws InputError.
  // The console lines of the core's procedures (Sun below the horizon,
  // wavelength outside the ozone table) are silenced for the rest of the
  // process: the values are what a tool wants.
  explicit RecordReader(std::string_view folder);
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // dane.dat's wavelengths [nm], in channel order.
  [[nodiscard]] std::span<const float> wavelengths() const { return {wavelength_.data(), channels_}; }
  [[nodiscard]] std::int32_t declared_count() const { return declared_; }
  [[nodiscard]] const InputFile& measurement_file() const { return measurements_; }
  [[nodiscard]] const AngstromWindow& angstrom_window() const { return angstrom_; }

  // The next record; false once the declared count is read or dane.dat ends.
  bool next(Record& record);
  // After next() gave false: dane.dat ended before the declared count, at `end()`.
  [[nodiscard]] bool ended_early() const { return ended_early_; }
  [[nodiscard]] textio::TextPosition end() const { return end_; }
  [[nodiscard]] std::uint64_t records_read() const { return read_; }

private:
  void read_calibration(const InputFile& file);
  void read_header();
  void retrieve(Record& record);
  void skip(Record& record, Flag flag, std::string problem);

  InputFile measurements_;
  std::unique_ptr<textio::Reader> reader_;
  std::size_t channels_ = 0;
  std::int32_t calibration_count_ = 0;
  std::int32_t declared_ = 0;
  std::vector<float> calibration_, wavelength_, signal_, dark_;
  driver::Measurement m_; // kept from record to record, as the core keeps it
  AngstromWindow angstrom_{std::span<const float>{}};
  AotInterpolator at_500_{std::span<const float>{}, 500}, at_550_{std::span<const float>{}, 550};
  std::uint64_t read_ = 0;
  bool ended_early_ = false;
  textio::TextPosition end_;
};

} // namespace tirovan::tools
