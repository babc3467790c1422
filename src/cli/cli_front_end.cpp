#include "cli/cli_front_end.h"

#include <algorithm>
#include <cstdio>

#include "transfer/status_texts.h"

namespace kestal::cli {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The loop's timers: the controller's two, and two of the command line's own.
enum class LoopTimer { Watchdog, Status, FirstRequest, ProgressRedraw };

int IdOf(LoopTimer timer) { return static_cast<int>(timer); }

LoopTimer LoopTimerFor(TransferTimer timer) {
  return timer == TransferTimer::Watchdog ? LoopTimer::Watchdog : LoopTimer::Status;
}

// Redraws the bar's rate and time left while a long block is on its way, and gives a plain
// line its chance when 5 s have passed.
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);
constexpr auto kPlainLinePeriod = std::chrono::seconds(5);

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

// The texts of a transfer going as it should; every other status text reports a fault.
bool IsError(const std::string& status) {
  for (const char* normal :
       {text::kWaiting, text::kPacking, text::kDownloading, text::kUploading, text::kComplete}) {
    if (status == normal) return false;
  }
  return true;
}

std::string WithoutDigits(std::string text) {
  std::erase_if(text, [](char c) { return c >= '0' && c <= '9'; });
  return text;
}

}  // namespace

int ExitCodeFor(Outcome outcome) { return outcome == Outcome::Completed ? 0 : 1; }

CliFrontEnd::CliFrontEnd(EventLoop& loop, const TransferOptions& options, const PortInfo& port,
                         ConsoleOutput& console, ConsoleOutput& json)
    : loop_(loop), options_(options), port_(port), console_(console), json_(json) {}

void CliFrontEnd::Start() {
  started_ = SteadyClock::now();
  controller_->StartTransfer({options_.file, options_.mode, options_.direction}, port_.devicePath);
  if (!controller_->View().running) {
    // "Open port failed!" (or another refusal) has been shown; no worker runs.
    End(Outcome::NotStarted);
    return;
  }
  loop_.StartTimer(IdOf(LoopTimer::ProgressRedraw), kRedrawPeriod, [this] {
    if (view_.running) ShowProgress();
  });
}

// From the moment the receiver can ask: a channel list is packed before it is woken.
void CliFrontEnd::StartRequestTimer() {
  if (options_.timeoutSeconds <= 0) return;
  const auto period =
      std::chrono::milliseconds(static_cast<long long>(options_.timeoutSeconds * 1000.0 + 0.5));
  loop_.StartTimer(IdOf(LoopTimer::FirstRequest), period, [this] { OnFirstRequestTimeout(); });
}

