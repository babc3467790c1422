#include "cli/event_loop.h"

#include <utility>

namespace kestal::cli {

EventLoop::EventLoop() : calls_([this] { Wake(); }) {}

void EventLoop::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  wake_.notify_one();
}

void EventLoop::Run() {
  for (;;) {
    calls_.RunPending();
    if (calls_.Aborted()) break;
    std::unique_lock lock(mutex_);
    if (woken_) {
      woken_ = false;
      continue;
    }
    if (quit_) break;
    lock.unlock();
    if (RunDueTimer()) continue;
    lock.lock();
    if (woken_ || quit_) continue;
    if (const Timer* timer = NextTimer()) {
      wake_.wait_until(lock, timer->due);
    } else {
      wake_.wait(lock);
    }
  }
  std::lock_guard lock(mutex_);
  quit_ = false;
}

void EventLoop::Quit() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
}

void EventLoop::Shutdown() {
  calls_.Abort();
  Wake();
}

void EventLoop::StartTimer(int id, std::chrono::milliseconds period, Task onTick) {
  timers_[id] = Timer{Clock::now() + period, period, std::move(onTick)};
}

const EventLoop::Timer* EventLoop::NextTimer() const {
  const Timer* next = nullptr;
  for (const auto& [id, timer] : timers_) {
    if (next == nullptr || timer.due < next->due) next = &timer;
  }
  return next;
}

bool EventLoop::RunDueTimer() {
  const auto now = Clock::now();
  for (auto& [id, timer] : timers_) {
    if (timer.due > now) continue;
    // A loop that fell behind ticks once and resumes the rhythm, rather than catching up.
    timer.due += timer.period;
    if (timer.due <= now) timer.due = now + timer.period;
    Task onTick = timer.onTick;  // the tick may stop or restart its own timer
    onTick();
    return true;
  }
  return false;
}

}  // namespace kestal::cli
