#pragma once
// Decides, frame by frame, which faults the emulator injects into what it sends. Seeded, so a
// run with the same seed and the same exchange injects the same faults.
#include <cstdint>
#include <random>
#include <vector>

#include "sim/sim_options.h"

namespace kestal::sim {

struct FrameFaults {
  std::vector<uint8_t> noise;  // written before the frame (a false start last)
  bool badSum = false;
  bool drop = false;      // nothing of the frame (nor its noise) is written
  bool garble = false;    // one byte of the frame on the wire is changed:
  double garbleAt = 0.0;  //   the one at this fraction of the frame's length (0 to <1),
  uint8_t garbleXor = 0;  //   xor-ed with this non-zero value

  bool Intact() const { return !badSum && !drop && !garble; }
};

// What happens to a frame the emulator receives from the tool.
enum class InboundFault { None, Drop, Corrupt };

class FaultInjector {
 public:
  explicit FaultInjector(const FaultOptions& options);

  // Faults for the next frame to be sent.
  FrameFaults Next();
  // Fate of the next intact frame received. Drawn from a separate stream, so that enabling
  // inbound faults does not change which outbound frames a seed spoils.
  InboundFault NextInbound();

 private:
  bool Every(uint32_t k) const { return k != 0 && frameCount_ % k == 0; }
  bool Chance(double p);
  static bool Chance(double p, std::mt19937& random);

  FaultOptions options_;
  std::mt19937 random_;
  std::mt19937 inboundRandom_;
  uint64_t frameCount_ = 0;
};

}  // namespace kestal::sim
