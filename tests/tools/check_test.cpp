// check: one broken copy of the bundled example per rule, the diagnostic
// expected with its line and column, and the exit status.
#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_tools.hpp"
#include "support/support.hpp"
#include "tools/check.hpp"

namespace tirovan::test {
namespace {

std::string read_example(const std::string& name) { return read_file(std::string(TIROVAN_EXAMPLES) + "/" + name); }

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
      {"minute", [](Files& f) { return f.dane_set(13, 4, "75"); }, ": error: minute 75 is outside 0-59", 2},
      {"hour",
       [](Files& f) {
         f.dane_set(13, 5, "-150"); // a site where the Sun is up at 00:30 UT
         return f.dane_set(13, 3, "24.5");
       },
       ": error: hour 24.5 is outside 0-23", 2},
      {"longitude", [](Files& f) { return f.dane_set(12, 5, "200"); }, ": error: longitude 200 is outside -180..180",
       2},
      {"latitude", [](Files& f) { return f.dane_set(12, 6, "-95"); }, ": error: latitude -95 is outside -90..90", 2},
      {"pressure", [](Files& f) { return f.dane_set(10, 7, "101200"); }, ": error: pressure 101200 hPa is outside", 2},
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
       ": error: the Sun is 4.25 deg below the horizon", 2},
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
       ": warning: times of 2024-06-15 look like local time (UTC+1)", 2},
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

// Blank-separated fields of a line, and back.
std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}
std::string joined(const std::vector<std::string>& fields, const std::string& separator = " ") {
  std::string text;
  for (const std::string& field : fields) text += (text.empty() ? "" : separator) + field;
  return text;
}

// The records (dane.dat lines 3..22) kept by index from 0, with the count fixed.
void keep_records(Files& f, const std::vector<std::size_t>& kept) {
  std::vector<std::string> dane = {"5 " + std::to_string(kept.size()), f.dane[1]};
  for (const std::size_t i : kept) dane.push_back(f.dane[2 + i]);
  f.dane = dane;
}
// Applies `change` to the fields of every record.
void each_record(Files& f, const std::function<void(std::vector<std::string>&)>& change) {
  for (std::size_t line = 2; line < f.dane.size(); ++line) {
    std::vector<std::string> fields = fields_of(f.dane[line]);
    change(fields);
    f.dane[line] = joined(fields);
  }
}
void add_hours(Files& f, int hours) {
  each_record(f, [&](std::vector<std::string>& r) { r[3] = std::to_string(std::stoi(r[3]) + hours); });
}
std::string scaled(const std::string& value, double factor) { return std::to_string(std::stod(value) * factor); }

struct Mistake {
  const char* name;
  std::function<void(Files&)> change;
  const char* rule;
  const char* severity; // "error", "warning", or nullptr: the rule must stay silent
};

