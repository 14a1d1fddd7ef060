// The one way tirovan-tools writes a file (a report's CSV, a calibration,
// a figure), so that no run loses a file its user owns:
//
//  - an input of the run (lang.dat, dane.dat, by device and inode, through
//    symbolic links) is never an output: Error, status 2;
//  - a regular file, or a missing one, is replaced atomically: the bytes go
//    to a temporary file in the folder of the final target, are synced and
//    renamed over it; the old file's mode is kept (a new file gets 0666
//    less the umask). On failure, or on SIGINT, SIGTERM, SIGHUP or SIGPIPE,
//    the temporary is removed and the old file stays whole;
//  - anything else (a device such as /dev/null, a FIFO, standard output) is
//    written in place, never replaced;
//  - a symbolic link stays a link: its final target is what is replaced;
//  - every write, the sync and the close are checked: Error, status 2.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tirovan::tools {

// The files the current run reads; an output that is one of them is
// refused. Each existing file is identified now by device and inode.
void set_run_inputs(const std::vector<std::string>& paths);

// Throws Error (status 2) when `path` is one of the run's inputs, so that a
// command can refuse before doing its work.
void refuse_input(const std::string& path);

class OutputFile {
public:
  // Opens `path` by the policy above; empty: standard output.
  explicit OutputFile(const std::string& path);
  // Without commit(): the temporary is removed, the old file left as it was.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] const std::string& name() const { return name_; }
  // The temporary file in the target's folder (empty when writing in
  // place), for a library that must create the file by its path itself.
  [[nodiscard]] const std::string& temporary() const { return temporary_; }
  // Writes all of `bytes`; throws Error when the system refuses.
  void write(std::string_view bytes);
  // Syncs, closes and renames the temporary over the target (in place:
  // closes; standard output: checks it was all taken). Throws Error.
  void commit();

private:
  void discard() noexcept;

  std::string name_;      // as given, for messages
  std::string target_;    // the final target after symbolic links
  std::string temporary_; // empty unless replacing
  int fd_ = -1;
  int slot_ = -1; // in the table the signal handler cleans
};

// `content` as the whole of the file at `path`, by the policy above.
void write_file(const std::string& path, std::string_view content);

} // namespace tirovan::tools
