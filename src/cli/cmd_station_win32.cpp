// kestal-cli station is built on Linux only (station/): here it says so.
#include <cstdio>

#include "cli/commands.h"

namespace kestal::cli {

int RunStation(const StationArgs& /*args*/) {
  std::fprintf(stderr,
               "kestal-cli station runs on Linux only; on Windows, send to one receiver at a "
               "time with kestal-cli send.\n");
  return 1;
}

}  // namespace kestal::cli
