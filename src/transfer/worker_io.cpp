#include "transfer/worker_io.h"

namespace kestal::worker {

void FrameBuffer::SetHeader(uint8_t sequence, uint8_t command, uint16_t length) {
  bytes_[0] = sequence;
  bytes_[1] = command;
  PutBE16(&bytes_[2], length);
}

void SendEmptyFrame(Link& link, FrameBuffer& tx, uint8_t sequence, uint8_t command) {
  tx.SetHeader(sequence, command, 0);
  SendFrame(link, tx.Data());
}

Wait WaitForFrame(WorkerContext& context, FrameBuffer& rx) {
  const std::atomic<bool>& running = context.state.running;
  while (running.load()) {
    const FrameResult result = ReceiveFrame(rx.Data(), context.link);
    if (result == FrameResult::Ok) return Wait::Frame;
    // A stop closes the link, which may look like a hang-up; only a running transfer has lost
    // its port.
    if (result == FrameResult::HangUp) return running.load() ? Wait::HungUp : Wait::Stopped;
  }
  return Wait::Stopped;
}

}  // namespace kestal::worker
