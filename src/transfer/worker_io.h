#pragma once
// What both workers do alike: talk to the front end through the job's notifications, keep
// frame buffers, and wait for the receiver's next intact frame.
#include <cstdint>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "transfer/transfer_job.h"

namespace kestal::worker {

void SendStatus(TransferJob& job, int displayTime, const std::string& text);
void SendProgress(TransferJob& job, int percent);
void SendDone(TransferJob& job, int completed);

// One frame without its sync: sequence, command, 16-bit length, payload (and the received sum).
// Allocated once per worker run, never per frame.
class FrameBuffer {
 public:
  FrameBuffer() : m_bytes(FRAME_BUFFER_SIZE) {}

  uint8_t* Data() { return m_bytes.data(); }
  uint8_t Sequence() const { return m_bytes[0]; }
  uint8_t Command() const { return m_bytes[1]; }
  uint16_t Length() const { return GetBE16(&m_bytes[2]); }
  const uint8_t* Payload() const { return &m_bytes[FRAME_HEADER_SIZE]; }
  uint8_t* Payload() { return &m_bytes[FRAME_HEADER_SIZE]; }

  void SetHeader(uint8_t sequence, uint8_t command, uint16_t length);

 private:
  std::vector<uint8_t> m_bytes;
};

// Sends a frame with no payload.
void SendEmptyFrame(Link& link, FrameBuffer& tx, uint8_t sequence, uint8_t command);

enum class Wait { kFrame, kStopped, kHungUp };

// Receives until an intact frame arrives (kFrame), the job is stopped (kStopped) or the port
// hangs up while the job still runs (kHungUp). Time-outs and bad sums only lead to another try.
Wait WaitForFrame(TransferJob& job, FrameBuffer& rx);

}  // namespace kestal::worker
