#include "link/receive_queue.h"

#include <algorithm>
#include <cstring>

namespace kestal {

void ReceiveQueue::Reset() {
  std::memset(ring_, 0, sizeof ring_);
  putIndex_.store(0, std::memory_order_release);
  takeIndex_.store(0, std::memory_order_release);
}

uint32_t ReceiveQueue::Count() const {
  const uint32_t put = putIndex_.load(std::memory_order_acquire);
  const uint32_t take = takeIndex_.load(std::memory_order_acquire);
  return (put - take + kRingSize) % kRingSize;
}

bool ReceiveQueue::Push(uint8_t byte) { return PushChunk(&byte, 1); }

bool ReceiveQueue::Pop(uint8_t& out) { return PopChunk(&out, 1) == 1; }

bool ReceiveQueue::PushChunk(const uint8_t* data, size_t count) {
  // All or nothing: a partial chunk would splice unrelated bytes together in the stream.
  if (kRingSize - Count() <= count) return false;
  // Copied in at most two pieces and published with one index store; the release pairs with
  // the consumer's acquire, so the bytes are written before it can see them.
  const uint32_t put = putIndex_.load(std::memory_order_relaxed);
  const size_t first = std::min<size_t>(count, kRingSize - put);
  std::memcpy(ring_ + put, data, first);
  std::memcpy(ring_, data + first, count - first);
  putIndex_.store(static_cast<uint32_t>((put + count) % kRingSize), std::memory_order_release);
  return true;
}

size_t ReceiveQueue::PopChunk(uint8_t* out, size_t max) {
  const uint32_t take = takeIndex_.load(std::memory_order_relaxed);
  // Acquire pairs with the producer's release: the bytes up to `put` are fully written.
  const uint32_t put = putIndex_.load(std::memory_order_acquire);
  const size_t count = std::min<size_t>(max, (put - take + kRingSize) % kRingSize);
  if (count == 0) return 0;
  const size_t first = std::min<size_t>(count, kRingSize - take);
  std::memcpy(out, ring_ + take, first);
  std::memcpy(out + first, ring_, count - first);
  takeIndex_.store(static_cast<uint32_t>((take + count) % kRingSize), std::memory_order_release);
  return count;
}

}  // namespace kestal
