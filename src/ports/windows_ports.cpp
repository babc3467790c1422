// Port discovery on Windows: the COM ports of SetupAPI's Ports class with their friendly
// names, then any port listed only under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (virtual port
// drivers and emulators often register nothing else, some under names of their own, such as
// CNCA0). The device path is the port's name itself; the link adds the \\.\ prefix that names
// above COM9 need.
#include <windows.h>
// After windows.h, whose types it uses.
#include <setupapi.h>

#include <algorithm>
#include <cwctype>

#include "common/utf16.h"
#include "ports/natural_order.h"
#include "ports/port_discovery.h"

namespace kestal {
namespace {

// The Ports (COM & LPT) device setup class.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

bool IsComName(const std::string& name) {
  return name.size() > 3 && _strnicmp(name.c_str(), "COM", 3) == 0;
}

// Without regard to case, as Windows compares names: "Communications Port (com5)" too.
bool SameName(const std::string& a, const std::string& b) {
  const std::wstring wideA = Utf8ToWide(a);
  const std::wstring wideB = Utf8ToWide(b);
  return CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                              static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

// A registry string value of at most a few hundred characters; empty when missing.
std::wstring RegistryString(HKEY key, const wchar_t* name) {
  wchar_t text[512] = {};
  DWORD size = sizeof text - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return text;
}

std::wstring DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t text[512] = {};
  if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                         reinterpret_cast<BYTE*>(text),
                                         sizeof text - sizeof(wchar_t), nullptr)) {
    return {};
  }
  return text;
}

PortInfo FromPortsClass(HDEVINFO devices, SP_DEVINFO_DATA& device, const std::string& comName) {
  PortInfo record;
  record.devicePath = comName;
  record.portName = comName;
  record.friendlyName = WideToUtf8(DeviceProperty(devices, device, SPDRP_FRIENDLYNAME));
  record.description = WideToUtf8(DeviceProperty(devices, device, SPDRP_DEVICEDESC));
  record.usb = SameName(WideToUtf8(DeviceProperty(devices, device, SPDRP_ENUMERATOR_NAME)), "USB");
  return record;
}

void AddPortsClass(PortList& list) {
  HDEVINFO devices = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    const std::string comName = WideToUtf8(RegistryString(key, L"PortName"));
    RegCloseKey(key);
    if (IsComName(comName)) list.push_back(FromPortsClass(devices, device, comName));  // not LPT
  }
  SetupDiDestroyDeviceInfoList(devices);
}

bool Listed(const PortList& list, const std::string& comName) {
  return std::any_of(list.begin(), list.end(),
                     [&](const PortInfo& record) { return SameName(record.portName, comName); });
}

void AddSerialComm(PortList& list) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return;  // no serial driver has registered a port
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameSize = 256;
    if (RegEnumValueW(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    const std::string comName = WideToUtf8(RegistryString(key, name));
    if (comName.empty() || Listed(list, comName)) continue;
    PortInfo record;
    record.devicePath = comName;
    record.portName = comName;
    record.friendlyName = "Communications Port (" + comName + ")";
    list.push_back(std::move(record));
  }
  RegCloseKey(key);
}

// As on Linux: a friendly name "Name (COM3)" gives the description "Name".
void FinishPortRecord(PortInfo& record) {
  if (record.friendlyName.empty()) record.friendlyName = record.portName;
  if (!record.description.empty()) return;
  record.description = record.friendlyName;
  const size_t open = record.description.find(" (");
  if (open != std::string::npos && open >= 1 && record.description.back() == ')') {
    record.description.resize(open);
  }
}

}  // namespace

// The roots name Linux directories; Windows keeps its ports in SetupAPI and the registry.
DiscoveryResult EnumeratePorts(const DiscoveryRoots& /*roots*/) {
  DiscoveryResult result;
  AddPortsClass(result.ports);
  AddSerialComm(result.ports);
  std::sort(result.ports.begin(), result.ports.end(), [](const PortInfo& a, const PortInfo& b) {
    return NaturalLess(a.portName, b.portName);
  });
  for (PortInfo& record : result.ports) FinishPortRecord(record);
  return result;
}

// Names are matched without regard to case, and a port name is the same with or without the
// \\.\ or \\?\ prefix.
const PortInfo* FindPort(const PortList& list, const std::string& nameOrPath) {
  if (nameOrPath.empty()) return nullptr;
  const bool prefixed = nameOrPath.starts_with("\\\\.\\") || nameOrPath.starts_with("\\\\?\\");
  const std::string name = prefixed ? nameOrPath.substr(4) : nameOrPath;
  for (const PortInfo& record : list) {
    if (SameName(record.portName, name) || SameName(record.devicePath, name)) return &record;
  }
  for (const PortInfo& record : list) {
    if (SameName(record.friendlyName, nameOrPath)) return &record;
  }
  return nullptr;
}

}  // namespace kestal
