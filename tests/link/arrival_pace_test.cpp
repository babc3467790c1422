// When the reader may leave the port alone: only while bytes come at the line's pace, for
// about the line time of what is still missing. Time points are made up; nothing sleeps.
#include "link/arrival_pace.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

using namespace std::chrono_literals;
using Micros = std::chrono::duration<double, std::micro>;

constexpr double kByteUs = 1e7 / 115200;  // 86.8 us per byte at 115200 8N1

class ArrivalPaceTest : public ::testing::Test {
 protected:
  // Pieces of `size` bytes, each arriving `every` after the previous one.
  void Arrive(int pieces, size_t size, std::chrono::microseconds every) {
    for (int i = 0; i < pieces; ++i) {
      m_now += every;
      pace.OnBytes(size, m_now);
    }
  }
  double NapUs(size_t missing) const { return Micros(pace.NapFor(missing)).count(); }

  ArrivalPace pace{115200};
  ArrivalPace::TimePoint m_now{};
};

TEST_F(ArrivalPaceTest, LineRatePiecesLetTheReaderSleepUntilTwoPiecesBeforeTheEnd) {
  Arrive(2, 11, 955us);
  // 242 bytes still to come take 21 ms; the nap ends two pieces earlier, each counted as at
  // least a millisecond.
  EXPECT_NEAR(NapUs(242), 242 * kByteUs - 2 * 1000.0, 1.0);
  // However much is missing, the nap is bounded.
  EXPECT_EQ(pace.NapFor(2048), ArrivalPace::kLongestNap);
  // Two pieces and a little more is not worth a nap of its own.
  EXPECT_EQ(pace.NapFor(30), ArrivalPace::Duration::zero());
  EXPECT_EQ(pace.NapFor(0), ArrivalPace::Duration::zero());
}

TEST_F(ArrivalPaceTest, BytesFasterThanTheLineAreNeverWaitedFor) {
  // A pseudo-terminal at full speed: kilobytes within microseconds.
  Arrive(3, 4096, 40us);
  EXPECT_EQ(pace.NapFor(2048), ArrivalPace::Duration::zero());
  // Twice the line rate is still too fast to be this line.
  ArrivalPace doubled(115200);
  ArrivalPace::TimePoint t{};
  for (int i = 0; i < 3; ++i) doubled.OnBytes(22, t += 900us);
  EXPECT_EQ(doubled.NapFor(242), ArrivalPace::Duration::zero());
}

TEST_F(ArrivalPaceTest, OnePieceAloneOrAfterAPauseIsNoEvidence) {
  Arrive(1, 11, 955us);
  EXPECT_EQ(pace.NapFor(242), ArrivalPace::Duration::zero());
  Arrive(1, 11, 955us);
  EXPECT_GT(pace.NapFor(242), ArrivalPace::Duration::zero());
  // After a pause the next piece starts a new stream, whose pace is not known yet.
  Arrive(1, 11, 20ms);
  EXPECT_EQ(pace.NapFor(242), ArrivalPace::Duration::zero());
}

TEST_F(ArrivalPaceTest, AfterALargeCatchUpReadOnlyTheLastPiecesRemain) {
  Arrive(2, 11, 955us);
  Arrive(1, 200, 17ms);  // what gathered during a nap: a new stream, read at once
  EXPECT_EQ(pace.NapFor(31), ArrivalPace::Duration::zero());
}

TEST(ArrivalPace, SlowerLinesScaleTheNap) {
  ArrivalPace pace(9600);  // 1.04 ms per byte, a byte at a time
  ArrivalPace::TimePoint t{};
  for (int i = 0; i < 3; ++i) pace.OnBytes(1, t += 1042us);
  EXPECT_NEAR(Micros(pace.NapFor(20)).count(), 20 * 1041.7 - 2 * 1041.7, 2.0);
}

TEST(ArrivalPace, UnknownLineSpeedNeverNaps) {
  ArrivalPace pace(0);
  ArrivalPace::TimePoint t{};
  for (int i = 0; i < 3; ++i) pace.OnBytes(11, t += 1ms);
  EXPECT_EQ(pace.NapFor(2048), ArrivalPace::Duration::zero());
}

}  // namespace
}  // namespace kestal
