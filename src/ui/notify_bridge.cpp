#include "ui/notify_bridge.h"

#include <QThread>

namespace kestal {

NotifyBridge::NotifyBridge(Handlers handlers) : m_handlers(std::move(handlers)) {}

NotifyBridge::~NotifyBridge() { Abort(); }

void NotifyBridge::Abort() {
  std::deque<std::function<void()>> dropped;  // freed outside the lock (notes included)
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bAborted.store(true, std::memory_order_release);
    dropped.swap(m_pending);
  }
  m_handled.notify_all();
}

void NotifyBridge::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (Aborted()) return;
    m_pending.push_back(std::move(call));
  }
  // Only a wake-up travels through the event queue; a queued wake-up dies with this object.
  QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
}

void NotifyBridge::Drain() {
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (Aborted() || m_pending.empty()) return;
      call = std::move(m_pending.front());
      m_pending.pop_front();
    }
    call();
  }
}

void NotifyBridge::CallAndWait(std::function<void()> call) {
  if (Aborted()) return;
  if (QThread::currentThread() == thread()) {  // already on the window thread
    call();
    return;
  }
  auto handled = std::make_shared<bool>(false);  // guarded by m_mutex
  Post([this, handled, call = std::move(call)] {
    if (!Aborted()) call();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      *handled = true;
    }
    m_handled.notify_all();
  });
  std::unique_lock<std::mutex> lock(m_mutex);
  m_handled.wait(lock, [&] { return *handled || Aborted(); });
}

void NotifyBridge::NotifyStatus(std::unique_ptr<StatusNote> note) {
  // The holder frees the note whether or not the handler ever runs.
  auto holder = std::make_shared<std::unique_ptr<StatusNote>>(std::move(note));
  CallAndWait([this, holder] { m_handlers.status(std::move(*holder)); });
}

void NotifyBridge::NotifyProgress(int percent) {
  CallAndWait([this, percent] { m_handlers.progress(percent); });
}

void NotifyBridge::NotifyDone(int completed) {
  CallAndWait([this, completed] { m_handlers.done(completed); });
}

void NotifyBridge::NotifyWorkerExit(bool completed) {
  Post([this, completed] { m_handlers.workerExit(completed); });
}

}  // namespace kestal
