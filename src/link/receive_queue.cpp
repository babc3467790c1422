#include "link/receive_queue.h"

#include <cstring>

namespace kestal {

namespace {
constexpr uint32_t Next(uint32_t index) { return (index + 1) % ReceiveQueue::kRingSize; }
}  // namespace

void ReceiveQueue::Reset() {
  std::memset(m_abyRing, 0, sizeof m_abyRing);
  m_nPutIndex.store(0, std::memory_order_release);
  m_nTakeIndex.store(0, std::memory_order_release);
}

uint32_t ReceiveQueue::Count() const {
  const uint32_t put = m_nPutIndex.load(std::memory_order_acquire);
  const uint32_t take = m_nTakeIndex.load(std::memory_order_acquire);
  return (put - take + kRingSize) % kRingSize;
}

int ReceiveQueue::Push(uint8_t b) {
  const uint32_t put = m_nPutIndex.load(std::memory_order_relaxed);
  // Acquire pairs with the consumer's release: the slot it freed is no longer being read.
  const uint32_t take = m_nTakeIndex.load(std::memory_order_acquire);
  if (Next(put) == take) return 0;
  m_abyRing[put] = b;
  m_nPutIndex.store(Next(put), std::memory_order_release);
  return 1;
}

int ReceiveQueue::Pop(uint8_t& out) {
  const uint32_t take = m_nTakeIndex.load(std::memory_order_relaxed);
  // Acquire pairs with the producer's release: the byte at `take` is fully written.
  const uint32_t put = m_nPutIndex.load(std::memory_order_acquire);
  if (put == take) return 0;
  out = m_abyRing[take];
  m_nTakeIndex.store(Next(take), std::memory_order_release);
  return 1;
}

bool ReceiveQueue::PushChunk(const uint8_t* data, size_t n) {
  // All or nothing: a partial chunk would splice unrelated bytes together in the stream.
  if (kRingSize - Count() <= n) return false;
  for (size_t i = 0; i < n; ++i) Push(data[i]);
  return true;
}

}  // namespace kestal
