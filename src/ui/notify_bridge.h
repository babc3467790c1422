#pragma once
// Carries a worker's notifications to the window thread. Each synchronous notification is
// queued to the window thread and the worker waits until its handler has run, so handlers run
// one at a time and in order. Abort() (window thread, when the window closes) makes every
// waiting and every later notification return at once without reaching the window.
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "transfer/transfer_job.h"

namespace kestal {

class NotifyBridge : public QObject, public TransferNotify {
  Q_OBJECT

 public:
  struct Handlers {
    std::function<void(std::unique_ptr<StatusNote>)> status;
    std::function<void(int percent)> progress;
    std::function<void(int completed)> done;
    std::function<void(bool completed)> workerExit;
  };

  // Lives on (and delivers to) the thread that constructs it.
  explicit NotifyBridge(Handlers handlers);
  ~NotifyBridge() override;

  void NotifyStatus(std::unique_ptr<StatusNote> note) override;
  void NotifyProgress(int percent) override;
  void NotifyDone(int completed) override;
  void NotifyWorkerExit(bool completed) override;

  // Runs `call` on the window thread later, unless aborted by then. Safe from any thread.
  void Post(std::function<void()> call);

  void Abort();
  bool Aborted() const { return m_bAborted.load(std::memory_order_acquire); }

 private:
  // Runs `call` on the window thread and waits for it, or for Abort().
  void CallAndWait(std::function<void()> call);
  // Window thread: runs the queued calls in order.
  Q_INVOKABLE void Drain();

  Handlers m_handlers;
  std::mutex m_mutex;
  // Calls are handed over here, under m_mutex; the queued Drain() only says that some wait.
  std::deque<std::function<void()>> m_pending;
  std::condition_variable m_handled;
  std::atomic<bool> m_bAborted{false};
};

}  // namespace kestal
