#pragma once
// What kestal-bench measures: paced transfers (paced_run.cpp), kestal-sim and kestal-cli joined
// by a relay that is a 115200-baud line both ways (one line per port for a station), and how fast
// files are packed (packing.cpp).
#include <string>
#include <vector>

namespace kestal::bench {

// From the relay's stopwatch and the tool's CPU time.
struct PacedFigures {
  std::string failure{};  // empty when the transfer succeeded and was measured
  double ceilingBps = 0;
  double achievedBps = 0;
  double cpuShare = 0;  // of one core, over the tool's lifetime
  double medianUs = 0;
  double p99Us = 0;
};

// A Software download of `file` in 1024-byte blocks, or a Channels upload of `file` served by
// the receiver in 255-byte blocks, through an adapter that holds the receiver's bytes up to
// `holdMs`, the tool recording the session into `recording` unless it is empty. `build` holds
// the programs, `work` is a scratch directory.
PacedFigures RunPaced(const std::string& build, const std::string& work, bool upload,
                      const std::string& file, unsigned holdMs = 0,
                      const std::string& recording = {});

// N Software downloads of `file` side by side, each kestal-sim behind a paced line of its own,
// all served by one `kestal-cli station`: the slowest line's payload rate and the station's CPU.
struct StationFigures {
  std::string failure{};
  double ceilingBps = 0;
  double slowestBps = 0;
  double cpuShare = 0;  // of one core, over the station's lifetime
};
StationFigures RunStationPaced(const std::string& build, const std::string& work, int ports,
                               const std::string& file);

// Nearest rank: the smallest value with at least `fraction` of all at or below it.
double Percentile(std::vector<double> values, double fraction);

// PackChannelImage against zlib alone doing the same compression.
struct PackingFigures {
  double packMBps = 0;
  double zlibMBps = 0;
  double imageRatio = 0;  // image size / file size
};

// Packing the file at `path`, which holds `data`: the fastest of `rounds` for each side, taken in
// turns so a slow spell of the machine falls on both alike.
PackingFigures MeasurePacking(const std::string& path, const std::string& data, int rounds);

}  // namespace kestal::bench
