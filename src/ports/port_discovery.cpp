#include "ports/port_discovery.h"

#include <sys/stat.h>

#include <cstdio>

#include "ports/port_strategies.h"
#include "ports/virtual_ports.h"

namespace kestal {

std::string UnreadableText(const std::string& path, int err) {
  char code[32];
  std::snprintf(code, sizeof code, "%lx", static_cast<unsigned long>(err));
  return "Could not read " + path + ". (err=" + code + ")";
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

namespace {

// The name `kestal-cli ports` prints for the by-id link: its last component.
std::string ByIdName(const PortInfo& record) {
  const std::size_t slash = record.byIdPath.rfind('/');
  return slash == std::string::npos ? record.byIdPath : record.byIdPath.substr(slash + 1);
}

// Friendly name defaults to the port name, and an empty description is derived from the
// friendly name: "Name (ttyS0)" gives "Name".
void FinishPortRecord(PortInfo& record) {
  if (record.friendlyName.empty()) record.friendlyName = record.portName;
  if (!record.description.empty()) return;
  std::string& description = record.description;
  description = record.friendlyName;
  // Only a single closing parenthesis at the very end counts.
  const std::size_t open = description.find(" (");
  const std::size_t close = description.find(')');
  if (open != std::string::npos && open >= 1 && close != std::string::npos &&
      close == description.size() - 1) {
    description.resize(open);
  }
}

}  // namespace

DiscoveryResult EnumeratePorts(const DiscoveryRoots& roots) {
  DiscoveryResult result;
  result.error = EnumerateSysfsPorts(result.ports, roots.sysClassTty, roots.devDir);
  if (result.error.empty()) {
    const std::string dir =
        roots.virtualPortDir.empty() ? VirtualPortDirectory() : roots.virtualPortDir;
    result.error = EnumerateVirtualPorts(result.ports, dir);
  }
  for (PortInfo& record : result.ports) FinishPortRecord(record);
  return result;
}

const PortInfo* FindPort(const PortList& list, const std::string& nameOrPath) {
  if (nameOrPath.empty()) return nullptr;
  for (const auto field :
       {&PortInfo::devicePath, &PortInfo::portName, &PortInfo::friendlyName, &PortInfo::byIdPath}) {
    for (const PortInfo& record : list) {
      if (record.*field == nameOrPath) return &record;
    }
  }
  for (const PortInfo& record : list) {
    if (!record.byIdPath.empty() && ByIdName(record) == nameOrPath) return &record;
  }
  // Any other path to the same device: a virtual port's link, /dev/serial/by-id/..., ...
  if (nameOrPath.find('/') == std::string::npos) return nullptr;
  for (const PortInfo& record : list) {
    if (SameFile(nameOrPath, record.devicePath)) return &record;
  }
  return nullptr;
}

}  // namespace kestal
