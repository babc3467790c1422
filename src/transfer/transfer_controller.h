#pragma once
// Starts, watches and ends a transfer, and shows what the worker reports. No toolkit here:
// the front end implements ControllerView and calls the handlers on its window thread.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "transfer/control_ids.h"
#include "transfer/transfer_job.h"

namespace kestal {

class Link;
struct PortInfo;

constexpr int TIMER_WATCHDOG = 1;
constexpr int TIMER_STATUS = 3;
constexpr int WATCHDOG_PERIOD_MS = 1600;
constexpr int STATUS_TICK_MS = 50;  // 20 ticks make one second of display time
constexpr int WATCHDOG_LIMIT = 3;   // trips when the counter exceeds this
constexpr uint32_t LINK_BAUD = 115200;

// What the controller needs from its window.
class ControllerView {
 public:
  virtual ~ControllerView() = default;
  // Members to controls: status, percentage, path, mode, direction, progress.
  virtual void RefreshControls() = 0;
  // Controls to members: path, mode and direction into the job.
  virtual void ReadControls() = 0;
  virtual void EnableControl(int id, bool enable) = 0;
  virtual void SetProgressPos(int percent) = 0;
  // Starting an id that runs restarts it.
  virtual void StartTimer(int id, int periodMs) = 0;
  virtual void StopTimer(int id) = 0;
  // The port list's selected entry, nullptr when nothing is selected.
  virtual const PortInfo* SelectedPort() = 0;
};

class TransferController {
 public:
  using WorkerProc = std::function<int(TransferJob&)>;

  TransferController(TransferJob& job, Link& link, ControllerView& view);
  // Ends a running transfer and joins its worker. The front end must already make the
  // worker's notifications return without waiting (it is closing).
  ~TransferController();

  // Handlers, all on the window thread.
  void StartTransfer();
  void OnStop();
  void OnTimer(int id);
  void OnTransferStatus(std::unique_ptr<StatusNote> note);
  void OnTransferProgress(int percent);
  void OnTransferDone(int completed);
  void OnClose();

  void ShowStatus(int displayTime, const std::string& text);
  void SetProgress(int percent);
  void ToggleControls();
  void StopTransfer();
  void FinishTransfer();

  // A worker thread exists and its procedure has not yet returned.
  bool WorkerAlive() const { return m_bWorkerAlive.load(std::memory_order_acquire) != 0; }
  // Joins a worker thread; only once its notifications no longer need the window thread.
  void JoinWorker();
  // Called by the front end when it receives NotifyWorkerExit (window thread).
  void OnWorkerExit();

  // Tests replace the workers.
  void SetWorkers(WorkerProc download, WorkerProc upload);

  std::string m_strStatus;
  std::string m_strPercent;
  int m_nStatusCountdown = 0;
  int m_bControlsEnabled = 1;

 private:
  void CloseAndResetLink();
  bool MeasureFile();
  bool LaunchWorker();
  void RunWorker(const WorkerProc& proc);
  void OnWatchdogTick();
  void OnStatusTick();

  TransferJob& m_job;
  Link& m_link;
  ControllerView& m_view;
  WorkerProc m_download;
  WorkerProc m_upload;
  std::thread m_worker;
  std::atomic<int> m_bWorkerAlive{0};
};

}  // namespace kestal
