#include "link/frame_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "support/fake_link.h"

namespace kestal {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::ManualClock;
using testing::ScriptedLink;
using testing::WireFrame;
using testing::WireFrameBadSum;

using Bytes = std::vector<uint8_t>;

// A scripted link that also records how the code under test writes and waits.
class RecordingLink : public ScriptedLink {
 public:
  using ScriptedLink::ScriptedLink;
  int SendBytes(const uint8_t* data, int count) override {
    writeSizes.push_back(count);
    return ScriptedLink::SendBytes(data, count);
  }
  void WaitForData(uint64_t deadlineMs) override {
    waitDeadlines.push_back(deadlineMs);
    ScriptedLink::WaitForData(deadlineMs);
  }
  std::vector<int> writeSizes;
  std::vector<uint64_t> waitDeadlines;
};

struct TraceRecord {
  bool sent;
  Bytes body;
  int result;
};

class FrameCodecTest : public ::testing::Test {
 protected:
  ManualClock clock;
  RecordingLink link{clock};
  Bytes buffer = Bytes(FRAME_BUFFER_SIZE, 0);
  std::vector<TraceRecord> traces;
  const uint64_t start = clock.NowMs();

  void TraceFrames() {
    link.frameTrace = [this](bool sent, const uint8_t* body, size_t size, int result) {
      traces.push_back({sent, Bytes(body, body + size), result});
    };
  }
  int Receive() { return ReceiveFrame(buffer.data(), link); }
  uint64_t Elapsed() const { return clock.NowMs() - start; }
  Bytes BufferHead(size_t size) const { return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(size)); }
  static Bytes Text(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }
};

// --- byte order ---------------------------------------------------------------------------

TEST(ByteOrder, SixteenBitHighByteFirst) {
  uint8_t p[2] = {};
  PutBE16(p, 0x1234);
  EXPECT_THAT(p, ElementsAre(0x12, 0x34));
  const uint8_t max[2] = {0xFF, 0xFF};
  EXPECT_EQ(GetBE16(max), 65535);
  const uint8_t mixed[2] = {0x01, 0x80};
  EXPECT_EQ(GetBE16(mixed), 0x0180);
}

TEST(ByteOrder, ThirtyTwoBitMostSignificantFirst) {
  const uint8_t p256[4] = {0x00, 0x00, 0x01, 0x00};
  EXPECT_EQ(GetBE32(p256), 256u);
  uint8_t p[4] = {};
  PutBE32(p, 0xA1B2C3D4u);
  EXPECT_THAT(p, ElementsAre(0xA1, 0xB2, 0xC3, 0xD4));
  EXPECT_EQ(GetBE32(p), 0xA1B2C3D4u);
}

TEST(CommandNames, KnownAndUnknownCodes) {
  EXPECT_STREQ(CommandName(CMD_REQUEST), "CMD_REQUEST");
  EXPECT_STREQ(CommandName(CMD_BLOCK_DATA), "CMD_BLOCK_DATA");
  EXPECT_STREQ(CommandName(CMD_SIZE_REPLY), "CMD_SIZE_REPLY");
  EXPECT_STREQ(CommandName(0), "CMD_UNKNOWN");
  EXPECT_STREQ(CommandName(9), "CMD_UNKNOWN");
}

// --- sending ------------------------------------------------------------------------------

TEST_F(FrameCodecTest, AcceptDownloadForSequence7MatchesTheWire) {
  const uint8_t frame[4] = {0x07, CMD_ACCEPT_DOWNLOAD, 0x00, 0x00};
  SendFrame(link, frame);
  EXPECT_THAT(link.sentBytes,
              ElementsAre('Q', 'z', 'V', 'k', 0x0D, 0x07, 0x02, 0x00, 0x00, 0x09));
}

TEST_F(FrameCodecTest, BlockRequestMatchesTheWire) {
  uint8_t frame[10] = {0x10, CMD_BLOCK_REQUEST};
  PutBE16(frame + 2, 6);
  PutBE16(frame + 4, 256);
  PutBE32(frame + 6, 512);
  SendFrame(link, frame);
  EXPECT_THAT(link.sentBytes, ElementsAre('Q', 'z', 'V', 'k', 0x0D, 0x10, 0x04, 0x00, 0x06, 0x01,
                                          0x00, 0x00, 0x00, 0x02, 0x00, 0x1D));
}