void CliFrontEnd::OnFirstRequestTimeout() {
  loop_.StopTimer(IdOf(LoopTimer::FirstRequest));
  if (!controller_->View().awaitingRequest) return;
  outcome_ = Outcome::TimedOut;
  ReportStatus(
      "No request from the receiver within " + SecondsText(options_.timeoutSeconds) + " s.", "");
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

bool CliFrontEnd::ErrorsOnly() const {
  return options_.quiet || options_.progress == ProgressStyle::Json;
}

bool CliFrontEnd::PlainLines() const {
  return !ErrorsOnly() && (options_.progress == ProgressStyle::Plain || !console_.ShowsBar());
}

void CliFrontEnd::Show(const TransferView& view) {
  if (outcome_ == Outcome::PassedOn) return;
  if (view.status == text::kPortDisconnected && outcome_ == Outcome::Running && passOn_ &&
      passOn_()) {
    outcome_ = Outcome::PassedOn;
    return;
  }
  // The controller zeroes the figures at every end; the command line keeps the last ones.
  const TransferView last = view_;
  view_ = view;
  if (view.running && !view.awaitingRequest && !requestedAt_) requestedAt_ = SteadyClock::now();
  if (!view.running) {
    view_.percent = last.percent;
    view_.bytesDone = last.bytesDone;
    view_.bytesTotal = last.bytesTotal;
  }
  if (view.awaitingRequest && !last.awaitingRequest) StartRequestTimer();
  if (view.status != shownStatus_) {
    shownStatus_ = view.status;
    shownDetail_ = view.detail;
    waitWords_.reset();
    // An empty line is the end of a timed text, not a text of its own.
    if (!view.status.empty()) ReportStatus(view.status, view.detail);
  } else {
    ShowDetail(view);
  }
  if (view.running) ShowProgress();
}

void CliFrontEnd::ReportStatus(const std::string& status, const std::string& detail) {
  reportedStatus_ = status;
  // With --port auto the search for the answering port has asked for the reset already.
  const bool shownBefore = status == text::kWaiting && options_.waitingShown;
  if ((!ErrorsOnly() || IsError(status)) && !shownBefore) {
    console_.Line(status);
    if (!detail.empty() && !view_.awaitingRequest) console_.Line(detail);
  }
  if (options_.progress == ProgressStyle::Json) EmitJson("status");
}

void CliFrontEnd::ShowDetail(const TransferView& view) {
  if (view.detail == shownDetail_) return;
  shownDetail_ = view.detail;
  if (view.detail.empty()) return;
  if (view.awaitingRequest) {
    // The first count is the baseline; a line only when the words change from it (a hint).
    const std::string words = WithoutDigits(view.detail);
    const bool isHint = waitWords_ && words != *waitWords_;
    if (!waitWords_) waitWords_ = words;
    if (!isHint) return;
    waitWords_ = words;
  }
  if (!ErrorsOnly()) console_.Line(view.detail);
  if (options_.progress == ProgressStyle::Json) EmitJson("status");
}

ProgressFigures CliFrontEnd::Measure(SteadyClock::time_point now) {
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
  return figures;
}

void CliFrontEnd::ShowProgress() {
  const auto now = SteadyClock::now();
  const ProgressFigures figures = Measure(now);
  if (options_.progress == ProgressStyle::Json &&
      (view_.bytesDone != jsonBytes_ || view_.percent != jsonPercent_)) {
    jsonBytes_ = view_.bytesDone;
    jsonPercent_ = view_.percent;
    EmitJson("progress");
  }
  if (view_.awaitingRequest) {
    // Nothing moves yet; a terminal shows how long the wait has lasted instead of a bar.
    if (console_.ShowsBar() && !ErrorsOnly()) {
      console_.Bar(FitToWidth(view_.detail, console_.Columns()));
    }
    return;
  }
  if (PlainLines()) {
    PrintPlainProgress(figures, now);
  } else if (console_.ShowsBar() && !ErrorsOnly()) {
    DrawBar(figures, now);
  }
}

void CliFrontEnd::DrawBar(const ProgressFigures& figures, SteadyClock::time_point now) {
  if (view_.percent != 100 && now - lastBarDraw_ < kRedrawPeriod) return;
  lastBarDraw_ = now;
  console_.Bar(FitProgressLine(figures, console_.Columns()));
}

void CliFrontEnd::PrintPlainProgress(const ProgressFigures& figures, SteadyClock::time_point now) {
  if (figures.bytesDone == 0 && figures.percent == 0) return;
  const int tenth = std::clamp(figures.percent, 0, 100) / 10;
  if (tenth <= plainTenth_ && now - lastPlainLine_ < kPlainLinePeriod) return;
  if (lastPlainLine_ == SteadyClock::time_point{} && tenth == 0) {
    // The first bytes start the 5 s rhythm rather than a line of their own.
    lastPlainLine_ = now;
    return;
  }
  plainTenth_ = std::max(plainTenth_, tenth);
  lastPlainLine_ = now;
  const std::string text = FormatProgressFigures(figures);
  console_.Line("Progress: " + text.substr(text.find_first_not_of(' ')));
}

void CliFrontEnd::EmitJson(const char* phase, std::optional<int> exitStatus) {
  const auto now = SteadyClock::now();
  const ProgressFigures figures = Measure(now);
  JsonEvent event{phase,
                  reportedStatus_,
                  shownDetail_,
                  view_.percent,
                  view_.bytesDone,
                  view_.bytesTotal,
                  figures.bytesPerSecond,
                  std::chrono::duration<double>(now - started_).count(),
                  exitStatus};
  // A reader that falls behind gets every status and the outcome, and the latest progress.
  if (event.phase == "progress") {
    json_.StateLine(FormatJsonEvent(event));
  } else {
    json_.Line(FormatJsonEvent(event));
  }
}

void CliFrontEnd::StartTimer(TransferTimer timer, std::chrono::milliseconds period) {
  loop_.StartTimer(IdOf(LoopTimerFor(timer)), period,
                   [this, timer] { controller_->OnTimer(timer); });
}

void CliFrontEnd::StopTimer(TransferTimer timer) { loop_.StopTimer(IdOf(LoopTimerFor(timer))); }

void CliFrontEnd::TransferEnded(WorkerOutcome outcome) {
  if (outcome != WorkerOutcome::Completed) {
    End(Outcome::Failed);
    return;
  }
  // The worker's word is what is on disk: a stop that came once the receiver had finished (or
  // the target was replaced) does not undo the transfer, and the exit status must not say so.
  if (outcome_ != Outcome::Running && reportedStatus_ != text::kComplete) {
    ReportStatus(text::kComplete, "The transfer had completed when the stop came.");
  }
  outcome_ = Outcome::Completed;
  End(Outcome::Completed);
}

void CliFrontEnd::End(Outcome outcome) {
  loop_.StopTimer(IdOf(LoopTimer::FirstRequest));
  loop_.StopTimer(IdOf(LoopTimer::ProgressRedraw));
  // A stop or time-out asked for by us outranks a failure the worker made of it.
  if (outcome_ == Outcome::Running) outcome_ = outcome;
  const bool passedOn = outcome_ == Outcome::PassedOn;
  if (options_.progress == ProgressStyle::Json && !passedOn) {
    EmitJson("outcome", ExitCodeFor(outcome_));
  }
  console_.ClearBar();
  if (console_.ShowsBar() && !ErrorsOnly() && requestedAt_ && !passedOn) PrintSummary();
  loop_.Quit();
}

// The last line on a terminal, where the bar has just gone: what moved, how long it took.
void CliFrontEnd::PrintSummary() {
  const double seconds = std::chrono::duration<double>(SteadyClock::now() - *requestedAt_).count();
  const uint64_t bytes = view_.bytesDone;
  std::string line =
      std::to_string(bytes) + " bytes in " + FormatDuration(static_cast<uint64_t>(seconds + 0.5));
  if (bytes > 0 && seconds > 0)
    line += " (" + FormatRate(static_cast<double>(bytes) / seconds) + ")";
  console_.Line(line + ".");
}

}  // namespace kestal::cli
