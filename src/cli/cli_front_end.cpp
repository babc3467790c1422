#include "cli/cli_front_end.h"

#include <algorithm>
#include <cstdio>

#include "cli/progress_text.h"

namespace kestal::cli {
namespace {

// Loop timers of our own, beside the controller's TIMER_WATCHDOG and TIMER_STATUS.
constexpr int kFirstRequestTimer = 100;
// Redraws the bar's byte count and rate between progress notes, which come only when the
// percentage changes: on a slow line that can be many seconds.
constexpr int kBarTimer = 101;
constexpr auto kBarRedrawPeriod = std::chrono::milliseconds(100);

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

}  // namespace

int ExitCodeFor(Outcome outcome) { return outcome == Outcome::Completed ? 0 : 1; }

CliFrontEnd::CliFrontEnd(EventLoop& loop, TransferJob& job, const TransferOptions& options,
                         const PortInfo& port, ConsoleOutput& console, const TransferMeter& meter)
    : m_loop(loop), m_job(job), m_options(options), m_port(port), m_console(console),
      m_meter(meter) {}

void CliFrontEnd::Start() {
  m_controller->StartTransfer();
  if (m_job.m_bTransferActive.load() == 0) {
    // "Open port failed!" (or another refusal) has been shown; no worker runs.
    End(Outcome::NotStarted);
    return;
  }
  if (m_console.ShowsBar()) {
    m_loop.StartTimer(kBarTimer, kBarRedrawPeriod, [this] {
      if (m_barPercent >= 0 && m_job.m_bTransferActive.load() != 0) DrawBar(m_barPercent);
    });
  }
  if (m_options.timeoutSeconds > 0) {
    const auto period = std::chrono::milliseconds(
        static_cast<long long>(m_options.timeoutSeconds * 1000.0 + 0.5));
    m_loop.StartTimer(kFirstRequestTimer, period, [this] { OnFirstRequestTimeout(); });
  }
}

void CliFrontEnd::OnFirstRequestTimeout() {
  m_loop.StopTimer(kFirstRequestTimer);
  // The worker arms the watchdog counter when it handles the receiver's request.
  if (m_job.m_bTransferActive.load() == 0 || m_job.m_nWatchdog.load() != -1) return;
  m_outcome = Outcome::TimedOut;
  m_console.Line("No request from the receiver within " + SecondsText(m_options.timeoutSeconds) +
                 " s.");
  // Ends like a watchdog trip, so the download worker does not report a completed transfer.
  m_job.m_bWatchdogTripped.store(1);
  m_controller->StopTransfer();
}

void CliFrontEnd::OnSignal() {
  if (m_outcome != Outcome::Running) {
    // Asked twice: stop waiting for the worker's closing notifications.
    m_loop.Shutdown();
    return;
  }
  m_outcome = Outcome::Stopped;
  m_controller->OnStop();
}

void CliFrontEnd::RefreshControls() {
  const std::string& status = m_controller->m_strStatus;
  if (status == m_shownStatus) return;
  m_shownStatus = status;
  // An empty line is the end of a timed text, not a text of its own.
  if (!status.empty()) m_console.Line(status);
}

void CliFrontEnd::ReadControls() {
  m_job.m_strFilePath = m_options.file;
  m_job.m_nMode.store(m_options.mode);
  m_job.m_nDirection.store(m_options.direction);
}

void CliFrontEnd::SetProgressPos(int percent) {
  // The controller zeroes the bar at every end; the command line keeps the last figure instead.
  if (m_job.m_bTransferActive.load() == 0) return;
  m_barPercent = percent;
  DrawBar(percent);
}

void CliFrontEnd::DrawBar(int percent) {
  if (!m_console.ShowsBar()) return;
  const auto now = std::chrono::steady_clock::now();
  if (percent != 100 && now - m_lastBarDraw < kBarRedrawPeriod) return;
  m_lastBarDraw = now;

  ProgressFigures figures;
  figures.percent = percent;
  figures.bytesDone = m_meter.Done();
  figures.bytesTotal = m_options.direction == DIR_TO_RECEIVER
                           ? static_cast<uint64_t>(std::max(0, m_job.m_nFileSize.load()))
                           : m_meter.ReportedSize();
  if (figures.bytesDone > 0 && !m_rateStarted) {
    m_rateStarted = true;
    m_rateStart = now;
    m_rateStartBytes = figures.bytesDone;
  }
  const double elapsed = std::chrono::duration<double>(now - m_rateStart).count();
  if (m_rateStarted && elapsed > 0.2) {
    figures.bytesPerSecond = static_cast<double>(figures.bytesDone - m_rateStartBytes) / elapsed;
  }
  m_console.Bar(FormatProgressLine(figures));
}

void CliFrontEnd::StartTimer(int id, int periodMs) {
  m_loop.StartTimer(id, std::chrono::milliseconds(periodMs), [this, id] {
    m_controller->OnTimer(id);
  });
}

void CliFrontEnd::StopTimer(int id) { m_loop.StopTimer(id); }

void CliFrontEnd::NotifyStatus(std::unique_ptr<StatusNote> note) {
  // A note the loop never takes (shutting down) is freed with the task.
  auto shared = std::make_shared<std::unique_ptr<StatusNote>>(std::move(note));
  m_loop.PostAndWait([this, shared] { m_controller->OnTransferStatus(std::move(*shared)); });
}

void CliFrontEnd::NotifyProgress(int percent) {
  m_loop.PostAndWait([this, percent] { m_controller->OnTransferProgress(percent); });
}

void CliFrontEnd::NotifyDone(int completed) {
  m_loop.PostAndWait([this, completed] { m_controller->OnTransferDone(completed); });
}

void CliFrontEnd::NotifyWorkerExit(bool completed) {
  m_loop.Post([this, completed] {
    m_controller->OnWorkerExit();
    End(completed ? Outcome::Completed : Outcome::Failed);
  });
}

void CliFrontEnd::End(Outcome outcome) {
  m_loop.StopTimer(kFirstRequestTimer);
  m_loop.StopTimer(kBarTimer);
  // A stop or time-out asked for by us outranks what the worker made of it.
  if (m_outcome == Outcome::Running) m_outcome = outcome;
  m_console.ClearBar();
  m_loop.Quit();
}

}  // namespace kestal::cli
