// kestal-cli ports prints the same ports, in the same order, as the window gets from discovery.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ports/fake_system.h"
#include "ports/port_discovery.h"

namespace kestal {
namespace {

namespace fs = std::filesystem;

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const fs::path& file) {
  std::ostringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

CliResult RunPorts(const DiscoveryRoots& roots, const fs::path& scratch) {
  const char* binDir = std::getenv("KESTAL_BIN_DIR");
  const std::string cli = std::string(binDir ? binDir : ".") + "/src/cli/kestal-cli";
  const std::string command = Quote(cli) + " ports --sysfs-tty " + Quote(roots.sysClassTty) +
                              " --dev-dir " + Quote(roots.devDir) + " --virtual-dir " +
                              Quote(roots.virtualPortDir) + " >" + Quote((scratch / "out").string()) +
                              " 2>" + Quote((scratch / "err").string());
  CliResult result;
  const int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadAll(scratch / "out");
  result.err = ReadAll(scratch / "err");
  return result;
}

TEST(CliPorts, PrintsDiscoveredPortsInOrder) {
  test::FakeSystem sys;
  sys.AddPort("ttyUSB10", "pci0/usb1/1-2/1-2:1.0/ttyUSB10");
  sys.SetProduct("pci0/usb1/1-2", "FT232R USB UART");
  sys.AddPort("ttyUSB2", "pci0/usb1/1-1/1-1:1.0/ttyUSB2");
  sys.AddPort("ttyS0", "pnp0/00:01");
  sys.SetUartType("ttyS0", 4);
  sys.AddVirtualLink("sim", "/dev/null");
  test::TempDir scratch;

  const CliResult result = RunPorts(sys.Roots(), scratch.path());
  ASSERT_EQ(result.status, 0) << result.err;
  PortList list;
  EnumeratePorts(list, sys.Roots());
  ASSERT_EQ(list.size(), 4u);
  std::string expected;
  for (const PortInfo& port : list) {
    expected += port.m_strFriendlyName + "\t" + port.m_strDevicePath + "\n";
  }
  EXPECT_EQ(result.out, expected);
  EXPECT_EQ(result.err, "");
}

TEST(CliPorts, DiscoveryFailureExitsOneWithMessage) {
  test::TempDir root;
  const fs::path notADirectory = root.path() / "tty";
  test::WriteFile(notADirectory, "");
  const CliResult result =
      RunPorts({notADirectory.string(), "/dev", (root.path() / "ports").string()}, root.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Could not read " + notADirectory.string() + ". (err=14)\n");
}

}  // namespace
}  // namespace kestal
