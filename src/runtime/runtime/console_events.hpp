// Console events: Control-C (SIGINT), Control-Break (SIGQUIT), the console
// window closing (SIGHUP) and shut-down (SIGTERM) end the run at once, every
// complete output record kept.
//
// The handlers only record the event; the run notices it between read
// statements (`check_console_event`), and after every read or write that a
// signal interrupted or cut short.
// While a `BlockingSection` is open every output has already been flushed,
// so the handler itself writes the event's line and ends the process: no
// event can slip in between the last check and a read that waits forever.
//
// Lines and statuses:
//   SIGINT  "forrtl: error (200): program aborting due to control-C event"      130
//   SIGQUIT "forrtl: error (200): program aborting due to control-BREAK event"  1
//   SIGHUP  "forrtl: error (200): program aborting due to window-CLOSE event"   2
//   SIGTERM nothing                                                             143
#pragma once

#include <csignal>

#include "runtime/failure.hpp"

namespace tirovan::runtime {

// Installs the four handlers (without SA_RESTART, so that blocking reads and
// writes return EINTR) for every one of the four signals that was not
// ignored when the process started, and ignores SIGPIPE and SIGXFSZ, so
// that a closed pipe or a file-size limit (ulimit -f) is reported as a
// failed write instead of killing the process.
void install_console_handlers();

namespace detail {
extern volatile std::sig_atomic_t pending_console_event;
[[noreturn]] void throw_console_event();
} // namespace detail

// Throws the event's Failure if an event has arrived.
inline void check_console_event() {
  if (detail::pending_console_event != 0) detail::throw_console_event();
}

// The Failure that ends the run for signal `signal_number`.
[[nodiscard]] Failure console_event_failure(int signal_number);

class BlockingSection {
public:
  BlockingSection();
  ~BlockingSection();
  BlockingSection(const BlockingSection&) = delete;
  BlockingSection& operator=(const BlockingSection&) = delete;
};

} // namespace tirovan::runtime
