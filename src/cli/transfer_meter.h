#pragma once
// Follows the data a transfer moves by watching its frames (the link's frame trace, called on
// the worker thread), so the progress bar can show bytes, rate and time left.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kestal::cli {

class TransferMeter {
 public:
  // Feed from Link::frameTrace: `body` is sequence, command, length, payload and sum.
  void OnFrame(bool sent, const uint8_t* body, size_t size, int result);

  // Bytes of the data set moved so far.
  uint32_t Done() const { return m_done.load(std::memory_order_relaxed); }
  // Size of the data set as the receiver reported it (transfers to the computer); 0 = unknown.
  uint32_t ReportedSize() const { return m_reportedSize.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint32_t> m_done{0};
  std::atomic<uint32_t> m_reportedSize{0};
  std::atomic<uint32_t> m_askedEnd{0};     // end of the block we last asked the receiver for
  std::atomic<uint16_t> m_askedLength{0};  // and its length
};

}  // namespace kestal::cli
