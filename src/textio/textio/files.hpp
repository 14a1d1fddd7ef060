// Connecting a unit to a file named relative to the working directory.
#pragma once

#include <string>
#include <string_view>

namespace tirovan::textio {

enum class Access { read, write };

struct OpenedFile {
  int fd;
  std::string path; // full path, for failure messages
};

// Opens `name` so that a missing file is created empty and an existing one
// is not emptied; writing starts at its first byte. A directory cannot be
// connected. A refused open throws the open failure for `unit`.
// Opening a named pipe waits for its other end, and a console event ends
// the process from its handler meanwhile: flush all output before calling.
[[nodiscard]] OpenedFile open_unit(std::string_view name, int unit, Access access);

} // namespace tirovan::textio
