// The Linux side of doctor: sysfs for the driver and the latency timer, the device node and
// /etc for who may open a port, /proc for who holds it and what else runs.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "doctor/system_probe.h"

namespace kestal::doctor {
namespace {

namespace fs = std::filesystem;

std::string Format(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::istringstream in(text);
  for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
  return fields;
}

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The entry of an /etc/passwd or /etc/group style file whose field `keyField` is `key`.
std::vector<std::string> FindEntry(const std::string& file, size_t keyField,
                                   const std::string& key) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields = Split(line, ':');
    if (fields.size() > keyField && fields[keyField] == key) return fields;
  }
  return {};
}

std::string NameOr(const std::vector<std::string>& entry, unsigned id) {
  return entry.empty() ? std::to_string(id) : entry[0];
}

// The user is in the group by /etc: as a member, or as the group of their passwd entry.
bool GroupGranted(const std::vector<std::string>& user, const std::vector<std::string>& group) {
  if (user.empty() || group.size() < 3) return false;
  if (user.size() > 3 && user[3] == group[2]) return true;
  const std::vector<std::string> members =
      group.size() > 3 ? Split(group[3], ',') : std::vector<std::string>{};
  return std::find(members.begin(), members.end(), user[0]) != members.end();
}

Check AccessCheck(const PortInfo& port, const DoctorOptions& options) {
  struct stat info {};
  if (::stat(port.devicePath.c_str(), &info) != 0) {
    return {"access", Verdict::Problem, Format("cannot be found: %s", std::strerror(errno)),
            "plug the adapter in, or choose another port"};
  }
  const auto user = FindEntry(options.etcDir + "/passwd", 2, std::to_string(::getuid()));
  const auto group = FindEntry(options.etcDir + "/group", 2, std::to_string(info.st_gid));
  const std::string groupName = NameOr(group, info.st_gid);
  const std::string userName = NameOr(user, ::getuid());
  const std::string mode = Format(" (mode %04o, group %s)",
                                  static_cast<unsigned>(info.st_mode & 07777), groupName.c_str());
  if (::access(port.devicePath.c_str(), R_OK | W_OK) == 0) {
    return {"access", Verdict::Ok, "this user may open it" + mode, ""};
  }
  if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
    return {"access", Verdict::Problem, "only its owner may open it" + mode,
            "have the port given to a group (a udev rule with GROUP=\"dialout\", MODE=\"0660\"), "
            "then join that group"};
  }
  if (GroupGranted(user, group)) {
    return {"access", Verdict::Problem,
            userName + " is in group " + groupName + ", but this session is not" + mode,
            "log in again (or run `newgrp " + groupName + "`) so that the session has the group"};
  }
  return {"access", Verdict::Problem, userName + " is not in group " + groupName + mode,
          "sudo usermod -aG " + groupName + " " + userName + ", then log in again"};
}

// Calls `visit` with each entry of `dir` until it returns false. Never throws: processes come
// and go while /proc is read. Returns the error of opening `dir`, if any.
std::error_code ForEachEntry(const fs::path& dir,
                             const std::function<bool(const fs::path&)>& visit) {
  std::error_code error;
  fs::directory_iterator entry(dir, error);
  const std::error_code opened = error;
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    if (!visit(entry->path())) break;
  }
  return opened;
}

// Calls `visit` with each process directory and its PID.
void ForEachProcess(const DoctorOptions& options,
                    const std::function<void(const fs::path&, const std::string&)>& visit) {
  ForEachEntry(options.procDir, [&](const fs::path& dir) {
    const std::string pid = dir.filename().string();
    if (!pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos) visit(dir, pid);
    return true;
  });
}

struct Process {
  std::string pid;
  std::string name;
};

std::string NamesOf(const std::vector<Process>& processes) {
  std::string text;
  for (const Process& process : processes) {
    text += (text.empty() ? "" : ", ") + process.name + " (PID " + process.pid + ")";
  }
  return text;
}

