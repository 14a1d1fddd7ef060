// The batch pass: banner, calibration file, results file, measurement file
// and the retrieval of every measurement, in the working directory.
#pragma once

#include <string>

namespace tirovan::driver {

// Runs the whole pass and returns the process exit status: 0 after the
// last measurement, or the status of the failure that ended the run, whose
// message has gone to standard error. Every complete record written before
// the end is in its file. Memory running out is such a failure (41,
// runtime::out_of_memory), never an abort.
[[nodiscard]] int run();

// The same pass, handing back the failure message instead of writing it.
// It throws std::bad_alloc only when not even that message can be
// allocated.
struct Outcome {
  int status;
  std::string message; // empty after a normal end (and after SIGTERM)
};
[[nodiscard]] Outcome run_quietly();

} // namespace tirovan::driver
