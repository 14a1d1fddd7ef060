// libFuzzer target: the free-format reader on arbitrary bytes with an
// arbitrary sequence of read statements. The first bytes choose the
// statements (how many items, which of them integers); the rest is the file.
// Every outcome must be values read or one of the reader's three failures.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "runtime/failure.hpp"
#include "textio/reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tirovan::textio;
  using tirovan::runtime::Failure;
  using tirovan::runtime::unit_measurements;
  if (size < 4) return 0;
  const std::size_t statements = data[0] % 8 + 1;
  const std::uint8_t kinds = data[1];
  const std::size_t items = data[2] % 40;
  const std::uint8_t null_runs = data[3];
  data += 4;
  size -= 4;

  const int fd = ::memfd_create("fuzz-input", 0);
  if (fd < 0) std::abort();
  if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
  ::lseek(fd, 0, SEEK_SET);
  Reader reader(fd, unit_measurements, "/fuzz/dane.dat", true);
  std::vector<float> reals(items, -1.0f);
  std::int32_t integer = -1;
  try {
    for (std::size_t s = 0; s < statements; ++s) {
      Reader::Statement statement(reader);
      if ((null_runs >> s) & 1u) continue; // a read without items
      for (std::size_t k = 0; k < items; ++k) {
        if ((kinds >> (k % 8)) & 1u)
          statement.item(integer);
        else
          statement.item(reals[k]);
      }
    }
  } catch (const Failure& failure) {
    const int status = failure.status();
    if (status != 24 && status != 41 && status != 59 && status != 64) std::abort();
    if (failure.message().rfind("forrtl: severe (", 0) != 0) std::abort();
  }
  return 0;
}
