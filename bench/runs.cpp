#include "bench/runs.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "bench/frame_timing.h"
#include "sim/paced_line.h"
#include "bench/workload.h"
#include "link/frame_codec.h"
#include "transfer/workers.h"

namespace kestal::bench {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kBaud = 115200;
constexpr double kLineBytesPerSecond = kBaud / 10.0;
constexpr size_t kFrameOverhead = 10;     // sync 5, header 4, sum 1
constexpr size_t kBlockRequestBytes = kFrameOverhead + 6;

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The emulator's last report line, for a failure message.
std::string LastLine(const std::string& path) {
  std::string text = ReadText(path);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  const size_t at = text.rfind('\n');
  return at == std::string::npos ? text : text.substr(at + 1);
}

struct SimProcess {
  std::unique_ptr<Child> child;
  std::string device;
  std::string log;
};

SimProcess StartSim(const Programs& programs, const std::string& work, const std::string& name,
                    const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}) {
  SimProcess sim;
  sim.log = work + "/" + name + ".sim.log";
  std::vector<std::string> argv = {programs.sim, "--name", "bench-" + name, "--timeout", "60"};
  argv.insert(argv.end(), args.begin(), args.end());
  sim.child = std::make_unique<Child>(argv, env, sim.log);
  sim.device = sim.child->FirstLine(10s);
  return sim;
}

// Runs the timed tool through a paced line; fills the figures common to both directions.
PacedResult RunPaced(const Programs& programs, const std::string& work, const std::string& name,
                     const std::vector<std::string>& simArgs,
                     const std::vector<std::string>& toolVerb) {
  PacedResult result;
  SimProcess sim = StartSim(programs, work, name, simArgs);
  if (sim.device.empty()) {
    result.failure = "emulator did not start: " + LastLine(sim.log);
    return result;
  }
  sim::PacedLine line(sim.device, kBaud);
  if (!line.Ok()) {
    result.failure = "paced line could not be set up";
    return result;
  }
  const std::string timingPath = work + "/" + name + ".timing";
  std::vector<std::string> argv = {programs.self, "tool", "--timing", timingPath,
                                   "--port", line.ToolDevice()};
  argv.insert(argv.end(), toolVerb.begin(), toolVerb.end());
  Child tool(argv, {}, work + "/" + name + ".tool.log");
  const ChildUsage usage = tool.Wait(120s);
  const ChildUsage simUsage = sim.child->Wait(30s);
  if (usage.status != 0 || simUsage.status != 0) {
    result.failure = "tool exit " + std::to_string(usage.status) + ", emulator exit " +
                     std::to_string(simUsage.status) + ": " + LastLine(sim.log);
    return result;
  }
  result.cpuShare = usage.cpuSeconds / usage.wallSeconds;
  result.ok = true;
  return result;
}

void FillTurnarounds(PacedResult& result, const std::vector<double>& turnarounds) {
  result.blocks = turnarounds.size();
  result.turnaroundMedianUs = Percentile(turnarounds, 0.5);
  result.turnaroundP99Us = Percentile(turnarounds, 0.99);
  result.turnaroundMaxUs = Percentile(turnarounds, 1.0);
}

}  // namespace

// The receiver asks (a 16-byte request), the tool answers (10 + B bytes): one block moves B
// payload bytes for 26 + B bytes on the line.
PacedResult RunPacedDownload(const Programs& programs, const std::string& work, size_t size,
                             unsigned blockSize) {
  const std::string file = work + "/paced.ird";
  WriteRandomFile(file, size, 11);
  PacedResult result = RunPaced(
      programs, work, "paced-download",
      {"--baud", std::to_string(kBaud), "download", "--mode", "software", "--expect", file,
       "--block-size", std::to_string(blockSize)},
      {"send", file});
  if (!result.ok) return result;
  const auto stamps = FrameTiming::Load(work + "/paced-download.timing");
  result.payloadPerBlock = blockSize;
  result.wireBytesPerBlock = static_cast<double>(kBlockRequestBytes + kFrameOverhead + blockSize);
  result.ceilingBps = kLineBytesPerSecond * result.payloadPerBlock / result.wireBytesPerBlock;
  // One period between successive block requests is one whole exchange of a full block.
  const double period = MeanPeriodSeconds(stamps, false, CMD_BLOCK_REQUEST, 0);
  result.achievedBps = period > 0 ? blockSize / period : 0;
  FillTurnarounds(result, TurnaroundsUs(stamps, CMD_BLOCK_REQUEST));
  return result;
}

