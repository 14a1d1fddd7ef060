// The two input files of a data folder, opened for reading only (never
// created), and the texts that point the user at a place in them
// ("dane.dat:12:31").
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "driver/input_files.hpp"
#include "textio/text_position.hpp"
#include "tools/status.hpp"

namespace tirovan::tools {

inline constexpr std::string_view calibration_name = "lang.dat";
inline constexpr std::string_view measurement_name = "dane.dat";
// The companion's limit on the length of an input line: a file that never
// ends a line (a device such as /dev/zero) is refused here instead of read
// forever. The run itself reads lines of any length.
inline constexpr std::uint64_t max_line_bytes = std::uint64_t{256} << 20U;

// An input file: the path that is opened and the name shown in messages.
// The name is the bare file name when the folder is the working directory
// ("" or "."), otherwise the folder as the user gave it, "/", and the name.
struct InputFile {
  std::string path, shown;
};
[[nodiscard]] InputFile input_file(std::string_view folder, std::string_view name);

// The file opened read-only on `unit`; throws Error when it cannot be
// opened or is a directory.
[[nodiscard]] std::unique_ptr<driver::InputText> open_input(const InputFile& file, int unit,
                                                            driver::InputDetail detail = {});
[[nodiscard]] std::unique_ptr<driver::MeasurementFile> open_measurements(const InputFile& file,
                                                                         driver::InputDetail detail = {});

// "dane.dat:12:31" (or "dane.dat:12" when the column is 0).
[[nodiscard]] std::string location(const InputFile& file, textio::TextPosition where);

// What went wrong with a read statement's token, in words:
// "'abc' is not a number", "'3000000000' cannot be read as a 32-bit integer".
// `integer_item` tells which type the statement wanted at that point.
[[nodiscard]] std::string describe_token(const textio::ReadFailure& failure, bool integer_item);

// "the calibration signals", "the wavelengths", ... of an input part.
[[nodiscard]] std::string_view part_name(driver::InputPart part);
// Whether the part's items are integers (counts, the date of a record).
[[nodiscard]] bool integer_part(driver::InputPart part);

// A whole message for a read failure in `part` of `file`:
// "dane.dat:3:7: 'x' is not a number (in the wavelengths)",
// "lang.dat:11: the file ends before the calibration signals".
[[nodiscard]] std::string read_failure_text(const InputFile& file, const textio::ReadFailure& failure,
                                            driver::InputPart part);
// Any other failure of the core while reading `text`: a count above the
// limit, a refused read.
[[nodiscard]] std::string failure_text(const InputFile& file, const driver::InputText& text,
                                       const runtime::Failure& failure);

// Quotes a token for a message, cut to a readable length; bytes outside
// printable ASCII are shown as \xNN.
[[nodiscard]] std::string quote_token(std::string_view token);

} // namespace tirovan::tools
