#pragma once
// The reference for the unpaced throughput: lrzsz's sz sending a file to rz over one
// pseudo-terminal pair, one program on each end.
#include <string>
#include <vector>

namespace kestal::bench {

struct LrzszResult {
  bool ok = false;
  double seconds = 0;
  double cpuSeconds = 0;  // sz and rz together
};

// The fastest successful run; not ok when none succeeded.
LrzszResult FastestRun(const std::vector<LrzszResult>& runs);

// `senderOnSlave`: sz on the terminal side (as kestal's tool, which opens the port), rz on
// the master; otherwise the other way round. The file arrives in `receiveDir`.
LrzszResult RunLrzsz(const std::string& file, const std::string& receiveDir, bool senderOnSlave,
                     int timeoutSeconds);

}  // namespace kestal::bench
