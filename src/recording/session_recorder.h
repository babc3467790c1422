#pragma once
// Records a session: taps the link (bytes as written, bytes as the reader took them, the port
// going away), stamps each with the monotonic clock and hands it to a thread of its own that
// writes the file. The threads of the transfer only append to a list under a short lock, so a
// slow or full disk costs them nothing; a recording that cannot be written is given up, never
// the transfer.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/link.h"
#include "recording/recording.h"

namespace kestal::recording {

class SessionRecorder final : public ByteTap {
 public:
  SessionRecorder() = default;
  ~SessionRecorder() override;
  SessionRecorder(const SessionRecorder&) = delete;
  SessionRecorder& operator=(const SessionRecorder&) = delete;

  // Creates `path` (UTF-8), writes the header (stamped with the time now when it has no start
  // time) and starts the writer. False, with the reason in Problem(), when the file cannot be
  // created or is the header's file, the one the session transfers.
  bool Start(const std::string& path, RecordingHeader header);
  // Writes the end line and closes the file. Returns why the recording is incomplete, or an
  // empty text when it holds the whole session.
  std::string Finish(const std::string& outcome, int exitStatus);
  const std::string& Problem() const { return problem_; }

  void Sent(const uint8_t* data, size_t size) override { Add(Kind::Sent, data, size); }
  void Received(const uint8_t* data, size_t size) override { Add(Kind::Received, data, size); }
  void HungUp() override { Add(Kind::HangUp, nullptr, 0); }

  // Events waiting for the writer beyond this many bytes mean the disk cannot keep up: the
  // recording is given up rather than let memory grow without end.
  static constexpr size_t kMaxBacklogBytes = 64u << 20;

 private:
  enum class Kind { Sent, Received, HangUp };
  struct Event {
    Kind kind;
    uint64_t micros;
    std::vector<uint8_t> bytes;
  };

  void Add(Kind kind, const uint8_t* data, size_t size);
  uint64_t Micros() const;
  void WriteLoop();
  bool WriteLines(const std::vector<Event>& events);
  void GiveUp(const std::string& why);  // writer thread, or before it starts

  std::chrono::steady_clock::time_point start_{};
  std::ofstream file_;
  std::string path_;
  std::string problem_;  // writer thread until it is joined

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Event> pending_;
  size_t pendingBytes_ = 0;
  bool recording_ = false;  // taking events
  bool finishing_ = false;
  std::string backlogProblem_;  // set under the lock by a producer that hit the limit
  std::thread writer_;
};

}  // namespace kestal::recording