// Processes with `device` open; `hidden` is set when some could not be looked at.
std::vector<Process> Holders(const DoctorOptions& options, const struct stat& device,
                             bool& hidden) {
  std::vector<Process> holders;
  const std::string self = std::to_string(::getpid());
  ForEachProcess(options, [&](const fs::path& process, const std::string& pid) {
    if (pid == self) return;
    const std::error_code opened = ForEachEntry(process / "fd", [&](const fs::path& fd) {
      struct stat target {};
      if (::stat(fd.c_str(), &target) != 0 || target.st_dev != device.st_dev ||
          target.st_ino != device.st_ino) {
        return true;
      }
      holders.push_back({pid, FirstLine(process / "comm")});
      return false;
    });
    hidden = hidden || opened.value() == EACCES;
  });
  return holders;
}

Check HoldersCheck(const PortInfo& port, const DoctorOptions& options) {
  struct stat device {};
  if (::stat(port.devicePath.c_str(), &device) != 0) return {"holders", Verdict::Ok, "", ""};
  bool hidden = false;
  std::vector<Process> holders = Holders(options, device, hidden);
  // An emulator keeps its own end of the line open until a tool comes: that is no holder.
  if (port.virtualPort) {
    std::erase_if(holders, [](const Process& p) { return p.name == "kestal-sim"; });
  }
  if (!holders.empty()) {
    return {"holders", Verdict::Problem, "held by " + NamesOf(holders),
            "close that program, or let its transfer end: only one program at a time can "
            "talk to the receiver"};
  }
  return {"holders", Verdict::Ok,
          hidden ? "no process of this user holds it (other users' processes are seen only by "
                   "root)"
                 : "no other process holds it",
          ""};
}

fs::path DeviceDir(const PortInfo& port, const DoctorOptions& options) {
  return fs::path(options.discovery.sysClassTty) / port.portName / "device";
}

// Programs known to take serial adapters, with what keeps them off the receiver's port.
struct Grabber {
  const char* name;
  const char* what;
  const char* advice;
};
constexpr Grabber kGrabbers[] = {
    {"ModemManager", "modem manager",
     "it probes new USB serial ports and may hold one for seconds: stop it (sudo systemctl stop "
     "ModemManager) or exclude the adapter with a udev rule setting "
     "ENV{ID_MM_DEVICE_IGNORE}=\"1\""},
    {"brltty", "braille daemon",
     "it claims some USB serial adapters (CH340, CP210x) as braille displays: without a braille "
     "display, sudo systemctl mask brltty-udev.service brltty.service, or remove brltty"},
};

}  // namespace

std::string PortDriver(const PortInfo& port, const DoctorOptions& options) {
  if (port.virtualPort) return "virtual port (pseudo-terminal)";
  std::error_code error;
  return fs::read_symlink(DeviceDir(port, options) / "driver", error).filename().string();
}

std::vector<Check> AccessChecks(const PortInfo& port, const DoctorOptions& options) {
  return {AccessCheck(port, options), HoldersCheck(port, options)};
}

std::string LatencyTimerPath(const PortInfo& port, const DoctorOptions& options) {
  return (DeviceDir(port, options) / "latency_timer").string();
}

std::optional<int> LatencyTimerMs(const PortInfo& port, const DoctorOptions& options) {
  if (port.virtualPort) return std::nullopt;
  const std::string text = FirstLine(LatencyTimerPath(port, options));
  int milliseconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), milliseconds);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return milliseconds;
}

std::vector<Check> MachineChecks(const DoctorOptions& options) {
  std::vector<Check> checks;
  for (const Grabber& grabber : kGrabbers) {
    std::vector<Process> running;
    ForEachProcess(options, [&](const fs::path& process, const std::string& pid) {
      if (FirstLine(process / "comm") == grabber.name) running.push_back({pid, grabber.name});
    });
    if (running.empty()) {
      checks.push_back(
          {grabber.what, Verdict::Ok, std::string(grabber.name) + " is not running", ""});
    } else {
      checks.push_back(
          {grabber.what, Verdict::Warning, "running: " + NamesOf(running), grabber.advice});
    }
  }
  return checks;
}

}  // namespace kestal::doctor
