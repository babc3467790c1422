#pragma once
// Runs calls on one thread (the front end's "window thread") on behalf of others, one at a
// time and in the order they were posted. A worker posts its notifications (the end of an
// exchange with PostAndWait); the reader thread posts its notices. Each front end supplies only the
// wake-up: a function that makes its thread call RunPending() soon (a queued Qt call, a condition
// variable).
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kestal {

class CallQueue {
 public:
  using Call = std::function<void()>;

  // The constructing thread is the one that runs the calls. `wake` may be called on any thread
  // and must not block.
  explicit CallQueue(std::function<void()> wake);
  ~CallQueue() { Abort(); }
  CallQueue(const CallQueue&) = delete;
  CallQueue& operator=(const CallQueue&) = delete;

  // Queues a call; false (and dropped) once aborted.
  bool Post(Call call);
  // Queues a call and returns after it has run: true. Returns false, without running it, when
  // the queue is aborted before or while waiting, so no caller ever hangs. On the owning
  // thread itself the call runs at once.
  bool PostAndWait(Call call);
  // Owning thread: runs the calls queued so far, in order.
  void RunPending();
  // Any thread: drops what is queued, releases every waiter, refuses new calls.
  void Abort();
  bool Aborted() const;
  bool OnOwningThread() const { return std::this_thread::get_id() == owner_; }

 private:
  struct Queued {
    Call call;
    uint64_t ticket;  // calls run in ticket order, so one number tells which have run
  };

  const std::thread::id owner_;
  const std::function<void()> wake_;
  mutable std::mutex mutex_;
  std::condition_variable ran_;
  std::deque<Queued> pending_;
  uint64_t nextTicket_ = 1;
  uint64_t lastRunTicket_ = 0;
  bool aborted_ = false;
};

}  // namespace kestal
