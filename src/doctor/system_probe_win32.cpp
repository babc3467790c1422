// The Windows side of doctor: a COM port tells nothing about itself until it is opened, so the
// one check is opening it (nothing is written); no latency timer or process is looked at.
#include "doctor/system_probe.h"
#include "link/open_failure.h"
#include "link/serial_link.h"
#include "transfer/transfer_controller.h"

namespace kestal::doctor {

std::string PortDriver(const PortInfo& port, const DoctorOptions& /*options*/) {
  return port.description;
}

std::vector<Check> AccessChecks(const PortInfo& port, const DoctorOptions& /*options*/) {
  SerialLink link;
  const OpenResult opened = link.OpenLink(port.devicePath, kLinkBaud);
  link.CloseLink();
  if (opened == OpenResult::Ok) return {{"access", Verdict::Ok, "this user can open it", ""}};
  return {{"access", Verdict::Problem, "cannot be opened",
           DescribeOpenFailure(opened, port.devicePath)}};
}

std::optional<int> LatencyTimerMs(const PortInfo& /*port*/, const DoctorOptions& /*options*/) {
  return std::nullopt;
}

std::string LatencyTimerPath(const PortInfo& /*port*/, const DoctorOptions& /*options*/) {
  return {};
}

std::vector<Check> MachineChecks(const DoctorOptions& /*options*/) { return {}; }

}  // namespace kestal::doctor
