#pragma once
// A pseudo-terminal pair for tests that play the receiver by hand: the slave (the device the
// tool opens) is raw 8N1 like a serial port, and neither end leaks into child processes.
#include <string>

namespace kestal::testing {

// Opens the pair; false when none could be had (both descriptors then stay -1).
bool OpenRawPty(int& master, int& slave, std::string& device);

}  // namespace kestal::testing
