// EnumeratePorts against a fake machine: which tty entries become ports, in what order, with
// which names, and how failures are reported.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ports/fake_system.h"
#include "ports/port_discovery.h"

namespace kestal {
namespace {

namespace fs = std::filesystem;
using test::FakeSystem;

const std::string kHub = "pci0000:00/0000:00:14.0/usb1";

std::vector<std::string> PortNames(const PortList& list) {
  std::vector<std::string> names;
  for (const PortInfo& record : list) names.push_back(record.m_strPortName);
  return names;
}

const PortInfo& Named(const PortList& list, const std::string& portName) {
  for (const PortInfo& record : list) {
    if (record.m_strPortName == portName) return record;
  }
  throw std::runtime_error("no port " + portName);
}

// A machine with USB adapters, legacy UARTs present and absent, consoles and virtual ports.
class FakeMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    sys.SetProduct(kHub, "xHCI Host Controller");  // must never name an adapter
    sys.AddPort("ttyUSB0", kHub + "/1-1/1-1:1.0/ttyUSB0");
    sys.SetProduct(kHub + "/1-1", "CP2102 USB to UART Bridge Controller");
    sys.AddPort("ttyUSB10", kHub + "/1-3/1-3:1.0/ttyUSB10");
    sys.SetProduct(kHub + "/1-3", "FT232R USB UART");
    sys.AddPort("ttyUSB2", kHub + "/1-2/1-2:1.0/ttyUSB2");  // adapter without product string
    sys.AddPort("ttyACM0", kHub + "/1-4/1-4:1.0");
    sys.SetProduct(kHub + "/1-4", "Arduino Uno");

    sys.AddPort("ttyS0", "pnp0/00:01/00:01:0/00:01:0.0");  // a real UART
    sys.SetUartType("ttyS0", 4);
    sys.AddPort("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1");  // no UART
    sys.SetUartType("ttyS1", 0);
    sys.AddPort("ttyS2", "platform/serial8250");  // older kernels: placeholder, no type file
    sys.SetDriver("platform/serial8250", "serial8250");
    sys.AddPort("ttyS3", "pnp0/00:02");  // no type file, real driver
    sys.SetDriver("pnp0/00:02", "serial");
    sys.AddPort("ttyS4", "pnp0/00:03");  // in sysfs but without a device node
    sys.SetUartType("ttyS4", 4);
    sys.RemoveNode("ttyS4");

    sys.AddVirtualConsole("tty0");
    sys.AddVirtualConsole("console");
    sys.AddVirtualConsole("ptmx");

    fs::create_symlink("/dev/null", sys.Root() / "null-alias");
    sys.AddVirtualLink("sim", "../null-alias");  // relative, through another link
    sys.AddVirtualLink("port10", "/dev/full");
    sys.AddVirtualLink("port9", "/dev/zero");
    sys.AddVirtualLink("gone", sys.Root() / "no-such-pty");  // emulator ended
    test::WriteFile(sys.Root() / "plain-file", "");
    sys.AddVirtualLink("notatty", sys.Root() / "plain-file");
    sys.AddVirtualLink(".sim.123.0", "/dev/null");  // a registration in progress
  }

  FakeSystem sys;
};

TEST_F(FakeMachine, ListsHardwarePortsThenVirtualPortsInNaturalOrder) {
  PortList list(3);  // emptied first
  EnumeratePorts(list, sys.Roots());
  EXPECT_EQ(PortNames(list),
            (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyS3", "ttyUSB0", "ttyUSB2",
                                      "ttyUSB10", "port9", "port10", "sim"}));
}

TEST_F(FakeMachine, RecordsOfEachKindOfPort) {
  struct Expected {
    std::string portName, devicePath, friendlyName, description;
    int usb;
  };
  const std::string dev = sys.Dev().string() + "/";
  const Expected expected[] = {
      // USB adapters are named by their product string, never by the host controller's.
      {"ttyUSB0", dev + "ttyUSB0", "CP2102 USB to UART Bridge Controller (ttyUSB0)",
       "CP2102 USB to UART Bridge Controller", 1},
      {"ttyUSB10", dev + "ttyUSB10", "FT232R USB UART (ttyUSB10)", "FT232R USB UART", 1},
      {"ttyACM0", dev + "ttyACM0", "Arduino Uno (ttyACM0)", "Arduino Uno", 1},
      {"ttyUSB2", dev + "ttyUSB2", "USB Serial Port (ttyUSB2)", "USB Serial Port", 1},
      {"ttyS0", dev + "ttyS0", "Communications Port (ttyS0)", "Communications Port", 0},
      {"ttyS3", dev + "ttyS3", "Communications Port (ttyS3)", "Communications Port", 0},
      // Virtual ports open the link's target.
      {"sim", "/dev/null", "Virtual Port (sim)", "Virtual Port", 0},
      {"port9", "/dev/zero", "Virtual Port (port9)", "Virtual Port", 0},
  };
  PortList list;
  EnumeratePorts(list, sys.Roots());
  for (const Expected& e : expected) {
    const PortInfo& record = Named(list, e.portName);
    EXPECT_EQ(record.m_strDevicePath, e.devicePath) << e.portName;
    EXPECT_EQ(record.m_strFriendlyName, e.friendlyName) << e.portName;
    EXPECT_EQ(record.m_strDescription, e.description) << e.portName;
    EXPECT_EQ(record.m_bUsb, e.usb) << e.portName;
  }
}

