#include "tools/inputs.hpp"

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

std::unique_ptr<textio::Reader> open_input(const InputFile& file, int unit) {
  const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC); // NOLINT(cppcoreguidelines-pro-type-vararg)
  if (fd < 0) throw InputError(file.shown + ": cannot open: " + std::strerror(errno));
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    ::close(fd);
    throw InputError(file.shown + ": is a directory");
  }
  return std::make_unique<textio::Reader>(fd, unit, file.path, true);
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
  case runtime::IoFailure::syntax_error: return quote_token(failure.token()) + " is not a number";
  case runtime::IoFailure::conversion_error:
    return quote_token(failure.token()) +
           (integer_item ? " cannot be read as a 32-bit integer" : " cannot be read as a single-precision real");
  case runtime::IoFailure::end_of_file: return "the file ends here";
  default: return failure.message();
  }
}

} // namespace tirovan::tools
