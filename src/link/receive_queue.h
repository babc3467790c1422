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
  // False when the queue is full. Producer side only.
  bool Push(uint8_t byte);
  // False when the queue is empty (`out` untouched). Consumer side only.
  bool Pop(uint8_t& out);
  // Queues all `count` bytes if they fit whole, else none. Producer side only.
  bool PushChunk(const uint8_t* data, size_t count);
  // Takes up to `max` bytes into `out`, in order; returns how many. Consumer side only.
  size_t PopChunk(uint8_t* out, size_t max);

 private:
  uint8_t ring_[kRingSize];
  std::atomic<uint32_t> putIndex_{0};
  std::atomic<uint32_t> takeIndex_{0};
};

}  // namespace kestal
