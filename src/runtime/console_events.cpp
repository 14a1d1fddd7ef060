#include "runtime/console_events.hpp"

#include <cerrno>
#include <cstring>

#include <signal.h>
#include <unistd.h>

namespace tirovan::runtime {
namespace detail {
volatile std::sig_atomic_t pending_console_event = 0;
} // namespace detail

namespace {

volatile std::sig_atomic_t blocking_section_open = 0;

struct EventEnd {
  const char* line; // with its '\n', or empty
  int status;
};

EventEnd event_end(int signal_number) {
  switch (signal_number) {
  case SIGINT: return {"forrtl: error (200): program aborting due to control-C event\n", status_control_c};
  case SIGQUIT: return {"forrtl: error (200): program aborting due to control-BREAK event\n", status_control_break};
  case SIGHUP: return {"forrtl: error (200): program aborting due to window-CLOSE event\n", status_window_close};
  default: return {"", status_shutdown};
  }
}

extern "C" void on_console_event(int signal_number) {
  if (blocking_section_open != 0) {
    // Everything is flushed: write the line and go, with async-signal-safe calls only.
    const EventEnd end = event_end(signal_number);
    const std::size_t length = std::strlen(end.line);
    if (length > 0) {
      [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, end.line, length);
    }
    ::_exit(end.status);
  }
  if (detail::pending_console_event == 0) detail::pending_console_event = signal_number;
}

} // namespace

void install_console_handlers() {
  struct sigaction action {};
  action.sa_handler = on_console_event;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0; // no SA_RESTART: a blocked read or write returns EINTR
  for (const int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
    // A signal ignored by whoever started us (nohup, a shell's background
    // job) stays ignored: the caller asked for the run to survive it.
    struct sigaction inherited {};
    if (::sigaction(signal_number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    ::sigaction(signal_number, &action, nullptr);
  }
  // A closed pipe and a file-size limit refuse the write instead (EPIPE,
  // EFBIG), which ends the run as the write failure with complete records.
  // Ignoring them keeps an inherited SIG_IGN as it was.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (const int signal_number : {SIGPIPE, SIGXFSZ}) ::sigaction(signal_number, &ignore, nullptr);
}

Failure console_event_failure(int signal_number) {
  const EventEnd end = event_end(signal_number);
  return {end.line, end.status, true};
}

void detail::throw_console_event() { throw console_event_failure(pending_console_event); }

BlockingSection::BlockingSection() {
  blocking_section_open = 1;
  // An event that arrived just before the section opened is handled here,
  // before the caller blocks.
  if (detail::pending_console_event != 0) {
    blocking_section_open = 0;
    detail::throw_console_event();
  }
}

BlockingSection::~BlockingSection() { blocking_section_open = 0; }

} // namespace tirovan::runtime
