#include "runtime/units.hpp"

#include <algorithm>
#include <climits>
#include <cerrno>
#include <limits>

#include <poll.h>
#include <unistd.h>

#include "runtime/console_events.hpp"
#include "runtime/failure.hpp"
#include "runtime/files.hpp"

namespace tirovan::runtime {
namespace {

// Large enough that a flush is one system call per several hundred records,
// small enough to stay in cache.
constexpr std::size_t buffer_size = std::size_t{64} * 1024;
constexpr std::uint64_t no_limit = std::numeric_limits<std::uint64_t>::max();

// A write the system refused, at the record numbered `record`.
struct Refusal {
  OutputUnit* unit;
  std::uint64_t record;
  int error;
};

} // namespace

std::uint64_t detail::records_numbered = 0;

// The open units, in the order they were opened.
class UnitRegistry {
public:
  static UnitRegistry& instance() {
    static UnitRegistry registry;
    return registry;
  }

  void add(OutputUnit* unit) {
    units_.push_back(unit);
    ended_ = false; // a unit opened after a refusal belongs to a new run
  }
  void remove(OutputUnit* unit) { units_.erase(std::remove(units_.begin(), units_.end(), unit), units_.end()); }
  [[nodiscard]] bool ended() const { return ended_; }

  void flush(bool may_wait) {
    if (ended_) return;
    std::uint64_t limit = no_limit;
    const OutputUnit* refused = nullptr;
    int error = 0;
    // Until no unit refuses a record before the earliest refusal so far:
    // that refusal is the statement at which an unbuffered run would end.
    for (bool settled = false; !settled;) {
      settled = true;
      for (OutputUnit* unit : in_flush_order()) {
        try {
          unit->write_pending(limit, may_wait);
        } catch (const Refusal& refusal) {
          if (refusal.record < limit) {
            limit = refusal.record;
            refused = refusal.unit;
            error = refusal.error;
            settled = false;
          }
        }
      }
    }
    if (refused == nullptr) return;
    ended_ = true;
    for (OutputUnit* unit : units_) unit->roll_back(limit);
    throw io_failure(IoFailure::write_error, refused->unit(), refused->path(), error);
  }

private:
  // File units first: a console record written too early could not be
  // taken back from a terminal or a pipe, a file record can be cut off.
  std::vector<OutputUnit*> in_flush_order() const {
    std::vector<OutputUnit*> order;
    for (OutputUnit* unit : units_) {
      if (!unit->is_console()) order.push_back(unit);
    }
    for (OutputUnit* unit : units_) {
      if (unit->is_console()) order.push_back(unit);
    }
    return order;
  }

  std::vector<OutputUnit*> units_;
  bool ended_ = false;
};

OutputUnit::OutputUnit(int fd, int unit, std::string path, bool owns_fd)
    : fd_(fd), unit_(unit), path_(std::move(path)), owns_fd_(owns_fd), regular_(is_regular_file(fd)),
      buffer_(buffer_size) {
  written_batch_.reserve(buffer_size / 32);
  pending_records_.reserve(buffer_size / 32);
  UnitRegistry::instance().add(this);
}

OutputUnit::~OutputUnit() {
  if (!UnitRegistry::instance().ended()) {
    try {
      write_pending(no_limit, true);
    } catch (...) { // NOLINT(bugprone-empty-catch): the run is over; nothing left to report to
    }
  }
  UnitRegistry::instance().remove(this);
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
}

bool OutputUnit::is_console() const noexcept { return unit_ == unit_console; }

void OutputUnit::make_room(std::size_t needed) {
  flush();
  if (buffer_.size() - used_ < needed) {
    // A record longer than the buffer (used_ is 0), or, after a refusal,
    // records that are never written.
    buffer_.resize(used_ + needed);
  }
}

void OutputUnit::flush() { UnitRegistry::instance().flush(true); }

void OutputUnit::cut() {
  flush();
  if (regular_ && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
    throw io_failure(IoFailure::write_error, unit_, path_, errno);
  }
}

void OutputUnit::close() {
  flush();
  if (owns_fd_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::uint64_t OutputUnit::first_unwritten_record(std::uint64_t stream_offset) const {
  for (const Record& record : pending_records_) {
    if (record.end > stream_offset) return record.number;
  }
  return no_limit;
}

void OutputUnit::write_pending(std::uint64_t limit, bool may_wait) {
  if (used_ == 0 || fd_ < 0) return;
  std::size_t size = used_;
  if (limit != no_limit) {
    size = 0;
    for (const Record& record : pending_records_) {
      if (record.number >= limit) break;
      size = static_cast<std::size_t>(record.end - flushed_);
    }
  }
  std::size_t done = sent_;
  while (done < size) {
    std::size_t chunk = size - done;
    if (!may_wait && !regular_) {
      // Hand over only what the pipe or terminal takes now, a pipe's atomic
      // unit at a time.
      pollfd ready{fd_, POLLOUT, 0};
      if (::poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0) break;
      chunk = std::min<std::size_t>(chunk, PIPE_BUF);
    }
    const ssize_t n = ::write(fd_, buffer_.data() + done, chunk);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      written_ += static_cast<std::uint64_t>(n);
      // A signal may have cut the write short: its event ends the run now,
      // instead of waiting again for a reader that does not read.
      if (static_cast<std::size_t>(n) < chunk && may_wait) {
        sent_ = done;
        check_console_event();
      }
      continue;
    }
    const int error = n < 0 ? errno : EIO;
    if (error == EINTR) {
      sent_ = done;
      if (may_wait) check_console_event();
      continue;
    }
    if (error == EAGAIN && !may_wait) break;
    throw Refusal{this, first_unwritten_record(flushed_ + done), error};
  }
  sent_ = 0;
  batch_start_ = flushed_;
  flushed_ += size;
  // The records just written become the batch that a refusal elsewhere may
  // still take back; a settling or a last flush that wrote only part of the
  // buffer drops the rest, which is never written.
  written_batch_.swap(pending_records_);
  if (size < used_) {
    written_batch_.erase(std::find_if(written_batch_.begin(), written_batch_.end(),
                                      [this](const Record& r) { return r.end > flushed_; }),
                         written_batch_.end());
  }
  pending_records_.clear();
  used_ = 0;
}

void OutputUnit::roll_back(std::uint64_t limit) {
  std::uint64_t keep = batch_start_; // stream length an unbuffered run would have left
  bool reached = false;
  for (const std::vector<Record>* records : {&written_batch_, &pending_records_}) {
    for (const Record& record : *records) {
      reached = reached || record.number >= limit;
      if (!reached) keep = record.end;
    }
  }
  used_ = 0;
  pending_records_.clear();
  if (written_ <= keep || fd_ < 0 || !regular_) return;
  // The bytes went to the current file offset (the end, for a file opened
  // to append), so the file is cut that many bytes before it.
  const off_t position = ::lseek(fd_, 0, SEEK_CUR);
  const auto excess = static_cast<off_t>(written_ - keep);
  if (position >= excess) [[maybe_unused]]
    const int ignored = ::ftruncate(fd_, position - excess);
  written_ = keep;
}

void flush_output_units() { UnitRegistry::instance().flush(true); }

void flush_output_units_after_event() noexcept {
  try {
    UnitRegistry::instance().flush(false);
  } catch (...) { // NOLINT(bugprone-empty-catch): the console event is what the run reports
  }
}

OutputUnit& console() {
  static OutputUnit standard_output(STDOUT_FILENO, unit_console, "/dev/stdout", false);
  return standard_output;
}

} // namespace tirovan::runtime
