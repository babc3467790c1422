#include "transfer/controller_harness.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kestal::testing {

void RecordingView::RefreshControls() {
  ++refreshes;
  shownStatus = controller->m_strStatus;
  shownPercent = controller->m_strPercent;
}

void RecordingView::ReadControls() {
  ++reads;
  m_job.m_strFilePath = path;
  m_job.m_nMode = mode;
  m_job.m_nDirection = direction;
}

std::map<int, bool> RecordingView::EnabledStates() const {
  std::map<int, bool> states;
  for (const auto& [id, enable] : enableCalls) states[id] = enable;
  return states;
}

int GateLink::OpenLink(const PortInfo& entry, uint32_t rate) {
  std::lock_guard lock(m_mutex);
  ++opens;
  baud = rate;
  m_device = entry.m_strDevicePath;
  if (failOpen) return 0;
  m_open = true;
  return 1;
}

void GateLink::CloseLink() {
  std::lock_guard lock(m_mutex);
  ++closes;
  m_open = false;
  m_closed.notify_all();
}

void GateLink::WaitForData(uint64_t) {
  std::unique_lock lock(m_mutex);
  m_closed.wait(lock, [this] { return !m_open; });
}

bool GateLink::IsOpen() const {
  std::lock_guard lock(m_mutex);
  return m_open;
}

std::string GateLink::LastDevice() const {
  std::lock_guard lock(m_mutex);
  return m_device;
}

void WindowQueue::NotifyStatus(std::unique_ptr<StatusNote> note) {
  std::shared_ptr<StatusNote> shared(std::move(note));
  Send([this, shared] { controller->OnTransferStatus(std::make_unique<StatusNote>(*shared)); }, true);
}

void WindowQueue::NotifyProgress(int percent) {
  Send([this, percent] { controller->OnTransferProgress(percent); }, true);
}

void WindowQueue::NotifyDone(int completed) {
  Send([this, completed] { controller->OnTransferDone(completed); }, true);
}

void WindowQueue::NotifyWorkerExit(bool completed) {
  Send(
      [this, completed] {
        exits.push_back(completed);
        controller->OnWorkerExit();
      },
      false);
}

void WindowQueue::Send(std::function<void()> handler, bool synchronous) {
  std::unique_lock lock(m_mutex);
  if (m_windowClosed) return;
  auto message = std::make_shared<Message>(Message{std::move(handler), synchronous});
  m_queue.push_back(message);
  m_changed.notify_all();
  if (synchronous) m_changed.wait(lock, [&] { return message->handled || m_windowClosed; });
}

bool WindowQueue::PumpUntil(const std::function<bool()>& done) {
  while (!done()) {
    std::shared_ptr<Message> message;
    {
      std::unique_lock lock(m_mutex);
      if (!m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return !m_queue.empty(); })) {
        ADD_FAILURE() << "no message from the worker for ten seconds";
        return false;
      }
      message = m_queue.front();
      m_queue.pop_front();
    }
    message->handler();
    std::lock_guard lock(m_mutex);
    message->handled = true;
    m_changed.notify_all();
  }
  return true;
}

void WindowQueue::CloseWindow() {
  std::lock_guard lock(m_mutex);
  m_windowClosed = true;
  m_queue.clear();
  m_changed.notify_all();
}

}  // namespace kestal::testing
