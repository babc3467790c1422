// --port auto on Windows: the probe wakes many ports at once through termios and poll(), which
// Windows does not have; until it has a Win32 probe the user names the COM port.
#include <cstdio>

#include "cli/port_auto.h"

namespace kestal::cli {

int RunOnAnsweringPort(const TransferOptions& /*options*/) {
  std::fputs(
      "--port auto is not available on Windows yet: name the COM port (see kestal-cli "
      "ports).\n",
      stderr);
  return 1;
}

}  // namespace kestal::cli
