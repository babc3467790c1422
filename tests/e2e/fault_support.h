#pragma once
// Pieces of the fault-scenario tests: a window that runs the real TransferController in the
// test process (the test thread is its window thread), a receiver scripted by the test on a
// pseudo-terminal, and the process's own resource counts.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/serial_link.h"
#include "ports/port_info.h"
#include "support/fake_link.h"
#include "transfer/transfer_controller.h"
#include "transfer/transfer_job.h"

namespace kestal::e2e {

using Millis = std::chrono::milliseconds;

// The controller's window. Worker notifications are queued and handled on the thread that
// pumps; the worker waits until its message was handled (or the window closed).
class FaultWindow : public ControllerView, public TransferNotify {
 public:
  explicit FaultWindow(TransferJob& job) : m_job(job) {}
  void Attach(TransferController& controller) { m_controller = &controller; }

  // What the user has put into the controls.
  std::string path;
  int mode = MODE_SOFTWARE;
  int direction = DIR_TO_RECEIVER;
  PortInfo port;

  // ControllerView (window thread)
  void RefreshControls() override;
  void ReadControls() override;
  void EnableControl(int, bool) override {}
  void SetProgressPos(int percent) override { m_progress = percent; }
  void StartTimer(int id, int) override { m_timers.insert(id); }
  void StopTimer(int id) override { m_timers.erase(id); }
  const PortInfo* SelectedPort() override { return &port; }

  // TransferNotify (worker thread)
  void NotifyStatus(std::unique_ptr<StatusNote> note) override;
  void NotifyProgress(int percent) override;
  void NotifyDone(int completed) override;
  void NotifyWorkerExit(bool completed) override;

  // Handles at most one message, waiting up to `wait` for it. True when one was handled.
  bool PumpOne(Millis wait);
  // Handles messages until the worker's exit was handled; false after `timeout`.
  bool PumpUntilWorkerExit(Millis timeout);
  // The window goes: waiting notifications return, later ones are dropped.
  void CloseWindow();

  bool TimerRunning(int id) const { return m_timers.count(id) != 0; }
  int Progress() const { return m_progress; }
  int MessagesHandled() const { return m_handled; }
  int WorkerExits() const { return m_exits; }
  bool LastExitCompleted() const { return m_lastExitCompleted; }
  // Every text the status line showed, in order, and when it was first shown.
  const std::vector<std::string>& Statuses() const { return m_statuses; }
  std::optional<std::chrono::steady_clock::time_point> FirstShown(const std::string& text) const;
  std::string StatusesJoined() const;

 private:
  struct Message {
    std::function<void()> handler;
    bool synchronous = false;
    bool handled = false;
  };
  void Send(std::function<void()> handler, bool synchronous);

  TransferJob& m_job;
  TransferController* m_controller = nullptr;
  std::set<int> m_timers;
  int m_progress = -1;
  int m_handled = 0;
  int m_exits = 0;
  bool m_lastExitCompleted = false;
  std::vector<std::string> m_statuses;
  std::vector<std::chrono::steady_clock::time_point> m_statusTimes;

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::shared_ptr<Message>> m_queue;
  bool m_closed = false;
};

// The tool as the window runs it: one job, one SerialLink, the controller and its window, all in
// the test process. The test thread is the window thread.
struct InProcessTool {
  InProcessTool();
  // Closes like the window: notifications return at once, then the controller joins its worker.
  ~InProcessTool();
  InProcessTool(const InProcessTool&) = delete;
  InProcessTool& operator=(const InProcessTool&) = delete;

  // Fills the controls and presses the start button.
  void Start(const std::string& device, const std::string& file, int mode, int direction);

  TransferJob job;
  SerialLink link;
  FaultWindow window{job};
  std::unique_ptr<TransferController> controller;
};

// A receiver scripted by the test on the master side of a pseudo-terminal.
class PtyPeer {
 public:
  PtyPeer();
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& Device() const { return m_device; }
  // Waits until the tool's wake-up burst has arrived.
  bool WaitForBurst(Millis timeout);
  void Send(uint8_t sequence, uint8_t command, const std::vector<uint8_t>& payload);
  void SendRaw(const std::vector<uint8_t>& bytes);
  // The next frame from the tool, or nothing within `timeout`.
  std::optional<kestal::testing::SentFrame> Receive(Millis timeout);
  // Closes the line: the tool's end sees the device go away.
  void HangUp();

 private:
  bool ReadSome(Millis timeout);

  int m_master = -1;
  int m_slave = -1;
  std::string m_device;
  kestal::testing::FrameSplitter m_splitter;
  std::deque<kestal::testing::SentFrame> m_frames;
};

// The test process's own resources.
int CountThreads();
int CountOpenDescriptors();
size_t HeapInUse();       // bytes handed out by malloc
double CpuSeconds();      // user + system time of the whole process
long ResidentKiB();

// Blocks of a download request, big-endian.
std::vector<uint8_t> BlockRequest(uint16_t length, uint32_t offset);
std::vector<uint8_t> Be32(uint32_t value);

// Names of the entries of a directory.
std::vector<std::string> DirectoryEntries(const std::string& directory);

}  // namespace kestal::e2e
