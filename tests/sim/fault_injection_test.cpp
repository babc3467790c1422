// Faults the virtual receiver injects into its own frames, as seen on the wire.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

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

  std::vector<SentFrame> SendFrames(int count) {
    SimWire wire(link, options, log);
    for (int i = 0; i < count; ++i) {
      wire.Send(static_cast<uint8_t>(i), CMD_BLOCK_DATA, {static_cast<uint8_t>(i), 'Q', 0x0D});
    }
    return link.sentFrames;
  }
};

TEST(FaultInjection, CleanOptionsSendEveryFrameIntact) {
  WireRun run;
  const auto frames = run.SendFrames(20);
  ASSERT_EQ(frames.size(), 20u);
  for (const auto& f : frames) EXPECT_TRUE(f.sumOk);
}

TEST(FaultInjection, EveryKthFrameCarriesAWrongSum) {
  WireRun run;
  run.options.faults.badSumEvery = 3;
  const auto frames = run.SendFrames(9);
  ASSERT_EQ(frames.size(), 9u);
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].sumOk, (i + 1) % 3 != 0) << i;
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

TEST(FaultInjection, SameSeedGivesTheSameFaults) {
  FaultOptions options;
  options.corruptRate = 0.3;
  options.dropRate = 0.2;
  options.noiseBytes = 3;
  options.seed = 42;
  FaultInjector first(options);
  FaultInjector second(options);
  int faulty = 0;
  for (int i = 0; i < 200; ++i) {
    const FrameFaults a = first.Next();
    const FrameFaults b = second.Next();
    EXPECT_EQ(a.badSum, b.badSum);
    EXPECT_EQ(a.drop, b.drop);
    EXPECT_EQ(a.noise, b.noise);
    faulty += a.Intact() ? 0 : 1;
  }
  // Roughly 44 % of frames are hit; wide bounds, the point is that rates take effect.
  EXPECT_GT(faulty, 50);
  EXPECT_LT(faulty, 130);
}

TEST(FaultInjection, DownloadGetsThroughLostAndDamagedRequests) {
  RoleRun run;
  run.options.faults.dropEvery = 3;
  run.options.faults.badSumEvery = 4;
  run.options.faults.noiseBytes = 7;
  run.options.blockSize = 100;
  const std::vector<uint8_t> data = PatternBytes(1000, 5);
  run.options.size = data.size();
  run.options.expectPath = ScratchPath("expected.ird");
  WriteFile(run.options.expectPath, data);
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
