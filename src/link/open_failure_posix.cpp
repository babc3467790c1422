#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include "common/printable.h"
#include "link/open_failure.h"

namespace kestal {
namespace {

std::string GroupName(gid_t gid) {
  const group* entry = ::getgrgid(gid);
  return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

std::string UserName(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

}  // namespace

std::string PermissionAdvice(const std::string& devicePath) {
  const std::string denied = "Permission denied on " + Printable(devicePath);
  struct stat info {};
  if (::stat(devicePath.c_str(), &info) != 0) return denied + ".";
  // Joining the device's group helps only when that group may read and write it; root's group
  // is never worth joining for a serial port.
  const bool groupMayOpen = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (groupMayOpen && info.st_gid != 0) {
    const std::string group = GroupName(info.st_gid);
    return denied + ": it belongs to group '" + group + "'. Add your user to that group (sudo " +
           "usermod -aG " + group + " $USER) and log in again.";
  }
  return denied + ": only its owner '" + UserName(info.st_uid) +
         "' may open it. Ask the administrator to give the port a group that may open it (a "
         "udev rule) or choose another port.";
}

}  // namespace kestal
