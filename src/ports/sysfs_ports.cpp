// Linux strategy: every tty class entry with a device behind it is a serial port, except the
// legacy 8250 placeholders that the kernel registers whether or not a UART exists.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

#include "ports/directory_listing.h"
#include "ports/port_strategies.h"

namespace kestal {
namespace {

namespace fs = std::filesystem;

// A sysfs attribute's text without trailing white space; nullopt when it cannot be read.
std::optional<std::string> ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  if (!in) return std::nullopt;
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  return text;
}

bool IsAllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The root hub directory of a USB bus: usb1, usb2, ...
bool IsUsbBusRoot(const fs::path& component) {
  const std::string name = component.string();
  return name.size() > 3 && name.compare(0, 3, "usb") == 0 && IsAllDigits(name.substr(3));
}

bool IsOnUsb(const fs::path& deviceDir) {
  return std::any_of(deviceDir.begin(), deviceDir.end(), IsUsbBusRoot);
}

bool HasHardware(const fs::path& entry) {
  std::error_code ec;
  if (!fs::exists(entry / "device", ec)) return false;  // virtual consoles and ptys
  // Serial core ports report their UART type; 0 means it found none.
  if (const auto type = ReadAttribute(entry / "type"); type && IsAllDigits(*type)) {
    return type->find_first_not_of('0') != std::string::npos;
  }
  return fs::read_symlink(entry / "device" / "driver", ec).filename() != "serial8250";
}

// The adapter's product string: the nearest ancestor with a `product` file, searched no higher
// than the bus's root hub, whose own product names the host controller, not the adapter.
std::optional<std::string> FindUsbProduct(fs::path dir) {
  for (; !dir.empty() && dir != dir.root_path() && !IsUsbBusRoot(dir.filename());
       dir = dir.parent_path()) {
    if (auto product = ReadAttribute(dir / "product"); product && !product->empty()) return product;
  }
  return std::nullopt;
}

// The USB device the port belongs to: the nearest ancestor that names its vendor and product.
std::optional<fs::path> FindUsbDevice(fs::path dir) {
  for (; !dir.empty() && dir != dir.root_path() && !IsUsbBusRoot(dir.filename());
       dir = dir.parent_path()) {
    if (ReadAttribute(dir / "idVendor") && ReadAttribute(dir / "idProduct")) return dir;
  }
  return std::nullopt;
}

void AddUsbIdentity(PortInfo& record, const fs::path& deviceDir) {
  const auto usbDevice = FindUsbDevice(deviceDir);
  if (!usbDevice) return;
  record.usbVendorProduct =
      *ReadAttribute(*usbDevice / "idVendor") + ":" + *ReadAttribute(*usbDevice / "idProduct");
  record.serialNumber = ReadAttribute(*usbDevice / "serial").value_or("");
}

// udev's stable name for `node`: the link under <dev>/serial/by-id that leads to it.
std::string FindByIdPath(const fs::path& devDir, const fs::path& node) {
  const fs::path byIdDir = devDir / "serial" / "by-id";
  std::vector<std::string> names;
  if (!ListEntryNames(byIdDir.string(), names).empty()) return {};
  for (const std::string& name : names) {
    if (SameFile((byIdDir / name).string(), node.string())) return (byIdDir / name).string();
  }
  return {};
}

std::string FriendlyName(const std::string& name, const fs::path& deviceDir, bool usb) {
  if (!usb) return "Communications Port (" + name + ")";
  return FindUsbProduct(deviceDir).value_or("USB Serial Port") + " (" + name + ")";
}

}  // namespace

std::string EnumerateSysfsPorts(PortList& list, const std::string& sysClassTty,
                                const std::string& devDir) {
  std::vector<std::string> names;
  if (std::string error = ListEntryNames(sysClassTty, names); !error.empty()) return error;
  for (const std::string& name : names) {
    const fs::path entry = fs::path(sysClassTty) / name;
    if (!HasHardware(entry)) continue;
    std::error_code ec;
    const fs::path deviceDir = fs::canonical(entry / "device", ec);
    const fs::path node = fs::path(devDir) / name;
    if (ec || !fs::exists(node, ec)) continue;  // a port without a node cannot be opened

    PortInfo record;
    record.devicePath = node.string();
    record.portName = name;
    record.usb = IsOnUsb(deviceDir);
    record.friendlyName = FriendlyName(name, deviceDir, record.usb);
    if (record.usb) AddUsbIdentity(record, deviceDir);
    record.byIdPath = FindByIdPath(devDir, node);
    list.push_back(std::move(record));
  }
  return {};
}

}  // namespace kestal
