#pragma once
// What the Windows window reports to the code that decides what it means. Every call comes on
// the window thread, from the window's message handling.
#include <string>
#include <vector>

namespace kestal::win32 {

class WindowEvents {
 public:
  virtual ~WindowEvents() = default;

  // A control's notification by id: BN_CLICKED of a button (Enter presses the default button
  // 1000), CBN_SELCHANGE of a list the user changed (never of a selection the program makes),
  // EN_CHANGE of the path field, and so on.
  virtual void OnControl(int controlId, int notification) = 0;
  // Files dropped on the window: their full paths, in the order the shell gave them.
  virtual void OnFilesDropped(const std::vector<std::string>& paths) = 0;
  // A timer started with DialogWindow::StartTimer has fired.
  virtual void OnTimer(unsigned id) = 0;
  // Devices came, went or changed: the serial ports may be others now. Bursts of notices
  // arrive as one call.
  virtual void OnPortsChanged() = 0;
  // The About box was asked for: from the system menu, or with F1.
  virtual void OnAbout() = 0;
  // A tool entry of the system menu was chosen: IDM_CHECK_PORT or IDM_RECORD.
  virtual void OnMenuEntry(unsigned command) = 0;
  // DialogWindow::Wake was called, on this thread or another, since the last call.
  virtual void OnWake() = 0;
  // The user asked to close the window: its close box, Alt+F4 or the system menu. The window
  // stays until DialogWindow::Close.
  virtual void OnCloseRequest() = 0;
};

}  // namespace kestal::win32
