// The two input files, read exactly as the run reads them: the calibration
// file lang.dat and the measurement file dane.dat. Every reader of these
// files goes through here, so the grammar (eight free-text lines, counts,
// arrays, records of 8 + 2 x channels values), its constants and the
// carry-over of values from one record to the next exist once.
//
// lang.dat: 8 lines of free text; the count; `count` values that are not
// used (instruments list their wavelengths there); `count` calibration
// signals, the signal outside the atmosphere at the mean Sun-Earth distance.
// dane.dat: channel count and measurement count; the wavelengths [nm]; then
// per record day, month, year, hour, minute [UT], longitude [deg E],
// latitude [deg N], pressure [hPa], and per channel signal and dark signal.
//
// Each block is one free-format read statement (textio): it begins on a new
// line, may spread over several, and the rest of the line of its last value
// is ignored. A null value (",,", "n*") or a slash leaves an item as the
// previous record left it. The dark signal is subtracted from the signal in
// place, as the record is read: a signal a record leaves unset is the
// previous record's dark-corrected signal, and is corrected once more.
//
// Failures are the run's: textio::ReadFailure for the grammar (with the
// offending token's position), runtime::bad_data for a count above
// max_channels, runtime::Failure for a refused read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "driver/retrieval.hpp"
#include "textio/text_position.hpp"

namespace tirovan::textio {
class Reader;
}

namespace tirovan::driver {

inline constexpr int calibration_header_lines = 8;
// Channel and calibration counts above this end the run (status 65) before
// anything is allocated for them. Counts up to 10 use the fixed arrays of
// 10; larger ones size the arrays to the count.
inline constexpr std::int32_t max_channels = 4096;
inline constexpr std::size_t fixed_channels = 10;
// day, month, year, hour, minute, lon, lat, pressure; then signal and dark per channel.
inline constexpr std::size_t leading_fields = 8;

// What a reader keeps besides the values (the run keeps none of it).
struct InputDetail {
  bool positions = false; // where each value stood, which items a record gave
  bool notes = false;     // separators that change a meaning (textio::TextNote)
  // A line longer than this fails as a syntax error with an empty token
  // (the run sets none; a tool that must end on an input that never ends does).
  std::uint64_t max_line_bytes = ~std::uint64_t{0};
};

// The statement a reader is in, for saying what a failure interrupted.
enum class InputPart : std::uint8_t {
  calibration_header,
  calibration_count,
  calibration_aux,
  calibration_signal,
  counts,
  wavelengths,
  record,
  after_records,
};

struct Calibration {
  std::int32_t count = 0;
  std::vector<float> aux, signal;  // at least fixed_channels entries, zero past `count`
  std::vector<std::string> header; // the free-text lines (InputDetail::positions), cut to 200 bytes
  textio::TextPosition count_at;
  std::vector<textio::TextPosition> aux_at, signal_at; // InputDetail::positions

  // Widens the arrays with zeros to `channels` entries: a channel that
  // lang.dat does not calibrate has the calibration signal 0.
  void cover(std::size_t channels);
};

// One input file on its unit, read statement by statement.
class InputText {
public:
  // Reads from `fd`, which it closes; `unit` and `path` name the file in
  // failure messages.
  InputText(int fd, int unit, std::string path, InputDetail detail = {});
  ~InputText();
  InputText(const InputText&) = delete;
  InputText& operator=(const InputText&) = delete;

  void close();
  [[nodiscard]] const std::string& path() const;
  [[nodiscard]] InputPart part() const noexcept { return part_; }
  // Start of the last value token read.
  [[nodiscard]] textio::TextPosition value_position() const;
  [[nodiscard]] bool starts_with_byte_order_mark() const;
  // Notes gathered so far (InputDetail::notes); the caller may clear them.
  [[nodiscard]] std::vector<textio::TextNote>& notes() noexcept { return notes_; }
  // lang.dat's free-text lines read so far (InputDetail::positions), kept
  // also when a later statement fails: a count line taken for text shows here.
  [[nodiscard]] const std::vector<std::string>& header_texts() const noexcept { return header_texts_; }

protected:
  friend Calibration read_calibration(InputText& file);
  std::unique_ptr<textio::Reader> reader_;
  InputDetail detail_;
  InputPart part_ = InputPart::calibration_header;
  std::vector<textio::TextNote> notes_;
  std::vector<std::string> header_texts_;
};

// Reads the whole of lang.dat's statements from `file`.
[[nodiscard]] Calibration read_calibration(InputText& file);

class MeasurementFile : public InputText {
public:
  using InputText::InputText;

  // Channel count, measurement count and wavelengths.
  void read_header();
  [[nodiscard]] std::int32_t channel_count() const noexcept { return channel_count_; }
  [[nodiscard]] std::size_t channels() const noexcept { return channels_; }
  [[nodiscard]] std::int32_t measurement_count() const noexcept { return measurement_count_; }
  [[nodiscard]] std::span<const float> wavelengths() const noexcept { return {wavelength_.data(), channels_}; }
  [[nodiscard]] textio::TextPosition channel_count_at() const noexcept { return channel_count_at_; }
  [[nodiscard]] textio::TextPosition measurement_count_at() const noexcept { return measurement_count_at_; }
  [[nodiscard]] std::span<const textio::TextPosition> wavelength_at() const noexcept { return wavelength_at_; }

  // The next record, into the variables kept from record to record.
  void read_record();
  // Day .. pressure of the last record (the rest of the struct is the
  // retrieval's to fill).
  [[nodiscard]] Measurement& measurement() noexcept { return m_; }
  // Dark-corrected signals as the retrieval uses them, and dark signals.
  [[nodiscard]] std::span<const float> signals() const noexcept { return {signal_.data(), channels_}; }
  [[nodiscard]] std::span<const float> darks() const noexcept { return {dark_.data(), channels_}; }
  // The signals before this record's dark correction (InputDetail::positions).
  [[nodiscard]] std::span<const float> raw_signals() const noexcept { return raw_signal_; }
  // Line where the last record's statement began.
  [[nodiscard]] std::uint64_t record_line() const;
  // With InputDetail::positions, per field (leading_fields, then signal and
  // dark of each channel): where its value stood, and whether this record
  // gave it (false: a null value or a slash kept the previous value). A
  // field not given has the position of the record's first value.
  [[nodiscard]] std::span<const textio::TextPosition> field_at() const noexcept { return field_at_; }
  [[nodiscard]] std::span<const std::uint8_t> given() const noexcept { return given_; }
  // Fields of the last record read so far (all of them after a success).
  [[nodiscard]] std::size_t fields_read() const noexcept { return fields_read_; }

  // After the records: the lines that start with a number, which the run
  // never reads (more records than the count says). Returns their number
  // and the position of the first.
  [[nodiscard]] std::uint64_t numbers_after_records(textio::TextPosition& first);

private:
  std::int32_t channel_count_ = 0, measurement_count_ = 0;
  std::size_t channels_ = 0;
  std::vector<float> wavelength_ = std::vector<float>(fixed_channels);
  std::vector<float> signal_ = std::vector<float>(fixed_channels);
  std::vector<float> dark_ = std::vector<float>(fixed_channels);
  std::vector<float> raw_signal_;
  Measurement m_;
  textio::TextPosition channel_count_at_, measurement_count_at_;
  std::vector<textio::TextPosition> wavelength_at_, field_at_;
  std::vector<std::uint8_t> given_;
  std::size_t fields_read_ = 0;
};

} // namespace tirovan::driver
