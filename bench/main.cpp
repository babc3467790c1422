// kestal-bench: the performance figures of docs/performance.md, each beside its reference
// measured in the same run.
//   kestal-bench run --build BUILD_DIR [--out FILE]
//   kestal-bench paced --build BUILD_DIR             (the paced rows alone, for quick checks)
//   kestal-bench tool --timing FILE --port DEVICE send|receive FILE   (used by `run`)
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench/lrzsz_reference.h"
#include "bench/packing.h"
#include "bench/pty_reference.h"
#include "bench/report.h"
#include "bench/runs.h"
#include "bench/tool_mode.h"
#include "bench/workload.h"
#include "cli/transfer_options.h"

namespace {

using namespace kestal::bench;
namespace fs = std::filesystem;

constexpr size_t kMB = 1024 * 1024;
// Each figure is taken this many times (see MedianOfRuns, FastestRun).
constexpr int kRuns = 3;

int ToolMain(const std::vector<std::string>& args) {
  kestal::cli::TransferOptions options;
  std::string timing;
  std::string verb;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--timing" && i + 1 < args.size()) {
      timing = args[++i];
    } else if (args[i] == "--port" && i + 1 < args.size()) {
      options.port = args[++i];
    } else if (verb.empty()) {
      verb = args[i];
    } else {
      options.file = args[i];
    }
  }
  if (timing.empty() || options.port.empty() || options.file.empty()) return 2;
  options.direction = verb == "receive" ? kestal::DIR_TO_COMPUTER : kestal::DIR_TO_RECEIVER;
  options.mode = verb == "receive" ? kestal::MODE_CHANNELS : kestal::cli::ModeFromFileName(options.file);
  return RunTimedTransfer(options, timing);
}

std::string ProgramIn(const std::string& build, const std::string& relative) {
  const fs::path path = fs::path(build) / relative;
  return fs::exists(path) ? fs::absolute(path).string() : std::string();
}

