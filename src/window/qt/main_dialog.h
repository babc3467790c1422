#pragma once
// MainDialog: the program's only window, drawn with Qt. It lays out the controls, forwards what
// the user does to the window's logic (MainWindow) and shows what that logic tells it. It owns
// the serial link and the settings file the logic works with.
#include <QDialog>
#include <QPointer>
#include <QRect>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/serial_link.h"
#include "window/core/main_window.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kestal::window::qt {

class MainDialog : public QDialog, public WindowToolkit {
 public:
  // `commandLinePath` non-empty: command-line mode (MainWindow). An empty `discovery` means
  // the machine's ports (EnumeratePorts).
  explicit MainDialog(const std::string& commandLinePath, MainWindow::Discovery discovery = {},
                      QWidget* parent = nullptr);
  ~MainDialog() override;

  // The window's initialisation; runs once, when the window is first shown.
  void InitDialog();
  // The program's exit status once the window has closed.
  int ExitStatus() const { return exitStatus_; }
  MainWindow& Logic() { return *logic_; }

  // WindowToolkit: boxes and dialogs are virtual here, so that tests can answer them.
  void SetEntries(Control list, const std::vector<std::string>& entries) override;
  void SelectEntry(Control list, int entry) override;
  void Check(Control radio) override;
  void Enable(Control control, bool enabled) override;
  void SetText(Control control, const std::string& text) override;
  void SetProgress(int percent) override;
  void ShowBox(const std::string& text, const std::string& caption) override;
  void ShowNotice(const std::string& text) override;
  bool AskYesNo(const std::string& question, const std::string& caption) override;
  std::optional<std::string> AskFileName(const FileRequest& request) override;
  void ShowAbout() override;
  void StartTimer(WindowTimer timer, std::chrono::milliseconds period) override;
  void StopTimer(WindowTimer timer) override;
  void Post(std::function<void()> call) override;
  void Close(int exitStatus) override;
  void PrintLine(const std::string& text) override;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Drops on the path field go where drops on the window go.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // How a control follows the window when it is widened.
  enum class Stretch { None, Widen, Move };

  void CreateControls();
  void ConnectControls();
  void SetTabOrder();
  template <typename Widget>
  Widget* Place(Widget* widget, const QRect& area, const char* name, Stretch stretch);
  void FitPortList();
  QWidget* WidgetOf(Control control) const;
  QTimer* TimerFor(WindowTimer timer) const;
  void AnswerDrag(QDropEvent* event);

  SerialLink link_;
  std::unique_ptr<SettingsStore> settings_;
  int exitStatus_ = 0;
  bool initialised_ = false;
  int templateWidth_ = 0;  // the window's width as laid out; wider windows stretch from it
  std::vector<std::pair<QWidget*, std::pair<QRect, Stretch>>> layout_;

  QComboBox* modeList_ = nullptr;
  QComboBox* portList_ = nullptr;
  QRadioButton* toReceiver_ = nullptr;
  QRadioButton* toComputer_ = nullptr;
  QButtonGroup* directionGroup_ = nullptr;
  QPushButton* fileButton_ = nullptr;
  QLineEdit* pathEdit_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QPushButton* aboutButton_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* statusLine_ = nullptr;
  QLabel* percentLabel_ = nullptr;
  QLabel* progressText_ = nullptr;
  QLabel* detailLine_ = nullptr;
  QTimer* watchdogTimer_ = nullptr;
  QTimer* statusTimer_ = nullptr;
  QTimer* portTimer_ = nullptr;
  QPointer<QMessageBox> noticeBox_;  // the reader's notice on screen, if any

  // Last: built over the controls, the link and the settings, and gone before them.
  std::unique_ptr<MainWindow> logic_;
};

}  // namespace kestal::window::qt
