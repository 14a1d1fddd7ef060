#include "tools/output.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

#include "tools/status.hpp"

namespace tirovan::tools {
namespace {

std::string reason(int error) { return std::error_code(error, std::generic_category()).message(); }

std::vector<std::pair<dev_t, ino_t>>& run_inputs() {
  static std::vector<std::pair<dev_t, ino_t>> inputs;
  return inputs;
}

// Temporaries being written, for the signal handler to remove: fixed
// storage, so that the handler only reads memory and calls unlink().
constexpr int max_temporaries = 8;
char temporary_path[max_temporaries][PATH_MAX];             // NOLINT(cppcoreguidelines-avoid-c-arrays)
volatile std::sig_atomic_t temporary_live[max_temporaries]; // NOLINT(cppcoreguidelines-avoid-c-arrays)
constexpr int cleaned_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void remove_temporaries(int signal_number) {
  for (int i = 0; i < max_temporaries; ++i)
    if (temporary_live[i] != 0) (void)::unlink(temporary_path[i]);
  (void)std::signal(signal_number, SIG_DFL);
  (void)std::raise(signal_number);
}

// Installs the handler for the signals left at their default (an ignored
// SIGPIPE stays ignored: the write then fails and is reported).
void install_handler_once() {
  static const bool installed = [] {
    for (const int s : cleaned_signals) {
      struct sigaction old {};
      if (::sigaction(s, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = remove_temporaries;
      ::sigemptyset(&action.sa_mask);
      (void)::sigaction(s, &action, nullptr);
    }
    return true;
  }();
  (void)installed;
}

// Blocks the cleaned signals while a temporary is created and registered.
class SignalsHeld {
public:
  SignalsHeld() {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int s : cleaned_signals) ::sigaddset(&set, s);
    (void)::sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { (void)::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
  sigset_t old_{};
};

int register_temporary(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < max_temporaries; ++i) {
    if (temporary_live[i] != 0) continue;
    std::memcpy(temporary_path[i], path.c_str(), path.size() + 1);
    temporary_live[i] = 1;
    return i;
  }
  return -1; // not cleaned on a signal, still removed on a failure
}

// The last path of a chain of symbolic links (missing or not a link).
std::string final_target(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n < 0 || static_cast<std::size_t>(n) >= link.size()) return path;
    link.resize(static_cast<std::size_t>(n));
    if (link.front() != '/') {
      const std::size_t slash = path.rfind('/');
      if (slash != std::string::npos) link.insert(0, path, 0, slash + 1);
    }
    path = std::move(link);
  }
  return path; // a loop: open or rename reports it
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

void set_run_inputs(const std::vector<std::string>& paths) {
  run_inputs().clear();
  for (const std::string& path : paths) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) run_inputs().emplace_back(st.st_dev, st.st_ino);
  }
}

void refuse_input(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return;
  for (const auto& [dev, ino] : run_inputs())
    if (st.st_dev == dev && st.st_ino == ino) throw Error(path + " is an input file; choose another output");
}

OutputFile::OutputFile(const std::string& path) : name_(path.empty() ? "standard output" : path) {
  if (path.empty()) {
    fd_ = STDOUT_FILENO;
    return;
  }
  refuse_input(path);
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  target_ = final_target(path);
  if (exists && !S_ISREG(st.st_mode)) {                          // a device, a FIFO: written in place
    fd_ = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC); // NOLINT(cppcoreguidelines-pro-type-vararg)
    if (fd_ < 0) throw Error(path + ": cannot open: " + reason(errno));
    return;
  }
  mode_t mode = st.st_mode & 07777;
  if (!exists) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  install_handler_once();
  const std::string folder = folder_of(target_);
  {
    const SignalsHeld held;
    std::string temporary = folder + "/.tirovan-tools-XXXXXX";
    fd_ = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd_ < 0) throw Error(path + ": cannot create a temporary file in " + folder + ": " + reason(errno));
    temporary_ = std::move(temporary);
    slot_ = register_temporary(temporary_);
  }
  if (::fchmod(fd_, mode) != 0) {
    const int error = errno;
    discard();
    throw Error(path + ": cannot set the mode: " + reason(error));
  }
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept {
  if (fd_ >= 0 && fd_ != STDOUT_FILENO) (void)::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) (void)::unlink(temporary_.c_str());
  temporary_.clear();
  if (slot_ >= 0) temporary_live[slot_] = 0;
  slot_ = -1;
}

void OutputFile::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Error(name_ + ": cannot write: " + reason(errno));
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void OutputFile::commit() {
  if (fd_ == STDOUT_FILENO || fd_ < 0) return; // every write to standard output was checked
  if (temporary_.empty()) {                    // in place
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0 && errno != EINTR) throw Error(name_ + ": cannot write: " + reason(errno));
    return;
  }
  if (::fsync(fd_) != 0) throw Error(name_ + ": cannot write: " + reason(errno));
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0 && errno != EINTR) throw Error(name_ + ": cannot write: " + reason(errno));
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) throw Error(name_ + ": cannot replace: " + reason(errno));
  temporary_.clear();
  discard();
  // The rename itself reaches the disk with the folder: best effort.
  const int folder = ::open(folder_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); // NOLINT
  if (folder >= 0) {
    (void)::fsync(folder);
    (void)::close(folder);
  }
}

void write_file(const std::string& path, std::string_view content) {
  OutputFile file(path);
  file.write(content);
  file.commit();
}

} // namespace tirovan::tools
