// kestal-cli doctor: the checks of the doctor library on the ports asked for, as text a user can
// read and paste, or as JSON.
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/port_auto.h"
#include "cli/port_choice.h"
#include "common/printable.h"
#include "common/utf8_path.h"
#include "doctor/doctor.h"

namespace kestal::cli {
namespace {

using doctor::Check;
using doctor::DoctorReport;
using doctor::PortReport;
using doctor::Verdict;

constexpr int kExitUsage = 2;

// The ports asked for; nullopt when a named one is unknown.
std::optional<PortList> SelectPorts(const std::string& wanted, const PortList& discovered) {
  if (wanted.empty()) return discovered;
  PortList selected;
  if (wanted == kAutoPort) {
    // The ports --port auto would wake: USB adapters and emulators.
    for (const PortInfo& port : discovered) {
      if (port.usb || port.virtualPort) selected.push_back(port);
    }
    return selected;
  }
  if (const PortInfo* found = FindPort(discovered, wanted)) return PortList{*found};
  if (auto port = ResolvePort(wanted, {})) return PortList{*port};
  return std::nullopt;
}

std::string Identity(const PortReport& report) {
  const PortInfo& port = report.port;
  std::string text;
  const auto add = [&text](const std::string& label, const std::string& value) {
    if (!value.empty()) text += (text.empty() ? "" : ", ") + label + Printable(value);
  };
  add("driver ", report.driver);
  add("USB ", port.usbVendorProduct);
  add("serial ", port.serialNumber);
  add("by-id ", Utf8Path(port.byIdPath).filename().string());
  return text;
}

void PrintChecks(const std::vector<Check>& checks) {
  for (const Check& check : checks) {
    std::printf("  %-8s %s: %s\n", doctor::VerdictName(check.verdict), check.name.c_str(),
                Printable(check.finding).c_str());
    if (!check.advice.empty()) std::printf("           -> %s\n", Printable(check.advice).c_str());
  }
}

size_t Count(const DoctorReport& report, Verdict verdict) {
  size_t count = 0;
  const auto tally = [&](const std::vector<Check>& checks) {
    for (const Check& check : checks) count += check.verdict == verdict ? 1 : 0;
  };
  tally(report.machine);
  for (const PortReport& port : report.ports) tally(port.checks);
  return count;
}

void PrintText(const DoctorReport& report) {
  for (const PortReport& port : report.ports) {
    std::printf("Port %s: %s\n", Printable(port.port.devicePath).c_str(),
                Printable(port.port.friendlyName).c_str());
    if (const std::string identity = Identity(port); !identity.empty()) {
      std::printf("  %s\n", identity.c_str());
    }
    PrintChecks(port.checks);
  }
  std::printf("This machine\n");
  PrintChecks(report.machine);
  const size_t problems = Count(report, Verdict::Problem);
  const size_t warnings = Count(report, Verdict::Warning);
  std::printf("%zu problem%s, %zu warning%s.\n", problems, problems == 1 ? "" : "s", warnings,
              warnings == 1 ? "" : "s");
}

nlohmann::ordered_json ChecksJson(const std::vector<Check>& checks) {
  auto list = nlohmann::ordered_json::array();
  for (const Check& check : checks) {
    list.push_back({{"check", check.name},
                    {"verdict", doctor::VerdictName(check.verdict)},
                    {"finding", Printable(check.finding)},
                    {"advice", Printable(check.advice)}});
  }
  return list;
}

void PrintJson(const DoctorReport& report) {
  nlohmann::ordered_json ports = nlohmann::ordered_json::array();
  for (const PortReport& port : report.ports) {
    ports.push_back({{"device", Printable(port.port.devicePath)},
                     {"name", Printable(port.port.friendlyName)},
                     {"driver", Printable(port.driver)},
                     {"usb", port.port.usbVendorProduct},
                     {"serial", Printable(port.port.serialNumber)},
                     {"by_id", Printable(port.port.byIdPath)},
                     {"checks", ChecksJson(port.checks)}});
  }
  const nlohmann::ordered_json document = {{"ports", ports},
                                           {"machine", ChecksJson(report.machine)},
                                           {"problems", Count(report, Verdict::Problem)},
                                           {"warnings", Count(report, Verdict::Warning)}};
  std::cout << document.dump(2) << std::endl;
}

}  // namespace

int RunDoctor(const DoctorArgs& args) {
  if (args.options.listenSeconds > 0 && args.port.empty()) {
    std::fprintf(stderr,
                 "kestal-cli: --listen writes to the port: name it with --port DEV or "
                 "--port auto\n");
    return kExitUsage;
  }
  const DiscoveryResult discovered = EnumeratePorts(args.options.discovery);
  if (!discovered.error.empty()) std::fprintf(stderr, "%s\n", discovered.error.c_str());
  const auto ports = SelectPorts(args.port, discovered.ports);
  if (!ports) {
    std::fprintf(stderr, "Unknown port: %s (see kestal-cli ports)\n", Printable(args.port).c_str());
    return kExitUsage;
  }
  const DoctorReport report = doctor::RunDoctor(*ports, args.options);
  if (args.json) {
    PrintJson(report);
  } else {
    PrintText(report);
  }
  return report.HasProblem() ? 1 : 0;
}

}  // namespace kestal::cli
