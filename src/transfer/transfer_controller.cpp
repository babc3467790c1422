#include "transfer/transfer_controller.h"

#include <climits>
#include <optional>
#include <system_error>

#include "link/link.h"
#include "link/open_failure.h"
#include "transfer/file_access.h"
#include "transfer/input_check.h"
#include "transfer/status_texts.h"

namespace kestal {

namespace {
constexpr int kStatusTicksPerSecond = 20;
// While the receiver has not asked, a hint on what to check comes this often.
constexpr uint64_t kHintEveryMs = 15000;
constexpr const char* kWaitingHint =
    "No request yet: reset or power-cycle the receiver; check the cable and the port.";
constexpr const char* kWatchdogReason =
    "The receiver stopped answering for about 5 s: check the cable and that the receiver is on, "
    "then start again.";
constexpr const char* kNoPortSelected = "No port selected.";
}  // namespace

// Carries each notification to the front end's thread and waits there until it is handled.
// The calls copy what they carry: a released waiter's stack may be gone when they run.
class TransferController::WorkerNotify : public TransferNotify {
 public:
  explicit WorkerNotify(TransferController& controller) : controller_(controller) {}

  // Status texts and progress go on without waiting: the receiver is waiting for the worker's
  // answer, and the front end's thread (a busy window, a slow terminal) must never hold it up.
  // The queue keeps them in order with everything else.
  void NotifyStatus(int displayTime, const std::string& text, const std::string& detail) override {
    controller_.calls_.Post([c = &controller_, displayTime, text, detail] {
      c->OnTransferStatus(displayTime, text, detail);
    });
  }
  void NotifyProgress(const TransferProgress& progress) override {
    controller_.calls_.Post([c = &controller_, progress] { c->OnTransferProgress(progress); });
  }
  // The end waits: the controller stops the worker's loop while handling it, so the worker
  // answers nothing more once the receiver has finished.
  void NotifyDone(bool completed) override {
    controller_.calls_.PostAndWait([c = &controller_, completed] { c->OnTransferDone(completed); });
  }

