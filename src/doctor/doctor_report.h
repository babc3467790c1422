#pragma once
// What `doctor` found, as data any front end can show: the command line prints it (or its
// JSON), the window can put it in a dialog. Every check says ok, warning or problem, what it
// found and, unless all is well, one line of what to do.
#include <string>
#include <vector>

#include "ports/port_info.h"

namespace kestal::doctor {

enum class Verdict { Ok, Warning, Problem };

// "ok", "warning", "problem".
const char* VerdictName(Verdict verdict);

struct Check {
  std::string name;  // "access", "holders", "latency", "listen", "modem manager", ...
  Verdict verdict = Verdict::Ok;
  std::string finding;  // what was found, one line
  std::string advice;   // what to do about it, one line; empty when nothing
};

struct PortReport {
  PortInfo port;
  std::string driver;  // the kernel driver or the device's description; empty when unknown
  std::vector<Check> checks;
};

struct DoctorReport {
  std::vector<Check> machine;  // about the machine rather than one port
  std::vector<PortReport> ports;

  // A problem anywhere: the exit status of `kestal-cli doctor` is 1.
  bool HasProblem() const;
  // Checks with this verdict, the machine's and every port's.
  size_t Count(Verdict verdict) const;
};

// The report as a user reads and pastes it (what `kestal-cli doctor` prints): each port with what
// identifies it and its checks, then the machine's, then the count of problems and warnings.
// Names and findings from outside are escaped.
std::string ReportText(const DoctorReport& report);

}  // namespace kestal::doctor
