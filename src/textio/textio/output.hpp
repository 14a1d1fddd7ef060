// Buffered record output to the console and to files.
//
// An output statement builds its whole record, line end CR LF included,
// straight into the file's buffer; the buffer holds only complete records,
// so whatever way the run ends, flushing it never leaves half a record.
// A write the system refuses ends the run with failure 38 for the file's
// unit ("forrtl: <system text>" then "forrtl: severe (38): error during
// write, unit U, file PATH").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tirovan::textio {

class OutputFile {
public:
  // `fd` is written to; it is closed by close() or the destructor when
  // `owns_fd` is set. `path` names the file in failure messages.
  OutputFile(int fd, int unit, std::string path, bool owns_fd);
  ~OutputFile(); // flushes what it can, quietly, and closes an owned fd
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Room for one record of at most `max_length` characters and its line
  // end; write the record there and pass its end to end_record().
  char* begin_record(std::size_t max_length);
  void end_record(char* end);

  // Writes every complete record to the file. Throws the write failure.
  void flush();
  // Flushes, then cuts the file right after the bytes written so far.
  // Only regular files are cut; devices and pipes have no length.
  void cut();
  // Flushes and closes an owned fd (a no-op for one that is not owned).
  void close();

  [[nodiscard]] int unit() const noexcept { return unit_; }
  [[nodiscard]] const std::string& path() const noexcept { return path_; }
  [[nodiscard]] std::size_t pending() const noexcept { return used_; }

private:
  void write_all(const char* data, std::size_t size);

  int fd_;
  int unit_;
  std::string path_;
  bool owns_fd_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::uint64_t written_ = 0; // bytes handed to the system so far
};

// Standard output: unit 6, named "/dev/stdout" in failure messages. The
// warnings of POSSOL and OZON go here; another program calling them flushes
// it (console().flush()) before writing to standard output itself, and it
// is flushed at exit.
OutputFile& console();

// List output: one leading blank, then the items (texts at full length,
// reals in 16 columns). With no item the record is the blank alone.
void write_list(OutputFile& file);
void write_list(OutputFile& file, std::string_view text);
void write_list(OutputFile& file, std::string_view text, float value);

// Fixed-format output under a single A edit: the text alone, no blank.
void write_text_record(OutputFile& file, std::string_view text);

} // namespace tirovan::textio
