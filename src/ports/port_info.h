#pragma once
// One serial port as discovery found it, and the list the window offers.
#include <string>
#include <vector>

namespace kestal {

struct PortInfo {
  std::string devicePath{};    // the path that opens the port, e.g. /dev/ttyUSB0
  std::string portName{};      // short name, e.g. ttyUSB0
  std::string friendlyName{};  // the text the port list shows and the "port" setting stores
  bool usb = false;            // the port sits on USB
  bool virtualPort = false;    // announced by an emulator in the virtual port directory
  std::string description{};   // device description, or derived from the friendly name
  // What tells two identical adapters apart; empty where the system does not know it.
  std::string byIdPath{};  // the stable link, e.g. /dev/serial/by-id/usb-FTDI_..._A1-if00-port0
  std::string usbVendorProduct{};  // e.g. "0403:6001"
  std::string serialNumber{};      // the adapter's USB serial number
};

using PortList = std::vector<PortInfo>;

}  // namespace kestal
