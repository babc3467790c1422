#pragma once
// Turns the --port argument into the PortInfo the link opens.
#include <optional>
#include <string>

#include "ports/port_info.h"

namespace kestal::cli {

// A name with a "/" in it that exists is used as a path (its friendly name is the path). Otherwise
// the name is looked up among the discovered ports by device path, port name or friendly name.
// nullopt when neither finds it.
std::optional<PortInfo> ResolvePort(const std::string& nameOrPath);
// The same against a port list already discovered.
std::optional<PortInfo> ResolvePort(const std::string& nameOrPath, const PortList& discovered);

}  // namespace kestal::cli