// What users get wrong, on the bundled example; each must make check exit
// non-zero with the rule named. Rows without a severity pin a rule's
// boundary from the clean side.
TEST(Check, CommonMistakesAreCaught) {
  const std::vector<Mistake> mistakes = {
      {"local time UT+2, morning only",
       [](Files& f) {
         keep_records(f, {0, 1, 2, 3, 4, 5, 6}), add_hours(f, 2);
       },
       "air-mass", "error"},
      {"local time UT+2, midday only",
       [](Files& f) {
         keep_records(f, {7, 8, 9, 10, 11, 12}), add_hours(f, 2);
       },
       "air-mass", "error"},
      {"local time UT+2, five records",
       [](Files& f) {
         keep_records(f, {0, 5, 9, 14, 19}), add_hours(f, 2);
       },
       "sun-below-horizon", "error"},
      {"local time UT+1, five records",
       [](Files& f) {
         keep_records(f, {0, 5, 9, 14, 18}), add_hours(f, 1);
       },
       "air-mass", "error"},
      {"one hour typed wrong", [](Files& f) { f.dane_set(11, 3, "19"); }, "sun-too-low", "error"},
      {"one hour typed wrong, Sun up", [](Files& f) { f.dane_set(11, 3, "15"); }, "aot-range", "error"},
      {"longitude sign flipped", [](Files& f) { each_record(f, [](auto& r) { r[5] = "-21.00"; }); }, "aot-range",
       "error"},
      {"empty cell between commas",
       [](Files& f) {
         std::vector<std::string> r = fields_of(f.dane[6]);
         r[7] = "";
         f.dane[6] = joined(r, ",");
       },
       "null-value", "error"},
      {"record cut short with a slash",
       [](Files& f) {
         std::vector<std::string> r = fields_of(f.dane[7]);
         r.resize(12);
         f.dane[7] = joined(r) + " /";
       },
       "slash", "error"},
      {"pressure in mmHg", [](Files& f) { each_record(f, [](auto& r) { r[7] = scaled(r[7], 1 / 1.333224); }); },
       "pressure-mmhg", "warning"},
      {"pressure in kPa", [](Files& f) { each_record(f, [](auto& r) { r[7] = scaled(r[7], 0.1); }); }, "pressure",
       "error"},
      {"pressure 500 hPa", [](Files& f) { f.dane_set(6, 7, "500"); }, "pressure", nullptr},
      {"pressure 499.9 hPa", [](Files& f) { f.dane_set(6, 7, "499.9"); }, "pressure", "error"},
      {"pressure 1100.1 hPa", [](Files& f) { f.dane_set(6, 7, "1100.1"); }, "pressure", "error"},
      {"signals in mV, V0 in V",
       [](Files& f) {
         each_record(f, [](auto& r) {
           for (std::size_t i = 8; i < r.size(); ++i) r[i] = scaled(r[i], 1000);
         });
       },
       "above-toa", "error"},
      {"V0 reordered in lang.dat",
       [](Files& f) {
         std::vector<std::string> v0 = fields_of(f.lang[10]);
         std::swap(v0[2], v0[3]);
         f.lang[10] = joined(v0);
       },
       "spectrum", "error"},
      {"V0 reordered, wavelength line of placeholders",
       [](Files& f) {
         std::vector<std::string> v0 = fields_of(f.lang[10]);
         std::swap(v0[0], v0[1]);
         f.lang[10] = joined(v0);
         f.lang[9] = "1 2 3 4 5";
       },
       "air-mass", "error"},
      {"placeholders in lang.dat's wavelength line", [](Files& f) { f.lang[9] = "0 0 0 0 0"; }, "lang-wavelengths",
       "warning"},
      {"data columns swapped in dane.dat",
       [](Files& f) { each_record(f, [](auto& r) { std::swap(r[12], r[14]), std::swap(r[13], r[15]); }); }, "spectrum",
       "error"},
      {"Sun 2 deg below the horizon", [](Files& f) { f.dane_set(22, 3, "19"); }, "sun-below-horizon", "error"},
      {"wavelengths in micrometres", [](Files& f) { f.dane[1] = "0.44 0.5 0.675 0.87 1.02"; }, "wavelength-units",
       "error"},
      {"wavelength 200 nm", [](Files& f) { f.dane_set(2, 0, "200"); }, "wavelength-units", nullptr},
      {"minute 75", [](Files& f) { f.dane_set(13, 4, "75"); }, "minute", "error"},
      {"minute 59.9", [](Files& f) { f.dane_set(13, 4, "59.9"); }, "minute", nullptr},
      {"minute 60", [](Files& f) { f.dane_set(13, 4, "60"); }, "minute", "error"},
      {"minute -0.1", [](Files& f) { f.dane_set(13, 4, "-0.1"); }, "minute", "error"},
      {"hour 24, not a Sun below the horizon", [](Files& f) { f.dane_set(13, 3, "24"); }, "hour", "error"},
      {"hour -1", [](Files& f) { f.dane_set(13, 3, "-1"); }, "hour", "error"},
      {"hour 30 is no Sun below the horizon", [](Files& f) { f.dane_set(13, 3, "30"); }, "sun-too-low", nullptr},
      {"lang.dat with 7 lines of text", [](Files& f) { f.lang.erase(f.lang.begin() + 6); }, "lang-header", "error"},
      {"lang.dat with 9 lines of text", [](Files& f) { f.lang.insert(f.lang.begin() + 3, "notes"); }, "lang-header",
       "error"},
      {"byte-order mark in dane.dat", [](Files& f) { f.dane[0] = "\xEF\xBB\xBF" + f.dane[0]; }, "byte-order-mark",
       "error"},
      {"signal overflows minus dark", [](Files& f) { f.dane_set(6, 8, "3.4e38"), f.dane_set(6, 9, "-3.4e38"); },
       "not-finite", "error"},
      {"no channels",
       [](Files& f) {
         f.dane_set(1, 0, "0");
         f.lang_set(9, 0, "0");
       },
       "channel-count", "error"},
  };
  const Files example{lines_of(read_example("lang.dat")), lines_of(read_example("dane.dat"))};
  for (const Mistake& m : mistakes) {
    SCOPED_TRACE(m.name);
    Files files = example;
    m.change(files);
    TempDir dir;
    dir.write("lang.dat", join(files.lang));
    dir.write("dane.dat", join(files.dane));
    const ToolsRun run = run_tools(dir, "check");
    const std::string tag = std::string("[") + m.rule + "]";
    if (m.severity == nullptr) {
      EXPECT_EQ(run.out.find(tag), std::string::npos) << run.out;
      continue;
    }
    EXPECT_EQ(run.status, std::string(m.severity) == "error" ? 2 : 1) << run.out;
    const std::size_t at = run.out.find(tag);
    ASSERT_NE(at, std::string::npos) << run.out;
    const std::size_t line = run.out.rfind('\n', at) + 1;
    EXPECT_NE(run.out.substr(line, at - line).find(std::string(": ") + m.severity + ": "), std::string::npos)
        << run.out;
  }
}