TEST_F(FakeMachine, UnreadableVirtualDirectoryThrowsAndKeepsUnfinishedRecords) {
  fs::remove_all(sys.VirtualDir());
  test::WriteFile(sys.VirtualDir(), "not a directory");
  PortList list;
  try {
    EnumeratePorts(list, sys.Roots());
    FAIL() << "no failure reported";
  } catch (const std::string& message) {
    EXPECT_EQ(message, "Could not read " + sys.VirtualDir().string() + ". (err=14)");  // ENOTDIR
  }
  ASSERT_EQ(list.size(), 6u);  // the hardware ports found before the failure
  for (const PortInfo& record : list) EXPECT_EQ(record.m_strDescription, "");
}

// Links in a directory that others can write to, or that another user owns, are not trusted.
TEST_F(FakeMachine, VirtualDirectoryThatIsNotPrivateIsRefused) {
  PortList list;
  fs::permissions(sys.VirtualDir(), fs::perms::others_write, fs::perm_options::add);
  EXPECT_THROW(EnumeratePorts(list, sys.Roots()), std::string);
  fs::permissions(sys.VirtualDir(), fs::perms::others_write, fs::perm_options::remove);
  ASSERT_NO_THROW(EnumeratePorts(list, sys.Roots()));

  if (chown(sys.VirtualDir().c_str(), geteuid() + 1, static_cast<gid_t>(-1)) != 0) {
    GTEST_SKIP() << "cannot hand the directory to another user here";
  }
  try {
    EnumeratePorts(list, sys.Roots());
    FAIL() << "a foreign directory's links were trusted";
  } catch (const std::string& message) {
    EXPECT_NE(message.find("not private"), std::string::npos) << message;
  }
}

TEST_F(FakeMachine, FindPortByDevicePathPortNameFriendlyNameOrLink) {
  PortList list;
  EnumeratePorts(list, sys.Roots());
  const PortInfo* cp2102 = &Named(list, "ttyUSB0");
  EXPECT_EQ(FindPort(list, (sys.Dev() / "ttyUSB0").string()), cp2102);
  EXPECT_EQ(FindPort(list, "ttyUSB0"), cp2102);
  EXPECT_EQ(FindPort(list, "CP2102 USB to UART Bridge Controller (ttyUSB0)"), cp2102);
  EXPECT_EQ(FindPort(list, (sys.VirtualDir() / "sim").string()), &Named(list, "sim"));
  EXPECT_EQ(FindPort(list, (sys.VirtualDir() / "port10").string()), &Named(list, "port10"));

  for (const std::string& unknown : {std::string(), std::string("ttyS1"),  // dropped placeholder
                                    std::string("CP2102 USB to UART Bridge Controller"),
                                    (sys.Root() / "no-such-pty").string(), std::string("relative/nothing")})
    EXPECT_EQ(FindPort(list, unknown), nullptr) << unknown;
}

TEST(FindPort, PortNameWinsOverAnotherRecordsFriendlyName) {
  PortList list(2);
  list[0].m_strDevicePath = "/dev/ttyS0";
  list[0].m_strPortName = "ttyS0";
  list[0].m_strFriendlyName = "ttyUSB0";
  list[1].m_strDevicePath = "/dev/ttyUSB0";
  list[1].m_strPortName = "ttyUSB0";
  list[1].m_strFriendlyName = "Adapter (ttyUSB0)";
  EXPECT_EQ(FindPort(list, "ttyUSB0"), &list[1]);
}

TEST(EnumeratePorts, MissingDirectoriesMeanNoPorts) {
  test::TempDir empty;
  PortList list(2);
  EnumeratePorts(list, {(empty.path() / "class" / "tty").string(), (empty.path() / "dev").string(),
                        (empty.path() / "ports").string()});
  EXPECT_TRUE(list.empty());
}

TEST(EnumeratePorts, ClassDirectoryThatIsAFileThrowsItsPathAndErrorCode) {
  test::TempDir root;
  const fs::path notADirectory = root.path() / "tty";
  test::WriteFile(notADirectory, "");
  PortList list;
  try {
    EnumeratePorts(list, {notADirectory.string(), "/dev", (root.path() / "ports").string()});
    FAIL() << "no failure reported";
  } catch (const std::string& message) {
    EXPECT_EQ(message, "Could not read " + notADirectory.string() + ". (err=14)");  // ENOTDIR
  }
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace kestal
