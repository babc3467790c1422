#include "ports/port_discovery.h"

#include <sys/stat.h>

#include <cstdio>

#include "ports/port_strategies.h"
#include "ports/virtual_ports.h"

namespace kestal {

void ThrowUnreadable(const std::string& path, int err) {
  char code[32];
  std::snprintf(code, sizeof code, "%lx", static_cast<unsigned long>(err));
  throw "Could not read " + path + ". (err=" + code + ")";
}

namespace {

// Device nodes are "other" files, which std::filesystem::equivalent refuses to compare.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

void EnumeratePorts(PortList& list) { EnumeratePorts(list, DiscoveryRoots{}); }

void EnumeratePorts(PortList& list, const DiscoveryRoots& roots) {
  list.clear();
  EnumerateSysfsPorts(list, roots.sysClassTty, roots.devDir);
  EnumerateVirtualPorts(list, roots.virtualPortDir.empty() ? VirtualPortDirectory()
                                                           : roots.virtualPortDir);
  for (PortInfo& record : list) FinishPortRecord(record);
}

void FinishPortRecord(PortInfo& record) {
  if (record.m_strFriendlyName.empty()) record.m_strFriendlyName = record.m_strPortName;
  if (!record.m_strDescription.empty()) return;
  std::string& description = record.m_strDescription;
  description = record.m_strFriendlyName;
  // "Name (ttyS0)" gives "Name"; only a single closing parenthesis at the very end counts.
  const std::size_t open = description.find(" (");
  const std::size_t close = description.find(')');
  if (open != std::string::npos && open >= 1 && close != std::string::npos &&
      close == description.size() - 1) {
    description.resize(open);
  }
}

const PortInfo* FindPort(const PortList& list, const std::string& nameOrPath) {
  if (nameOrPath.empty()) return nullptr;
  for (const auto field :
       {&PortInfo::m_strDevicePath, &PortInfo::m_strPortName, &PortInfo::m_strFriendlyName}) {
    for (const PortInfo& record : list) {
      if (record.*field == nameOrPath) return &record;
    }
  }
  // Any other path to the same device: a virtual port's link, /dev/serial/by-id/..., ...
  if (nameOrPath.find('/') == std::string::npos) return nullptr;
  for (const PortInfo& record : list) {
    if (SameFile(nameOrPath, record.m_strDevicePath)) return &record;
  }
  return nullptr;
}

}  // namespace kestal
