// MainDialog: the window's initialisation, including the start of a command-line transfer, and
// the port list that follows the hardware.
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>

#include "transfer/status_texts.h"
#include "ui/app_icon.h"
#include "ui/file_probe.h"
#include "ui/main_dialog.h"

namespace kestal::ui {
namespace {

constexpr const char* kNoPort = "Not available Serial Port";
constexpr const char* kErrorCaption = "Error";
// Adapters come and go while the window is open; a sysfs scan this often costs next to nothing.
constexpr std::chrono::milliseconds kPortScanPeriod{1500};

bool SamePorts(const PortList& a, const PortList& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.devicePath == y.devicePath && x.friendlyName == y.friendlyName;
  });
}

}  // namespace

void MainDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!initialised_) InitDialog();
}

// Without a port the rest waits until one appears (FinishInit, from RefreshPorts); a
// command-line run cannot wait for that and ends.
void MainDialog::InitDialog() {
  if (initialised_) return;
  initialised_ = true;
  filePath_ = commandLinePath_;
  Show(controller_->View());
  portTimer_->start(kPortScanPeriod);
  if (!FillPortList()) {
    Tell(QString::fromLatin1(kNoPort), QString::fromLatin1(kErrorCaption));
    startButton_->setEnabled(false);
    if (CommandLineMode()) EndCommandLine(1);
    return;
  }
  FinishInit();
}

void MainDialog::FinishInit() {
  portsReady_ = true;
  startButton_->setEnabled(true);
  RestoreSettings();
  SelectStoredPort();
  setWindowIcon(MakeAppIcon());
  setAcceptDrops(true);
  if (!commandLinePath_.empty()) TakeCommandLineFile();
  controller_->ShowStatus(kUntilReplaced, text::kIdle);
  if (!commandLinePath_.empty()) StartCommandLineTransfer();
  setWindowTitle(QStringLiteral("Kestal"));
}

// The first discovery; a failure is shown and the window goes on without ports.
bool MainDialog::FillPortList() {
  DiscoveryResult found = discovery_();
  if (!found.error.empty()) {
    Tell(QString::fromStdString(found.error), QString::fromLatin1(kErrorCaption));
    found.ports.clear();
  }
  ListPorts(std::move(found.ports));
  portList_->setCurrentIndex(-1);
  return !ports_.empty();
}

// Entries keep discovery order; each shows its friendly name and device and carries its
// record's index. Filling the list runs no handler.
void MainDialog::ListPorts(PortList ports) {
  ports_ = std::move(ports);
  const QSignalBlocker blocker(portList_);
  portList_->clear();
  for (size_t entry = 0; entry < ports_.size(); ++entry) {
    const PortInfo& port = ports_[entry];
    portList_->addItem(QString::fromStdString(port.friendlyName + " \u2014 " + port.devicePath),
                       static_cast<int>(entry));
  }
}

// Repeated scans stay quiet: a discovery error only keeps the list as it is. The selection
// follows its device; when that is gone the stored port is looked for again.
void MainDialog::RefreshPorts() {
  DiscoveryResult found = discovery_();
  if (!found.error.empty() || SamePorts(found.ports, ports_)) return;
  const PortInfo* selected = SelectedPort();
  const std::string device = selected ? selected->devicePath : std::string();
  ListPorts(std::move(found.ports));
  const auto kept = std::find_if(ports_.begin(), ports_.end(),
                                 [&](const PortInfo& port) { return port.devicePath == device; });
  if (!device.empty() && kept != ports_.end())
    portList_->setCurrentIndex(static_cast<int>(kept - ports_.begin()));
  else
    SelectStoredPort();
  if (!portsReady_ && !ports_.empty()) FinishInit();
}

// A first start makes the (empty) settings file; later ones bring back the port, the mode and,
// unless a file came with the command line, the mode's last file. Only Channels is ever
// stored besides Software; any other number means Software.
void MainDialog::RestoreSettings() {
  int mode = MODE_SOFTWARE;
  if (const std::string problem = settings_.Problem(); !problem.empty()) {
    PrintLine(QString::fromStdString(problem));
  } else if (!settings_.Exists()) {
    settings_.Create();
  } else {
    storedPort_ = settings_.Port();
    if (settings_.Mode() == MODE_CHANNELS) mode = MODE_CHANNELS;
    if (commandLinePath_.empty()) {
      const std::string path = settings_.FileFor(mode);
      if (!path.empty()) SetFilePath(path);
    }
  }
  modeList_->setCurrentIndex(mode);
  SetDirection(DIR_TO_RECEIVER);
  toComputer_->setEnabled(mode != MODE_SOFTWARE);
}

// Entry 1 is tried first and entry 0 last, so a stored name that is the start of both
// entries 0 and 1 selects entry 1.
void MainDialog::SelectStoredPort() {
  const int count = portList_->count();
  if (storedPort_.empty()) {
    portList_->setCurrentIndex(count > 0 ? 0 : -1);
    return;
  }
  const QString stored = QString::fromStdString(storedPort_);
  for (int step = 0; step < count; ++step) {
    const int entry = (step + 1) % count;
    const QString name = QString::fromStdString(ports_[static_cast<size_t>(entry)].friendlyName);
    if (name.startsWith(stored, Qt::CaseInsensitive)) {
      portList_->setCurrentIndex(entry);
      return;
    }
  }
  portList_->setCurrentIndex(-1);
}

// The file is kept under the mode the settings gave, before the file's own mode is chosen.
void MainDialog::TakeCommandLineFile() {
  const QString path = QString::fromStdString(commandLinePath_);
  if (!FileReadable(path)) return;  // the worker reports the file when the transfer starts
  SetFilePath(QFileInfo(path).absoluteFilePath().toStdString());
  SavePathForMode();
}

// The mode comes from the file name: exactly "fdu" or "FDU" at its end means Channels.
void MainDialog::StartCommandLineTransfer() {
  const std::string& path = filePath_;
  const std::string tail = path.size() > 3 ? path.substr(path.size() - 3) : path;
  modeList_->setCurrentIndex(tail == "fdu" || tail == "FDU" ? MODE_CHANNELS : MODE_SOFTWARE);
  OnStart();
  // Not started: the status says why (no port, port not opened, file too large).
  if (!controller_->Busy()) EndCommandLine(1);
}

}  // namespace kestal::ui
