#pragma once
// MainWindow: what the program's only window does, whatever toolkit draws it. The user picks a
// mode, a direction, a file and a serial port and starts or stops a transfer; the window keeps
// those choices in the settings, sends a file named on the command line at once, and shows
// what the transfer controller pushes. The toolkit (window_toolkit.h) draws the controls,
// forwards the events below and does what it is told. Everything here runs on the window
// thread; only the worker's notifications and the link's notices come from others, through the
// call queue.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ports/port_discovery.h"
#include "transfer/call_queue.h"
#include "transfer/transfer_controller.h"
#include "window/core/window_settings.h"
#include "window/core/window_toolkit.h"

namespace kestal {
class SerialLink;
}

namespace kestal::window {

class MainWindow : private TransferFrontEnd {
 public:
  // Finds the ports the list offers; an error text is shown and its ports are not offered.
  using Discovery = std::function<DiscoveryResult()>;

  // `commandLinePath` non-empty: command-line mode. The file is sent at once through the port
  // used last, and the program ends when that transfer has (status 0 only when it completed);
  // with no port to use, the window waits for the user's start instead. Everything given
  // outlives the window.
  MainWindow(WindowToolkit& toolkit, Link& link, SettingsStore& store, Discovery discovery,
             std::string commandLinePath);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // `link` (the one given above) reports its reader's notices to the window, and names the
  // port it opens in them.
  void WireSerialLink(SerialLink& link);

  // The toolkit's events.
  void OnInit();  // once, before the window is first shown
  void OnModeChosen(int mode);
  void OnDirectionChosen(int direction);
  void OnPortChosen(int entry);
  void OnFileButton();
  void OnPathEdited(const std::string& text);
  void OnStart();
  void OnStop();
  void OnDrop(const std::vector<std::string>& paths);  // local files, in the order given
  void OnTimer(WindowTimer timer);
  void OnPortsChanged();  // a device came or went, or the list is about to open: re-scan
  void OnAbout();
  // The window closes: ends everything and returns the program's exit status. Safe to repeat.
  int OnClose();

  // A drop would be taken now: the window is set up and no transfer runs.
  bool AcceptsDrops() const;
  TransferController& Controller() { return *controller_; }

 private:
  // TransferFrontEnd
  void Show(const TransferView& view) override;
  void StartTimer(TransferTimer timer, std::chrono::milliseconds period) override;
  void StopTimer(TransferTimer timer) override;
  void TransferEnded(WorkerOutcome outcome) override;

  // Start-up (main_window_init.cpp).
  void FinishInit();
  bool FillPortList();
  void ListPorts(PortList ports);
  void SelectPort(int entry);
  int StoredPortEntry() const;
  void RestoreSettings();
  void TakeCommandLineFile();
  void StartCommandLineTransfer();
  void AwaitUsersStart();

  // What the user does (main_window_handlers.cpp).
  // The user acted; true when a transfer runs, so that the inputs change nothing.
  bool InputsLocked();
  void ConfirmModeForFile();
  void SetDirection(int direction);
  void WarnAboutExtension();
  FileRequest FileRequestForMode() const;

  // What is shown (main_window.cpp).
  void SetText(Control control, const std::string& text);
  void Enable(Control control, bool enabled);
  void UpdateEnabled();
  void ShowFilePath();
  void ShowProgressText(const TransferView& view);
  void PrintStatus(const TransferView& view);
  // A box; in command-line mode a line on stderr, as nobody may be there to click.
  void Tell(const std::string& text, const std::string& caption);
  void ShowNotice(const std::string& text);
  void EndCommandLine(int exitStatus);
  bool Unattended() const { return commandLine_ && !awaitingUser_; }

  WindowToolkit& toolkit_;
  Link& link_;
  WindowSettings settings_;
  const Discovery discovery_;
  const std::string commandLinePath_;
  const bool commandLine_;
  bool awaitingUser_ = false;  // command-line mode without a port: the user starts the send
  bool initialised_ = false;
  bool portsReady_ = false;  // a port has been listed and the rest of the start-up done
  bool closed_ = false;
  int exitStatus_ = 0;
  bool exitStatusSet_ = false;                        // the command-line transfer has ended
  std::function<void(const std::string&)> namePort_;  // tells the link the port it opens

  PortList ports_;  // in list order: entry i shows ports_[i]
  int portEntry_ = -1;
  std::string storedPort_;  // the port setting: a prefix of the friendly name to select
  int mode_ = -1;
  int direction_ = -1;
  std::string filePath_;  // what the path field holds, unescaped

  // The texts and states last given to the toolkit, so that only changes are passed on.
  std::map<Control, std::string> texts_;
  std::map<Control, bool> enabled_;
  TransferView view_;
  std::string printedStatus_;  // what went to stderr last, so each status is printed once
  int startedDirection_ = -1;  // of the transfer whose worker runs or last ran
  bool clockRunning_ = false;
  uint64_t startMs_ = 0;   // the link's clock when the running transfer started
  uint64_t endMs_ = 0;     // ... and when it stopped running
  std::string movedText_;  // what the last transfer moved, when it completed

  CallQueue calls_;  // before the controller: its worker's notifications come through it
  std::unique_ptr<TransferController> controller_;
};

}  // namespace kestal::window
