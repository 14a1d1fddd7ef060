#include "runtime/files.hpp"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/console_events.hpp"
#include "runtime/failure.hpp"
#include "runtime/units.hpp"

namespace tirovan::runtime {

OpenedFile open_unit(std::string_view name, int unit, Access access) {
  std::string path = full_path(name);
  const std::string relative(name);
  const int flags = (access == Access::read ? O_RDONLY : O_WRONLY) | O_CREAT | O_CLOEXEC;
  flush_output_units();
  int fd = -1;
  for (;;) {
    {
      const BlockingSection waiting;
      fd = ::open(relative.c_str(), flags, 0666);
    }
    if (fd >= 0 || errno != EINTR) break;
  }
  if (fd < 0) throw open_failure(unit, path, errno);
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw open_failure(unit, path, EISDIR);
  }
  return {fd, std::move(path)};
}

std::string full_path(std::string_view name) {
  std::string dir(256, '\0');
  while (::getcwd(dir.data(), dir.size()) == nullptr) {
    if (errno != ERANGE) return std::string(name);
    dir.resize(dir.size() * 2);
  }
  dir.resize(std::strlen(dir.c_str()));
  if (dir.empty() || dir.back() != '/') dir += '/';
  dir += name;
  return dir;
}

bool is_regular_file(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

void open_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() returns the lowest free descriptor, which is this one.
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) ::close(opened); // cannot happen; keep nothing stray
  }
}

} // namespace tirovan::runtime
