#pragma once
// Starts, watches and ends a transfer, and keeps what the front end shows of it. No toolkit
// here: every public member runs on the front end's thread (the one that owns `calls`), and the
// worker's notifications reach the handlers through `calls`, in order.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "transfer/call_queue.h"
#include "transfer/transfer_front_end.h"
#include "transfer/transfer_notify.h"
#include "transfer/transfer_request.h"
#include "transfer/transfer_state.h"
#include "transfer/workers.h"

namespace kestal {

class Link;

constexpr std::chrono::milliseconds kWatchdogPeriod{1600};
constexpr std::chrono::milliseconds kStatusTick{50};  // 20 ticks make one second of display
constexpr int kWatchdogLimit = 3;                     // trips when the counter exceeds this
constexpr uint32_t kLinkBaud = 115200;
// A failure's display time: it stays until the front end reports the user's next action.
constexpr int kUntilUserAction = -2;

class TransferController {
 public:
  using WorkerProc = std::function<WorkerOutcome(WorkerContext&)>;

  TransferController(Link& link, TransferFrontEnd& frontEnd, CallQueue& calls);
  // Ends a running transfer and joins its worker. The front end must have aborted `calls`
  // first, so that no notification of the worker waits for its thread.
  ~TransferController();
  TransferController(const TransferController&) = delete;
  TransferController& operator=(const TransferController&) = delete;

  // The start button. `devicePath` empty: no port is selected.
  void StartTransfer(const TransferRequest& request, const std::string& devicePath);
  // The stop button.
  void OnStop();
  // Ends the transfer as a watchdog trip does, without a text: the front end gave up waiting.
  void AbandonTransfer();
  void OnTimer(TransferTimer timer);
  // The window closes: end everything, show nothing more.
  void OnClose();
  // Shows `text` until replaced (kUntilReplaced), until the user's next action (failures:
  // kUntilUserAction) or for `displayTime` seconds (transient texts), with `detail` on the line
  // under it (empty: none).
  void ShowStatus(int displayTime, const std::string& text, const std::string& detail = {});
  // The user acted (chose, typed, pressed): a failure shown until then gives way.
  void UserActed();

  const TransferView& View() const { return view_; }
  // A transfer runs, or its worker has not yet returned: a new one cannot start.
  bool Busy() const;
  const TransferState& State() const { return state_; }

  // Where the channel packer's trace goes; set while idle.
  void SetPackTrace(PackTrace trace) { packTrace_ = std::move(trace); }
  // Tests replace the workers.
  void SetWorkers(WorkerProc download, WorkerProc upload);

 private:
  class WorkerNotify;  // the worker's side: posts each notification and waits for it

  void OnTransferStatus(int displayTime, const std::string& text, const std::string& detail);
  void OnTransferProgress(const TransferProgress& progress);
  void OnTransferDone(bool completed);
  void OnWorkerExit(WorkerOutcome outcome);
  void OnWatchdogTick();
  void OnStatusTick();
  void ShowWaitingTime();
  // Sets the status line; a new text clears the detail under it.
  void SetStatusLine(const std::string& text);
  bool OpenPort(const std::string& devicePath);
  void SetProgress(int percent);
  void StopTransfer();
  void FinishTransfer(bool completed);
  void CloseAndResetLink();
  bool MeasureFile(const TransferRequest& request);
  bool LaunchWorker(const TransferRequest& request);
  void RunWorker(const WorkerProc& proc, const TransferRequest& request);
  // Hands the view to the front end when it differs from what it was last handed.
  void Push();

  Link& link_;
  TransferFrontEnd& frontEnd_;
  CallQueue& calls_;
  TransferState state_;
  TransferView view_;
  TransferView shown_;
  int statusCountdown_ = 0;
  bool cutShort_ = false;  // stopped by the user or the watchdog: the worker's notes are ignored
  bool failureShown_ = false;  // the status line holds a failure until the user acts
  std::string warning_;        // the extension warning of the running transfer, if any
  uint64_t waitStartMs_ = 0;   // the link clock when it started waiting for the request
  PackTrace packTrace_;
  WorkerProc download_;
  WorkerProc upload_;
  std::unique_ptr<WorkerNotify> notify_;
  std::thread worker_;
  std::atomic<bool> workerAlive_{false};
};

}  // namespace kestal
