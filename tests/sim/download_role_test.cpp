// The virtual receiver leading a transfer to it, against a tool played on a scripted link.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/frame_codec.h"
#include "scripted_tool.h"

namespace kestal::sim::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class DownloadSoftware : public ::testing::Test {
 protected:
  DownloadSoftware() {
    run.options.mode = DownloadMode::kSoftware;
    run.options.blockSize = 1000;
    run.options.size = data.size();
  }
  std::vector<uint8_t> data = PatternBytes(2500, 7);
  RoleRun run;
};

TEST_F(DownloadSoftware, RequestFollowsTheBurstAndCarriesTheRequestValue) {
  run.options.requestValue = 0x01020304;
  DownloadingTool tool(run.link, data);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0);
  ASSERT_EQ(tool.requests.size(), 1u);
  EXPECT_THAT(tool.requests[0].payload, ElementsAre(1, 2, 3, 4));
}

TEST_F(DownloadSoftware, NothingIsSentUntilTheWholeBurstArrived) {
  DownloadingTool tool(run.link, data);
  std::vector<uint8_t> partial = Burst();
  partial.pop_back();
  run.link.Deliver(partial);

  EXPECT_EQ(run.Download(), 1);
  EXPECT_TRUE(run.link.sentBytes.empty());
  EXPECT_THAT(run.log.str(), HasSubstr("no wake-up burst"));
}

TEST_F(DownloadSoftware, BurstIsFoundAfterLineNoise) {
  DownloadingTool tool(run.link, data);
  run.link.Deliver({0x00, 0x0D, 0x01, 0xFF});
  run.link.DeliverAt(run.clock.NowMs() + 300, Burst());
  EXPECT_EQ(run.Download(), 0);
}

TEST_F(DownloadSoftware, BlocksCoverTheDataExactlyWithTheLastOneShort) {
  DownloadingTool tool(run.link, data);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0);
  ASSERT_EQ(tool.blockAsks.size(), 3u);
  EXPECT_EQ(tool.blockAsks[0].offset, 0u);
  EXPECT_EQ(tool.blockAsks[1].offset, 1000u);
  EXPECT_EQ(tool.blockAsks[2].offset, 2000u);
  EXPECT_EQ(tool.blockAsks[2].length, 500u);
  // Each request has a sequence of its own, after the request's.
  EXPECT_GT(tool.blockAsks[0].sequence, tool.requests[0].sequence);
  EXPECT_EQ(tool.blockAsks[1].sequence, tool.blockAsks[0].sequence + 1);
  EXPECT_EQ(tool.finishes, 1);
  EXPECT_THAT(run.log.str(), HasSubstr("sim: download ok, 2500 bytes"));
}

TEST_F(DownloadSoftware, MatchingExpectedFileSucceedsAndSaveKeepsWhatArrived) {
  run.options.size.reset();
  run.options.expectPath = ScratchPath("expected.ird");
  run.options.savePath = ScratchPath("saved.ird");
  WriteFile(run.options.expectPath, data);
  DownloadingTool tool(run.link, data);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0);
  EXPECT_EQ(ReadFile(run.options.savePath), data);
}

TEST_F(DownloadSoftware, DifferentDataIsAFaultNamingTheOffset) {
  run.options.expectPath = ScratchPath("expected.ird");
  WriteFile(run.options.expectPath, data);
  std::vector<uint8_t> served = data;
  served[1234] ^= 0x40;
  DownloadingTool tool(run.link, served);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
  EXPECT_THAT(run.log.str(), HasSubstr("offset 1234"));
}

TEST_F(DownloadSoftware, LostAnswerIsAskedForAgainUnderANewSequence) {
  DownloadingTool tool(run.link, data);
  bool dropped = false;
  tool.ignore = [&](const SentFrame& f) {
    if (f.command != CMD_BLOCK_REQUEST || ParseBlockRequest(f).offset != 1000 || dropped) {
      return false;
    }
    dropped = true;
    return true;
  };
  run.link.Deliver(Burst());
  const uint64_t start = run.clock.NowMs();

  EXPECT_EQ(run.Download(), 0);
  ASSERT_EQ(tool.blockAsks.size(), 4u);
  EXPECT_EQ(tool.blockAsks[2].offset, 1000u);
  EXPECT_NE(tool.blockAsks[2].sequence, tool.blockAsks[1].sequence);
  EXPECT_GE(run.clock.NowMs() - start, run.options.replyTimeoutMs);
}

TEST_F(DownloadSoftware, LateAnswerToAnEarlierRequestIsNotTakenForTheNewOne) {
  DownloadingTool tool(run.link, data);
  tool.ignore = [&](const SentFrame& f) {
    if (f.command != CMD_BLOCK_REQUEST) return false;
    const BlockAsk ask = ParseBlockRequest(f);
    if (ask.offset == 1000 && tool.blockAsks.size() == 2) {
      // Answer the request for offset 1000 with the bytes of offset 0, under an old sequence.
      run.link.Deliver(WireFrame(static_cast<uint8_t>(ask.sequence - 1), CMD_BLOCK_DATA,
                                 std::vector<uint8_t>(data.begin(), data.begin() + 1000)));
      return true;
    }
    return false;
  };
  run.options.expectPath = ScratchPath("expected.ird");
  WriteFile(run.options.expectPath, data);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0);
}

