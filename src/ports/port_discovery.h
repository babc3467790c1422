#pragma once
// Finds the machine's serial ports: tty devices under sysfs that have hardware behind them,
// then the virtual ports registered in the per-user ports directory.
#include <string>

#include "ports/port_info.h"

namespace kestal {

struct DiscoveryRoots {
  std::string sysClassTty = "/sys/class/tty";  // sysfs tty class directory
  std::string devDir = "/dev";                  // where device nodes live
  std::string virtualPortDir;                   // empty: VirtualPortDirectory()
};

// Empties `list` and fills it in a stable order. Throws the message text (std::string) on failure.
void EnumeratePorts(PortList& list);
void EnumeratePorts(PortList& list, const DiscoveryRoots& roots);

// The finishing pass applied to every record: friendly name defaults to the port name, and an
// empty description is derived from the friendly name ("Name (ttyS0)" gives "Name").
void FinishPortRecord(PortInfo& record);

// Finds a port by device path, port name or friendly name; nullptr when none matches.
const PortInfo* FindPort(const PortList& list, const std::string& nameOrPath);

}  // namespace kestal
