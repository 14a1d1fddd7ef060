#include "runtime/failure.hpp"

#include <cerrno>
#include <cstring>
#include <string>

namespace tirovan::runtime {
namespace {

// Catalogue text of an I/O failure; `names_file` tells whether the text
// carries ", unit U, file PATH".
struct CatalogueEntry {
  std::string_view text;
  bool names_file;
};

CatalogueEntry catalogue(IoFailure number) {
  switch (number) {
  case IoFailure::end_of_file: return {"end-of-file during read", true};
  case IoFailure::open_failure: return {"open failure", true};
  case IoFailure::write_error: return {"error during write", true};
  case IoFailure::read_error: return {"error during read", true};
  case IoFailure::insufficient_memory: return {"insufficient virtual memory", true};
  case IoFailure::no_such_device: return {"no such device", true};
  case IoFailure::bad_file_name: return {"file name specification error", true};
  case IoFailure::syntax_error: return {"list-directed I/O syntax error", true};
  case IoFailure::conversion_error: return {"input conversion error", true};
  case IoFailure::access_not_allowed: return {"access not allowed", false};
  case IoFailure::file_exists: return {"file already exists", false};
  case IoFailure::file_not_found: return {"file not found", false};
  case IoFailure::too_many_open_files: return {"too many open files", false};
  }
  return {"unknown failure", false};
}

std::string_view kind_name(MathKind kind) {
  switch (kind) {
  case MathKind::domain: return "DOMAIN";
  case MathKind::sing: return "SING";
  case MathKind::overflow: return "OVERFLOW";
  case MathKind::tloss: return "TLOSS";
  }
  return "UNKNOWN";
}

} // namespace

Failure io_failure(IoFailure number, int unit, std::string_view path, int os_error) {
  const int n = static_cast<int>(number);
  const CatalogueEntry entry = catalogue(number);
  std::string message;
  if (os_error != 0) {
    message += "forrtl: ";
    message += std::strerror(os_error);
    message += '\n';
  }
  message += "forrtl: severe (" + std::to_string(n) + "): ";
  message += entry.text;
  if (entry.names_file) {
    message += ", unit " + std::to_string(unit) + ", file ";
    message += path;
  }
  message += '\n';
  return {std::move(message), severe_status(n)};
}

Failure open_failure(int unit, std::string_view path, int os_error) {
  switch (os_error) {
  case EACCES:
  case EPERM:
  case EROFS: return io_failure(IoFailure::access_not_allowed, unit, path);
  case EEXIST: return io_failure(IoFailure::file_exists, unit, path);
  case ENOENT:
  case ENOTDIR: return io_failure(IoFailure::file_not_found, unit, path);
  case EMFILE:
  case ENFILE: return io_failure(IoFailure::too_many_open_files, unit, path);
  case ENXIO:
  case ENODEV: return io_failure(IoFailure::no_such_device, unit, path);
  case ENAMETOOLONG:
  case EILSEQ: return io_failure(IoFailure::bad_file_name, unit, path);
  default: return io_failure(IoFailure::open_failure, unit, path, os_error);
  }
}

Failure math_failure(std::string_view function, MathKind kind) {
  std::string message = "\nrun-time error M" + std::to_string(static_cast<int>(kind)) + ": MATH\n- ";
  message += function;
  message += ": ";
  message += kind_name(kind);
  message += '\n';
  return {std::move(message), status_math};
}

Failure zero_to_negative_power() {
  return {"forrtl: severe (696): Real zero raised to negative power\n", severe_status(696)};
}

Failure bad_data(std::string_view path, std::string_view what) {
  std::string message = "tirovan: ";
  message += path;
  message += ": ";
  message += what;
  message += '\n';
  return {std::move(message), status_bad_data};
}

Failure out_of_memory(int unit, std::string_view path) {
  if (unit != 0) return io_failure(IoFailure::insufficient_memory, unit, path);
  return {std::string(out_of_memory_line), severe_status(static_cast<int>(IoFailure::insufficient_memory))};
}

} // namespace tirovan::runtime
