// kestal-cli station: takes the file once, opens the log and serves until stopped.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "cli/station/station.h"
#include "cli/terminal.h"
#include "common/printable.h"

namespace kestal::cli {
namespace {

constexpr int kExitUsage = 2;

// "a,b,,c" gives a, b and c, each once.
std::vector<std::string> PortNames(const std::string& list) {
  std::vector<std::string> names;
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string name = list.substr(start, end - start);
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(std::move(name));
    }
    start = end + 1;
  }
  return names;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error);
}

}  // namespace

int RunStation(const StationArgs& args) {
  // A reader of our output going away (`| head`) must not end the station mid-transfer.
  std::signal(SIGPIPE, SIG_IGN);
  StationOptions options;
  options.file = args.file;
  options.mode = args.modeName.empty()         ? ModeFromFileName(args.file)
                 : args.modeName == "channels" ? MODE_CHANNELS
                                               : MODE_SOFTWARE;
  if (args.ports != "auto") {
    options.ports = PortNames(args.ports);
    if (options.ports.empty()) {
      std::fprintf(stderr, "--ports names no port: give auto, or devices separated by commas.\n");
      return kExitUsage;
    }
  }
  options.logPath = args.logPath;
  if (!options.logPath.empty() && SameFile(options.logPath, options.file)) {
    std::fprintf(stderr, "The log cannot be %s: it is the file being served.\n",
                 Printable(options.logPath).c_str());
    return kExitUsage;
  }

  ServeRefusal refusal;
  const std::optional<ServedFile> served = TakeServedFile(options.file, options.mode, refusal);
  if (!served) {
    std::fprintf(stderr, "%s\n", refusal.status.c_str());
    if (!refusal.reason.empty()) std::fprintf(stderr, "%s\n", refusal.reason.c_str());
    return 1;
  }
  UnitLog log;
  std::string error;
  if (!options.logPath.empty() && !log.Open(options.logPath, error)) {
    std::fprintf(stderr, "Cannot write the log: %s. Nothing was served.\n", error.c_str());
    return 1;
  }
  const bool table = args.progress != ProgressStyle::Json && IsTerminal(stderr);
  options.json = !table;
  StationDisplay display(*served, table, options.json);
  Station station(options, *served, options.logPath.empty() ? nullptr : &log, display);
  return station.Run();
}

}  // namespace kestal::cli
