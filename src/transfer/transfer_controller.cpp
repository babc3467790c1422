#include "transfer/transfer_controller.h"

#include <sys/stat.h>

#include <climits>
#include <system_error>

#include "link/link.h"
#include "ports/port_info.h"
#include "transfer/workers.h"

namespace kestal {

namespace {
// Controls that ToggleControls switches, in the order it switches them.
constexpr int kInputControls[] = {IDC_FILE, IDC_PATH, IDC_PORT, IDC_MODE, IDC_TO_RECEIVER,
                                  IDC_TO_COMPUTER};
constexpr int kStatusTicksPerSecond = 20;
}  // namespace

TransferController::TransferController(TransferJob& job, Link& link, ControllerView& view)
    : m_job(job), m_link(link), m_view(view), m_download(DownloadWorker), m_upload(UploadWorker) {}

TransferController::~TransferController() {
  m_job.m_bRunning.store(0);
  m_job.m_bTransferActive.store(0);
  // Wakes a worker waiting for bytes, so that it sees the cleared flag at once.
  if (WorkerAlive()) m_link.CloseLink();
  JoinWorker();
}

void TransferController::SetWorkers(WorkerProc download, WorkerProc upload) {
  m_download = std::move(download);
  m_upload = std::move(upload);
}

void TransferController::StartTransfer() {
  if (!WorkerAlive()) JoinWorker();  // reap the thread of an earlier transfer
  // One link and one worker: while a transfer runs (or its worker still winds down), a second
  // start must not touch the job, the timers or the open link.
  if (m_job.m_bRunning.load() != 0 || WorkerAlive()) return;

  m_job.m_bWatchdogTripped.store(0);
  m_view.ReadControls();
  m_job.m_nWatchdog.store(-1);
  if (m_job.m_strFilePath.empty()) {
    ShowStatus(3, text::kSelectFile);
    m_view.RefreshControls();
    return;
  }
  if (m_job.m_nDirection.load() == DIR_TO_RECEIVER && !MeasureFile()) {
    ShowStatus(3, text::kFileSizeOver);
    return;
  }
  const PortInfo* port = m_view.SelectedPort();
  m_link.Queue().Reset();  // no worker runs and the link is closed: stale bytes go
  if (port == nullptr || m_link.OpenLink(*port, LINK_BAUD) == 0) {
    ShowStatus(3, text::kOpenPortFailed);
    return;
  }
  ShowStatus(-1, text::kWaiting);
  m_job.m_pLink = &m_link;
  m_view.StartTimer(TIMER_WATCHDOG, WATCHDOG_PERIOD_MS);
  if (!LaunchWorker()) return;
  m_job.m_bTransferActive.store(1);
  ToggleControls();
  SetProgress(0);
}

// Every start towards the receiver measures the file, so the size served always belongs to the
// file being served. A missing file leaves 0; the worker reports it.
bool TransferController::MeasureFile() {
  struct stat info {};
  if (::stat(m_job.m_strFilePath.c_str(), &info) != 0) {
    m_job.m_nFileSize.store(0);
    return true;
  }
  if (info.st_size > INT_MAX) return false;
  m_job.m_nFileSize.store(static_cast<int>(info.st_size));
  return true;
}

bool TransferController::LaunchWorker() {
  WorkerProc proc = m_job.m_nDirection.load() == DIR_TO_RECEIVER ? m_download : m_upload;
  m_job.m_bRunning.store(1);
  m_bWorkerAlive.store(1, std::memory_order_release);
  try {
    m_worker = std::thread([this, proc = std::move(proc)] { RunWorker(proc); });
  } catch (const std::system_error&) {
    m_bWorkerAlive.store(0, std::memory_order_release);
    m_job.m_bRunning.store(0);
    m_view.StopTimer(TIMER_WATCHDOG);
    CloseAndResetLink();
    ShowStatus(3, text::kExternalError);
    return false;
  }
  return true;
}

// The worker thread's body. The worker has released everything when its procedure returns;
// the exit notice lets the front end join the thread (and end the process in command-line mode).
void TransferController::RunWorker(const WorkerProc& proc) {
  int result = 0;
  try {
    result = proc(m_job);
  } catch (...) {
    result = 0;
  }
  m_bWorkerAlive.store(0, std::memory_order_release);
  if (m_job.m_hNotifyWnd) m_job.m_hNotifyWnd->NotifyWorkerExit(result == 1);
}

void TransferController::JoinWorker() {
  if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) m_worker.join();
}

void TransferController::OnWorkerExit() {
  // A newer worker may have started since this notice was sent; never wait for a live one.
  if (!WorkerAlive()) JoinWorker();
}

