#include "link/receive_queue.h"

#include <algorithm>
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
  // Copied in at most two pieces (up to the end of the storage, then from its start) and
  // published with one index store: per-byte stores cost more than the copy at full speed.
  const uint32_t put = m_nPutIndex.load(std::memory_order_relaxed);
  const size_t first = std::min<size_t>(n, kRingSize - put);
  std::memcpy(m_abyRing + put, data, first);
  std::memcpy(m_abyRing, data + first, n - first);
  m_nPutIndex.store(static_cast<uint32_t>((put + n) % kRingSize), std::memory_order_release);
  return true;
}

size_t ReceiveQueue::PopChunk(uint8_t* out, size_t max) {
  const uint32_t take = m_nTakeIndex.load(std::memory_order_relaxed);
  // Acquire pairs with the producer's release: the bytes up to `put` are fully written.
  const uint32_t put = m_nPutIndex.load(std::memory_order_acquire);
  const size_t n = std::min<size_t>(max, (put - take + kRingSize) % kRingSize);
  if (n == 0) return 0;
  const size_t first = std::min<size_t>(n, kRingSize - take);
  std::memcpy(out, m_abyRing + take, first);
  std::memcpy(out + first, m_abyRing, n - first);
  m_nTakeIndex.store(static_cast<uint32_t>((take + n) % kRingSize), std::memory_order_release);
  return n;
}

}  // namespace kestal
