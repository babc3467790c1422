#include "window/core/port_list.h"

#include <algorithm>

#include "common/printable.h"

namespace kestal::window {
namespace {

int KindRank(const PortInfo& port) {
  if (port.usb) return 0;
  return port.virtualPort ? 1 : 2;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char a, char b) { return LowerAscii(a) == LowerAscii(b); });
}

}  // namespace

PortList OrderForList(PortList ports) {
  std::stable_sort(ports.begin(), ports.end(),
                   [](const PortInfo& a, const PortInfo& b) { return KindRank(a) < KindRank(b); });
  return ports;
}

// A friendly name that names the device already ("USB Serial Port (COM3)" opening COM3)
// would only repeat it.
std::string EntryText(const PortInfo& port) {
  if (port.friendlyName.find(port.devicePath) != std::string::npos)
    return Printable(port.friendlyName);
  return Printable(port.friendlyName + " \u2014 " + port.devicePath);
}

int FindStoredPort(const PortList& ports, const std::string& storedName) {
  const int count = static_cast<int>(ports.size());
  if (count == 0) return -1;
  if (storedName.empty()) return 0;
  for (int step = 0; step < count; ++step) {
    const int entry = (step + 1) % count;
    if (StartsWithIgnoringCase(ports[static_cast<size_t>(entry)].friendlyName, storedName))
      return entry;
  }
  return -1;
}

bool SamePorts(const PortList& a, const PortList& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.devicePath == y.devicePath && x.friendlyName == y.friendlyName;
  });
}

}  // namespace kestal::window
