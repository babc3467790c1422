#include "link/open_failure.h"

#include "common/printable.h"

namespace kestal {

std::string DescribeOpenFailure(OpenResult result, const std::string& devicePath) {
  const std::string shown = Printable(devicePath);
  switch (result) {
    case OpenResult::Ok:
      return {};
    case OpenResult::NoSuchDevice:
      return "No such device: " + shown + ". Plug the adapter in or choose another port.";
    case OpenResult::PermissionDenied:
      return PermissionAdvice(devicePath);
    case OpenResult::Busy:
      return shown + " is held by another program. Close that program and try again.";
    case OpenResult::NotSerial:
      return shown + " is not a serial device. Choose another port.";
    case OpenResult::Failed:
      break;
  }
  return "Could not open " + shown + ".";
}

}  // namespace kestal