// The tool asks (16 bytes), the receiver answers (10 + 255 bytes).
PacedResult RunPacedUpload(const Programs& programs, const std::string& work, size_t size) {
  const std::string served = work + "/paced-served.fdu";
  WriteRandomFile(served, size, 12);
  PacedResult result =
      RunPaced(programs, work, "paced-upload",
               {"--baud", std::to_string(kBaud), "upload", "--serve", served},
               {"receive", work + "/paced-received.fdu"});
  if (!result.ok) return result;
  const auto stamps = FrameTiming::Load(work + "/paced-upload.timing");
  result.payloadPerBlock = UPLOAD_BLOCK_MAX;
  result.wireBytesPerBlock = static_cast<double>(kBlockRequestBytes + kFrameOverhead + UPLOAD_BLOCK_MAX);
  result.ceilingBps = kLineBytesPerSecond * result.payloadPerBlock / result.wireBytesPerBlock;
  const double period = MeanPeriodSeconds(stamps, false, CMD_BLOCK_DATA, UPLOAD_BLOCK_MAX);
  result.achievedBps = period > 0 ? UPLOAD_BLOCK_MAX / period : 0;
  FillTurnarounds(result, TurnaroundsUs(stamps, CMD_BLOCK_DATA));
  return result;
}

UnpacedResult RunUnpaced(const Programs& programs, const std::string& work,
                         const std::vector<std::string>& simArgs,
                         const std::vector<std::string>& cliArgs) {
  UnpacedResult result;
  const std::string name = "unpaced-" + cliArgs.front() + "-" + std::to_string(::getpid());
  SimProcess sim = StartSim(programs, work, name, simArgs);
  if (sim.device.empty()) {
    result.failure = "emulator did not start: " + LastLine(sim.log);
    return result;
  }
  std::vector<std::string> argv = {programs.cli, cliArgs.front(), "--port", sim.device};
  argv.insert(argv.end(), cliArgs.begin() + 1, cliArgs.end());
  Child tool(argv, {}, work + "/" + name + ".tool.log");
  result.tool = tool.Wait(120s);
  result.sim = sim.child->Wait(30s);
  result.seconds = result.tool.wallSeconds;
  result.ok = result.tool.status == 0 && result.sim.status == 0;
  if (!result.ok) {
    result.failure = "kestal-cli exit " + std::to_string(result.tool.status) + ", emulator exit " +
                     std::to_string(result.sim.status) + ": " + LastLine(sim.log);
  }
  return result;
}

