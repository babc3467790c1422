#pragma once
// One serial port as discovery found it, and the list the window offers.
#include <string>
#include <vector>

namespace kestal {

struct PortInfo {
  std::string m_strDevicePath;    // the path that opens the port, e.g. /dev/ttyUSB0
  std::string m_strPortName;      // short name, e.g. ttyUSB0
  std::string m_strFriendlyName;  // the text the port list shows and the "port" setting stores
  int m_bUsb = 0;                 // 1 when the port sits on USB
  std::string m_strDescription;   // device description, or derived from the friendly name
};

// Filled once by discovery and unchanged afterwards, so records keep their addresses.
using PortList = std::vector<PortInfo>;

}  // namespace kestal
