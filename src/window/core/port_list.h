#pragma once
// The port list's rules: its order, the text of an entry, and which entry a stored port name
// selects.
#include <string>

#include "ports/port_info.h"

namespace kestal::window {

// USB adapters first, then the virtual ports an emulator announced, then built-in UARTs (the
// least likely to reach a receiver on today's machines); discovery order within each kind.
PortList OrderForList(PortList ports);

// "USB Serial (ttyUSB0) — /dev/ttyUSB0": the friendly name and the path that opens the port;
// the friendly name alone when it names that path already ("USB Serial Port (COM3)", COM3).
// Control characters escaped.
std::string EntryText(const PortInfo& port);

// The entry a stored port name selects: the first whose friendly name begins with it, ignoring
// the case of ASCII letters, searched from entry 1 to the end and then entry 0 (so a name that
// begins both entries 0 and 1 selects entry 1). An empty name selects entry 0; -1 when nothing
// fits or the list is empty.
int FindStoredPort(const PortList& ports, const std::string& storedName);

// The same devices under the same names, in the same order.
bool SamePorts(const PortList& a, const PortList& b);

}  // namespace kestal::window
