#pragma once
// Virtual serial ports (the receiver emulator's pseudo-terminals) are announced as symbolic
// links in a per-user directory: $XDG_RUNTIME_DIR/kestal/ports/, else /tmp/kestal-<uid>/ports/.
#include <string>

namespace kestal {

std::string VirtualPortDirectory();

// Creates the directory if needed and a link `name` -> `devicePath`. Returns the link's path,
// or an empty string on failure (with `error` set).
std::string RegisterVirtualPort(const std::string& name, const std::string& devicePath,
                                std::string* error = nullptr);
// Removes a link made by RegisterVirtualPort, unless the name has since been taken for another
// device.
void UnregisterVirtualPort(const std::string& linkPath, const std::string& devicePath);

}  // namespace kestal
