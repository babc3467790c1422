#include "transfer/call_queue.h"

#include <utility>

namespace kestal {

CallQueue::CallQueue(std::function<void()> wake)
    : owner_(std::this_thread::get_id()), wake_(std::move(wake)) {}

bool CallQueue::Post(Call call) {
  {
    std::lock_guard lock(mutex_);
    if (aborted_) return false;
    pending_.push_back({std::move(call), nextTicket_++});
  }
  wake_();
  return true;
}

bool CallQueue::PostAndWait(Call call) {
  if (OnOwningThread()) {
    if (Aborted()) return false;
    call();
    return true;
  }
  std::unique_lock lock(mutex_);
  if (aborted_) return false;
  const uint64_t ticket = nextTicket_++;
  pending_.push_back({std::move(call), ticket});
  lock.unlock();
  wake_();
  lock.lock();
  ran_.wait(lock, [&] { return lastRunTicket_ >= ticket || aborted_; });
  return lastRunTicket_ >= ticket;
}

void CallQueue::RunPending() {
  std::unique_lock lock(mutex_);
  // Calls posted while these run wait for the next wake-up, so a caller that keeps posting
  // cannot hold the owning thread here for ever.
  const uint64_t last = nextTicket_ - 1;
  while (!aborted_ && !pending_.empty() && pending_.front().ticket <= last) {
    Queued next = std::move(pending_.front());
    pending_.pop_front();
    lock.unlock();
    next.call();
    lock.lock();
    lastRunTicket_ = next.ticket;
    ran_.notify_all();
  }
}

void CallQueue::Abort() {
  {
    std::lock_guard lock(mutex_);
    aborted_ = true;
    pending_.clear();
  }
  ran_.notify_all();
}

bool CallQueue::Aborted() const {
  std::lock_guard lock(mutex_);
  return aborted_;
}

}  // namespace kestal
