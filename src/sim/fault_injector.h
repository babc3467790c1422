#pragma once
// Decides, frame by frame, which faults the emulator injects into what it sends. Seeded, so a
// run with the same seed and the same exchange injects the same faults.
#include <cstdint>
#include <random>
#include <vector>

#include "sim/sim_options.h"

namespace kestal::sim {

struct FrameFaults {
  std::vector<uint8_t> noise;  // written before the frame
  bool badSum = false;
  bool drop = false;           // nothing of the frame (nor its noise) is written

  bool Intact() const { return !badSum && !drop; }
};

class FaultInjector {
 public:
  explicit FaultInjector(const FaultOptions& options);

  // Faults for the next frame to be sent.
  FrameFaults Next();

 private:
  bool Every(uint32_t k) const { return k != 0 && m_frameCount % k == 0; }
  bool Chance(double p);

  FaultOptions m_options;
  std::mt19937 m_random;
  uint64_t m_frameCount = 0;
};

}  // namespace kestal::sim
