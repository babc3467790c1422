#include "cli/event_loop.h"

#include <utility>

namespace kestal::cli {

bool EventLoop::Post(Task task) {
  {
    std::lock_guard lock(m_mutex);
    if (m_shutDown) return false;
    m_tasks.push_back({std::move(task), 0});
  }
  m_wake.notify_one();
  return true;
}

bool EventLoop::PostAndWait(Task task) {
  std::unique_lock lock(m_mutex);
  if (m_shutDown) return false;
  const uint64_t ticket = m_nextTicket++;
  m_tasks.push_back({std::move(task), ticket});
  m_wake.notify_one();
  m_done.wait(lock, [&] { return m_lastDoneTicket >= ticket || m_shutDown; });
  return m_lastDoneTicket >= ticket;
}

void EventLoop::Run() {
  std::unique_lock lock(m_mutex);
  while (!m_shutDown) {
    if (!m_tasks.empty()) {
      Queued next = std::move(m_tasks.front());
      m_tasks.pop_front();
      lock.unlock();
      next.task();
      lock.lock();
      if (next.ticket != 0) MarkDone(next.ticket);
      continue;
    }
    if (m_quit) break;
    if (RunDueTimer(lock)) continue;
    if (const Timer* timer = NextTimer()) {
      m_wake.wait_until(lock, timer->due);
    } else {
      m_wake.wait(lock);
    }
  }
  m_quit = false;
}

void EventLoop::Quit() {
  {
    std::lock_guard lock(m_mutex);
    m_quit = true;
  }
  m_wake.notify_one();
}

void EventLoop::Shutdown() {
  {
    std::lock_guard lock(m_mutex);
    m_shutDown = true;
    m_tasks.clear();
  }
  m_wake.notify_all();
  m_done.notify_all();
}

bool EventLoop::IsShutDown() const {
  std::lock_guard lock(m_mutex);
  return m_shutDown;
}

void EventLoop::StartTimer(int id, std::chrono::milliseconds period, Task onTick) {
  std::lock_guard lock(m_mutex);
  m_timers[id] = Timer{Clock::now() + period, period, std::move(onTick)};
}

void EventLoop::StopTimer(int id) {
  std::lock_guard lock(m_mutex);
  m_timers.erase(id);
}

bool EventLoop::TimerRunning(int id) const {
  std::lock_guard lock(m_mutex);
  return m_timers.count(id) != 0;
}

const EventLoop::Timer* EventLoop::NextTimer() const {
  const Timer* next = nullptr;
  for (const auto& [id, timer] : m_timers) {
    if (next == nullptr || timer.due < next->due) next = &timer;
  }
  return next;
}

bool EventLoop::RunDueTimer(std::unique_lock<std::mutex>& lock) {
  const auto now = Clock::now();
  for (auto& [id, timer] : m_timers) {
    if (timer.due > now) continue;
    // A loop that fell behind ticks once and resumes the rhythm, rather than catching up.
    timer.due += timer.period;
    if (timer.due <= now) timer.due = now + timer.period;
    Task onTick = timer.onTick;  // the tick may stop or restart its own timer
    lock.unlock();
    onTick();
    lock.lock();
    return true;
  }
  return false;
}

void EventLoop::MarkDone(uint64_t ticket) {
  m_lastDoneTicket = ticket;
  m_done.notify_all();
}

}  // namespace kestal::cli
