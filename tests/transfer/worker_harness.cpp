#include "transfer/worker_harness.h"

namespace kestal::testing {

void RecordingNotify::NotifyStatus(std::unique_ptr<StatusNote> note) {
  notices.push_back({Notice::kStatus, note->nDisplayTime, note->szText});
}

void RecordingNotify::NotifyProgress(int percent) {
  notices.push_back({Notice::kProgress, percent, {}});
  if (onProgress) onProgress(percent);
}

void RecordingNotify::NotifyDone(int completed) {
  notices.push_back({Notice::kDone, completed, {}});
  m_job.m_bRunning = 0;
  m_job.m_bTransferActive = 0;
  m_job.m_nWatchdog = -1;
  m_link.CloseLink();
}

void RecordingNotify::NotifyWorkerExit(bool completed) {
  notices.push_back({Notice::kExit, completed ? 1 : 0, {}});
}

std::vector<std::string> RecordingNotify::StatusTexts() const {
  std::vector<std::string> texts;
  for (const auto& n : notices)
    if (n.kind == Notice::kStatus) texts.push_back(n.text);
  return texts;
}

std::vector<int> RecordingNotify::Values(Notice::Kind kind) const {
  std::vector<int> values;
  for (const auto& n : notices)
    if (n.kind == kind) values.push_back(n.value);
  return values;
}

int RecordingNotify::CountStatus(const std::string& text) const {
  int count = 0;
  for (const auto& n : notices)
    if (n.kind == Notice::kStatus && n.text == text) ++count;
  return count;
}

int RecordingNotify::DisplayTimeOf(const std::string& text) const {
  for (const auto& n : notices)
    if (n.kind == Notice::kStatus && n.text == text) return n.value;
  return -99;
}

std::vector<uint8_t> Be16(uint16_t value) {
  return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

std::vector<uint8_t> Be32(uint32_t value) {
  return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

std::vector<uint8_t> BlockRequestPayload(uint16_t length, uint32_t offset) {
  std::vector<uint8_t> payload = Be16(length);
  const auto off = Be32(offset);
  payload.insert(payload.end(), off.begin(), off.end());
  return payload;
}

WorkerTestBase::WorkerTestBase() : m_startMs(clock.NowMs()) {
  job.m_hNotifyWnd = &notify;
  job.m_pLink = &link;
  job.m_bRunning = 1;
  job.m_bTransferActive = 1;
  link.onAdvance = [this](uint64_t now) {
    if (now - m_startMs > 3600 * 1000) {
      ADD_FAILURE() << "worker still waiting after a virtual hour";
      StopLikeUser();
      return;
    }
    if (m_onWait) m_onWait(now);
  };
}

void WorkerTestBase::StopLikeUser() {
  job.m_nWatchdog = -1;
  job.m_bTransferActive = 0;
  job.m_bRunning = 0;
  link.CloseLink();
}

std::vector<SentFrame> WorkerTestBase::FramesWithCommand(uint8_t command) const {
  std::vector<SentFrame> frames;
  for (const auto& f : link.sentFrames)
    if (f.command == command) frames.push_back(f);
  return frames;
}

}  // namespace kestal::testing
