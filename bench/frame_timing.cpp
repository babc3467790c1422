#include "bench/frame_timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "link/frame_codec.h"

namespace kestal::bench {

void FrameTiming::Record(bool sent, const uint8_t* body, size_t size) {
  if (size < FRAME_HEADER_SIZE || m_stamps.size() == m_stamps.capacity()) return;
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  m_stamps.push_back({std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(), sent,
                      body[1], body[0], GetBE16(body + 2)});
}

bool FrameTiming::Save(const std::string& path) const {
  std::ofstream out(path);
  for (const FrameStamp& s : m_stamps) {
    out << s.ns << ' ' << (s.sent ? 1 : 0) << ' ' << int{s.command} << ' ' << int{s.sequence}
        << ' ' << s.length << '\n';
  }
  return static_cast<bool>(out);
}

std::vector<FrameStamp> FrameTiming::Load(const std::string& path) {
  std::vector<FrameStamp> stamps;
  std::ifstream in(path);
  long long ns = 0;
  int sent = 0, command = 0, sequence = 0, length = 0;
  while (in >> ns >> sent >> command >> sequence >> length) {
    stamps.push_back({ns, sent != 0, static_cast<uint8_t>(command), static_cast<uint8_t>(sequence),
                      static_cast<uint16_t>(length)});
  }
  return stamps;
}

std::vector<double> TurnaroundsUs(const std::vector<FrameStamp>& stamps, uint8_t inCommand) {
  std::vector<double> result;
  for (size_t i = 0; i + 1 < stamps.size(); ++i) {
    if (stamps[i].sent || stamps[i].command != inCommand) continue;
    const FrameStamp& next = stamps[i + 1];
    if (next.sent) result.push_back(static_cast<double>(next.ns - stamps[i].ns) / 1000.0);
  }
  return result;
}

double MeanPeriodSeconds(const std::vector<FrameStamp>& stamps, bool sent, uint8_t command,
                         uint16_t length) {
  int64_t first = 0, last = 0;
  size_t count = 0;
  for (const FrameStamp& s : stamps) {
    if (s.sent != sent || s.command != command) continue;
    // Block requests carry the length in their payload, not in the frame's length field, so
    // for them `length` 0 takes every one.
    if (length != 0 && s.length != length) continue;
    if (count++ == 0) first = s.ns;
    last = s.ns;
  }
  return count < 2 ? 0.0 : static_cast<double>(last - first) / 1e9 / static_cast<double>(count - 1);
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  // Nearest rank: the smallest value with at least `fraction` of all at or below it.
  const auto rank = static_cast<size_t>(std::max(1.0, std::ceil(fraction * static_cast<double>(values.size()))));
  return values[std::min(rank, values.size()) - 1];
}

}  // namespace kestal::bench
