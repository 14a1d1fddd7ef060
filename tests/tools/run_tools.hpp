// Runs the built tirovan-tools in a folder, capturing its output.
#pragma once

#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "support/support.hpp"

namespace tirovan::test {

struct ToolsRun {
  int status = -1;
  std::string out, err;
};

// `arguments` are passed through the shell as written.
inline ToolsRun run_tools(const TempDir& dir, const std::string& arguments) {
  const std::string command =
      "cd '" + dir.path() + "' && '" TIROVAN_TOOLS_EXE "' " + arguments + " > .tools-out 2> .tools-err < /dev/null";
  const int raw = std::system(command.c_str());
  ToolsRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = dir.read(".tools-out");
  run.err = dir.read(".tools-err");
  return run;
}

} // namespace tirovan::test
