#pragma once
// The pieces EnumeratePorts is made of. Each strategy appends records to the list in its own
// stable order and returns an error text (empty on success) when a directory cannot be read.
#include <string>

#include "ports/port_info.h"

namespace kestal {

// Serial devices under the sysfs tty class that have hardware behind them.
std::string EnumerateSysfsPorts(PortList& list, const std::string& sysClassTty,
                                const std::string& devDir);

// Links in the virtual port directory whose targets are character devices.
std::string EnumerateVirtualPorts(PortList& list, const std::string& virtualPortDir);

// Both paths lead to the same file (device nodes included, which std::filesystem::equivalent
// refuses to compare).
bool SameFile(const std::string& a, const std::string& b);

// "Could not read <path>. (err=<errno in lower-case hex>)"
std::string UnreadableText(const std::string& path, int err);

}  // namespace kestal
