// MainDialog: what the user's actions do (port, mode, direction, file, start, drops, keys,
// closing).
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>

#include "ui/file_probe.h"
#include "ui/main_dialog.h"

namespace kestal::ui {
namespace {

const QString kIrdFilter = QStringLiteral("IRD File (*.ird);;All file (*.*)");
const QString kFduFilter = QStringLiteral("Flash Data Unit (*.fdu);;All file (*.*)");

// The first local file of a drop; empty when there is none.
QString FirstDroppedFile(const QMimeData* data) {
  if (!data || !data->hasUrls() || data->urls().isEmpty()) return {};
  const QUrl first = data->urls().constFirst();
  return first.isLocalFile() ? first.toLocalFile() : QString();
}

}  // namespace

int MainDialog::SelectedMode() const { return modeList_->currentIndex(); }

int MainDialog::SelectedDirection() const {
  if (toReceiver_->isChecked()) return DIR_TO_RECEIVER;
  if (toComputer_->isChecked()) return DIR_TO_COMPUTER;
  return -1;
}

void MainDialog::SetDirection(int direction) {
  if (QAbstractButton* button = directionGroup_->button(direction)) button->setChecked(true);
}

// The worker reads the path while it runs: it is not replaced under it.
void MainDialog::TakeFilePath() {
  if (!controller_->Busy()) filePath_ = pathEdit_->text().toStdString();
}

void MainDialog::SetFilePath(const std::string& path) {
  filePath_ = path;
  ShowFilePath();
}

void MainDialog::ShowFilePath() {
  const QString path = QString::fromStdString(filePath_);
  if (pathEdit_->text() != path) pathEdit_->setText(path);
}

void MainDialog::SavePathForMode() { settings_.SetFileFor(SelectedMode(), filePath_); }

const PortInfo* MainDialog::SelectedPort() const {
  const int entry = portList_->currentIndex();
  if (entry < 0) return nullptr;
  bool ok = false;
  const int record = portList_->itemData(entry).toInt(&ok);
  if (!ok || record < 0 || record >= static_cast<int>(ports_.size())) return nullptr;
  return &ports_[static_cast<size_t>(record)];
}

// The setting keeps the friendly name; a path typed into the field is taken, not replaced.
void MainDialog::OnPortChanged(int) {
  const PortInfo* port = SelectedPort();
  if (!port) return;
  storedPort_ = port->friendlyName;
  TakeFilePath();
  settings_.SetPort(storedPort_);
}

// A mode change always applies the mode's rules (Software sends only; direction back to
// "To Receiver") and brings back the mode's last file; the file stores the mode.
void MainDialog::OnModeChanged() {
  const int mode = SelectedMode();
  settings_.SetMode(mode);
  SetFilePath(settings_.FileFor(mode));
  toComputer_->setEnabled(mode != MODE_SOFTWARE);
  SetDirection(DIR_TO_RECEIVER);
  OnDirection();
}

void MainDialog::OnDirection() {
  TakeFilePath();
  startButton_->setText(SelectedDirection() == DIR_TO_RECEIVER ? QStringLiteral("Download")
                                                               : QStringLiteral("Upload"));
}

void MainDialog::OnFileButton() {
  TakeFilePath();
  const int mode = SelectedMode();
  if (mode != MODE_SOFTWARE && mode != MODE_CHANNELS) return;

  FileDialogRequest request;
  request.initialPath = QString::fromStdString(filePath_);
  if (mode == MODE_SOFTWARE) {
    request.filter = kIrdFilter;
    request.defaultSuffix = QStringLiteral("IRD");
  } else {
    request.filter = kFduFilter;
    request.defaultSuffix = QStringLiteral("fdu");
    // The upload worker replaces the chosen file, so an existing one is taken without asking.
    request.saveAs = SelectedDirection() == DIR_TO_COMPUTER;
    if (request.saveAs) request.options = QFileDialog::DontConfirmOverwrite;
  }
  if (const std::optional<QString> chosen = AskFileName(request)) filePath_ = chosen->toStdString();
  SavePathForMode();
  ShowFilePath();
}

// A second start while a transfer runs (or its worker winds down) does nothing.
void MainDialog::OnStart() {
  if (controller_->Busy()) return;
  TakeFilePath();
  const TransferRequest request{filePath_, SelectedMode(), SelectedDirection()};
  const PortInfo* port = SelectedPort();
  if (port) link_.SetFriendlyName(port->friendlyName);
  startedDirection_ = request.direction;
  controller_->StartTransfer(request, port ? port->devicePath : std::string());
}

// The worker reads the file while it runs: drops are refused during a transfer.
void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (!controller_->Busy() && !FirstDroppedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void MainDialog::dragMoveEvent(QDragMoveEvent* event) {
  if (!controller_->Busy())
    event->acceptProposedAction();
  else
    event->ignore();
}

void MainDialog::dropEvent(QDropEvent* event) {
  const QString path = FirstDroppedFile(event->mimeData());
  if (controller_->Busy() || path.isEmpty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  TakeDroppedFile(path);
}

void MainDialog::TakeDroppedFile(const QString& path) {
  filePath_ = path.toStdString();
  if (!FileReadable(path)) Tell(QStringLiteral("Error111"), QString());
  ShowFilePath();
  SavePathForMode();
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {  // the window ends only through its close request
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_F1) {
    event->accept();
    RunAboutBox();
    return;
  }
  QDialog::keyPressEvent(event);
}

void MainDialog::closeEvent(QCloseEvent* event) {
  controller_->OnClose();
  // From here on the worker's notifications return at once; its thread is joined when the
  // window is destroyed.
  calls_.Abort();
  if (!commandLinePath_.empty() && !exitStatusSet_) exitStatus_ = 1;
  QDialog::closeEvent(event);
}

}  // namespace kestal::ui
