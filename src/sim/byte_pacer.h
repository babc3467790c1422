#pragma once
// Paces writes as a serial line of a given speed would: 10 bit times per byte (8N1). Keeps the
// moment the line becomes free; a writer reserves its bytes and sleeps until their start.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kestal::sim {

class BytePacer {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // baud 0 = unpaced.
  explicit BytePacer(uint32_t baud = 0) : m_baud(baud) {}

  bool Paced() const { return m_baud != 0; }
  // How many bytes to write per reservation: about one millisecond of line time, so sleeps stay
  // coarse enough for the scheduler while the average rate stays exact.
  size_t ChunkBytes() const;
  // Reserves `count` bytes of line time; returns when the first of them may be written. An idle
  // line does not bank credit: the reservation starts no earlier than `now`.
  TimePoint Reserve(size_t count, TimePoint now);

 private:
  uint32_t m_baud;
  TimePoint m_lineFreeAt{};
};

}  // namespace kestal::sim
