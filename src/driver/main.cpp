// tirovan: aerosol optical thickness from direct-sun photometer measurements.
// Run in a folder holding lang.dat and dane.dat; arguments are ignored.

#include "driver/driver.hpp"
#include "textio/console_events.hpp"

int main() {
  tirovan::textio::install_console_handlers();
  return tirovan::driver::run();
}
