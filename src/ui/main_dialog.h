#pragma once
// MainDialog: the program's only window. The user picks a mode, a direction, a file and a
// serial port and starts or stops a transfer. The window owns the serial link, the port list,
// the call queue its worker's notifications come through and the transfer controller, shows
// what the controller pushes, and keeps the user's choices in the settings.
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/serial_link.h"
#include "ports/port_discovery.h"
#include "transfer/call_queue.h"
#include "transfer/transfer_controller.h"
#include "ui/settings.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kestal::ui {

// What the file button asks the user for.
struct FileDialogRequest {
  bool saveAs = false;
  QString filter;         // "Name (*.ext);;All file (*.*)"
  QString defaultSuffix;  // appended to a name typed without one
  QString initialPath;
  QFileDialog::Options options;
};

class MainDialog : public QDialog, public TransferFrontEnd {
 public:
  // Finds the ports the list offers; an error text is shown and its ports are not offered.
  using Discovery = std::function<DiscoveryResult()>;

  // `commandLinePath` non-empty: command-line mode, the file is sent at once and the window
  // closes by itself once the transfer has ended or could not start.
  // An empty `discovery` means the machine's ports (EnumeratePorts).
  explicit MainDialog(const std::string& commandLinePath, Discovery discovery = {},
                      QWidget* parent = nullptr);
  ~MainDialog() override;

  // The window's initialisation; runs once, when the window is first shown.
  void InitDialog();
  bool Initialised() const { return initialised_; }
  // The program's exit status once the window has closed.
  int ExitStatus() const { return exitStatus_; }

  // TransferFrontEnd, on the window thread.
  void Show(const TransferView& view) override;
  void StartTimer(TransferTimer timer, std::chrono::milliseconds period) override;
  void StopTimer(TransferTimer timer) override;
  void TransferEnded(WorkerOutcome outcome) override;

  TransferController& Controller() { return *controller_; }

 protected:
  // User interaction that tests replace: a modal box with an OK button, a box that does not
  // block, the file dialog (nullopt when cancelled), the About box and a line on stderr.
  virtual void ShowMessage(const QString& text, const QString& caption);
  virtual void ShowNotice(const QString& text);
  virtual std::optional<QString> AskFileName(const FileDialogRequest& request);
  virtual void RunAboutBox();
  virtual void PrintLine(const QString& text);

  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateControls();
  void ConnectControls();
  void FinishInit();
  bool FillPortList();
  void RefreshPorts();
  void ListPorts(PortList ports);
  void RestoreSettings();
  void SelectStoredPort();
  void TakeCommandLineFile();
  void StartCommandLineTransfer();
  bool CommandLineMode() const { return !commandLinePath_.empty(); }
  // A box in the window; in command-line mode a line on stderr, as nobody may be there to click.
  void Tell(const QString& text, const QString& caption);
  void EndCommandLine(int exitStatus);
  void PrintStatus(const TransferView& view);
  void ShowProgressText(const TransferView& view);

  void OnPortChanged(int index);
  void OnModeChanged();
  void OnDirection();
  void OnFileButton();
  void OnStart();
  void TakeDroppedFile(const QString& path);

  void EnableInputs(bool enable);
  void SetDirection(int direction);
  int SelectedMode() const;
  int SelectedDirection() const;
  void TakeFilePath();
  void SetFilePath(const std::string& path);
  void ShowFilePath();
  void SavePathForMode();
  const PortInfo* SelectedPort() const;
  QTimer* TimerFor(TransferTimer timer) const;

  const std::string commandLinePath_;
  const Discovery discovery_;
  Settings settings_;
  PortList ports_;
  // The path the window works with: the field's text as taken at a start or a mode, direction
  // or file choice. Like the other controls, the field shows it again whenever the window
  // refreshes, so text typed and not yet taken gives way to it.
  std::string filePath_;
  std::string storedPort_;   // the port setting: a prefix of the friendly name to select
  bool portsReady_ = false;  // a port has been listed and the rest of the start-up done
  SerialLink link_;
  CallQueue calls_;  // before the controller: its worker's notifications come through it
  std::unique_ptr<TransferController> controller_;
  int startedDirection_ = -1;  // of the transfer whose worker runs or last ran
  bool initialised_ = false;
  int exitStatus_ = 0;
  bool exitStatusSet_ = false;   // a command-line transfer has ended
  std::string printedStatus_;    // what went to stderr last, so each status is printed once
  QElapsedTimer transferClock_;  // since the running transfer started, for its rate

  QComboBox* modeList_ = nullptr;
  QComboBox* portList_ = nullptr;
  QRadioButton* toReceiver_ = nullptr;
  QRadioButton* toComputer_ = nullptr;
  QButtonGroup* directionGroup_ = nullptr;
  QPushButton* fileButton_ = nullptr;
  QLineEdit* pathEdit_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* statusLine_ = nullptr;
  QLabel* percentLabel_ = nullptr;
  QLabel* progressText_ = nullptr;
  QLabel* detailLine_ = nullptr;
  QTimer* watchdogTimer_ = nullptr;
  QTimer* statusTimer_ = nullptr;
  QTimer* portTimer_ = nullptr;
  QPointer<QMessageBox> noticeBox_;  // the reader's notice on screen, if any
};

}  // namespace kestal::ui
