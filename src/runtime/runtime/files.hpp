// Connecting a unit to a file named relative to the working directory.
#pragma once

#include <string>
#include <string_view>

namespace tirovan::runtime {

enum class Access { read, write };

struct OpenedFile {
  int fd;
  std::string path; // full path, for failure messages
};

// Opens `name` so that a missing file is created empty and an existing one
// is not emptied; writing starts at its first byte. A directory cannot be
// connected. A refused open throws the open failure for `unit`.
// Opening a named pipe may wait for its other end: every output unit is
// flushed first, and a console event ends the process meanwhile.
[[nodiscard]] OpenedFile open_unit(std::string_view name, int unit, Access access);

// Full path of a file named relative to the working directory: the absolute
// working directory, "/", and the name (the bare name if the working
// directory is gone).
[[nodiscard]] std::string full_path(std::string_view name);

// Whether `fd` is a regular file: one that can be cut back and whose reads
// never wait for a writer.
[[nodiscard]] bool is_regular_file(int fd);

// Makes sure descriptors 0, 1 and 2 are open, connecting any closed one to
// /dev/null, so that no file the run opens lands on a standard descriptor
// (where a failure message or a console line would end up in it). Call
// before anything else is opened.
void open_standard_descriptors();

} // namespace tirovan::runtime
