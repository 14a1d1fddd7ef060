// The two input files of a data folder, opened for reading only, and the
// texts that point the user at a place in them ("dane.dat:12:31").
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "textio/reader.hpp"

namespace tirovan::tools {

inline constexpr std::string_view calibration_name = "lang.dat";
inline constexpr std::string_view measurement_name = "dane.dat";

// An input file: the path that is opened and the name shown in messages.
// The name is the bare file name when the folder is the working directory
// ("" or "."), otherwise the folder as the user gave it, "/", and the name.
struct InputFile {
  std::string path, shown;
};
[[nodiscard]] InputFile input_file(std::string_view folder, std::string_view name);

// A problem that keeps a command from reading on; what() is the whole
// message for the user, e.g. "dane.dat:1:3: 'x' is not a number".
class InputError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The file opened read-only (never created) on `unit`; throws InputError
// when it cannot be opened or is a directory.
[[nodiscard]] std::unique_ptr<textio::Reader> open_input(const InputFile& file, int unit);

// "dane.dat:12:31" (or "dane.dat:12" when the column is 0).
[[nodiscard]] std::string location(const InputFile& file, textio::TextPosition where);

// What went wrong with a read statement's token, in words:
// "'abc' is not a number", "'3000000000' does not fit in a 32-bit integer".
// `integer_item` tells which type the statement wanted at that point.
[[nodiscard]] std::string describe_token(const textio::ReadFailure& failure, bool integer_item);

// Quotes a token for a message, cut to a readable length; bytes outside
// printable ASCII are shown as \xNN.
[[nodiscard]] std::string quote_token(std::string_view token);

} // namespace tirovan::tools
