#pragma once
// Timestamps of the frames a transfer moves, taken on the worker thread by the link's frame
// trace: a received frame is stamped when the frame reader has it whole, a sent frame when its
// last byte has been written to the port. Stored in memory, written out after the transfer.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kestal::bench {

struct FrameStamp {
  int64_t ns = 0;  // steady clock
  bool sent = false;
  uint8_t command = 0;
  uint8_t sequence = 0;
  uint16_t length = 0;
};

class FrameTiming {
 public:
  FrameTiming() { m_stamps.reserve(1u << 20); }  // no allocation while a transfer runs
  void Record(bool sent, const uint8_t* body, size_t size);
  const std::vector<FrameStamp>& Stamps() const { return m_stamps; }

  bool Save(const std::string& path) const;
  static std::vector<FrameStamp> Load(const std::string& path);

 private:
  std::vector<FrameStamp> m_stamps;
};

// Turnarounds of the tool: from a frame of `inCommand` received to the next frame sent, in
// microseconds, one per received frame that was answered.
std::vector<double> TurnaroundsUs(const std::vector<FrameStamp>& stamps, uint8_t inCommand);
// Mean time in seconds between successive frames of `command` in one direction, over those of
// full length `length` (the last, shorter block is left out).
double MeanPeriodSeconds(const std::vector<FrameStamp>& stamps, bool sent, uint8_t command,
                         uint16_t length);
double Percentile(std::vector<double> values, double fraction);

}  // namespace kestal::bench
