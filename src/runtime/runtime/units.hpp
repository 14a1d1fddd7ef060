// Output units: buffered record output to the console and to files, and
// the registry of open units that keeps them consistent with one another.
//
// An output statement builds its whole record, line end CR LF included,
// straight into its unit's buffer; a buffer holds only complete records.
// Every record gets a number in the order the statements ran, across all
// units. Buffers are written out together (`flush_output_units`), file
// units before the console, when one of them is full, before a read that
// may wait, and at the end.
//
// A write the system refuses ends the run with failure 38 for its unit
// ("forrtl: <system text>" then "forrtl: severe (38): error during write,
// unit U, file PATH"), and every unit is left as an unbuffered program
// would leave it at that statement: records before it are written, later
// ones dropped, and a later record already written to a regular file (or
// the part of a record a short write left there) is cut off again. Written
// bytes cannot be taken back from a pipe or a terminal; there the unit ends
// with what it had received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tirovan::runtime {

namespace detail {
// Records written so far by every unit: a record's number is its place in
// the order the statements ran.
extern std::uint64_t records_numbered;
} // namespace detail

class OutputUnit {
public:
  // `fd` is written to; it is closed by close() or the destructor when
  // `owns_fd` is set. `path` names the file in failure messages. The unit
  // joins the registry for as long as it lives.
  OutputUnit(int fd, int unit, std::string path, bool owns_fd);
  ~OutputUnit(); // writes what is pending unless the run has ended by a refusal
  OutputUnit(const OutputUnit&) = delete;
  OutputUnit& operator=(const OutputUnit&) = delete;

  // Room for one record of at most `max_length` characters and its line
  // end; write the record there and pass its end to end_record().
  char* begin_record(std::size_t max_length) {
    if (buffer_.size() - used_ < max_length + line_end_size) make_room(max_length + line_end_size);
    return buffer_.data() + used_;
  }
  void end_record(char* end) {
    end[0] = '\r';
    end[1] = '\n';
    used_ = static_cast<std::size_t>(end + line_end_size - buffer_.data());
    pending_records_.push_back({flushed_ + used_, ++detail::records_numbered});
  }

  // Writes every unit's complete records (flush_output_units).
  void flush();
  // Flushes, then cuts this file right after the bytes written to it so
  // far. Only regular files are cut; devices and pipes have no length.
  void cut();
  // Flushes and closes an owned fd (a no-op for one that is not owned).
  void close();

  [[nodiscard]] int unit() const noexcept { return unit_; }
  [[nodiscard]] const std::string& path() const noexcept { return path_; }
  [[nodiscard]] std::size_t pending() const noexcept { return used_; }
  [[nodiscard]] bool is_console() const noexcept;

private:
  friend class UnitRegistry;
  static constexpr std::size_t line_end_size = 2; // CR LF
  struct Record {
    std::uint64_t end; // offset in this unit's output stream just past the record
    std::uint64_t number;
  };

  // Flushes every unit; grows the buffer if a record is longer than it.
  void make_room(std::size_t needed);
  // Writes the pending records numbered below `limit`; throws Refusal.
  void write_pending(std::uint64_t limit, bool may_wait);
  // Takes back, where the medium allows, every byte written from the first
  // record numbered `limit` or later (only the last written batch can hold
  // one); drops what is pending.
  void roll_back(std::uint64_t limit);
  [[nodiscard]] std::uint64_t first_unwritten_record(std::uint64_t stream_offset) const;

  int fd_;
  int unit_;
  std::string path_;
  bool owns_fd_;
  bool regular_; // a regular file: records written too early can be cut off again
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::uint64_t flushed_ = 0;           // stream offset of buffer_[0]: bytes fully handed over
  std::uint64_t written_ = 0;           // bytes the system accepted (> flushed_ after a short write)
  std::size_t sent_ = 0;                // bytes of buffer_ handed over by a write a signal cut short
  std::uint64_t batch_start_ = 0;       // stream offset where the last written batch began
  std::vector<Record> written_batch_;   // the records of that batch
  std::vector<Record> pending_records_; // the records in buffer_
};

// Writes the complete records of every open unit, file units first. A
// refusal throws the write failure of the unit whose record comes first in
// statement order, after settling every unit as described above.
void flush_output_units();

// The last flush of a run that a console event ends: file units are
// written as usual; a console on a pipe or terminal gets only what it
// takes without waiting. Never throws.
void flush_output_units_after_event() noexcept;

// Standard output: unit 6, named "/dev/stdout" in failure messages. The
// warnings of POSSOL and OZON go here; another program calling them flushes
// it (console().flush()) before writing to standard output itself, and it
// is flushed at exit.
OutputUnit& console();

} // namespace tirovan::runtime
