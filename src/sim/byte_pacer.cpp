#include "sim/byte_pacer.h"

#include <algorithm>

namespace kestal::sim {

namespace {
constexpr uint64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
}

size_t BytePacer::ChunkBytes() const {
  if (!Paced()) return SIZE_MAX;
  return std::max<size_t>(1, baud_ / kBitsPerByte / 1000);
}

std::chrono::nanoseconds BytePacer::LineTime(size_t count) const {
  if (!Paced()) return std::chrono::nanoseconds(0);
  return std::chrono::nanoseconds(count * kBitsPerByte * 1'000'000'000ULL / baud_);
}

BytePacer::TimePoint BytePacer::Reserve(size_t count, TimePoint now) {
  if (!Paced()) return now;
  const bool contiguous = now <= std::max(lineFreeAt_, handedAt_) + kContiguousSlack;
  const TimePoint start = contiguous ? lineFreeAt_ : now;
  lineFreeAt_ = start + LineTime(count);
  return start;
}

}  // namespace kestal::sim
