#include "link/open_failure.h"

#ifndef _WIN32
#include <grp.h>
#endif
#include <sys/stat.h>

namespace kestal {
namespace {

// The name of the group that owns `devicePath`; empty when it cannot be told.
std::string DeviceGroup(const std::string& devicePath) {
#ifdef _WIN32  // no group owns a COM port
  (void)devicePath;
  return {};
#else
  struct stat info {};
  if (::stat(devicePath.c_str(), &info) != 0) return {};
  const group* owner = ::getgrgid(info.st_gid);
  return owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
#endif
}

std::string PermissionDenied(const std::string& devicePath) {
  const std::string group = DeviceGroup(devicePath);
  if (group.empty()) return "Permission denied on " + devicePath + ".";
  return "Permission denied on " + devicePath + ": it belongs to group '" + group +
         "'. Add your user to that group (sudo usermod -aG " + group + " $USER) and log in again.";
}

}  // namespace

std::string DescribeOpenFailure(OpenResult result, const std::string& devicePath) {
  switch (result) {
    case OpenResult::Ok:
      return {};
    case OpenResult::NoSuchDevice:
      return "No such device: " + devicePath + ". Plug the adapter in or choose another port.";
    case OpenResult::PermissionDenied:
      return PermissionDenied(devicePath);
    case OpenResult::Busy:
      return devicePath + " is held by another program. Close that program and try again.";
    case OpenResult::NotSerial:
      return devicePath + " is not a serial device. Choose another port.";
    case OpenResult::Failed:
      break;
  }
  return "Could not open " + devicePath + ".";
}

}  // namespace kestal
