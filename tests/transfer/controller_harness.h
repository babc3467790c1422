#pragma once
// Doubles for the controller's tests: a window (ControllerView) that records what it is told, a
// link a worker can wait on until it is closed, and a window message queue that hands a worker's
// notifications to the test thread and makes the worker wait until they were handled.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "link/link.h"
#include "ports/port_info.h"
#include "support/fake_link.h"
#include "transfer/transfer_controller.h"

namespace kestal::testing {

class RecordingView : public ControllerView {
 public:
  explicit RecordingView(TransferJob& job) : m_job(job) {}

  void RefreshControls() override;
  void ReadControls() override;
  void EnableControl(int id, bool enable) override { enableCalls.emplace_back(id, enable); }
  void SetProgressPos(int percent) override { progressPos = percent; }
  void StartTimer(int id, int periodMs) override { timers[id] = periodMs; }
  void StopTimer(int id) override { timers.erase(id); }
  const PortInfo* SelectedPort() override { return portSelected ? &port : nullptr; }

  bool TimerRunning(int id) const { return timers.count(id) != 0; }
  // The enabled state each control was last given.
  std::map<int, bool> EnabledStates() const;

  TransferController* controller = nullptr;
  // What the user has put into the controls.
  std::string path;
  int mode = MODE_CHANNELS;
  int direction = DIR_TO_RECEIVER;
  PortInfo port{"/dev/ttyTEST0", "ttyTEST0", "Test port", 0, ""};
  bool portSelected = true;

  // What the window shows, as of its last refresh.
  std::string shownStatus;
  std::string shownPercent;
  int refreshes = 0;
  int reads = 0;
  int progressPos = -1;
  std::map<int, int> timers;  // running timer id -> period
  std::vector<std::pair<int, bool>> enableCalls;

 private:
  TransferJob& m_job;
};

// Thread-safe: the worker waits in WaitForData until the window thread closes the link.
class GateLink : public Link {
 public:
  int OpenLink(const PortInfo& entry, uint32_t rate) override;
  void CloseLink() override;
  int SendBytes(const uint8_t*, int count) override { return count; }
  ReceiveQueue& Queue() override { return m_queue; }
  void WaitForData(uint64_t deadlineMs) override;
  const Clock& GetClock() const override { return m_clock; }
  bool IsOpen() const override;
  bool IsHungUp() const override { return false; }

  std::string LastDevice() const;
  bool failOpen = false;
  std::atomic<int> opens{0};
  std::atomic<int> closes{0};
  std::atomic<uint32_t> baud{0};

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_closed;
  bool m_open = false;
  std::string m_device;
  ManualClock m_clock;
  ReceiveQueue m_queue;
};

class WindowQueue : public TransferNotify {
 public:
  explicit WindowQueue(TransferJob& job) : m_job(job) {}

  void NotifyStatus(std::unique_ptr<StatusNote> note) override;
  void NotifyProgress(int percent) override;
  void NotifyDone(int completed) override;
  void NotifyWorkerExit(bool completed) override;

  // Handles the worker's messages on the calling thread until `done` holds; false (and a test
  // failure) if nothing arrives for ten seconds.
  bool PumpUntil(const std::function<bool()>& done);
  // The window is going: waiting notifications return, later ones are dropped.
  void CloseWindow();

  TransferController* controller = nullptr;
  std::vector<bool> exits;  // NotifyWorkerExit, as handled on the window thread

 private:
  struct Message {
    std::function<void()> handler;
    bool synchronous;
    bool handled = false;
  };
  void Send(std::function<void()> handler, bool synchronous);

  TransferJob& m_job;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::shared_ptr<Message>> m_queue;
  bool m_windowClosed = false;
};

}  // namespace kestal::testing
