#pragma once
// Checks what stands between this machine and the receiver: the ports, who may open them and
// who holds them, programs known to grab serial adapters, the adapters' latency and, when
// asked to listen, whether a receiver answers the wake-up burst. Reads only: nothing on the
// system is changed, and only a port it is asked to listen on is ever written to.
#include <stop_token>
#include <string>

#include "doctor/doctor_report.h"
#include "ports/port_discovery.h"

namespace kestal::doctor {

struct DoctorOptions {
  // Where the system is read from; tests point them at trees of their own.
  DiscoveryRoots discovery{};  // sysfs tty class, device nodes, virtual ports
  std::string procDir = "/proc";
  std::string etcDir = "/etc";
  // Seconds to listen on each port after the wake-up burst; 0: the ports are not opened.
  double listenSeconds = 0;
  // Ends the listening at once (a window that closes); what was heard so far is judged.
  std::stop_token stop{};
};

// Checks each of `ports`; listens on all of them at once when asked to.
DoctorReport RunDoctor(const PortList& ports, const DoctorOptions& options);

}  // namespace kestal::doctor
