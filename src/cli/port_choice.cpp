#include "cli/port_choice.h"

#include <filesystem>
#include <system_error>

#include "common/utf8_path.h"
#include "ports/port_discovery.h"

namespace kestal::cli {

namespace {

// Only a name with a folder separator in it is taken as a path: a file `box` in the current
// folder must not shadow the virtual port `box`.
bool IsPath(const std::string& name) {
  return name.find('/') != std::string::npos ||
         name.find(static_cast<char>(std::filesystem::path::preferred_separator)) !=
             std::string::npos;
}

std::optional<PortInfo> PortAtPath(const std::string& path) {
  std::error_code error;
  if (!IsPath(path) || !std::filesystem::exists(Utf8Path(path), error)) return std::nullopt;
  const std::u8string name = Utf8Path(path).filename().u8string();
  PortInfo port;
  port.devicePath = path;
  port.portName.assign(name.begin(), name.end());
  port.friendlyName = path;
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
  const DiscoveryResult discovered = EnumeratePorts();
  // No port list (no sysfs, say), and the name is no path either.
  if (!discovered.error.empty()) return std::nullopt;
  return ResolvePort(nameOrPath, discovered.ports);
}

}  // namespace kestal::cli
