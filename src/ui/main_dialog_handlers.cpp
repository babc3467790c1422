// MainDialog: what the user's actions do (port, mode, direction, file, drops, keys, closing).
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include "transfer/control_ids.h"
#include "ui/file_probe.h"
#include "ui/main_dialog.h"
#include "ui/settings_key.h"
#include "ui/settings_names.h"

namespace kestal {
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

void MainDialog::OnPortChanged(int index) {
  m_strPort = m_cbPort->itemText(index).toStdString();
  SettingsKey key;
  if (!key.Open(SettingsRoot::CurrentUser, SETTINGS_PATH)) return;
  key.SetString(VALUE_PORT, m_strPort);
  key.Close();
  RefreshControls();
}

// A mode change always applies the mode's rules (Software sends only; direction back to
// "To Reciever"); the settings key, when it opens, stores the mode and supplies its last file.
void MainDialog::OnModeChanged() {
  ReadControls();
  const int mode = m_job.m_nMode;
  SettingsKey key;
  const bool opened = key.Open(SettingsRoot::CurrentUser, SETTINGS_PATH);
  std::string path;
  if (opened) {
    key.SetDword(VALUE_MODE, static_cast<uint32_t>(mode));
    if (const char* value = PathValueForMode(mode)) key.GetString(value, path);
  }
  SetFilePath(path);
  EnableControl(IDC_TO_COMPUTER, mode != MODE_SOFTWARE);
  m_job.m_nDirection = DIR_TO_RECEIVER;
  RefreshControls();
  OnDirection();
  key.Close();
}

void MainDialog::OnDirection() {
  ReadControls();
  m_startButton->setText(m_job.m_nDirection == DIR_TO_RECEIVER ? QStringLiteral("Download")
                                                               : QStringLiteral("Upload"));
}

void MainDialog::OnFileButton() {
  ReadControls();
  m_job.m_nFileSize = 0;
  const int mode = m_job.m_nMode;
  if (mode != MODE_SOFTWARE && mode != MODE_CHANNELS) return;

  FileDialogRequest request;
  request.initialPath = QString::fromStdString(m_job.m_strFilePath);
  if (mode == MODE_SOFTWARE) {
    request.filter = kIrdFilter;
    request.defaultSuffix = QStringLiteral("IRD");
  } else {
    request.filter = kFduFilter;
    request.defaultSuffix = QStringLiteral("fdu");
    // The upload worker replaces the chosen file, so an existing one is taken without asking.
    request.saveAs = m_job.m_nDirection == DIR_TO_COMPUTER;
    if (request.saveAs) request.options = QFileDialog::DontConfirmOverwrite;
  }
  if (const std::optional<QString> chosen = AskFileName(request)) {
    SetFilePath(chosen->toStdString());
    if (mode == MODE_SOFTWARE) m_job.m_nFileSize = FileSizeOf(*chosen);
  }
  SavePathForMode();
  RefreshControls();
}

// Path and size never change under a running worker: drops are refused during a transfer.
void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (!TransferBusy() && !FirstDroppedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void MainDialog::dragMoveEvent(QDragMoveEvent* event) {
  if (!TransferBusy()) event->acceptProposedAction();
  else event->ignore();
}

void MainDialog::dropEvent(QDropEvent* event) {
  const QString path = FirstDroppedFile(event->mimeData());
  if (TransferBusy() || path.isEmpty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  TakeDroppedFile(path);
}

void MainDialog::TakeDroppedFile(const QString& path) {
  m_job.m_strFilePath = path.toStdString();
  if (!FileReadable(path)) ShowMessage(QStringLiteral("Error111"), QString());
  m_job.m_nFileSize = FileSizeOf(path);
  RefreshControls();
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
  m_controller->OnClose();
  // From here on the worker's notifications return at once; its thread is joined when the
  // window is destroyed.
  m_bridge.Abort();
  if (m_job.m_bCommandLine && !m_bExitStatusSet) m_nExitStatus = 1;
  QDialog::closeEvent(event);
}

// In command-line mode the program ends once the file has been sent: status 0 when the
// transfer completed, 1 after every other end.
void MainDialog::OnWorkerExit(bool completed) {
  m_controller->OnWorkerExit();
  if (!m_job.m_bCommandLine || m_job.m_nDirection != DIR_TO_RECEIVER) return;
  m_nExitStatus = completed ? 0 : 1;
  m_bExitStatusSet = true;
  close();
}

}  // namespace kestal
