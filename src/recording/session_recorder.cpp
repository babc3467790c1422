#include "recording/session_recorder.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/utf8_path.h"

namespace kestal::recording {
namespace {

// The writer gathers what came in this long before it writes: a few writes a second, however
// many pieces the line delivers.
constexpr auto kBatchPeriod = std::chrono::milliseconds(50);

std::string SystemError(const char* fallback) {
  return errno != 0 ? std::strerror(errno) : fallback;
}

}  // namespace

SessionRecorder::~SessionRecorder() {
  if (!writer_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  wake_.notify_one();
  writer_.join();
}

bool SessionRecorder::Start(const std::string& path, const RecordingHeader& header) {
  path_ = path;
  errno = 0;
  file_.open(Utf8Path(path), std::ios::binary | std::ios::trunc);
  if (!file_ || !(file_ << HeaderLine(header) << '\n').flush()) {
    problem_ = "cannot write " + path + ": " + SystemError("cannot be created");
    return false;
  }
  start_ = std::chrono::steady_clock::now();
  recording_ = true;
  writer_ = std::thread(&SessionRecorder::WriteLoop, this);
  return true;
}

uint64_t SessionRecorder::Micros() const {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::steady_clock::now() - start_)
                                   .count());
}

void SessionRecorder::Add(Kind kind, const uint8_t* data, size_t size) {
  const uint64_t micros = Micros();
  bool wake = false;  // the writer sleeps until a first event, or the end of the backlog
  {
    std::lock_guard lock(mutex_);
    if (!recording_) return;
    if (pendingBytes_ + size > kMaxBacklogBytes) {
      recording_ = false;
      backlogProblem_ = "the disk did not keep up with the line";
      wake = true;
    } else {
      wake = pending_.empty();
      pending_.push_back({kind, micros, std::vector<uint8_t>(data, data + size)});
      pendingBytes_ += size;
    }
  }
  if (wake) wake_.notify_one();
}

void SessionRecorder::WriteLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return !pending_.empty() || finishing_ || !backlogProblem_.empty(); });
    if (!finishing_) wake_.wait_for(lock, kBatchPeriod, [&] { return finishing_; });
    std::vector<Event> batch;
    batch.swap(pending_);
    pendingBytes_ = 0;
    const std::string backlog = std::exchange(backlogProblem_, {});
    const bool last = finishing_;
    lock.unlock();
    if (!backlog.empty()) GiveUp(backlog);
    if (problem_.empty() && !WriteLines(batch)) {
      GiveUp("cannot write " + path_ + ": " + SystemError("write error"));
    }
    lock.lock();
    if (last) return;
  }
}

bool SessionRecorder::WriteLines(const std::vector<Event>& events) {
  errno = 0;
  for (const Event& event : events) {
    if (event.kind == Kind::HangUp) {
      file_ << HangUpLine(event.micros) << '\n';
    } else {
      file_ << BytesLine(event.micros, event.kind == Kind::Received, event.bytes.data(),
                         event.bytes.size())
            << '\n';
    }
  }
  return static_cast<bool>(file_.flush());
}

void SessionRecorder::GiveUp(const std::string& why) {
  if (problem_.empty()) problem_ = why;
  std::lock_guard lock(mutex_);
  recording_ = false;
  pending_.clear();
}

std::string SessionRecorder::Finish(const std::string& outcome, int exitStatus) {
  if (!writer_.joinable()) return problem_;
  const uint64_t micros = Micros();
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
    recording_ = false;
  }
  wake_.notify_one();
  writer_.join();
  if (!problem_.empty()) return problem_;
  errno = 0;
  file_ << EndLine({micros, outcome, exitStatus}) << '\n';
  file_.close();
  if (!file_) problem_ = "cannot write " + path_ + ": " + SystemError("write error");
  return problem_;
}

}  // namespace kestal::recording
