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
  // The tool wakes the receiver up, then the role runs to its end.
  int Run() {
    run.link.Deliver(Burst());
    return run.Download();
  }
  // Frames the tool leaves unanswered: block requests for `offset`, the first `times` of them.
  void IgnoreBlockRequestsFor(uint32_t offset, int times) {
    tool.ignore = [offset, times, ignored = 0](const SentFrame& f) mutable {
      if (f.command != CMD_BLOCK_REQUEST || ParseBlockRequest(f).offset != offset) return false;
      return ignored++ < times;
    };
  }

  RoleRun run;
  std::vector<uint8_t> data = TestBytes(2500, 7);
  DownloadingTool tool{run.link, data};
};

TEST_F(DownloadSoftware, RequestAfterTheBurstThenBlocksCoveringTheDataExactly) {
  run.options.requestValue = 0x01020304;
  run.options.size.reset();  // the size comes from the expected file
  run.options.expectPath = run.dir.File("expected.ird");
  run.options.savePath = run.dir.File("saved.ird");
  WriteBytes(run.options.expectPath, data);

  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(tool.requests.size(), 1u);
  EXPECT_THAT(tool.requests[0].payload, ElementsAre(1, 2, 3, 4));
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
  EXPECT_EQ(ReadBytes(run.options.savePath), data);
}

TEST_F(DownloadSoftware, NothingIsSentUntilTheWholeBurstArrived) {
  std::vector<uint8_t> partial = Burst();
  partial.pop_back();
  run.link.Deliver(partial);

  EXPECT_EQ(run.Download(), 1);
  EXPECT_TRUE(run.link.sentBytes.empty());
  EXPECT_THAT(run.log.str(), HasSubstr("no wake-up burst"));
}

TEST_F(DownloadSoftware, BurstIsFoundAfterLineNoise) {
  run.link.Deliver({0x00, 0x0D, 0x01, 0xFF});
  run.link.DeliverAt(run.clock.NowMs() + 300, Burst());
  EXPECT_EQ(run.Download(), 0);
}

TEST_F(DownloadSoftware, DifferentDataIsAFaultNamingTheOffset) {
  std::vector<uint8_t> expected = data;
  expected[1234] ^= 0x40;
  run.options.expectPath = run.dir.File("expected.ird");
  WriteBytes(run.options.expectPath, expected);

  EXPECT_EQ(Run(), 1);
  EXPECT_THAT(run.log.str(), HasSubstr("offset 1234"));
}

TEST_F(DownloadSoftware, LostAnswerIsAskedForAgainUnderANewSequence) {
  IgnoreBlockRequestsFor(1000, 1);
  const uint64_t start = run.clock.NowMs();

  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(tool.blockAsks.size(), 4u);
  EXPECT_EQ(tool.blockAsks[2].offset, 1000u);
  EXPECT_NE(tool.blockAsks[2].sequence, tool.blockAsks[1].sequence);
  EXPECT_GE(run.clock.NowMs() - start, run.options.replyTimeoutMs);
}

TEST_F(DownloadSoftware, LateAnswerToAnEarlierRequestIsNotTakenForTheNewOne) {
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
  run.options.expectPath = run.dir.File("expected.ird");
  WriteBytes(run.options.expectPath, data);

  EXPECT_EQ(Run(), 0);
}

TEST_F(DownloadSoftware, BlockThatNeverArrivesIsAFaultAfterTheSetAttempts) {
  run.options.attempts = 3;
  IgnoreBlockRequestsFor(2000, 1000);

  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(tool.blockAsks.size(), 2u + 3u);
  EXPECT_EQ(tool.finishes, 0);
  EXPECT_THAT(run.log.str(), HasSubstr("offset 2000"));
}

