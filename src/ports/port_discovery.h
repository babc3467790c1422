#pragma once
// Finds the machine's serial ports: tty devices under sysfs that have hardware behind them,
// then the virtual ports registered in the per-user ports directory.
#include <string>

#include "ports/port_info.h"

namespace kestal {

struct DiscoveryRoots {
  std::string sysClassTty = "/sys/class/tty";  // sysfs tty class directory
  std::string devDir = "/dev";                 // where device nodes live
  std::string virtualPortDir;                  // empty: VirtualPortDirectory()
};

struct DiscoveryResult {
  PortList ports;     // in a stable order; what was found before any failure
  std::string error;  // empty, or "Could not read <path>. (err=<errno in lower-case hex>)"
};

DiscoveryResult EnumeratePorts(const DiscoveryRoots& roots = {});

// Finds a port by device path, port name, friendly name, or its /dev/serial/by-id link's path or
// name; nullptr when none matches.
const PortInfo* FindPort(const PortList& list, const std::string& nameOrPath);

}  // namespace kestal
