// Failure messages, statuses and the checked mathematical functions.

#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "runtime/checked_math.hpp"
#include "runtime/console_events.hpp"
#include "runtime/failure.hpp"

namespace tirovan::runtime {
namespace {

TEST(Failure, SevereStatusIsTheLowByteOfTheWindowsStatus) {
  const int numbers[] = {24, 30, 38, 42, 43, 59, 64, 600, 601, 602, 603, 696};
  for (const int n : numbers)
    EXPECT_EQ(severe_status(n), static_cast<int>((0xC0000000u + static_cast<unsigned>(n)) & 0xFFu));
  EXPECT_EQ(severe_status(600), 88);
  EXPECT_EQ(zero_to_negative_power().status(), 184);
}

TEST(Failure, IoMessages) {
  EXPECT_EQ(io_failure(IoFailure::end_of_file, 31, "/home/ana/run/dane.dat").message(),
            "forrtl: severe (24): end-of-file during read, unit 31, file /home/ana/run/dane.dat\n");
  EXPECT_EQ(io_failure(IoFailure::syntax_error, 21, "/x/lang.dat").message(),
            "forrtl: severe (59): list-directed I/O syntax error, unit 21, file /x/lang.dat\n");
  EXPECT_EQ(io_failure(IoFailure::conversion_error, 31, "/x/dane.dat").message(),
            "forrtl: severe (64): input conversion error, unit 31, file /x/dane.dat\n");
  EXPECT_EQ(io_failure(IoFailure::write_error, 41, "/x/wyniki.dat", ENOSPC).message(),
            std::string("forrtl: ") + std::strerror(ENOSPC) +
                "\nforrtl: severe (38): error during write, unit 41, file /x/wyniki.dat\n");
  EXPECT_EQ(out_of_memory(31, "/x/dane.dat").message(),
            "forrtl: severe (41): insufficient virtual memory, unit 31, file /x/dane.dat\n");
  EXPECT_EQ(out_of_memory().message(), out_of_memory_line);
  EXPECT_EQ(out_of_memory().status(), 41);
}

struct OpenCase {
  int error;
  const char* message;
  int status;
};

TEST(Failure, OpenFailuresByErrno) {
  const std::string path = "/x/wyniki.dat";
  const OpenCase cases[] = {
      {EACCES, "forrtl: severe (600): access not allowed\n", 88},
      {EPERM, "forrtl: severe (600): access not allowed\n", 88},
      {EROFS, "forrtl: severe (600): access not allowed\n", 88},
      {EEXIST, "forrtl: severe (601): file already exists\n", 89},
      {ENOENT, "forrtl: severe (602): file not found\n", 90},
      {ENOTDIR, "forrtl: severe (602): file not found\n", 90},
      {EMFILE, "forrtl: severe (603): too many open files\n", 91},
      {ENFILE, "forrtl: severe (603): too many open files\n", 91},
      {ENXIO, "forrtl: severe (42): no such device, unit 41, file /x/wyniki.dat\n", 42},
      {ENODEV, "forrtl: severe (42): no such device, unit 41, file /x/wyniki.dat\n", 42},
      {ENAMETOOLONG, "forrtl: severe (43): file name specification error, unit 41, file /x/wyniki.dat\n", 43},
      {EILSEQ, "forrtl: severe (43): file name specification error, unit 41, file /x/wyniki.dat\n", 43},
  };
  for (const auto& c : cases) {
    const Failure failure = open_failure(41, path, c.error);
    EXPECT_EQ(failure.message(), c.message) << c.error;
    EXPECT_EQ(failure.status(), c.status) << c.error;
  }
  const Failure other = open_failure(41, path, EISDIR);
  EXPECT_EQ(other.message(), std::string("forrtl: ") + std::strerror(EISDIR) +
                                 "\nforrtl: severe (30): open failure, unit 41, file /x/wyniki.dat\n");
  EXPECT_EQ(other.status(), 30);
}

struct MathCase {
  const char* name;
  std::function<void()> call;
  const char* message; // empty: no failure
};

TEST(CheckedMath, DomainSingularityOverflowAndLossOfSignificance) {
  namespace c = checked;
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const MathCase cases[] = {
      {"log of zero", [] { (void)c::log(0.0f); }, "\nrun-time error M6202: MATH\n- log: SING\n"},
      {"log of minus zero", [] { (void)c::log(-0.0f); }, "\nrun-time error M6202: MATH\n- log: SING\n"},
      {"log of a negative", [] { (void)c::log(-1.0f); }, "\nrun-time error M6201: MATH\n- log: DOMAIN\n"},
      {"log of -inf", [=] { (void)c::log(-inf); }, "\nrun-time error M6201: MATH\n- log: DOMAIN\n"},
      {"pow of a negative base", [] { (void)c::pow(-0.5, -1.6364); }, "\nrun-time error M6201: MATH\n- pow: DOMAIN\n"},
      {"pow of zero to a negative", [] { (void)c::pow(0.0, -1.6364); }, "\nrun-time error M6202: MATH\n- pow: SING\n"},
      {"pow overflow", [] { (void)c::pow(1e-200, -2.0); }, "\nrun-time error M6203: MATH\n- pow: OVERFLOW\n"},
      {"asin beyond 1", [] { (void)c::asin(1.0000001f); }, "\nrun-time error M6201: MATH\n- asin: DOMAIN\n"},
      {"acos beyond -1", [] { (void)c::acos(-1.5f); }, "\nrun-time error M6201: MATH\n- acos: DOMAIN\n"},
      {"sin of infinity", [=] { (void)c::sin(inf); }, "\nrun-time error M6201: MATH\n- sin: DOMAIN\n"},
      {"cos of -inf", [=] { (void)c::cos(-inf); }, "\nrun-time error M6201: MATH\n- cos: DOMAIN\n"},
      {"sin of 1e20 is exact",
       [] { EXPECT_FLOAT_EQ(c::sin(1e20f), static_cast<float>(std::sin(static_cast<double>(1e20f)))); }, ""},
      {"log of NaN passes", [=] { EXPECT_TRUE(std::isnan(c::log(nan))); }, ""},
      {"asin of NaN passes", [=] { EXPECT_TRUE(std::isnan(c::asin(nan))); }, ""},
      {"pow of a negative base to an integer", [] { EXPECT_EQ(c::pow(-2.0, 3.0), -8.0); }, ""},
      {"asin of 1", [] { EXPECT_FLOAT_EQ(c::asin(1.0f), 1.5707964f); }, ""},
  };
  for (const auto& mc : cases) {
    SCOPED_TRACE(mc.name);
    try {
      mc.call();
      EXPECT_STREQ(mc.message, "");
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message(), mc.message);
      EXPECT_EQ(failure.status(), 3);
    }
  }
}

TEST(Failure, LossOfSignificanceReport) {
  EXPECT_EQ(math_failure("sin", MathKind::tloss).message(), "\nrun-time error M6205: MATH\n- sin: TLOSS\n");
  EXPECT_EQ(math_failure("pow", MathKind::overflow).status(), 3);
}

TEST(ConsoleEvents, LinesAndStatuses) {
  EXPECT_EQ(console_event_failure(SIGINT).message(), "forrtl: error (200): program aborting due to control-C event\n");
  EXPECT_EQ(console_event_failure(SIGINT).status(), 130);
  EXPECT_EQ(console_event_failure(SIGQUIT).message(),
            "forrtl: error (200): program aborting due to control-BREAK event\n");
  EXPECT_EQ(console_event_failure(SIGQUIT).status(), 1);
  EXPECT_EQ(console_event_failure(SIGHUP).message(),
            "forrtl: error (200): program aborting due to window-CLOSE event\n");
  EXPECT_EQ(console_event_failure(SIGHUP).status(), 2);
  EXPECT_EQ(console_event_failure(SIGTERM).message(), "");
  EXPECT_EQ(console_event_failure(SIGTERM).status(), 143);
}

} // namespace
} // namespace tirovan::runtime
