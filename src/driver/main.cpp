// tirovan: aerosol optical thickness from direct-sun photometer measurements.
// Run in a folder holding lang.dat and dane.dat; arguments are ignored.

#include "driver/driver.hpp"
#include "runtime/console_events.hpp"
#include "runtime/files.hpp"

int main() {
  tirovan::runtime::open_standard_descriptors();
  tirovan::runtime::install_console_handlers();
  return tirovan::driver::run();
}
