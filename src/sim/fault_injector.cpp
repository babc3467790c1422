#include "sim/fault_injector.h"

#include "link/frame_codec.h"

namespace kestal::sim {

FaultInjector::FaultInjector(const FaultOptions& options)
    : options_(options), random_(options.seed), inboundRandom_(options.seed ^ 0x5bd1e995u) {}

bool FaultInjector::Chance(double p) { return Chance(p, random_); }

bool FaultInjector::Chance(double p, std::mt19937& random) {
  if (p <= 0.0) return false;
  return std::uniform_real_distribution<double>(0.0, 1.0)(random) < p;
}

FrameFaults FaultInjector::Next() {
  ++frameCount_;
  FrameFaults faults;
  faults.drop = Every(options_.dropEvery) || Chance(options_.dropRate);
  faults.badSum = Every(options_.badSumEvery) || Chance(options_.corruptRate);
  // Noise never holds the first sync letter, so it cannot start a false sync.
  std::uniform_int_distribution<int> byte(0, 254);
  for (uint32_t i = 0; i < options_.noiseBytes; ++i) {
    int value = byte(random_);
    if (value >= kFrameSync[0]) ++value;
    faults.noise.push_back(static_cast<uint8_t>(value));
  }
  // A start that breaks off right before the real one.
  faults.noise.insert(faults.noise.end(), kFrameSync, kFrameSync + options_.falseStart);
  // Drawn only when asked for, so the faults of existing seeds stay as they were.
  if (Chance(options_.garbleRate)) {
    faults.garble = true;
    faults.garbleAt = std::uniform_real_distribution<double>(0.0, 1.0)(random_);
    faults.garbleXor = static_cast<uint8_t>(std::uniform_int_distribution<int>(1, 255)(random_));
  }
  return faults;
}

InboundFault FaultInjector::NextInbound() {
  if (Chance(options_.inDropRate, inboundRandom_)) return InboundFault::Drop;
  if (Chance(options_.inCorruptRate, inboundRandom_)) return InboundFault::Corrupt;
  return InboundFault::None;
}

}  // namespace kestal::sim
