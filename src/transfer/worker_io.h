#pragma once
// What both workers do alike: keep frame buffers, and wait for the receiver's next intact frame.
#include <cstdint>
#include <vector>

#include "link/frame_codec.h"
#include "transfer/workers.h"

namespace kestal::worker {

// One frame without its sync: sequence, command, 16-bit length, payload (and the received sum).
// Allocated once per worker run, never per frame.
class FrameBuffer {
 public:
  FrameBuffer() : bytes_(kFrameBufferSize) {}

  uint8_t* Data() { return bytes_.data(); }
  uint8_t Sequence() const { return bytes_[0]; }
  uint8_t Command() const { return bytes_[1]; }
  uint16_t Length() const { return GetBE16(&bytes_[2]); }
  const uint8_t* Payload() const { return &bytes_[kFrameHeaderSize]; }
  uint8_t* Payload() { return &bytes_[kFrameHeaderSize]; }

  void SetHeader(uint8_t sequence, uint8_t command, uint16_t length);

 private:
  std::vector<uint8_t> bytes_;
};

// Sends a frame with no payload.
void SendEmptyFrame(Link& link, FrameBuffer& tx, uint8_t sequence, uint8_t command);

enum class Wait { Frame, Damaged, Stopped, HungUp, TimedOut };

constexpr uint64_t kNoDeadline = UINT64_MAX;

// Receives until an intact frame arrives (Frame), the transfer is stopped (Stopped), the port
// hangs up while it still runs (HungUp) or the link's clock reaches `deadlineMs` (TimedOut).
// Time-outs of single frames only lead to another try; so do bad sums, unless `reportDamage`
// asks for them (Damaged).
Wait WaitForFrame(WorkerContext& context, FrameBuffer& rx, uint64_t deadlineMs = kNoDeadline,
                  bool reportDamage = false);

}  // namespace kestal::worker
