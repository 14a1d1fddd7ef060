#include "driver/input_files.hpp"

#include <algorithm>

#include "runtime/failure.hpp"
#include "textio/reader.hpp"

namespace tirovan::driver {
namespace {

using textio::Reader;
using Statement = textio::Reader::Statement;

constexpr std::size_t header_text_kept = 200; // [bytes] of each free-text line of lang.dat

std::size_t count_of(std::int32_t count) { return count > 0 ? static_cast<std::size_t>(count) : 0; }

void check_count(const Reader& reader, std::string_view what, std::int32_t count) {
  if (count <= max_channels) return;
  throw runtime::bad_data(reader.path(), std::string(what) + " " + std::to_string(count) + " exceeds the limit of " +
                                             std::to_string(max_channels));
}

// One array statement of `n` reals, with each value's position when asked.
void read_array(Reader& reader, std::span<float> values, std::vector<textio::TextPosition>* where) {
  Statement statement{reader};
  if (where == nullptr) {
    statement.items(values);
    return;
  }
  where->assign(values.size(), textio::TextPosition{reader.statement_line(), 0});
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (statement.item(values[i])) (*where)[i] = reader.value_position();
  }
}

} // namespace

InputText::InputText(int fd, int unit, std::string path, InputDetail detail)
    : reader_(std::make_unique<Reader>(fd, unit, std::move(path), true)), detail_(detail) {
  if (detail_.notes) reader_->keep_notes(&notes_);
  reader_->limit_lines(detail_.max_line_bytes);
}

InputText::~InputText() = default;

void InputText::close() { reader_->close(); }
const std::string& InputText::path() const { return reader_->path(); }
textio::TextPosition InputText::value_position() const { return reader_->value_position(); }
bool InputText::starts_with_byte_order_mark() const { return reader_->starts_with_byte_order_mark(); }

void Calibration::cover(std::size_t channels) {
  if (aux.size() < channels) aux.resize(channels, 0.0f);
  if (signal.size() < channels) signal.resize(channels, 0.0f);
}

Calibration read_calibration(InputText& file) {
  Reader& reader = *file.reader_;
  InputPart& part = file.part_;
  const bool positions = file.detail_.positions;
  Calibration c;
  part = InputPart::calibration_header;
  for (int line = 0; line < calibration_header_lines; ++line) {
    Statement pass_over{reader};
    if (positions) {
      c.header.push_back(pass_over.rest_of_line(header_text_kept));
      file.header_texts_.push_back(c.header.back());
    }
  }
  part = InputPart::calibration_count;
  Statement{reader}.item(c.count);
  c.count_at = reader.value_position();
  check_count(reader, "calibration count", c.count);
  const std::size_t n = count_of(c.count);
  c.aux.assign(std::max(fixed_channels, n), 0.0f);
  c.signal.assign(std::max(fixed_channels, n), 0.0f);
  part = InputPart::calibration_aux;
  read_array(reader, std::span(c.aux).first(n), positions ? &c.aux_at : nullptr);
  part = InputPart::calibration_signal;
  read_array(reader, std::span(c.signal).first(n), positions ? &c.signal_at : nullptr);
  return c;
}

void MeasurementFile::read_header() {
  part_ = InputPart::counts;
  {
    Statement header{*reader_};
    header.item(channel_count_);
    channel_count_at_ = reader_->value_position();
    header.item(measurement_count_);
    measurement_count_at_ = reader_->value_position();
  }
  check_count(*reader_, "channel count", channel_count_);
  channels_ = count_of(channel_count_);
  for (std::vector<float>* array : {&wavelength_, &signal_, &dark_}) {
    if (array->size() < channels_) array->resize(channels_, 0.0f);
  }
  part_ = InputPart::wavelengths;
  read_array(*reader_, std::span(wavelength_).first(channels_), detail_.positions ? &wavelength_at_ : nullptr);
  if (detail_.positions) {
    field_at_.assign(leading_fields + 2 * channels_, {});
    given_.assign(field_at_.size(), 0);
    raw_signal_.assign(channels_, 0.0f);
  }
  part_ = InputPart::record;
}

void MeasurementFile::read_record() {
  part_ = InputPart::record;
  fields_read_ = 0;
  Statement record{*reader_};
  if (!detail_.positions) {
    record.item(m_.day);
    record.item(m_.month);
    record.item(m_.year);
    record.item(m_.hour);
    record.item(m_.minute);
    record.item(m_.lon);
    record.item(m_.lat);
    record.item(m_.pressure);
    for (std::size_t i = 0; i < channels_; ++i) {
      record.item(signal_[i]);
      record.item(dark_[i]);
    }
    fields_read_ = leading_fields + 2 * channels_;
  } else {
    std::fill(given_.begin(), given_.end(), std::uint8_t{0});
    const auto next = [&](auto& value) {
      const bool given = record.item(value);
      given_[fields_read_] = given ? 1 : 0;
      field_at_[fields_read_] = given ? reader_->value_position() : textio::TextPosition{reader_->statement_line(), 0};
      ++fields_read_;
    };
    next(m_.day), next(m_.month), next(m_.year), next(m_.hour), next(m_.minute);
    next(m_.lon), next(m_.lat), next(m_.pressure);
    for (std::size_t i = 0; i < channels_; ++i) next(signal_[i]), next(dark_[i]);
    std::copy_n(signal_.begin(), channels_, raw_signal_.begin());
  }
  for (std::size_t i = 0; i < channels_; ++i) signal_[i] = signal_[i] - dark_[i];
}

std::uint64_t MeasurementFile::record_line() const { return reader_->statement_line(); }

std::uint64_t MeasurementFile::numbers_after_records(textio::TextPosition& first) {
  part_ = InputPart::after_records;
  std::uint64_t lines = 0;
  for (;;) {
    try {
      Statement line{*reader_};
      float value = 0;
      if (line.item(value) && lines++ == 0) first = reader_->value_position();
    } catch (const textio::ReadFailure& failure) {
      if (failure.number() == runtime::IoFailure::end_of_file) return lines;
      // text that is no number: not a record; the next statement starts on the next line
    }
  }
}

} // namespace tirovan::driver
