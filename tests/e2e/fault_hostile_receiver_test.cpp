// A hostile receiver on the line: huge blocks, offsets near and past 2^32, a 4 GB data set on a
// line that then dies, frames of 65535 bytes. The tool answers with clear errors, keeps its
// memory bounded, and leaves no giant file behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/e2e_support.h"
#include "e2e/fault_scripted_receiver.h"
#include "transfer/workers.h"

namespace kestal::e2e {
namespace {

struct HostileReceiver : ::testing::Test {
  ScratchDir dir;
  InProcessTool tool;
  ScriptedReceiver receiver;
  size_t heapBefore = HeapInUse();
  long residentBefore = ResidentKiB();

  void Start(const std::string& file, int mode, int direction,
             std::function<void(ScriptedReceiver&)> script) {
    ASSERT_FALSE(receiver.Device().empty());
    tool.Start(receiver.Device(), file, mode, direction);
    receiver.Run(std::move(script));
  }
  void PumpToTheEnd() {
    EXPECT_TRUE(tool.window.PumpUntilWorkerExit(30s)) << tool.window.StatusesJoined();
    receiver.Join();
  }
  // Serves the window until the worker ends; whenever `progress` stands still for 1.5 s the
  // worker is waiting for an answer that will not come, and a watchdog tick passes.
  void PumpWithWatchdog(const std::atomic<int>& progress) {
    const auto give_up = std::chrono::steady_clock::now() + 30s;
    int seen = progress.load();
    auto still_since = std::chrono::steady_clock::now();
    while (tool.window.WorkerExits() == 0 && std::chrono::steady_clock::now() < give_up) {
      tool.window.PumpOne(10ms);
      if (progress.load() != seen) {
        seen = progress.load();
        still_since = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - still_since > 1500ms) {
        tool.controller->OnTimer(TIMER_WATCHDOG);
        still_since = std::chrono::steady_clock::now();
      }
    }
    EXPECT_EQ(tool.window.WorkerExits(), 1) << tool.window.StatusesJoined();
    receiver.Join();
  }
  std::string LastStatus() const { return tool.window.Statuses().back(); }
  void ExpectBoundedMemory() {
    EXPECT_LT(HeapInUse(), heapBefore + (1u << 20));
    EXPECT_LT(ResidentKiB(), residentBefore + 16 * 1024);
  }
};

struct OutOfRangeCase {
  const char* name;
  uint16_t length;
  uint32_t offset;
};

class HostileBlockRequest : public HostileReceiver,
                            public ::testing::WithParamInterface<OutOfRangeCase> {};

TEST_P(HostileBlockRequest, IsRefusedWithTheRangeErrorAndNoData) {
  const std::string file = dir.File("image.ird");
  const auto data = TestBytes(100000, 41);
  WriteBytes(file, data);
  std::optional<std::vector<uint8_t>> first, hostile;
  Start(file, MODE_SOFTWARE, DIR_TO_RECEIVER, [&](ScriptedReceiver& r) {
    ASSERT_TRUE(r.Request());
    first = r.Block(65535, 0);  // the largest block there is, and legitimate
    hostile = r.Block(GetParam().length, GetParam().offset);
  });
  PumpToTheEnd();
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, std::vector<uint8_t>(data.begin(), data.begin() + 65535));
  EXPECT_FALSE(hostile);
  EXPECT_EQ(LastStatus(), "Error : .....") << tool.window.StatusesJoined();
  ExpectBoundedMemory();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileBlockRequest,
    ::testing::Values(OutOfRangeCase{"LargestBlockReachingPastTheEnd", 65535, 65535},
                      OutOfRangeCase{"OffsetNear2To32", 16, 0xFFFFFFF0u},
                      OutOfRangeCase{"LastOffsetOf32Bits", 1, 0xFFFFFFFFu},
                      OutOfRangeCase{"EndOverflowing32Bits", 0x200, 0xFFFFFF00u},
                      OutOfRangeCase{"LargestBlockAtTheLastOffset", 65535, 0xFFFFFFFFu}),
    [](const ::testing::TestParamInfo<OutOfRangeCase>& param) { return param.param.name; });

TEST_F(HostileReceiver, FramesOf65535BytesAndBrokenLengthsAreRiddenOut) {
  const std::string file = dir.File("image.ird");
  const auto data = TestBytes(3000, 42);
  WriteBytes(file, data);
  std::optional<std::vector<uint8_t>> afterUnknown, afterTruncated, served;
  Start(file, MODE_SOFTWARE, DIR_TO_RECEIVER, [&](ScriptedReceiver& r) {
    ASSERT_TRUE(r.Request());
    // An unknown command with the longest payload: the tool serves nothing until asked again.
    r.Peer().Send(0x55, 0x99, std::vector<uint8_t>(65535, 0xAB));
    afterUnknown = r.Block(100, 0);
    // A header announcing 65535 bytes of which only 100 come: the rest of the frame never does.
    auto truncated = kestal::testing::WireFrame(0x56, CMD_BLOCK_REQUEST, std::vector<uint8_t>(65535));
    truncated.resize(9 + 100);
    r.Peer().SendRaw(truncated);
    afterTruncated = r.Block(100, 0);
    ASSERT_TRUE(r.Request());
    served = r.Block(3000, 0);
    r.Finish();
  });
  PumpToTheEnd();
  // The long frames may also overflow the receive queue and be lost whole; then the request
  // stays accepted and the block is served, which must then be the right bytes.
  for (const auto& block : {afterUnknown, afterTruncated}) {
    if (block) {
      EXPECT_EQ(*block, std::vector<uint8_t>(data.begin(), data.begin() + 100));
    }
  }
  ASSERT_TRUE(served);
  EXPECT_EQ(*served, data);
  EXPECT_TRUE(tool.window.LastExitCompleted()) << tool.window.StatusesJoined();
  ExpectBoundedMemory();
}

// Upload side: the receiver answers the tool's questions as the test says.
void ServeUpload(PtyPeer& peer, uint32_t size,
                 const std::function<bool(const kestal::testing::SentFrame&, int block)>& onBlock) {
  ASSERT_TRUE(peer.WaitForBurst(5s));
  peer.Send(1, CMD_REQUEST, Be32(0));
  int blocks = 0;
  while (auto frame = peer.Receive(3s)) {
    if (frame->command == CMD_SIZE_QUERY) peer.Send(frame->sequence, CMD_SIZE_REPLY, Be32(size));
    if (frame->command == CMD_BLOCK_REQUEST && !onBlock(*frame, blocks++)) return;
  }
}

TEST_F(HostileReceiver, FourGigabyteDataSetThenSilenceEndsByTheWatchdogWithNothingLeft) {
  const std::string target = dir.File("list.fdu");
  std::atomic<int> blockRequests{0};
  Start(target, MODE_CHANNELS, DIR_TO_COMPUTER, [&](ScriptedReceiver& r) {
    ServeUpload(r.Peer(), 0xFFFFFFFFu, [&](const kestal::testing::SentFrame& frame, int) {
      ++blockRequests;
      // A few blocks, then the line goes quiet while the port stays open.
      if (blockRequests <= 50) {
        r.Peer().Send(frame.sequence, CMD_BLOCK_DATA,
                      std::vector<uint8_t>(GetBE16(frame.payload.data()), 0x5A));
      }
      return blockRequests < 53;
    });
  });
  PumpWithWatchdog(blockRequests);
  EXPECT_EQ(blockRequests, 51);  // the worker waits for its answer rather than asking again
  EXPECT_EQ(LastStatus(), "External Error Occurred!") << tool.window.StatusesJoined();
  EXPECT_EQ(tool.window.Progress(), 0);
  EXPECT_TRUE(DirectoryEntries(dir.Path().string()).empty());
  ExpectBoundedMemory();
}

// Every answer one byte short of the block asked for: refused, asked again under the same
// rules, and after the twentieth attempt the transfer ends without a twenty-first request.
TEST_F(HostileReceiver, ShortAnswersEndInACommunicationErrorAfterTwentyAttempts) {
  const std::string target = dir.File("list.fdu");
  std::atomic<int> requests{0};
  Start(target, MODE_CHANNELS, DIR_TO_COMPUTER, [&](ScriptedReceiver& r) {
    ServeUpload(r.Peer(), 1000, [&](const kestal::testing::SentFrame& frame, int) {
      ++requests;
      r.Peer().Send(frame.sequence, CMD_BLOCK_DATA,
                    std::vector<uint8_t>(GetBE16(frame.payload.data()) - 1u, 0x5A));
      return true;
    });
  });
  PumpToTheEnd();
  EXPECT_EQ(requests, 20);
  EXPECT_EQ(LastStatus(), "Communication error.") << tool.window.StatusesJoined();
  EXPECT_TRUE(DirectoryEntries(dir.Path().string()).empty());
}

// A 65535-byte answer is more than the receive queue holds: it arrives whole and is refused
// (wrong length, so the block is asked for again), or loses chunks and is never heard, which
// leaves the worker waiting until the watchdog ends the transfer.
TEST_F(HostileReceiver, AnswersOf65535BytesEndInACommunicationErrorOrTheWatchdog) {
  const std::string target = dir.File("list.fdu");
  std::atomic<int> requests{0};
  Start(target, MODE_CHANNELS, DIR_TO_COMPUTER, [&](ScriptedReceiver& r) {
    ServeUpload(r.Peer(), 1000, [&](const kestal::testing::SentFrame& frame, int) {
      ++requests;
      r.Peer().Send(frame.sequence, CMD_BLOCK_DATA, std::vector<uint8_t>(65535, 0x5A));
      return true;
    });
  });
  PumpWithWatchdog(requests);
  EXPECT_LE(requests, UPLOAD_ATTEMPTS);
  EXPECT_THAT(LastStatus(), ::testing::AnyOf("Communication error.", "External Error Occurred!"))
      << tool.window.StatusesJoined();
  EXPECT_TRUE(DirectoryEntries(dir.Path().string()).empty());
  ExpectBoundedMemory();
}

}  // namespace
}  // namespace kestal::e2e
