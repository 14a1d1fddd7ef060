// check: one broken copy of the bundled example per rule, the diagnostic
// expected with its line and column, and the exit status.
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_tools.hpp"
#include "support/support.hpp"

namespace tirovan::test {
namespace {

std::string read_example(const std::string& name) {
  std::ifstream in(std::string(TIROVAN_EXAMPLES) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// Column (from 1) of blank-separated field `index` (from 0) of a line.
std::size_t column_of(const std::string& line, std::size_t index) {
  std::size_t pos = line.find_first_not_of(' ');
  for (std::size_t i = 0; i < index; ++i) pos = line.find_first_not_of(' ', line.find(' ', pos));
  return pos + 1;
}

struct Files {
  std::vector<std::string> lang, dane; // lines
  // Replaces field `index` of dane.dat line `line` (from 1); returns "dane.dat:LINE:COLUMN".
  std::string set(std::vector<std::string>& file, const char* name, std::size_t line, std::size_t index,
                  const std::string& value) const {
    std::string& text = file[line - 1];
    const std::size_t start = column_of(text, index) - 1;
    const std::size_t end = std::min(text.find(' ', start), text.size());
    text.replace(start, end - start, value);
    return std::string(name) + ":" + std::to_string(line) + ":" + std::to_string(start + 1);
  }
  std::string dane_set(std::size_t line, std::size_t index, const std::string& value) {
    return set(dane, "dane.dat", line, index, value);
  }
  std::string lang_set(std::size_t line, std::size_t index, const std::string& value) {
    return set(lang, "lang.dat", line, index, value);
  }
};

struct Case {
  const char* rule;
  // Breaks the files; returns the expected "FILE:LINE[:COLUMN]" of the diagnostic.
  std::function<std::string(Files&)> breakage;
  const char* severity_and_text; // what follows the location
  int status;
};

TEST(Check, TheBundledExampleIsClean) {
  TempDir dir;
  dir.write("lang.dat", read_example("lang.dat"));
  dir.write("dane.dat", read_example("dane.dat"));
  const ToolsRun run = run_tools(dir, "check");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "lang.dat and dane.dat: 20 records checked, 0 errors, 0 warnings\n");
}

TEST(Check, OneBrokenFilePerRule) {
  // Records are on lines 3..22 of dane.dat: day month year hour minute lon lat pressure, then signal dark x 5.
  const std::vector<Case> cases = {
      {"bad-number", [](Files& f) { return f.dane_set(5, 6, "52.2x"); }, ": error: '52.2x' is not a number", 2},
      {"decimal-comma", [](Files& f) { return f.dane_set(5, 17, "0,0027"); },
       ": error: '0,0027' is read as two values, 0 and 0027", 2},
      {"channel-count",
       [](Files& f) {
         f.lang_set(9, 0, "4");
         return std::string("dane.dat:1:1");
       },
       ": error: dane.dat has 5 channels but lang.dat calibrates 4 (lang.dat:9:1)", 2},
      {"channel-order",
       [](Files& f) {
         f.dane_set(2, 2, "500");
         return f.dane_set(2, 1, "675");
       },
       ": error: wavelengths 440 675 500 870 1020 are not in the order of lang.dat's list", 2},
      {"extra-records",
       [](Files& f) {
         f.dane.push_back(f.dane.back());
         return std::string("dane.dat:23:1");
       },
       ": error: 1 line after the 20 declared records hold numbers", 2},
      {"early-end",
       [](Files& f) {
         f.dane_set(1, 1, "21");
         return std::string("dane.dat:23:1");
       },
       ": error: the file ends after 20 of the 21 declared records", 2},
      {"dark-signal", [](Files& f) { return f.dane_set(7, 9, "0.9"); },
       ": error: dark signal 0.9 of channel 1 is not below its signal", 2},
      {"calibration", [](Files& f) { return f.lang_set(11, 2, "0"); }, ": error: calibration signal of channel 3 is 0",
       2},
      {"wavelength-zero", [](Files& f) { return f.dane_set(2, 4, "0"); }, ": error: channel 5 has wavelength 0 nm", 2},
      {"month", [](Files& f) { return f.dane_set(11, 1, "13"); }, ": error: month 13 is outside 1..12", 2},
      {"day", [](Files& f) { return f.dane_set(9, 0, "31"); }, ": error: day 31 does not exist in month 6 of 2024", 2},
      {"minute", [](Files& f) { return f.dane_set(13, 4, "75"); }, ": warning: minute 75 is outside 0-59", 1},
      {"hour",
       [](Files& f) {
         f.dane_set(13, 5, "-150"); // a site where the Sun is up at 00:30 UT
         return f.dane_set(13, 3, "24.5");
       },
       ": warning: hour 24.5 is outside 0-24", 1},
      {"longitude", [](Files& f) { return f.dane_set(12, 5, "200"); }, ": error: longitude 200 is outside -180..180",
       2},
      {"latitude", [](Files& f) { return f.dane_set(12, 6, "-95"); }, ": error: latitude -95 is outside -90..90", 2},
      {"pressure", [](Files& f) { return f.dane_set(10, 7, "101200"); }, ": warning: pressure 101200 hPa is outside",
       1},
      {"wavelength-range",
       [](Files& f) {
         f.lang_set(10, 4, "3000");
         return f.dane_set(2, 4, "3000");
       },
       ": warning: channel 5 has wavelength 3000 nm, outside 300-2500 nm", 1},
      {"wavelength-differs",
       [](Files& f) {
         f.lang_set(10, 2, "640");
         return std::string("dane.dat:2:9");
       },
       ": warning: channel 3 is 675 nm here but 640 nm in lang.dat (lang.dat:10:9)", 1},
      {"sun-below-horizon",
       [](Files& f) {
         f.dane_set(14, 4, "0");
         return f.dane_set(14, 3, "19.5");
       },
       ": warning: the Sun is 4.25 deg below the horizon", 1},
      {"sun-too-low", [](Files& f) { return f.dane_set(14, 3, "23"); },
       ": error: the Sun is 12.77 deg below the horizon", 2},
      {"local-time",
       [](Files& f) {
         for (std::size_t line = 3; line <= 22; ++line) {
           const std::string hour = f.dane[line - 1].substr(column_of(f.dane[line - 1], 3) - 1, 2);
           f.dane_set(line, 3, std::to_string(std::stoi(hour) + 1));
         }
         return std::string("dane.dat:3:").append(std::to_string(column_of(f.dane[2], 3)));
       },
       ": warning: times of 2024-06-15 look like local time (UTC+1)", 1},
      {"count-limit", [](Files& f) { return f.dane_set(1, 0, "5000"); },
       ": error: channel count 5000 exceeds the limit", 2},
  };
  const Files example{lines_of(read_example("lang.dat")), lines_of(read_example("dane.dat"))};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    Files files = example;
    const std::string where = c.breakage(files);
    TempDir dir;
    dir.write("lang.dat", join(files.lang));
    dir.write("dane.dat", join(files.dane));
    const ToolsRun run = run_tools(dir, "check");
    EXPECT_EQ(run.status, c.status) << run.out;
    const std::size_t at = run.out.find(where + c.severity_and_text);
    ASSERT_NE(at, std::string::npos) << run.out;
    const std::string line = run.out.substr(at, run.out.find('\n', at) - at);
    EXPECT_NE(line.find(std::string("[") + c.rule + "]"), std::string::npos) << line;
  }
}

TEST(Check, NamesFilesByTheFolderGivenAndWritesNothing) {
  TempDir dir;
  const ToolsRun run = run_tools(dir, "check data");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "data/lang.dat: error: cannot open: No such file or directory [open]\n"
                     "data/dane.dat: error: cannot open: No such file or directory [open]\n"
                     "data: lang.dat and dane.dat: 0 records checked, 2 errors, 0 warnings\n");
  EXPECT_FALSE(dir.exists("data"));
}

} // namespace
} // namespace tirovan::test