TEST_F(DownloadSoftware, BlockThatNeverArrivesIsAFaultAfterTheSetAttempts) {
  run.options.attempts = 3;
  DownloadingTool tool(run.link, data);
  tool.ignore = [](const SentFrame& f) {
    return f.command == CMD_BLOCK_REQUEST && ParseBlockRequest(f).offset == 2000;
  };
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
  EXPECT_EQ(tool.blockAsks.size(), 2u + 3u);
  EXPECT_EQ(tool.finishes, 0);
  EXPECT_THAT(run.log.str(), HasSubstr("offset 2000"));
}

TEST_F(DownloadSoftware, AnswerOfTheWrongLengthIsAFault) {
  DownloadingTool tool(run.link, data);
  tool.ignore = [&](const SentFrame& f) {
    if (f.command != CMD_BLOCK_REQUEST) return false;
    run.link.Deliver(WireFrame(f.sequence, CMD_BLOCK_DATA, std::vector<uint8_t>(999, 0)));
    return true;
  };
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
  EXPECT_EQ(tool.blockAsks.size(), 1u);
}

TEST_F(DownloadSoftware, RequestIsRepeatedUntilAccepted) {
  DownloadingTool tool(run.link, data);
  tool.ignore = [&](const SentFrame& f) {
    return f.command == CMD_REQUEST && tool.requests.size() < 3;
  };
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0);
  EXPECT_EQ(tool.requests.size(), 3u);
}

TEST_F(DownloadSoftware, AcceptingAnUploadIsAFault) {
  DownloadingTool tool(run.link, data);
  tool.acceptCommand = CMD_ACCEPT_UPLOAD;
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
  EXPECT_TRUE(tool.blockAsks.empty());
}

TEST_F(DownloadSoftware, RequestWaitsForTheIdleTimeAfterTheBurst) {
  run.options.idleBeforeRequestMs = 3000;
  DownloadingTool tool(run.link, data);
  uint64_t requestedAt = 0;
  tool.ignore = [&](const SentFrame& f) {
    if (f.command == CMD_REQUEST && requestedAt == 0) requestedAt = run.clock.NowMs();
    return false;
  };
  const uint64_t burstAt = run.clock.NowMs();
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0);
  EXPECT_GE(requestedAt - burstAt, 3000u);
}

TEST_F(DownloadSoftware, StrayBlockRequestThatTheToolIgnoresPasses) {
  run.options.blockRequestBeforeRequest = true;
  DownloadingTool tool(run.link, data);
  tool.ignore = [&](const SentFrame& f) {
    return f.command == CMD_BLOCK_REQUEST && tool.requests.empty();
  };
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0);
  ASSERT_FALSE(run.link.sentFrames.empty());
  EXPECT_EQ(run.link.sentFrames[0].command, CMD_BLOCK_REQUEST);
}

TEST_F(DownloadSoftware, StrayBlockRequestThatTheToolAnswersIsAFault) {
  run.options.blockRequestBeforeRequest = true;
  DownloadingTool tool(run.link, data);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
  EXPECT_TRUE(tool.requests.empty());
}

TEST_F(DownloadSoftware, RequestPastTheEndThatTheToolRefusesEndsWell) {
  run.options.pastEnd = true;
  DownloadingTool tool(run.link, data);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0);
  ASSERT_EQ(tool.blockAsks.size(), 4u);
  const BlockAsk last = tool.blockAsks.back();
  EXPECT_EQ(last.offset + last.length, data.size() + 1);
  EXPECT_EQ(tool.finishes, 0);
  EXPECT_THAT(run.log.str(), HasSubstr("sent a request past the end"));
}

TEST_F(DownloadSoftware, RequestPastTheEndThatTheToolAnswersIsAFault) {
  run.options.pastEnd = true;
  DownloadingTool tool(run.link, data);
  tool.ignore = [&](const SentFrame& f) {
    if (f.command != CMD_BLOCK_REQUEST) return false;
    const BlockAsk ask = ParseBlockRequest(f);
    if (ask.offset + ask.length <= data.size()) return false;
    run.link.Deliver(WireFrame(f.sequence, CMD_BLOCK_DATA, std::vector<uint8_t>(ask.length, 0)));
    return true;
  };
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
}

TEST_F(DownloadSoftware, HangUpAfterBlocksClosesTheLinkAndSucceeds) {
  run.options.hangupAfterBlocks = 2;
  DownloadingTool tool(run.link, data);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 0);
  EXPECT_EQ(tool.blockAsks.size(), 2u);
  EXPECT_FALSE(run.link.IsOpen());
}

TEST_F(DownloadSoftware, SilenceAfterBlocksSendsNothingMoreAndEndsWhenTheToolLeaves) {
  run.options.silenceAfterBlocks = 1;
  DownloadingTool tool(run.link, data);
  run.link.Deliver(Burst());
  const uint64_t start = run.clock.NowMs();
  run.link.onAdvance = [&](uint64_t now) {
    if (now - start > 6000) run.link.HangUp();  // the tool's watchdog gives up
  };

  EXPECT_EQ(run.Download(), 0);
  EXPECT_EQ(tool.blockAsks.size(), 1u);
  EXPECT_EQ(tool.finishes, 0);
}

TEST_F(DownloadSoftware, SilenceThatTheToolNeverEndsIsAFault) {
  run.options.silenceAfterBlocks = 1;
  DownloadingTool tool(run.link, data);
  run.link.Deliver(Burst());

  EXPECT_EQ(run.Download(), 1);
  EXPECT_EQ(tool.blockAsks.size(), 1u);
}

}  // namespace
}  // namespace kestal::sim::testing
