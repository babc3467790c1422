#include "ports/fake_system.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>

namespace kestal::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "kestal-ports-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(m_path, ec);
}

void WriteFile(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text;
}

void MakeLink(const fs::path& link, const fs::path& target) {
  fs::create_directories(link.parent_path());
  fs::create_symlink(target, link);
}

FakeSystem::FakeSystem() {
  fs::create_directories(Sys() / "class" / "tty");
  fs::create_directories(Dev());
  fs::create_directory(VirtualDir());
  fs::permissions(VirtualDir(), fs::perms::owner_all);
}

DiscoveryRoots FakeSystem::Roots() const {
  return DiscoveryRoots{(Sys() / "class" / "tty").string(), Dev().string(), VirtualDir().string()};
}

void FakeSystem::AddPort(const std::string& name, const std::string& deviceDir) {
  const fs::path device = Sys() / "devices" / deviceDir;
  fs::create_directories(device);
  MakeLink(Sys() / "class" / "tty" / name / "device", device);
  WriteFile(Dev() / name, "");
}

void FakeSystem::AddVirtualConsole(const std::string& name) {
  WriteFile(Sys() / "class" / "tty" / name / "dev", "4:1\n");
  WriteFile(Dev() / name, "");
}

void FakeSystem::SetUartType(const std::string& name, int type) {
  WriteFile(Sys() / "class" / "tty" / name / "type", std::to_string(type) + "\n");
}

void FakeSystem::SetDriver(const std::string& deviceDir, const std::string& driver) {
  const fs::path driverDir = Sys() / "bus" / "platform" / "drivers" / driver;
  fs::create_directories(driverDir);
  MakeLink(Sys() / "devices" / deviceDir / "driver", driverDir);
}

void FakeSystem::SetProduct(const std::string& deviceDir, const std::string& product) {
  WriteFile(Sys() / "devices" / deviceDir / "product", product + "\n");
}

void FakeSystem::RemoveNode(const std::string& name) { fs::remove(Dev() / name); }

void FakeSystem::AddVirtualLink(const std::string& name, const fs::path& target) {
  MakeLink(VirtualDir() / name, target);
}

}  // namespace kestal::test
