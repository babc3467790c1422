// kestal-cli ports: the serial ports the window offers, in the window's order.
#include <iostream>

#include "cli/commands.h"

namespace kestal::cli {
namespace {

// An unknown field still takes its column, so every line splits into the same five.
const std::string& Field(const std::string& text) {
  static const std::string kUnknown = "-";
  return text.empty() ? kUnknown : text;
}

}  // namespace

int ListPorts(const DiscoveryRoots& roots) {
  const DiscoveryResult result = EnumeratePorts(roots);
  // A list cut short by a failure is not the window's list: none is printed.
  if (!result.error.empty()) {
    std::cerr << result.error << '\n';
    return 1;
  }
  // Said on stderr: stdout stays the (empty) list a script reads.
  if (result.ports.empty()) std::cerr << "No serial ports found.\n";
  for (const PortInfo& port : result.ports) {
    std::cout << port.friendlyName << '\t' << port.devicePath << '\t' << Field(port.byIdPath)
              << '\t' << Field(port.usbVendorProduct) << '\t' << Field(port.serialNumber) << '\n';
  }
  return 0;
}

}  // namespace kestal::cli
