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

Wait WaitForFrame(WorkerContext& context, FrameBuffer& rx, uint64_t deadlineMs, bool reportDamage) {
  const std::atomic<bool>& running = context.state.running;
  Link& link = context.link;
  while (running.load()) {
    if (deadlineMs != kNoDeadline) {
      if (link.GetClock().NowMs() >= deadlineMs) return Wait::TimedOut;
      // Nothing here yet: sleep no later than the deadline, rather than a whole frame's wait.
      if (link.Queue().Count() == 0 && link.IsOpen() && !link.IsHungUp()) {
        link.WaitForData(deadlineMs);
        continue;
      }
    }
    const FrameResult result = ReceiveFrame(rx.Data(), link);
    if (result == FrameResult::Ok) return Wait::Frame;
    if (result == FrameResult::BadSum && reportDamage) return Wait::Damaged;
    // A stop closes the link, which may look like a hang-up; only a running transfer has lost
    // its port.
    if (result == FrameResult::HangUp) return running.load() ? Wait::HungUp : Wait::Stopped;
  }
  return Wait::Stopped;
}

}  // namespace kestal::worker
