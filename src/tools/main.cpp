// tirovan-tools: companion commands around the tirovan retrieval, built on
// the same procedures so that their numbers are tirovan's numbers.
#include "tools/app.hpp"

int main(int argc, char** argv) { return tirovan::tools::run_app(argc, argv); }
