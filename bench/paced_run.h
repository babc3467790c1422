#pragma once
// One paced transfer: kestal-sim at 115200 baud, kestal-cli through a paced relay, and the
// figures the relay's stopwatch and the tool's CPU time give.
#include <string>
#include <vector>

namespace kestal::bench {

struct PacedFigures {
  bool ok = false;
  std::string failure;
  double ceilingBps = 0;
  double achievedBps = 0;
  double cpuShare = 0;  // of one core, over the tool's lifetime
  double medianUs = 0;
  double p99Us = 0;
  size_t answers = 0;
};

// A Software download of `file` in 1024-byte blocks (`upload` false), or a Channels upload of
// `file` served by the receiver in 255-byte blocks; `work` is a scratch directory.
PacedFigures RunPaced(const std::string& sim, const std::string& cli, const std::string& work,
                      bool upload, const std::string& file);

// Nearest rank: the smallest value with at least `fraction` of all at or below it.
double Percentile(std::vector<double> values, double fraction);

}  // namespace kestal::bench
