#include "link/arrival_pace.h"

#include <algorithm>

namespace kestal {

namespace {
constexpr int64_t kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
}  // namespace

ArrivalPace::ArrivalPace(uint32_t baud)
    : m_byteTime(baud == 0 ? Duration::zero()
                           : Duration(kBitsPerByte * 1'000'000'000LL / static_cast<int64_t>(baud))),
      m_streamGap(std::max<Duration>(std::chrono::milliseconds(5), m_byteTime * 8)) {}

void ArrivalPace::OnBytes(size_t count, TimePoint now) {
  if (m_lastCount == 0 || now - m_lastRead > m_streamGap) {
    m_streamStart = now;
    m_bytesAfterFirst = 0;
  } else {
    m_bytesAfterFirst += count;
  }
  m_lastRead = now;
  m_lastCount = count;
}

ArrivalPace::Duration ArrivalPace::NapFor(size_t missing) const {
  if (m_byteTime == Duration::zero() || m_bytesAfterFirst == 0) return Duration::zero();
  // The bytes after the stream's first read took their time: at least half what the line
  // needs for them. Faster than that, they are not coming over a line of this speed.
  const Duration took = m_lastRead - m_streamStart;
  if (took * 2 < m_byteTime * static_cast<int64_t>(m_bytesAfterFirst)) return Duration::zero();
  const Duration piece = std::max<Duration>(m_byteTime * static_cast<int64_t>(m_lastCount),
                                            std::chrono::milliseconds(1));
  const Duration nap = m_byteTime * static_cast<int64_t>(missing) - 2 * piece;
  if (nap < kShortestNap) return Duration::zero();
  return std::min(nap, kLongestNap);
}

}  // namespace kestal