TEST_F(FrameCodecTest, SumWrapsModulo256) {
  const uint8_t frame[5] = {0xFF, 0x05, 0x00, 0x01, 0xFF};
  SendFrame(link, frame);
  ASSERT_EQ(link.sentBytes.size(), 11u);
  EXPECT_EQ(link.sentBytes.back(), 0x04);
}

// The sum is taken sixteen bytes at a time where the processor allows: every length and start
// offset around those steps, with random bytes and with the largest ones, must still give the
// plain byte-by-byte sum.
TEST(FrameSum, EqualsTheByteBySumForEveryLengthAndAlignment) {
  Bytes data(65535 + 16);
  uint32_t seed = 12345;
  for (uint8_t& byte : data) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  Bytes full(data.size(), 0xFF);
  const auto byteBySum = [](const uint8_t* bytes, size_t size) {
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return sum;
  };
  std::vector<size_t> sizes;
  for (size_t size = 0; size <= 40; ++size) sizes.push_back(size);
  for (size_t around : {1024u, 16384u, 65535u}) {
    for (size_t size = around - 17; size <= around; ++size) sizes.push_back(size);
  }
  for (size_t start = 0; start < 16; ++start) {
    for (size_t size : sizes) {
      ASSERT_EQ(FrameSum(data.data() + start, size), byteBySum(data.data() + start, size))
          << "random bytes, start " << start << ", size " << size;
      ASSERT_EQ(FrameSum(full.data() + start, size), byteBySum(full.data() + start, size))
          << "0xFF bytes, start " << start << ", size " << size;
    }
  }
}

TEST_F(FrameCodecTest, SendsSyncBodyAndSumAsThreeWrites) {
  uint8_t frame[4 + 300] = {0x33, CMD_BLOCK_DATA};
  PutBE16(frame + 2, 300);
  for (size_t i = 0; i < 300; ++i) frame[4 + i] = static_cast<uint8_t>(i);
  EXPECT_EQ(SendFrame(link, frame), 1) << "the result of the last write, the sum";
  EXPECT_THAT(link.writeSizes, ElementsAre(5, 304, 1));
  ASSERT_EQ(link.sentFrames.size(), 1u);
  EXPECT_TRUE(link.sentFrames[0].sumOk);
  EXPECT_EQ(link.sentFrames[0].payload, Bytes(frame + 4, frame + 304));
}

TEST_F(FrameCodecTest, SentFrameIsTracedWithItsSum) {
  TraceFrames();
  const uint8_t frame[4] = {0x07, CMD_ACCEPT_DOWNLOAD, 0x00, 0x00};
  SendFrame(link, frame);
  ASSERT_EQ(traces.size(), 1u);
  EXPECT_TRUE(traces[0].sent);
  EXPECT_THAT(traces[0].body, ElementsAre(0x07, 0x02, 0x00, 0x00, 0x09));
  EXPECT_EQ(traces[0].result, 0);
}

// --- receiving: content -------------------------------------------------------------------

TEST_F(FrameCodecTest, ReceivesWhatSendFrameWrote) {
  uint8_t frame[4 + 6] = {0x42, CMD_SIZE_REPLY};
  PutBE16(frame + 2, 6);
  PutBE32(frame + 4, 0x00012345);
  frame[8] = 0xAA;
  frame[9] = 0x51;  // 'Q' inside a payload is data, not a sync
  SendFrame(link, frame);
  link.Deliver(link.sentBytes);

  ASSERT_EQ(Receive(), FRAME_OK);
  EXPECT_EQ(BufferHead(10), Bytes(frame, frame + 10));
  EXPECT_EQ(buffer[10], link.sentBytes.back()) << "received sum stored after the payload";
}

TEST_F(FrameCodecTest, EmptyPayloadFrame) {
  link.Deliver(WireFrame(0x07, CMD_REQUEST, {}));
  ASSERT_EQ(Receive(), FRAME_OK);
  EXPECT_EQ(BufferHead(5), Bytes({0x07, CMD_REQUEST, 0x00, 0x00, 0x08}));
}

TEST_F(FrameCodecTest, BadSumIsReportedWithTheBufferFilled) {
  const Bytes payload = {1, 2, 3};
  const Bytes wire = WireFrameBadSum(0x09, CMD_BLOCK_DATA, payload);
  link.Deliver(wire);
  ASSERT_EQ(Receive(), FRAME_BAD_SUM);
  EXPECT_EQ(BufferHead(8), Bytes(wire.begin() + 5, wire.end()));
  EXPECT_EQ(buffer[4 + 3], wire.back());
}

