#include "link/receive_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace kestal {
namespace {

uint8_t PatternByte(size_t i) { return static_cast<uint8_t>((i * 7 + i / 256) & 0xFF); }

// The ring is 8 KB; keep it off the test thread's stack frame layout concerns.
class ReceiveQueueTest : public ::testing::Test {
 protected:
  std::unique_ptr<ReceiveQueue> owned = std::make_unique<ReceiveQueue>();
  ReceiveQueue& queue = *owned;

  void PushPattern(size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) ASSERT_EQ(queue.Push(PatternByte(i)), 1) << i;
  }
  void ExpectPattern(size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) {
      uint8_t b = 0;
      ASSERT_EQ(queue.Pop(b), 1) << i;
      ASSERT_EQ(b, PatternByte(i)) << i;
    }
  }
};

TEST_F(ReceiveQueueTest, PopOnEmptyQueueLeavesOutputUntouched) {
  uint8_t out = 0xA5;
  EXPECT_EQ(queue.Count(), 0u);
  EXPECT_EQ(queue.Pop(out), 0);
  EXPECT_EQ(out, 0xA5);
}

TEST_F(ReceiveQueueTest, HoldsAtMost8191BytesAndRefusesTheNext) {
  PushPattern(0, ReceiveQueue::kCapacity);
  EXPECT_EQ(queue.Count(), 8191u);
  EXPECT_EQ(queue.Push(0xEE), 0);
  EXPECT_EQ(queue.Count(), 8191u);
  ExpectPattern(0, ReceiveQueue::kCapacity);
  uint8_t out = 0x5A;
  EXPECT_EQ(queue.Pop(out), 0) << "the refused byte must not have been stored";
  EXPECT_EQ(out, 0x5A);
}

TEST_F(ReceiveQueueTest, BytesAcrossTheEndOfStorageComeOutInOrder) {
  PushPattern(0, 8000);
  ExpectPattern(0, 8000);
  // Indices now sit near the end: the next bytes wrap from 8191 to 0.
  PushPattern(8000, 1000);
  EXPECT_EQ(queue.Count(), 1000u);
  ExpectPattern(8000, 1000);
  EXPECT_EQ(queue.Count(), 0u);
}

TEST_F(ReceiveQueueTest, FullQueueAfterWrapStillHolds8191) {
  PushPattern(0, 5000);
  ExpectPattern(0, 5000);
  PushPattern(5000, ReceiveQueue::kCapacity);
  EXPECT_EQ(queue.Count(), 8191u);
  EXPECT_EQ(queue.Push(0), 0);
  ExpectPattern(5000, ReceiveQueue::kCapacity);
}

TEST_F(ReceiveQueueTest, ResetEmptiesTheQueue) {
  PushPattern(0, 3000);
  ExpectPattern(0, 100);
  queue.Reset();
  EXPECT_EQ(queue.Count(), 0u);
  uint8_t out = 0;
  EXPECT_EQ(queue.Pop(out), 0);
  PushPattern(0, ReceiveQueue::kCapacity);  // full capacity available again
  ExpectPattern(0, ReceiveQueue::kCapacity);
}

TEST_F(ReceiveQueueTest, ChunkIsQueuedOnlyWhenItFitsWhole) {
  PushPattern(0, 6144);
  std::vector<uint8_t> chunk(2048);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = PatternByte(6144 + i);

  EXPECT_FALSE(queue.PushChunk(chunk.data(), 2048));
  EXPECT_EQ(queue.Count(), 6144u) << "a refused chunk leaves nothing behind";

  EXPECT_TRUE(queue.PushChunk(chunk.data(), 2047));
  EXPECT_EQ(queue.Count(), 8191u);
  ExpectPattern(0, 6144 + 2047);
}

TEST_F(ReceiveQueueTest, ChunkLimitsOnEmptyQueue) {
  std::vector<uint8_t> chunk(ReceiveQueue::kRingSize, 0x42);
  EXPECT_FALSE(queue.PushChunk(chunk.data(), ReceiveQueue::kRingSize));
  EXPECT_EQ(queue.Count(), 0u);
  EXPECT_TRUE(queue.PushChunk(chunk.data(), ReceiveQueue::kCapacity));
  EXPECT_EQ(queue.Count(), 8191u);
}

// One producer thread and one consumer thread, many wraps: every byte arrives once, in order.
TEST_F(ReceiveQueueTest, ProducerAndConsumerThreadsKeepOrder) {
  constexpr size_t kTotal = 300000;
  std::thread producer([this] {
    for (size_t i = 0; i < kTotal;) {
      if (queue.Push(PatternByte(i)) == 1) {
        ++i;
      } else {
        std::this_thread::yield();
      }
    }
  });
  size_t received = 0;
  size_t mismatches = 0;
  while (received < kTotal) {
    uint8_t b = 0;
    if (queue.Pop(b) == 1) {
      if (b != PatternByte(received)) ++mismatches;
      ++received;
    } else {
      std::this_thread::yield();
    }
  }
  producer.join();
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(queue.Count(), 0u);
}

}  // namespace
}  // namespace kestal
