#include "tools/status.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tirovan::tools {

void print_error(const std::string& text) { print_err("tirovan-tools: " + text); }

void print_out(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) == EOF || std::fputc('\n', stdout) == EOF) {
    throw Error("standard output: cannot write: " + std::string(std::strerror(errno)));
  }
}

void flush_out() {
  if (std::fflush(stdout) != 0) throw Error("standard output: cannot write: " + std::string(std::strerror(errno)));
}

void print_err(const std::string& text) {
  (void)std::fputs(text.c_str(), stderr);
  (void)std::fputc('\n', stderr);
}

} // namespace tirovan::tools
