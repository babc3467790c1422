#pragma once
// Turns SIGINT and SIGTERM into calls on an ordinary thread (self-pipe), so the loop thread
// can handle them like a press of the Stop button.
#include <functional>
#include <thread>

namespace kestal::cli {

class SignalWatcher {
 public:
  // Installs the handlers; `onSignal` runs on the watcher's thread with the signal number.
  explicit SignalWatcher(std::function<void(int)> onSignal);
  // Restores the previous handlers and ends the watcher thread.
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void Watch();

  std::function<void(int)> m_onSignal;
  int m_pipe[2] = {-1, -1};
  std::thread m_thread;
};

}  // namespace kestal::cli
