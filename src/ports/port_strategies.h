#pragma once
// The pieces EnumeratePorts is made of. Each strategy appends records to the list in its own
// stable order and throws the message text (std::string) when a directory cannot be read.
#include <string>

#include "ports/port_info.h"

namespace kestal {

// Serial devices under the sysfs tty class that have hardware behind them.
void EnumerateSysfsPorts(PortList& list, const std::string& sysClassTty, const std::string& devDir);

// Links in the virtual port directory whose targets are character devices.
void EnumerateVirtualPorts(PortList& list, const std::string& virtualPortDir);

// "Could not read <path>. (err=<errno in lower-case hex>)"
[[noreturn]] void ThrowUnreadable(const std::string& path, int err);

}  // namespace kestal
