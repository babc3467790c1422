// MainWindow: the tool entries. Check Port runs the doctor's checks on the selected port and
// shows its report; Record Next Transfer records the next transfer's session into a file.
#include "common/printable.h"
#include "transfer/status_texts.h"
#include "window/core/main_window.h"

namespace kestal::window {
namespace {

constexpr const char* kChecking = "Checking the port...";
constexpr const char* kReportTitle = "Check Port";

const std::vector<FileFilter> kRecordingFilters = {{"Kestal recording (*.rec)", "*.rec"},
                                                   {"All file (*.*)", "*.*"}};

const char* OutcomeName(WorkerOutcome outcome, bool timedOut) {
  if (outcome == WorkerOutcome::Completed) return "completed";
  if (timedOut) return "timed out";
  return outcome == WorkerOutcome::Failed ? "failed" : "stopped";
}

}  // namespace

// The port checked is the one a transfer would use; with none listed, the machine is checked
// (and the report says no port was found). The listening writes the wake-up burst to that port
// only, and never while a transfer runs.
void MainWindow::OnCheckPort() {
  if (InputsLocked() || portCheck_.Running()) return;
  PortList ports;
  if (portEntry_ >= 0) {
    ports.push_back(ports_[static_cast<size_t>(portEntry_)]);
  } else if (!ports_.empty()) {
    controller_->ShowStatus(kUntilUserAction, "No port selected.",
                            "Choose the receiver's port in the list.");
    return;
  }
  portCheck_.Start(ports, [this](const std::string& report) { CheckDone(report); });
  const std::string listening =
      ports.empty() ? std::string()
                    : "Reset the receiver now: the check listens on " +
                          Printable(ports.front().friendlyName) + " for up to " +
                          std::to_string(static_cast<int>(kCheckListenSeconds)) + " s.";
  controller_->ShowStatus(kUntilReplaced, kChecking, listening);
  UpdateEnabled();
}

// The report's dialog waits for its OK: it is shown from the toolkit's own loop, not from within
// the call queue's run, whose later calls must not wait behind it.
void MainWindow::CheckDone(const std::string& report) {
  if (view_.status == kChecking) controller_->ShowStatus(kUntilReplaced, text::kIdle);
  UpdateEnabled();
  toolkit_.Post([this, report] { toolkit_.ShowReport(kReportTitle, report); });
}

// Armed, a click disarms; else the user names the file. The toolkit may have toggled the check
// mark itself: it is set right after every click.
void MainWindow::OnRecordEntry() {
  if (!InputsLocked()) {
    if (!recording_.Armed().empty()) {
      recording_.Disarm();
      ShowNote("");
    } else if (const auto chosen = toolkit_.AskFileName(RecordingFileRequest())) {
      recording_.Arm(*chosen);
      lastRecording_ = *chosen;
      ShowNote("The next transfer will be recorded to " + Printable(*chosen) + ".");
    }
  }
  toolkit_.SetChecked(Control::RecordEntry, !recording_.Armed().empty());
}

FileRequest MainWindow::RecordingFileRequest() const {
  FileRequest request;
  request.saveAs = true;
  request.confirmOverwrite = true;
  request.filters = kRecordingFilters;
  request.defaultExtension = "rec";
  request.initialPath = lastRecording_.empty() ? "session.rec" : lastRecording_;
  return request;
}

// The recording starts before the port opens, so that it holds the wake-up burst. A start the
// controller refuses (no file, no port) is no transfer: its recording goes and the option stays.
void MainWindow::StartRecordedTransfer(const TransferRequest& request, const PortInfo* port) {
  const std::string note =
      recording_.Begin({.program = std::string("kestal ") + KESTAL_VERSION,
                        .command = request.direction == DIR_TO_RECEIVER ? "send" : "receive",
                        .mode = request.mode == MODE_CHANNELS ? "channels" : "software",
                        .file = request.path,
                        .port = port ? port->devicePath : "",
                        .portName = port ? port->friendlyName : "",
                        .settings = std::to_string(kLinkBaud) + " 8N1",
                        .startedUtc = {}});  // stamped by the recorder
  controller_->StartTransfer(request, port ? port->devicePath : "");
  if (!controller_->Busy()) {
    recording_.Cancel();
  } else if (!note.empty()) {
    ShowNote(note);
  }
}

// The link is closed and the worker gone: nothing feeds the recording any more.
void MainWindow::EndRecording(WorkerOutcome outcome) {
  if (!recording_.Began()) return;
  const bool timedOut = controller_->State().watchdogTripped.load();
  recording_.End(OutcomeName(outcome, timedOut), outcome == WorkerOutcome::Completed ? 0 : 1,
                 [this](const std::string& note) { ShowNote(note); });
  toolkit_.SetChecked(Control::RecordEntry, false);
}

}  // namespace kestal::window
