#include "cli/port_choice.h"

#include <filesystem>
#include <system_error>

#include "ports/port_discovery.h"

namespace kestal::cli {

namespace {

std::optional<PortInfo> PortAtPath(const std::string& path) {
  std::error_code error;
  if (path.empty() || !std::filesystem::exists(path, error)) return std::nullopt;
  PortInfo port;
  port.m_strDevicePath = path;
  port.m_strPortName = std::filesystem::path(path).filename().string();
  port.m_strFriendlyName = path;
  return port;
}

}  // namespace

std::optional<PortInfo> ResolvePort(const std::string& nameOrPath, const PortList& discovered) {
  if (auto port = PortAtPath(nameOrPath)) return port;
  if (const PortInfo* found = FindPort(discovered, nameOrPath)) return *found;
  return std::nullopt;
}

std::optional<PortInfo> ResolvePort(const std::string& nameOrPath) {
  // A path needs no port list; walking sysfs costs more CPU than a whole paced transfer.
  if (auto port = PortAtPath(nameOrPath)) return port;
  PortList discovered;
  try {
    EnumeratePorts(discovered);
  } catch (const std::string&) {
    return std::nullopt;  // no port list (no sysfs, say), and the name is no path either
  }
  return ResolvePort(nameOrPath, discovered);
}

}  // namespace kestal::cli
