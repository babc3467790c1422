#pragma once
// The kestal-cli verbs, each filled in by main.cpp's option parser. Every Run function returns
// the process exit status: 0 success, 1 failure (usage errors are the parser's, 2).
#include <cstdint>
#include <optional>
#include <string>

#include "cli/transfer_options.h"
#include "doctor/doctor.h"
#include "ports/port_discovery.h"

namespace kestal::cli {

struct PackArgs {
  std::string requestText = "0";
  std::string file;
  std::string image;
};

struct InspectArgs {
  std::string image;
  std::string extractTo;
};

struct DoctorArgs {
  std::string port;  // empty: every port; "auto": those --port auto would wake
  bool json = false;
  doctor::DoctorOptions options;
};

struct VerbArgs {
  TransferOptions options;
  std::string modeName;  // empty: from the file name
};

struct StationArgs {
  std::string file;
  std::string modeName;        // empty: from the file name
  std::string ports = "auto";  // "auto", or devices and port names separated by commas
  std::string logPath;         // empty: no log
  ProgressStyle progress = ProgressStyle::Auto;  // Auto or Json
};

// Parses the command line (UTF-8) and runs the verb it names; the process exit status.
int RunCommandLine(int argc, char** argv);

// Decimal, or hexadecimal after "0x"; nothing else (no sign, no spaces, no octal).
std::optional<uint32_t> ParseRequestValue(const std::string& text);

int RunPack(const PackArgs& args);
int RunInspect(const InspectArgs& args);
int ListPorts(const DiscoveryRoots& roots);
int RunSend(VerbArgs& args);
int RunReceive(VerbArgs& args);
// Linux only (station/); on Windows it says so and fails.
int RunStation(const StationArgs& args);
int RunTrace(const std::string& path);
int RunDoctor(const DoctorArgs& args);

}  // namespace kestal::cli
