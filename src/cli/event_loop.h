#pragma once
// The command line's "window thread": the thread that constructs the loop and calls Run()
// handles the calls posted to its CallQueue, in order, and ticks periodic timers on the steady
// clock.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

#include "transfer/call_queue.h"

namespace kestal::cli {

class EventLoop {
 public:
  using Task = std::function<void()>;
  using Clock = std::chrono::steady_clock;

  EventLoop();

  // Where other threads post their calls; the worker's notifications wait in it.
  CallQueue& Calls() { return calls_; }
  // Queues a call; false (and dropped) once the loop has been shut down.
  bool Post(Task task) { return calls_.Post(std::move(task)); }

  // Handles calls and timers until Quit() or Shutdown(). Calls queued before Quit() still run.
  void Run();
  // Makes Run() return once the calls queued so far have run. Any thread.
  void Quit();
  // Refuses new calls and releases every waiting caller, run or not. Any thread.
  void Shutdown();

  // Periodic timers, loop thread only. Starting an id that runs restarts it. The first tick
  // comes one period after the start.
  void StartTimer(int id, std::chrono::milliseconds period, Task onTick);
  void StopTimer(int id) { timers_.erase(id); }

 private:
  struct Timer {
    Clock::time_point due;
    std::chrono::milliseconds period;
    Task onTick;
  };

  void Wake();
  bool RunDueTimer();
  const Timer* NextTimer() const;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool woken_ = false;  // calls were posted since the loop last looked
  bool quit_ = false;
  std::map<int, Timer> timers_;  // loop thread only
  CallQueue calls_;              // last: its wake-up uses the members above
};

}  // namespace kestal::cli
