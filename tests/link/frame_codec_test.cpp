// The frame reader's time limits, on a manual clock: what a receiver's timing may and may not
// do before a frame is given up.
#include <gtest/gtest.h>

#include "support/fake_link.h"

namespace kestal {
namespace {

using testing::Bytes;
using testing::FakeLink;
using testing::WireFrame;

class FrameCodecTest : public ::testing::Test {
 protected:
  FrameResult Receive() { return ReceiveFrame(buffer_.data(), link_); }
  uint64_t Start() const { return start_; }

  FakeLink link_;
  const uint64_t start_ = link_.clock.NowMs();
  Bytes buffer_ = Bytes(kFrameBufferSize);
};

TEST_F(FrameCodecTest, EachSyncByteGrantsAnother500Ms) {
  const Bytes frame = WireFrame(1, CMD_REQUEST, {0, 0, 0, 9});
  link_.DeliverAt(Start() + 499, Bytes(frame.begin(), frame.begin() + 1));
  link_.DeliverAt(Start() + 998, Bytes(frame.begin() + 1, frame.end()));
  EXPECT_EQ(Receive(), FrameResult::Ok);
  EXPECT_EQ(buffer_[1], CMD_REQUEST);
}

TEST_F(FrameCodecTest, NoSyncWithin500MsTimesOut) {
  link_.DeliverAt(Start() + 500, WireFrame(1, CMD_REQUEST, {}));
  EXPECT_EQ(Receive(), FrameResult::Timeout);
  EXPECT_EQ(link_.clock.NowMs(), Start() + 500);
}

// A sync broken by a first letter starts afresh at that letter: a stray "Q" costs no frame.
TEST_F(FrameCodecTest, NoiseIsSkippedAndAFalseStartCostsNoFrame) {
  const Bytes frame = WireFrame(2, CMD_FINISH, {});
  for (Bytes noisy : {Bytes{0x00, 0x0D, 'Q'}, Bytes{'Q', 'z', 'V', 'k'}, Bytes{'Q', 'z', 'Q'}}) {
    noisy.insert(noisy.end(), frame.begin(), frame.end());
    link_.Deliver(noisy);
    EXPECT_EQ(Receive(), FrameResult::Ok) << noisy.size();
  }
  Bytes broken = {'Q', 'z', 'X'};
  broken.insert(broken.end(), frame.begin(), frame.end());
  link_.Deliver(broken);
  EXPECT_EQ(Receive(), FrameResult::Timeout);
  EXPECT_EQ(link_.clock.NowMs(), Start()) << "gave up at once, without waiting";
  EXPECT_EQ(Receive(), FrameResult::Ok);
}

TEST_F(FrameCodecTest, WholeBodyMustArriveWithin1000Ms) {
  for (const uint64_t lastByteMs : {999u, 1000u}) {
    FakeLink link;
    const Bytes frame = WireFrame(3, CMD_BLOCK_DATA, Bytes(40, 0xA5));
    const uint64_t synced = link.clock.NowMs();
    link.Deliver(Bytes(frame.begin(), frame.end() - 1));
    link.DeliverAt(synced + lastByteMs, Bytes(frame.end() - 1, frame.end()));
    const FrameResult expected = lastByteMs < 1000 ? FrameResult::Ok : FrameResult::Timeout;
    EXPECT_EQ(ReceiveFrame(buffer_.data(), link), expected) << lastByteMs;
  }
}

TEST_F(FrameCodecTest, BadSumIsReportedAndTracedAsDamaged) {
  bool traced = false;
  link_.frameTrace = [&](bool sent, const uint8_t*, size_t size, bool intact) {
    traced = !sent && size == kFrameHeaderSize + 2 + 1 && !intact;
  };
  link_.Deliver(WireFrame(4, CMD_SIZE_QUERY, {0, 2}, 1));
  EXPECT_EQ(Receive(), FrameResult::BadSum);
  EXPECT_TRUE(traced);
}

TEST_F(FrameCodecTest, HangUpComesOnlyAfterEveryReceivedByte) {
  const Bytes whole = WireFrame(5, CMD_SIZE_REPLY, {0, 0, 1, 0});
  const Bytes half = WireFrame(6, CMD_BLOCK_DATA, Bytes(20, 0x11));
  link_.Deliver(whole);
  link_.DeliverAt(Start() + 10, Bytes(half.begin(), half.begin() + 15));
  link_.HangUpAt(Start() + 10);
  EXPECT_EQ(Receive(), FrameResult::Ok);
  EXPECT_EQ(Receive(), FrameResult::HangUp);
  EXPECT_EQ(link_.Queue().Count(), 0u);
  EXPECT_EQ(link_.clock.NowMs(), Start() + 10) << "no time limit waited out on a dead line";
}

// The longest payload the 16-bit length allows, arriving over many reads as on a real line.
TEST_F(FrameCodecTest, LongestPayloadSurvivesTheRoundTrip) {
  Bytes payload(65535);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  Bytes body = {9, CMD_BLOCK_DATA, 0xFF, 0xFF};
  body.insert(body.end(), payload.begin(), payload.end());
  body.resize(kFrameBufferSize);
  size_t tracedSize = 0;
  link_.frameTrace = [&](bool, const uint8_t*, size_t size, bool) { tracedSize = size; };
  ASSERT_EQ(SendFrame(link_, body.data()), SendResult::Ok);
  EXPECT_EQ(link_.sent, WireFrame(9, CMD_BLOCK_DATA, payload));
  EXPECT_EQ(tracedSize, 65540u);

  const Bytes wire = link_.sent;
  for (size_t at = 0; at < wire.size(); at += 4096) {
    const auto end = wire.begin() + static_cast<long>(std::min(at + 4096, wire.size()));
    link_.DeliverAt(Start() + at / 4096, Bytes(wire.begin() + static_cast<long>(at), end));
  }
  ASSERT_EQ(Receive(), FrameResult::Ok);
  EXPECT_EQ(GetBE16(buffer_.data() + 2), 65535);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), buffer_.begin() + 4));
}

}  // namespace
}  // namespace kestal
