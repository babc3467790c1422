#pragma once
// Single-producer, single-consumer byte ring between the reader thread and the frame reader.
// One slot always stays free, so an 8192-byte ring holds at most 8191 bytes.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kestal {

class ReceiveQueue {
 public:
  static constexpr uint32_t kRingSize = 8192;
  static constexpr uint32_t kCapacity = kRingSize - 1;

  ReceiveQueue() { Reset(); }

  // Empties the queue and zeroes its storage. Only while neither side is active.
  void Reset();
  // Bytes held, 0 to 8191.
  uint32_t Count() const;
  // 1 = stored; 0 = queue full. Producer side only.
  int Push(uint8_t b);
  // 1 = a byte was taken into `out`; 0 = queue empty, `out` untouched. Consumer side only.
  int Pop(uint8_t& out);
  // Queues all n bytes if they fit whole (kRingSize - Count() > n), else none. Producer side only.
  bool PushChunk(const uint8_t* data, size_t n);
  // Takes up to `max` bytes into `out`, in order; returns how many. Consumer side only.
  // The frame reader takes a frame's body this way rather than byte by byte.
  size_t PopChunk(uint8_t* out, size_t max);

 private:
  uint8_t m_abyRing[kRingSize];
  std::atomic<uint32_t> m_nPutIndex{0};
  std::atomic<uint32_t> m_nTakeIndex{0};
};

}  // namespace kestal
