#pragma once
// What the platform tells about a port without opening it, and about the machine: one source
// file per platform (sysfs, /proc and /etc on Linux; little on Windows, where a COM port says
// nothing about itself until it is opened).
#include <optional>
#include <vector>

#include "doctor/doctor.h"

namespace kestal::doctor {

// The kernel driver behind the port, or the device's description; empty when unknown.
std::string PortDriver(const PortInfo& port, const DoctorOptions& options);
// Whether this user may open the port, and who else holds it.
std::vector<Check> AccessChecks(const PortInfo& port, const DoctorOptions& options);
// The adapter's latency timer in milliseconds, where its driver exposes one.
std::optional<int> LatencyTimerMs(const PortInfo& port, const DoctorOptions& options);
// Where the latency timer is set, for the advice.
std::string LatencyTimerPath(const PortInfo& port, const DoctorOptions& options);
// Programs running on the machine that are known to take serial ports.
std::vector<Check> MachineChecks(const DoctorOptions& options);

}  // namespace kestal::doctor
