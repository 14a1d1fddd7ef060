// Output statements: one record of list output or of fixed-format output
// under a single A edit, built into an output unit's buffer.
#pragma once

#include <string_view>

#include "runtime/units.hpp"

namespace tirovan::textio {

// List output: one leading blank, then the items (texts at full length,
// reals in 16 columns). With no item the record is the blank alone.
void write_list(runtime::OutputUnit& unit);
void write_list(runtime::OutputUnit& unit, std::string_view text);
void write_list(runtime::OutputUnit& unit, std::string_view text, float value);

// Fixed-format output under a single A edit: the text alone, no blank.
void write_text_record(runtime::OutputUnit& unit, std::string_view text);

} // namespace tirovan::textio
