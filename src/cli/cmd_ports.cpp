// kestal-cli ports: the serial ports the window offers, in the window's order.
#include <iostream>

#include "cli/commands.h"

namespace kestal::cli {

int ListPorts(const DiscoveryRoots& roots) {
  const DiscoveryResult result = EnumeratePorts(roots);
  // A list cut short by a failure is not the window's list: none is printed.
  if (!result.error.empty()) {
    std::cerr << result.error << '\n';
    return 1;
  }
  for (const PortInfo& port : result.ports) {
    std::cout << port.friendlyName << '\t' << port.devicePath << '\n';
  }
  return 0;
}

}  // namespace kestal::cli
