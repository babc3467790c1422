// MainWindow: the start-up, including a command-line send, and the port list that follows the
// hardware.
#include "common/printable.h"
#include "transfer/status_texts.h"
#include "window/core/file_names.h"
#include "window/core/main_window.h"
#include "window/core/port_list.h"

namespace kestal::window {
namespace {

constexpr const char* kNoPort = "Not available Serial Port";
constexpr const char* kErrorCaption = "Error";

}  // namespace

// Without a port the rest waits until one appears (FinishInit, from OnPortsChanged); a
// command-line run cannot wait for that and ends.
void MainWindow::OnInit() {
  if (initialised_) return;
  initialised_ = true;
  toolkit_.SetEntries(Control::ModeList, {"Software", "Channels"});
  filePath_ = commandLinePath_;
  Show(controller_->View());
  if (!FillPortList()) {
    Tell(kNoPort, kErrorCaption);
    if (commandLine_) EndCommandLine(1);
    return;
  }
  FinishInit();
}

void MainWindow::FinishInit() {
  portsReady_ = true;
  RestoreSettings();
  SelectPort(StoredPortEntry());
  if (commandLine_) TakeCommandLineFile();
  controller_->ShowStatus(kUntilReplaced, text::kIdle);
  UpdateEnabled();
  if (commandLine_) StartCommandLineTransfer();
  SetText(Control::Caption, "Kestal");
}

// The first discovery; a failure is shown and the window goes on without ports.
bool MainWindow::FillPortList() {
  DiscoveryResult found = discovery_();
  if (!found.error.empty()) {
    Tell(Printable(found.error), kErrorCaption);
    found.ports.clear();
  }
  ListPorts(OrderForList(std::move(found.ports)));
  return !ports_.empty();
}

// Filling the list selects nothing; the caller selects.
void MainWindow::ListPorts(PortList ports) {
  ports_ = std::move(ports);
  portEntry_ = -1;
  std::vector<std::string> entries;
  for (const PortInfo& port : ports_) entries.push_back(EntryText(port));
  toolkit_.SetEntries(Control::PortList, entries);
}

void MainWindow::SelectPort(int entry) {
  portEntry_ = entry;
  toolkit_.SelectEntry(Control::PortList, entry);
}

// A send nobody watches never goes to a port that was guessed.
int MainWindow::StoredPortEntry() const {
  if (storedPort_.empty() && commandLine_) return -1;
  return FindStoredPort(ports_, storedPort_);
}

// Repeated scans stay quiet: a discovery error only keeps the list as it is. The selection
// follows its device; when that is gone the stored port is looked for again.
void MainWindow::OnPortsChanged() {
  if (!initialised_ || closed_) return;
  DiscoveryResult found = discovery_();
  if (!found.error.empty()) return;
  PortList ports = OrderForList(std::move(found.ports));
  if (SamePorts(ports, ports_)) return;
  const std::string device =
      portEntry_ >= 0 ? ports_[static_cast<size_t>(portEntry_)].devicePath : std::string();
  ListPorts(std::move(ports));
  int entry = StoredPortEntry();
  for (size_t index = 0; index < ports_.size() && !device.empty(); ++index) {
    if (ports_[index].devicePath == device) entry = static_cast<int>(index);
  }
  SelectPort(entry);
  if (!portsReady_ && !ports_.empty()) FinishInit();
}

// A first start makes the (empty) store; later ones bring back the port, the mode and, unless
// a file came with the command line, the mode's last file.
void MainWindow::RestoreSettings() {
  int mode = MODE_SOFTWARE;
  if (const std::string problem = settings_.Problem(); !problem.empty()) {
    toolkit_.PrintLine(Printable(problem));
  } else if (settings_.OpenOrCreate()) {
    storedPort_ = settings_.Port();
    mode = settings_.Mode();
    if (!commandLine_) filePath_ = settings_.FileFor(mode);
  }
  mode_ = mode;
  toolkit_.SelectEntry(Control::ModeList, mode);
  SetDirection(DIR_TO_RECEIVER);
  ShowFilePath();
}

// The file is kept under the mode the settings gave, before the file's own mode is chosen.
// A file that cannot be read keeps its name as given; the transfer reports it.
void MainWindow::TakeCommandLineFile() {
  if (!FileReadable(commandLinePath_)) return;
  filePath_ = AbsolutePath(commandLinePath_);
  ShowFilePath();
  settings_.SetFileFor(mode_, filePath_);
}

// The mode comes from the file name and is not stored.
void MainWindow::StartCommandLineTransfer() {
  mode_ = ModeForCommandLine(filePath_);
  toolkit_.SelectEntry(Control::ModeList, mode_);
  UpdateEnabled();
  if (portEntry_ < 0) {
    AwaitUsersStart();
    return;
  }
  OnStart();
  // Not started: the status says why (port not opened, file not readable or too large).
  if (!controller_->Busy()) EndCommandLine(1);
}

// No port to send through: the window opens as usual, the file filled in, and the send starts
// with the user's start button (the program still ends when that transfer has).
void MainWindow::AwaitUsersStart() {
  awaitingUser_ = true;
  const std::string why = storedPort_.empty()
                              ? "No port is remembered"
                              : "The port used last (" + storedPort_ + ") is not here";
  controller_->ShowStatus(kUntilReplaced, text::kIdle,
                          why + ": choose the receiver's port, then press Download.");
}

}  // namespace kestal::window
