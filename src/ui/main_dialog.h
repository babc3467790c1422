#pragma once
// MainDialog: the program's only window. The user picks a mode, a direction, a file and a
// serial port and starts or stops a transfer; the window owns the transfer job, the serial
// link, the port list and the transfer controller, and keeps the user's choices in settings.
#include <QDialog>
#include <QFileDialog>
#include <QPointer>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "link/serial_link.h"
#include "ports/port_info.h"
#include "transfer/transfer_controller.h"
#include "transfer/note_shortcut.h"
#include "transfer/transfer_job.h"
#include "ui/notify_bridge.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kestal {

// What the file button asks the user for.
struct FileDialogRequest {
  bool saveAs = false;
  QString filter;         // "Name (*.ext);;All file (*.*)"
  QString defaultSuffix;  // appended to a name typed without one
  QString initialPath;
  QFileDialog::Options options;
};

class MainDialog : public QDialog, public ControllerView {
 public:
  // Fills the port list; throws the message text (std::string) on failure.
  using Discovery = std::function<void(PortList&)>;

  // `commandLinePath` non-empty: command-line mode, the file is sent at once.
  // An empty `discovery` means the machine's ports (EnumeratePorts).
  explicit MainDialog(const std::string& commandLinePath, Discovery discovery = {},
                      QWidget* parent = nullptr);
  ~MainDialog() override;

  // The window's initialisation; runs once, when the window is first shown.
  void InitDialog();
  bool Initialised() const { return m_bInitialised; }

  // The program's exit status once the window has closed.
  int ExitStatus() const { return m_nExitStatus; }

  // ControllerView, on the window thread.
  void RefreshControls() override;
  void ReadControls() override;
  void EnableControl(int id, bool enable) override;
  void SetProgressPos(int percent) override;
  void StartTimer(int id, int periodMs) override;
  void StopTimer(int id) override;
  const PortInfo* SelectedPort() override;

  TransferJob& Job() { return m_job; }
  TransferController& Controller() { return *m_controller; }
  SerialLink& Link() { return m_link; }
  const PortList& Ports() const { return m_portList; }
  const std::string& StoredPort() const { return m_strPort; }

 protected:
  // User interaction that tests replace: a modal box with an OK button, a box that does not
  // block, the file dialog (nullopt when cancelled) and the About box.
  virtual void ShowMessage(const QString& text, const QString& caption);
  virtual void ShowNotice(const QString& text);
  virtual std::optional<QString> AskFileName(const FileDialogRequest& request);
  virtual void RunAboutBox();

  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  QWidget* Control(int id) const;
  bool FillPortList();
  void RestoreSettings();
  void SelectStoredPort();
  void TakeCommandLineFile();
  void StartCommandLineTransfer();

  void OnPortChanged(int index);
  void OnModeChanged();
  void OnDirection();
  void OnFileButton();
  void TakeDroppedFile(const QString& path);
  void OnWorkerExit(bool completed);

  // Changing the path forgets the size measured for the previous file.
  void SetFilePath(const std::string& path);
  void SavePathForMode();
  bool TransferBusy() const;
  int SelectedDirection() const;

  NotifyBridge m_bridge;  // before the job and controller: outlives the worker
  TransferJob m_job;
  NoteShortcut m_notify{m_bridge, m_job};  // the worker's way to the bridge
  PortList m_portList;
  SerialLink m_link;
  std::unique_ptr<TransferController> m_controller;
  Discovery m_discovery;
  std::string m_strPort;
  bool m_bInitialised = false;
  int m_nExitStatus = 0;
  bool m_bExitStatusSet = false;  // a command-line transfer has ended

  QComboBox* m_cbMode = nullptr;
  QComboBox* m_cbPort = nullptr;
  QRadioButton* m_toReceiver = nullptr;
  QRadioButton* m_toComputer = nullptr;
  QButtonGroup* m_directionGroup = nullptr;
  QPushButton* m_fileButton = nullptr;
  QLineEdit* m_pathEdit = nullptr;
  QPushButton* m_startButton = nullptr;
  QPushButton* m_stopButton = nullptr;
  QProgressBar* m_progress = nullptr;
  QLabel* m_statusLine = nullptr;
  QLabel* m_percentLabel = nullptr;
  std::map<int, QWidget*> m_controls;
  std::map<int, QTimer*> m_timers;
  QPointer<QMessageBox> m_noticeBox;  // the reader's notice on screen, if any
};

}  // namespace kestal
