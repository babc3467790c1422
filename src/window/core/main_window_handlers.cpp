// MainWindow: what the user's actions do (mode, direction, port, file, path, start, stop,
// drops). Every action first lets a failure on the status line give way. The inputs are
// disabled while a transfer runs; their handlers also refuse then, as the worker reads the
// request it was given.
#include "common/printable.h"
#include "transfer/input_check.h"
#include "transfer/status_texts.h"
#include "window/core/file_names.h"
#include "window/core/main_window.h"

namespace kestal::window {
namespace {

const std::vector<FileFilter> kIrdFilters = {{"IRD File (*.ird)", "*.ird"},
                                             {"All file (*.*)", "*.*"}};
const std::vector<FileFilter> kFduFilters = {{"Flash Data Unit (*.fdu)", "*.fdu"},
                                             {"All file (*.*)", "*.*"}};

bool IsMode(int mode) { return mode == MODE_SOFTWARE || mode == MODE_CHANNELS; }

}  // namespace

bool MainWindow::InputsLocked() {
  controller_->UserActed();
  return controller_->Busy();
}

// A mode change applies the mode's rules (Software sends only; direction back to "To
// Receiver") and brings back the mode's last file; the store keeps the mode.
void MainWindow::OnModeChosen(int mode) {
  if (InputsLocked() || !IsMode(mode)) return;
  mode_ = mode;
  settings_.SetMode(mode);
  filePath_ = settings_.FileFor(mode);
  ShowFilePath();
  SetDirection(DIR_TO_RECEIVER);
  UpdateEnabled();
}

void MainWindow::OnDirectionChosen(int direction) {
  if (InputsLocked()) return;
  SetDirection(direction == DIR_TO_COMPUTER && mode_ != MODE_SOFTWARE ? DIR_TO_COMPUTER
                                                                      : DIR_TO_RECEIVER);
}

void MainWindow::SetDirection(int direction) {
  direction_ = direction;
  toolkit_.Check(direction == DIR_TO_RECEIVER ? Control::ToReceiver : Control::ToComputer);
  SetText(Control::StartButton, direction == DIR_TO_RECEIVER ? "Download" : "Upload");
}

// The store keeps the friendly name.
void MainWindow::OnPortChosen(int entry) {
  if (InputsLocked() || entry < 0 || entry >= static_cast<int>(ports_.size())) return;
  portEntry_ = entry;
  storedPort_ = ports_[static_cast<size_t>(entry)].friendlyName;
  settings_.SetPort(storedPort_);
}

// The path is stored whether the dialog was confirmed or cancelled.
void MainWindow::OnFileButton() {
  if (InputsLocked() || !IsMode(mode_)) return;
  if (const std::optional<std::string> chosen = toolkit_.AskFileName(FileRequestForMode())) {
    filePath_ = *chosen;
    WarnAboutExtension();
  }
  settings_.SetFileFor(mode_, filePath_);
  ShowFilePath();
}

// The receive replaces the chosen file, so an existing one is taken without asking.
FileRequest MainWindow::FileRequestForMode() const {
  FileRequest request;
  request.initialPath = filePath_;
  if (mode_ == MODE_SOFTWARE) {
    request.filters = kIrdFilters;
    request.defaultExtension = "IRD";
  } else {
    request.filters = kFduFilters;
    request.defaultExtension = "fdu";
    request.saveAs = direction_ == DIR_TO_COMPUTER;
  }
  return request;
}

// The field shows the path escaped; as long as it shows just that, the path stays as it was
// (and the echo of what the window set is no edit).
void MainWindow::OnPathEdited(const std::string& text) {
  if (texts_[Control::PathField] == text || InputsLocked()) return;
  texts_[Control::PathField] = text;
  if (text != Printable(filePath_)) filePath_ = text;
}

// A second start while a transfer runs (or its worker winds down) does nothing.
void MainWindow::OnStart() {
  if (InputsLocked() || !portsReady_) return;
  ConfirmModeForFile();
  const PortInfo* port = portEntry_ >= 0 ? &ports_[static_cast<size_t>(portEntry_)] : nullptr;
  if (port && namePort_) namePort_(port->friendlyName);
  startedDirection_ = direction_;
  controller_->StartTransfer({filePath_, mode_, direction_}, port ? port->devicePath : "");
}

// An .ird sent as a channel list, or an .fdu as software, gives the receiver data it cannot
// use: the user is asked, and the default is the file's own mode.
void MainWindow::ConfirmModeForFile() {
  const int fileMode = ModeOfExtension(filePath_);
  if (Unattended() || direction_ != DIR_TO_RECEIVER || fileMode < 0 || fileMode == mode_) return;
  const std::string name = Printable(filePath_);
  const std::string question = fileMode == MODE_SOFTWARE
                                   ? name +
                                         " is a software image (.ird), not a channel list.\n\n"
                                         "Switch to Software mode and send it as software?"
                                   : name +
                                         " is a channel list (.fdu), not a software image.\n\n"
                                         "Switch to Channels mode and send it as a channel list?";
  if (!toolkit_.AskYesNo(question, "")) return;
  mode_ = fileMode;
  toolkit_.SelectEntry(Control::ModeList, mode_);
  settings_.SetMode(mode_);
  settings_.SetFileFor(mode_, filePath_);
  UpdateEnabled();
}

void MainWindow::OnStop() {
  controller_->UserActed();
  controller_->OnStop();
}

// The first file of a drop is taken, readable or not (a box says so), and stored.
void MainWindow::OnDrop(const std::vector<std::string>& paths) {
  if (!AcceptsDrops() || paths.empty()) return;
  controller_->UserActed();
  filePath_ = paths.front();
  if (!FileReadable(filePath_)) Tell("Error111", "");
  ShowFilePath();
  settings_.SetFileFor(mode_, filePath_);
  WarnAboutExtension();
}

// The same note as at the start of a transfer, as soon as the file is chosen.
void MainWindow::WarnAboutExtension() {
  const std::string warning = ExtensionWarning({filePath_, mode_, direction_});
  if (!warning.empty()) controller_->ShowStatus(kUntilUserAction, text::kIdle, warning);
}

void MainWindow::OnAbout() { toolkit_.ShowAbout(); }

}  // namespace kestal::window