TEST_F(FrameCodecTest, LongestLengthFieldFitsTheBuffer) {
  Bytes payload(65535);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 13);
  const Bytes wire = WireFrame(0x01, CMD_BLOCK_DATA, payload);
  // The queue holds 8191 bytes: feed it a piece each millisecond as it drains.
  for (size_t off = 0, t = 0; off < wire.size(); off += 8000, ++t) {
    const size_t end = std::min(wire.size(), off + 8000);
    link.DeliverAt(start + t, Bytes(wire.begin() + static_cast<long>(off),
                                    wire.begin() + static_cast<long>(end)));
  }
  ASSERT_EQ(Receive(), FRAME_OK);
  EXPECT_EQ(GetBE16(buffer.data() + 2), 65535);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), buffer.begin() + 4));
  EXPECT_EQ(buffer[4 + 65535], wire.back());
}

TEST_F(FrameCodecTest, ReceivedFramesAreTracedWithTheirResult) {
  TraceFrames();
  link.Deliver(WireFrame(0x05, CMD_FINISH, {7}));
  link.Deliver(WireFrameBadSum(0x06, CMD_FINISH, {}));
  EXPECT_EQ(Receive(), FRAME_OK);
  EXPECT_EQ(Receive(), FRAME_BAD_SUM);
  ASSERT_EQ(traces.size(), 2u);
  EXPECT_FALSE(traces[0].sent);
  EXPECT_EQ(traces[0].body, Bytes({0x05, CMD_FINISH, 0x00, 0x01, 7, 0x13}));
  EXPECT_EQ(traces[0].result, FRAME_OK);
  EXPECT_EQ(traces[1].body.size(), 5u);
  EXPECT_EQ(traces[1].result, FRAME_BAD_SUM);
}

// --- receiving: sync rules and time limits ------------------------------------------------

TEST_F(FrameCodecTest, QuietLineTimesOutAfterExactly500msWithoutPolling) {
  EXPECT_EQ(Receive(), FRAME_TIMEOUT);
  EXPECT_EQ(Elapsed(), 500u);
  EXPECT_THAT(link.waitDeadlines, ElementsAre(start + 500)) << "sleeps once, to the deadline";
}

TEST_F(FrameCodecTest, EachSyncByteGrantsAnother500ms) {
  const Bytes sync = Text("QzVk\r");
  for (size_t i = 0; i < sync.size(); ++i) link.DeliverAt(start + 499 * (i + 1), {sync[i]});
  const Bytes body = {0x03, CMD_REQUEST, 0x00, 0x00, 0x04};
  link.DeliverAt(start + 499 * 5 + 900, body);
  ASSERT_EQ(Receive(), FRAME_OK);
  EXPECT_EQ(BufferHead(5), body);
}

TEST_F(FrameCodecTest, GapAfterAPartialSyncTimesOut500msAfterTheLastLetter) {
  link.DeliverAt(start + 100, Text("Qz"));
  link.DeliverAt(start + 300, Text("V"));
  link.DeliverAt(start + 801, Text("k\r"));
  EXPECT_EQ(Receive(), FRAME_TIMEOUT);
  EXPECT_EQ(Elapsed(), 800u);
}

TEST_F(FrameCodecTest, NoiseBeforeTheSyncIsSkipped) {
  link.DeliverAt(start + 50, {0x00, 0xFF, 'z', 0x0D, 'k'});
  link.DeliverAt(start + 450, WireFrame(0x11, CMD_REQUEST, {1, 2, 3, 4}));
  ASSERT_EQ(Receive(), FRAME_OK);
  EXPECT_EQ(buffer[0], 0x11);
}

TEST_F(FrameCodecTest, NoiseDoesNotExtendTheFirstDeadline) {
  for (uint64_t t = 100; t <= 700; t += 100) link.DeliverAt(start + t, {0x55});
  link.DeliverAt(start + 700, WireFrame(0x11, CMD_REQUEST, {}));
  EXPECT_EQ(Receive(), FRAME_TIMEOUT);
  EXPECT_EQ(Elapsed(), 500u);
}

TEST_F(FrameCodecTest, FalseStartEndsTheCallAtOnceAndTheNextCallFindsTheFrame) {
  Bytes stream = Text("QzX");
  const Bytes frame = WireFrame(0x21, CMD_REQUEST, {});
  stream.insert(stream.end(), frame.begin(), frame.end());
  link.Deliver(stream);
  EXPECT_EQ(Receive(), FRAME_TIMEOUT);
  EXPECT_EQ(Elapsed(), 0u);
  ASSERT_EQ(Receive(), FRAME_OK);
  EXPECT_EQ(buffer[0], 0x21);
}

