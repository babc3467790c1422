#pragma once
// MainDialog: the program's only window on Windows. It runs the dialog of template 102
// (DialogWindow), forwards what the user does to the window's logic (window::MainWindow) and
// shows what that logic tells it. It owns the serial link and the registry settings the logic
// works with.
#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/serial_link.h"
#include "window/core/main_window.h"
#include "window/win32/dialog_window.h"

namespace kestal::win32 {

class MainDialog : public window::WindowToolkit, private WindowEvents {
 public:
  // `commandLinePath` non-empty: command-line mode (window::MainWindow).
  MainDialog(HINSTANCE instance, const std::string& commandLinePath);
  ~MainDialog() override;
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Shows the window as `show` says (wWinMain's nCmdShow) and runs it until it closes; the
  // program's exit status.
  int Run(int show);

  // window::WindowToolkit
  void SetEntries(window::Control list, const std::vector<std::string>& entries) override;
  void SelectEntry(window::Control list, int entry) override;
  void Check(window::Control radio) override;
  void Enable(window::Control control, bool enabled) override;
  void SetText(window::Control control, const std::string& text) override;
  void SetProgress(int percent) override;
  void SetChecked(window::Control entry, bool checked) override;
  void ShowBox(const std::string& text, const std::string& caption) override;
  void ShowNotice(const std::string& text) override;
  bool AskYesNo(const std::string& question, const std::string& caption) override;
  std::optional<std::string> AskFileName(const window::FileRequest& request) override;
  void ShowAbout() override;
  void ShowReport(const std::string& title, const std::string& text) override;
  void StartTimer(window::WindowTimer timer, std::chrono::milliseconds period) override;
  void StopTimer(window::WindowTimer timer) override;
  void Post(std::function<void()> call) override;
  void Close(int exitStatus) override;
  void PrintLine(const std::string& text) override;

 private:
  // WindowEvents
  void OnControl(int controlId, int notification) override;
  void OnFilesDropped(const std::vector<std::string>& paths) override;
  void OnTimer(unsigned id) override;
  void OnPortsChanged() override;
  void OnAbout() override;
  void OnMenuEntry(unsigned command) override;
  void OnWake() override;
  void OnCloseRequest() override;

  void OnClick(int controlId);
  // The oldest call posted, or none.
  std::function<void()> TakePosted();
  // Calls on the window once it is gone change nothing.
  bool Shown() const { return window_.Handle() != nullptr; }

  const HINSTANCE instance_;
  std::unique_ptr<window::SettingsStore> settings_;
  SerialLink link_;
  DialogWindow window_;
  bool settingPath_ = false;  // the path field changes because the logic said so: no edit
  std::mutex postedMutex_;
  std::deque<std::function<void()>> posted_;
  bool windowGone_ = false;  // guarded by postedMutex_: calls posted from now on are dropped

  // Last: built over the window, the link and the settings, and gone before them.
  std::unique_ptr<window::MainWindow> logic_;
};

}  // namespace kestal::win32
