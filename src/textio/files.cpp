#include "textio/files.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "textio/console_events.hpp"
#include "textio/failure.hpp"

namespace tirovan::textio {

OpenedFile open_unit(std::string_view name, int unit, Access access) {
  std::string path = full_path(name);
  const std::string relative(name);
  const int flags = (access == Access::read ? O_RDONLY : O_WRONLY) | O_CREAT | O_CLOEXEC;
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

} // namespace tirovan::textio
