#include "transfer/worker_harness.h"

#include <dirent.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

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

std::vector<int> RecordingNotify::ProgressValues() const {
  std::vector<int> values;
  for (const auto& n : notices)
    if (n.kind == Notice::kProgress) values.push_back(n.value);
  return values;
}

std::vector<int> RecordingNotify::DoneValues() const {
  std::vector<int> values;
  for (const auto& n : notices)
    if (n.kind == Notice::kDone) values.push_back(n.value);
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

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestal-transfer-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_root = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_root, ignored);
}

std::string ScratchDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  const std::string path = Path(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<std::string> ScratchDir::Entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(m_root))
    names.push_back(entry.path().filename().string());
  return names;
}

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(generator());
  return bytes;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
