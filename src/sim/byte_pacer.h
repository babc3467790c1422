#pragma once
// Paces writes as a serial line of a given speed would: 10 bit times per byte (8N1). Keeps the
// moment the line becomes free; a writer reserves its bytes and hands each piece over once the
// line has carried it.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kestal::sim {

class BytePacer {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // baud 0 = unpaced.
  explicit BytePacer(uint32_t baud = 0) : baud_(baud) {}

  bool Paced() const { return baud_ != 0; }
  // How many bytes to write per reservation: about one millisecond of line time, so sleeps stay
  // coarse enough for the scheduler while the average rate stays exact.
  size_t ChunkBytes() const;
  // Reserves `count` bytes of line time; returns when the first of them may go. An idle line
  // does not bank credit: the reservation starts no earlier than `now`, unless the writer comes
  // back within kContiguousSlack of the end of the previous reservation or of its last
  // Handed(). Such bytes were written right after the previous ones, as into a UART's buffer,
  // and the line carries them on without a gap; otherwise every wake-up delay of the writer
  // (sync, body and sum are three writes) would add to the line time. The slack is far shorter
  // than any pause between two frames, so no frame starts early on banked credit.
  TimePoint Reserve(size_t count, TimePoint now);
  // The writer has handed over everything it reserved, at `now` (possibly after the line
  // would have carried it: the writer woke late).
  void Handed(TimePoint now) { handedAt_ = now; }
  // When the bytes reserved so far have all passed the line: the moment the last of them has
  // reached the far end.
  TimePoint LineFreeAt() const { return lineFreeAt_; }
  // Line time of `count` bytes.
  std::chrono::nanoseconds LineTime(size_t count) const;

  static constexpr std::chrono::microseconds kContiguousSlack{100};

 private:
  uint32_t baud_;
  TimePoint lineFreeAt_{};
  TimePoint handedAt_{};
};

}  // namespace kestal::sim