void TransferController::OnStop() {
  SetProgress(0);
  if (m_job.m_bRunning.load() != 0) {
    m_strStatus = text::kInterrupted;
    m_job.m_shownStatus.Changed();
  }
  StopTransfer();
}

void TransferController::OnTimer(int id) {
  if (id == TIMER_WATCHDOG) OnWatchdogTick();
  if (id == TIMER_STATUS) OnStatusTick();
}

void TransferController::OnWatchdogTick() {
  // The worker stores 0 concurrently; an increment must never overwrite its reset.
  int count = m_job.m_nWatchdog.load();
  while (count >= 0 && !m_job.m_nWatchdog.compare_exchange_weak(count, count + 1)) {
  }
  if (count < 0 || count + 1 <= WATCHDOG_LIMIT) return;
  m_view.StopTimer(TIMER_WATCHDOG);
  m_job.m_nWatchdog.store(-1);
  SetProgress(0);
  m_view.RefreshControls();
  if (m_job.m_bTransferActive.load() == 0) return;
  ShowStatus(3, text::kExternalError);
  // Set before the stop clears m_bRunning, so the worker knows why its loop ended.
  m_job.m_bWatchdogTripped.store(1);
  StopTransfer();
}

void TransferController::OnStatusTick() {
  if (--m_nStatusCountdown >= 0) return;
  m_view.StopTimer(TIMER_STATUS);
  m_strStatus.clear();
  m_job.m_shownStatus.Changed();
  m_view.RefreshControls();
}

void TransferController::OnTransferStatus(std::unique_ptr<StatusNote> note) {
  if (!note || m_job.m_bClosing.load() != 0) return;
  ShowStatus(note->nDisplayTime, note->szText);
  if (note->nDisplayTime == -1) m_job.m_shownStatus.NoteShown();
}

void TransferController::OnTransferProgress(int percent) {
  if (m_job.m_bClosing.load() != 0) return;
  SetProgress(percent);
  m_job.m_shownProgress.NoteShown();
}

void TransferController::OnTransferDone(int /*completed*/) { FinishTransfer(); }

void TransferController::OnClose() {
  m_job.m_bClosing.store(1);
  m_job.m_bRunning.store(0);
  m_job.m_bTransferActive.store(0);
  CloseAndResetLink();
}

void TransferController::ShowStatus(int displayTime, const std::string& message) {
  if (m_job.m_bClosing.load() != 0) return;
  m_job.m_shownStatus.Changed();
  m_view.StopTimer(TIMER_STATUS);
  if (message.empty()) return;
  m_strStatus = message;
  if (displayTime == -1) {
    m_view.RefreshControls();
    return;
  }
  const long long ticks = static_cast<long long>(displayTime) * kStatusTicksPerSecond;
  m_nStatusCountdown = ticks > INT_MAX ? INT_MAX : static_cast<int>(ticks);
  m_view.RefreshControls();
  m_view.StartTimer(TIMER_STATUS, STATUS_TICK_MS);
}

void TransferController::SetProgress(int percent) {
  m_job.m_shownProgress.Changed();
  m_view.SetProgressPos(percent);
  m_strPercent = std::to_string(percent) + "%";
  m_view.RefreshControls();
}

void TransferController::ToggleControls() {
  m_bControlsEnabled = m_bControlsEnabled == 0 ? 1 : 0;
  const bool enable = m_bControlsEnabled != 0;
  for (int id : kInputControls) {
    const bool softwareOnly = id == IDC_TO_COMPUTER && m_job.m_nMode.load() == MODE_SOFTWARE;
    m_view.EnableControl(id, enable && !softwareOnly);
  }
}

void TransferController::StopTransfer() {
  m_view.StopTimer(TIMER_WATCHDOG);
  m_job.m_nWatchdog.store(-1);
  m_bControlsEnabled = 0;
  ToggleControls();
  m_view.RefreshControls();
  m_job.m_bTransferActive.store(0);
  m_job.m_bRunning.store(0);
  CloseAndResetLink();
}

void TransferController::FinishTransfer() {
  if (m_job.m_bClosing.load() != 0) return;
  SetProgress(0);
  m_view.StopTimer(TIMER_WATCHDOG);
  m_job.m_nWatchdog.store(-1);
  m_view.RefreshControls();
  m_job.m_bRunning.store(0);
  m_job.m_bTransferActive.store(0);
  CloseAndResetLink();
  m_bControlsEnabled = 0;
  ToggleControls();
}

void TransferController::CloseAndResetLink() {
  m_link.CloseLink();
  // The queue's consumer is the worker: it is emptied only once no worker reads it any more
  // (otherwise at the next start, before the link opens again).
  if (!WorkerAlive()) m_link.Queue().Reset();
}

}  // namespace kestal