int RunMain(const std::vector<std::string>& args, bool pacedOnly) {
  std::string build, out;
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--build") build = args[i + 1];
    if (args[i] == "--out") out = args[i + 1];
  }
  if (build.empty()) {
    std::cerr << "usage: kestal-bench run --build BUILD_DIR [--out FILE]\n";
    return 2;
  }
  Programs programs{ProgramIn(build, "src/sim/kestal-sim"), ProgramIn(build, "src/cli/kestal-cli"),
                    ProgramIn(build, "src/ui/kestal"), fs::canonical("/proc/self/exe").string()};
  if (programs.sim.empty() || programs.cli.empty()) {
    std::cerr << "kestal-bench: kestal-sim or kestal-cli missing under " << build << "\n";
    return 2;
  }
  char workTemplate[] = "/tmp/kestal-bench.XXXXXX";
  const char* workDir = ::mkdtemp(workTemplate);
  if (workDir == nullptr) return 1;
  const std::string work = workDir;

  Report report;
  auto progress = [](const std::string& what) { std::cerr << "bench: " << what << std::endl; };

  progress("paced download, 300 KB in 1024-byte blocks at 115200 baud");
  report.pacedDownload = MedianOfRuns(
      Repeat(kRuns, [&] { return RunPacedDownload(programs, work, 300 * 1024, 1024); }));
  progress("paced upload, 60 KB at 115200 baud");
  report.pacedUpload =
      MedianOfRuns(Repeat(kRuns, [&] { return RunPacedUpload(programs, work, 60 * 1024); }));
  if (pacedOnly) {
    std::cout << report.PacedMarkdown();
    std::cerr << "bench: timings kept in " << work << "\n";
    return 0;
  }

  progress("making the unpaced data sets");
  const std::string software = work + "/big.ird";
  const std::string channels = work + "/channels.fdu";
  const std::string randomList = work + "/random.fdu";
  const std::string served = work + "/served.fdu";
  WriteRandomFile(software, 64 * kMB, 21);
  WriteChannelListFile(channels, 16 * kMB, 22);
  WriteRandomFile(randomList, 16 * kMB, 23);
  WriteRandomFile(served, 4 * kMB, 24);

  // The Software download and its references are taken in turns, round after round, so that a
  // slow spell of the machine falls on all of them alike rather than on one.
  fs::create_directories(work + "/rz-slave");
  fs::create_directories(work + "/rz-master");
  std::vector<UnpacedResult> softwareRuns;
  std::vector<LrzszResult> lrzszOnSlaveRuns, lrzszOnMasterRuns;
  for (int round = 1; round <= kRuns; ++round) {
    progress("round " + std::to_string(round) + " of " + std::to_string(kRuns) +
             ": unpaced Software download of 64 MB in 16 KB blocks; lrzsz in both orientations; "
             "the pseudo-terminal pair alone and with a bare request and answer per block");
    softwareRuns.push_back(RunUnpaced(programs, work,
                                      {"download", "--mode", "software", "--size",
                                       std::to_string(64 * kMB), "--block-size", "16384"},
                                      {"send", software}));
    lrzszOnSlaveRuns.push_back(RunLrzsz(software, work + "/rz-master", true, 120));
    lrzszOnMasterRuns.push_back(RunLrzsz(software, work + "/rz-slave", false, 120));
    report.rawPtyMBps = std::max(report.rawPtyMBps, RawPtyMBps(64 * kMB, 16384));
    report.lockStepPtyMBps = std::max(report.lockStepPtyMBps, LockStepPtyMBps(64 * kMB, 16384));
  }
  report.software = FastestRun(softwareRuns);
  report.softwareBytes = 64 * kMB;
  report.lrzszSenderOnSlave = FastestRun(lrzszOnSlaveRuns);
  report.lrzszSenderOnMaster = FastestRun(lrzszOnMasterRuns);
  report.lrzszAvailable = report.lrzszSenderOnSlave.ok || report.lrzszSenderOnMaster.ok;

  progress("unpaced Channels download, 16 MB channel list");
  report.channels = FastestRun(Repeat(kRuns, [&] {
    return RunUnpaced(programs, work,
                      {"download", "--mode", "channels", "--expect", channels, "--block-size",
                       "16384"},
                      {"send", channels});
  }));
  report.channelsBytes = 16 * kMB;
  progress("unpaced upload, 4 MB");
  report.upload = RunUnpaced(programs, work, {"upload", "--serve", served},
                             {"receive", work + "/received.fdu"});
  report.uploadBytes = 4 * kMB;


  progress("packing, 16 MB compressible and 16 MB random");
  // Each packing takes under a second, short enough for a slow spell to spoil a whole side.
  constexpr int kPackingRounds = 5;
  report.packCompressible = MeasurePacking(channels, kPackingRounds);
  report.packRandom = MeasurePacking(randomList, kPackingRounds);

  if (!programs.window.empty()) {
    progress("window, off screen, command-line mode sending 64 MB");
    report.window = MedianWindowRun(
        Repeat(kRuns, [&] { return RunWindow(programs, work, software, 64 * kMB); }));
    report.windowBuilt = true;
  }

  report.machine = DescribeMachine();
  const std::string text = report.Markdown();
  std::cout << text;
  if (!out.empty()) std::ofstream(out) << text;
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "tool") return ToolMain({args.begin() + 1, args.end()});
  if (!args.empty() && args[0] == "run") return RunMain({args.begin() + 1, args.end()}, false);
  if (!args.empty() && args[0] == "paced") return RunMain({args.begin() + 1, args.end()}, true);
  std::cerr << "usage: kestal-bench run --build BUILD_DIR [--out FILE]\n"
               "       kestal-bench paced --build BUILD_DIR\n"
               "       kestal-bench tool --timing FILE --port DEVICE send|receive FILE\n";
  return 2;
}
