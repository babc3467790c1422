#include "cli/port_choice.h"

#include <filesystem>
#include <system_error>

#include "ports/port_discovery.h"

namespace kestal::cli {

std::optional<PortInfo> ResolvePort(const std::string& nameOrPath, const PortList& discovered) {
  std::error_code error;
  if (!nameOrPath.empty() && std::filesystem::exists(nameOrPath, error)) {
    PortInfo port;
    port.m_strDevicePath = nameOrPath;
    port.m_strPortName = std::filesystem::path(nameOrPath).filename().string();
    port.m_strFriendlyName = nameOrPath;
    return port;
  }
  if (const PortInfo* found = FindPort(discovered, nameOrPath)) return *found;
  return std::nullopt;
}

std::optional<PortInfo> ResolvePort(const std::string& nameOrPath) {
  PortList discovered;
  try {
    EnumeratePorts(discovered);
  } catch (const std::string&) {
    // No port list (no sysfs, say): only an existing path can still be used.
    discovered.clear();
  }
  return ResolvePort(nameOrPath, discovered);
}

}  // namespace kestal::cli
