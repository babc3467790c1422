// Faults the virtual receiver injects into its own frames, as seen on the wire, and into the
// frames it receives from the tool.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "link/frame_codec.h"
#include "scripted_tool.h"
#include "sim/fault_injector.h"
#include "sim/sim_wire.h"

namespace kestal::sim::testing {
namespace {

using kestal::testing::FrameSplitter;

struct WireRun {
  ManualClock clock;
  ScriptedLink link{clock};
  SimOptions options;
  std::ostringstream log;
  std::unique_ptr<SimWire> wire;

  SimWire& Wire() {
    if (!wire) wire = std::make_unique<SimWire>(link, options, log);
    return *wire;
  }
  std::vector<SentFrame> SendFrames(int count) {
    for (int i = 0; i < count; ++i) {
      Wire().Send(static_cast<uint8_t>(i), CMD_BLOCK_DATA, {static_cast<uint8_t>(i), 'Q', 0x0D});
    }
    return link.sentFrames;
  }
};

TEST(FaultInjection, EveryKthFrameCarriesAWrongSumAndNoneWithoutFaults) {
  for (uint32_t every : {0u, 3u}) {
    WireRun run;
    run.options.faults.badSumEvery = every;
    const auto frames = run.SendFrames(9);
    ASSERT_EQ(frames.size(), 9u);
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].sumOk, every == 0 || (i + 1) % every != 0) << every << ": " << i;
    }
  }
}

TEST(FaultInjection, EveryKthFrameIsNotSentAtAll) {
  WireRun run;
  run.options.faults.dropEvery = 4;
  run.options.faults.noiseBytes = 5;
  const auto frames = run.SendFrames(8);
  std::vector<int> sequences;
  for (const auto& f : frames) sequences.push_back(f.sequence);
  EXPECT_THAT(sequences, ::testing::ElementsAre(0, 1, 2, 4, 5, 6));
  // A dropped frame takes its noise with it.
  EXPECT_EQ(run.link.sentBytes.size(), 6u * (5 + 13));
}

TEST(FaultInjection, NoiseNeverHoldsTheFirstSyncLetterAndFramesStillParse) {
  WireRun run;
  run.options.faults.noiseBytes = 200;
  const auto frames = run.SendFrames(10);
  ASSERT_EQ(frames.size(), 10u);
  for (const auto& f : frames) EXPECT_TRUE(f.sumOk);
  FrameSplitter splitter;
  splitter.Feed(run.link.sentBytes.data(), run.link.sentBytes.size());
  EXPECT_EQ(splitter.Loose().size(), 2000u);
  EXPECT_EQ(std::count(splitter.Loose().begin(), splitter.Loose().end(), 'Q'), 0);
}

// Runs are repeatable by seed, and the inbound faults draw from a stream of their own: adding
// them does not change which outbound frames an existing seed spoils.
TEST(FaultInjection, SameSeedGivesTheSameFaultsWhateverTheInboundFaults) {
  FaultOptions options;
  options.corruptRate = 0.3;
  options.dropRate = 0.2;
  options.noiseBytes = 3;
  options.seed = 42;
  FaultOptions withInbound = options;
  withInbound.inDropRate = 0.5;
  withInbound.inCorruptRate = 0.5;
  FaultInjector first(options);
  FaultInjector second(options);
  FaultInjector third(withInbound);
  int faulty = 0;
  for (int i = 0; i < 500; ++i) {
    if (i % 3 == 0) third.NextInbound();
    const FrameFaults a = first.Next();
    for (const FrameFaults& b : {second.Next(), third.Next()}) {
      EXPECT_EQ(a.badSum, b.badSum) << i;
      EXPECT_EQ(a.drop, b.drop) << i;
      EXPECT_EQ(a.noise, b.noise) << i;
    }
    faulty += a.Intact() ? 0 : 1;
  }
  // Roughly 44 % of frames are hit; wide bounds, the point is that rates take effect.
  EXPECT_GT(faulty, 150);
  EXPECT_LT(faulty, 300);
}

TEST(FaultInjection, EachGarbledFrameDiffersFromTheIntactOneInExactlyOneByte) {
  WireRun run;
  run.options.faults.garbleRate = 1.0;
  run.options.faults.seed = 7;
  std::set<size_t> positions;
  for (int i = 0; i < 200; ++i) {
    const std::vector<uint8_t> payload = {1, 2, 3, 4, 5, 6, static_cast<uint8_t>(i)};
    run.link.sentBytes.clear();
    EXPECT_FALSE(run.Wire().Send(static_cast<uint8_t>(i), CMD_BLOCK_DATA, payload).Intact());
    const auto intact = WireFrame(static_cast<uint8_t>(i), CMD_BLOCK_DATA, payload);
    ASSERT_EQ(run.link.sentBytes.size(), intact.size());
    size_t differences = 0;
    for (size_t b = 0; b < intact.size(); ++b) {
      if (run.link.sentBytes[b] != intact[b]) {
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

TEST(FaultInjection, InboundLostFramesAreNeverSeenAndDamagedOnesCountAsBadSums) {
  WireRun lost;
  lost.options.faults.inDropRate = 1.0;
  lost.link.Deliver(WireFrame(3, CMD_BLOCK_DATA, {9, 9}));
  EXPECT_EQ(lost.Wire().Receive(lost.clock.NowMs() + 2000), WaitResult::kTimeout);

  WireRun damaged;
  damaged.options.faults.inCorruptRate = 1.0;
  damaged.link.Deliver(WireFrame(3, CMD_BLOCK_DATA, {9, 9}));
  EXPECT_EQ(damaged.Wire().Receive(damaged.clock.NowMs() + 2000), WaitResult::kBadSum);

  WireRun partly;
  partly.options.faults.inDropRate = 0.25;
  partly.options.faults.seed = 5;
  int arrived = 0;
  for (int i = 0; i < 400; ++i) {
    partly.link.Deliver(WireFrame(static_cast<uint8_t>(i), CMD_ACCEPT_UPLOAD, {}));
    if (partly.Wire().Receive(partly.clock.NowMs() + 1000) == WaitResult::kFrame) ++arrived;
  }
  EXPECT_GT(arrived, 260);
  EXPECT_LT(arrived, 340);
}

TEST(FaultInjection, DownloadGetsThroughLostAndDamagedRequests) {
  RoleRun run;
  run.options.faults.dropEvery = 3;
  run.options.faults.badSumEvery = 4;
  run.options.faults.noiseBytes = 7;
  run.options.blockSize = 100;
  const std::vector<uint8_t> data = TestBytes(1000, 5);
  run.options.size = data.size();
  run.options.expectPath = run.dir.File("expected.ird");
  WriteBytes(run.options.expectPath, data);
  DownloadingTool tool(run.link, data);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0) << run.log.str();
  EXPECT_EQ(tool.finishes, 1);
}

TEST(FaultInjection, TraceShowsEachFrameAndItsFault) {
  WireRun run;
  run.options.trace = true;
  run.options.faults.badSumEvery = 2;
  run.SendFrames(2);
  const std::string log = run.log.str();
  EXPECT_THAT(log, ::testing::HasSubstr("> CMD_BLOCK_DATA 00 05 00 03 00 51 0d"));
  EXPECT_THAT(log, ::testing::HasSubstr("[bad sum]"));
}

}  // namespace
}  // namespace kestal::sim::testing
