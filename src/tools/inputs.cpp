#include "tools/inputs.hpp"

#include <algorithm>

#include "runtime/failure.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tirovan::tools {

InputFile input_file(std::string_view folder, std::string_view name) {
  InputFile file;
  if (folder.empty() || folder == ".") {
    file.path = file.shown = std::string(name);
    return file;
  }
  std::string prefix(folder);
  if (prefix.back() != '/') prefix += '/';
  file.path = file.shown = prefix + std::string(name);
  return file;
}

namespace {

int open_read_only(const InputFile& file) {
  const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC); // NOLINT(cppcoreguidelines-pro-type-vararg)
  if (fd < 0) throw Error(file.shown + ": cannot open: " + std::strerror(errno));
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    ::close(fd);
    throw Error(file.shown + ": is a directory");
  }
  return fd;
}

} // namespace

std::unique_ptr<driver::InputText> open_input(const InputFile& file, int unit, driver::InputDetail detail) {
  detail.max_line_bytes = std::min(detail.max_line_bytes, max_line_bytes);
  return std::make_unique<driver::InputText>(open_read_only(file), unit, file.path, detail);
}

std::unique_ptr<driver::MeasurementFile> open_measurements(const InputFile& file, driver::InputDetail detail) {
  detail.max_line_bytes = std::min(detail.max_line_bytes, max_line_bytes);
  return std::make_unique<driver::MeasurementFile>(open_read_only(file), runtime::unit_measurements, file.path, detail);
}

std::string_view part_name(driver::InputPart part) {
  switch (part) {
  case driver::InputPart::calibration_header: return "the eight header lines";
  case driver::InputPart::calibration_count: return "the calibration count";
  case driver::InputPart::calibration_aux: return "the first array (wavelengths)";
  case driver::InputPart::calibration_signal: return "the calibration signals";
  case driver::InputPart::counts: return "the channel and measurement counts";
  case driver::InputPart::wavelengths: return "the wavelengths";
  case driver::InputPart::record: return "a measurement record";
  case driver::InputPart::after_records: return "the lines after the records";
  }
  return "the file";
}

bool integer_part(driver::InputPart part) {
  return part == driver::InputPart::calibration_count || part == driver::InputPart::counts;
}

std::string read_failure_text(const InputFile& file, const textio::ReadFailure& failure, driver::InputPart part) {
  if (failure.number() == runtime::IoFailure::end_of_file) {
    return location(file, failure.where()) + ": the file ends before " + std::string(part_name(part));
  }
  return location(file, failure.where()) + ": " + describe_token(failure, integer_part(part)) + " (in " +
         std::string(part_name(part)) + ")";
}

std::string failure_text(const InputFile& file, const driver::InputText& text, const runtime::Failure& failure) {
  if (failure.status() == runtime::status_bad_data) {
    // "... count N exceeds the limit of 4096": the core's own words, at the count.
    std::string message = failure.message();
    const std::string prefix = "tirovan: " + text.path() + ": ";
    if (message.starts_with(prefix)) message = message.substr(prefix.size());
    while (!message.empty() && message.back() == '\n') message.pop_back();
    return location(file, text.value_position()) + ": " + message;
  }
  return file.shown + ": cannot read";
}

std::string location(const InputFile& file, textio::TextPosition where) {
  std::string text = file.shown;
  text.append(":").append(std::to_string(where.line));
  if (where.column > 0) text.append(":").append(std::to_string(where.column));
  return text;
}

std::string quote_token(std::string_view token) {
  constexpr std::size_t longest = 40;
  std::string text = "'";
  for (const char c : token.substr(0, longest)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f) {
      constexpr std::string_view hex = "0123456789abcdef";
      text += "\\x";
      text += hex[byte >> 4U];
      text += hex[byte & 0xfU];
    } else {
      text += c;
    }
  }
  if (token.size() > longest) text += "...";
  return text + "'";
}

std::string describe_token(const textio::ReadFailure& failure, bool integer_item) {
  switch (failure.number()) {
  case runtime::IoFailure::syntax_error:
    if (failure.token().empty()) {
      return "a line longer than " + std::to_string(max_line_bytes >> 20U) + " MiB (an input that never ends?)";
    }
    return quote_token(failure.token()) + " is not a number";
  case runtime::IoFailure::conversion_error:
    return quote_token(failure.token()) +
           (integer_item ? " cannot be read as a 32-bit integer" : " cannot be read as a single-precision real");
  case runtime::IoFailure::end_of_file: return "the file ends here";
  default: return failure.message();
  }
}

} // namespace tirovan::tools
