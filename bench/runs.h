#pragma once
// The measured transfers: the emulator on one side, the tool on the other, run as processes.
#include <string>
#include <vector>

#include "bench/child.h"

namespace kestal::bench {

struct Programs {
  std::string sim;     // kestal-sim
  std::string cli;     // kestal-cli
  std::string window;  // kestal; empty when the window was not built
  std::string self;    // this program, for its `tool` mode
};

// A paced transfer through kestal-bench's timed tool mode.
struct PacedResult {
  bool ok = false;
  std::string failure;
  double payloadPerBlock = 0;
  double wireBytesPerBlock = 0;  // both ways
  double ceilingBps = 0;         // 11520 x payload / wire bytes
  double achievedBps = 0;
  double cpuShare = 0;           // of one core, over the tool's lifetime
  double turnaroundMedianUs = 0;
  double turnaroundP99Us = 0;
  double turnaroundMaxUs = 0;
  size_t blocks = 0;
  // Filled by MedianOfRuns: each run's rate as a fraction of the ceiling, CPU share and p99.
  std::vector<double> fractionByRun, cpuShareByRun, p99ByRun;
};

PacedResult RunPacedDownload(const Programs& programs, const std::string& work, size_t size,
                             unsigned blockSize);
PacedResult RunPacedUpload(const Programs& programs, const std::string& work, size_t size);
// Scheduling on a shared machine is noisy: a paced figure is the median of several runs, each
// figure on its own. A failed run fails the whole.
PacedResult MedianOfRuns(const std::vector<PacedResult>& runs);

// An unpaced transfer by kestal-cli straight on the emulator's pseudo-terminal.
struct UnpacedResult {
  bool ok = false;
  std::string failure;
  double seconds = 0;
  ChildUsage tool;
  ChildUsage sim;
  std::vector<double> secondsByRun;  // filled by FastestRun
};

// The fastest of several runs (throughput is compared best against best); a failed run fails
// the whole.
UnpacedResult FastestRun(const std::vector<UnpacedResult>& runs);

// `direction` "send" (with `simRole` the emulator's download arguments) or "receive".
UnpacedResult RunUnpaced(const Programs& programs, const std::string& work,
                         const std::vector<std::string>& simArgs,
                         const std::vector<std::string>& cliArgs);

struct WindowResult {
  bool ok = false;
  std::string failure;
  double startupMs = 0;
  double longestPassMs = 0;
  double longestStartupPassMs = 0;
  long passes = 0;
  long eventsInLongestPass = 0;
  long peakRssKb = 0;
  double seconds = 0;
  std::vector<double> longestPassMsByRun;  // filled by MedianWindowRun
};

// The run with the median longest handler; start-up is that run's, peak memory the highest.
WindowResult MedianWindowRun(const std::vector<WindowResult>& runs);

// The window in command-line mode sending `file` (Software) to the emulator, off screen.
WindowResult RunWindow(const Programs& programs, const std::string& work, const std::string& file,
                       size_t size);

// `count` results of `run`.
template <class Run>
auto Repeat(int count, Run run) {
  std::vector<decltype(run())> results;
  for (int i = 0; i < count; ++i) results.push_back(run());
  return results;
}

}  // namespace kestal::bench
