#include "textio/records.hpp"

#include "textio/format.hpp"

namespace tirovan::textio {

void write_list(runtime::OutputUnit& unit) {
  char* p = unit.begin_record(1);
  *p++ = ' ';
  unit.end_record(p);
}

void write_list(runtime::OutputUnit& unit, std::string_view text) {
  char* p = unit.begin_record(1 + text.size());
  *p++ = ' ';
  unit.end_record(edit_text(p, text));
}

void write_list(runtime::OutputUnit& unit, std::string_view text, float value) {
  char* p = unit.begin_record(1 + text.size() + list_real_width);
  *p++ = ' ';
  p = edit_text(p, text);
  unit.end_record(edit_list_real(p, value));
}

void write_text_record(runtime::OutputUnit& unit, std::string_view text) {
  char* p = unit.begin_record(text.size());
  unit.end_record(edit_text(p, text));
}

} // namespace tirovan::textio
