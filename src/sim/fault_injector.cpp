#include "sim/fault_injector.h"

#include "link/frame_codec.h"

namespace kestal::sim {

FaultInjector::FaultInjector(const FaultOptions& options)
    : m_options(options), m_random(options.seed) {}

bool FaultInjector::Chance(double p) {
  if (p <= 0.0) return false;
  return std::uniform_real_distribution<double>(0.0, 1.0)(m_random) < p;
}

FrameFaults FaultInjector::Next() {
  ++m_frameCount;
  FrameFaults faults;
  faults.drop = Every(m_options.dropEvery) || Chance(m_options.dropRate);
  faults.badSum = Every(m_options.badSumEvery) || Chance(m_options.corruptRate);
  // Noise never holds the first sync letter, so it cannot start a false sync.
  std::uniform_int_distribution<int> byte(0, 254);
  for (uint32_t i = 0; i < m_options.noiseBytes; ++i) {
    int value = byte(m_random);
    if (value >= kFrameSync[0]) ++value;
    faults.noise.push_back(static_cast<uint8_t>(value));
  }
  return faults;
}

}  // namespace kestal::sim
