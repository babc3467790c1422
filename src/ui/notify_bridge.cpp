#include "ui/notify_bridge.h"

#include <QThread>

namespace kestal {

NotifyBridge::NotifyBridge(Handlers handlers) : m_handlers(std::move(handlers)) {}

NotifyBridge::~NotifyBridge() { Abort(); }

void NotifyBridge::Abort() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bAborted.store(true, std::memory_order_release);
  }
  m_handled.notify_all();
}

void NotifyBridge::Post(std::function<void()> call) {
  if (Aborted()) return;
  // Queued events die with this object, so a call never outlives the bridge.
  QMetaObject::invokeMethod(
      this, [this, call = std::move(call)] {
        if (!Aborted()) call();
      },
      Qt::QueuedConnection);
}

void NotifyBridge::CallAndWait(std::function<void()> call) {
  if (Aborted()) return;
  if (QThread::currentThread() == thread()) {  // already on the window thread
    call();
    return;
  }
  auto handled = std::make_shared<bool>(false);  // guarded by m_mutex
  QMetaObject::invokeMethod(
      this, [this, handled, call = std::move(call)] {
        if (!Aborted()) call();
        {
          std::lock_guard<std::mutex> lock(m_mutex);
          *handled = true;
        }
        m_handled.notify_all();
      },
      Qt::QueuedConnection);
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