TEST_F(FrameCodecTest, RepeatedStartIsNotAcceptedInOneCall) {
  Bytes stream = Text("Qz");
  const Bytes first = WireFrame(0x21, CMD_REQUEST, {});
  stream.insert(stream.end(), first.begin(), first.end());
  link.Deliver(stream);
  link.DeliverAt(start + 300, WireFrame(0x22, CMD_REQUEST, {}));

  EXPECT_EQ(Receive(), FRAME_TIMEOUT) << "the second 'Q' breaks the first sync";
  EXPECT_EQ(Elapsed(), 0u);
  // The next call treats the rest of the first frame as noise and waits for a new sync.
  ASSERT_EQ(Receive(), FRAME_OK);
  EXPECT_EQ(buffer[0], 0x22);
}

TEST_F(FrameCodecTest, BodyHasOne1000msLimitEvenWhileBytesKeepArriving) {
  link.Deliver(Text("QzVk\r"));
  link.DeliverAt(start + 100, {0x01, CMD_BLOCK_DATA, 0x00, 20});
  for (uint64_t k = 0; k < 21; ++k) link.DeliverAt(start + 200 + 100 * k, {0x00});
  EXPECT_EQ(Receive(), FRAME_TIMEOUT);
  EXPECT_EQ(Elapsed(), 1000u);
}

TEST_F(FrameCodecTest, BodyCompletingJustBeforeTheLimitIsAccepted) {
  link.Deliver(Text("QzVk\r"));
  const Bytes wire = WireFrame(0x01, CMD_FINISH, {9, 9});
  link.DeliverAt(start + 999, Bytes(wire.begin() + 5, wire.end()));
  EXPECT_EQ(Receive(), FRAME_OK);
}

TEST_F(FrameCodecTest, LengthFieldBeyondWhatArrivesTimesOutInsideTheBuffer) {
  link.Deliver(Text("QzVk\r"));
  link.Deliver({0x01, CMD_BLOCK_DATA, 0xFF, 0xFF, 1, 2, 3});
  EXPECT_EQ(Receive(), FRAME_TIMEOUT);
  EXPECT_EQ(Elapsed(), 1000u);
}

// --- receiving: hang-up and close ---------------------------------------------------------

TEST_F(FrameCodecTest, HungUpLineWithEmptyQueueReturnsAtOnce) {
  link.HangUp();
  EXPECT_EQ(Receive(), FRAME_HANGUP);
  EXPECT_EQ(Elapsed(), 0u);
}

TEST_F(FrameCodecTest, FrameQueuedBeforeTheHangUpIsStillDelivered) {
  link.Deliver(WireFrame(0x31, CMD_FINISH, {}));
  link.HangUp();
  ASSERT_EQ(Receive(), FRAME_OK);
  EXPECT_EQ(buffer[0], 0x31);
  EXPECT_EQ(Receive(), FRAME_HANGUP);
}

TEST_F(FrameCodecTest, HangUpInTheMiddleOfABody) {
  link.Deliver(Text("QzVk\r"));
  link.Deliver({0x01, CMD_BLOCK_DATA, 0x00, 0x10});
  link.DeliverAt(start + 10, {0xAB});  // the last byte before the device goes away
  link.onAdvance = [this](uint64_t now) {
    if (now >= start + 10) link.HangUp();
  };
  EXPECT_EQ(Receive(), FRAME_HANGUP);
  EXPECT_EQ(Elapsed(), 10u);
}

TEST_F(FrameCodecTest, ClosedLinkWithEmptyQueueReturnsAtOnce) {
  link.CloseLink();
  EXPECT_EQ(Receive(), FRAME_TIMEOUT);
  EXPECT_EQ(Elapsed(), 0u);
  EXPECT_TRUE(link.waitDeadlines.empty());
}

TEST_F(FrameCodecTest, LinkClosedWhileWaitingEndsTheCallBeforeTheDeadline) {
  link.Deliver(Text("QzVk\r"));
  link.DeliverAt(start + 10, {0x01, CMD_BLOCK_DATA, 0x00, 0x10});
  link.onAdvance = [this](uint64_t now) {
    if (now >= start + 10) link.CloseLink();
  };
  EXPECT_EQ(Receive(), FRAME_TIMEOUT);
  EXPECT_LT(Elapsed(), 1000u);
}

}  // namespace
}  // namespace kestal
