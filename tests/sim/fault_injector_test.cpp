// The emulator's fault options spoil what its manual says they spoil, frame by frame: the end-to-
// end rows see only that a transfer survives them, not which faults were injected.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "sim/fault_injector.h"

namespace kestal::sim {
namespace {

// Of 1000 frames each way: dropped, with a bad sum, garbled; lost and damaged on the way in.
std::array<int, 5> Spoiled(const FaultOptions& options) {
  FaultInjector injector(options);
  std::array<int, 5> counts{};
  for (int frame = 0; frame < 1000; ++frame) {
    const FrameFaults out = injector.Next();
    const InboundFault in = injector.NextInbound();
    counts[0] += out.drop;
    counts[1] += out.badSum;
    counts[2] += out.garble && out.garbleXor != 0;
    counts[3] += in == InboundFault::Drop;
    counts[4] += in == InboundFault::Corrupt;
  }
  return counts;
}

TEST(FaultInjector, EachOptionSpoilsWhatTheManualSays) {
  EXPECT_EQ(Spoiled({}), (std::array<int, 5>{}));
  EXPECT_EQ(Spoiled({.badSumEvery = 4, .dropEvery = 5}), (std::array<int, 5>{200, 250, 0, 0, 0}));
  const std::array<int, 5> rated = Spoiled({.corruptRate = 0.1,
                                            .dropRate = 0.1,
                                            .garbleRate = 0.1,
                                            .inDropRate = 0.1,
                                            .inCorruptRate = 0.1});
  for (const int count : rated) EXPECT_NEAR(count, 100, 40);
}

TEST(FaultInjector, NoiseHoldsNoFirstSyncLetterAndAFalseStartComesLast) {
  FaultInjector injector({.noiseBytes = 40, .falseStart = 3});
  for (int frame = 0; frame < 100; ++frame) {
    const std::vector<uint8_t> noise = injector.Next().noise;
    ASSERT_EQ(noise.size(), 43u);
    EXPECT_EQ(std::count(noise.begin(), noise.end() - 3, 'Q'), 0);
    EXPECT_EQ(std::vector<uint8_t>(noise.end() - 3, noise.end()),
              (std::vector<uint8_t>{'Q', 'z', 'V'}));
  }
}

}  // namespace
}  // namespace kestal::sim
