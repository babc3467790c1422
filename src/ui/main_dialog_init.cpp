// MainDialog: the window's initialisation, including the start of a command-line transfer.
#include <QComboBox>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <exception>

#include "transfer/control_ids.h"
#include "ui/app_icon.h"
#include "ui/file_probe.h"
#include "ui/main_dialog.h"
#include "ui/settings_key.h"
#include "ui/settings_names.h"

namespace kestal {
namespace {

constexpr const char* kNoPort = "Not available Serial Port";
constexpr const char* kErrorCaption = "Error";

}  // namespace

void MainDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_bInitialised) InitDialog();
}

void MainDialog::InitDialog() {
  if (m_bInitialised) return;
  m_bInitialised = true;
  RefreshControls();
  if (!FillPortList()) {
    ShowMessage(QString::fromLatin1(kNoPort), QString::fromLatin1(kErrorCaption));
    EnableControl(IDC_START, false);
    return;
  }
  RestoreSettings();
  if (m_job.m_nMode == MODE_SOFTWARE) EnableControl(IDC_TO_COMPUTER, false);
  SelectStoredPort();
  setWindowIcon(MakeAppIcon());
  setAcceptDrops(true);
  if (m_job.m_bCommandLine) TakeCommandLineFile();
  m_progress->setRange(0, 100);
  m_controller->m_bControlsEnabled = 1;
  m_controller->ShowStatus(-1, text::kIdle);
  m_job.m_bTransferActive = 0;
  m_job.m_bRunning = 0;
  m_job.m_nWatchdog = 0;
  if (m_job.m_bCommandLine) StartCommandLineTransfer();
  setWindowTitle(QStringLiteral("Kestal"));
}

// Discovery runs once; a failure is shown and the window goes on without ports.
bool MainDialog::FillPortList() {
  try {
    m_discovery(m_portList);
  } catch (const std::string& failure) {
    m_portList.clear();
    ShowMessage(QString::fromStdString(failure), QString::fromLatin1(kErrorCaption));
  } catch (const std::exception& failure) {
    m_portList.clear();
    ShowMessage(QString::fromStdString(failure.what()), QString::fromLatin1(kErrorCaption));
  }
  // Entries keep discovery order; each carries its record's index.
  for (size_t entry = 0; entry < m_portList.size(); ++entry) {
    m_cbPort->insertItem(static_cast<int>(entry),
                         QString::fromStdString(m_portList[entry].m_strFriendlyName),
                         static_cast<int>(entry));
  }
  m_cbPort->setCurrentIndex(-1);
  return !m_portList.empty();
}

void MainDialog::RestoreSettings() {
  SettingsKey key;
  if (!key.Open(SettingsRoot::CurrentUser, SETTINGS_PATH)) {
    key.Create(SettingsRoot::CurrentUser, SETTINGS_PATH);
    key.Close();
    m_job.m_nMode = MODE_SOFTWARE;
    m_job.m_nDirection = DIR_TO_RECEIVER;
    return;
  }
  key.GetString(VALUE_PORT, m_strPort);
  uint32_t mode = MODE_SOFTWARE;
  key.GetDword(VALUE_MODE, mode);
  // Only 0 and 1 are ever written; anything else someone else stored means Software.
  m_job.m_nMode = mode == MODE_CHANNELS ? MODE_CHANNELS : MODE_SOFTWARE;
  if (m_job.m_nDirection == -1) m_job.m_nDirection = DIR_TO_RECEIVER;
  if (!m_job.m_bCommandLine) {
    std::string path;
    if (key.GetString(PathValueForMode(m_job.m_nMode), path)) SetFilePath(path);
  }
  key.Close();
}

// Entry 1 is tried first and entry 0 last, so a stored name that is the start of both
// entries 0 and 1 selects entry 1.
void MainDialog::SelectStoredPort() {
  const int count = m_cbPort->count();
  if (m_strPort.empty()) {
    m_cbPort->setCurrentIndex(count > 0 ? 0 : -1);
    return;
  }
  const QString stored = QString::fromStdString(m_strPort);
  for (int step = 0; step < count; ++step) {
    const int entry = (step + 1) % count;
    if (m_cbPort->itemText(entry).startsWith(stored, Qt::CaseInsensitive)) {
      m_cbPort->setCurrentIndex(entry);
      return;
    }
  }
  m_cbPort->setCurrentIndex(-1);
}

void MainDialog::TakeCommandLineFile() {
  const QString path = QString::fromStdString(m_job.m_strFilePath);
  if (!FileReadable(path)) return;  // the worker reports the file when the transfer starts
  m_job.m_strFilePath = QFileInfo(path).absoluteFilePath().toStdString();
  m_job.m_nFileSize = FileSizeOf(path);
  RefreshControls();
  SavePathForMode();
}

// The mode comes from the file name: exactly "fdu" or "FDU" at its end means Channels.
void MainDialog::StartCommandLineTransfer() {
  const std::string& path = m_job.m_strFilePath;
  const std::string tail = path.size() > 3 ? path.substr(path.size() - 3) : path;
  m_cbMode->setCurrentIndex(tail == "fdu" || tail == "FDU" ? MODE_CHANNELS : MODE_SOFTWARE);
  m_controller->StartTransfer();
}

void MainDialog::SavePathForMode() {
  const char* value = PathValueForMode(m_job.m_nMode);
  if (!value) return;
  SettingsKey key;
  if (!key.Open(SettingsRoot::CurrentUser, SETTINGS_PATH)) return;
  key.SetString(value, m_job.m_strFilePath);
  key.Close();
}

}  // namespace kestal
