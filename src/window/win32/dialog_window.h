#pragma once
// The Windows window: the main dialog from its template, its message loop, and the Win32
// plumbing the window's logic uses (controls, timers, wake-ups from other threads, drops,
// device notices, DPI changes, the system menu's entries and the About box). What the window does
// is decided by its WindowEvents (MainDialog); without them it only shows itself and closes on
// request.
#include <windows.h>

#include <atomic>

#include "window/win32/app_resources.h"
#include "window/win32/dialog_controls.h"
#include "window/win32/window_events.h"

namespace kestal::win32 {

class DialogWindow {
 public:
  explicit DialogWindow(HINSTANCE instance);
  ~DialogWindow();
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  // nullptr: the window closes on request and reports nothing.
  void SetEvents(WindowEvents* events) { events_ = events; }
  // Creates the dialog and shows it as `show` says (wWinMain's nCmdShow); false when Windows
  // refused.
  bool Create(int show);
  // Runs the message loop until the window is gone; the status given to Close.
  int Run();
  // Destroys the window; Run then returns `exitStatus`.
  void Close(int exitStatus);

  HWND Handle() const { return window_.load(); }
  DialogControls& Controls() { return controls_; }

  // Window timers by id, 1 to 99; StartTimer again changes the period.
  void StartTimer(unsigned id, unsigned milliseconds);
  void StopTimer(unsigned id);
  // Any thread, never blocking: WindowEvents::OnWake runs soon on the window thread. Wake-ups
  // before that one runs are folded into it.
  void Wake();

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  void OnCommand(int id, int notification, HWND control);
  void OnTimerMessage(UINT_PTR id);
  bool OnSystemCommand(UINT command);
  void OnAboutRequest();

  const HINSTANCE instance_;
  WindowEvents* events_ = nullptr;
  std::atomic<HWND> window_{nullptr};
  DialogControls controls_;
  AppIcons icons_;
  std::atomic<bool> wakePending_{false};
  int exitStatus_ = 0;
};

}  // namespace kestal::win32
