#include "cli/cli_front_end.h"

#include <cstdio>

#include "cli/progress_text.h"

namespace kestal::cli {
namespace {

// The loop's timers: the controller's two, and two of the command line's own.
enum class LoopTimer { Watchdog, Status, FirstRequest, BarRedraw };

int IdOf(LoopTimer timer) { return static_cast<int>(timer); }

LoopTimer LoopTimerFor(TransferTimer timer) {
  return timer == TransferTimer::Watchdog ? LoopTimer::Watchdog : LoopTimer::Status;
}

// Redraws the bar's rate and time left while a long block is on its way.
constexpr auto kBarRedrawPeriod = std::chrono::milliseconds(100);

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

}  // namespace

int ExitCodeFor(Outcome outcome) { return outcome == Outcome::Completed ? 0 : 1; }

CliFrontEnd::CliFrontEnd(EventLoop& loop, const TransferOptions& options, const PortInfo& port,
                         ConsoleOutput& console)
    : loop_(loop), options_(options), port_(port), console_(console) {}

void CliFrontEnd::Start() {
  controller_->StartTransfer({options_.file, options_.mode, options_.direction}, port_.devicePath);
  if (!controller_->View().running) {
    // "Open port failed!" (or another refusal) has been shown; no worker runs.
    End(Outcome::NotStarted);
    return;
  }
  if (console_.ShowsBar()) {
    loop_.StartTimer(IdOf(LoopTimer::BarRedraw), kBarRedrawPeriod, [this] {
      if (view_.running) DrawBar();
    });
  }
  if (options_.timeoutSeconds > 0) {
    const auto period =
        std::chrono::milliseconds(static_cast<long long>(options_.timeoutSeconds * 1000.0 + 0.5));
    loop_.StartTimer(IdOf(LoopTimer::FirstRequest), period, [this] { OnFirstRequestTimeout(); });
  }
}

void CliFrontEnd::OnFirstRequestTimeout() {
  loop_.StopTimer(IdOf(LoopTimer::FirstRequest));
  if (!controller_->View().awaitingRequest) return;
  outcome_ = Outcome::TimedOut;
  console_.Line("No request from the receiver within " + SecondsText(options_.timeoutSeconds) +
                " s.");
  controller_->AbandonTransfer();
}

void CliFrontEnd::OnSignal() {
  if (outcome_ != Outcome::Running) {
    // Asked twice: stop waiting for the worker's closing notifications.
    loop_.Shutdown();
    return;
  }
  outcome_ = Outcome::Stopped;
  controller_->OnStop();
}

void CliFrontEnd::Show(const TransferView& view) {
  view_ = view;
  if (view.status != shownStatus_) {
    shownStatus_ = view.status;
    // An empty line is the end of a timed text, not a text of its own.
    if (!view.status.empty()) console_.Line(view.status);
  }
  // The controller zeroes the bar at every end; the command line keeps the last figure instead.
  if (view.running) DrawBar();
}

void CliFrontEnd::DrawBar() {
  if (!console_.ShowsBar()) return;
  const auto now = std::chrono::steady_clock::now();
  if (view_.percent != 100 && now - lastBarDraw_ < kBarRedrawPeriod) return;
  lastBarDraw_ = now;

  ProgressFigures figures;
  figures.percent = view_.percent;
  figures.bytesDone = view_.bytesDone;
  figures.bytesTotal = view_.bytesTotal;
  if (figures.bytesDone > 0 && !rateStarted_) {
    rateStarted_ = true;
    rateStart_ = now;
    rateStartBytes_ = figures.bytesDone;
  }
  const double elapsed = std::chrono::duration<double>(now - rateStart_).count();
  if (rateStarted_ && elapsed > 0.2 && figures.bytesDone >= rateStartBytes_) {
    figures.bytesPerSecond = static_cast<double>(figures.bytesDone - rateStartBytes_) / elapsed;
  }
  console_.Bar(FormatProgressLine(figures));
}

void CliFrontEnd::StartTimer(TransferTimer timer, std::chrono::milliseconds period) {
  loop_.StartTimer(IdOf(LoopTimerFor(timer)), period,
                   [this, timer] { controller_->OnTimer(timer); });
}

void CliFrontEnd::StopTimer(TransferTimer timer) { loop_.StopTimer(IdOf(LoopTimerFor(timer))); }

void CliFrontEnd::TransferEnded(WorkerOutcome outcome) {
  End(outcome == WorkerOutcome::Completed ? Outcome::Completed : Outcome::Failed);
}

void CliFrontEnd::End(Outcome outcome) {
  loop_.StopTimer(IdOf(LoopTimer::FirstRequest));
  loop_.StopTimer(IdOf(LoopTimer::BarRedraw));
  // A stop or time-out asked for by us outranks what the worker made of it.
  if (outcome_ == Outcome::Running) outcome_ = outcome;
  console_.ClearBar();
  loop_.Quit();
}

}  // namespace kestal::cli
