// MainWindow: construction, closing, and what is shown of the controller's view.
#include "window/core/main_window.h"

#include <cstdio>

#include "common/printable.h"
#include "link/serial_link.h"
#include "window/core/progress_text.h"

namespace kestal::window {
namespace {

// The packer's "." per block goes to standard output, the window program's only console output.
void PrintPackTrace(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

WindowTimer WindowTimerFor(TransferTimer timer) {
  return timer == TransferTimer::Watchdog ? WindowTimer::Watchdog : WindowTimer::Status;
}

}  // namespace

MainWindow::MainWindow(WindowToolkit& toolkit, Link& link, SettingsStore& store,
                       Discovery discovery, std::string commandLinePath)
    : toolkit_(toolkit),
      link_(link),
      settings_(store),
      discovery_(discovery ? std::move(discovery) : Discovery([] { return EnumeratePorts(); })),
      commandLinePath_(std::move(commandLinePath)),
      commandLine_(!commandLinePath_.empty()),
      calls_([this] { toolkit_.Post([this] { calls_.RunPending(); }); }) {
  controller_ =
      std::make_unique<TransferController>(link_, static_cast<TransferFrontEnd&>(*this), calls_);
  controller_->SetPackTrace(PrintPackTrace);
}

MainWindow::~MainWindow() {
  // The worker's notifications must return without the window before its thread is joined.
  OnClose();
  controller_.reset();
  link_.CloseLink();
}

// The reader thread must not block: its notices are shown later, without waiting.
void MainWindow::WireSerialLink(SerialLink& link) {
  link.SetNoticeHandler([this](const std::string& text) {
    calls_.Post([this, text] { ShowNotice(Printable(text)); });
  });
  namePort_ = [&link](const std::string& name) { link.SetFriendlyName(name); };
}

int MainWindow::OnClose() {
  if (closed_) return exitStatus_;
  closed_ = true;
  controller_->OnClose();
  // From here on the worker's notifications return at once; its thread is joined when the
  // window is destroyed.
  calls_.Abort();
  if (commandLine_ && !exitStatusSet_) exitStatus_ = 1;
  return exitStatus_;
}

// Closed after the handler that decided it has returned.
void MainWindow::EndCommandLine(int exitStatus) {
  exitStatus_ = exitStatus;
  exitStatusSet_ = true;
  toolkit_.Post([this] { toolkit_.Close(OnClose()); });
}

void MainWindow::OnTimer(WindowTimer timer) {
  controller_->OnTimer(timer == WindowTimer::Watchdog ? TransferTimer::Watchdog
                                                      : TransferTimer::Status);
}

void MainWindow::StartTimer(TransferTimer timer, std::chrono::milliseconds period) {
  toolkit_.StartTimer(WindowTimerFor(timer), period);
}

void MainWindow::StopTimer(TransferTimer timer) { toolkit_.StopTimer(WindowTimerFor(timer)); }

void MainWindow::Show(const TransferView& view) {
  view_ = view;
  SetText(Control::StatusLine, Printable(view.status));
  SetText(Control::DetailLine, Printable(view.detail));
  SetText(Control::PercentLabel, view.percentText);
  toolkit_.SetProgress(view.percent);
  ShowProgressText(view);
  ShowFilePath();
  UpdateEnabled();
  if (commandLine_) PrintStatus(view);
}

// In command-line mode the program ends once the file has been sent: status 0 when the
// transfer completed, 1 after every other end.
void MainWindow::TransferEnded(WorkerOutcome outcome) {
  if (outcome == WorkerOutcome::Completed && view_.bytesDone > 0) {
    const double seconds = static_cast<double>(endMs_ - startMs_) / 1000.0;
    movedText_ = MovedText(view_.bytesDone, startedDirection_ == DIR_TO_RECEIVER, seconds);
    SetText(Control::ProgressText, movedText_);
  }
  UpdateEnabled();  // the start button comes back once the worker has gone
  if (commandLine_ && !exitStatusSet_ && startedDirection_ == DIR_TO_RECEIVER)
    EndCommandLine(outcome == WorkerOutcome::Completed ? 0 : 1);
}

// The rate is measured from the moment the transfer started running.
void MainWindow::ShowProgressText(const TransferView& view) {
  const uint64_t nowMs = link_.GetClock().NowMs();
  if (view.running && !clockRunning_) {
    clockRunning_ = true;
    startMs_ = nowMs;
    movedText_.clear();
    SetText(Control::ProgressText, "");
  } else if (!view.running && clockRunning_) {
    clockRunning_ = false;
    endMs_ = nowMs;
  }
  if (!view.running && !movedText_.empty()) return;
  if (view.bytesTotal == 0) return;
  const double seconds = view.running ? static_cast<double>(nowMs - startMs_) / 1000.0 : 0.0;
  SetText(Control::ProgressText, ProgressText(view.bytesDone, view.bytesTotal, seconds));
}

// Run from a terminal or a script, the status lines are the only thing anyone sees.
void MainWindow::PrintStatus(const TransferView& view) {
  if (view.status.empty()) return;
  std::string text = Printable(view.status);
  if (!view.detail.empty()) text.append("\n").append(Printable(view.detail));
  if (text == printedStatus_) return;
  printedStatus_ = text;
  toolkit_.PrintLine(text);
}

void MainWindow::Tell(const std::string& text, const std::string& caption) {
  if (Unattended())
    toolkit_.PrintLine(text);
  else
    toolkit_.ShowBox(text, caption);
}

void MainWindow::ShowNotice(const std::string& text) {
  if (Unattended())
    toolkit_.PrintLine(text);
  else
    toolkit_.ShowNotice(text);
}

void MainWindow::SetText(Control control, const std::string& text) {
  auto [shown, added] = texts_.try_emplace(control, text);
  if (!added && shown->second == text) return;
  shown->second = text;
  toolkit_.SetText(control, text);
}

void MainWindow::Enable(Control control, bool enabled) {
  auto [shown, added] = enabled_.try_emplace(control, enabled);
  if (!added && shown->second == enabled) return;
  shown->second = enabled;
  toolkit_.Enable(control, enabled);
}

// Software is only ever sent: "To Computer" stays off in that mode. The start button waits
// until a port has been listed and no transfer runs.
void MainWindow::UpdateEnabled() {
  const bool inputs = view_.inputsEnabled;
  for (Control input : {Control::FileButton, Control::PathField, Control::PortList,
                        Control::ModeList, Control::ToReceiver})
    Enable(input, inputs);
  Enable(Control::ToComputer, inputs && mode_ != MODE_SOFTWARE);
  Enable(Control::StartButton, portsReady_ && !controller_->Busy());
}

void MainWindow::ShowFilePath() { SetText(Control::PathField, Printable(filePath_)); }

bool MainWindow::AcceptsDrops() const { return portsReady_ && !controller_->Busy(); }

}  // namespace kestal::window
