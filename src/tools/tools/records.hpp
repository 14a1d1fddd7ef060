// The measurements of a data folder, record by record, read by the core's
// own input module (driver/input_files.hpp) and retrieved by its own steps
// (driver::locate_sun, driver::channel_aot): the same single-precision
// values as tirovan's, with the Angstrom exponent and the AOT at 500 and
// 550 nm added. A record that would stop tirovan is flagged instead, with
// the core's reason, and reading goes on.
//
// With Physics::reference the same records (the same stops and flags) get
// their AOT from precise physics in double precision instead: see
// reference_geometry and reference_aot below.
#pragma once

#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/angstrom.hpp"
#include "analysis/calendar.hpp"
#include "analysis/flags.hpp"
#include "driver/input_files.hpp"
#include "driver/retrieval.hpp"
#include "tools/inputs.hpp"

namespace tirovan::tools {

struct Record {
  std::uint64_t number = 0;       // 1 for the first record of dane.dat
  textio::TextPosition where;     // its first value in dane.dat
  driver::Measurement m;          // as the core holds it after the record (zenith [deg], air_mass [1], ...)
  std::vector<float> signal;      // dark-corrected signals as the retrieval used them
  std::vector<float> aot;         // [1] per channel, in channel order; NaN when the record is skipped
  double angstrom = not_computed; // [1] exponent over the channels of the Angstrom window
  double aot_500 = not_computed, aot_550 = not_computed; // [1] interpolated AOT at 500 and 550 nm
  bool has_time = false;                                 // `time` holds the record's instant (a valid date)
  UtcTime time;
  Flags flags;
  std::string problem; // for a skipped record: why tirovan would stop there
};

// Which physics gives the AOT: `core`, tirovan's own single-precision
// procedures (its numbers, bit for bit); `reference`, the precise Sun, the
// Kasten & Young air mass, Bodhaine Rayleigh depth and an ozone air mass.
enum class Physics : std::uint8_t { core, reference };

struct ReaderOptions {
  Physics physics = Physics::core;
  // Channels within this distance [nm] of 440-870 nm enter the Angstrom exponent.
  double angstrom_tolerance_nm = angstrom_window_tolerance_nm;
};

// The geometry of one measurement from tirovan::reference: the precise Sun
// at the record's UTC instant (real calendar, leap days included), the
// observer at height 0 with the record's pressure and 15 deg C for the
// refraction. All NaN when the instant or place is out of the reference's
// range; the air masses are NaN with the apparent Sun below the horizon.
struct ReferenceGeometry {
  double zenith_true_deg = not_computed;     // [deg] without refraction
  double zenith_apparent_deg = not_computed; // [deg] refracted
  double factor = not_computed;              // (1 au / r)^2
  double air_mass = not_computed;            // Kasten & Young (1989) on the apparent zenith, aerosol and Rayleigh
  double ozone_air_mass = not_computed;      // Komhyr et al. (1989), layer at 22 km, true zenith
};
[[nodiscard]] ReferenceGeometry reference_geometry(const UtcTime& time, double lon_deg_east, double lat_deg_north,
                                                   double pressure_hpa);

// AOT [1] of one channel by Beer-Lambert with separate air masses:
//   tau_a = [ln(V0 F / V) - m_O3 tau_O3 - m_R tau_R] / m_a,
// m_R = m_a (Kasten & Young), tau_R = Bodhaine et al. (1999) eq. 30 at the
// record's pressure, tau_O3 the ozone optical depth as the core takes it
// (its column and coefficient). V0 the calibration signal at 1 au, V the
// dark-corrected signal.
[[nodiscard]] double reference_aot(const ReferenceGeometry& geometry, double wavelength_nm, double pressure_hpa,
                                   double calibration_signal, double signal, double tau_ozone);

class RecordReader {
public:
  // Reads lang.dat and the header of dane.dat in `folder`; throws Error.
  explicit RecordReader(std::string_view folder, const ReaderOptions& options = {});
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // dane.dat's wavelengths [nm], in channel order.
  [[nodiscard]] std::span<const float> wavelengths() const { return file_->wavelengths(); }
  [[nodiscard]] std::int32_t declared_count() const { return file_->measurement_count(); }
  [[nodiscard]] const InputFile& measurement_file() const { return measurements_; }
  [[nodiscard]] const InputFile& calibration_file() const { return calibration_file_; }
  [[nodiscard]] const driver::Calibration& calibration() const { return calibration_; }
  [[nodiscard]] const AngstromWindow& angstrom_window() const { return angstrom_; }
  [[nodiscard]] Physics physics() const { return options_.physics; }

  // The record's Angstrom exponent and AOT at 500 and 550 nm from its `aot`.
  void derive(Record& record) const;

  // The next record; false once the declared count is read or dane.dat ends.
  bool next(Record& record);
  // After next() gave false: dane.dat ended before the declared count, at `end()`.
  [[nodiscard]] bool ended_early() const { return ended_early_; }
  [[nodiscard]] textio::TextPosition end() const { return end_; }
  [[nodiscard]] std::uint64_t records_read() const { return read_; }

private:
  void retrieve(Record& record);
  void retrieve_reference(Record& record, std::span<const float> tau_ozone);
  void skip(Record& record, Flag flag, std::string problem);

  ReaderOptions options_;
  InputFile measurements_, calibration_file_;
  driver::Calibration calibration_;
  std::unique_ptr<driver::MeasurementFile> file_;
  AngstromWindow angstrom_{std::span<const float>{}};
  std::vector<float> tau_ozone_; // per channel, of the record being retrieved
  AotInterpolator at_500_{std::span<const float>{}, 500}, at_550_{std::span<const float>{}, 550};
  std::uint64_t read_ = 0;
  bool ended_early_ = false;
  textio::TextPosition end_;
};

// Days are dates: the UTC date of each record (a record without a time
// goes with the record before it). `key` is days since 1970-01-01.
inline constexpr std::int64_t no_day = INT64_MIN;
// With `local_solar`, the day of the local mean solar time UT + lon / 15 h,
// which keeps a station's day together far from Greenwich.
[[nodiscard]] std::int64_t day_key(const Record& record, std::int64_t previous, bool local_solar = false);

// How many records each date has, and whether dane.dat is in date order,
// read ahead through the core's reader (only a regular file can be read
// twice; anything else counts as in order).
struct DayIndex {
  bool in_order = true;
  std::map<std::int64_t, std::uint64_t> records; // per day key
};
[[nodiscard]] DayIndex index_days(const InputFile& measurements, bool local_solar = false);

// Why the core stops at `stop`, in words, for the record's flag and message.
[[nodiscard]] Flag stop_flag(driver::StopCause cause);
[[nodiscard]] std::string stop_text(const driver::Stop& stop, const driver::Measurement& m,
                                    std::span<const float> wavelengths, std::span<const float> signals,
                                    const driver::Calibration& calibration);

} // namespace tirovan::tools
