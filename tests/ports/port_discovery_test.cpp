// Discovery on a made-up sysfs tree: which tty entries are ports, what they are called, and
// in which order they come.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ports/port_discovery.h"

namespace kestal {
namespace {

namespace fs = std::filesystem;

class PortDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(roots_.devDir);
    fs::create_directories(roots_.virtualPortDir);
    chmod(roots_.virtualPortDir.c_str(), 0700);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A tty class entry; `device` empty: none (a virtual console), else the device directory
  // under the made-up /sys/devices.
  void AddTty(const std::string& name, const std::string& device, const char* type = nullptr) {
    const fs::path entry = fs::path(roots_.sysClassTty) / name;
    fs::create_directories(entry);
    std::ofstream(fs::path(roots_.devDir) / name);
    if (device.empty()) return;
    fs::create_directories(dir_ / "devices" / device);
    fs::create_directory_symlink(dir_ / "devices" / device, entry / "device");
    if (type != nullptr) std::ofstream(entry / "type") << type << "\n";
  }

  const fs::path dir_ =
      fs::temp_directory_path() / ("kestal-ports-test-" + std::to_string(getpid()));
  DiscoveryRoots roots_{(dir_ / "class").string(), (dir_ / "dev").string(),
                        (dir_ / "virtual").string()};
};

TEST_F(PortDiscoveryTest, FindsPortsWithHardwareInNaturalOrder) {
  AddTty("ttyS10", "platform/serial8250/ttyS10", "4");
  AddTty("ttyS2", "platform/serial8250/ttyS2", "4");
  AddTty("ttyS3", "platform/serial8250/ttyS3", "0");  // a placeholder without a UART
  AddTty("tty1", "");
  AddTty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0");
  std::ofstream(dir_ / "devices/pci0/usb1/1-1/product") << "FT232R USB UART\n";
  std::ofstream(dir_ / "devices/pci0/usb1/product") << "xHCI Host Controller\n";

  const DiscoveryResult found = EnumeratePorts(roots_);
  ASSERT_EQ(found.error, "");
  ASSERT_EQ(found.ports.size(), 3u);
  EXPECT_EQ(found.ports[0].portName, "ttyS2");
  EXPECT_EQ(found.ports[1].portName, "ttyS10");
  const PortInfo& usb = found.ports[2];
  EXPECT_EQ(usb.devicePath, roots_.devDir + "/ttyUSB0");
  EXPECT_EQ(usb.friendlyName, "FT232R USB UART (ttyUSB0)");
  EXPECT_EQ(usb.description, "FT232R USB UART");
  EXPECT_TRUE(usb.usb);
  EXPECT_EQ(found.ports[0].friendlyName, "Communications Port (ttyS2)");
  EXPECT_FALSE(found.ports[0].usb);
  EXPECT_EQ(FindPort(found.ports, "ttyS10"), &found.ports[1]);
  EXPECT_EQ(FindPort(found.ports, "FT232R USB UART (ttyUSB0)"), &usb);
}

TEST_F(PortDiscoveryTest, UsbAdapterCarriesItsStableNames) {
  AddTty("ttyUSB1", "pci0/usb1/1-2/1-2:1.0/ttyUSB1");
  const fs::path usbDevice = dir_ / "devices/pci0/usb1/1-2";
  std::ofstream(usbDevice / "idVendor") << "0403\n";
  std::ofstream(usbDevice / "idProduct") << "6001\n";
  std::ofstream(usbDevice / "serial") << "A10KZ3\n";
  const fs::path byId = fs::path(roots_.devDir) / "serial/by-id";
  fs::create_directories(byId);
  fs::create_symlink("../../ttyUSB1", byId / "usb-FTDI_A10KZ3-if00-port0");

  const DiscoveryResult found = EnumeratePorts(roots_);
  ASSERT_EQ(found.ports.size(), 1u);
  const PortInfo& usb = found.ports[0];
  EXPECT_EQ(usb.byIdPath, (byId / "usb-FTDI_A10KZ3-if00-port0").string());
  EXPECT_EQ(usb.usbVendorProduct, "0403:6001");
  EXPECT_EQ(usb.serialNumber, "A10KZ3");
  EXPECT_EQ(FindPort(found.ports, "usb-FTDI_A10KZ3-if00-port0"), &usb);
  EXPECT_EQ(FindPort(found.ports, usb.byIdPath), &usb);
}

TEST_F(PortDiscoveryTest, AnUnreadableDirectoryIsAnError) {
  std::ofstream(roots_.sysClassTty) << "not a directory";
  const DiscoveryResult found = EnumeratePorts(roots_);
  EXPECT_TRUE(found.ports.empty());
  EXPECT_EQ(found.error, "Could not read " + roots_.sysClassTty + ". (err=14)");  // ENOTDIR
}

}  // namespace
}  // namespace kestal
