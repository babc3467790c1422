#pragma once
// The command line's "window thread": the thread that calls Run() handles posted tasks one at a
// time, in order, and ticks periodic timers on the steady clock. Other threads post tasks, and
// may wait until their task has run (the synchronous notifications of a worker).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace kestal::cli {

class EventLoop {
 public:
  using Task = std::function<void()>;
  using Clock = std::chrono::steady_clock;

  // Queues a task; returns false (and drops it) once the loop has been shut down.
  bool Post(Task task);
  // Queues a task and returns after the loop thread has run it: true. Returns false without
  // running it when the loop is shut down before or while waiting, so no caller hangs.
  bool PostAndWait(Task task);

  // Handles tasks and timers until Quit(). Tasks queued before Quit() still run first.
  void Run();
  // Makes Run() return once the tasks queued so far have run. Any thread.
  void Quit();
  // Refuses new tasks and releases every PostAndWait caller, run or not. Any thread.
  void Shutdown();
  bool IsShutDown() const;

  // Periodic timers, loop thread only. Starting an id that runs restarts it. The first tick
  // comes one period after the start.
  void StartTimer(int id, std::chrono::milliseconds period, Task onTick);
  void StopTimer(int id);
  bool TimerRunning(int id) const;

 private:
  struct Timer {
    Clock::time_point due;
    std::chrono::milliseconds period;
    Task onTick;
  };
  struct Queued {
    Task task;
    uint64_t ticket;  // non-zero when a PostAndWait caller waits for it
  };

  // With the lock held: the next due timer, or nullptr.
  const Timer* NextTimer() const;
  bool RunDueTimer(std::unique_lock<std::mutex>& lock);
  void MarkDone(uint64_t ticket);

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;  // loop thread: tasks, timers, quit
  std::condition_variable m_done;  // PostAndWait callers
  std::deque<Queued> m_tasks;
  std::map<int, Timer> m_timers;
  uint64_t m_nextTicket = 1;
  uint64_t m_lastDoneTicket = 0;  // tasks run in ticket order, so one number tells who is done
  bool m_quit = false;
  bool m_shutDown = false;
};

}  // namespace kestal::cli
