// MainDialog: the window's initialisation, including the start of a command-line transfer.
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "transfer/status_texts.h"
#include "ui/app_icon.h"
#include "ui/file_probe.h"
#include "ui/main_dialog.h"

namespace kestal::ui {
namespace {

constexpr const char* kNoPort = "Not available Serial Port";
constexpr const char* kErrorCaption = "Error";

}  // namespace

void MainDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!initialised_) InitDialog();
}

void MainDialog::InitDialog() {
  if (initialised_) return;
  initialised_ = true;
  filePath_ = commandLinePath_;
  Show(controller_->View());
  if (!FillPortList()) {
    ShowMessage(QString::fromLatin1(kNoPort), QString::fromLatin1(kErrorCaption));
    startButton_->setEnabled(false);
    return;
  }
  RestoreSettings();
  SelectStoredPort();
  setWindowIcon(MakeAppIcon());
  setAcceptDrops(true);
  if (!commandLinePath_.empty()) TakeCommandLineFile();
  controller_->ShowStatus(kUntilReplaced, text::kIdle);
  if (!commandLinePath_.empty()) StartCommandLineTransfer();
  setWindowTitle(QStringLiteral("Kestal"));
}

// Discovery runs once; a failure is shown and the window goes on without ports.
bool MainDialog::FillPortList() {
  DiscoveryResult found = discovery_();
  if (!found.error.empty()) {
    ShowMessage(QString::fromStdString(found.error), QString::fromLatin1(kErrorCaption));
    found.ports.clear();
  }
  ports_ = std::move(found.ports);
  // Entries keep discovery order; each carries its record's index.
  for (size_t entry = 0; entry < ports_.size(); ++entry) {
    cbPort_->insertItem(static_cast<int>(entry), QString::fromStdString(ports_[entry].friendlyName),
                        static_cast<int>(entry));
  }
  cbPort_->setCurrentIndex(-1);
  return !ports_.empty();
}

// A first start makes the (empty) settings file; later ones bring back the port, the mode and,
// unless a file came with the command line, the mode's last file. Only Channels is ever
// stored besides Software; any other number means Software.
void MainDialog::RestoreSettings() {
  int mode = MODE_SOFTWARE;
  if (!settings_.Exists()) {
    settings_.Create();
  } else {
    storedPort_ = settings_.Port();
    if (settings_.Mode() == MODE_CHANNELS) mode = MODE_CHANNELS;
    if (commandLinePath_.empty()) {
      const std::string path = settings_.FileFor(mode);
      if (!path.empty()) SetFilePath(path);
    }
  }
  cbMode_->setCurrentIndex(mode);
  SetDirection(DIR_TO_RECEIVER);
  toComputer_->setEnabled(mode != MODE_SOFTWARE);
}

// Entry 1 is tried first and entry 0 last, so a stored name that is the start of both
// entries 0 and 1 selects entry 1.
void MainDialog::SelectStoredPort() {
  const int count = cbPort_->count();
  if (storedPort_.empty()) {
    cbPort_->setCurrentIndex(count > 0 ? 0 : -1);
    return;
  }
  const QString stored = QString::fromStdString(storedPort_);
  for (int step = 0; step < count; ++step) {
    const int entry = (step + 1) % count;
    if (cbPort_->itemText(entry).startsWith(stored, Qt::CaseInsensitive)) {
      cbPort_->setCurrentIndex(entry);
      return;
    }
  }
  cbPort_->setCurrentIndex(-1);
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
  cbMode_->setCurrentIndex(tail == "fdu" || tail == "FDU" ? MODE_CHANNELS : MODE_SOFTWARE);
  OnStart();
}

}  // namespace kestal::ui
