#include "doctor/doctor.h"

#include <algorithm>
#include <optional>
#include <thread>

#include "doctor/listen.h"
#include "doctor/system_probe.h"

namespace kestal::doctor {
namespace {

// A latency timer this short costs a block exchange nothing worth mentioning.
constexpr int kLowLatencyMs = 2;

// The latency timer at rest and, after a listen, while the port was open as a transfer opens
// it: kestal asks the driver for low latency then, which many drivers grant by shortening it.
std::optional<Check> LatencyCheck(std::optional<int> atRest, std::optional<int> whileOpen,
                                  const std::string& path, bool listened) {
  if (!atRest) return std::nullopt;
  const std::string rest = "latency timer " + std::to_string(*atRest) + " ms";
  const std::string fix = "set it to 1 ms: echo 1 | sudo tee " + path +
                          " (for good: a udev rule with ATTR{latency_timer}=\"1\")";
  if (*atRest <= kLowLatencyMs) return Check{"latency", Verdict::Ok, rest, ""};
  if (!listened) {
    return Check{"latency", Verdict::Warning,
                 rest + ": the adapter may hold each of the receiver's requests that long",
                 "kestal asks for low latency when it opens the port; --listen shows whether "
                 "the driver grants it"};
  }
  if (whileOpen && *whileOpen <= kLowLatencyMs) {
    return Check{"latency", Verdict::Ok,
                 rest + " at rest, " + std::to_string(*whileOpen) +
                     " ms while kestal holds the port: low latency granted",
                 ""};
  }
  return Check{"latency", Verdict::Warning,
               rest + " while kestal holds the port: low latency was not granted", fix};
}

}  // namespace

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Ok:
      return "ok";
    case Verdict::Warning:
      return "warning";
    case Verdict::Problem:
      break;
  }
  return "problem";
}

bool DoctorReport::HasProblem() const { return Count(Verdict::Problem) > 0; }

size_t DoctorReport::Count(Verdict verdict) const {
  const auto tally = [verdict](const std::vector<Check>& checks) {
    return static_cast<size_t>(std::count_if(checks.begin(), checks.end(),
                                             [&](const Check& c) { return c.verdict == verdict; }));
  };
  size_t count = tally(machine);
  for (const PortReport& port : ports) count += tally(port.checks);
  return count;
}

DoctorReport RunDoctor(const PortList& ports, const DoctorOptions& options) {
  DoctorReport report;
  report.machine = MachineChecks(options);
  if (ports.empty()) {
    report.machine.push_back({"ports", Verdict::Problem, "no serial port found",
                              "plug the adapter in; `dmesg` tells whether the system saw it"});
  }
  std::vector<std::optional<int>> latencyAtRest;
  for (const PortInfo& port : ports) {
    report.ports.push_back({port, PortDriver(port, options), AccessChecks(port, options)});
    latencyAtRest.push_back(LatencyTimerMs(port, options));
  }

  // The checks above looked at the ports at rest; now each is opened, at once, as asked.
  const bool listening = options.listenSeconds > 0;
  std::vector<std::optional<int>> latencyWhileOpen(ports.size());
  if (listening) {
    std::vector<Check> heard(ports.size());
    std::vector<std::thread> listeners;
    for (size_t i = 0; i < ports.size(); ++i) {
      listeners.emplace_back([&, i] {
        heard[i] = Listen(
            ports[i], options.listenSeconds,
            [&] { latencyWhileOpen[i] = LatencyTimerMs(ports[i], options); }, options.stop);
      });
    }
    for (std::thread& listener : listeners) listener.join();
    for (size_t i = 0; i < ports.size(); ++i) report.ports[i].checks.push_back(heard[i]);
  }
  for (size_t i = 0; i < ports.size(); ++i) {
    const auto latency = LatencyCheck(latencyAtRest[i], latencyWhileOpen[i],
                                      LatencyTimerPath(ports[i], options), listening);
    if (latency) report.ports[i].checks.push_back(*latency);
  }
  return report;
}

}  // namespace kestal::doctor