TEST_F(DownloadSoftware, AnswerOfTheWrongLengthIsAFault) {
  tool.ignore = [&](const SentFrame& f) {
    if (f.command != CMD_BLOCK_REQUEST) return false;
    run.link.Deliver(WireFrame(f.sequence, CMD_BLOCK_DATA, std::vector<uint8_t>(999, 0)));
    return true;
  };

  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(tool.blockAsks.size(), 1u);
}

TEST_F(DownloadSoftware, RequestIsRepeatedUntilAcceptedAndAfterTheIdleTime) {
  run.options.idleBeforeRequestMs = 3000;
  uint64_t requestedAt = 0;
  tool.ignore = [&](const SentFrame& f) {
    if (f.command != CMD_REQUEST) return false;
    if (requestedAt == 0) requestedAt = run.clock.NowMs();
    return tool.requests.size() < 3;
  };
  const uint64_t burstAt = run.clock.NowMs();

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(tool.requests.size(), 3u);
  EXPECT_GE(requestedAt - burstAt, 3000u);
}

TEST_F(DownloadSoftware, AcceptingAnUploadIsAFault) {
  tool.acceptCommand = CMD_ACCEPT_UPLOAD;

  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(tool.blockAsks.empty());
}

TEST_F(DownloadSoftware, StrayBlockRequestBeforeTheRequestMustGoUnanswered) {
  run.options.blockRequestBeforeRequest = true;
  tool.ignore = [&](const SentFrame& f) {
    return f.command == CMD_BLOCK_REQUEST && tool.requests.empty();
  };

  EXPECT_EQ(Run(), 0);
  ASSERT_FALSE(run.link.sentFrames.empty());
  EXPECT_EQ(run.link.sentFrames[0].command, CMD_BLOCK_REQUEST);
}

TEST_F(DownloadSoftware, StrayBlockRequestThatTheToolAnswersIsAFault) {
  run.options.blockRequestBeforeRequest = true;

  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(tool.requests.empty());
}

TEST_F(DownloadSoftware, RequestPastTheEndThatTheToolRefusesEndsWell) {
  run.options.pastEnd = true;

  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(tool.blockAsks.size(), 4u);
  const BlockAsk last = tool.blockAsks.back();
  EXPECT_EQ(last.offset + last.length, data.size() + 1);
  EXPECT_EQ(tool.finishes, 0);
  EXPECT_THAT(run.log.str(), HasSubstr("sent a request past the end"));
}

TEST_F(DownloadSoftware, RequestPastTheEndThatTheToolAnswersIsAFault) {
  run.options.pastEnd = true;
  tool.ignore = [&](const SentFrame& f) {
    if (f.command != CMD_BLOCK_REQUEST) return false;
    const BlockAsk ask = ParseBlockRequest(f);
    if (ask.offset + ask.length <= data.size()) return false;
    run.link.Deliver(WireFrame(f.sequence, CMD_BLOCK_DATA, std::vector<uint8_t>(ask.length, 0)));
    return true;
  };

  EXPECT_EQ(Run(), 1);
}

TEST_F(DownloadSoftware, HangUpAfterBlocksClosesTheLinkAndSucceeds) {
  run.options.hangupAfterBlocks = 2;

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(tool.blockAsks.size(), 2u);
  EXPECT_FALSE(run.link.IsOpen());
}

TEST_F(DownloadSoftware, SilenceAfterBlocksSendsNothingMoreAndEndsWhenTheToolLeaves) {
  run.options.silenceAfterBlocks = 1;
  const uint64_t start = run.clock.NowMs();
  run.link.onAdvance = [&](uint64_t now) {
    if (now - start > 6000) run.link.HangUp();  // the tool's watchdog gives up
  };

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(tool.blockAsks.size(), 1u);
  EXPECT_EQ(tool.finishes, 0);
}

TEST_F(DownloadSoftware, SilenceThatTheToolNeverEndsIsAFault) {
  run.options.silenceAfterBlocks = 1;

  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(tool.blockAsks.size(), 1u);
}

}  // namespace
}  // namespace kestal::sim::testing
