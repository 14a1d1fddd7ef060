// Micro-benchmarks of the hot path: reading a measurement record, the two
// real formatters, and one ten-channel retrieval.

#include <array>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "driver/retrieval.hpp"
#include "runtime/failure.hpp"
#include "textio/format.hpp"
#include "runtime/units.hpp"
#include "textio/reader.hpp"
#include "textio/records.hpp"

namespace {

using namespace tirovan;

const std::string record =
    "13 2 2003 20 30 -53.68 -57.27 1011.2 0.21397 0.0027 0.68227 0.0017 1.1196 0.0017 1.3374 0.0034 "
    "1.4397 0.0018 1.6993 0.0032 1.739 0.0019 1.8096 0.0013 1.8075 0.0012 1.2251 0.0029\n";

// Reads one measurement record (8 + 2 x 10 values) per iteration from a
// file of repeated records.
void BM_ReadRecord(benchmark::State& state) {
  char path[] = "/tmp/tirovan-bench-XXXXXX";
  const int fd = ::mkstemp(path);
  std::string block;
  for (int k = 0; k < 20000; ++k) block += record;
  if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) state.SkipWithError("write");
  std::int32_t day = 0, month = 0, year = 0;
  std::array<float, 25> reals{};
  for (auto _ : state) {
    state.PauseTiming();
    ::lseek(fd, 0, SEEK_SET);
    textio::Reader reader(::dup(fd), runtime::unit_measurements, path, true);
    state.ResumeTiming();
    for (int k = 0; k < 20000; ++k) {
      textio::Reader::Statement statement(reader);
      statement.item(day);
      statement.item(month);
      statement.item(year);
      statement.items(reals);
    }
    benchmark::DoNotOptimize(reals);
  }
  state.SetItemsProcessed(state.iterations() * 20000);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size()));
  ::close(fd);
  ::unlink(path);
}
BENCHMARK(BM_ReadRecord)->Unit(benchmark::kMillisecond);

void BM_ListReal(benchmark::State& state) {
  char field[32];
  float x = 0.0123456f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(textio::edit_list_real(field, x));
    x += 1e-7f;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ListReal);

void BM_FixedF10_3(benchmark::State& state) {
  char field[32];
  float x = 0.0123456f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(textio::edit_fixed(field, x, 10, 3));
    x += 1e-7f;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FixedF10_3);

// One ten-channel measurement, its report lines to /dev/null.
void BM_Retrieval(benchmark::State& state) {
  const int null = ::open("/dev/null", O_WRONLY);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(null, STDOUT_FILENO);
  constexpr std::array<float, 10> wavelength = {380, 440, 500, 532, 555, 610, 675, 779, 870, 1020};
  constexpr std::array<float, 10> calibration = {0.8123f, 1.5213f, 1.8472f, 1.9930f, 2.0511f,
                                                 2.1876f, 2.1034f, 2.0402f, 1.9561f, 1.3127f};
  constexpr std::array<float, 10> measured = {0.21397f, 0.68227f, 1.1196f, 1.3374f, 1.4397f,
                                              1.6993f,  1.739f,   1.8096f, 1.8075f, 1.2251f};
  const std::array<float, 10> dark{};
  std::array<float, 10> signal{}, aot{};
  driver::Measurement m;
  m.day = 13, m.month = 2, m.year = 2003, m.hour = 20, m.minute = 30, m.lon = -53.68f, m.lat = -57.27f;
  m.pressure = 1011.2f;
  for (auto _ : state) {
    signal = measured;
    for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = signal[i] - dark[i];
    (void)driver::locate_sun(m);
    for (std::size_t i = 0; i < signal.size(); ++i) {
      aot[i] = driver::channel_aot(m, i, wavelength[i], calibration[i], signal[i]).aot;
      textio::write_list(runtime::console(), "Grubosc optyczna aerozolu", aot[i]);
    }
    benchmark::DoNotOptimize(aot);
  }
  runtime::console().flush();
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  ::close(null);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Retrieval);

} // namespace

BENCHMARK_MAIN();