TEST(Check, HarmlessVariantsAreClean) {
  const std::vector<std::pair<const char*, std::function<void(Files&)>>> variants = {
      {"CRLF line ends",
       [](Files& f) {
         for (auto* file : {&f.lang, &f.dane})
           for (std::string& line : *file) line += "\r";
       }},
      {"tabs",
       [](Files& f) {
         for (std::size_t line = 2; line < f.dane.size(); ++line) f.dane[line] = joined(fields_of(f.dane[line]), "\t");
       }},
      {"blank lines at the end",
       [](Files& f) {
         f.dane.insert(f.dane.end(), {"", "", ""}), f.lang.push_back("");
       }},
      {"commas as separators",
       [](Files& f) {
         for (std::size_t line = 2; line < f.dane.size(); ++line) f.dane[line] = joined(fields_of(f.dane[line]), ",");
       }},
      {"byte-order mark in lang.dat", [](Files& f) { f.lang[0] = "\xEF\xBB\xBF" + f.lang[0]; }},
      {"one record", [](Files& f) { keep_records(f, {9}); }},
      {"five records",
       [](Files& f) {
         keep_records(f, {0, 5, 9, 14, 19});
       }},
      {"morning only",
       [](Files& f) {
         keep_records(f, {0, 1, 2, 3, 4, 5, 6});
       }},
  };
  const Files example{lines_of(read_example("lang.dat")), lines_of(read_example("dane.dat"))};
  for (const auto& [name, change] : variants) {
    SCOPED_TRACE(name);
    Files files = example;
    change(files);
    TempDir dir;
    dir.write("lang.dat", join(files.lang));
    dir.write("dane.dat", join(files.dane));
    const ToolsRun run = run_tools(dir, "check");
    EXPECT_EQ(run.status, 0) << run.out;
  }
}

// Each limit from both sides: which side of the bound is a finding.
TEST(Check, LimitsFromBothSides) {
  using namespace tools::limits;
  struct Bound {
    const char* what;
    bool finding, expected;
  };
  const Bound bounds[] = {
      {"AOT -0.02", !aot_plausible(-0.02), false},
      {"AOT -0.0201", !aot_plausible(-0.0201), true},
      {"AOT 5", !aot_plausible(5.0), false},
      {"AOT 5.001", !aot_plausible(5.001), true},
      {"AOT NaN", !aot_plausible(std::nan("")), true},
      {"Sun 0 deg below", sun_below(0.0) != SunBelow::no, false},
      {"Sun 0.01 deg below", sun_below(0.01) == SunBelow::warning, true},
      {"Sun 1 deg below", sun_below(1.0) == SunBelow::warning, true},
      {"Sun 1.01 deg below", sun_below(1.01) == SunBelow::error, true},
      {"hour 0", !hour_valid(0), false},
      {"hour 23.99", !hour_valid(23.99), false},
      {"hour 24", !hour_valid(24), true},
      {"hour -0.01", !hour_valid(-0.01), true},
      {"minute 60", !minute_valid(60), true},
      {"pressure 500", !pressure_valid(500), false},
      {"pressure 1100", !pressure_valid(1100), false},
      {"pressure 1100.01", !pressure_valid(1100.01), true},
      {"pressure 711.9", pressure_maybe_mmhg(711.9), false},
      {"pressure 712", pressure_maybe_mmhg(712), true},
      {"pressure 803", pressure_maybe_mmhg(803), true},
      {"pressure 803.1", pressure_maybe_mmhg(803.1), false},
      {"wavelength 199.9", wavelength_in_micrometres(199.9), true},
      {"wavelength 200", wavelength_in_micrometres(200), false},
      {"wavelength 0", wavelength_in_micrometres(0), false},
      // a factor 1.6 and 0.03 in AOT
      {"spectrum 0.159 against 0.1", out_of_spectrum(0.159, 0.1), false},
      {"spectrum 0.161 against 0.1", out_of_spectrum(0.161, 0.1), true},
      {"spectrum 0.063 against 0.1", out_of_spectrum(0.063, 0.1), false},
      {"spectrum 0.062 against 0.1", out_of_spectrum(0.062, 0.1), true},
      {"spectrum 0.049 against 0.02 (factor, not 0.03)", out_of_spectrum(0.049, 0.02), false},
      {"spectrum 0.051 against 0.02", out_of_spectrum(0.051, 0.02), true},
      {"air mass: slope 0.1", follows_air_mass(0.1, 0.5), false},
      {"air mass: slope -0.101", follows_air_mass(-0.101, 0.5), true},
      {"air mass: change 0.03", follows_air_mass(1.0, 0.03), false},
      {"air mass: change 0.031", follows_air_mass(1.0, 0.031), true},
  };
  for (const Bound& c : bounds) EXPECT_EQ(c.finding, c.expected) << c.what;
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
