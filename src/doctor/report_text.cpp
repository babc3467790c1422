// The doctor's report as text: what `kestal-cli doctor` prints and the window's Check Port shows.
#include "common/printable.h"
#include "common/utf8_path.h"
#include "doctor/doctor_report.h"

namespace kestal::doctor {
namespace {

// The last part of a path given in UTF-8.
std::string LastPart(const std::string& path) {
  const std::u8string part = Utf8Path(path).filename().u8string();
  return std::string(part.begin(), part.end());
}

// Driver, USB ids, serial number and stable name: what tells two adapters apart.
std::string Identity(const PortReport& report) {
  const PortInfo& port = report.port;
  std::string text;
  const auto add = [&text](const std::string& label, const std::string& value) {
    if (!value.empty()) text += (text.empty() ? "" : ", ") + label + Printable(value);
  };
  add("driver ", report.driver);
  add("USB ", port.usbVendorProduct);
  add("serial ", port.serialNumber);
  add("by-id ", LastPart(port.byIdPath));
  return text;
}

void AppendChecks(std::string& text, const std::vector<Check>& checks) {
  for (const Check& check : checks) {
    std::string verdict = VerdictName(check.verdict);
    verdict.resize(8, ' ');
    text += "  " + verdict + " " + check.name + ": " + Printable(check.finding) + "\n";
    if (!check.advice.empty()) text += "           -> " + Printable(check.advice) + "\n";
  }
}

std::string Counted(size_t count, const char* what) {
  return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

}  // namespace

std::string ReportText(const DoctorReport& report) {
  std::string text;
  for (const PortReport& port : report.ports) {
    text +=
        "Port " + Printable(port.port.devicePath) + ": " + Printable(port.port.friendlyName) + "\n";
    if (const std::string identity = Identity(port); !identity.empty()) {
      text += "  " + identity + "\n";
    }
    AppendChecks(text, port.checks);
  }
  text += "This machine\n";
  AppendChecks(text, report.machine);
  text += Counted(report.Count(Verdict::Problem), "problem") + ", " +
          Counted(report.Count(Verdict::Warning), "warning") + ".\n";
  return text;
}

}  // namespace kestal::doctor
