// The emulator's fault injection that the scenarios rely on: one byte of a frame changed
// anywhere on the wire, and frames from the tool lost or damaged on their way in.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "sim/sim_wire.h"
#include "support/fake_link.h"

namespace kestal::sim {
namespace {

using kestal::testing::ManualClock;
using kestal::testing::ScriptedLink;
using kestal::testing::WireFrame;

struct WireUnderTest {
  explicit WireUnderTest(const FaultOptions& faults) {
    options.faults = faults;
    wire = std::make_unique<SimWire>(link, options, log);
  }
  ManualClock clock;
  ScriptedLink link{clock};
  SimOptions options;
  std::ostringstream log;
  std::unique_ptr<SimWire> wire;
};

TEST(SimGarble, EachGarbledFrameDiffersFromTheIntactOneInExactlyOneByte) {
  FaultOptions faults;
  faults.garbleRate = 1.0;
  faults.seed = 7;
  WireUnderTest t(faults);
  std::set<size_t> positions;
  for (int i = 0; i < 200; ++i) {
    const std::vector<uint8_t> payload = {1, 2, 3, 4, 5, 6, static_cast<uint8_t>(i)};
    t.link.sentBytes.clear();
    EXPECT_FALSE(t.wire->Send(static_cast<uint8_t>(i), CMD_BLOCK_DATA, payload).Intact());
    const auto intact = WireFrame(static_cast<uint8_t>(i), CMD_BLOCK_DATA, payload);
    ASSERT_EQ(t.link.sentBytes.size(), intact.size());
    size_t differences = 0;
    for (size_t b = 0; b < intact.size(); ++b) {
      if (t.link.sentBytes[b] != intact[b]) {
        ++differences;
        positions.insert(b);
      }
    }
    EXPECT_EQ(differences, 1u);
  }
  // Sync, header, payload and sum are all hit.
  EXPECT_TRUE(positions.count(0) || positions.count(1));
  EXPECT_TRUE(positions.count(7) || positions.count(8));
  EXPECT_TRUE(positions.count(16));
}

TEST(SimGarble, ExistingSeedsSpoilTheSameFramesAsBefore) {
  FaultOptions plain;
  plain.corruptRate = 0.3;
  plain.dropRate = 0.2;
  plain.seed = 11;
  FaultOptions withInbound = plain;
  withInbound.inDropRate = 0.5;
  withInbound.inCorruptRate = 0.5;
  FaultInjector a(plain);
  FaultInjector b(withInbound);
  for (int i = 0; i < 500; ++i) {
    if (i % 3 == 0) b.NextInbound();
    const FrameFaults fa = a.Next();
    const FrameFaults fb = b.Next();
    EXPECT_EQ(fa.badSum, fb.badSum);
    EXPECT_EQ(fa.drop, fb.drop);
  }
}

TEST(SimInbound, LostFramesAreNeverSeenAndDamagedOnesCountAsBadSums) {
  FaultOptions lose;
  lose.inDropRate = 1.0;
  WireUnderTest lost(lose);
  lost.link.Deliver(WireFrame(3, CMD_BLOCK_DATA, {9, 9}));
  EXPECT_EQ(lost.wire->Receive(lost.clock.NowMs() + 2000), WaitResult::kTimeout);

  FaultOptions damage;
  damage.inCorruptRate = 1.0;
  WireUnderTest damaged(damage);
  damaged.link.Deliver(WireFrame(3, CMD_BLOCK_DATA, {9, 9}));
  EXPECT_EQ(damaged.wire->Receive(damaged.clock.NowMs() + 2000), WaitResult::kBadSum);

  FaultOptions some;
  some.inDropRate = 0.25;
  some.seed = 5;
  WireUnderTest partly(some);
  int arrived = 0;
  for (int i = 0; i < 400; ++i) {
    partly.link.Deliver(WireFrame(static_cast<uint8_t>(i), CMD_ACCEPT_UPLOAD, {}));
    if (partly.wire->Receive(partly.clock.NowMs() + 1000) == WaitResult::kFrame) ++arrived;
  }
  EXPECT_GT(arrived, 260);
  EXPECT_LT(arrived, 340);
}

}  // namespace
}  // namespace kestal::sim
