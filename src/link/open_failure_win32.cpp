#include "common/printable.h"
#include "link/open_failure.h"

namespace kestal {

// No group owns a COM port: access is the driver's or an administrator's to give.
std::string PermissionAdvice(const std::string& devicePath) {
  return "Access denied to " + Printable(devicePath) +
         ". Another program may hold it, or it needs an administrator.";
}

}  // namespace kestal
