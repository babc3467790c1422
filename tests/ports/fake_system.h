#pragma once
// A throw-away directory tree standing in for sysfs, /dev and the virtual port directory, so
// discovery can be tested against machines we do not have.
#include <filesystem>
#include <string>

#include "ports/port_discovery.h"

namespace kestal::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

void WriteFile(const std::filesystem::path& file, const std::string& text);
void MakeLink(const std::filesystem::path& link, const std::filesystem::path& target);

// Builds an empty sysfs/dev/virtual-port layout under a temporary directory; the Add* calls
// describe the ports that the fake machine has.
class FakeSystem {
 public:
  FakeSystem();
  DiscoveryRoots Roots() const;
  std::filesystem::path Sys() const { return m_root.path() / "sys"; }
  std::filesystem::path Dev() const { return m_root.path() / "dev"; }
  std::filesystem::path VirtualDir() const { return m_root.path() / "vports"; }
  std::filesystem::path Root() const { return m_root.path(); }

  // A class/tty entry whose `device` link points at `deviceDir` (relative to sys/devices),
  // plus its /dev node.
  void AddPort(const std::string& name, const std::string& deviceDir);
  // A class/tty entry without hardware behind it (consoles, ptys).
  void AddVirtualConsole(const std::string& name);
  // The serial core's UART type attribute of an existing entry.
  void SetUartType(const std::string& name, int type);
  // Points the device's `driver` link at a driver of that name.
  void SetDriver(const std::string& deviceDir, const std::string& driver);
  void SetProduct(const std::string& deviceDir, const std::string& product);
  void RemoveNode(const std::string& name);
  void AddVirtualLink(const std::string& name, const std::filesystem::path& target);

 private:
  TempDir m_root;
};

}  // namespace kestal::test