WindowResult RunWindow(const Programs& programs, const std::string& work, const std::string& file,
                       size_t size) {
  WindowResult result;
  // Private settings and runtime directories: the user's own settings stay untouched.
  const std::string config = work + "/window-config";
  const std::string runtime = work + "/window-runtime";
  ::mkdir(config.c_str(), 0700);
  ::mkdir((config + "/ostrel").c_str(), 0700);
  ::mkdir(runtime.c_str(), 0700);
  std::ofstream(config + "/ostrel/pelmar.conf")
      << "[General]\nport=Virtual Port (benchwin)\nmode=0\nsoftfile=" << file << "\n";
  const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config, "XDG_RUNTIME_DIR=" + runtime,
                                        "QT_QPA_PLATFORM=offscreen"};
  const std::string simLog = work + "/window.sim.log";
  std::vector<std::string> simArgv = {programs.sim, "--name", "benchwin", "--timeout", "60",
                                      "download", "--mode", "software", "--size",
                                      std::to_string(size), "--block-size", "16384"};
  Child sim(simArgv, env, simLog);
  if (sim.FirstLine(10s).empty()) {
    result.failure = "emulator did not start: " + LastLine(simLog);
    return result;
  }
  const std::string timingPath = work + "/window.handlers";
  std::vector<std::string> windowEnv = env;
  windowEnv.push_back("KESTAL_MEASURE_HANDLERS=" + timingPath);
  Child window({programs.window, file}, windowEnv, work + "/window.log");
  const int64_t spawnNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              window.StartedAt().time_since_epoch()).count();
  const ChildUsage usage = window.Wait(120s);
  const ChildUsage simUsage = sim.Wait(30s);
  if (usage.status != 0 || simUsage.status != 0) {
    result.failure = "kestal exit " + std::to_string(usage.status) + ", emulator exit " +
                     std::to_string(simUsage.status) + ": " + LastLine(simLog);
    return result;
  }
  std::map<std::string, long long> figures;
  std::ifstream in(timingPath);
  std::string key;
  long long value = 0;
  while (in >> key >> value) figures[key] = value;
  if (figures["first_paint_ns"] == 0) {
    result.failure = "no handler timing from the window (" + timingPath + ")";
    return result;
  }
  result.startupMs = static_cast<double>(figures["first_paint_ns"] - spawnNs) / 1e6;
  result.longestPassMs = static_cast<double>(figures["longest_handler_ns"]) / 1e6;
  result.longestStartupPassMs = static_cast<double>(figures["longest_startup_handler_ns"]) / 1e6;
  result.passes = static_cast<long>(figures["events"]);
  result.eventsInLongestPass = static_cast<long>(figures["longest_handler_event_type"]);
  result.peakRssKb = usage.peakRssKb;
  result.seconds = usage.wallSeconds;
  result.ok = true;
  return result;
}

namespace {

double MedianOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

template <class Result>
const Result* FirstFailure(const std::vector<Result>& runs) {
  for (const Result& run : runs) {
    if (!run.ok) return &run;
  }
  return nullptr;
}

}  // namespace

PacedResult MedianOfRuns(const std::vector<PacedResult>& runs) {
  if (runs.empty()) return {};
  if (const PacedResult* failed = FirstFailure(runs)) return *failed;
  PacedResult result = runs.front();
  std::vector<double> rates, medians, p99s, maxima;
  for (const PacedResult& run : runs) {
    rates.push_back(run.achievedBps);
    medians.push_back(run.turnaroundMedianUs);
    p99s.push_back(run.turnaroundP99Us);
    maxima.push_back(run.turnaroundMaxUs);
    result.fractionByRun.push_back(run.achievedBps / run.ceilingBps);
    result.cpuShareByRun.push_back(run.cpuShare);
    result.p99ByRun.push_back(run.turnaroundP99Us);
  }
  result.achievedBps = MedianOf(rates);
  result.cpuShare = MedianOf(result.cpuShareByRun);
  result.turnaroundMedianUs = MedianOf(medians);
  result.turnaroundP99Us = MedianOf(p99s);
  result.turnaroundMaxUs = MedianOf(maxima);
  return result;
}

UnpacedResult FastestRun(const std::vector<UnpacedResult>& runs) {
  if (runs.empty()) return {};
  if (const UnpacedResult* failed = FirstFailure(runs)) return *failed;
  UnpacedResult result = *std::min_element(
      runs.begin(), runs.end(), [](const auto& a, const auto& b) { return a.seconds < b.seconds; });
  for (const UnpacedResult& run : runs) result.secondsByRun.push_back(run.seconds);
  return result;
}

WindowResult MedianWindowRun(const std::vector<WindowResult>& runs) {
  if (runs.empty()) return {};
  if (const WindowResult* failed = FirstFailure(runs)) return *failed;
  std::vector<WindowResult> sorted = runs;
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.longestPassMs < b.longestPassMs; });
  WindowResult result = sorted[sorted.size() / 2];
  for (const WindowResult& run : runs) {
    result.longestPassMsByRun.push_back(run.longestPassMs);
    result.peakRssKb = std::max(result.peakRssKb, run.peakRssKb);
  }
  return result;
}

}  // namespace kestal::bench