 private:
  TransferController& controller_;
};

TransferController::TransferController(Link& link, TransferFrontEnd& frontEnd, CallQueue& calls)
    : link_(link),
      frontEnd_(frontEnd),
      calls_(calls),
      download_(DownloadWorker),
      upload_(UploadWorker),
      notify_(std::make_unique<WorkerNotify>(*this)) {}

TransferController::~TransferController() {
  state_.running.store(false);
  state_.active.store(false);
  // Wakes a worker waiting for bytes, so that it sees the cleared flag at once.
  if (workerAlive_.load()) link_.CloseLink();
  if (worker_.joinable()) worker_.join();
}

void TransferController::SetWorkers(WorkerProc download, WorkerProc upload) {
  download_ = std::move(download);
  upload_ = std::move(upload);
}

bool TransferController::Busy() const { return state_.running.load() || workerAlive_.load(); }

void TransferController::StartTransfer(const TransferRequest& request,
                                       const std::string& devicePath) {
  if (!workerAlive_.load() && worker_.joinable()) worker_.join();  // an earlier transfer's
  // One link and one worker: while a transfer runs (or its worker still winds down), a second
  // start must not touch the state, the timers or the open link.
  if (Busy()) return;

  state_.watchdogTripped.store(false);
  state_.watchdog.store(-1);
  cutShort_ = false;
  if (request.path.empty()) {
    ShowStatus(kUntilUserAction, text::kSelectFile);
    return;
  }
  // Checked before the port is opened: nobody should reset the receiver for a bad file.
  if (const auto problem = request.served ? std::nullopt : CheckTransferFile(request)) {
    ShowStatus(kUntilUserAction, text::kFileOpenError, *problem);
    return;
  }
  if (request.direction == DIR_TO_RECEIVER && !MeasureFile(request)) {
    ShowStatus(kUntilUserAction, text::kFileSizeOver, request.path + " is larger than 2 GB.");
    return;
  }
  if (!OpenPort(devicePath)) return;
  warning_ = ExtensionWarning(request);
  waitStartMs_ = link_.GetClock().NowMs();
  // A channel list is packed before the receiver is woken: the worker asks for the reset once
  // its wake-up burst is out, and nobody is waited for until then.
  const bool packsFirst =
      request.direction == DIR_TO_RECEIVER && request.mode == MODE_CHANNELS && !request.served;
  state_.preparing.store(packsFirst);
  ShowStatus(kUntilReplaced, packsFirst ? text::kPacking : text::kWaiting, warning_);
  frontEnd_.StartTimer(TransferTimer::Watchdog, kWatchdogPeriod);
  if (!LaunchWorker(request)) return;
  state_.active.store(true);
  view_.inputsEnabled = false;
  view_.bytesDone = view_.bytesTotal = 0;  // the last transfer's figures are not this one's
  SetProgress(0);
  Push();
}

bool TransferController::OpenPort(const std::string& devicePath) {
  link_.Queue().Reset();  // no worker runs and the link is closed: stale bytes go
  if (devicePath.empty()) {
    ShowStatus(kUntilUserAction, kNoPortSelected, "Choose the receiver's port in the list.");
    return false;
  }
  const OpenResult result = link_.OpenLink(devicePath, kLinkBaud);
  if (result == OpenResult::Ok) return true;
  ShowStatus(kUntilUserAction, text::kOpenPortFailed, DescribeOpenFailure(result, devicePath));
  return false;
}

// Every start towards the receiver measures the file (or the data taken from it), so the size
// served always belongs to what is served. A missing file leaves 0; the worker reports it.
bool TransferController::MeasureFile(const TransferRequest& request) {
  const uint64_t size =
      request.served ? request.served->size() : FileSize(request.path).value_or(0);
  if (size > INT_MAX) return false;
  state_.fileSize.store(static_cast<int64_t>(size));
  return true;
}

bool TransferController::LaunchWorker(const TransferRequest& request) {
  WorkerProc proc = request.direction == DIR_TO_RECEIVER ? download_ : upload_;
  state_.running.store(true);
  workerAlive_.store(true);
  try {
    worker_ = std::thread([this, proc = std::move(proc), request] { RunWorker(proc, request); });
  } catch (const std::system_error&) {
    workerAlive_.store(false);
    state_.running.store(false);
    frontEnd_.StopTimer(TransferTimer::Watchdog);
    CloseAndResetLink();
    ShowStatus(kUntilUserAction, text::kExternalError);
    return false;
  }
  return true;
}

// The worker thread's body. The worker has released everything when its procedure returns;
// the exit notice lets the front end's thread join the thread.
void TransferController::RunWorker(const WorkerProc& proc, const TransferRequest& request) {
  WorkerContext context{request, state_, link_, *notify_, packTrace_};
  WorkerOutcome outcome = WorkerOutcome::Failed;
  std::optional<std::string> fault;
  try {
    outcome = proc(context);
  } catch (const std::exception& error) {
    fault = error.what();
  } catch (...) {
    fault = "unknown exception";
  }
  if (fault) {
    // A worker that throws has not ended its transfer: it ends as a failed one does, so the
    // link closes and the inputs come back.
    notify_->NotifyStatus(3, text::kExternalError, "Internal error: " + *fault);
    notify_->NotifyDone(false);
  }
  workerAlive_.store(false);
  calls_.Post([this, outcome] { OnWorkerExit(outcome); });
}

void TransferController::OnWorkerExit(WorkerOutcome outcome) {
  // A newer worker may have started since this notice was sent; never wait for a live one.
  if (!workerAlive_.load() && worker_.joinable()) worker_.join();
  frontEnd_.TransferEnded(outcome);
}

void TransferController::OnStop() {
  SetProgress(0);
  // Straight into the line: a countdown still running for an earlier text keeps running.
  if (state_.running.load()) {
    SetStatusLine(text::kInterrupted);
    cutShort_ = true;
  }
  StopTransfer();
  Push();
}

void TransferController::AbandonTransfer() {
  // Set before the stop clears `running`, so the worker does not report a completed transfer.
  state_.watchdogTripped.store(true);
  cutShort_ = true;
  StopTransfer();
  Push();
}

void TransferController::OnTimer(TransferTimer timer) {
  if (timer == TransferTimer::Watchdog) OnWatchdogTick();
  if (timer == TransferTimer::Status) OnStatusTick();
  Push();
}

void TransferController::OnWatchdogTick() {
  // The worker stores 0 concurrently; an increment must never overwrite its reset.
  int count = state_.watchdog.load();
  while (count >= 0 && !state_.watchdog.compare_exchange_weak(count, count + 1)) {
  }
  // The wait for the request starts once the worker has packed what it sends.
  if (count < 0 && state_.preparing.load()) waitStartMs_ = link_.GetClock().NowMs();
  if (count < 0 && state_.active.load() && !state_.preparing.load()) ShowWaitingTime();
  if (count < 0 || count + 1 <= kWatchdogLimit) return;
  frontEnd_.StopTimer(TransferTimer::Watchdog);
  state_.watchdog.store(-1);
  SetProgress(0);
  if (!state_.active.load()) return;
  // Set before the stop clears `running`, so the worker knows why its loop ended.
  state_.watchdogTripped.store(true);
  cutShort_ = true;
  StopTransfer();
  // Shown once stopped: the view no longer says the receiver is awaited, so the reason shows.
  ShowStatus(kUntilUserAction, text::kExternalError, kWatchdogReason);
}

void TransferController::OnStatusTick() {
  if (--statusCountdown_ >= 0) return;
  frontEnd_.StopTimer(TransferTimer::Status);
  SetStatusLine({});
}

// Disarmed watchdog in a running transfer: the receiver has not asked yet. The time comes from
// the link's clock, so a late tick still shows the true wait.
void TransferController::ShowWaitingTime() {
  const uint64_t elapsedMs = link_.GetClock().NowMs() - waitStartMs_;
  std::string detail = warning_.empty() ? "" : warning_ + " ";
  detail += "Waiting for " + std::to_string(elapsedMs / 1000) + " s.";
  if (elapsedMs >= kHintEveryMs) detail += std::string(" ") + kWaitingHint;
  view_.detail = detail;
}

void TransferController::UserActed() {
  if (!failureShown_) return;
  SetStatusLine({});
  Push();
}

void TransferController::SetStatusLine(const std::string& text) {
  failureShown_ = false;
  if (text != view_.status) view_.detail.clear();
  view_.status = text;
}

// A transfer cut short by the user or the watchdog has said why; what its worker still reports
// on its way out ("Downloading Processing..." for a block it was serving) is out of date.
// A worker gives a display time to its failures only.
void TransferController::OnTransferStatus(int displayTime, const std::string& text,
                                          const std::string& detail) {
  if (state_.closing.load() || cutShort_) return;
  ShowStatus(displayTime == kUntilReplaced ? kUntilReplaced : kUntilUserAction, text, detail);
}

// Once the transfer has ended, what the worker still reports (a download resetting its figures
// as it leaves) would hide what it achieved.
void TransferController::OnTransferProgress(const TransferProgress& progress) {
  if (state_.closing.load() || cutShort_ || !state_.running.load()) return;
  view_.bytesDone = progress.bytesDone;
  view_.bytesTotal = progress.bytesTotal;
  SetProgress(progress.percent);
  Push();
}

void TransferController::OnTransferDone(bool completed) {
  FinishTransfer(completed);
  Push();
}

void TransferController::OnClose() {
  state_.closing.store(true);
  state_.running.store(false);
  state_.active.store(false);
  CloseAndResetLink();
}

void TransferController::ShowStatus(int displayTime, const std::string& text,
                                    const std::string& detail) {
  if (state_.closing.load()) return;
  frontEnd_.StopTimer(TransferTimer::Status);
  if (text.empty()) return;
  SetStatusLine(text);
  if (!detail.empty()) view_.detail = detail;
  failureShown_ = displayTime == kUntilUserAction;
  if (displayTime != kUntilReplaced && displayTime != kUntilUserAction) {
    const long long ticks = static_cast<long long>(displayTime) * kStatusTicksPerSecond;
    statusCountdown_ = ticks > INT_MAX ? INT_MAX : static_cast<int>(ticks);
    frontEnd_.StartTimer(TransferTimer::Status, kStatusTick);
  }
  // Shown at once: one handler may show two texts in turn, and each must be seen.
  Push();
}

void TransferController::SetProgress(int percent) {
  view_.percent = percent;
  view_.percentText = std::to_string(percent) + "%";
}

void TransferController::StopTransfer() {
  frontEnd_.StopTimer(TransferTimer::Watchdog);
  state_.watchdog.store(-1);
  view_.inputsEnabled = true;
  state_.active.store(false);
  state_.running.store(false);
  state_.preparing.store(false);
  CloseAndResetLink();
}

// A completed transfer keeps its 100 % and the bytes it moved on show.
void TransferController::FinishTransfer(bool completed) {
  if (state_.closing.load()) return;
  SetProgress(completed && !cutShort_ ? 100 : 0);
  StopTransfer();
}

void TransferController::CloseAndResetLink() {
  link_.CloseLink();
  // The queue's consumer is the worker: it is emptied only once no worker reads it any more
  // (otherwise at the next start, before the link opens again).
  if (!workerAlive_.load()) link_.Queue().Reset();
}

void TransferController::Push() {
  if (state_.closing.load()) return;
  view_.running = state_.running.load();
  view_.awaitingRequest = view_.running && !state_.preparing.load() && state_.watchdog.load() == -1;
  if (view_ == shown_) return;
  shown_ = view_;
  frontEnd_.Show(view_);
}

}  // namespace kestal
