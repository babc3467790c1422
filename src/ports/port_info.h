#pragma once
// One serial port as discovery found it, and the list the window offers.
#include <string>
#include <vector>

namespace kestal {

struct PortInfo {
  std::string devicePath;    // the path that opens the port, e.g. /dev/ttyUSB0
  std::string portName;      // short name, e.g. ttyUSB0
  std::string friendlyName;  // the text the port list shows and the "port" setting stores
  bool usb = false;          // the port sits on USB
  std::string description;   // device description, or derived from the friendly name
};

using PortList = std::vector<PortInfo>;

}  // namespace kestal
