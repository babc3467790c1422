#pragma once
// ArrivalPace: whether received bytes are trickling in at the pace of the serial line, and if
// so how long the reader can leave the port alone before the bytes a frame reader still misses
// can all be there. A 115200-baud line hands bytes over about a dozen at a time, every
// millisecond; waking for each piece of a long frame costs more than the rest of a transfer.
// A port that delivers faster than its line speed (a pseudo-terminal, say) is never napped on.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kestal {

class ArrivalPace {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::nanoseconds;

  // Naps shorter than this are not worth a wake-up of their own.
  static constexpr Duration kShortestNap = std::chrono::milliseconds(2);
  // However slow the line, a nap ends by then: a frame reader that gave up, or a hang-up,
  // is never kept waiting longer.
  static constexpr Duration kLongestNap = std::chrono::milliseconds(50);

  explicit ArrivalPace(uint32_t baud);

  // A read at `now` took `count` bytes (count > 0).
  void OnBytes(size_t count, TimePoint now);
  // How long the port can be left alone while `missing` bytes are still to come; zero unless
  // the bytes of the current stream came no faster than the line carries them. The nap ends
  // about two pieces early, so a late wake-up does not hold back the frame's last bytes.
  Duration NapFor(size_t missing) const;

 private:
  Duration m_byteTime;    // one byte on the line (10 bits)
  Duration m_streamGap;   // a longer pause ends a stream
  TimePoint m_streamStart{};
  TimePoint m_lastRead{};
  size_t m_bytesAfterFirst = 0;  // bytes of the stream after its first read
  size_t m_lastCount = 0;
};

}  // namespace kestal
