#pragma once
// Turns SIGINT, SIGTERM, SIGHUP, SIGQUIT and every other catchable signal that would end the
// process into calls on an ordinary thread, so the loop thread can handle them
// like a press of the Stop button. The signals are blocked and read from a signalfd: no handler
// runs at an arbitrary point of another thread.
#include <signal.h>

#include <functional>
#include <thread>

namespace kestal::cli {

class SignalWatcher {
 public:
  // Blocks the signals in the calling thread (and so in every thread it starts afterwards:
  // create the watcher before any other thread); `onSignal` runs on the watcher's thread with
  // the signal number.
  explicit SignalWatcher(std::function<void(int)> onSignal);
  // Ends the watcher thread and unblocks the signals again.
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void Watch();

  std::function<void(int)> onSignal_;
#ifndef _WIN32  // Windows calls a console control handler instead: signal_watcher_win32.cpp
  sigset_t previousMask_{};
  int signalFd_ = -1;
  int quit_[2] = {-1, -1};
  std::thread thread_;
#endif
};

#ifndef _WIN32
// The signals a watcher turns into stops: every catchable one whose default action ends the
// process, less those ignored when the program started (nohup).
sigset_t WatchedSignals();
#endif

}  // namespace kestal::cli
