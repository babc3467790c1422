#include "sim/fault_injector.h"

#include "link/frame_codec.h"

namespace kestal::sim {

FaultInjector::FaultInjector(const FaultOptions& options)
    : m_options(options), m_random(options.seed), m_inboundRandom(options.seed ^ 0x5bd1e995u) {}

bool FaultInjector::Chance(double p) { return Chance(p, m_random); }

bool FaultInjector::Chance(double p, std::mt19937& random) {
  if (p <= 0.0) return false;
  return std::uniform_real_distribution<double>(0.0, 1.0)(random) < p;
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
  // Drawn only when asked for, so the faults of existing seeds stay as they were.
  if (Chance(m_options.garbleRate)) {
    faults.garble = true;
    faults.garbleAt = std::uniform_real_distribution<double>(0.0, 1.0)(m_random);
    faults.garbleXor = static_cast<uint8_t>(std::uniform_int_distribution<int>(1, 255)(m_random));
  }
  return faults;
}

InboundFault FaultInjector::NextInbound() {
  if (Chance(m_options.inDropRate, m_inboundRandom)) return InboundFault::kDrop;
  if (Chance(m_options.inCorruptRate, m_inboundRandom)) return InboundFault::kCorrupt;
  return InboundFault::kNone;
}

}  // namespace kestal::sim
