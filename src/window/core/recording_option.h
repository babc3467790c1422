#pragma once
// "Record Next Transfer...": the next transfer's session is recorded into the file the user
// named, as `kestal-cli --record` records one (for `kestal-cli trace` and `kestal-sim
// --replay`). A recording that cannot be written is reported and dropped; the transfer goes on.
// Window thread only; a finished recording is closed on a thread of its own, as the disk may be
// slow to take what is left of it.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "recording/session_recorder.h"
#include "transfer/call_queue.h"

namespace kestal::window {

class RecordingOption {
 public:
  using Note = std::function<void(const std::string& note)>;

  explicit RecordingOption(CallQueue& calls);
  // A recording still open (the window closed during its transfer) ends as stopped; the
  // recordings being closed are waited for.
  ~RecordingOption();
  RecordingOption(const RecordingOption&) = delete;
  RecordingOption& operator=(const RecordingOption&) = delete;

  // How the link gets its tap (null: none); called only while the link is closed.
  void SetLinkTap(std::function<void(ByteTap*)> setTap) { setTap_ = std::move(setTap); }

  // The file the next transfer is recorded into; empty: none.
  const std::string& Armed() const { return path_; }
  void Arm(const std::string& path) { path_ = path; }
  void Disarm() { path_.clear(); }

  // Right before a transfer starts, while the link is closed: starts recording into the armed
  // file, if any. Returns what the user is told ("Recording to ...", "Not recording: ...").
  std::string Begin(const recording::RecordingHeader& header);
  // A transfer began with the option armed and has not ended.
  bool Began() const { return began_; }
  // The transfer was refused before it opened the port: its recording goes, the option stays.
  void Cancel();
  // The transfer that began has ended and its link is closed: the option is spent, and `done`
  // runs on the window thread with where the recording went.
  void End(const std::string& outcome, int exitStatus, Note done);

 private:
  void Detach();

  CallQueue& calls_;
  std::function<void(ByteTap*)> setTap_;
  std::string path_;
  bool began_ = false;
  std::unique_ptr<recording::SessionRecorder> recorder_;  // the running transfer's
  std::string dropped_;  // why the running transfer is not recorded
  std::map<int, std::thread> closers_;
  int nextCloser_ = 0;
};

}  // namespace kestal::window
