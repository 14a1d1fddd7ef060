// What tirovan-tools must never do: lose a file its user owns, take a bad
// option, or pass off a degenerate Langley input as a calibration.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/langley.hpp"
#include "support/support.hpp"

namespace tirovan::analysis {
namespace {

struct Outcome {
  int status = -1;
  std::string first_error_line;
};

// The built program in `dir`; `arguments` may redirect standard output
// themselves (a later redirection wins over the default .tools-out).
Outcome run(const test::TempDir& dir, const std::string& arguments) {
  const std::string command =
      "cd '" + dir.path() + "' && '" TIROVAN_TOOLS_EXE "' " + arguments + " 2> .tools-err < /dev/null";
  const int raw = std::system(command.c_str());
  const std::string err = dir.read(".tools-err");
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, err.substr(0, err.find('\n'))};
}

void copy_example(const test::TempDir& dir) {
  for (const char* name : {"lang.dat", "dane.dat"})
    std::filesystem::copy_file(std::string(TIROVAN_EXAMPLES) + "/" + name, dir.file(name));
}

TEST(OutputSafety, UsersFilesSurviveEveryRun) {
  struct Case {
    const char* name;
    const char* setup; // shell commands run in the folder first
    const char* arguments;
    int status;
    const char* message; // in the first line of standard error; "" when none expected
    const char* file;    // inspected before and after
    bool replaced;       // the file becomes a report (else its bytes stay)
  };
  const Case cases[] = {
      {"lang.dat as the report", "", "report . -o lang.dat", 2, "lang.dat is an input file", "lang.dat", false},
      {"lang.dat as the calibration", "", "langley . -o lang.dat", 2, "lang.dat is an input file", "lang.dat", false},
      {"link to dane.dat", "ln -s dane.dat alias", "report . -o alias", 2, "alias is an input file", "dane.dat", false},
      {"figure named as dane.dat", "mkdir plots; ln -s ../dane.dat plots/aot_2024-06-15.svg",
       "report . -o out.csv --plot-dir plots", 2, "is an input file", "dane.dat", false},
      {"link to an old report", "mkdir kept; echo old > kept/r.csv; chmod 640 kept/r.csv; ln -s kept/r.csv r.csv",
       "report . -o r.csv", 0, "", "kept/r.csv", true},
      {"device target", "", "report . -o /dev/null", 0, "", "lang.dat", false},
      {"later failure", "echo old > out.csv; touch notdir", "report . -o out.csv --plot-dir notdir", 2,
       "notdir: not a folder", "out.csv", false},
      {"figure that cannot be written", "echo old > out.csv; mkdir plots; mkdir plots/aot_2024-06-15.svg",
       "report . -o out.csv --plot-dir plots", 2, "aot_2024-06-15.svg: cannot open", "out.csv", false},
      {"refused standard output", "", "report . > /dev/full", 2, "standard output: cannot write", "lang.dat", false},
      {"refused standard output, langley", "", "langley -n . > /dev/full", 2, "standard output: cannot write",
       "lang.dat", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    copy_example(dir);
    ASSERT_EQ(std::system(("cd '" + dir.path() + "' && true; " + c.setup).c_str()), 0);
    const std::string before = dir.read(c.file);
    const Outcome result = run(dir, c.arguments);
    EXPECT_EQ(result.status, c.status) << result.first_error_line;
    EXPECT_NE(result.first_error_line.find(c.message), std::string::npos) << result.first_error_line;
    const std::string after = dir.read(c.file);
    if (c.replaced) {
      EXPECT_EQ(after.rfind("time_utc,", 0), 0U) << after;
      struct stat st {};
      ASSERT_EQ(::lstat(dir.file("r.csv").c_str(), &st), 0);
      EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
      ASSERT_EQ(::stat(dir.file("r.csv").c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0640U) << "the old file's mode is kept";
    } else {
      EXPECT_EQ(after, before);
    }
    struct stat null {};
    EXPECT_TRUE(::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode)) << "/dev/null written in place";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
      EXPECT_EQ(entry.path().filename().string().rfind(".tirovan-tools-", 0), std::string::npos) << entry.path();
  }
}

TEST(OptionSafety, OutOfRangeOptionsAreRefusedByName) {
  struct Case {
    const char* arguments;
    const char* first_line;
  };
  const Case cases[] = {
      {"langley -n . --min-fraction 1e300", "tirovan-tools: --min-fraction: Value 1e300 not in range [0, 1]"},
      {"langley -n . --reject-sd nan", "tirovan-tools: --reject-sd: Value nan is not finite"},
      {"langley -n . --reject-sd 0", "tirovan-tools: --reject-sd: Value 0 not in range (0, 100]"},
      {"langley -n . --passes -5", "tirovan-tools: --passes: Value -5 not in range 0 to 100"},
      {"langley -n . --min-points 0", "tirovan-tools: --min-points: Value 0 not in range 3 to 1000000"},
      {"langley -n . --min-points 2", "tirovan-tools: --min-points: Value 2 not in range 3 to 1000000"},
      {"langley -n . --max-sd 0", "tirovan-tools: --max-sd: Value 0 not in range (0, 10]"},
      {"langley -n . --air-mass-min 6 --air-mass-max 2",
       "tirovan-tools: --air-mass-min 6 and --air-mass-max 2: the range must span at least 1 air mass"},
      {"langley -n . --air-mass-min 3 --air-mass-max 3.5",
       "tirovan-tools: --air-mass-min 3 and --air-mass-max 3.5: the range must span at least 1 air mass"},
      {"langley -n . --air-mass-max inf", "tirovan-tools: --air-mass-max: Value inf is not finite"},
      {"langley -n . --air-mass-max 4.99",
       "tirovan-tools: --air-mass-min 2 and --air-mass-max 4.99: the range is narrower than --min-span 3"},
      {"langley -n . --max-rising 1.5", "tirovan-tools: --max-rising: Value 1.5 not in range [0, 1]"},
      {"langley -n . --geometry ephemeris", "tirovan-tools: --geometry: ephemeris not in {precise,core}"},
      {"report . --triplet-abs nan", "tirovan-tools: --triplet-abs: Value nan is not finite"},
      {"report . --triplet-rel -0.1", "tirovan-tools: --triplet-rel: Value -0.1 not in range [0, 10]"},
      {"report . --triplet-window 0", "tirovan-tools: --triplet-window: Value 0 not in range (0, 1440]"},
      {"report . --sigma-limit 1e400", "tirovan-tools: --sigma-limit: Value 1e400 is not finite"},
      {"report . --max-warnings -1", "tirovan-tools: --max-warnings: Value -1 not in range 0 to 1000000000"},
  };
  test::TempDir dir;
  copy_example(dir);
  for (const Case& c : cases) {
    const Outcome result = run(dir, std::string(c.arguments) + " > /dev/null");
    EXPECT_EQ(result.status, 2) << c.arguments;
    EXPECT_EQ(result.first_error_line, c.first_line) << c.arguments;
  }
}

// A line needs a spread of air masses and a signal that changes: the span
// boundary (on the values), one record repeated, a stuck detector.
TEST(LangleySafety, DegenerateHalfDaysAreRefusedWithTheirReason) {
  struct Case {
    const char* name;
    double first_m, last_m, tau; // points evenly from first_m to last_m on ln V = 0.5 - tau m
    LangleyVerdict verdict;
    const char* reason;
  };
  const Case cases[] = {
      {"one record 50 times", 3.0, 3.0, 0.2, LangleyVerdict::narrow_span, "span 0, at least 1 needed"},
      {"span just short", 3.0, 3.0 + 0.999, 0.2, LangleyVerdict::narrow_span, "span 0.999"},
      {"span exactly 1", 3.0, 4.0, 0.2, LangleyVerdict::accepted, "accepted"},
      {"stuck signal", 2.0, 6.0, 0.0, LangleyVerdict::constant_signal, "all 50 signals equal"},
  };
  for (const Case& c : cases) {
    std::vector<LangleyPoint> points;
    for (int k = 0; k < 50; ++k) {
      const double m = k == 49 ? c.last_m : c.first_m + (c.last_m - c.first_m) * k / 49.0;
      points.push_back({m, 0.5 - c.tau * m});
    }
    LangleyOptions options;
    options.rejection_passes = 0;    // an exact line leaves residuals of rounding only: nothing to reject
    options.min_coverage_span = 1.0; // the degenerate limit alone; the coverage rule has its own table
    const LangleyFit fit = fit_langley(points, options);
    EXPECT_EQ(fit.verdict, c.verdict) << c.name;
    EXPECT_NE(verdict_text(fit, options).find(c.reason), std::string::npos)
        << c.name << ": " << verdict_text(fit, options);
  }
}

} // namespace
} // namespace tirovan::analysis
