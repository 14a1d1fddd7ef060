// libFuzzer target: a whole run on an arbitrary pair of input files. The
// input is split at the first "\n@@\n" into lang.dat and dane.dat, written
// to a scratch folder that is the working directory; standard output goes
// to /dev/null. Every run must end normally or with one of the defined
// failures, and wyniki.dat must hold only complete records.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "driver/driver.hpp"

namespace {

void write_file(const char* name, std::string_view content) {
  std::ofstream(name, std::ios::binary | std::ios::trunc)
      .write(content.data(), static_cast<std::streamsize>(content.size()));
}

bool records_complete(const std::string& results) {
  return results.empty() || (results.size() >= 2 && results.compare(results.size() - 2, 2, "\r\n") == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/tirovan-fuzz-XXXXXX";
  if (::mkdtemp(folder) == nullptr || ::chdir(folder) != 0) std::abort();
  const int null = ::open("/dev/null", O_WRONLY);
  ::dup2(null, STDOUT_FILENO);
  ::close(null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find("\n@@\n");
  write_file("lang.dat", input.substr(0, split));
  write_file("dane.dat", split == std::string_view::npos ? std::string_view() : input.substr(split + 4));
  std::filesystem::remove("wyniki.dat");

  const tirovan::driver::Outcome outcome = tirovan::driver::run_quietly();
  static const std::set<int> statuses = {0, 3, 24, 41, 59, 64, 65, 184};
  if (statuses.count(outcome.status) == 0) std::abort();
  if ((outcome.status == 0) != outcome.message.empty()) std::abort();
  std::ifstream in("wyniki.dat", std::ios::binary);
  const std::string results{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!records_complete(results)) std::abort();
  return 0;
}
