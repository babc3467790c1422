#include "transfer/worker_io.h"

namespace kestal::worker {

void SendStatus(TransferJob& job, int displayTime, const std::string& text) {
  if (job.m_hNotifyWnd) job.m_hNotifyWnd->NotifyStatus(MakeStatusNote(displayTime, text));
}

void SendProgress(TransferJob& job, int percent) {
  if (job.m_hNotifyWnd) job.m_hNotifyWnd->NotifyProgress(percent);
}

void SendDone(TransferJob& job, int completed) {
  if (job.m_hNotifyWnd) job.m_hNotifyWnd->NotifyDone(completed);
}

void FrameBuffer::SetHeader(uint8_t sequence, uint8_t command, uint16_t length) {
  m_bytes[0] = sequence;
  m_bytes[1] = command;
  PutBE16(&m_bytes[2], length);
}

void SendEmptyFrame(Link& link, FrameBuffer& tx, uint8_t sequence, uint8_t command) {
  tx.SetHeader(sequence, command, 0);
  SendFrame(link, tx.Data());
}

Wait WaitForFrame(TransferJob& job, FrameBuffer& rx) {
  while (job.m_bRunning.load() != 0) {
    const int result = ReceiveFrame(rx.Data(), *job.m_pLink);
    if (result == FRAME_OK) return Wait::kFrame;
    // A stop closes the link, which may look like a hang-up; only a running job has lost its port.
    if (result == FRAME_HANGUP) return job.m_bRunning.load() != 0 ? Wait::kHungUp : Wait::kStopped;
  }
  return Wait::kStopped;
}

}  // namespace kestal::worker
